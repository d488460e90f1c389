#include "platform/settings_store.h"

#include <QFile>
#include <QFileInfo>
#include <fcntl.h>
#include <sqlite3.h>
#include <unistd.h>

namespace kelvor::platform {

namespace {

constexpr int schema_version = 1;
constexpr int busy_timeout_ms = 5000;

sqlite3_stmt* prepare(sqlite3* db, const char* sql, unsigned int flags) {
    sqlite3_stmt* stmt = nullptr;
    if (sqlite3_prepare_v3(db, sql, -1, flags, &stmt, nullptr) != SQLITE_OK) {
        throw StoreError(QStringLiteral("cannot prepare a statement: %1")
                             .arg(QString::fromUtf8(sqlite3_errmsg(db)))
                             .toStdString());
    }
    return stmt;
}

// One prepared statement for the length of a call: either a one-off, finalized at the end,
// or one the store keeps, reset at the end so it holds no lock and is ready for the next call.
class Statement {
public:
    Statement(sqlite3* db, const char* sql) : db_(db), stmt_(prepare(db, sql, 0)), kept_(false) {}
    // Compiling SQL is most of the CPU cost of a small read or write, so the statements every
    // call uses are compiled once per connection.
    Statement(sqlite3* db, sqlite3_stmt*& kept, const char* sql) : db_(db), kept_(true) {
        if (kept == nullptr)
            kept = prepare(db, sql, SQLITE_PREPARE_PERSISTENT);
        stmt_ = kept;
    }
    ~Statement() {
        if (kept_) {
            sqlite3_reset(stmt_);
            sqlite3_clear_bindings(stmt_);
        } else {
            sqlite3_finalize(stmt_);
        }
    }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    Statement& bind(int index, const QString& text) {
        const QByteArray utf8 = text.toUtf8();
        sqlite3_bind_text(stmt_, index, utf8.constData(), int(utf8.size()), SQLITE_TRANSIENT);
        return *this;
    }
    // True while a row is available; throws on any error.
    bool step() {
        const int rc = sqlite3_step(stmt_);
        if (rc == SQLITE_ROW)
            return true;
        if (rc == SQLITE_DONE)
            return false;
        throw StoreError(QStringLiteral("store access failed: %1")
                             .arg(QString::fromUtf8(sqlite3_errmsg(db_)))
                             .toStdString());
    }
    QString text(int column) const {
        const auto* data = reinterpret_cast<const char*>(sqlite3_column_text(stmt_, column));
        return QString::fromUtf8(data, sqlite3_column_bytes(stmt_, column));
    }
    int integer(int column) const { return sqlite3_column_int(stmt_, column); }

private:
    sqlite3* db_;
    sqlite3_stmt* stmt_ = nullptr;
    bool kept_;
};

// Creates the file itself so that it is private to the user from its first byte.
void create_private_file(const QString& path) {
    const QByteArray native = QFile::encodeName(path);
    const int fd = ::open(native.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd >= 0)
        ::close(fd);
}

} // namespace

SqliteSettingsStore::SqliteSettingsStore(const QString& path) : path_(path) {
    try {
        open();
    } catch (...) {
        // No destructor runs for a half-made object: close here, so that SQLite removes the
        // -wal and -shm files it made beside a file that is not ours.
        sqlite3_close_v2(db_);
        db_ = nullptr;
        throw;
    }
}

void SqliteSettingsStore::open() {
    const bool existed = QFileInfo::exists(path_);
    if (!existed)
        create_private_file(path_);
    const int rc = sqlite3_open_v2(QFile::encodeName(path_).constData(), &db_,
                                   SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr);
    if (rc != SQLITE_OK)
        fail(QStringLiteral("cannot open the store"), rc);
    // SQLite falls back to reading a file it may not write; find out before the first read,
    // which would leave -wal and -shm files beside it.
    if (sqlite3_db_readonly(db_, "main") == 1)
        throw StoreError(QStringLiteral("the store %1 cannot be written").arg(path_).toStdString());
    sqlite3_busy_timeout(db_, busy_timeout_ms);
    sqlite3_extended_result_codes(db_, 1);
    const bool fresh = check_is_ours();
    // Only a file that is ours (or empty) gets this far, so these are the first writes.
    exec("PRAGMA journal_mode = WAL");
    exec("PRAGMA synchronous = FULL");
    if (!fresh)
        return;
    // Two processes may both find the file empty (a second copy racing the first, or a
    // reader), so the creation tolerates the table appearing meanwhile.
    transaction([this] {
        exec("CREATE TABLE IF NOT EXISTS settings ("
             " seq INTEGER PRIMARY KEY,"
             " app TEXT NOT NULL,"
             " section TEXT NOT NULL,"
             " key TEXT NOT NULL,"
             " value TEXT NOT NULL,"
             " UNIQUE (app, section, key))");
        exec("PRAGMA user_version = 1");
    });
}

SqliteSettingsStore::~SqliteSettingsStore() {
    for (sqlite3_stmt* kept : {read_, write_, list_, begin_, commit_})
        sqlite3_finalize(kept);
    sqlite3_close_v2(db_);
}

// Refuses, without writing a byte, any file that is not an empty database or a Kelvor store.
// True when the database is empty and still needs its table.
bool SqliteSettingsStore::check_is_ours() {
    int version = 0;
    int tables = 0;
    try {
        Statement v(db_, "PRAGMA user_version");
        if (v.step())
            version = v.integer(0);
        Statement t(db_, "SELECT count(*) FROM sqlite_master WHERE type = 'table'");
        if (t.step())
            tables = t.integer(0);
    } catch (const StoreError&) {
        throw StoreError(QStringLiteral("%1 is not a Kelvor store (not an SQLite database, or "
                                        "damaged)")
                             .arg(path_)
                             .toStdString());
    }
    if (version == 0 && tables == 0)
        return true;
    const QStringList expected{"seq", "app", "section", "key", "value"};
    QStringList columns;
    Statement info(db_, "SELECT name FROM pragma_table_info('settings') ORDER BY cid");
    while (info.step())
        columns << info.text(0);
    if (version != schema_version || columns != expected) {
        throw StoreError(QStringLiteral("%1 is not a Kelvor store (unexpected tables or version)")
                             .arg(path_)
                             .toStdString());
    }
    Statement check(db_, "PRAGMA quick_check");
    if (!check.step() || check.text(0) != QLatin1String("ok")) {
        throw StoreError(
            QStringLiteral("%1 is damaged: %2").arg(path_, check.text(0)).toStdString());
    }
    return false;
}

void SqliteSettingsStore::fail(const QString& what, int rc) {
    const QString detail =
        db_ ? QString::fromUtf8(sqlite3_errmsg(db_)) : QString::fromUtf8(sqlite3_errstr(rc));
    throw StoreError(QStringLiteral("%1 %2: %3").arg(what, path_, detail).toStdString());
}

void SqliteSettingsStore::exec(const char* sql) {
    char* message = nullptr;
    const int rc = sqlite3_exec(db_, sql, nullptr, nullptr, &message);
    if (rc != SQLITE_OK) {
        const QString detail = QString::fromUtf8(message ? message : sqlite3_errstr(rc));
        sqlite3_free(message);
        throw StoreError(
            QStringLiteral("store access failed on %1: %2").arg(path_, detail).toStdString());
    }
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

void SqliteSettingsStore::transaction(const std::function<void()>& body) {
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
