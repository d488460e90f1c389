// A store the program cannot use -- not a database, another program's database, damaged,
// not writable, held by another writer, reached through a link, another user's -- ends the
// start with a message on stderr and exit status 1, and leaves every file exactly as it was.

#include "platform/store_format.h"
#include "support/program.h"
#include "support/test_support.h"

#include <QDate>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QThread>
#include <csignal>
#include <functional>
#include <gtest/gtest.h>
#include <iostream>
#include <map>
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

// Kelvor's own schema, exactly, with `header` (pragmas) after it.
void make_kelvor_shaped(const QString& path, const QString& header) {
    const QByteArray sql = QByteArray(kelvor::platform::store_formats().front().schema.front()) +
                           ";" + header.toUtf8();
    make_database(path, sql.constData());
}

QString elsewhere(const Program& p, const QString& name = {}) {
    QDir().mkpath(p.home() + "/elsewhere");
    return p.home() + "/elsewhere/" + name;
}

void link_to(const QString& target, const QString& link) {
    QDir().mkpath(QFileInfo(link).path());
    ASSERT_EQ(::symlink(QFile::encodeName(target), QFile::encodeName(link)), 0);
}

void make_private_dir(const QString& path, mode_t mode = 0700) {
    QDir().mkpath(path);
    ::chmod(QFile::encodeName(path).constData(), mode);
}

// Every entry under the program's data folder and the folder its links point into: what it
// is, its mode and owner, and its bytes or link target.
std::map<QString, QByteArray> everything_of(const Program& p) {
    std::map<QString, QByteArray> all;
    for (const QString& root : {p.home() + "/data", p.home() + "/elsewhere"}) {
        QDirIterator it(root, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                        QDirIterator::Subdirectories);
        while (it.hasNext()) {
            const QFileInfo info(it.next());
            struct ::stat st {};
            ::lstat(QFile::encodeName(info.filePath()).constData(), &st);
            QByteArray what =
                QByteArray::number(st.st_mode, 8) + " " + QByteArray::number(st.st_uid);
            if (S_ISLNK(st.st_mode))
                what += " -> " + QFile::encodeName(info.symLinkTarget());
            else if (S_ISREG(st.st_mode))
                what += " " + bytes_of(info.filePath());
            all[info.filePath()] = what;
        }
    }
    return all;
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
    // What another user (root) sets up once the home is handed to the unprivileged one.
    std::function<void(Program&)> another_user = nullptr;
    // The options, which only read, can still print the figures (or that there are none).
    bool options_read_it = false;
};

// Another user's folder that anybody may write, holding a store that anybody may write.
void open_folder_of_another_user(Program& p) {
    ::chown(QFile::encodeName(p.data_dir()).constData(), 0, 0);
    ::chmod(QFile::encodeName(p.data_dir()).constData(), 0777);
    make_kelvor_shaped(p.store_path(), "PRAGMA user_version = 1");
    ::chmod(QFile::encodeName(p.store_path()).constData(), 0666);
}

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
     "is damaged"},
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
     "is damaged"},
    {"a folder where the store should be", [](Program& p) { QDir().mkpath(p.store_path()); },
     "store"},
    {"a file where the store's folder should be",
     [](Program& p) { write_file(p.data_dir(), "a file"); }, "is not a folder"},
    {"a read-only folder",
     [](Program& p) {
         make_real_store(p);
         ::chmod(QFile::encodeName(p.data_dir()).constData(), 0500);
     },
     "cannot be written", true, nullptr, true},
    {"a read-only folder without a store yet",
     [](Program& p) {
         QDir().mkpath(p.data_dir());
         ::chmod(QFile::encodeName(p.data_dir()).constData(), 0500);
     },
     "cannot be written", true, nullptr, true},
    {"a read-only store file",
     [](Program& p) {
         make_real_store(p);
         ::chmod(QFile::encodeName(p.store_path()).constData(), 0400);
     },
     "cannot be written", true, nullptr, true},
    {"a link to an empty file elsewhere",
     [](Program& p) {
         write_file(elsewhere(p, "empty"), "");
         link_to(elsewhere(p, "empty"), p.store_path());
     },
     "is a symbolic link"},
    {"a FIFO where the store should be",
     [](Program& p) {
         make_private_dir(p.data_dir());
         ASSERT_EQ(::mkfifo(QFile::encodeName(p.store_path()).constData(), 0600), 0);
     },
     "not a regular file"},
    {"a dangling link as the lock",
     [](Program& p) {
         link_to(elsewhere(p, "lock made by the link"), p.data_dir() + "/store.lock");
     },
     "is a symbolic link", false, nullptr, true},
    {"a link as the store's folder",
     [](Program& p) {
         make_private_dir(elsewhere(p, "real"));
         link_to(elsewhere(p, "real"), p.data_dir());
     },
     "symbolic link"},
    {"a folder other users may write", [](Program& p) { make_private_dir(p.data_dir(), 0777); },
     "can be written by other users"},
    {"another user's open folder with a store in it",
     [](Program& p) { make_private_dir(p.data_dir()); }, "belongs to another user", true,
     open_folder_of_another_user},
    {"another user's store in the user's folder",
     [](Program& p) { make_private_dir(p.data_dir()); }, "belongs to another user", true,
     [](Program& p) {
         make_kelvor_shaped(p.store_path(), "PRAGMA user_version = 1");
         ::chmod(QFile::encodeName(p.store_path()).constData(), 0666);
     }},
    {"another user's lock in the user's folder", [](Program& p) { make_private_dir(p.data_dir()); },
     "belongs to another user", true,
     [](Program& p) { write_file(p.data_dir() + "/store.lock", ""); }, true},
    {"no usable HOME and no XDG_DATA_HOME: the account's home",
     [](Program& p) {
         p.environment().remove("XDG_DATA_HOME");
         p.environment().insert("HOME", "relhome");
     },
     "/nonexistent/.local/share/kelvor", true, nullptr, true},
    {"a database holding only a view",
     [](Program& p) { make_database(p.store_path(), "CREATE VIEW v AS SELECT 1;"); },
     "not a Kelvor store"},
    {"our columns without the UNIQUE constraint",
     [](Program& p) {
         make_database(p.store_path(),
                       "CREATE TABLE settings (seq INTEGER PRIMARY KEY, app TEXT NOT NULL, "
                       "section TEXT NOT NULL, key TEXT NOT NULL, value TEXT NOT NULL);"
                       "PRAGMA user_version = 1;");
     },
     "not a Kelvor store"},
    {"our schema marked as another program's",
     [](Program& p) {
         make_kelvor_shaped(p.store_path(), "PRAGMA user_version = 1; PRAGMA application_id = 7");
     },
     "another program's"},
    {"a store of a newer Kelvor",
     [](Program& p) {
         make_kelvor_shaped(p.store_path(),
                            "PRAGMA user_version = 4; PRAGMA application_id = " +
                                QString::number(kelvor::platform::kelvor_application_id));
     },
     "was made by a newer Kelvor"},
    {"another program's WAL database, stopped with its -wal and -shm",
     [](Program& p) {
         make_private_dir(p.data_dir());
         ASSERT_TRUE(kelvor::testing::run_sql_and_stop(
             p.store_path(), "PRAGMA journal_mode = WAL; CREATE TABLE notes (body TEXT);"
                             "INSERT INTO notes VALUES ('keep me');"));
     },
     "not a Kelvor store"},
    {"an empty database whose -wal holds another program's table",
     [](Program& p) {
         make_private_dir(p.data_dir());
         ASSERT_TRUE(kelvor::testing::run_sql_and_stop(
             p.store_path(), "PRAGMA journal_mode = WAL; CREATE TABLE notes (body TEXT);"));
     },
     "not a Kelvor store"},
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
    if (IsSkipped())
        return;
    if (c.unprivileged)
        user.own(program);
    if (c.another_user)
        c.another_user(program);
    const auto before = everything_of(program);

    QProcess& copy = program.start(c.unprivileged ? user.prefix : QStringList{});
    ASSERT_TRUE(copy.waitForFinished(20000));
    const QString error = QString::fromLocal8Bit(copy.readAllStandardError());
    std::cout << "[ message  ] " << error.trimmed().toStdString() << "\n";
    EXPECT_EQ(copy.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(copy.exitCode(), 1) << error.toStdString();
    EXPECT_TRUE(error.contains("kelvor: ") && error.contains(c.message, Qt::CaseInsensitive))
        << error.toStdString();
    // One sentence of cause naming the file, one of what to do.
    static const QRegularExpression cause_then_remedy(
        QStringLiteral("^kelvor: .*/.*\\. [A-Z].*\\.$"));
    EXPECT_TRUE(cause_then_remedy.match(error.trimmed()).hasMatch()) << error.toStdString();

    // The options only read: what cannot be read they refuse in the same words.
    const auto options = program.run({"--report"}, c.unprivileged ? user.prefix : QStringList{});
    EXPECT_EQ(options.status, c.options_read_it ? 0 : 1) << options.err.toStdString();
    if (!c.options_read_it) {
        EXPECT_TRUE(!options.err.isEmpty() && error.toLocal8Bit().contains(options.err))
            << options.err.toStdString();
    }
    // Every file as it was, and nothing of SQLite's left beside one that is not ours.
    auto after = everything_of(program);
    if (!before.contains(program.data_dir() + "/store.lock"))
        after.erase(program.data_dir() + "/store.lock");
    EXPECT_EQ(after, before);

    // What the message offers for a damaged store: --recover keeps it aside byte for byte, and
    // the bar then starts on what could be read. Nothing else is ever recovered.
    const bool damaged = QString(c.message).contains("damaged");
    const QByteArray store_bytes = damaged ? bytes_of(program.store_path()) : QByteArray();
    const auto recovered = program.run({"--recover"}, c.unprivileged ? user.prefix : QStringList{});
    EXPECT_EQ(recovered.status, damaged || c.options_read_it ? 0 : 1)
        << recovered.err.toStdString();
    if (!damaged)
        return;
    EXPECT_TRUE(recovered.out.startsWith("Recovered " + program.store_path().toUtf8()))
        << recovered.out.toStdString();
    const QString aside =
        program.store_path() + ".damaged-" + QDate::currentDate().toString(Qt::ISODate);
    EXPECT_EQ(bytes_of(aside), store_bytes);
    QProcess& bar = program.start();
    ASSERT_TRUE(program.wait_until_session(1)) << bar.readAllStandardError().toStdString();
    send_signal(bar, SIGTERM);
    ASSERT_TRUE(bar.waitForFinished(10000));
    EXPECT_EQ(bar.exitCode(), 0);
}

// A store damaged in its history only: --recover keeps every figure the report shows, refuses
// while the bar runs, and has nothing to do on a whole store.
TEST(HostileStore, RecoverKeepsEveryReadableFigure) {
    Program program;
    make_real_store(program);
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(QFile::encodeName(program.store_path()).constData(), &db), SQLITE_OK);
    sqlite3_exec(db,
                 "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 400) "
                 "INSERT INTO sessions (started, seconds, ending) SELECT "
                 "'2026-01-01T09:00:00+01:00', i, 'proper' FROM n",
                 nullptr, nullptr, nullptr);
    sqlite3_close(db);
    EXPECT_EQ(program.run({"--recover"}).err,
              "kelvor: nothing to recover: the store is not damaged (" +
                  program.store_path().toUtf8() + ")\n");
    ASSERT_TRUE(kelvor::testing::damage_page(program.store_path(), "sessions", 3,
                                             kelvor::testing::Damage::zeroed));
    QProcess& bar = program.start();
    ASSERT_TRUE(program.wait_until_session(3));
    const auto refused = program.run({"--recover"});
    EXPECT_EQ(refused.status, 1);
    EXPECT_TRUE(refused.err.contains("Kelvor is running on the store"))
        << refused.err.toStdString();
    send_signal(bar, SIGKILL);
    ASSERT_TRUE(bar.waitForFinished(10000));
    const auto before = program.run({"--report"});
    ASSERT_EQ(before.status, 0) << before.err.toStdString();

    const auto recovered = program.run({"--recover"});
    EXPECT_EQ(recovered.status, 0) << recovered.err.toStdString();
    EXPECT_TRUE(recovered.out.contains("sessions of the history, 1 day of the day ledger saved; "))
        << recovered.out.toStdString();
    EXPECT_TRUE(recovered.out.contains("lost, their pages could not be read: "))
        << recovered.out.toStdString();
    // The killed session counts, before and after, as the crash its next start books. (The
    // time since the first use goes on meanwhile.)
    const auto figures = [](const QByteArray& report) {
        return QString::fromUtf8(report).section("\nFirst time used: ", 0, 0).toStdString();
    };
    EXPECT_EQ(figures(program.run({"--report"}).out), figures(before.out));
}

INSTANTIATE_TEST_SUITE_P(Stores, HostileStore, ::testing::ValuesIn(hostile_cases),
                         kelvor::testing::NamedAfterCase());

// Another program holds the store's write lock (an sqlite3 shell inside BEGIN EXCLUSIVE) from
// before the start. The bar shows, and the start waits up to 30 s for the store: a store freed
// in time counts the session once; one held longer ends the start with a message naming the
// file, changing nothing, and the next start, once the lock is gone, works.
TEST(HostileStore, HeldByAnotherWriterAtTheStart) {
    if (QStandardPaths::findExecutable("sqlite3").isEmpty())
        GTEST_SKIP() << "needs the sqlite3 shell (package sqlite3)";
    for (const int held_s : {10, 40}) {
        SCOPED_TRACE(held_s);
        Program program;
        make_real_store(program);
        const double sessions = program.dump().number("nb_session");
        kelvor::testing::StoreWriteLock holder(program.store_path());
        ASSERT_TRUE(holder.held());
        const QByteArray before = bytes_of(program.store_path());

        QProcess& copy = program.start();
        const bool ended = copy.waitForFinished(held_s * 1000);
        holder.release();
        if (held_s < 30) {
            EXPECT_FALSE(ended) << copy.readAllStandardError().toStdString();
            ASSERT_TRUE(program.wait_until_session(int(sessions) + 1, 15000));
            send_signal(copy, SIGTERM);
            ASSERT_TRUE(copy.waitForFinished(10000));
            EXPECT_EQ(copy.exitCode(), 0);
            EXPECT_EQ(program.dump().number("nb_session"), sessions + 1);
            EXPECT_TRUE(kelvor::testing::store_invariants_hold(program.dump()));
            continue;
        }
        ASSERT_TRUE(ended);
        const QString error = QString::fromLocal8Bit(copy.readAllStandardError());
        EXPECT_EQ(copy.exitCode(), 1) << error.toStdString();
        EXPECT_TRUE(error.contains(program.store_path() + " is held by another program") &&
                    error.contains("not free within 30 s. Close that program"))
            << error.toStdString();
        EXPECT_EQ(bytes_of(program.store_path()), before);
        EXPECT_EQ(program.dump().number("nb_session"), sessions);

        QProcess& next = program.start();
        ASSERT_TRUE(program.wait_until_session(int(sessions) + 1));
        send_signal(next, SIGTERM);
        ASSERT_TRUE(next.waitForFinished(10000));
        EXPECT_TRUE(kelvor::testing::store_invariants_hold(program.dump()));
    }
}

// Where the store goes when the folder variables are odd: a relative XDG_DATA_HOME is not a
// folder (one store, whatever folder a copy starts from), and a name that is not UTF-8 is
// kept byte for byte. A second copy started from elsewhere finds the first and leaves.
TEST(HostileStore, OddFolderVariablesStillNameOneStore) {
    const struct {
        const char* name;
        const char* xdg_data_home; // as the shell sets it
        QByteArray folder;         // under the home
    } cases[] = {
        {"relative XDG_DATA_HOME", "reldata", "/.local/share/kelvor"},
        {"XDG_DATA_HOME ending in bytes that are not UTF-8", "\"$HOME/data$(printf '\\377\\376')\"",
         "/data\xff\xfe/kelvor"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Program program;
        const QByteArray store = QFile::encodeName(program.home()) + c.folder + "/store.sqlite3";
        const auto started_in = [&](const QString& folder) -> QProcess& {
            QDir().mkpath(folder);
            return program.start(
                {"sh", "-c",
                 QStringLiteral("cd \"$0\" && XDG_DATA_HOME=%1 exec \"$1\"").arg(c.xdg_data_home),
                 folder});
        };
        QProcess& first = started_in(program.home() + "/one");
        QElapsedTimer waited;
        waited.start();
        while (::access(store.constData(), F_OK) != 0 && waited.elapsed() < 10000)
            QThread::msleep(10);
        ASSERT_EQ(::access(store.constData(), F_OK), 0)
            << first.readAllStandardError().toStdString();
        QProcess& second = started_in(program.home() + "/two");
        ASSERT_TRUE(second.waitForFinished(10000));
        EXPECT_EQ(second.exitCode(), 0);
        EXPECT_EQ(first.state(), QProcess::Running);
        send_signal(first, SIGTERM);
        ASSERT_TRUE(first.waitForFinished(10000));
        EXPECT_EQ(first.exitCode(), 0);
        // Qt cannot name a folder that is not UTF-8 to remove it; rm can.
        QProcess::execute("rm", {"-rf", program.home()});
    }
}

// A store replaced under the running bar (a backup put back with mv or cp --remove-destination):
// the bar writes nothing into the new file, neither directly nor through the -wal the two
// files share by name, says so, and ends with status 1; the new store then starts as it is.
TEST(HostileStore, ReplacedUnderTheRunningBar) {
    Program program;
    make_real_store(program);
    const QString backup = elsewhere(program, "backup.sqlite3");
    ASSERT_TRUE(QFile::copy(program.store_path(), backup));
    const kelvor::testing::StoreDump restored = kelvor::testing::StoreDump::of_file(backup);

    QProcess& bar = program.start();
    ASSERT_TRUE(program.wait_until_session(3));
    ASSERT_EQ(::rename(QFile::encodeName(backup).constData(),
                       QFile::encodeName(program.store_path()).constData()),
              0);
    send_signal(bar, SIGTERM);
    ASSERT_TRUE(bar.waitForFinished(10000));
    const QString error = QString::fromLocal8Bit(bar.readAllStandardError());
    EXPECT_EQ(bar.exitCode(), 1);
    EXPECT_TRUE(error.contains("was replaced or removed while Kelvor ran")) << error.toStdString();
    EXPECT_EQ(program.dump(), restored);

    QProcess& next = program.start();
    ASSERT_TRUE(program.wait_until_session(3));
    send_signal(next, SIGTERM);
    ASSERT_TRUE(next.waitForFinished(10000));
    EXPECT_EQ(next.exitCode(), 0);
    EXPECT_TRUE(kelvor::testing::store_invariants_hold(program.dump()));
}
