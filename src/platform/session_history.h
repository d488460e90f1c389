#pragma once

#include <QString>
#include <functional>

namespace kelvor::platform {

// How a session of the history ended. Stored as 'running', 'proper' and 'crashed'.
enum class Ending { running, properly, crashed };

// One session of the history.
struct HistorySession {
    QString started; // ISO 8601 with the UTC offset of its moment, as stored
    qint32 seconds = 0;
    Ending ending = Ending::running;
    qint32 locked_seconds = 0; // of `seconds`, the screen was locked (0 before format 3)
};

// The store's history, one row per session, written by the start, the saves of the running
// seconds and the end, each time inside the store's transaction of that sequence.
class SessionHistory {
public:
    virtual ~SessionHistory() = default;

    // A new session, running from `started` (ISO 8601); returns its id.
    virtual qint64 add_running_session(const QString& started) = 0;
    // Session `id`, if still running, has spent `locked_seconds` locked so far. Its seconds
    // stay 0 while it runs: the settings keep them (Stat/recupered_time).
    virtual void save_running_locked_seconds(qint64 id, qint32 locked_seconds) = 0;
    // The last session, if still marked running, ends as crashed, booked with `seconds`.
    virtual void mark_running_session_crashed(qint32 seconds) = 0;
    // Session `id`, if still running, ends properly at `ended` (ISO 8601) after `seconds`,
    // `locked_seconds` of them locked.
    virtual void mark_session_ended(qint64 id, qint32 seconds, qint32 locked_seconds,
                                    const QString& ended) = 0;
    // Visits every session in the order they started, as stored, one at a time: a long history
    // is never held whole. False for a store of the first release, which kept no history.
    virtual bool for_each_session(const std::function<void(const HistorySession&)>& visit) = 0;
};

} // namespace kelvor::platform
