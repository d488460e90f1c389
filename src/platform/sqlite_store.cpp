#include "platform/sqlite_store.h"

#include "platform/sqlite_statement.h"
#include "platform/store_format.h"
#include "platform/user_dirs.h"

#include <QFile>

namespace kelvor::platform {

using sqlite::Statement;

SqliteStore::SqliteStore(const QByteArray& path, Access access)
    : native_path_(path), path_(shown_path(path)), access_(access) {
    if (access_ == Access::read_only) {
        OpenedFile opened = open_to_read(native_path_);
        db_ = std::move(opened.db);
        copy_ = std::move(opened.copy);
        found_format_ = opened.found_format;
        format_ = opened.format;
        return;
    }
    OpenedFile opened = open_to_write(native_path_);
    db_ = std::move(opened.db);
    file_id_ = opened.id;
    found_format_ = opened.found_format;
    format_ = store_formats().back().version;
    // An older store gets the newest format in one transaction: its settings stay as they
    // are, and its history starts with the next session.
    if (needs_newest_format(opened.contents))
        transaction([&] { bring_to_newest_format(db_.get(), opened.contents); });
}

SqliteStore::SqliteStore(const QString& path, Access access)
    : SqliteStore(QFile::encodeName(path), access) {}

SqliteStore::~SqliteStore() = default;

std::unique_ptr<SqliteStore> SqliteStore::settings_in_memory() {
    std::unique_ptr<SqliteStore> copy(new SqliteStore(*this, InMemory{}));
    Statement rows(db_.get(), "SELECT seq, app, section, key, value FROM settings ORDER BY seq");
    copy->transaction([&] {
        Statement insert(copy->db_.get(), "INSERT INTO settings (seq, app, section, key, value) "
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

SqliteStore::SqliteStore(const SqliteStore& original, InMemory)
    : native_path_(original.native_path_), path_(original.path_), access_(Access::read_write),
      found_format_(original.found_format_), format_(store_formats().back().version),
      db_(open_in_memory(path_)) {}

QString SqliteStore::read(const QString& section, const QString& key, const QString& fallback) {
    Statement s(db_.get(), kept_,
                "SELECT value FROM settings WHERE app = ?1 AND section = ?2 AND key = ?3");
    s.bind(1, app_name).bind(2, section).bind(3, key);
    return s.step() ? s.text(0) : fallback;
}

void SqliteStore::write(const QString& section, const QString& key, const QString& value) {
    // A key keeps its first seq, which is what gives list() its first-written order. Most
    // writes change a key that is there (the minute's save among them): an UPDATE finds it
    // with half the look-ups of an upsert, and the key written last is found by its seq, with
    // one look-up in the table instead of one in the key's index too. The row is still checked
    // to be that key's: a hand-edited store may have given the seq to another.
    transaction([&] {
        if (last_written_.seq != 0 && last_written_.key == key &&
            last_written_.section == section) {
            Statement update(db_.get(), kept_,
                             "UPDATE settings SET value = ?4 "
                             "WHERE seq = ?5 AND app = ?1 AND section = ?2 AND key = ?3");
            update.bind(1, app_name).bind(2, section).bind(3, key).bind(4, value);
            update.bind(5, last_written_.seq).step();
            if (sqlite3_changes(db_.get()) > 0)
                return;
        }
        last_written_ = {section, key, 0};
        Statement update(db_.get(), kept_,
                         "UPDATE settings SET value = ?4 "
                         "WHERE app = ?1 AND section = ?2 AND key = ?3 RETURNING seq");
        update.bind(1, app_name).bind(2, section).bind(3, key).bind(4, value);
        if (update.step()) {
            last_written_.seq = update.integer64(0);
            update.step();
            return;
        }
        Statement insert(db_.get(), kept_,
                         "INSERT INTO settings (app, section, key, value) VALUES (?1, ?2, ?3, ?4)");
        insert.bind(1, app_name).bind(2, section).bind(3, key).bind(4, value);
        insert.step();
    });
}

std::optional<SettingList> SqliteStore::list(const QString& section) {
    Statement s(db_.get(), kept_,
                "SELECT key, value FROM settings WHERE app = ?1 AND section = ?2 ORDER BY seq");
    s.bind(1, app_name).bind(2, section);
    SettingList pairs;
    while (s.step())
        pairs.emplace_back(s.text(0), s.text(1));
    if (pairs.empty())
        return std::nullopt;
    return pairs;
}

// Another file at the store's path must never receive what this connection writes: SQLite
// finds the -wal by the path, and would lay this connection's pages over the other file. So
// the -wal is emptied into the file this connection opened, and nothing more is written.
void SqliteStore::refuse_if_replaced() {
    if (file_id_.inode == 0 || (!replaced_ && file_id(native_path_) == file_id_))
        return; // a store in memory has no file
    if (!replaced_) {
        replaced_ = true;
        sqlite3_wal_checkpoint_v2(db_.get(), nullptr, SQLITE_CHECKPOINT_TRUNCATE, nullptr, nullptr);
    }
    throw StoreReplaced(
        QStringLiteral("the store %1 was replaced or removed while Kelvor ran, so nothing more "
                       "is written to it. Start Kelvor again to go on with the store now there.")
            .arg(path_)
            .toStdString());
}

void SqliteStore::transaction(FunctionRef<void()> body) {
    if (access_ == Access::read_only)
        throw StoreError(
            QStringLiteral("the store %1 is open for reading only").arg(path_).toStdString());
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
    Statement(db_.get(), kept_, "BEGIN IMMEDIATE").step();
    depth_ = 1;
    try {
        body();
        Statement(db_.get(), kept_, "COMMIT").step();
    } catch (...) {
        depth_ = 0;
        sqlite3_exec(db_.get(), "ROLLBACK", nullptr, nullptr, nullptr);
        throw;
    }
    depth_ = 0;
}

} // namespace kelvor::platform
