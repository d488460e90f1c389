#include "platform/store_salvage.h"

#include <limits>
#include <memory>
#include <optional>
#include <sqlite3.h>

namespace kelvor::platform {

namespace {

constexpr qint64 largest_id = std::numeric_limits<qint64>::max();

struct Finalize {
    void operator()(sqlite3_stmt* stmt) const { sqlite3_finalize(stmt); }
};
using Query = std::unique_ptr<sqlite3_stmt, Finalize>;

Query prepare(sqlite3* db, const QString& sql) {
    sqlite3_stmt* stmt = nullptr;
    sqlite3_prepare_v2(db, sql.toUtf8().constData(), -1, &stmt, nullptr);
    return Query(stmt);
}

QVariant column(sqlite3_stmt* stmt, int i) {
    switch (sqlite3_column_type(stmt, i)) {
    case SQLITE_INTEGER:
        return sqlite3_column_int64(stmt, i);
    case SQLITE_NULL:
        return {};
    default:
        return QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(stmt, i)),
                                 sqlite3_column_bytes(stmt, i));
    }
}

enum class Seek { row, end, damaged };

// The first row id at or after `from`: found, past the last row, or on a page that cannot be
// read.
Seek seek(sqlite3_stmt* first_from, qint64 from, qint64* found) {
    sqlite3_reset(first_from);
    sqlite3_bind_int64(first_from, 1, from);
    const int rc = sqlite3_step(first_from);
    if (rc == SQLITE_ROW) {
        *found = sqlite3_column_int64(first_from, 0);
        return Seek::row;
    }
    return rc == SQLITE_DONE ? Seek::end : Seek::damaged;
}

qint64 saturated_add(qint64 a, quint64 b) {
    return quint64(largest_id - a) < b ? largest_id : qint64(quint64(a) + b);
}

// Its keys are not numbers to seek past a damaged page by: the scan ends at it.
SalvagedTable salvage_without_row_ids(sqlite3* db, const QString& name, const QString& columns) {
    SalvagedTable salvaged;
    salvaged.row_ids = false;
    const Query scan = prepare(db, QStringLiteral("SELECT NULL, %1 FROM %2").arg(columns, name));
    if (!scan)
        return salvaged; // not even the schema names the table
    int rc = SQLITE_ROW;
    while ((rc = sqlite3_step(scan.get())) == SQLITE_ROW) {
        std::vector<QVariant> row;
        for (int i = 0; i < sqlite3_column_count(scan.get()); ++i)
            row.push_back(column(scan.get(), i));
        salvaged.rows.push_back(std::move(row));
    }
    salvaged.readable = rc == SQLITE_DONE || !salvaged.rows.empty();
    salvaged.end_unreadable = rc != SQLITE_DONE && salvaged.readable;
    return salvaged;
}

} // namespace

SalvagedTable salvage_table(sqlite3* db, const char* table, const QString& columns) {
    SalvagedTable salvaged;
    const QString name = QString::fromLatin1(table);
    const Query scan = prepare(db, QStringLiteral("SELECT rowid, %1 FROM %2 WHERE rowid >= ?1 "
                                                  "ORDER BY rowid")
                                       .arg(columns, name));
    const Query first_from = prepare(
        db,
        QStringLiteral("SELECT rowid FROM %1 WHERE rowid >= ?1 ORDER BY rowid LIMIT 1").arg(name));
    if (!scan || !first_from)
        return salvage_without_row_ids(db, name, columns);
    qint64 from = std::numeric_limits<qint64>::min(); // the first row id not yet read
    std::optional<qint64> last;                       // the last row id read
    for (;;) {
        sqlite3_reset(scan.get());
        sqlite3_bind_int64(scan.get(), 1, from);
        int rc = SQLITE_ROW;
        while ((rc = sqlite3_step(scan.get())) == SQLITE_ROW) {
            std::vector<QVariant> row;
            for (int i = 0; i < sqlite3_column_count(scan.get()); ++i)
                row.push_back(column(scan.get(), i));
            last = row.front().toLongLong();
            salvaged.rows.push_back(std::move(row));
            salvaged.readable = true;
            if (*last == largest_id)
                return salvaged;
            from = *last + 1;
        }
        if (rc == SQLITE_DONE) {
            salvaged.readable = true;
            return salvaged;
        }
        // A damaged page: seeks from `from` on fail until one lands past it. The first that
        // does not fail is found by doubling the step, then halving the gap.
        qint64 failing = from;
        qint64 landing = failing;
        qint64 found = 0;
        Seek seen = Seek::damaged;
        for (quint64 step = 1; seen == Seek::damaged; step *= 2) {
            if (failing == largest_id || step == 0) {
                salvaged.end_unreadable = true; // no page past it can be reached
                return salvaged;
            }
            landing = saturated_add(failing, step);
            seen = seek(first_from.get(), landing, &found);
            if (seen == Seek::damaged)
                failing = landing;
        }
        while (landing - failing > 1) {
            const qint64 middle = failing + (landing - failing) / 2;
            if (seek(first_from.get(), middle, &found) == Seek::damaged)
                failing = middle;
            else
                landing = middle;
        }
        if (seek(first_from.get(), landing, &found) != Seek::row) {
            salvaged.end_unreadable = true; // the damaged page was the last
            return salvaged;
        }
        // Kelvor gives ids one after another: the gap is what the damaged pages held.
        salvaged.lost += found - (last ? *last + 1 : 1);
        from = found;
    }
}

} // namespace kelvor::platform
