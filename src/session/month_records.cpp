#include "session/month_records.h"

#include "platform/clock.h"
#include "platform/settings_store.h"
#include "session/dates.h"
#include "session/numbers.h"
#include "session/store_names.h"

namespace kelvor::session {

void Update_stat_with_time(platform::SettingsStore& store, const platform::Clock& clock,
                           qint32 time_session) {
    const QString month = Get_mois_et_an(clock);
    const QString today = date_text(clock.now().date());
    // Strict comparisons: a tie keeps the older record and its date. A negative shortest can
    // only come from a clock set back under an older release, which measured on the wall
    // clock; it is no record, so the next session replaces it.
    constexpr double no_shortest = 9999999;
    double shortest = read_number(store, names::stat, names::shortest, no_shortest);
    if (shortest < 0)
        shortest = no_shortest;
    if (shortest > time_session) {
        store.write(names::stat, names::shortest, whole_number_text(time_session));
        store.write(names::stat, names::shortest_date, today);
    }
    if (read_number(store, names::stat, names::longest, 0) < time_session) {
        store.write(names::stat, names::longest, whole_number_text(time_session));
        store.write(names::stat, names::longest_date, today);
    }
    if (read_number(store, names::month_longest, month, 0) < time_session)
        store.write(names::month_longest, month, whole_number_text(time_session));
}

void Add_session_to_month(platform::SettingsStore& store, const platform::Clock& clock,
                          qint32 seconds) {
    const QString month = Get_mois_et_an(clock);
    add_to_number(store, names::month_nb_time, month, seconds);
    add_to_number(store, names::month_nb_session, month, 1);
}

void Add_crash_to_month(platform::SettingsStore& store, const platform::Clock& clock) {
    add_to_number(store, names::month_nb_crash, Get_mois_et_an(clock), 1);
}

} // namespace kelvor::session
