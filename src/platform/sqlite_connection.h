#pragma once

#include <memory>
#include <unordered_map>

struct sqlite3;
struct sqlite3_stmt;

// A connection to an SQLite database and the statements it keeps, without SQLite's header.
namespace kelvor::platform::sqlite {

// Closes the database once its last statement is finalized.
struct CloseConnection {
    void operator()(sqlite3* db) const;
};
using Connection = std::unique_ptr<sqlite3, CloseConnection>;

// Compiling SQL is most of the CPU cost of a small read or write, so the statements that every
// call uses are compiled once per connection, at their first use, and kept until it closes.
// Each is known by the text the code passes (one string literal per statement).
class KeptStatements {
public:
    KeptStatements() = default;
    ~KeptStatements();
    KeptStatements(const KeptStatements&) = delete;
    KeptStatements& operator=(const KeptStatements&) = delete;

    // The statement `sql` on `db`, compiled now if it was not yet.
    sqlite3_stmt* get(sqlite3* db, const char* sql);

private:
    std::unordered_map<const char*, sqlite3_stmt*> kept_;
};

} // namespace kelvor::platform::sqlite
