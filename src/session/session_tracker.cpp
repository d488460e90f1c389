#include "session/session_tracker.h"

#include "platform/clock.h"
#include "platform/store.h"
#include "session/dates.h"
#include "session/month_records.h"
#include "session/numbers.h"
#include "session/running_session.h"
#include "session/store_names.h"

#include <QDeadlineTimer>
#include <QThread>
#include <algorithm>

namespace kelvor::session {

namespace {

// A failed write (full disk) fails at once; a busy store has already waited its busy timeout.
constexpr std::chrono::milliseconds pause_between_tries{200};

// Runs `attempt(first)` until it returns, retrying a `Retried` error of the store until
// `patience` has passed (measured in real time); then the last error goes to the caller, with
// `then` added to its text.
template <typename Retried, typename Attempt>
void retry_on(std::chrono::milliseconds patience, const std::string& then, Attempt&& attempt) {
    const QDeadlineTimer deadline(patience);
    for (bool first = true;; first = false) {
        try {
            attempt(first);
            return;
        } catch (const platform::StoreReplaced&) {
            throw; // no later try can reach the store this session began in
        } catch (const Retried& error) {
            if (deadline.hasExpired())
                throw Retried(std::string(error.what()) + then);
            QThread::msleep(
                std::min<qint64>(pause_between_tries.count(), deadline.remainingTime()));
        }
    }
}

std::string seconds_text(std::chrono::milliseconds patience) {
    return std::to_string(patience.count() / 1000) + " s";
}

} // namespace

qint32 book_crashed_session(platform::Store& store, const platform::Clock& clock) {
    qint32 lost = 0;
    store.transaction([&] {
        add_to_number(store, names::stat, names::nb_session_crashed, 1);
        lost = saved_session_seconds(store);
        Update_stat_with_time(store, clock, lost);
        add_to_number(store, names::stat, names::nb_time_total, lost);
        Add_session_to_month(store, clock, lost);
        Add_crash_to_month(store, clock);
        store.mark_running_session_crashed(lost);
    });
    return lost;
}

SessionTracker::SessionTracker(platform::Store& store, const platform::Clock& clock)
    : store_(store), clock_(clock) {}

WindowPlace SessionTracker::window_place() const {
    return {.top = read_single(store_, names::init, names::top, 0),
            .left = read_single(store_, names::init, names::left, 4000)};
}

void SessionTracker::start() {
    // The session begins now, also when the store makes it wait: another program may hold the
    // store at login (a backup tool, an sqlite3 shell), and the bar is already on the screen.
    // Only a busy store is waited for: it refuses before a change, so a retry cannot count the
    // session twice.
    const QDateTime started = clock_.now();
    const qint64 awake_started = clock_.awake_ms();
    retry_on<platform::StoreBusy>(
        start_patience,
        "; it was not free within " + seconds_text(start_patience) +
            ". Close that program and start Kelvor again.",
        [&](bool) {
            store_.transaction([&] {
                last_session_suffix.clear();
                minutes_elapsed_current_session = 0;
                add_to_number(store_, names::stat, names::nb_session, 1);

                if (session_unbooked(store_)) {
                    // The previous session never reached its end.
                    book_crashed_session(store_, clock_);
                    last_session_suffix = QStringLiteral(" (crashed)");
                }
                last_session_duration = saved_session_seconds(store_);
                store_.write(names::stat, names::debuted, names::yes);
                store_.write(names::stat, names::recupered_time, names::initial_recupered_time);
                time_deb = started;
                awake_ms_deb = awake_started;
                history_id_ = store_.add_running_session(iso_date_time(time_deb));

                if (store_.read(names::stat, names::first_time_run, names::never_run) ==
                    names::never_run) {
                    store_.write(names::stat, names::first_time_run, date_text(time_deb.date()));
                    store_.write(names::stat, names::creator_name, names::creator_signature);
                }
            });
        });
}

qint32 SessionTracker::session_seconds() const {
    const qint64 seconds = (clock_.awake_ms() - awake_ms_deb) / 1000;
    return qint32(std::max<qint64>(0, clamp_to_int32_range(seconds)));
}

void SessionTracker::tick() {
    // A tick that comes late (the process was stopped, the machine overloaded) catches up, so
    // that the bar never shows fewer minutes than the session has.
    minutes_elapsed_current_session =
        std::max(minutes_elapsed_current_session + 1, session_seconds() / 60);
    checkpoint();
}

qint32 SessionTracker::checkpoint() {
    const qint32 seconds = session_seconds();
    if (!ended_)
        store_.write(names::stat, names::recupered_time, whole_number_text(seconds));
    return seconds;
}

void SessionTracker::end() {
    if (ended_)
        return;
    ended_ = true;
    const qint32 t = session_seconds();
    retry_on<platform::StoreError>(
        end_patience, " (tried for " + seconds_text(end_patience) + ")", [&](bool first) {
            store_.transaction([&] {
                // An error at the commit may come after the commit reached the disk; a session
                // already marked as ended is not booked twice.
                if (!first && !session_unbooked(store_))
                    return;
                store_.write(names::stat, names::debuted, names::no);
                Update_stat_with_time(store_, clock_, t);
                Add_session_to_month(store_, clock_, t);
                add_to_number(store_, names::stat, names::nb_time_total, t);
                store_.write(names::stat, names::recupered_time, whole_number_text(t));
                store_.mark_session_ended(history_id_, t, iso_date_time(clock_.now()));
            });
        });
}

} // namespace kelvor::session
