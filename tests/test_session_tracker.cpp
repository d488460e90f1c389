#include "session/duration_text.h"
#include "session/month_records.h"
#include "session/session_tracker.h"
#include "session/usage_report.h"
#include "support/store_invariants.h"
#include "support/test_support.h"

#include <QFile>
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <thread>

using kelvor::session::SessionTracker;
using kelvor::testing::at;
using kelvor::testing::TempStore;

namespace {

struct Runs {
    TempStore temp;
    kelvor::platform::SettableClock clock{at(2000, 3, 25, 9, 0, 0)};
    std::unique_ptr<SessionTracker> tracker;

    // A new run of the program on the same store.
    SessionTracker& start() {
        temp.reopen();
        tracker = std::make_unique<SessionTracker>(temp.store(), clock);
        tracker->start();
        return *tracker;
    }
    QString get(const char* section, const QString& key) { return temp.get(section, key); }
};

} // namespace

TEST(SessionStart, FirstStartEverWritesTheInitialState) {
    Runs run;
    SessionTracker tracker(run.temp.store(), run.clock);
    const auto place = tracker.window_place();
    tracker.start();
    EXPECT_EQ(place.top, 0);
    EXPECT_EQ(place.left, 4000);
    EXPECT_EQ(run.get("Stat", "nb_session"), "1");
    EXPECT_EQ(run.get("Stat", "debuted?"), "Yes");
    EXPECT_EQ(run.get("Stat", "recupered_time"), "30");
    EXPECT_EQ(run.get("Stat", "first_time_run"), "25/03/2000");
    EXPECT_EQ(run.get("Stat", "Creator_name"), QStringLiteral("Æorn/Quillet"));
    EXPECT_EQ(run.get("Stat", "nb_session_crashed"), "<absent>");
    EXPECT_EQ(tracker.last_session_duration, 30);
    EXPECT_EQ(tracker.last_session_suffix, "");
    EXPECT_EQ(tracker.time_deb, at(2000, 3, 25, 9, 0, 0));
    EXPECT_FALSE(run.temp.store().list("Month_nb_session").has_value());
}

TEST(SessionStart, PlacesTheWindowFromTheStore) {
    Runs run;
    run.temp.store().write("Init", "Top", "-450");
    run.temp.store().write("Init", "Left", "123456");
    EXPECT_EQ(SessionTracker(run.temp.store(), run.clock).window_place().top, -450);
    run.temp.store().write("Init", "Top", "not a number");
    const auto place = SessionTracker(run.temp.store(), run.clock).window_place();
    EXPECT_EQ(place.top, 0);
    EXPECT_EQ(place.left, 123456);
}

TEST(SessionStart, VlimIsOverwrittenAndARealDateKept) {
    Runs run;
    run.temp.store().write("Stat", "first_time_run", "vlim");
    run.start();
    EXPECT_EQ(run.get("Stat", "first_time_run"), "25/03/2000");
    run.clock.advance(86400 * 40);
    run.start();
    EXPECT_EQ(run.get("Stat", "first_time_run"), "25/03/2000");
}

TEST(SessionLife, TicksCheckpointAndProperEndBooksEverything) {
    Runs run;
    auto& s = run.start();
    run.clock.advance(60);
    s.tick();
    run.clock.advance(61);
    s.tick();
    EXPECT_EQ(s.minutes_elapsed_current_session, 2);
    EXPECT_EQ(run.get("Stat", "recupered_time"), "121");
    run.clock.advance(3725 - 121);
    s.end();
    s.end(); // a second close books nothing more
    EXPECT_EQ(run.get("Stat", "debuted?"), "No");
    EXPECT_EQ(run.get("Stat", "recupered_time"), "3725");
    EXPECT_EQ(run.get("Stat", "nb_time_total"), "3725");
    EXPECT_EQ(run.get("Stat", "shortest"), "3725");
    EXPECT_EQ(run.get("Stat", "shortest_date"), "25/03/2000");
    EXPECT_EQ(run.get("Stat", "longest"), "3725");
    EXPECT_EQ(run.get("Stat", "longest_date"), "25/03/2000");
    EXPECT_EQ(run.get("Month_longest", "03/2000"), "3725");
    EXPECT_EQ(run.get("Month_nb_time", "03/2000"), "3725");
    EXPECT_EQ(run.get("Month_nb_session", "03/2000"), "1");
    EXPECT_EQ(run.get("Month_nb_crash", "03/2000"), "<absent>");

    // The next start only reads the length back; no record moves.
    auto& next = run.start();
    EXPECT_EQ(next.last_session_duration, 3725);
    EXPECT_EQ(next.last_session_suffix, "");
    EXPECT_EQ(run.get("Stat", "nb_session"), "2");
    EXPECT_EQ(run.get("Stat", "nb_session_crashed"), "<absent>");
    EXPECT_EQ(run.get("Month_nb_session", "03/2000"), "1");
}

TEST(SessionLife, AbruptEndIsBookedAtTheNextStartInItsMonth) {
    Runs run;
    run.clock.set(at(2000, 3, 31, 23, 0, 0));
    auto& s = run.start();
    run.clock.advance(120);
    s.checkpoint();
    run.clock.advance(50); // lost: the process dies here
    run.tracker.reset();

    run.clock.set(at(2000, 4, 1, 8, 0, 0));
    auto& next = run.start();
    EXPECT_EQ(next.last_session_duration, 120);
    EXPECT_EQ(next.last_session_suffix, " (crashed)");
    EXPECT_EQ(run.get("Stat", "nb_session"), "2");
    EXPECT_EQ(run.get("Stat", "nb_session_crashed"), "1");
    EXPECT_EQ(run.get("Stat", "nb_time_total"), "120");
    EXPECT_EQ(run.get("Stat", "shortest_date"), "01/04/2000");
    EXPECT_EQ(run.get("Month_nb_session", "04/2000"), "1");
    EXPECT_EQ(run.get("Month_nb_time", "04/2000"), "120");
    EXPECT_EQ(run.get("Month_nb_crash", "04/2000"), "1");
    EXPECT_EQ(run.get("Month_longest", "04/2000"), "120");
    EXPECT_EQ(run.get("Month_nb_session", "03/2000"), "<absent>");
    EXPECT_EQ(run.get("Stat", "debuted?"), "Yes");
    EXPECT_EQ(run.get("Stat", "recupered_time"), "30");
}

TEST(SessionLife, DeathBeforeTheFirstTickCostsThirtySeconds) {
    Runs run;
    run.start();
    run.start();
    EXPECT_EQ(run.get("Stat", "nb_time_total"), "30");
    EXPECT_EQ(run.tracker->last_session_suffix, " (crashed)");
}

TEST(SessionLife, OnlyAnExactYesMeansAbruptEnd) {
    for (const char* flag : {"yes", "YES", "Yes ", "No", "", "1"}) {
        Runs run;
        run.temp.store().write("Stat", "debuted?", flag);
        run.start();
        EXPECT_EQ(run.get("Stat", "nb_session_crashed"), "<absent>") << flag;
    }
}

TEST(MonthRecords, RecordsMoveOnlyOnStrictlyBetterSessions) {
    struct Step {
        qint32 seconds;
        const char* shortest;
        const char* longest;
        const char* month_longest;
        const char* shortest_date;
        const char* longest_date;
    };
    // Each session on a new day, so a moved record shows in its date.
    const std::vector<Step> steps = {
        {3725, "3725", "3725", "3725", "01/03/2000", "01/03/2000"},
        // a tie keeps the record and its date
        {3725, "3725", "3725", "3725", "01/03/2000", "01/03/2000"},
        {0, "0", "3725", "3725", "03/03/2000", "01/03/2000"},
        // an older release measured a clock set back
        {-40, "-40", "3725", "3725", "04/03/2000", "01/03/2000"},
        // a negative shortest is no record
        {5000, "5000", "5000", "5000", "05/03/2000", "05/03/2000"},
        {6000, "5000", "6000", "6000", "05/03/2000", "06/03/2000"},
    };
    Runs run;
    auto& store = run.temp.store();
    for (size_t i = 0; i < steps.size(); ++i) {
        SCOPED_TRACE(i);
        run.clock.set(at(2000, 3, int(i) + 1));
        kelvor::session::Update_stat_with_time(store, run.clock, steps[i].seconds);
        EXPECT_EQ(run.get("Stat", "shortest"), steps[i].shortest);
        EXPECT_EQ(run.get("Stat", "longest"), steps[i].longest);
        EXPECT_EQ(run.get("Month_longest", "03/2000"), steps[i].month_longest);
        EXPECT_EQ(run.get("Stat", "shortest_date"), steps[i].shortest_date);
        EXPECT_EQ(run.get("Stat", "longest_date"), steps[i].longest_date);
    }
    EXPECT_EQ(run.get("Stat", "shortest_date"), "05/03/2000");
    EXPECT_EQ(run.get("Stat", "longest_date"), "06/03/2000");
}

TEST(MonthRecords, ZeroSessionOnEmptyStoreSetsOnlyTheShortest) {
    Runs run;
    kelvor::session::Update_stat_with_time(run.temp.store(), run.clock, 0);
    EXPECT_EQ(run.get("Stat", "shortest"), "0");
    EXPECT_EQ(run.get("Stat", "longest"), "<absent>");
    EXPECT_EQ(run.get("Month_longest", "03/2000"), "<absent>");
}

// A session's length is the time the machine was awake: neither a sleep nor a change of the
// wall clock counts. The bar, the report and the booking agree on it. Every save adds what the
// session grew by to the day ledger, on the day of the save, with the locked seconds; the
// first lock state told counts from the start.
TEST(SessionLife, LengthIsTheAwakeTimeWhateverTheWallClockDoes) {
    enum Kind { awake, sleep, set_wall, tick, lock, unlock };
    struct Event {
        Kind kind;
        qint64 seconds = 0; // awake, asleep, or the wall clock's jump
    };
    struct Case {
        const char* name;
        std::vector<Event> events;
        qint32 minutes; // on the bar
        qint32 booked;
        const char* month; // of the booking: the wall clock's at the end
        QTime start = {9, 0};
        QStringList days = {}; // "day seconds locked sessions"; not looked at when empty
        qint64 locked = 0;
    };
    constexpr qint64 day = 86400;
    const std::vector<Case> cases = {
        {"an 8-hour sleep between two ticks",
         {{awake, 60}, {tick, 0}, {sleep, 8 * 3600}, {awake, 60}, {tick, 0}, {awake, 30}},
         2,
         150,
         "03/2000"},
        {"a tick late by five minutes (process stopped) catches up",
         {{awake, 300}, {tick, 0}, {awake, 60}, {tick, 0}},
         6,
         360,
         "03/2000"},
        {"wall clock set back a day",
         {{awake, 60}, {tick, 0}, {set_wall, -day}, {awake, 4}},
         1,
         64,
         "03/2000"},
        {"wall clock put forward six years by NTP",
         {{awake, 4}, {set_wall, 6 * 365 * day}},
         0,
         4,
         "03/2006"},
        {"wall clock set back at once", {{set_wall, -600}}, 0, 0, "03/2000"},
        {"past midnight: split at the tick that crosses it",
         {{awake, 60}, {tick}, {awake, 60}, {tick}, {awake, 30}},
         2,
         150,
         "03/2000",
         {23, 58, 30},
         {"2000-03-25 60 0 1", "2000-03-26 90 0 1"}},
        {"a night's sleep: the time goes to the day of the tick that follows",
         {{awake, 60}, {tick}, {sleep, 8 * 3600}, {awake, 60}, {tick}},
         2,
         120,
         "03/2000",
         {23, 0},
         {"2000-03-25 60 0 1", "2000-03-26 60 0 1"}},
        {"past midnight before its first tick: all on the day of the end",
         {{awake, 20}},
         0,
         20,
         "03/2000",
         {23, 59, 50},
         {"2000-03-25 0 0 1", "2000-03-26 20 0 1"}},
        {"locked when told first: from the start",
         {{awake, 5}, {lock}, {awake, 10}, {unlock}, {awake, 8}},
         0,
         23,
         "03/2000",
         {9, 0},
         {"2000-03-25 23 15 1"},
         15},
        {"unlocked when told first, then locked",
         {{awake, 5}, {unlock}, {awake, 3}, {lock}, {awake, 10}, {tick}, {awake, 70}},
         1,
         88,
         "03/2000",
         {9, 0},
         {"2000-03-25 88 80 1"},
         80},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Runs run;
        run.clock.set(QDateTime(QDate(2000, 3, 25), c.start));
        auto& s = run.start();
        for (const Event& e : c.events) {
            switch (e.kind) {
            case awake:
                run.clock.advance(e.seconds);
                break;
            case sleep:
                run.clock.sleep(e.seconds);
                break;
            case set_wall:
                run.clock.set(run.clock.now().addSecs(e.seconds));
                break;
            case tick:
                s.tick();
                break;
            case lock:
            case unlock:
                s.set_locked(e.kind == lock);
                break;
            }
        }
        EXPECT_EQ(s.minutes_elapsed_current_session, c.minutes);
        const QString report = kelvor::session::usage_report_text(s);
        EXPECT_TRUE(report.startsWith(
            "This session have: " + kelvor::session::affiche_secondes(c.booked) + "\n"))
            << report.toStdString();
        EXPECT_LE(std::abs(c.minutes - c.booked / 60), 1) << "the bar and the report disagree";
        s.end();
        const QString booked = QString::number(c.booked);
        EXPECT_EQ(run.get("Stat", "recupered_time"), booked);
        EXPECT_EQ(run.get("Stat", "nb_time_total"), booked);
        EXPECT_EQ(run.get("Stat", "shortest"), booked);
        EXPECT_EQ(run.get("Month_nb_time", c.month), booked);
        EXPECT_EQ(run.get("Month_nb_session", c.month), "1");
        const auto dump = kelvor::testing::StoreDump::of_file(run.temp.path());
        EXPECT_TRUE(kelvor::testing::store_invariants_hold(dump));
        if (c.days.isEmpty())
            continue;
        QStringList days;
        for (const auto& day : dump.days.value())
            days << QStringLiteral("%1 %2 %3 %4")
                        .arg(day.day)
                        .arg(day.seconds)
                        .arg(day.locked_seconds)
                        .arg(day.sessions);
        EXPECT_EQ(days, c.days);
        EXPECT_EQ(dump.sessions->front().locked_seconds, c.locked);
    }
}

// At log-off another program may hold the store (a backup tool, an sqlite3 shell), or the disk
// may be full: the end tries again for a while and books the session once.
TEST(SessionEnd, RetriesAFailingStoreAndBooksOnce) {
    struct Case {
        const char* name;
        int fails_for_ms; // -1: for good
        std::chrono::milliseconds patience;
        bool booked;
        const char* table = "settings"; // whose updates fail
    };
    const Case cases[] = {
        {"writes fail for a second", 1000, std::chrono::seconds(30), true},
        {"writes fail longer than the end waits", -1, std::chrono::milliseconds(700), false},
        {"the history's write fails for a second", 1000, std::chrono::seconds(30), true,
         "sessions"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Runs run;
        auto& s = run.start();
        run.clock.advance(125);
        s.tick();
        run.clock.advance(15);
        s.end_patience = c.patience;
        // Another connection makes every write fail, as a full disk would.
        sqlite3* other = nullptr;
        ASSERT_EQ(sqlite3_open(QFile::encodeName(run.temp.path()).constData(), &other), SQLITE_OK);
        // The tracker's retries hold the store now and then; the trigger's removal waits.
        sqlite3_busy_timeout(other, 5000);
        const QByteArray trigger = QByteArray("CREATE TRIGGER refuse BEFORE UPDATE ON ") + c.table +
                                   " BEGIN SELECT RAISE(ABORT, 'disk full'); END;";
        ASSERT_EQ(sqlite3_exec(other, trigger.constData(), nullptr, nullptr, nullptr), SQLITE_OK);
        std::thread other_program([&] {
            if (c.fails_for_ms >= 0) {
                std::this_thread::sleep_for(std::chrono::milliseconds(c.fails_for_ms));
                sqlite3_exec(other, "DROP TRIGGER refuse", nullptr, nullptr, nullptr);
            }
        });
        if (c.booked) {
            EXPECT_NO_THROW(s.end());
        } else {
            EXPECT_THROW(s.end(), kelvor::platform::StoreError);
        }
        other_program.join();
        sqlite3_exec(other, "DROP TRIGGER IF EXISTS refuse", nullptr, nullptr, nullptr);
        sqlite3_close(other);
        s.end(); // a second close books nothing more, and never tries again
        EXPECT_EQ(run.get("Stat", "debuted?"), c.booked ? "No" : "Yes");
        EXPECT_EQ(run.get("Stat", "nb_time_total"), c.booked ? "140" : "<absent>");
        // Unbooked, it is the crash the next start finds, with its last checkpoint.
        run.start();
        EXPECT_EQ(run.get("Stat", "nb_session_crashed"), c.booked ? "<absent>" : "1");
        EXPECT_EQ(run.get("Stat", "nb_time_total"), c.booked ? "140" : "125");
        // The history books it once too, ended or crashed.
        EXPECT_TRUE(kelvor::testing::store_invariants_hold(
            kelvor::testing::StoreDump::of_file(run.temp.path())));
    }
}

TEST(SessionLife, MonthsAreListedInTheOrderFirstBooked) {
    Runs run;
    for (const auto& day : {at(2000, 11, 5), at(2000, 12, 5), at(2001, 1, 5), at(2000, 11, 20)}) {
        run.clock.set(day);
        auto& s = run.start();
        run.clock.advance(100);
        s.end();
    }
    const auto months = run.temp.store().list("Month_nb_session");
    ASSERT_TRUE(months.has_value());
    ASSERT_EQ(months->size(), 3u);
    EXPECT_EQ((*months)[0], std::make_pair(QString("11/2000"), QString("2")));
    EXPECT_EQ((*months)[1].first, "12/2000");
    EXPECT_EQ((*months)[2].first, "01/2001");
}

TEST(SessionLife, HandEditedTextsNeverBreakTheSequence) {
    const std::vector<const char*> junk = {"",      "abc",          "12abc", " 7 ",
                                           "1e400", "-99999999999", "NaN",   "\xff\xfe"};
    for (const char* text : junk) {
        SCOPED_TRACE(text);
        Runs run;
        auto& store = run.temp.store();
        for (const char* key : {"nb_session", "nb_session_crashed", "recupered_time",
                                "nb_time_total", "shortest", "longest"})
            store.write("Stat", key, QString::fromLatin1(text));
        store.write("Stat", "debuted?", "Yes");
        store.write("Month_nb_session", "03/2000", QString::fromLatin1(text));
        store.write("Init", "Top", QString::fromLatin1(text));
        auto& s = run.start();
        run.clock.advance(90);
        s.tick();
        s.end();
        EXPECT_EQ(run.get("Stat", "debuted?"), "No");
        EXPECT_FALSE(run.get("Stat", "nb_time_total").contains("nan", Qt::CaseInsensitive));
        EXPECT_GE(run.get("Stat", "shortest").toInt(), 0) << "a session booked below 0 s";
    }
}
