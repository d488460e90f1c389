#include "platform/store_file.h"

#include "platform/private_copy.h"
#include "platform/sqlite_statement.h"
#include "platform/store_location.h"
#include "platform/user_dirs.h"

#include <QFile>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kelvor::platform {

namespace {

using sqlite::Connection;
using sqlite::Statement;

constexpr int busy_timeout_ms = 5000;

[[noreturn]] void refuse(const QString& why) {
    throw StoreError(why.toStdString());
}

[[noreturn]] void refuse_opening(sqlite3* db, const QString& shown, int rc) {
    const QString detail =
        db ? QString::fromUtf8(sqlite3_errmsg(db)) : QString::fromUtf8(sqlite3_errstr(rc));
    refuse(QStringLiteral("cannot open the store %1: %2. Check that the file and its folder are "
                          "yours and the disk has room, then start Kelvor again.")
               .arg(shown, detail));
}

// What every refusal of a file that is not Kelvor's store says the user can do.
QString not_ours_remedy() {
    return QStringLiteral(" Move it away and Kelvor starts a new store there, or set "
                          "XDG_DATA_HOME to another folder.");
}

// Whether the file begins as every SQLite database does: one that cannot be read is then
// taken for a damaged store, which may still be partly recovered, rather than another file.
bool looks_like_sqlite(const QByteArray& path) {
    QFile file(QFile::decodeName(path));
    return file.open(QIODevice::ReadOnly) && file.read(16) == QByteArray("SQLite format 3", 16);
}

// The size of a file, or -1 when there is none.
qint64 size_of(const QByteArray& path) {
    struct ::stat st {};
    return ::lstat(path.constData(), &st) == 0 ? qint64(st.st_size) : -1;
}

// How a reader reaches a database.
enum class Through {
    file_alone,    // the file holds everything: read just that file, since an ordinary reader
                   // would create a -wal and -shm beside it
    wal,           // the file and its -wal, reading the -shm without writing it
    wal_of_a_copy, // a private copy: SQLite may make its -shm and read the -wal as it likes
};

// A connection that reads the database at `path` and writes nothing, in it or beside it.
Connection open_reader(const QByteArray& path, Through through) {
    const char* parameters = through == Through::file_alone ? "?immutable=1"
                             : through == Through::wal      ? "?mode=ro&readonly_shm=1"
                                                            : "?mode=ro";
    const QByteArray uri = "file:" + path.toPercentEncoding("/") + parameters;
    sqlite3* db = nullptr;
    const int rc = sqlite3_open_v2(uri.constData(), &db,
                                   SQLITE_OPEN_READONLY | SQLITE_OPEN_URI | SQLITE_OPEN_NOFOLLOW |
                                       SQLITE_OPEN_NOMUTEX,
                                   nullptr);
    Connection reader(db);
    if (rc != SQLITE_OK)
        refuse(QStringLiteral("cannot read the store %1: %2. Check that the file is yours, then "
                              "try again.")
                   .arg(shown_path(path), QString::fromUtf8(sqlite3_errstr(rc))));
    sqlite3_db_config(db, SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, 1, nullptr);
    sqlite3_busy_timeout(db, busy_timeout_ms);
    sqlite3_extended_result_codes(db, 1);
    // The history is read page after page: mapped, its pages are read from the system's cache
    // without a copy.
    sqlite3_exec(db, "PRAGMA mmap_size = 268435456", nullptr, nullptr, nullptr);
    return reader;
}

// Whether the -wal beside `path` holds changes: a program had the store open and was stopped.
// A -wal of its header alone holds none.
bool wal_holds_changes(const QByteArray& path) {
    constexpr qint64 wal_header_bytes = 32;
    return size_of(path + "-wal") > wal_header_bytes;
}

// A reader of the database at `path` and of what its -wal adds, writing nothing: the file
// alone when the -wal holds nothing (SQLite 3.40 also fails to read through a -wal of its
// header alone), else through the -wal; without the -shm, through a private copy of the pair,
// kept in `copy`.
Connection open_as_sqlite_reads(const QByteArray& path, std::unique_ptr<PrivateCopy>& copy) {
    if (!wal_holds_changes(path))
        return open_reader(path, Through::file_alone);
    // SQLite reads the -shm without writing it, and takes the readers' locks in it, so that a
    // program writing at the same moment cannot move pages under this read.
    if (size_of(path + "-shm") >= 0)
        return open_reader(path, Through::wal);
    copy = std::make_unique<PrivateCopy>(path);
    return open_reader(copy->path(), Through::wal_of_a_copy);
}

// What is at the store's path, found by reading alone.
struct Inspection {
    enum class Found { nothing, empty_file, database } found = Found::nothing;
    StoreContents contents;
    Connection reader; // open on the database, and what its -wal adds, when there is one
    std::unique_ptr<PrivateCopy> copy; // what the reader reads, when it could not read in place
    bool closed_abruptly = false;      // the -wal still held changes: the last program was stopped
};

StoreContents classify_or_refuse(sqlite3* reader, const QByteArray& path) {
    const QString shown = shown_path(path);
    try {
        return classify_store(reader, shown);
    } catch (const StoreBusy&) {
        throw;
    } catch (const StoreError&) {
        if (looks_like_sqlite(path))
            throw StoreDamaged(sqlite::damaged_store_problem(shown).toStdString());
        refuse(
            QStringLiteral("%1 is not a Kelvor store: it is not an SQLite database.").arg(shown) +
            not_ours_remedy());
    }
}

void refuse_unless_usable(const StoreContents& contents) {
    if (contents.kind == StoreContents::Kind::foreign)
        refuse(contents.problem + not_ours_remedy());
    if (contents.kind == StoreContents::Kind::newer)
        refuse(contents.problem +
               QStringLiteral(" Start the newer Kelvor again, or move the file away to start a "
                              "new store with this one."));
}

// Refuses, by throwing StoreError before a byte is written, anything that is not the user's
// own Kelvor store, an empty file, or nothing at all. The database is read as SQLite itself
// reads it: through its -wal, where the last changes can be, and where they must be read from
// when a program was stopped while it copied them into the file (the file's first page may
// then already name pages that the file does not hold yet).
Inspection inspect(const QByteArray& path) {
    const QString shown = shown_path(path);
    if (const QString problem = own_file_problem(path, QStringLiteral("the store"));
        !problem.isEmpty())
        refuse(problem);
    const qint64 size = size_of(path);
    if (size < 0)
        return {};
    const qint64 wal = size_of(path + "-wal");
    const qint64 journal = size_of(path + "-journal");
    if (size == 0) {
        // SQLite would throw away what is beside an empty file; that is not ours to lose.
        if (wal > 0 || journal > 0)
            refuse(QStringLiteral("%1 is empty but SQLite's files beside it are not, and Kelvor "
                                  "leaves them as they are. Move the three files away and "
                                  "Kelvor starts a new store.")
                       .arg(shown));
        return {Inspection::Found::empty_file, {}, {}, {}};
    }
    Inspection found{Inspection::Found::database, {}, {}, {}};
    found.closed_abruptly = wal_holds_changes(path);
    found.reader = open_as_sqlite_reads(path, found.copy);
    found.contents = classify_or_refuse(found.reader.get(), path);
    refuse_unless_usable(found.contents);
    // A file with nothing in it may be only the start of what the journal of an unfinished
    // change holds.
    if (found.contents.kind == StoreContents::Kind::empty && journal > 0)
        refuse(QStringLiteral("%1 cannot be told to be a Kelvor store without changing the "
                              "unfinished change SQLite left beside it (%1-journal). Open it "
                              "once with sqlite3 to finish that change, or move both files "
                              "away.")
                   .arg(shown));
    return found;
}

// Refuses a store whose pages do not hold together: all of them, or those of the settings.
void check_whole(sqlite3* db, const QString& shown, bool settings_only = false) {
    if (!pages_hold_together(db, settings_only))
        throw StoreDamaged(sqlite::damaged_store_problem(shown).toStdString());
}

} // namespace

bool pages_hold_together(sqlite3* db, bool settings_only) {
    Statement check(db, settings_only ? "PRAGMA quick_check(settings)" : "PRAGMA quick_check");
    return check.step() && check.text(0) == QLatin1String("ok");
}

// A new store is made whole under another name and then renamed into place, so that the
// store's own name only ever holds a complete store, whenever the program is stopped.
void create_store_file(const QByteArray& path) {
    const QString shown = shown_path(path);
    const QByteArray building = path + ".new";
    for (const char* leftover : {"", "-journal", "-wal", "-shm"})
        ::unlink((building + leftover).constData()); // from a start that was stopped here
    const int fd =
        ::open(building.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0)
        refuse(QStringLiteral("cannot create the store %1: %2. Check that the folder is yours "
                              "and the disk has room, then start Kelvor again.")
                   .arg(shown, error_text(errno)));
    ::close(fd);
    sqlite3* db = nullptr;
    sqlite3_open_v2(building.constData(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOFOLLOW,
                    nullptr);
    Connection made(db);
    try {
        // Pages of 1 KiB: a minute's save rewrites two pages (the running seconds' setting and
        // the day's row), and the WAL writes and checksums each page whole. Against SQLite's 4
        // KiB, a quarter of the bytes a minute and 7,000 instructions less per save; reading
        // a long history costs 1 % more. Set before anything is written, the only time it
        // can be.
        sqlite::execute(db, "PRAGMA synchronous = FULL; PRAGMA page_size = 1024; BEGIN");
        create_current_schema(db);
        sqlite::execute(db, "COMMIT; PRAGMA journal_mode = WAL");
    } catch (const StoreError&) {
        made.reset();
        ::unlink(building.constData());
        throw;
    }
    made.reset(); // the last connection: no -wal or -shm remain
    if (::rename(building.constData(), path.constData()) != 0) {
        const int error = errno;
        ::unlink(building.constData());
        refuse(QStringLiteral("cannot create the store %1: %2. Check that the folder is yours "
                              "and the disk has room, then start Kelvor again.")
                   .arg(shown, error_text(error)));
    }
    // The new name is durable once the folder that holds it is on disk.
    sync_folder(path.left(path.lastIndexOf('/') + 1));
}

FileId file_id(const QByteArray& path) {
    struct ::stat st {};
    if (::stat(path.constData(), &st) != 0)
        return {};
    return {quint64(st.st_dev), quint64(st.st_ino)};
}

OpenedFile open_to_write(const QByteArray& path) {
    const QString shown = shown_path(path);
    Inspection found = inspect(path);
    found.reader.reset();
    const bool was_there = found.found == Inspection::Found::database;
    if (!was_there)
        create_store_file(path);
    OpenedFile opened;
    sqlite3* db = nullptr;
    // Never SQLITE_OPEN_CREATE: the file is there, and is the one that was read.
    const int rc = sqlite3_open_v2(
        path.constData(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOFOLLOW | SQLITE_OPEN_NOMUTEX,
        nullptr);
    // Closed at any refusal from here on, so that SQLite removes the -wal and -shm files it
    // made beside the store.
    opened.db.reset(db);
    if (rc != SQLITE_OK)
        refuse_opening(db, shown, rc);
    // SQLite falls back to reading a file it may not write; find out before the first read,
    // which would leave -wal and -shm files beside it.
    if (sqlite3_db_readonly(db, "main") == 1)
        refuse(QStringLiteral("the store %1 cannot be written, so no session can be recorded in "
                              "it. Make it writable for you (chmod u+w %1) and start Kelvor "
                              "again.")
                   .arg(shown));
    sqlite3_busy_timeout(db, busy_timeout_ms);
    sqlite3_extended_result_codes(db, 1);
    opened.id = file_id(path);
    // Once more through this connection, which sees what another program may have changed
    // since: the file was read to be ours, so SQLite may now use its -wal and -shm.
    opened.contents = classify_or_refuse(db, path);
    refuse_unless_usable(opened.contents);
    opened.found_format = was_there ? opened.contents.version : 0;
    // Every page is checked only after an abrupt end, when a page may have been left half
    // written: the whole check takes time in proportion to the history, at every login. The
    // settings, which every start reads and writes, are checked each time.
    check_whole(db, shown, !found.closed_abruptly);
    sqlite::execute(db, "PRAGMA journal_mode = WAL");
    sqlite::execute(db, "PRAGMA synchronous = FULL");
    return opened;
}

OpenedFile open_to_read(const QByteArray& path) {
    const QString shown = shown_path(path);
    Inspection found = inspect(path);
    OpenedFile opened;
    if (found.contents.kind == StoreContents::Kind::kelvor) {
        // A reader checks the settings only: the whole check costs time in proportion to the
        // history (12 ms for 100 years of sessions), which a reader that lists it reads
        // anyway, and SQLite refuses a damaged page when it is read.
        check_whole(found.reader.get(), shown, true);
        opened.db = std::move(found.reader);
        opened.copy = std::move(found.copy);
        opened.found_format = found.contents.version;
        opened.format = found.contents.version;
        return opened;
    }
    // No store yet, or nothing in it: no figures, read from an empty store of the newest
    // format that lives in memory only.
    opened.db = open_in_memory(shown);
    opened.format = store_formats().back().version;
    return opened;
}

OpenedFile open_as_it_is(const QByteArray& path) {
    if (const QString problem = own_file_problem(path, QStringLiteral("the store"));
        !problem.isEmpty())
        refuse(problem);
    OpenedFile opened;
    opened.db = open_as_sqlite_reads(path, opened.copy);
    if (sqlite3_exec(opened.db.get(), "SELECT count(*) FROM sqlite_schema", nullptr, nullptr,
                     nullptr) == SQLITE_CORRUPT) {
        // SQLite refuses a file shorter than its first page says before it reads a table.
        opened.db.reset();
        if (!opened.copy)
            opened.copy = std::make_unique<PrivateCopy>(path);
        opened.copy->restore_length();
        opened.db = open_reader(opened.copy->path(), Through::wal_of_a_copy);
    }
    return opened;
}

sqlite::Connection open_in_memory(const QString& shown_path) {
    sqlite3* db = nullptr;
    const int rc =
        sqlite3_open_v2(":memory:", &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_MEMORY, nullptr);
    Connection memory(db);
    if (rc != SQLITE_OK)
        refuse_opening(db, shown_path, rc);
    create_current_schema(db);
    return memory;
}

} // namespace kelvor::platform
