#pragma once

#include <QDateTime>
#include <QString>
#include <chrono>

namespace kelvor::platform {
class Clock;
class Store;
} // namespace kelvor::platform

namespace kelvor::session {

// Where the bar window was last released, in twips.
struct WindowPlace {
    float top = 0;
    float left = 4000;
};

// Books a session that never reached its end, as the start that finds it does: its last saved
// seconds in the totals, the records and the month of today, as a crash, and in the history.
// Returns those seconds.
qint32 book_crashed_session(platform::Store& store, const platform::Clock& clock);

// One run of the program is one session. The tracker books it: counts it at start, books a
// previous session that ended abruptly, saves the running seconds at every checkpoint, and
// books the session at its end. Each of these is one store transaction. The start and the end
// also keep the session's row of the history.
//
// A session's length is the time the machine was awake since its start, read on the clock's
// awake clock: a sleep is not use, and setting the wall clock changes no length. Dates still
// come from the wall clock, at the moment they are written.
//
// Of that time, the tracker also counts what was spent with the screen locked, as told by
// set_locked(). Every save of the running seconds saves the locked seconds with them in the
// session's row, and adds what both grew by since the last save to the day ledger, on the day
// of the save: a session past midnight is split at the save that crosses it. So the ledger
// always holds what the settings would book for the session.
class SessionTracker {
public:
    SessionTracker(platform::Store& store, const platform::Clock& clock);

    // Where the bar opens: read before the start sequence, so that the bar can be on its way to
    // the screen while the start sequence waits for the disk.
    WindowPlace window_place() const;
    // The start sequence after the single-copy test and start-up registration. A store that
    // another program holds is tried again for up to `start_patience`; then throws
    // platform::StoreBusy, nothing written.
    void start();
    // One timer tick: the minute count goes up and the running seconds are saved.
    void tick();
    // Saves the running session's seconds, so an abrupt end loses only what came after.
    // Returns them.
    qint32 checkpoint();
    // Books the session, trying again while the store is busy or fails, for up to
    // `end_patience`; then throws platform::StoreError, and the next start books the session
    // as crashed. Runs at most once: later calls do nothing.
    void end();

    // The screen is locked, or no longer. The first state told applies from the session's first
    // second, since it tells how the session started; each later one from now.
    void set_locked(bool locked);

    bool has_ended() const { return ended_; }

    platform::Store& store() const { return store_; }
    const platform::Clock& clock() const { return clock_; }

    // A backup tool or an sqlite3 shell may hold the store at log-off; a desktop gives a
    // program about this long before it kills it.
    std::chrono::milliseconds end_patience{30000};
    // The same wait for the start, with the bar already on the screen.
    std::chrono::milliseconds start_patience{30000};

    // State of the running session, read by the bar window and its report.
    qint32 minutes_elapsed_current_session = 0;
    // The start on both clocks: the date and time for people, the awake clock for its length.
    QDateTime time_deb;
    qint64 awake_ms_deb = 0;
    qint32 last_session_duration = 0;
    QString last_session_suffix;

private:
    // What the store holds of this session's time: the seconds and locked seconds of its last
    // save, and the last day it added time to.
    struct Saved {
        qint32 seconds = 0;
        qint32 locked = 0;
        QDate day;
        // Made once a day: the day as the ledger keys it, and when it begins and ends (seconds
        // since 1970), which tell a save on the same day without working out a date.
        QString day_key;
        qint64 day_begins = 0;
        qint64 day_ends = 0;
        // Only the start's seconds, which the first save takes back from their day.
        bool until_first_save = false;
    };
    // `next` set to the day of `day`.
    static void move_to_day(Saved& next, const QDate& day);
    // Inside a save's transaction: `seconds`, `locked_seconds` of them, into the day ledger.
    Saved save_time(qint32 seconds, qint32 locked_seconds);
    // At `awake_ms` on the awake clock (a tick reads the clock once): the awake seconds since
    // the start, never negative, and of those the seconds spent locked, never more than they.
    qint32 seconds_at(qint64 awake_ms) const;
    qint32 locked_seconds_at(qint64 awake_ms) const;
    // checkpoint() at `awake_ms`.
    qint32 save_at(qint64 awake_ms);

    platform::Store& store_;
    const platform::Clock& clock_;
    bool ended_ = false;
    qint64 history_id_ = 0; // this session's row in the store's history
    Saved saved_;
    // The locked time: told yet, locked now and since when (awake ms), and the milliseconds of
    // the earlier locks.
    bool lock_told_ = false;
    bool locked_ = false;
    qint64 locked_since_ms_ = 0;
    qint64 locked_ms_ = 0;
};

} // namespace kelvor::session
