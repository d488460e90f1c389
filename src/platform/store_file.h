#pragma once

#include "platform/private_copy.h"
#include "platform/sqlite_connection.h"
#include "platform/store_format.h"

#include <QByteArray>
#include <QString>
#include <memory>

// The store's file: what is at its path, told by reading alone; a new store made whole; a
// connection opened on it to write or to read. What the store then does through that
// connection is the SqliteStore's.
namespace kelvor::platform {

// Which file a path names, to notice when another file takes its place.
struct FileId {
    quint64 device = 0;
    quint64 inode = 0; // 0: no file
    bool operator==(const FileId&) const = default;
};
FileId file_id(const QByteArray& path);

// A connection on the store, and what was found at its path.
struct OpenedFile {
    sqlite::Connection db;
    // 0 when there was no store yet (nothing, or an empty file), else the format it had then.
    int found_format = 0;
    // What the writing connection found: what it takes to bring the store to the newest format.
    StoreContents contents;
    // Written: the file that was opened.
    FileId id;
    // Read: the format of what is read (the newest for a store in memory).
    int format = 0;
    // Read: what is read when the file could not be read in place.
    std::unique_ptr<PrivateCopy> copy;
};

// Opens the store at `path` (the system's bytes) to write: told to be a Kelvor store by reading
// alone, made when there is none, told again through the writing connection, and its pages
// checked. Throws StoreError, leaving everything as it was, when it is not the user's own
// Kelvor store. Its format is brought up to date by bring_to_newest_format (store_format.h),
// in the caller's first transaction.
OpenedFile open_to_write(const QByteArray& path);

// Opens the store at `path` to read, never writing a byte, in it or beside it. With no store
// there yet, or an empty file, the connection is on an empty store of the newest format in
// memory.
OpenedFile open_to_read(const QByteArray& path);

// Opens the database at `path` to read as SQLite itself reads it (through its -wal, or a
// private copy of the pair), writing nothing, and without telling or checking what it holds:
// what is left of a damaged store can then be read. A file cut short is read from a private
// copy grown to the length it says it has.
OpenedFile open_as_it_is(const QByteArray& path);

// Whether every page of the database on `db` holds together (PRAGMA quick_check), or every page
// of its settings alone.
bool pages_hold_together(sqlite3* db, bool settings_only = false);

// Makes a new, empty store of the newest format at `path`: whole under another name first, then
// renamed into place, so that `path` never holds half a store.
void create_store_file(const QByteArray& path);

// An empty store of the newest format that lives in memory only; `shown_path` for messages.
sqlite::Connection open_in_memory(const QString& shown_path);

} // namespace kelvor::platform
