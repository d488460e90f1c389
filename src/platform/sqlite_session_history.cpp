// The session history's operations of the SQLite store: its `sessions` table.

#include "platform/sqlite_statement.h"
#include "platform/sqlite_store.h"

#include <algorithm>
#include <limits>

namespace kelvor::platform {

namespace {

using sqlite::Statement;

// A length edited by hand into the history stays one that a duration text can show. The
// bookkeeping's own clamp (session/numbers) is out of reach here: session/ is built on this
// layer, never the other way round.
qint32 clamped_to_int32(qint64 value) {
    return qint32(std::clamp<qint64>(value, std::numeric_limits<qint32>::min(),
                                     std::numeric_limits<qint32>::max()));
}

Ending ending_of(QByteArrayView stored) {
    return stored == "proper"    ? Ending::properly
           : stored == "crashed" ? Ending::crashed
                                 : Ending::running;
}

} // namespace

qint64 SqliteStore::add_running_session(const QString& started) {
    transaction([&] {
        Statement s(db_.get(), kept_,
                    "INSERT INTO sessions (started, seconds, ending) VALUES (?1, 0, 'running')");
        s.bind(1, started);
        s.step();
    });
    return sqlite3_last_insert_rowid(db_.get());
}

void SqliteStore::mark_running_session_crashed(qint32 seconds) {
    transaction([&] {
        // The last session marked running, found from the end of the history without reading
        // it all; not by the largest id, which a hand-edited row may hold.
        Statement s(db_.get(), kept_,
                    "UPDATE sessions SET ending = 'crashed', seconds = ?1 WHERE id = "
                    "(SELECT id FROM sessions WHERE ending = 'running' ORDER BY id DESC LIMIT 1)");
        s.bind(1, qint64(seconds));
        s.step();
    });
}

void SqliteStore::mark_session_ended(qint64 id, qint32 seconds, const QString& ended) {
    transaction([&] {
        Statement s(db_.get(), kept_,
                    "UPDATE sessions SET ending = 'proper', seconds = ?2, ended = ?3 "
                    "WHERE id = ?1 AND ending = 'running'");
        s.bind(1, id).bind(2, qint64(seconds)).bind(3, ended);
        s.step();
    });
}

bool SqliteStore::for_each_session(const std::function<void(const HistorySession&)>& visit) {
    if (!has_history_)
        return false;
    Statement s(db_.get(), "SELECT started, seconds, ending FROM sessions ORDER BY id");
    HistorySession session;
    while (s.step()) {
        session.started = s.text(0);
        session.seconds = clamped_to_int32(s.integer64(1));
        session.ending = ending_of(s.bytes(2));
        visit(session);
    }
    return true;
}

} // namespace kelvor::platform
