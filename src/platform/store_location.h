#pragma once

#include <QString>

namespace kelvor::platform {

// Where the store lives: <generic data dir>/kelvor, i.e. $XDG_DATA_HOME/kelvor on Linux.
struct StoreLocation {
    QString directory;
    QString store_path; // store.sqlite3
    QString lock_path;  // store.lock, beside it

    static StoreLocation standard();
    static StoreLocation in(const QString& directory);
};

// Creates the directory private to the user (0700) when missing; checks that it can be
// written. Returns an empty text on success, otherwise what went wrong.
QString prepare_store_directory(const QString& directory);

} // namespace kelvor::platform
