// kelvor's options: how the arguments are read, what each prints in each format, and, on the
// real program, that they need no display, change nothing, and refuse what the bar refuses.

#include "commandline/command_line.h"
#include "commandline/figures_output.h"
#include "platform/standard_streams.h"
#include "platform/store_format.h"
#include "session/running_session.h"
#include "session/session_history.h"
#include "session/session_tracker.h"
#include "support/program.h"
#include "support/test_support.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QStandardPaths>
#include <functional>
#include <gtest/gtest.h>
#include <map>
#include <sqlite3.h>

using kelvor::commandline::Format;
using kelvor::commandline::Request;
using kelvor::platform::SettableClock;
using kelvor::platform::SqliteStore;
using kelvor::session::SessionTracker;
using kelvor::testing::at;
using kelvor::testing::Program;
using kelvor::testing::send_signal;
using kelvor::testing::StoreDump;
using Action = Request::Action;

namespace {

constexpr auto read_only = SqliteStore::Access::read_only;

// Three sessions kept by the real start and end sequences, in Paris: one ended properly on the
// last day of winter time, ten minutes of it locked, one killed on the first day of summer time
// after a checkpoint at 2 minutes, and the one running since, whose start booked that crash.
void three_sessions(const QString& path) {
    SqliteStore store(path);
    SettableClock clock(at(2000, 3, 25, 9, 0, 0));
    SessionTracker first(store, clock);
    first.start();
    first.set_locked(false);
    clock.advance(600);
    first.set_locked(true); // ten minutes behind the lock screen
    clock.advance(600);
    first.set_locked(false);
    clock.advance(2525);
    first.end();
    clock.set(at(2000, 3, 26, 9, 0, 0));
    SessionTracker killed(store, clock);
    killed.start();
    clock.advance(120);
    killed.checkpoint();
    clock.set(at(2000, 4, 1, 8, 0, 0));
    SessionTracker(store, clock).start();
}

void make_database(const QString& path, const QByteArray& sql) {
    QDir().mkpath(QFileInfo(path).path());
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(QFile::encodeName(path).constData(), &db), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(db, sql.constData(), nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_close(db);
}

// What a function of the options writes.
template <typename Writes> QByteArray printed(Writes&& writes) {
    kelvor::commandline::BufferOutput out;
    writes(out);
    return out.bytes();
}

QByteArray sessions_of(SqliteStore& store, Format format, bool copy_running = true,
                       const QDate& since = {}) {
    return printed([&](auto& out) {
        kelvor::commandline::sessions_output(store, copy_running, format, {since, {}}, out);
    });
}

QByteArray days_of(SqliteStore& store, Format format, const QDate& since = {},
                   const QDate& until = {}, bool blocks = true) {
    return printed([&](auto& out) {
        kelvor::commandline::days_output(store, format, {since, until}, blocks, out);
    });
}

QByteArray months_of(kelvor::platform::SettingsStore& store, Format format) {
    return printed([&](auto& out) { kelvor::commandline::months_output(store, format, out); });
}

} // namespace

TEST(CommandLine, ReadsTheArguments) {
    struct Case {
        QStringList arguments; // after the program's name
        Action action;
        Format format = Format::plain;
        QDate since = {};
        const char* error = ""; // part of it
        QDate until = {};
    };
    const Case cases[] = {
        {{}, Action::start_bar},
        // Qt's own options still reach the bar: a session manager restores it with -session.
        {{"-session", "10a3b4c"}, Action::start_bar},
        {{"-platform", "xcb", "-reverse"}, Action::start_bar},
        {{"-title", "Kelvor", "-visual", "TrueColor", "-testability"}, Action::start_bar},
        {{"--style=Fusion"}, Action::start_bar},
        {{"--help"}, Action::help},
        {{"-v", "--report"}, Action::version},
        {{"--report"}, Action::report},
        {{"--months", "--csv"}, Action::months, Format::csv},
        {{"--json", "--sessions"}, Action::sessions, Format::json},
        {{"--sessions", "--since=2000-02-29", "--csv"},
         Action::sessions,
         Format::csv,
         {2000, 2, 29}},
        {{"--sessions", "--since", "2001-02-29"}, Action::start_bar, {}, {}, "YYYY-MM-DD"},
        {{"--sessions", "--since"}, Action::start_bar, {}, {}, "option '--since' needs a value"},
        {{"--months", "--since", "2026-12-01"}, Action::start_bar, {}, {}, "goes with --days"},
        {{"--report", "--json"}, Action::start_bar, {}, {}, "go with --days, --months or"},
        {{"--recover", "--days"}, Action::start_bar, {}, {}, "go one at a time"},
        // How long this week, and today: today is 1 March 2000 here.
        {{"--days"}, Action::days, Format::plain, {2000, 2, 24}, "", {2000, 3, 1}},
        {{"--sessions", "--since=today"}, Action::sessions, Format::plain, {2000, 3, 1}},
        {{"--days", "--csv", "--until=yesterday"},
         Action::days,
         Format::csv,
         {},
         "",
         {2000, 2, 29}},
        {{"--days", "--since=today", "--until=yesterday"}, Action::start_bar, {}, {}, "after"},
        {{"--days", "--until", "Monday"}, Action::start_bar, {}, {}, "yesterday, not 'Monday'"},
        {{"--months", "--csv", "--json"}, Action::start_bar, {}, {}, "one at a time"},
        {{"--bogus"}, Action::start_bar, {}, {}, "unknown option '--bogus'"},
        {{"--help", "-bogus=2"}, Action::start_bar, {}, {}, "unknown option '-bogus'"},
        {{"--recover"}, Action::recover},
        {{"--recover", "--report"}, Action::start_bar, {}, {}, "go one at a time"},
        {{"report"}, Action::start_bar, {}, {}, "unexpected argument 'report'"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.arguments.join(' ').toStdString());
        const Request request = kelvor::commandline::parse_arguments(
            QStringList{"kelvor"} + c.arguments, QDate(2000, 3, 1));
        EXPECT_TRUE(request.error.contains(c.error)) << request.error.toStdString();
        EXPECT_EQ(request.error.isEmpty(), *c.error == '\0') << request.error.toStdString();
        EXPECT_EQ(request.action, c.action);
        EXPECT_EQ(request.format, c.format);
        EXPECT_EQ(request.days.first, c.since);
        EXPECT_EQ(request.days.last, c.until);
    }
}

// Every table in every format, byte for byte, over stores kept by the real sequences.
TEST(CommandLine, PrintsEachTableInEachFormat) {
    struct Case {
        const char* name;
        std::function<void(const QString& path)> make;
        std::function<QByteArray(SqliteStore&)> output;
        const char* expected;
    };
    const auto months = [](Format format) {
        return [format](SqliteStore& store) { return months_of(store, format); };
    };
    const auto report = [](std::optional<qint32> running_seconds) {
        return [running_seconds](SqliteStore& store) {
            const SettableClock clock(at(2000, 4, 1, 10, 0, 0));
            return printed([&](auto& out) {
                kelvor::commandline::report_output(store, clock, running_seconds,
                                                   QLocale(QLocale::English), out);
            });
        };
    };
    const Case cases[] = {
        // Seven days and ten hours since the first midnight, less the hour summer time took.
        {"the report when no copy runs", three_sessions, report(std::nullopt),
         R"(Shortest session: 2 min 0 sec around the 01/04/2000
Longest session: 1 h 2 min 5 sec around the 25/03/2000

Number of sessions: 3
Number of crashed sessions: 1
Crash ratio: 50 %

Number of sessions since 01/04/2000: 1
Time used since 01/04/2000: 2 min 0 sec

Total time used: 1 h 4 min 5 sec
First time used: 25/03/2000 (7 day 9 h 0 min 0 sec ago...)
Time-usage ratio around: 0.603 %
)"},
        {"the report after the running copy was killed: its session as the next start books it",
         three_sessions,
         [](auto& store) {
             const SettableClock clock(at(2000, 4, 1, 10, 0, 0));
             const auto booked =
                 kelvor::commandline::with_pending_crash_booked(store, false, clock);
             return printed([&](auto& out) {
                 kelvor::commandline::report_output(*booked, clock, std::nullopt,
                                                    QLocale(QLocale::English), out);
             });
         },
         R"(Shortest session: 30 sec around the 01/04/2000
Longest session: 1 h 2 min 5 sec around the 25/03/2000

Number of sessions: 3
Number of crashed sessions: 2
Crash ratio: 100 %

Number of sessions since 01/04/2000: 2
Time used since 01/04/2000: 2 min 30 sec

Total time used: 1 h 4 min 35 sec
First time used: 25/03/2000 (7 day 9 h 0 min 0 sec ago...)
Time-usage ratio around: 0.608 %
)"},
        {"sessions while a copy runs", three_sessions,
         [](auto& store) { return sessions_of(store, Format::plain); },
         "Started              Length           Locked        Ending\n"
         "25/03/2000 09:00:00  1 h 2 min 5 sec  10 min 0 sec  properly\n"
         "26/03/2000 09:00:00  2 min 0 sec      0 sec         crashed\n"
         "01/04/2000 08:00:00  30 sec           0 sec         running\n"},
        {"sessions as CSV, each start with the offset of its day", three_sessions,
         [](auto& store) { return sessions_of(store, Format::csv); },
         "start,seconds,locked_seconds,ending\r\n"
         "2000-03-25T09:00:00+01:00,3725,600,properly\r\n"
         "2000-03-26T09:00:00+02:00,120,0,crashed\r\n"
         "2000-04-01T08:00:00+02:00,30,0,running\r\n"},
        // The running session counts with its last save, the killed one with its checkpoint.
        {"days, each with a bar of its active time", three_sessions,
         [](auto& store) { return days_of(store, Format::plain); },
         "Day             Used              Locked        Active         Sessions\n"
         "Sat 25/03/2000  1 h 2 min 5 sec   10 min 0 sec  52 min 5 sec   1         "
         "\u2588\u2588\u2588\u2588\u2588\u2588\u2588\u2588\u2588\u2588\u2588\u2588\u2588\u2588"
         "\u2588\u2588\u2588"
         "\u2588\u2588\u2588\n"
         "Sun 26/03/2000  2 min 0 sec       0 sec         2 min 0 sec    1         \u258a\n"
         "Sat 01/04/2000  30 sec            0 sec         30 sec         1         \u258e\n"
         "Total           1 h 4 min 35 sec  10 min 0 sec  54 min 35 sec\n"},
        {"days as CSV, until a day", three_sessions,
         [](auto& store) {
             return days_of(store, Format::csv, {}, {2000, 3, 31});
         },
         "date,seconds,locked_seconds,active_seconds,sessions,estimated\r\n"
         "2000-03-25,3725,600,3125,1,false\r\n"
         "2000-03-26,120,0,120,1,false\r\n"},
        {"days of a store of the second format, estimated from its history, in # where the "
         "locale has no blocks",
         [](const QString& path) {
             three_sessions(path);
             kelvor::testing::downgrade_to_second_format(path);
         },
         [](auto& store) {
             return days_of(store, Format::plain, {2000, 4, 1}, {}, false);
         },
         "Day               Used    Locked  Active  Sessions\n"
         "Sat 01/04/2000 *  30 sec  0 sec   30 sec  1         ####################\n"
         "Total             30 sec  0 sec   30 sec\n"
         "* estimated from the session history when the store got its day ledger\n"},
        {"sessions as JSON, since the day of the running one", three_sessions,
         [](auto& store) {
             return sessions_of(store, Format::json, true, {2000, 4, 1});
         },
         R"([
    {
        "ending": "running",
        "locked_seconds": 0,
        "seconds": 30,
        "start": "2000-04-01T08:00:00+02:00"
    }
]
)"},
        {"a start edited by hand: kept, and quoted where CSV needs it",
         [](const QString& path) {
             three_sessions(path);
             sqlite3* db = nullptr;
             sqlite3_open(QFile::encodeName(path).constData(), &db);
             sqlite3_exec(db,
                          "UPDATE sessions SET started = 'late, \"very\"' || char(10) || 'late' "
                          "WHERE id = 1; UPDATE sessions SET started = '2000-02-30T09:00:00' "
                          "WHERE id = 2",
                          nullptr, nullptr, nullptr);
             sqlite3_close(db);
         },
         [](auto& store) { return sessions_of(store, Format::csv); },
         "start,seconds,locked_seconds,ending\r\n"
         "\"late, \"\"very\"\"\nlate\",3725,600,properly\r\n"
         "2000-02-30T09:00:00,120,0,crashed\r\n"
         "2000-04-01T08:00:00+02:00,30,0,running\r\n"},
        {"... as JSON, escaped as Qt's own JSON writer escapes", nullptr,
         [](auto& store) { return sessions_of(store, Format::json); },
         R"([
    {
        "ending": "properly",
        "locked_seconds": 600,
        "seconds": 3725,
        "start": "late, \"very\"\nlate"
    },
    {
        "ending": "crashed",
        "locked_seconds": 0,
        "seconds": 120,
        "start": "2000-02-30T09:00:00"
    },
    {
        "ending": "running",
        "locked_seconds": 0,
        "seconds": 30,
        "start": "2000-04-01T08:00:00+02:00"
    }
]
)"},
        {"... shown as a window shows it", nullptr,
         [](auto& store) { return sessions_of(store, Format::plain); },
         "Started              Length           Locked        Ending\n"
         "late, \"very\" late    1 h 2 min 5 sec  10 min 0 sec  properly\n"
         "2000-02-30T09:00:00  2 min 0 sec      0 sec         crashed\n"
         "01/04/2000 08:00:00  30 sec           0 sec         running\n"},
        {"starts that a spreadsheet would take for formulas: CSV makes them text",
         [](const QString& path) {
             three_sessions(path);
             sqlite3* db = nullptr;
             sqlite3_open(QFile::encodeName(path).constData(), &db);
             sqlite3_exec(db,
                          "UPDATE sessions SET started = '=2+3' WHERE id = 1;"
                          "UPDATE sessions SET started = '-2+3' WHERE id = 2;"
                          "UPDATE sessions SET started = '@SUM(1)' WHERE id = 3",
                          nullptr, nullptr, nullptr);
             sqlite3_close(db);
         },
         [](auto& store) { return sessions_of(store, Format::csv); },
         "start,seconds,locked_seconds,ending\r\n"
         "'=2+3,3725,600,properly\r\n"
         "'-2+3,120,0,crashed\r\n"
         "'@SUM(1),30,0,running\r\n"},
        {"lengths edited by hand beyond 32 bits",
         [](const QString& path) {
             three_sessions(path);
             make_database(path, "UPDATE sessions SET seconds = 99999999999 WHERE id = 1;"
                                 "UPDATE sessions SET seconds = -99999999999 WHERE id = 2");
         },
         [](auto& store) { return sessions_of(store, Format::csv); },
         "start,seconds,locked_seconds,ending\r\n"
         "2000-03-25T09:00:00+01:00,2147483647,600,properly\r\n"
         "2000-03-26T09:00:00+02:00,-2147483648,0,crashed\r\n"
         "2000-04-01T08:00:00+02:00,30,0,running\r\n"},
        {"sessions since a day, no copy running: the last one died", three_sessions,
         [](auto& store) {
             return sessions_of(store, Format::csv, false, {2000, 3, 26});
         },
         "start,seconds,locked_seconds,ending\r\n"
         "2000-03-26T09:00:00+02:00,120,0,crashed\r\n"
         "2000-04-01T08:00:00+02:00,30,0,crashed\r\n"},
        {"sessions since a day after the last: plain prints nothing", three_sessions,
         [](auto& store) {
             return sessions_of(store, Format::plain, true, {2000, 4, 2});
         },
         ""},
        {"... CSV its header", three_sessions,
         [](auto& store) {
             return sessions_of(store, Format::csv, true, {2000, 4, 2});
         },
         "start,seconds,locked_seconds,ending\r\n"},
        {"... JSON an empty array", three_sessions,
         [](auto& store) {
             return sessions_of(store, Format::json, true, {2000, 4, 2});
         },
         "[]\n"},
        {"months, in the order first recorded", three_sessions, months(Format::plain),
         "Month    Sessions  Crashed  Time used        Longest session\n"
         "03/2000  1         0        1 h 2 min 5 sec  1 h 2 min 5 sec\n"
         "04/2000  1         1        2 min 0 sec      2 min 0 sec\n"},
        {"months as CSV", three_sessions, months(Format::csv),
         "month,sessions,crashed,seconds,longest_seconds\r\n"
         "2000-03,1,0,3725,3725\r\n"
         "2000-04,1,1,120,120\r\n"},
        {"a month edited by hand: kept as it is, quoted where CSV needs it",
         [](const QString& path) {
             SqliteStore store(path);
             store.write("Month_nb_session", "12/1999", " 7 ");
             store.write("Month_nb_session", "say \"hi\",\nthen", "lots");
             store.write("Month_nb_time", "12/1999", "-60");
         },
         months(Format::csv),
         "month,sessions,crashed,seconds,longest_seconds\r\n"
         "1999-12,7,0,-60,0\r\n"
         "\"say \"\"hi\"\",\nthen\",0,0,0,0\r\n"},
        {"... its month shown as a window shows it, its numbers as CSV gives them", nullptr,
         months(Format::plain),
         "Month           Sessions  Crashed  Time used  Longest session\n"
         "12/1999         7         0        0 sec      0 sec\n"
         "say \"hi\", then  0         0        0 sec      0 sec\n"},
        {"no month yet: the CSV header alone", [](const QString&) {}, months(Format::csv),
         "month,sessions,crashed,seconds,longest_seconds\r\n"},
        {"... no JSON object", [](const QString&) {}, months(Format::json), "[]\n"},
    };
    QTemporaryDir dir;
    const QString path = dir.path() + "/store.sqlite3";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.make) {
            for (const char* suffix : {"", "-wal", "-shm"})
                QFile::remove(path + suffix);
            c.make(path);
        }
        SqliteStore store(path, read_only);
        EXPECT_EQ(c.output(store).toStdString(), c.expected);
    }
}

namespace {

// Every file under the home, with its bytes: what a run may not change.
std::map<std::string, std::string> files_under(const QString& root) {
    std::map<std::string, std::string> all;
    QDirIterator it(root, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        QFile file(path);
        all[path.toStdString()] =
            (file.open(QIODevice::ReadOnly) ? file.readAll().toBase64() : "(folder)").toStdString();
    }
    return all;
}

void without_display(Program& program) {
    for (const char* name : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"})
        program.environment().remove(name);
}

const QDateTime frozen_now = at(2000, 4, 1, 10, 0, 0);

struct StoreState {
    const char* name;
    std::function<void(Program&)> make;
    int status;            // of every option that prints figures
    const char* note = ""; // part of stderr, for every such option
    bool bar_runs = false; // a copy of the bar runs meanwhile
};

const StoreState store_states[] = {
    {"no store", [](Program&) {}, 0, "no figures yet"},
    {"a first-release store",
     [](Program& p) {
         QDir().mkpath(p.data_dir());
         three_sessions(p.store_path());
         kelvor::testing::downgrade_to_first_format(p.store_path());
     },
     0},
    {"a store with three sessions",
     [](Program& p) {
         QDir().mkpath(p.data_dir());
         three_sessions(p.store_path());
     },
     0},
    {"the same while the bar runs",
     [](Program& p) {
         QDir().mkpath(p.data_dir());
         three_sessions(p.store_path());
         p.environment().insert("QT_QPA_PLATFORM", "offscreen");
         p.start();
         ASSERT_TRUE(p.wait_until_session(4));
     },
     0, "", true},
    // Stores that SQLite reads, whatever their files look like alone.
    {"a store whose program was stopped while it checkpointed",
     [](Program& p) {
         QDir().mkpath(p.data_dir());
         three_sessions(p.store_path());
         ASSERT_TRUE(kelvor::testing::stop_in_checkpoint(
             p.store_path(), "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n "
                             "WHERE i < 300) INSERT INTO sessions (started, seconds, ending) "
                             "SELECT '1999-01-01T09:00:00+01:00', i, 'proper' FROM n"));
     },
     0},
    {"a store with a -wal and no -shm, as a backup without *-shm restores it",
     [](Program& p) {
         QDir().mkpath(p.data_dir());
         three_sessions(p.store_path());
         ASSERT_TRUE(kelvor::testing::run_sql_and_stop(
             p.store_path(), "UPDATE settings SET value = '9' WHERE key = 'nb_session'"));
         QFile::remove(p.store_path() + "-shm");
     },
     0},
    {"a copy made by sqlite3's .dump, which loses user_version and application_id",
     [](Program& p) {
         QDir().mkpath(p.data_dir());
         if (QStandardPaths::findExecutable("sqlite3").isEmpty())
             GTEST_SKIP() << "needs the sqlite3 shell (package sqlite3)";
         const QString original = p.home() + "/original.sqlite3";
         three_sessions(original);
         QProcess dump;
         dump.start("sh",
                    {"-c", "sqlite3 \"$0\" .dump | sqlite3 \"$1\"", original, p.store_path()});
         ASSERT_TRUE(dump.waitForFinished() && dump.exitCode() == 0);
     },
     0},
    {"a store whose tables were renamed and renamed back",
     [](Program& p) {
         QDir().mkpath(p.data_dir());
         three_sessions(p.store_path());
         make_database(p.store_path(), "ALTER TABLE settings RENAME TO kept;"
                                       "ALTER TABLE kept RENAME TO settings;");
     },
     0},
    {"another program's database",
     [](Program& p) { make_database(p.store_path(), "CREATE TABLE notes (body TEXT);"); }, 1,
     "not a Kelvor store"},
    {"a store of a newer Kelvor",
     [](Program& p) {
         QByteArray sql;
         for (const char* statement : kelvor::platform::store_formats().back().schema)
             sql += QByteArray(statement) + ";";
         make_database(p.store_path(),
                       sql + "PRAGMA user_version = 99; PRAGMA application_id = " +
                           QByteArray::number(kelvor::platform::kelvor_application_id));
     },
     1, "was made by a newer Kelvor (store format 99"},
};

// What an option prints for a store, computed in this process by the functions the program
// uses; their texts are pinned by PrintsEachTableInEachFormat.
struct Ask {
    QStringList arguments;
    std::function<QByteArray(SqliteStore&, bool running)> expected;
    const char* first_release_note = ""; // on stderr for a first-release store
    const char* history_note = "";       // on stderr for a store with a history
};

// The figures of the report and the months, as the options count them: a session that never
// ended, with no copy running, as the crash the next start will book.
template <typename Prints> auto counted_as_booked(Prints&& prints) {
    return [prints](SqliteStore& store, bool running) {
        const SettableClock clock(frozen_now);
        const auto booked = kelvor::commandline::with_pending_crash_booked(store, running, clock);
        return printed([&](auto& out) { prints(booked ? *booked : store, running, clock, out); });
    };
}

const Ask asks[] = {
    {{"--report"},
     counted_as_booked([](kelvor::platform::SqliteStore& store, bool running,
                          const SettableClock& clock, auto& out) {
         if (store.found_format() == 0)
             return;
         kelvor::commandline::report_output(
             store, clock,
             running ? std::optional(kelvor::session::saved_session_seconds(store)) : std::nullopt,
             QLocale(), out);
     })},
    {{"--months"}, counted_as_booked([](auto& store, bool, const auto&, auto& out) {
         kelvor::commandline::months_output(store, Format::plain, out);
     })},
    {{"--months", "--json"}, counted_as_booked([](auto& store, bool, const auto&, auto& out) {
         kelvor::commandline::months_output(store, Format::json, out);
     })},
    // The last 7 days up to the frozen today, bars as the locale can draw them.
    {{"--days"},
     [](SqliteStore& store, bool) {
         return printed([&](auto& out) {
             kelvor::commandline::days_output(store, Format::plain,
                                              {frozen_now.date().addDays(-6), frozen_now.date()},
                                              kelvor::platform::locale_is_utf8(), out);
         });
     },
     "no days yet"},
    {{"--sessions"},
     [](SqliteStore& store, bool running) { return sessions_of(store, Format::plain, running); },
     "no session history yet"},
    {{"--sessions", "--since", "2000-04-02"},
     [](SqliteStore& store, bool running) {
         return sessions_of(store, Format::plain, running, {2000, 4, 2});
     },
     "no session history yet",
     "no sessions since 2000-04-02"},
    {{"--sessions", "--csv", "--since", "2000-03-26"},
     [](SqliteStore& store, bool running) {
         return sessions_of(store, Format::csv, running, {2000, 3, 26});
     },
     "no session history yet"},
};

class OnEveryStore : public ::testing::TestWithParam<StoreState> {};

} // namespace

// Each option on each kind of store, by the real program without a display: what it prints,
// its status, and not a byte changed or created (no lock, no autostart entry).
TEST_P(OnEveryStore, PrintsWithoutDisplayAndChangesNothing) {
    const StoreState& state = GetParam();
    Program program;
    if (!program.freeze_wall_clock(frozen_now))
        GTEST_SKIP() << "needs libfaketime (package faketime) to fix the report's clock";
    state.make(program);
    if (IsSkipped() || HasFatalFailure())
        return;
    without_display(program);
    QByteArray refusal; // the bar's own, for a store it refuses
    if (state.status != 0) {
        program.environment().insert("QT_QPA_PLATFORM", "offscreen");
        const auto bar = program.run({});
        ASSERT_EQ(bar.status, 1);
        refusal = bar.err;
        without_display(program);
    }
    // Another reader would leave SQLite's files beside a store it read; the store is only
    // dumped while the bar runs, and holds them anyway.
    const auto dump = state.bar_runs ? program.dump() : kelvor::testing::StoreDump();
    const auto files = files_under(program.home());

    for (const Ask& ask : asks) {
        SCOPED_TRACE(ask.arguments.join(' ').toStdString());
        const auto run = program.run(ask.arguments);
        EXPECT_EQ(run.status, state.status) << run.err.toStdString();
        bool first_release = false;
        if (state.status != 0) {
            EXPECT_EQ(run.err, refusal);
            EXPECT_EQ(run.out, "");
        } else {
            SqliteStore store(program.store_path(), read_only);
            EXPECT_EQ(run.out.toStdString(), ask.expected(store, state.bar_runs).toStdString());
            first_release = store.found_format() == 1;
        }
        EXPECT_TRUE(run.err.contains(first_release ? ask.first_release_note : state.note))
            << run.err.toStdString();
        if (state.status == 0 && !first_release && QFile::exists(program.store_path())) {
            EXPECT_TRUE(run.err.contains(ask.history_note)) << run.err.toStdString();
        }
        if (state.bar_runs)
            EXPECT_EQ(program.dump(), dump);
        else
            EXPECT_EQ(files_under(program.home()), files);
    }
    if (state.status != 0 || state.bar_runs || !QFile::exists(program.store_path()))
        return;
    // The bar starts on every store the options read, and books the session they count as
    // crashed exactly once.
    const StoreDump before = program.dump();
    program.environment().insert("QT_QPA_PLATFORM", "offscreen");
    QProcess& bar = program.start();
    ASSERT_TRUE(program.wait_until_session(int(before.number("nb_session")) + 1))
        << bar.readAllStandardError().toStdString();
    send_signal(bar, SIGTERM);
    ASSERT_TRUE(bar.waitForFinished(10000));
    EXPECT_EQ(bar.exitCode(), 0);
    const StoreDump after = program.dump();
    EXPECT_EQ(after.number("nb_session_crashed"),
              before.number("nb_session_crashed") + (before.running() ? 1 : 0));
    EXPECT_EQ(after.get("Stat", "debuted?"), "No");
}

INSTANTIATE_TEST_SUITE_P(Stores, OnEveryStore, ::testing::ValuesIn(store_states),
                         kelvor::testing::NamedAfterCase());

// Help, version and wrong arguments answer with or without a display, and create nothing: no
// store, no lock, no autostart entry.
TEST(CommandLine, HelpVersionAndWrongArgumentsTouchNothing) {
    const struct {
        QStringList arguments;
        int status;
        const char* out; // part of it
        const char* err;
    } cases[] = {
        {{"--version"}, 0, "kelvor " KELVOR_VERSION "\n", ""},
        {{"--help"}, 0, "--sessions", ""},
        {{"--bogus"}, 2, "", "kelvor: unknown option '--bogus'\nTry 'kelvor --help'.\n"},
        {{"--sessions", "--since", "last-week"}, 2, "", "today or yesterday, not 'last-week'"},
    };
    for (const bool display : {true, false}) {
        Program program;
        if (!display)
            without_display(program);
        const auto files = files_under(program.home());
        for (const auto& c : cases) {
            SCOPED_TRACE(c.arguments.join(' ').toStdString() + (display ? "" : ", no display"));
            const auto run = program.run(c.arguments);
            EXPECT_EQ(run.status, c.status);
            EXPECT_TRUE(run.out.contains(c.out)) << run.out.toStdString();
            EXPECT_TRUE(run.err.contains(c.err)) << run.err.toStdString();
            if (c.status == 2) {
                EXPECT_EQ(run.out, "");
                EXPECT_EQ(run.err.count('\n'), 2); // what is wrong, and where to look
            }
        }
        EXPECT_EQ(files_under(program.home()), files);
    }
}

// Output that cannot be written is an error, never a table cut short that looks whole: the
// program says so and ends with status 1. A closed pipe whose signal is not ignored still ends
// it by that signal, as every shell tool.
TEST(CommandLine, LostOutputIsAnError) {
    Program program;
    QDir().mkpath(program.data_dir());
    three_sessions(program.store_path());
    const struct {
        const char* name;
        const char* shell; // runs the program as "$0" "$@"
        const char* message;
    } sinks[] = {
        {"a full disk", R"(exec "$0" "$@" > /dev/full)", "No space left on device"},
        {"a closed standard output", R"(exec "$0" "$@" >&-)", "Bad file descriptor"},
    };
    for (const auto& sink : sinks) {
        for (const QStringList& arguments : {QStringList{"--report"},
                                             {"--sessions", "--csv"},
                                             {"--months", "--json"},
                                             {"--version"}}) {
            SCOPED_TRACE(std::string(sink.name) + ": " + arguments.join(' ').toStdString());
            const auto run = program.run(arguments, {"sh", "-c", sink.shell});
            EXPECT_EQ(run.status, 1);
            EXPECT_EQ(run.err.toStdString(),
                      std::string("kelvor: cannot write the output: ") + sink.message + "\n");
        }
    }
}
