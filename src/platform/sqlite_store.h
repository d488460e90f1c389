#pragma once

#include "platform/sqlite_connection.h"
#include "platform/store.h"
#include "platform/store_file.h"

#include <QByteArray>
#include <QString>
#include <memory>

namespace kelvor::platform {

// The store as one SQLite file: WAL journal, synchronous FULL, one row per setting, one per
// session and one per day. Its file is opened, made and upgraded by store_file; the settings'
// operations and its transactions are in sqlite_store.cpp, the session history's in
// sqlite_session_history.cpp, the day ledger's in sqlite_day_ledger.cpp.
class SqliteStore final : public Store {
public:
    enum class Access {
        read_write, // creates the store when there is none
        read_only,  // never writes a byte, in the file or beside it
    };

    // Opens the store at `path` (the system's bytes). Throws StoreError, leaving everything
    // as it was, when the file is not a Kelvor store: it is told by reading alone, before any
    // write. A read-only store with no file yet reads every key as absent.
    explicit SqliteStore(const QByteArray& path, Access access = Access::read_write);
    explicit SqliteStore(const QString& path, Access access = Access::read_write);
    ~SqliteStore() override;
    SqliteStore(const SqliteStore&) = delete;
    SqliteStore& operator=(const SqliteStore&) = delete;

    QString read(const QString& section, const QString& key, const QString& fallback) override;
    void write(const QString& section, const QString& key, const QString& value) override;
    std::optional<SettingList> list(const QString& section) override;
    void transaction(FunctionRef<void()> body) override;

    qint64 add_running_session(const QString& started) override;
    void save_running_locked_seconds(qint64 id, qint32 locked_seconds) override;
    void mark_running_session_crashed(qint32 seconds) override;
    void mark_session_ended(qint64 id, qint32 seconds, qint32 locked_seconds,
                            const QString& ended) override;
    bool for_each_session(const std::function<void(const HistorySession&)>& visit) override;

    void add_to_day(const QString& day, qint32 seconds, qint32 locked_seconds,
                    int sessions) override;
    bool for_each_day(const QString& first, const QString& last,
                      const std::function<void(const LedgerDay&)>& visit) override;

    // What was found at the path when it was opened: 0 when there was no store yet (nothing,
    // or an empty file), else the format it had then, before any upgrade.
    int found_format() const { return found_format_; }

    // A store in memory that starts as a copy of this one's settings, with an empty history:
    // a change can be tried on it, as a reader may, without writing a byte to the file.
    std::unique_ptr<SqliteStore> settings_in_memory();

private:
    struct InMemory {};
    SqliteStore(const SqliteStore& original, InMemory);

    void refuse_if_replaced();

    QByteArray native_path_;
    QString path_; // as messages show it
    Access access_;
    int found_format_ = 0;
    // The format read: older than the newest only for a store read as it is.
    int format_ = 0;
    FileId file_id_; // the file that was opened for writing
    bool replaced_ = false;
    std::unique_ptr<PrivateCopy> copy_; // what a reader reads when it could not read in place
    sqlite::Connection db_;
    sqlite::KeptStatements kept_; // finalized before db_ closes
    int depth_ = 0;
    // The row of the key written last: the running seconds are written every minute.
    struct WrittenRow {
        QString section;
        QString key;
        qint64 seq = 0;
    };
    WrittenRow last_written_;
};

} // namespace kelvor::platform
