// A store the program cannot use -- not a database, another program's database, damaged,
// not writable, held by another writer -- ends the start with a message on stderr and exit
// status 1, and leaves the file exactly as it was.

#include "support/program.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QStandardPaths>
#include <csignal>
#include <functional>
#include <gtest/gtest.h>
#include <iostream>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

using kelvor::testing::Program;
using kelvor::testing::send_signal;

namespace {

QByteArray bytes_of(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void write_file(const QString& path, const QByteArray& content) {
    QDir().mkpath(QFileInfo(path).path());
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(content);
}

// Another program's database, made with the sqlite3 C API.
void make_database(const QString& path, const char* sql) {
    QDir().mkpath(QFileInfo(path).path());
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(QFile::encodeName(path).constData(), &db), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(db, sql, nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_close(db);
}

// A real store of several pages: two sessions, and rows enough to fill pages.
void make_real_store(Program& program) {
    for (int session = 1; session <= 2; ++session) {
        QProcess& copy = program.start();
        ASSERT_TRUE(program.wait_until_session(session));
        send_signal(copy, SIGTERM);
        ASSERT_TRUE(copy.waitForFinished(10000));
    }
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(QFile::encodeName(program.store_path()).constData(), &db), SQLITE_OK);
    sqlite3_exec(db,
                 "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 400) "
                 "INSERT INTO settings (app, section, key, value) "
                 "SELECT 'KELVOR', 'Padding', printf('key %d', i), "
                 "printf('%0200d', i) FROM n; PRAGMA wal_checkpoint(TRUNCATE);",
                 nullptr, nullptr, nullptr);
    sqlite3_close(db);
}

void truncate_to(const QString& path, qint64 size) {
    ASSERT_EQ(::truncate(QFile::encodeName(path).constData(), size), 0);
}

// The copy runs as the unprivileged user "nobody" when the tests run as root, for whom
// permission bits do not stop a write.
struct Unprivileged {
    QStringList prefix;
    QString unavailable; // why it cannot be done here

    static Unprivileged for_tests() {
        if (::geteuid() != 0)
            return {};
        if (QStandardPaths::findExecutable("setpriv").isEmpty())
            return {{}, "running as root, and setpriv (util-linux) is missing"};
        return {{"setpriv", "--reuid=65534", "--regid=65534", "--clear-groups", "--"}, {}};
    }
    // Hands the program's home over to the user it runs as.
    void own(const Program& program) const {
        if (prefix.isEmpty())
            return;
        QProcess chown;
        chown.start("chown", {"-R", "65534:65534", program.home()});
        chown.waitForFinished(5000);
    }
};

struct HostileCase {
    const char* name;
    std::function<void(Program&)> prepare;
    const char* message; // on stderr
    bool unprivileged = false;
};

const std::vector<HostileCase> hostile_cases = {
    {"not an SQLite file",
     [](Program& p) { write_file(p.store_path(), QByteArray("not a database\n").repeated(300)); },
     "not a Kelvor store"},
    {"binary noise with an SQLite header",
     [](Program& p) {
         QByteArray noise("SQLite format 3", 16);
         for (int i = 0; i < 8192; ++i)
             noise.append(char((i * 131 + 7) % 256));
         write_file(p.store_path(), noise);
     },
     "not a Kelvor store"},
    {"a settings table of another shape",
     [](Program& p) {
         make_database(p.store_path(), "CREATE TABLE settings (name TEXT, value TEXT);"
                                       "INSERT INTO settings VALUES ('nb_session', '12');");
     },
     "not a Kelvor store"},
    {"our table under another version",
     [](Program& p) {
         make_database(p.store_path(),
                       "CREATE TABLE settings (seq INTEGER PRIMARY KEY, app TEXT NOT NULL, "
                       "section TEXT NOT NULL, key TEXT NOT NULL, value TEXT NOT NULL, "
                       "UNIQUE (app, section, key)); PRAGMA user_version = 7;");
     },
     "not a Kelvor store"},
    {"another program's database",
     [](Program& p) {
         make_database(p.store_path(), "CREATE TABLE notes (id INTEGER, body TEXT);"
                                       "INSERT INTO notes VALUES (1, 'keep me');");
     },
     "not a Kelvor store"},
    {"a store truncated to half its pages",
     [](Program& p) {
         make_real_store(p);
         truncate_to(p.store_path(), QFileInfo(p.store_path()).size() / 2);
     },
     "damaged"},
    {"a store truncated within a page",
     [](Program& p) {
         make_real_store(p);
         truncate_to(p.store_path(), QFileInfo(p.store_path()).size() - 1000);
     },
     "damaged"},
    {"a store truncated within its header",
     [](Program& p) {
         make_real_store(p);
         truncate_to(p.store_path(), 60);
     },
     "not a Kelvor store"},
    {"a folder where the store should be", [](Program& p) { QDir().mkpath(p.store_path()); },
     "store"},
    {"a file where the store's folder should be",
     [](Program& p) { write_file(p.data_dir(), "a file"); }, "is not a folder"},
    {"a read-only folder",
     [](Program& p) {
         make_real_store(p);
         ::chmod(QFile::encodeName(p.data_dir()).constData(), 0500);
     },
     "cannot be written", true},
    {"a read-only folder without a store yet",
     [](Program& p) {
         QDir().mkpath(p.data_dir());
         ::chmod(QFile::encodeName(p.data_dir()).constData(), 0500);
     },
     "cannot be written", true},
    {"a read-only store file",
     [](Program& p) {
         make_real_store(p);
         ::chmod(QFile::encodeName(p.store_path()).constData(), 0400);
     },
     "cannot be written", true},
};

class HostileStore : public ::testing::TestWithParam<HostileCase> {};

} // namespace

TEST_P(HostileStore, IsRefusedWithAMessageAndLeftByteForByte) {
    const HostileCase& c = GetParam();
    Program program;
    const Unprivileged user = Unprivileged::for_tests();
    if (c.unprivileged && !user.unavailable.isEmpty())
        GTEST_SKIP() << "cannot make a folder read-only for this process: "
                     << user.unavailable.toStdString();
    c.prepare(program);
    if (c.unprivileged)
        user.own(program);
    const QByteArray before = bytes_of(program.store_path());
    const QStringList files_before = QDir(program.data_dir()).entryList(QDir::Files);

    QProcess& copy = program.start(c.unprivileged ? user.prefix : QStringList{});
    ASSERT_TRUE(copy.waitForFinished(20000));
    const QString error = QString::fromLocal8Bit(copy.readAllStandardError());
    std::cout << "[ message  ] " << error.trimmed().toStdString() << "\n";
    EXPECT_EQ(copy.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(copy.exitCode(), 1) << error.toStdString();
    EXPECT_TRUE(error.contains("kelvor: ") && error.contains(c.message, Qt::CaseInsensitive))
        << error.toStdString();
    EXPECT_EQ(bytes_of(program.store_path()), before);
    // Nothing of SQLite's left beside a file that is not ours.
    QStringList files_after = QDir(program.data_dir()).entryList(QDir::Files);
    files_after.removeAll("store.lock");
    QStringList expected = files_before;
    expected.removeAll("store.lock");
    EXPECT_EQ(files_after, expected);
}

INSTANTIATE_TEST_SUITE_P(Stores, HostileStore, ::testing::ValuesIn(hostile_cases),
                         [](const auto& info) {
                             std::string name = info.param.name;
                             for (char& ch : name) {
                                 if (!std::isalnum(static_cast<unsigned char>(ch)))
                                     ch = '_';
                             }
                             return name;
                         });

// Another program holds the store's write lock (an sqlite3 shell inside BEGIN EXCLUSIVE)
// for longer than the program waits: the start gives up, changes nothing, and the next start,
// once the lock is gone, works.
TEST(HostileStore, LockedByAnotherWriterLongerThanTheBusyTimeout) {
    if (QStandardPaths::findExecutable("sqlite3").isEmpty())
        GTEST_SKIP() << "needs the sqlite3 shell (package sqlite3)";
    Program program;
    make_real_store(program);
    const double sessions = program.dump().number("nb_session");

    kelvor::testing::StoreWriteLock holder(program.store_path());
    ASSERT_TRUE(holder.held());
    const QByteArray before = bytes_of(program.store_path());

    QProcess& copy = program.start();
    ASSERT_TRUE(copy.waitForFinished(30000));
    const QString error = QString::fromLocal8Bit(copy.readAllStandardError());
    EXPECT_EQ(copy.exitCode(), 1) << error.toStdString();
    EXPECT_TRUE(error.contains("kelvor: ") && error.contains("locked")) << error.toStdString();
    EXPECT_EQ(bytes_of(program.store_path()), before);

    holder.release();
    EXPECT_EQ(program.dump().number("nb_session"), sessions);

    QProcess& next = program.start();
    ASSERT_TRUE(program.wait_until_session(int(sessions) + 1));
    send_signal(next, SIGTERM);
    ASSERT_TRUE(next.waitForFinished(10000));
    EXPECT_TRUE(kelvor::testing::store_invariants_hold(program.dump()));
}
