#include "platform/store_recovery.h"

#include "platform/sqlite_statement.h"
#include "platform/store_file.h"
#include "platform/store_format.h"
#include "platform/store_salvage.h"
#include "platform/user_dirs.h"

#include <QStringList>
#include <cerrno>
#include <unistd.h>

namespace kelvor::platform {

namespace {

using sqlite::Statement;

[[noreturn]] void refuse(const QString& why) {
    throw StoreError(why.toStdString());
}

bool exists(const QByteArray& path) {
    return ::access(path.constData(), F_OK) == 0;
}

// The columns of `table` in `db`, but its row id's own; empty when it cannot be read.
QStringList columns_of(sqlite3* db, const QString& table) {
    QStringList names;
    try {
        Statement info(db, QStringLiteral("PRAGMA table_info(%1)").arg(table).toUtf8().constData());
        while (info.step()) {
            const bool row_id = info.integer(5) == 1 && info.text(2).toUpper() == "INTEGER";
            if (!row_id)
                names << info.text(1);
        }
    } catch (const StoreError&) {
        names.clear();
    }
    return names;
}

// The tables of a store, in the order its format makes them.
QStringList tables_of(sqlite3* db) {
    QStringList names;
    Statement tables(db, "SELECT name FROM sqlite_schema WHERE type = 'table' ORDER BY rowid");
    while (tables.step())
        names << tables.text(0);
    return names;
}

void bind(Statement& insert, int index, const QVariant& value) {
    if (value.isNull())
        insert.bind_null(index);
    else if (value.typeId() == QMetaType::LongLong)
        insert.bind(index, value.toLongLong());
    else
        insert.bind(index, value.toString());
}

// Copies what can be read of `name` from `damaged` into the same table of `recovered`, row ids
// kept (they give the settings their first-written order and the history its order). Rows the
// new store's constraints refuse are counted as lost.
Recovery::Table copy_table(sqlite3* damaged, sqlite3* recovered, const QString& name) {
    Recovery::Table table{name};
    QStringList columns;
    const QStringList readable = columns_of(damaged, name);
    for (const QString& column : columns_of(recovered, name)) {
        if (readable.isEmpty() || readable.contains(column))
            columns << column;
    }
    const SalvagedTable salvaged =
        salvage_table(damaged, name.toUtf8().constData(), columns.join(QStringLiteral(", ")));
    table.readable = salvaged.readable;
    table.lost = salvaged.lost;
    table.end_unreadable = salvaged.end_unreadable;
    if (salvaged.row_ids)
        columns.prepend(QStringLiteral("rowid"));
    QStringList marks;
    for (int i = 0; i < columns.size(); ++i)
        marks << QStringLiteral("?%1").arg(i + 1);
    const QByteArray sql =
        QStringLiteral("INSERT OR IGNORE INTO %1 (%2) VALUES (%3)")
            .arg(name, columns.join(QStringLiteral(", ")), marks.join(QStringLiteral(", ")))
            .toUtf8();
    Statement insert(recovered, sql.constData());
    const std::size_t first = salvaged.row_ids ? 0 : 1;
    for (const std::vector<QVariant>& row : salvaged.rows) {
        for (std::size_t i = first; i < row.size(); ++i)
            bind(insert, int(i - first) + 1, row[i]);
        insert.step();
        insert.reset();
        if (sqlite3_changes(recovered) == 1)
            ++table.saved;
        else
            ++table.lost;
    }
    return table;
}

// `path`.damaged-<today>, or with -2, -3, ... when a store was kept aside that day already.
QByteArray aside_name(const QByteArray& path, const QDate& today) {
    const QByteArray base = path + ".damaged-" + today.toString(Qt::ISODate).toLatin1();
    QByteArray name = base;
    for (int n = 2; exists(name) || exists(name + "-wal") || exists(name + "-shm"); ++n)
        name = base + '-' + QByteArray::number(n);
    return name;
}

void rename_or_refuse(const QByteArray& from, const QByteArray& to) {
    if (::rename(from.constData(), to.constData()) != 0)
        refuse(QStringLiteral("cannot rename %1 to %2: %3. Nothing was lost: check the folder, "
                              "then run kelvor --recover again.")
                   .arg(shown_path(from), shown_path(to), error_text(errno)));
}

} // namespace

bool store_is_damaged(const QByteArray& path) {
    try {
        return !pages_hold_together(open_to_read(path).db.get());
    } catch (const StoreDamaged&) {
        return true;
    }
}

Recovery recover_store(const QByteArray& path, const QDate& today) {
    Recovery recovery;
    OpenedFile damaged = open_as_it_is(path);
    const QByteArray building = path + ".recovered";
    for (const char* leftover : {"", "-journal", "-wal", "-shm"})
        ::unlink((building + leftover).constData()); // from a recovery that was stopped here
    create_store_file(building);
    {
        sqlite3* db = nullptr;
        sqlite3_open_v2(building.constData(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOFOLLOW,
                        nullptr);
        const sqlite::Connection recovered(db);
        sqlite::execute(db, "PRAGMA synchronous = FULL; BEGIN");
        for (const QString& table : tables_of(db))
            recovery.tables.push_back(copy_table(damaged.db.get(), db, table));
        recovery.estimated_days = add_missing_days_of_history(db);
        sqlite::execute(db, "COMMIT");
    }
    // What every opening checks, and every page besides.
    try {
        if (!pages_hold_together(open_to_read(building).db.get()))
            throw StoreDamaged("the recovered store fails its check");
    } catch (const StoreError& error) {
        ::unlink(building.constData());
        refuse(QStringLiteral("the store recovered from %1 does not pass Kelvor's checks (%2); "
                              "the damaged store is left as it was.")
                   .arg(shown_path(path), QString::fromStdString(error.what())));
    }
    damaged = {};
    recovery.kept_aside = aside_name(path, today);
    rename_or_refuse(path, recovery.kept_aside);
    for (const char* beside : {"-wal", "-shm"}) {
        if (exists(path + beside))
            rename_or_refuse(path + beside, recovery.kept_aside + beside);
    }
    rename_or_refuse(building, path);
    sync_folder(path.left(path.lastIndexOf('/') + 1));
    return recovery;
}

QString recovery_text(const Recovery& recovery) {
    // The tables in the words of the rest of Kelvor's texts.
    const auto counted = [](qint64 rows, const QString& table) {
        const bool one = rows == 1;
        const QString what =
            table == QLatin1String("settings")
                ? (one ? QStringLiteral("figure") : QStringLiteral("figures"))
            : table == QLatin1String("sessions") ? (one ? QStringLiteral("session of the history")
                                                        : QStringLiteral("sessions of the history"))
            : table == QLatin1String("days")     ? (one ? QStringLiteral("day of the day ledger")
                                                        : QStringLiteral("days of the day ledger"))
                                                 : table;
        return QStringLiteral("%1 %2").arg(rows).arg(what);
    };
    QStringList saved;
    QStringList lost;
    for (const Recovery::Table& table : recovery.tables) {
        if (table.saved > 0)
            saved << counted(table.saved, table.name);
        const QString what = counted(0, table.name).mid(2);
        if (!table.readable && table.saved == 0)
            lost << QStringLiteral("all %1").arg(what);
        else if (table.lost > 0)
            lost << counted(table.lost, table.name);
        if (table.readable && table.end_unreadable)
            lost << QStringLiteral("the %1 after the last one read").arg(what);
    }
    QString text = saved.isEmpty() ? QStringLiteral("nothing could be read")
                                   : saved.join(QStringLiteral(", ")) + QStringLiteral(" saved");
    if (recovery.estimated_days > 0)
        text +=
            QStringLiteral("; %1 %2 estimated from the history")
                .arg(recovery.estimated_days)
                .arg(recovery.estimated_days == 1 ? QStringLiteral("day") : QStringLiteral("days"));
    text += lost.isEmpty() ? QStringLiteral("; nothing was lost")
                           : QStringLiteral("; lost, their pages could not be read: ") +
                                 lost.join(QStringLiteral(", "));
    return text + QStringLiteral(". The damaged store is kept as %1.")
                      .arg(shown_path(recovery.kept_aside));
}

} // namespace kelvor::platform
