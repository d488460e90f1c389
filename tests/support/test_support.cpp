#include "support/test_support.h"

#include <QFile>
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

namespace kelvor::testing {

TempStore::TempStore() {
    EXPECT_TRUE(dir_.isValid());
    reopen();
}

void TempStore::reopen() {
    store_.reset();
    store_ = std::make_unique<platform::SqliteStore>(path());
}

bool RecordingDialogs::ask_yes_no(QWidget* owner, const QString& title, const QString& text) {
    shown.push_back({true, title, text, owner});
    if (while_shown)
        while_shown();
    return answer_yes;
}

void RecordingDialogs::tell(QWidget* owner, const QString& title, const QString& text) {
    shown.push_back({false, title, text, owner});
    if (while_shown)
        while_shown();
}

bool run_sql(const QString& path, const char* sql) {
    sqlite3* db = nullptr;
    sqlite3_open(QFile::encodeName(path).constData(), &db);
    const bool done = sqlite3_exec(db, sql, nullptr, nullptr, nullptr) == SQLITE_OK;
    sqlite3_close(db);
    return done;
}

bool run_sql_and_stop(const QString& path, const char* sql) {
    const pid_t child = ::fork();
    if (child == 0) {
        sqlite3* db = nullptr;
        sqlite3_open(QFile::encodeName(path).constData(), &db);
        ::_exit(sqlite3_exec(db, sql, nullptr, nullptr, nullptr));
    }
    int status = -1;
    ::waitpid(child, &status, 0);
    return status == 0;
}

bool stop_in_checkpoint(const QString& path, const char* sql) {
    if (!run_sql_and_stop(path, sql))
        return false;
    QFile wal(path + "-wal");
    if (!wal.open(QIODevice::ReadOnly))
        return false;
    const QByteArray frames = wal.readAll();
    constexpr int header = 32;
    constexpr int frame_header = 24;
    if (frames.size() < header)
        return false;
    const auto big_endian = [&](qsizetype at) {
        return quint32(quint8(frames[at])) << 24 | quint32(quint8(frames[at + 1])) << 16 |
               quint32(quint8(frames[at + 2])) << 8 | quint32(quint8(frames[at + 3]));
    };
    const qsizetype page_size = big_endian(8);
    QByteArray first_page;
    for (qsizetype at = header; at + frame_header + page_size <= frames.size();
         at += frame_header + page_size) {
        if (big_endian(at) == 1)
            first_page = frames.mid(at + frame_header, page_size);
    }
    QFile file(path);
    return !first_page.isEmpty() && file.open(QIODevice::ReadWrite) &&
           file.write(first_page) == page_size;
}

bool damage_page(const QString& path, const char* table, int nth, Damage how) {
    sqlite3* db = nullptr;
    sqlite3_open(QFile::encodeName(path).constData(), &db);
    sqlite3_stmt* leaf = nullptr;
    sqlite3_prepare_v2(db,
                       "SELECT pageno, pgsize FROM dbstat WHERE name = ?1 AND pagetype = 'leaf' "
                       "ORDER BY pageno LIMIT 1 OFFSET ?2",
                       -1, &leaf, nullptr);
    sqlite3_bind_text(leaf, 1, table, -1, SQLITE_STATIC);
    sqlite3_bind_int(leaf, 2, nth);
    const bool found = sqlite3_step(leaf) == SQLITE_ROW;
    const qint64 page = found ? sqlite3_column_int64(leaf, 0) : 0;
    const qint64 size = found ? sqlite3_column_int64(leaf, 1) : 0;
    sqlite3_finalize(leaf);
    sqlite3_exec(db, "PRAGMA wal_checkpoint(TRUNCATE)", nullptr, nullptr, nullptr);
    sqlite3_close(db);
    QFile file(path);
    if (!found || !file.open(QIODevice::ReadWrite))
        return false;
    const qint64 from = how == Damage::zeroed ? 0 : size / 2;
    file.seek((page - 1) * size + from);
    return file.write(QByteArray(size - from, '\0')) == size - from;
}

void downgrade_to_second_format(const QString& path) {
    EXPECT_TRUE(run_sql(path, "DROP TABLE days; ALTER TABLE sessions DROP COLUMN locked_seconds;"
                              "PRAGMA user_version = 2"));
}

void downgrade_to_first_format(const QString& path) {
    downgrade_to_second_format(path);
    EXPECT_TRUE(run_sql(path, "DROP TABLE sessions; DROP INDEX settings_by_section;"
                              "PRAGMA user_version = 1"));
}

QDateTime at(int year, int month, int day, int hour, int minute, int second) {
    return QDateTime(QDate(year, month, day), QTime(hour, minute, second));
}

} // namespace kelvor::testing
