#include "platform/store_format.h"
#include "platform/store_recovery.h"
#include "support/test_support.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <functional>
#include <gtest/gtest.h>
#include <sqlite3.h>

using kelvor::platform::SqliteStore;
using kelvor::platform::StoreError;
using kelvor::testing::damage_page;
using kelvor::testing::TempStore;

namespace {

QByteArray bytes_of(const QString& path) {
    QFile f(path);
    f.open(QIODevice::ReadOnly);
    return f.readAll();
}

void write_file(const QString& path, const QByteArray& content) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(content);
}

// Builds a file with the sqlite3 C API directly, as another program would.
void make_database(const QString& path, const char* sql) {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(QFile::encodeName(path).constData(), &db), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(db, sql, nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_close(db);
}

const char* const first_release_schema = kelvor::platform::store_formats().front().schema.front();
const char* const set_nb_session = "INSERT INTO settings (app, section, key, value) VALUES "
                                   "('KELVOR', 'Stat', 'nb_session', '12');";

} // namespace

TEST(SettingsStore, ReadsDefaultsWithoutCreatingAnything) {
    TempStore t;
    EXPECT_EQ(t.store().read("Stat", "nb_session", "0"), "0");
    EXPECT_EQ(t.store().read("Stat", "debuted?", "No"), "No");
    EXPECT_FALSE(t.store().list("Stat").has_value());
}

TEST(SettingsStore, WriteReplacesAndSurvivesReopen) {
    TempStore t;
    t.store().write("Stat", "debuted?", "Yes");
    t.store().write("Stat", "debuted?", "No");
    t.store().write("Stat", "Creator_name", QStringLiteral("Æorn/Quillet"));
    t.reopen();
    EXPECT_EQ(t.store().read("Stat", "debuted?", "x"), "No");
    EXPECT_EQ(t.store().read("Stat", "Creator_name", "x"), QStringLiteral("Æorn/Quillet"));
    // Keys and sections are exact: no case folding.
    EXPECT_EQ(t.store().read("stat", "debuted?", "absent"), "absent");

    // Another program gives the row of the key written last to another key: the next write
    // of that key adds it again and leaves the renamed row as it is.
    t.store().write("Stat", "recupered_time", "0");
    t.store().write("Stat", "recupered_time", "60");
    make_database(t.path(), "UPDATE settings SET key = 'renamed' WHERE key = 'recupered_time'");
    t.store().write("Stat", "recupered_time", "120");
    EXPECT_EQ(t.get("Stat", "renamed"), "60");
    EXPECT_EQ(t.get("Stat", "recupered_time"), "120");
}

TEST(SettingsStore, ListKeepsFirstWriteOrderNotTextOrder) {
    TempStore t;
    for (const char* month : {"11/2000", "12/2000", "01/2001"})
        t.store().write("Month_nb_session", month, "1");
    t.store().write("Month_nb_session", "11/2000", "2"); // rewriting keeps its place
    t.store().write("Month_nb_time", "05/1999", "10");   // other sections do not mix in
    const auto list = t.store().list("Month_nb_session");
    ASSERT_TRUE(list.has_value());
    ASSERT_EQ(list->size(), 3u);
    EXPECT_EQ((*list)[0], std::make_pair(QString("11/2000"), QString("2")));
    EXPECT_EQ((*list)[1].first, "12/2000");
    EXPECT_EQ((*list)[2].first, "01/2001");
}

TEST(SettingsStore, TransactionIsAllOrNothing) {
    TempStore t;
    t.store().write("Stat", "nb_session", "1");
    EXPECT_THROW(t.store().transaction([&] {
        t.store().write("Stat", "nb_session", "2");
        t.store().transaction([&] { t.store().write("Stat", "debuted?", "Yes"); });
        throw StoreError("interrupted");
    }),
                 StoreError);
    t.reopen();
    EXPECT_EQ(t.get("Stat", "nb_session"), "1");
    EXPECT_EQ(t.get("Stat", "debuted?"), "<absent>");
}

// The store keeps its statements compiled between calls; none may keep a read open (which
// would stop other connections from checkpointing the WAL) or carry a failed state over.
TEST(SettingsStore, CallsLeaveNoReadOpenAndRecoverFromAFailedTransaction) {
    TempStore t;
    t.store().write("Stat", "nb_session", "1");
    t.store().write("Month_nb_session", "01/2000", "3");
    t.store().write("Month_nb_session", "02/2000", "4");
    EXPECT_THROW(t.store().transaction([&] {
        t.store().write("Stat", "nb_session", "2");
        throw StoreError("interrupted");
    }),
                 StoreError);
    const std::vector<std::function<void()>> calls = {
        [&] { EXPECT_EQ(t.store().read("Stat", "nb_session", "x"), "1"); },
        [&] { EXPECT_EQ(t.store().read("Stat", "absent", "x"), "x"); },
        [&] { EXPECT_EQ(t.store().list("Month_nb_session")->size(), 2u); },
        [&] { EXPECT_FALSE(t.store().list("Month_nb_crash").has_value()); },
        [&] { t.store().write("Stat", "debuted?", "Yes"); },
    };
    sqlite3* other = nullptr;
    ASSERT_EQ(sqlite3_open(QFile::encodeName(t.path()).constData(), &other), SQLITE_OK);
    for (std::size_t i = 0; i < calls.size(); ++i) {
        calls[i]();
        sqlite3_stmt* s = nullptr;
        sqlite3_prepare_v2(other, "PRAGMA wal_checkpoint(TRUNCATE)", -1, &s, nullptr);
        ASSERT_EQ(sqlite3_step(s), SQLITE_ROW);
        EXPECT_EQ(sqlite3_column_int(s, 0), 0)
            << "a reader blocked the checkpoint after call " << i;
        sqlite3_finalize(s);
    }
    sqlite3_close(other);
    EXPECT_EQ(t.get("Stat", "debuted?"), "Yes");
}

TEST(SettingsStore, FileIsPrivateWalAndVersioned) {
    TempStore t;
    t.store().write("Stat", "nb_session", "1");
    EXPECT_EQ(QFileInfo(t.path()).permissions() & 0x0077, 0);
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(QFile::encodeName(t.path()).constData(), &db), SQLITE_OK);
    // Small pages: a minute's save writes two of them.
    for (const auto& [pragma, expected] :
         {std::pair{"PRAGMA journal_mode", "wal"}, std::pair{"PRAGMA user_version", "3"},
          std::pair{"PRAGMA page_size", "1024"}}) {
        sqlite3_stmt* s = nullptr;
        sqlite3_prepare_v2(db, pragma, -1, &s, nullptr);
        ASSERT_EQ(sqlite3_step(s), SQLITE_ROW) << pragma;
        EXPECT_STREQ(reinterpret_cast<const char*>(sqlite3_column_text(s, 0)), expected) << pragma;
        sqlite3_finalize(s);
    }
    sqlite3_close(db);
}

// A file that is not ours is refused and left byte for byte as it was.
TEST(SettingsStore, RefusesForeignFilesUntouched) {
    struct Case {
        const char* name;
        std::function<void(const QString&)> make;
    };
    const std::vector<Case> cases = {
        {"text file", [](const QString& p) { write_file(p, "hello, this is not a database\n"); }},
        {"other settings shape",
         [](const QString& p) { make_database(p, "CREATE TABLE settings (k TEXT, v TEXT);"); }},
        {"another program's database",
         [](const QString& p) { make_database(p, "CREATE TABLE songs (title TEXT);"); }},
        {"a store of a newer Kelvor",
         [](const QString& p) {
             make_database(p, ("CREATE TABLE settings (seq INTEGER PRIMARY KEY);"
                               "PRAGMA user_version = 4; PRAGMA application_id = " +
                               QByteArray::number(kelvor::platform::kelvor_application_id))
                                  .constData());
         }},
        {"truncated store",
         [](const QString& p) {
             {
                 SqliteStore s(p);
                 for (int i = 0; i < 400; ++i)
                     s.write("Month_nb_time", QString::number(i), QString(200, 'x'));
             }
             QFile::remove(p + "-wal");
             QFile::remove(p + "-shm");
             const QByteArray whole = bytes_of(p);
             write_file(p, whole.left(whole.size() / 3));
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        QTemporaryDir dir;
        const QString path = dir.path() + "/store.sqlite3";
        c.make(path);
        const QByteArray before = bytes_of(path);
        EXPECT_THROW(SqliteStore{path}, StoreError);
        EXPECT_EQ(bytes_of(path), before);
    }
}

// Every store Kelvor may find is opened with its figures: read-only without a byte changed
// beside it, then for writing. A store of the second format has its days estimated from its
// history, as the reader sees them and as the upgrade keeps them.
TEST(SettingsStore, OpensEveryKindOfKelvorStore) {
    struct Case {
        const char* name;
        std::function<void(const QString&)> make;
        int history = 0;       // sessions in it
        QStringList days = {}; // "day seconds sessions", all estimated
    };
    const Case cases[] = {
        {"a store of the first release",
         [](const QString& p) {
             make_database(p, (QByteArray(first_release_schema) + "; PRAGMA user_version = 1;" +
                               set_nb_session)
                                  .constData());
         }},
        {"the same schema typed by hand, spaced and cased otherwise",
         [](const QString& p) {
             make_database(p, (QByteArray("create table settings (seq integer primary key,\n"
                                          "  app text not null, section text not null,\n"
                                          "  key text not null, value text not null,\n"
                                          "  unique (app, section, key));"
                                          "pragma user_version = 1;") +
                               set_nb_session)
                                  .constData());
         }},
        {"a store of this release, with its history",
         [](const QString& p) { SqliteStore(p).write("Stat", "nb_session", "12"); }},
        {"a first-release store stopped in its first session, its table in the -wal only",
         [](const QString& p) {
             ASSERT_TRUE(kelvor::testing::run_sql_and_stop(
                 p, (QByteArray("PRAGMA journal_mode = WAL; BEGIN;") + first_release_schema +
                     "; PRAGMA user_version = 1;" + set_nb_session + "COMMIT;")
                        .constData()));
         }},
        // A session past midnight, split there; one killed after saving 120 s, which counts
        // with them; a start edited by hand, left out.
        {"a store of the second format",
         [](const QString& p) {
             SqliteStore(p).write("Stat", "nb_session", "12");
             kelvor::testing::downgrade_to_second_format(p);
             ASSERT_TRUE(kelvor::testing::run_sql(
                 p, "INSERT INTO sessions (started, seconds, ending) VALUES "
                    "('2000-03-25T23:00:00+01:00', 3725, 'proper'), ('noon', 30, 'crashed'),"
                    "('2000-03-26T00:02:05+01:00', 0, 'running');"
                    "INSERT INTO settings (app, section, key, value) VALUES "
                    "('KELVOR', 'Stat', 'recupered_time', '120')"));
         },
         3,
         {"2000-03-25 3600 1", "2000-03-26 245 2"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QTemporaryDir dir;
        const QString path = dir.path() + "/store.sqlite3";
        c.make(path);
        const auto files = [&] {
            QStringList all;
            for (const QString& file : QDir(dir.path()).entryList(QDir::Files))
                all << file + ":" + bytes_of(dir.path() + "/" + file).toBase64();
            return all;
        };
        const auto days_of = [](SqliteStore& store) {
            QStringList days;
            store.for_each_day({}, {}, [&](const kelvor::platform::LedgerDay& day) {
                EXPECT_TRUE(day.estimated);
                EXPECT_EQ(day.locked_seconds, 0);
                days << QStringLiteral("%1 %2 %3").arg(day.day).arg(day.seconds).arg(day.sessions);
            });
            return days;
        };
        const QStringList before = files();
        {
            SqliteStore reader(path, SqliteStore::Access::read_only);
            EXPECT_EQ(reader.read("Stat", "nb_session", "none"), "12");
            EXPECT_THROW(reader.write("Stat", "nb_session", "13"), StoreError);
            EXPECT_EQ(reader.for_each_session([](const auto&) {}), reader.found_format() >= 2);
            EXPECT_EQ(days_of(reader), c.days);
        }
        EXPECT_EQ(files(), before);
        {
            // Upgraded at the first opening for writing, its settings and history as they
            // were, the days before the ledger estimated from the history.
            SqliteStore store(path);
            EXPECT_EQ(store.read("Stat", "nb_session", "none"), "12");
            int sessions = 0;
            EXPECT_TRUE(store.for_each_session([&](const auto&) { ++sessions; }));
            EXPECT_EQ(sessions, c.history);
            EXPECT_EQ(days_of(store), c.days);
            store.write("Stat", "nb_session", "13");
        }
        EXPECT_EQ(SqliteStore(path, SqliteStore::Access::read_only).found_format(), 3);
    }
}

TEST(SettingsStore, ReadOnlyFolderIsRefused) {
    if (geteuid() == 0)
        GTEST_SKIP() << "root writes into read-only folders";
    QTemporaryDir dir;
    QFile::setPermissions(dir.path(), QFile::ReadOwner | QFile::ExeOwner);
    EXPECT_THROW(SqliteStore{dir.path() + "/store.sqlite3"}, StoreError);
    QFile::setPermissions(dir.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

// A damaged store: what SQLite can still read goes into a new store that passes every check,
// row ids and so order kept; the damaged file is kept aside byte for byte; the figures on pages
// that survive are all there.
TEST(SettingsStore, RecoveryKeepsTheDamagedStoreAsideAndSavesWhatCanBeRead) {
    using kelvor::testing::Damage;
    const struct {
        const char* name;
        std::function<bool(const QString&)> damage;
        bool settings_whole; // every figure saved
        bool history_whole;  // every session saved
        bool days_whole = true;
    } cases[] = {
        {"a zeroed page of the history",
         [](const QString& p) { return damage_page(p, "sessions", 2, Damage::zeroed); }, true,
         false},
        {"a torn page of the history",
         [](const QString& p) { return damage_page(p, "sessions", 1, Damage::torn); }, true, false},
        {"a zeroed page of the settings",
         [](const QString& p) { return damage_page(p, "settings", 1, Damage::zeroed); }, false,
         true},
        {"the last pages cut off",
         [](const QString& p) { return QFile::resize(p, QFileInfo(p).size() - 3 * 4096); }, false,
         true},
        // Its keys are days, not row ids: the days after a damaged page are not reached.
        {"a zeroed page of the day ledger",
         [](const QString& p) { return damage_page(p, "days", 1, Damage::zeroed); }, true, true,
         false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        QTemporaryDir dir;
        const QString path = dir.path() + "/store.sqlite3";
        {
            SqliteStore store(path);
            store.write("Stat", "nb_session", "500");
        }
        make_database(path, "WITH RECURSIVE n(i) AS (SELECT 0 UNION ALL SELECT i + 1 FROM n "
                            "WHERE i < 399) INSERT INTO days SELECT date('2024-01-01', i || ' "
                            "days'), i, 0, 1, 0 FROM n; "
                            "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n "
                            "WHERE i < 500) INSERT INTO sessions (started, seconds, ending) "
                            "SELECT printf('2026-01-01T09:00:00+01:00 %03d', i), i, 'proper' "
                            "FROM n; INSERT INTO settings (app, section, key, value) SELECT "
                            "'KELVOR', 'Padding', printf('key %d', i), printf('%0100d', i) FROM "
                            "(WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n "
                            "WHERE i < 200) SELECT i FROM n)");
        ASSERT_TRUE(c.damage(path));
        const QByteArray damaged = bytes_of(path);

        const auto recovery =
            kelvor::platform::recover_store(QFile::encodeName(path), QDate(2026, 12, 7));
        EXPECT_EQ(recovery.kept_aside, QFile::encodeName(path + ".damaged-2026-12-07"));
        EXPECT_EQ(bytes_of(path + ".damaged-2026-12-07"), damaged);
        ASSERT_EQ(recovery.tables.size(), 3u);
        const auto& settings = recovery.tables[0];
        const auto& history = recovery.tables[1];
        const auto& days = recovery.tables[2];
        // Rows of pages cut off at the end cannot be counted, only said to be lost.
        EXPECT_EQ(settings.saved == 201, c.settings_whole);
        EXPECT_EQ(settings.saved + settings.lost == 201, !settings.end_unreadable);
        EXPECT_EQ(history.saved == 500, c.history_whole);
        EXPECT_EQ(history.saved + history.lost == 500, !history.end_unreadable);
        EXPECT_EQ(days.saved == 400, c.days_whole);
        EXPECT_EQ(days.end_unreadable, !c.days_whole);
        // The history's one day, which the ledger lacked, is estimated from it.
        EXPECT_EQ(recovery.estimated_days, 1);
        EXPECT_FALSE(kelvor::platform::store_is_damaged(QFile::encodeName(path)));
        SqliteStore store(path);
        EXPECT_EQ(store.read("Stat", "nb_session", "none"), "500"); // on the settings' first page
        QStringList starts;
        store.for_each_session([&](const auto& session) { starts << session.started; });
        EXPECT_EQ(starts.size(), history.saved);
        QStringList in_order = starts;
        in_order.sort();
        EXPECT_EQ(starts, in_order);
    }
}
