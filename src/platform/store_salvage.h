#pragma once

#include <QString>
#include <QVariant>
#include <vector>

struct sqlite3;

namespace kelvor::platform {

// The rows of one table that SQLite can still read in a damaged database, and how many rows the
// damaged pages seem to have held.
struct SalvagedTable {
    std::vector<std::vector<QVariant>> rows; // the columns asked for, the row id first
    bool row_ids = true;   // false for a table without row ids, whose rows start with a null
    qint64 lost = 0;       // row ids skipped over the unreadable pages (ids are given in order)
    bool readable = false; // false: not even the table's first page could be read
    // The pages after the last row read could not be read: how many rows they held is unknown.
    bool end_unreadable = false;
};

// Reads `columns` of every row of `table` that can be reached, in row id order. A damaged
// page stops an ordinary scan for good; here the scan goes on past it, seeking the next row id
// that lies on a page that can be read, as far as the table's inner pages still lead there.
// A table without row ids (keyed by text) is read as far as its first damaged page.
SalvagedTable salvage_table(sqlite3* db, const char* table, const QString& columns);

} // namespace kelvor::platform
