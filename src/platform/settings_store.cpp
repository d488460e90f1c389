#include "platform/settings_store.h"

#include "platform/sqlite_statement.h"
#include "platform/store_format.h"
#include "platform/store_location.h"
#include "platform/user_dirs.h"

#include <QFile>
#include <QTemporaryDir>
#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <limits>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace kelvor::platform {

namespace {

using sqlite::Statement;

constexpr int busy_timeout_ms = 5000;

struct CloseConnection {
    void operator()(sqlite3* db) const { sqlite3_close_v2(db); }
};
using Connection = std::unique_ptr<sqlite3, CloseConnection>;

[[noreturn]] void refuse(const QString& why) {
    throw StoreError(why.toStdString());
}

// A number edited by hand into the history stays a length a duration text can show.
qint32 clamped_to_int32(qint64 value) {
    return qint32(std::clamp<qint64>(value, std::numeric_limits<qint32>::min(),
                                     std::numeric_limits<qint32>::max()));
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
        refuse(QStringLiteral("cannot read the store %1: %2")
                   .arg(shown_path(path), QString::fromUtf8(sqlite3_errstr(rc))));
    sqlite3_db_config(db, SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, 1, nullptr);
    sqlite3_busy_timeout(db, busy_timeout_ms);
    sqlite3_extended_result_codes(db, 1);
    // The history is read page after page: mapped, its pages are read from the system's cache
    // without a copy.
    sqlite3_exec(db, "PRAGMA mmap_size = 268435456", nullptr, nullptr, nullptr);
    return reader;
}

} // namespace

// A private copy of a database and its -wal, in a folder of the user's alone, made to be read
// where SQLite could otherwise read the pair only by writing beside it: without the -shm,
// SQLite makes one, and a file that may not be Kelvor's is not to be touched. A backup that
// skips *-shm files restores such a pair. No copy of Kelvor runs on it (a running copy keeps
// its -shm), so the pair does not change while it is copied.
class PrivateCopy {
public:
    explicit PrivateCopy(const QByteArray& path) {
        const QString shown = shown_path(path);
        if (!folder_.isValid())
            refuse(QStringLiteral("cannot read the store %1: no private temporary folder (%2)")
                       .arg(shown, folder_.errorString()));
        path_ = QFile::encodeName(folder_.path()) + "/store.sqlite3";
        for (const char* suffix : {"", "-wal"}) {
            if (const int error = copy_file(path + suffix, path_ + suffix); error != 0)
                refuse(
                    QStringLiteral("cannot read the store %1: %2").arg(shown, error_text(error)));
        }
    }
    const QByteArray& path() const { return path_; }

private:
    // 0, or the errno of the failure. Only a regular file is copied, never through a link.
    static int copy_file(const QByteArray& from, const QByteArray& to) {
        const int in = ::open(from.constData(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
        if (in < 0)
            return errno;
        struct ::stat st {};
        if (::fstat(in, &st) != 0 || !S_ISREG(st.st_mode)) {
            ::close(in);
            return EINVAL;
        }
        const int out = ::open(to.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        int error = out < 0 ? errno : 0;
        char buffer[65536];
        while (error == 0) {
            const ssize_t got = ::read(in, buffer, sizeof buffer);
            if (got == 0)
                break;
            if (got < 0) {
                error = errno == EINTR ? 0 : errno;
                continue;
            }
            for (ssize_t done = 0; done < got && error == 0;) {
                const ssize_t put = ::write(out, buffer + done, std::size_t(got - done));
                if (put < 0)
                    error = errno == EINTR ? 0 : errno;
                else
                    done += put;
            }
        }
        ::close(in);
        if (out >= 0)
            ::close(out);
        return error;
    }

    QTemporaryDir folder_;
    QByteArray path_;
};

namespace {

// What is at the store's path, found by reading alone.
struct Inspection {
    enum class Found { nothing, empty_file, database } found = Found::nothing;
    StoreContents contents;
    Connection reader; // open on the database, and what its -wal adds, when there is one
    std::unique_ptr<PrivateCopy> copy; // what the reader reads, when it could not read in place
    bool closed_abruptly = false;      // the -wal still held changes: the last program was stopped
};

StoreContents classify_or_refuse(sqlite3* reader, const QString& shown) {
    try {
        return classify_store(reader, shown);
    } catch (const StoreError&) {
        refuse(QStringLiteral("%1 is not a Kelvor store (not an SQLite database, or damaged)")
                   .arg(shown));
    }
}

void refuse_unless_usable(const StoreContents& contents) {
    if (contents.kind == StoreContents::Kind::foreign ||
        contents.kind == StoreContents::Kind::newer)
        refuse(contents.problem);
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
            refuse(QStringLiteral("%1 is empty but SQLite's files beside it are not; Kelvor "
                                  "leaves them as they are")
                       .arg(shown));
        return {Inspection::Found::empty_file, {}, {}, {}};
    }
    Inspection found{Inspection::Found::database, {}, {}, {}};
    // A -wal of its header alone holds no change; SQLite 3.40 also fails to read through one.
    constexpr qint64 wal_header_bytes = 32;
    found.closed_abruptly = wal > wal_header_bytes;
    if (!found.closed_abruptly) {
        found.reader = open_reader(path, Through::file_alone);
    } else if (size_of(path + "-shm") >= 0) {
        // SQLite reads the -shm without writing it, and takes the readers' locks in it, so that
        // a program writing at the same moment cannot move pages under this read.
        found.reader = open_reader(path, Through::wal);
    } else {
        found.copy = std::make_unique<PrivateCopy>(path);
        found.reader = open_reader(found.copy->path(), Through::wal_of_a_copy);
    }
    found.contents = classify_or_refuse(found.reader.get(), shown);
    refuse_unless_usable(found.contents);
    // A file with nothing in it may be only the start of what the journal of an unfinished
    // change holds.
    if (found.contents.kind == StoreContents::Kind::empty && journal > 0)
        refuse(QStringLiteral("%1 cannot be told to be a Kelvor store without changing SQLite's "
                              "files beside it")
                   .arg(shown));
    return found;
}

// Refuses a store whose pages do not hold together: all of them, or those of the settings.
void check_whole(sqlite3* db, const QString& shown, bool settings_only = false) {
    Statement check(db, settings_only ? "PRAGMA quick_check(settings)" : "PRAGMA quick_check");
    if (!check.step() || check.text(0) != QLatin1String("ok"))
        refuse(QStringLiteral("%1 is damaged: %2").arg(shown, check.text(0)));
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
        refuse(QStringLiteral("cannot create the store %1: %2").arg(shown, error_text(errno)));
    ::close(fd);
    sqlite3* db = nullptr;
    sqlite3_open_v2(building.constData(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOFOLLOW,
                    nullptr);
    Connection made(db);
    try {
        sqlite::execute(db, "PRAGMA synchronous = FULL; BEGIN", shown);
        create_current_schema(db, shown);
        sqlite::execute(db, "COMMIT; PRAGMA journal_mode = WAL", shown);
    } catch (const StoreError&) {
        made.reset();
        ::unlink(building.constData());
        throw;
    }
    made.reset(); // the last connection: no -wal or -shm remain
    if (::rename(building.constData(), path.constData()) != 0) {
        const int error = errno;
        ::unlink(building.constData());
        refuse(QStringLiteral("cannot create the store %1: %2").arg(shown, error_text(error)));
    }
    // The new name is durable once the folder that holds it is on disk.
    sync_folder(path.left(path.lastIndexOf('/') + 1));
}

} // namespace

SqliteSettingsStore::SqliteSettingsStore(const QByteArray& path, Access access)
    : native_path_(path), path_(shown_path(path)), access_(access) {
    try {
        if (access_ == Access::read_only)
            open_for_reading();
        else
            open_for_writing();
    } catch (...) {
        // No destructor runs for a half-made object: close here, so that SQLite removes the
        // -wal and -shm files it made beside the store.
        sqlite3_close_v2(db_);
        db_ = nullptr;
        throw;
    }
}

SqliteSettingsStore::SqliteSettingsStore(const QString& path, Access access)
    : SqliteSettingsStore(QFile::encodeName(path), access) {}

void SqliteSettingsStore::open_for_writing() {
    Inspection found = inspect(native_path_);
    found.reader.reset();
    const bool was_there = found.found == Inspection::Found::database;
    if (!was_there)
        create_store_file(native_path_);
    // Never SQLITE_OPEN_CREATE: the file is there, and is the one that was read.
    const int rc = sqlite3_open_v2(
        native_path_.constData(), &db_,
        SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOFOLLOW | SQLITE_OPEN_NOMUTEX, nullptr);
    if (rc != SQLITE_OK)
        fail(QStringLiteral("cannot open the store"), rc);
    // SQLite falls back to reading a file it may not write; find out before the first read,
    // which would leave -wal and -shm files beside it.
    if (sqlite3_db_readonly(db_, "main") == 1)
        refuse(QStringLiteral("the store %1 cannot be written").arg(path_));
    sqlite3_busy_timeout(db_, busy_timeout_ms);
    sqlite3_extended_result_codes(db_, 1);
    file_id_ = file_id(native_path_);
    // Once more through this connection, which sees what another program may have changed
    // since: the file was read to be ours, so SQLite may now use its -wal and -shm.
    const StoreContents contents = classify_or_refuse(db_, path_);
    refuse_unless_usable(contents);
    found_format_ = was_there ? contents.version : 0;
    // Every page is checked only after an abrupt end, when a page may have been left half
    // written: the whole check takes time in proportion to the history, at every login. The
    // settings, which every start reads and writes, are checked each time.
    check_whole(db_, path_, !found.closed_abruptly);
    exec("PRAGMA journal_mode = WAL");
    exec("PRAGMA synchronous = FULL");
    if (contents.kind == StoreContents::Kind::empty) {
        transaction([this] { create_current_schema(db_, path_); });
    } else if (contents.version < store_formats().back().version || !contents.marked) {
        // An older store gets the newest format, and a copy that lost Kelvor's marks (an
        // sqlite3 .dump) gets them back, in one transaction: its settings stay as they are,
        // and the history of an older store starts with the next session.
        transaction([&] { upgrade_to_current_schema(db_, contents.version, path_); });
    }
}

void SqliteSettingsStore::open_for_reading() {
    Inspection found = inspect(native_path_);
    if (found.contents.kind == StoreContents::Kind::kelvor) {
        // A reader checks the settings only: the whole check costs time in proportion to the
        // history (12 ms for 100 years of sessions), which a reader that lists it reads
        // anyway, and SQLite refuses a damaged page when it is read.
        check_whole(found.reader.get(), path_, true);
        db_ = found.reader.release();
        copy_ = std::move(found.copy);
        found_format_ = found.contents.version;
        has_history_ = found_format_ >= 2;
        return;
    }
    // No store yet, or nothing in it: no figures, read from an empty store of the current
    // format that lives in memory only.
    open_in_memory();
}

void SqliteSettingsStore::open_in_memory() {
    const int rc =
        sqlite3_open_v2(":memory:", &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_MEMORY, nullptr);
    if (rc != SQLITE_OK)
        fail(QStringLiteral("cannot open the store"), rc);
    create_current_schema(db_, path_);
}

std::unique_ptr<SqliteSettingsStore> SqliteSettingsStore::settings_in_memory() {
    std::unique_ptr<SqliteSettingsStore> copy(new SqliteSettingsStore(*this, InMemory{}));
    Statement rows(db_, "SELECT seq, app, section, key, value FROM settings ORDER BY seq");
    copy->transaction([&] {
        Statement insert(copy->db_, "INSERT INTO settings (seq, app, section, key, value) "
                                    "VALUES (?1, ?2, ?3, ?4, ?5)");
        while (rows.step()) {
            insert.bind(1, rows.integer64(0));
            for (int column = 1; column < 5; ++column)
                insert.bind(column + 1, rows.text(column));
            insert.step();
            insert.reset();
        }
    });
    return copy;
}

SqliteSettingsStore::SqliteSettingsStore(const SqliteSettingsStore& original, InMemory)
    : native_path_(original.native_path_), path_(original.path_), access_(Access::read_write),
      found_format_(original.found_format_) {
    open_in_memory();
}

SqliteSettingsStore::~SqliteSettingsStore() {
    for (sqlite3_stmt* kept :
         {read_, write_, list_, begin_, commit_, add_session_, crash_session_, end_session_})
        sqlite3_finalize(kept);
    sqlite3_close_v2(db_);
}

void SqliteSettingsStore::fail(const QString& what, int rc) {
    const QString detail =
        db_ ? QString::fromUtf8(sqlite3_errmsg(db_)) : QString::fromUtf8(sqlite3_errstr(rc));
    refuse(QStringLiteral("%1 %2: %3").arg(what, path_, detail));
}

void SqliteSettingsStore::exec(const char* sql) {
    sqlite::execute(db_, sql, path_);
}

QString SqliteSettingsStore::read(const QString& section, const QString& key,
                                  const QString& fallback) {
    Statement s(db_, read_,
                "SELECT value FROM settings WHERE app = ?1 AND section = ?2 AND key = ?3");
    s.bind(1, QLatin1String(app_name)).bind(2, section).bind(3, key);
    return s.step() ? s.text(0) : fallback;
}

void SqliteSettingsStore::write(const QString& section, const QString& key, const QString& value) {
    // The upsert keeps a key's first seq, which is what gives list() its first-written order.
    transaction([&] {
        Statement s(db_, write_,
                    "INSERT INTO settings (app, section, key, value) VALUES (?1, ?2, ?3, ?4) "
                    "ON CONFLICT (app, section, key) DO UPDATE SET value = excluded.value");
        s.bind(1, QLatin1String(app_name)).bind(2, section).bind(3, key).bind(4, value);
        s.step();
    });
}

std::optional<SettingList> SqliteSettingsStore::list(const QString& section) {
    Statement s(db_, list_,
                "SELECT key, value FROM settings WHERE app = ?1 AND section = ?2 ORDER BY seq");
    s.bind(1, QLatin1String(app_name)).bind(2, section);
    SettingList pairs;
    while (s.step())
        pairs.emplace_back(s.text(0), s.text(1));
    if (pairs.empty())
        return std::nullopt;
    return pairs;
}

qint64 SqliteSettingsStore::add_running_session(const QString& started) {
    transaction([&] {
        Statement s(db_, add_session_,
                    "INSERT INTO sessions (started, seconds, ending) VALUES (?1, 0, 'running')");
        s.bind(1, started);
        s.step();
    });
    return sqlite3_last_insert_rowid(db_);
}

void SqliteSettingsStore::mark_running_session_crashed(qint32 seconds) {
    transaction([&] {
        // The last session marked running, found from the end of the history without reading
        // it all; not by the largest id, which a hand-edited row may hold.
        Statement s(db_, crash_session_,
                    "UPDATE sessions SET ending = 'crashed', seconds = ?1 WHERE id = "
                    "(SELECT id FROM sessions WHERE ending = 'running' ORDER BY id DESC LIMIT 1)");
        s.bind(1, qint64(seconds));
        s.step();
    });
}

void SqliteSettingsStore::mark_session_ended(qint64 id, qint32 seconds, const QString& ended) {
    transaction([&] {
        Statement s(db_, end_session_,
                    "UPDATE sessions SET ending = 'proper', seconds = ?2, ended = ?3 "
                    "WHERE id = ?1 AND ending = 'running'");
        s.bind(1, id).bind(2, qint64(seconds)).bind(3, ended);
        s.step();
    });
}

bool SqliteSettingsStore::for_each_session(const std::function<void(const StoredSession&)>& visit) {
    if (!has_history_)
        return false;
    Statement s(db_, "SELECT started, seconds, ending FROM sessions ORDER BY id");
    StoredSession session;
    while (s.step()) {
        const QByteArrayView ending = s.bytes(2);
        session.started = s.text(0);
        session.seconds = clamped_to_int32(s.integer64(1));
        session.ending = ending == "proper"    ? StoredSession::Ending::proper
                         : ending == "crashed" ? StoredSession::Ending::crashed
                                               : StoredSession::Ending::running;
        visit(session);
    }
    return true;
}

SqliteSettingsStore::FileId SqliteSettingsStore::file_id(const QByteArray& path) {
    struct ::stat st {};
    if (::stat(path.constData(), &st) != 0)
        return {};
    return {quint64(st.st_dev), quint64(st.st_ino)};
}

// Another file at the store's path must never receive what this connection writes: SQLite
// finds the -wal by the path, and would lay this connection's pages over the other file. So
// the -wal is emptied into the file this connection opened, and nothing more is written.
void SqliteSettingsStore::refuse_if_replaced() {
    if (file_id_.inode == 0 || (!replaced_ && file_id(native_path_) == file_id_))
        return; // a store in memory has no file
    if (!replaced_) {
        replaced_ = true;
        sqlite3_wal_checkpoint_v2(db_, nullptr, SQLITE_CHECKPOINT_TRUNCATE, nullptr, nullptr);
    }
    throw StoreReplaced(
        QStringLiteral("the store %1 was replaced or removed while Kelvor ran; nothing more is "
                       "written to it: start Kelvor again to go on with the store now there")
            .arg(path_)
            .toStdString());
}

void SqliteSettingsStore::transaction(const std::function<void()>& body) {
    if (access_ == Access::read_only)
        refuse(QStringLiteral("the store %1 is open for reading only").arg(path_));
    if (depth_ > 0) {
        ++depth_;
        try {
            body();
        } catch (...) {
            --depth_;
            throw;
        }
        --depth_;
        return;
    }
    refuse_if_replaced();
    // IMMEDIATE takes the write lock up front, so a busy store fails before any change.
    Statement(db_, begin_, "BEGIN IMMEDIATE").step();
    depth_ = 1;
    try {
        body();
        Statement(db_, commit_, "COMMIT").step();
    } catch (...) {
        depth_ = 0;
        sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
        throw;
    }
    depth_ = 0;
}

} // namespace kelvor::platform
