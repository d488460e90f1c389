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
        // The day ledger holds these seconds already: the start and each save put there what
        // they saved.
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
    const QDateTime start_time = clock_.now();
    const qint64 awake_at_start = clock_.awake_ms();
    Saved started;
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
                time_deb = start_time;
                awake_ms_deb = awake_at_start;
                // A lock told before the start holds from it.
                locked_since_ms_ = awake_ms_deb;
                locked_ms_ = 0;
                history_id_ = store_.add_running_session(iso_date_time(time_deb));
                // The day ledger holds what a crash would book, from the start on: the first
                // save puts the session's own time in place of these seconds.
                started.seconds = names::initial_recupered_seconds;
                started.until_first_save = true;
                move_to_day(started, time_deb.date());
                store_.add_to_day(started.day_key, started.seconds, 0, 1);

                if (store_.read(names::stat, names::first_time_run, names::never_run) ==
                    names::never_run) {
                    store_.write(names::stat, names::first_time_run, date_text(time_deb.date()));
                    store_.write(names::stat, names::creator_name, names::creator_signature);
                }
            });
        });
    saved_ = started;
}

qint32 SessionTracker::seconds_at(qint64 awake_ms) const {
    const qint64 seconds = (awake_ms - awake_ms_deb) / 1000;
    return qint32(std::max<qint64>(0, clamp_to_int32_range(seconds)));
}

qint32 SessionTracker::locked_seconds_at(qint64 awake_ms) const {
    const qint64 ms = locked_ms_ + (locked_ ? awake_ms - locked_since_ms_ : 0);
    return qint32(std::clamp<qint64>(ms / 1000, 0, seconds_at(awake_ms)));
}

void SessionTracker::set_locked(bool locked) {
    if (!lock_told_) {
        // How the session started: locked from its first second, or not at all so far.
        lock_told_ = true;
        locked_ = locked;
        locked_since_ms_ = awake_ms_deb;
        return;
    }
    if (locked == locked_)
        return;
    const qint64 now = clock_.awake_ms();
    if (locked)
        locked_since_ms_ = now;
    else
        locked_ms_ += now - locked_since_ms_;
    locked_ = locked;
}

SessionTracker::Saved SessionTracker::save_time(qint32 seconds, qint32 locked_seconds) {
    // Until the first save the ledger holds the start's seconds, which give way to the
    // session's own.
    const qint32 taken_back = saved_.until_first_save ? saved_.seconds : 0;
    const qint32 held = saved_.seconds - taken_back;
    Saved next = saved_;
    next.until_first_save = false;
    next.seconds = std::max(seconds, held);
    const qint32 added = next.seconds - held;
    // No day gets more locked seconds than seconds of use, whatever the roundings to the
    // second: what did not fit comes with a later save.
    next.locked = saved_.locked + std::clamp(locked_seconds - saved_.locked, 0, added);
    const qint32 locked_added = next.locked - saved_.locked;
    if (added == 0 && taken_back == 0)
        return next;
    // The day of the save, worked out only when the wall clock is out of the last one's: a
    // date costs as much as the rest of the tick's bookkeeping.
    const qint64 now = clock_.epoch_seconds();
    const bool same_day = added == 0 || (now >= saved_.day_begins && now < saved_.day_ends) ||
                          clock_.now().date() == saved_.day;
    if (same_day) {
        store_.add_to_day(saved_.day_key, added - taken_back, locked_added, 0);
        return next;
    }
    if (taken_back > 0)
        store_.add_to_day(saved_.day_key, -taken_back, 0, 0);
    move_to_day(next, clock_.now().date());
    // A day that the wall clock left and came back to (set back by hand) counts the session
    // once more.
    store_.add_to_day(next.day_key, added, locked_added, 1);
    return next;
}

void SessionTracker::move_to_day(Saved& next, const QDate& day) {
    next.day = day;
    next.day_key = iso_date(day);
    next.day_begins = QDateTime(day, QTime(0, 0)).toSecsSinceEpoch();
    next.day_ends = QDateTime(day.addDays(1), QTime(0, 0)).toSecsSinceEpoch();
}

void SessionTracker::tick() {
    // A tick that comes late (the process was stopped, the machine overloaded) catches up, so
    // that the bar never shows fewer minutes than the session has.
    const qint64 now = clock_.awake_ms();
    minutes_elapsed_current_session =
        std::max(minutes_elapsed_current_session + 1, seconds_at(now) / 60);
    save_at(now);
}

qint32 SessionTracker::checkpoint() {
    return save_at(clock_.awake_ms());
}

qint32 SessionTracker::save_at(qint64 awake_ms) {
    const qint32 seconds = seconds_at(awake_ms);
    if (ended_)
        return seconds;
    Saved saved;
    store_.transaction([&] {
        store_.write(names::stat, names::recupered_time, whole_number_text(seconds));
        saved = save_time(seconds, locked_seconds_at(awake_ms));
        // The row keeps 0 seconds while the session runs, as the settings hold them.
        if (saved.locked != saved_.locked)
            store_.save_running_locked_seconds(history_id_, saved.locked);
    });
    saved_ = saved; // only once it is on the disk
    return seconds;
}

void SessionTracker::end() {
    if (ended_)
        return;
    ended_ = true;
    const qint64 now = clock_.awake_ms();
    const qint32 t = seconds_at(now);
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
                const Saved saved = save_time(t, locked_seconds_at(now));
                store_.mark_session_ended(history_id_, t, saved.locked,
                                          iso_date_time(clock_.now()));
            });
        });
}

} // namespace kelvor::session
