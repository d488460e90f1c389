#pragma once

#include <QByteArray>
#include <QDate>
#include <QString>
#include <vector>

namespace kelvor::platform {

// What a recovery saved and lost, table by table.
struct Recovery {
    struct Table {
        QString name;
        qint64 saved = 0;
        qint64 lost = 0;       // rows the damaged pages seem to have held, or that did not fit
        bool readable = false; // false: not one of its pages could be read
        bool end_unreadable = false; // the rows after the last one read were lost too
    };
    std::vector<Table> tables; // the tables of the newest format, in the order it makes them
    // Days the day ledger had lost (or never had), filled in from the recovered history.
    qint64 estimated_days = 0;
    QByteArray kept_aside; // where the damaged store now is
};

// Whether the store at `path` is damaged: every page is checked. False for a whole store and for
// no store; throws StoreError for a file that is not a Kelvor store, which is never recovered.
bool store_is_damaged(const QByteArray& path);

// Copies what SQLite can still read of the damaged store at `path` -- its settings and its
// history, row by row past the pages that cannot be read -- into a new store that then takes
// its place. The damaged store, with its -wal and -shm, is kept aside as
// `path`.damaged-<today> (never deleted). The new store must pass the checks of every opening
// before it replaces the old one. The caller holds the instance lock. Throws StoreError when
// the new store cannot be made: the damaged store then stays where it was.
Recovery recover_store(const QByteArray& path, const QDate& today);

// "152 settings and 10204 sessions saved; 67 sessions lost, their pages could not be read.
// The damaged store is kept as ..." for the user.
QString recovery_text(const Recovery& recovery);

} // namespace kelvor::platform
