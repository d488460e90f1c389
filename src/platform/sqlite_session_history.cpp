// The session history's operations of the SQLite store: its `sessions` table.

#include "platform/sqlite_statement.h"
#include "platform/sqlite_store.h"
#include "platform/store_format.h"

namespace kelvor::platform {

namespace {

using sqlite::Statement;

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

void SqliteStore::save_running_locked_seconds(qint64 id, qint32 locked_seconds) {
    transaction([&] {
        Statement s(db_.get(), kept_,
                    "UPDATE sessions SET locked_seconds = ?2 WHERE id = ?1 AND ending = 'running'");
        s.bind(1, id).bind(2, qint64(locked_seconds)).step();
    });
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

void SqliteStore::mark_session_ended(qint64 id, qint32 seconds, qint32 locked_seconds,
                                     const QString& ended) {
    transaction([&] {
        Statement s(db_.get(), kept_,
                    "UPDATE sessions SET ending = 'proper', seconds = ?2, locked_seconds = ?3, "
                    "ended = ?4 WHERE id = ?1 AND ending = 'running'");
        s.bind(1, id).bind(2, qint64(seconds)).bind(3, qint64(locked_seconds)).bind(4, ended);
        s.step();
    });
}

bool SqliteStore::for_each_session(const std::function<void(const HistorySession&)>& visit) {
    if (!format_has_history(format_))
        return false;
    // A store of the second format, read as it is, kept no locked seconds.
    Statement s(db_.get(), format_has_days(format_)
                               ? "SELECT started, seconds, ending, locked_seconds FROM sessions "
                                 "ORDER BY id"
                               : "SELECT started, seconds, ending, 0 FROM sessions ORDER BY id");
    HistorySession session;
    while (s.step()) {
        s.read_text(0, session.started);
        session.seconds = s.integer32(1);
        session.ending = ending_of(s.bytes(2));
        session.locked_seconds = s.integer32(3);
        visit(session);
    }
    return true;
}

} // namespace kelvor::platform
