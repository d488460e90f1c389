#pragma once

#include <QByteArray>
#include <QString>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <utility>
#include <vector>

struct sqlite3;
struct sqlite3_stmt;

namespace kelvor::platform {

// The one application name every value is stored under.
inline constexpr const char* app_name = "KELVOR";

using SettingList = std::vector<std::pair<QString, QString>>;

// One session of the store's history, as stored.
struct StoredSession {
    enum class Ending { running, proper, crashed }; // stored as these words
    QString started;                                // ISO 8601 with the UTC offset of its moment
    qint32 seconds = 0;
    Ending ending = Ending::running;
};

// Raised when the store cannot be opened, is not ours, or a statement fails.
class StoreError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Raised for every write once the store's file was replaced or removed under the program (a
// backup restored with cp or mv while Kelvor ran): trying again cannot help.
class StoreReplaced : public StoreError {
public:
    using StoreError::StoreError;
};

class PrivateCopy;

// Text values addressed by section and key, kept in the order of their first write.
class SettingsStore {
public:
    virtual ~SettingsStore() = default;

    // The stored text, or `fallback` when the key (or its section) does not exist.
    virtual QString read(const QString& section, const QString& key, const QString& fallback) = 0;
    virtual void write(const QString& section, const QString& key, const QString& value) = 0;
    // All pairs of a section in first-written order; nullopt when the section holds no key.
    virtual std::optional<SettingList> list(const QString& section) = 0;
    // Runs `body` so that all of its writes reach the disk together or not at all.
    // Nested calls join the outermost transaction. An exception from `body` rolls back.
    virtual void transaction(const std::function<void()>& body) = 0;

    // The session history, one row per session, written by the start and the end only.
    // A new session, running from `started` (ISO 8601); returns its id.
    virtual qint64 add_running_session(const QString& started) = 0;
    // The last session, if still marked running, ends as crashed, booked with `seconds`.
    virtual void mark_running_session_crashed(qint32 seconds) = 0;
    // Session `id`, if still running, ends properly at `ended` (ISO 8601) after `seconds`.
    virtual void mark_session_ended(qint64 id, qint32 seconds, const QString& ended) = 0;
    // Visits every session in the order they started, one at a time: a long history is never
    // held whole. False for a store of the first release, which kept no history.
    virtual bool for_each_session(const std::function<void(const StoredSession&)>& visit) = 0;
};

// The store as one SQLite file: WAL journal, synchronous FULL, one row per setting.
class SqliteSettingsStore final : public SettingsStore {
public:
    enum class Access {
        read_write, // creates the store when there is none
        read_only,  // never writes a byte, in the file or beside it
    };

    // Opens the store at `path` (the system's bytes). Throws StoreError, leaving everything
    // as it was, when the file is not a Kelvor store: it is told by reading alone, before any
    // write. A read-only store with no file yet reads every key as absent.
    explicit SqliteSettingsStore(const QByteArray& path, Access access = Access::read_write);
    explicit SqliteSettingsStore(const QString& path, Access access = Access::read_write);
    ~SqliteSettingsStore() override;
    SqliteSettingsStore(const SqliteSettingsStore&) = delete;
    SqliteSettingsStore& operator=(const SqliteSettingsStore&) = delete;

    QString read(const QString& section, const QString& key, const QString& fallback) override;
    void write(const QString& section, const QString& key, const QString& value) override;
    std::optional<SettingList> list(const QString& section) override;
    void transaction(const std::function<void()>& body) override;
    qint64 add_running_session(const QString& started) override;
    void mark_running_session_crashed(qint32 seconds) override;
    void mark_session_ended(qint64 id, qint32 seconds, const QString& ended) override;
    bool for_each_session(const std::function<void(const StoredSession&)>& visit) override;

    const QString& path() const { return path_; }
    // What was found at the path when it was opened: 0 when there was no store yet (nothing,
    // or an empty file), else the format it had then, before any upgrade.
    int found_format() const { return found_format_; }

    // A store in memory that starts as a copy of this one's settings, with an empty history:
    // a change can be tried on it, as a reader may, without writing a byte to the file.
    std::unique_ptr<SqliteSettingsStore> settings_in_memory();

private:
    struct InMemory {};
    SqliteSettingsStore(const SqliteSettingsStore& original, InMemory);

    // Which file a path names, to notice when another file takes its place.
    struct FileId {
        quint64 device = 0;
        quint64 inode = 0; // 0: no file
        bool operator==(const FileId&) const = default;
    };
    static FileId file_id(const QByteArray& path);
    void refuse_if_replaced();

    void open_for_writing();
    void open_for_reading();
    void open_in_memory();
    void exec(const char* sql);
    [[noreturn]] void fail(const QString& what, int rc);

    QByteArray native_path_;
    QString path_; // as messages show it
    Access access_;
    int found_format_ = 0;
    bool has_history_ = true; // false: a first-release store, read as it is
    FileId file_id_;          // the file that was opened for writing
    bool replaced_ = false;
    std::unique_ptr<PrivateCopy> copy_; // what a reader reads when it could not read in place
    sqlite3* db_ = nullptr;
    int depth_ = 0;
    // Statements compiled on first use and kept for the life of the connection.
    sqlite3_stmt* read_ = nullptr;
    sqlite3_stmt* write_ = nullptr;
    sqlite3_stmt* list_ = nullptr;
    sqlite3_stmt* begin_ = nullptr;
    sqlite3_stmt* commit_ = nullptr;
    sqlite3_stmt* add_session_ = nullptr;
    sqlite3_stmt* crash_session_ = nullptr;
    sqlite3_stmt* end_session_ = nullptr;
};

} // namespace kelvor::platform
