#include "platform/sqlite_connection.h"

#include "platform/sqlite_statement.h"
#include "platform/user_dirs.h"

namespace kelvor::platform::sqlite {

namespace {
// Set before SQLite's first use, which comes after the program's start.
[[maybe_unused]] const bool configured = [] {
    // SQLite counts every allocation under a global mutex for sqlite3_memory_used(), which
    // Kelvor never asks; a tick's write allocates a dozen times.
    sqlite3_config(SQLITE_CONFIG_MEMSTATUS, 0);
    // Each connection's page cache takes pages one at a time rather than twenty at its first
    // read: a start reads a few pages of the store, and the bar then holds only those.
    sqlite3_config(SQLITE_CONFIG_PAGECACHE, nullptr, 0, 0);
    return true;
}();
} // namespace

void CloseConnection::operator()(sqlite3* db) const {
    sqlite3_close_v2(db);
}

KeptStatements::~KeptStatements() {
    for (const auto& [sql, statement] : kept_)
        sqlite3_finalize(statement);
}

sqlite3_stmt* KeptStatements::get(sqlite3* db, const char* sql) {
    sqlite3_stmt*& statement = kept_[sql];
    if (statement == nullptr)
        statement = prepare(db, sql, SQLITE_PREPARE_PERSISTENT);
    return statement;
}

QString damaged_store_problem(const QString& shown_path) {
    return QStringLiteral("the store %1 is damaged: some of its pages cannot be read. Kelvor can "
                          "copy what can still be read into a new store, keeping the damaged file "
                          "aside: run kelvor --recover.")
        .arg(shown_path);
}

void fail(sqlite3* db, int rc) {
    const char* file = sqlite3_db_filename(db, "main");
    const QString shown =
        file && *file ? shown_path(QByteArray(file)) : QStringLiteral("in memory");
    const QString detail = QString::fromUtf8(sqlite3_errmsg(db));
    switch (rc & 0xff) {
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
        throw StoreBusy(QStringLiteral("the store %1 is held by another program (an sqlite3 shell "
                                       "or a backup tool, say), which did not let it go in time")
                            .arg(shown)
                            .toStdString());
    case SQLITE_CORRUPT:
    case SQLITE_NOTADB:
        throw StoreDamaged(damaged_store_problem(shown).toStdString());
    default:
        throw StoreError(
            QStringLiteral("cannot use the store %1: %2").arg(shown, detail).toStdString());
    }
}

} // namespace kelvor::platform::sqlite
