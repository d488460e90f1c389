#include "session/session_tracker.h"

#include "platform/clock.h"
#include "platform/settings_store.h"
#include "session/dates.h"
#include "session/month_records.h"
#include "session/numbers.h"
#include "session/store_names.h"

namespace kelvor::session {

SessionTracker::SessionTracker(platform::SettingsStore& store, const platform::Clock& clock)
    : store_(store), clock_(clock) {}

WindowPlace SessionTracker::start() {
    WindowPlace place;
    store_.transaction([&] {
        last_session_suffix.clear();
        minutes_elapsed_current_session = 0;
        place.top = read_single(store_, names::init, names::top, 0);
        place.left = read_single(store_, names::init, names::left, 4000);
        add_to_number(store_, names::stat, names::nb_session, 1);

        if (store_.read(names::stat, names::debuted, names::no) == names::yes) {
            // The previous session never reached its end: book it with its last saved seconds.
            add_to_number(store_, names::stat, names::nb_session_crashed, 1);
            const qint32 lost = read_int32(store_, names::stat, names::recupered_time, 30);
            Update_stat_with_time(store_, clock_, lost);
            add_to_number(store_, names::stat, names::nb_time_total, lost);
            Add_session_to_month(store_, clock_, lost);
            Add_crash_to_month(store_, clock_);
            last_session_suffix = QStringLiteral(" (crashed)");
        }
        last_session_duration = read_int32(store_, names::stat, names::recupered_time, 30);
        store_.write(names::stat, names::debuted, names::yes);
        store_.write(names::stat, names::recupered_time, names::initial_recupered_time);
        time_deb = clock_.now();

        if (store_.read(names::stat, names::first_time_run, names::never_run) == names::never_run) {
            store_.write(names::stat, names::first_time_run, date_text(time_deb.date()));
            store_.write(names::stat, names::creator_name, names::creator_signature);
        }
    });
    return place;
}

qint32 SessionTracker::session_seconds() const {
    return elapsed_seconds(time_deb, clock_.now());
}

void SessionTracker::tick() {
    ++minutes_elapsed_current_session;
    checkpoint();
}

qint32 save_running_seconds(platform::SettingsStore& store, const platform::Clock& clock,
                            const QDateTime& time_deb) {
    const qint32 seconds = elapsed_seconds(time_deb, clock.now());
    store.write(names::stat, names::recupered_time, whole_number_text(seconds));
    return seconds;
}

qint32 SessionTracker::checkpoint() {
    if (ended_)
        return session_seconds();
    return save_running_seconds(store_, clock_, time_deb);
}

void SessionTracker::end() {
    if (ended_)
        return;
    ended_ = true;
    const QDateTime end_moment = clock_.now();
    store_.transaction([&] {
        store_.write(names::stat, names::debuted, names::no);
        const qint32 t = elapsed_seconds(time_deb, end_moment);
        Update_stat_with_time(store_, clock_, t);
        Add_session_to_month(store_, clock_, t);
        add_to_number(store_, names::stat, names::nb_time_total, t);
        store_.write(names::stat, names::recupered_time, whole_number_text(t));
    });
}

} // namespace kelvor::session
