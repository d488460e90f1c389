#include "platform/sqlite_connection.h"

#include "platform/sqlite_statement.h"

namespace kelvor::platform::sqlite {

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

} // namespace kelvor::platform::sqlite
