// The day ledger's operations of the SQLite store: its `days` table.

#include "platform/sqlite_statement.h"
#include "platform/sqlite_store.h"
#include "platform/store_format.h"

namespace kelvor::platform {

using sqlite::Statement;

void SqliteStore::add_to_day(const QString& day, qint32 seconds, qint32 locked_seconds,
                             int sessions) {
    transaction([&] {
        // The day is there at every save but the first of the day: an UPDATE finds it with one
        // look-up, where an UPSERT takes two.
        Statement update(db_.get(), kept_,
                         "UPDATE days SET seconds = seconds + ?2, "
                         "locked_seconds = locked_seconds + ?3, sessions = sessions + ?4 "
                         "WHERE day = ?1");
        update.bind(1, day).bind(2, qint64(seconds)).bind(3, qint64(locked_seconds));
        update.bind(4, qint64(sessions)).step();
        if (sqlite3_changes(db_.get()) > 0)
            return;
        Statement insert(db_.get(), kept_,
                         "INSERT INTO days (day, seconds, locked_seconds, sessions) "
                         "VALUES (?1, ?2, ?3, ?4)");
        insert.bind(1, day).bind(2, qint64(seconds)).bind(3, qint64(locked_seconds));
        insert.bind(4, qint64(sessions)).step();
    });
}

bool SqliteStore::for_each_day(const QString& first, const QString& last,
                               const std::function<void(const LedgerDay&)>& visit) {
    if (!format_has_history(format_))
        return false;
    // Without a bound, every day: a text comparison puts any day after "" and before "~".
    const QString to = last.isEmpty() ? QStringLiteral("~") : last;
    LedgerDay day;
    const auto read = [&](const Statement& s) {
        day.seconds = s.integer32(1);
        day.locked_seconds = s.integer32(2);
        day.sessions = s.integer32(3);
        day.estimated = s.integer64(4) != 0;
        visit(day);
    };
    if (!format_has_days(format_)) {
        const QByteArray sql = QByteArrayLiteral("SELECT day, seconds, 0, sessions, 1 FROM (") +
                               days_of_history_query + ") WHERE day BETWEEN ?1 AND ?2 ORDER BY day";
        Statement s(db_.get(), sql.constData());
        s.bind(1, first).bind(2, to);
        while (s.step()) {
            s.read_text(0, day.day);
            read(s);
        }
        return true;
    }
    // The ledger comes in the order of its key, which SQLite compares byte by byte: the listing
    // stops at the first day after `to`, where a bound in the query would have SQLite compare
    // every day with it. A day edited into a blob sorts after every text, and stops it too.
    Statement s(db_.get(), "SELECT day, seconds, locked_seconds, sessions, estimated FROM days "
                           "WHERE day >= ?1 ORDER BY day");
    s.bind(1, first);
    const QByteArray last_key = to.toUtf8();
    while (s.step()) {
        if (!s.is_text(0)) // asked before the bytes, which turn a blob into a text
            break;
        const QByteArrayView key = s.bytes(0);
        if (key > QByteArrayView(last_key))
            break;
        Statement::read_utf8(key, day.day);
        read(s);
    }
    return true;
}

} // namespace kelvor::platform
