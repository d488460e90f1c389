#pragma once

#include <QByteArray>
#include <QString>

namespace kelvor::platform {

// Where the store lives: $XDG_DATA_HOME/kelvor (by default ~/.local/share/kelvor). Paths are
// the system's bytes, never passed through a text encoding that could change them.
struct StoreLocation {
    QByteArray directory;  // empty when no home folder is known
    QByteArray store_path; // store.sqlite3
    QByteArray lock_path;  // store.lock, beside it

    static StoreLocation standard();
    static StoreLocation in(const QByteArray& directory);
};

// Why the store's folder cannot be trusted with the user's figures: no home to put it in, a
// symbolic link, not a folder, another user's, or writable by others. Empty when it can, and
// when there is no such folder yet. Looks without creating anything.
QString store_directory_problem(const QByteArray& directory);

// Creates the directory private to the user (0700) when missing, then checks that it is the
// user's own (store_directory_problem) and can be written. Returns an empty text on success,
// otherwise what went wrong.
QString prepare_store_directory(const QByteArray& directory);

// Why the file at `path` cannot be one of Kelvor's own files (the store, its lock): a symbolic
// link, something other than a regular file, or another user's file. Empty when it can, or
// when nothing is there yet; `what` names the file in the message ("the store").
QString own_file_problem(const QByteArray& path, const QString& what);

} // namespace kelvor::platform
