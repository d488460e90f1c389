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

    bool has_ended() const { return ended_; }
    // Awake seconds since the start; never negative.
    qint32 session_seconds() const;

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
    platform::Store& store_;
    const platform::Clock& clock_;
    bool ended_ = false;
    qint64 history_id_ = 0; // this session's row in the store's history
};

} // namespace kelvor::session
