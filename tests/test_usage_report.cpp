#include "commandline/figures_output.h"
#include "session/numbers.h"
#include "session/session_tracker.h"
#include "session/usage_report.h"
#include "support/expected_reports.h"
#include "support/test_support.h"

#include <QStringList>
#include <functional>
#include <gtest/gtest.h>
#include <map>

using kelvor::platform::SettableClock;
using kelvor::platform::SettingsStore;
using kelvor::platform::Store;
using kelvor::session::general_number_text;
using kelvor::session::overall_crash_ratio_text;
using kelvor::session::seconds_since_first_use;
using kelvor::session::usage_ratio_text;
using kelvor::session::usage_report_text;
using kelvor::testing::at;
using kelvor::testing::TempStore;

namespace {

// Every value of every section the program keeps, to see what a showing changed.
std::map<QString, QString> everything(SettingsStore& store) {
    std::map<QString, QString> all;
    for (const char* section :
         {"Init", "Stat", "Month_nb_session", "Month_nb_time", "Month_nb_crash", "Month_longest"}) {
        if (const auto list = store.list(section)) {
            for (const auto& [key, value] : *list)
                all[QString(section) + '/' + key] = value;
        }
    }
    return all;
}

struct Setting {
    const char* section;
    const char* key;
    const char* value;
};

void write_all(SettingsStore& store, std::initializer_list<Setting> settings) {
    for (const Setting& s : settings)
        store.write(s.section, s.key, QString::fromUtf8(s.value));
}

} // namespace

TEST(CrashRatio, OneDecimalTruncatedOverFinishedSessions) {
    struct Case {
        qint32 sessions, crashed;
        const char* text;
    };
    const Case cases[] = {
        {4, 1, "33.3"},   // 1000 / 3 = 333.3, truncated
        {21, 3, "15"},    // a whole value has no decimal point
        {2, 1, "100"},    // the running session is never one of the crashed
        {7, 1, "16.6"},   // 16.66 is truncated, not rounded
        {3, 2, "100"},    //
        {2, 3, "300"},    // more crashes than finished sessions: hand-edited, still a number
        {1, 1, "???"},    // first session: nothing finished yet
        {1000, 0, "???"}, // no crash recorded
        {0, 0, "???"},    // empty store
        {5, -1, "???"},   //
        {-4, 1, "???"},   //
        {2, 2147483647, "214748364700"}, // the largest figures fit, with no exponent
        {2147483647, 1, "0"},            //
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.crashed << " of " << c.sessions);
        EXPECT_EQ(overall_crash_ratio_text(c.sessions, c.crashed, ".").toStdString(), c.text);
    }
}

TEST(UsageRatio, ThreeDecimalsTruncatedOverTimeSinceFirstUse) {
    struct Case {
        qint32 total, since;
        const char* text;
    };
    const Case cases[] = {
        {36000, 864000, "4.166"},   // 4.16666...
        {3600, 36000, "10"},        // first session, 09:00 to 10:00 of the first day
        {3, 40, "7.5"},             // trailing zeros dropped
        {1, 100000, "0.001"},       //
        {1, 100001, "0"},           // below the last decimal
        {0, 1, "0"},                //
        {1, 3, "33.333"},           //
        {50, 50, "100"},            //
        {-36000, 864000, "-4.167"}, // clock set back: rounded down, not toward zero
        {100, 0, "???"},            // first_time_run unreadable, or the very second of midnight
        {100, -3600, "???"},        // first_time_run in the future
        {2147483647, 1, "214748364700"},
        {-2147483647 - 1, 1, "-214748364800"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.total << " over " << c.since);
        EXPECT_EQ(usage_ratio_text(c.total, c.since, ".").toStdString(), c.text);
    }
}

TEST(Ratios, UseTheGivenDecimalSeparator) {
    EXPECT_EQ(overall_crash_ratio_text(4, 1, ","), "33,3");
    EXPECT_EQ(usage_ratio_text(36000, 864000, ","), "4,166");
    EXPECT_EQ(usage_ratio_text(3600, 36000, ","), "10");
    EXPECT_EQ(general_number_text(-5, 3, ","), "-0,005");
    EXPECT_EQ(general_number_text(1005, 3, QStringLiteral("٫")), QStringLiteral("1٫005"));
}

TEST(SecondsSinceFirstUse, CountFromMidnightOfTheFirstDay) {
    const QDateTime now = at(2000, 3, 25, 10, 0, 0);
    struct Case {
        const char* first_time_run;
        qint32 seconds;
    };
    const Case cases[] = {
        {"25/03/2000", 36000},
        {"15/03/2000", 10 * 86400 + 36000},
        {"26/03/2000", -14 * 3600}, // a first day after today: negative, so no ratio
        {"01/01/0100", 2147483647}, // far past: kept in 32 bits
        {"vlim", 0},                // never written
        {"31/02/2000", 0},          // no such day
        {"2000-03-25", 0},          // not our date form
        {"25/03/2000 ", 0},         //
        {"", 0},                    //
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.first_time_run);
        EXPECT_EQ(seconds_since_first_use(c.first_time_run, now), c.seconds);
    }
}

// Whole reports, byte for byte, over stores made by a real session start or written as a
// user's store would hold them (some edited by hand).
TEST(UsageReport, WholeTextForKnownStores) {
    struct Case {
        const char* name;
        std::function<void(Store&)> store;
        QDateTime now;
        qint32 session_seconds;
        qint32 last_session_duration;
        const char* last_session_suffix;
        const char* text; // as shown, line feeds and all
    };
    const Case cases[] = {
        {"first session of a new store, 09:00 to 10:00",
         [](Store& store) {
             SettableClock start_clock(at(2000, 3, 25, 9, 0, 0));
             kelvor::session::SessionTracker(store, start_clock).start();
         },
         at(2000, 3, 25, 10, 0, 0), 3600, 30, "", kelvor::testing::first_hour_report},
        {"a crash among four sessions, ten days of use",
         [](SettingsStore& store) {
             write_all(store, {{"Stat", "nb_session", "4"},
                               {"Stat", "nb_session_crashed", "1"},
                               {"Stat", "nb_time_total", "32400"},
                               {"Stat", "first_time_run", "01/03/2000"},
                               {"Stat", "shortest", "1800"},
                               {"Stat", "shortest_date", "02/03/2000"},
                               {"Stat", "longest", "14400"},
                               {"Stat", "longest_date", "05/03/2000"},
                               {"Month_nb_session", "03/2000", "3"},
                               {"Month_nb_time", "03/2000", "32400"}});
         },
         at(2000, 3, 11, 0, 0, 0), 3600, 7200, " (crashed)",
         R"(This session have: 1 h 0 min 0 sec
Last session duration: 2 h 0 min 0 sec (crashed)

Shortest session: 30 min 0 sec around the 02/03/2000
Longest session: 4 h 0 min 0 sec around the 05/03/2000

Number of sessions: 4
Number of crashed sessions: 1
Crash ratio: 33.3 %

Number of sessions since 01/03/2000: 4
Time used since 01/03/2000: 10 h 0 min 0 sec

Total time used: 10 h 0 min 0 sec
First time used: 01/03/2000 (10 day 0 h 0 min 0 sec ago...)
Time-usage ratio around: 4.166 %

Do you want to see last months stats ?)"},
        {"first session of a new month",
         [](SettingsStore& store) {
             write_all(store, {{"Stat", "nb_session", "21"},
                               {"Stat", "nb_session_crashed", "3"},
                               {"Stat", "nb_time_total", "100000"},
                               {"Stat", "first_time_run", "01/01/2000"},
                               {"Stat", "shortest", "0"},
                               {"Stat", "shortest_date", "03/01/2000"},
                               {"Stat", "longest", "31626061"},
                               {"Stat", "longest_date", "31/03/2000"},
                               {"Month_nb_session", "03/2000", "20"},
                               {"Month_nb_time", "03/2000", "99000"}});
         },
         at(2000, 4, 1, 0, 30, 0), 1800, 3725, "",
         R"(This session have: 30 min 0 sec
Last session duration: 1 h 2 min 5 sec

Shortest session: 0 sec around the 03/01/2000
Longest session: 1 year 1 day 1 h 1 min 1 sec around the 31/03/2000

Number of sessions: 21
Number of crashed sessions: 3
Crash ratio: 15 %

Number of sessions since 01/04/2000: 1
Time used since 01/04/2000: 30 min 0 sec

Total time used: 1 day 4 h 16 min 40 sec
First time used: 01/01/2000 (91 day 0 h 30 min 0 sec ago...)
Time-usage ratio around: 1.294 %

Do you want to see last months stats ?)"},
        {"every key missing: the readers' defaults", [](SettingsStore&) {},
         at(2000, 3, 25, 9, 1, 30), 90, 0, "",
         R"(This session have: 1 min 30 sec
Last session duration: 0 sec

Shortest session: 11 day 13 h 46 min 39 sec around the ??/??/??
Longest session: 0 sec around the ??/??/??

Number of sessions: 0
Number of crashed sessions: 0
Crash ratio: ??? %

Number of sessions since 01/03/2000: 1
Time used since 01/03/2000: 1 min 30 sec

Total time used: 1 min 30 sec
First time used: vlim (0 sec ago...)
Time-usage ratio around: ??? %

Do you want to see last months stats ?)"},
        {"a store edited by hand",
         [](SettingsStore& store) {
             write_all(store, {{"Stat", "nb_session", " 12 sessions"},
                               {"Stat", "nb_session_crashed", "2"},
                               {"Stat", "nb_time_total", "lots"},
                               {"Stat", "first_time_run", "the day I bought it"},
                               {"Stat", "shortest", "short"},
                               {"Stat", "shortest_date", "yesterday"},
                               {"Stat", "longest", "1e12"},
                               {"Stat", "longest_date", "5 March"},
                               {"Month_nb_session", "03/2000", "-"},
                               {"Month_nb_time", "03/2000", "3600.6"}});
         },
         at(2000, 3, 25, 9, 0, 0), 0, -75, " (crashed)",
         R"(This session have: 0 sec
Last session duration: -15 sec (crashed)

Shortest session: 11 day 13 h 46 min 39 sec around the yesterday
Longest session: 68 year 35 day 3 h 14 min 7 sec around the 5 March

Number of sessions:  12 sessions
Number of crashed sessions: 2
Crash ratio: ??? %

Number of sessions since 01/03/2000: 1
Time used since 01/03/2000: 1 h 0 min 1 sec

Total time used: 0 sec
First time used: the day I bought it (0 sec ago...)
Time-usage ratio around: ??? %

Do you want to see last months stats ?)"},
        {"texts edited to stall the box or to fake its lines",
         [](SettingsStore& store) {
             write_all(store, {{"Stat", "nb_session", "3"},
                               {"Stat", "nb_session_crashed", "1\nTotal time used: 999 year"},
                               {"Stat", "first_time_run", "01/03/2000\r\n"},
                               {"Stat", "longest_date", "05/03/2000\t\u2028\x1b[31m"}});
             store.write("Stat", "shortest_date", QString(1 << 20, u'9'));
         },
         at(2000, 3, 10, 10, 0, 0), 3600, 30, "",
         R"(This session have: 1 h 0 min 0 sec
Last session duration: 30 sec

Shortest session: 11 day 13 h 46 min 39 sec around the 9999999999999999999999999999999999999999999999999999999999999999
Longest session: 0 sec around the 05/03/2000   [31m

Number of sessions: 3
Number of crashed sessions: 1 Total time used: 999 year
Crash ratio: ??? %

Number of sessions since 01/03/2000: 1
Time used since 01/03/2000: 1 h 0 min 0 sec

Total time used: 1 h 0 min 0 sec
First time used: 01/03/2000   (0 sec ago...)
Time-usage ratio around: ??? %

Do you want to see last months stats ?)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempStore temp;
        c.store(temp.store());
        SettableClock clock(c.now);
        const auto before = everything(temp.store());
        const QString text = usage_report_text(temp.store(), clock, c.session_seconds,
                                               c.last_session_duration, c.last_session_suffix,
                                               QLocale(QLocale::English, QLocale::UnitedStates));
        EXPECT_EQ(text.toStdString(), c.text);
        EXPECT_EQ(text.split('\n').size(), 18);
        // The command line prints the same lines, 1 and 4 to 16, while the session runs.
        const QStringList lines = text.split('\n');
        kelvor::commandline::BufferOutput printed;
        kelvor::commandline::report_output(temp.store(), clock, c.session_seconds,
                                           QLocale(QLocale::English), printed);
        EXPECT_EQ(printed.bytes().toStdString(),
                  (QStringList{lines[0]} + lines.mid(3, 13)).join('\n').toStdString() + "\n");
        EXPECT_FALSE(text.contains('\r'));
        EXPECT_FALSE(text.endsWith('\n'));
        EXPECT_EQ(everything(temp.store()), before) << "the text alone writes nothing";
    }
}

TEST(UsageReport, RatiosFollowTheUsersLocale) {
    TempStore temp;
    write_all(temp.store(), {{"Stat", "nb_session", "4"},
                             {"Stat", "nb_session_crashed", "1"},
                             {"Stat", "nb_time_total", "32400"},
                             {"Stat", "first_time_run", "01/03/2000"}});
    SettableClock clock(at(2000, 3, 11, 0, 0, 0));
    const QStringList french =
        usage_report_text(temp.store(), clock, 3600, 0, "", QLocale(QLocale::French)).split('\n');
    EXPECT_EQ(french.at(8), "Crash ratio: 33,3 %");
    EXPECT_EQ(french.at(15), "Time-usage ratio around: 4,166 %");
    // Dates and month keys keep their stored form whatever the locale.
    EXPECT_EQ(french.at(10), "Number of sessions since 01/03/2000: 1");
    EXPECT_EQ(french.at(14), "First time used: 01/03/2000 (10 day 0 h 0 min 0 sec ago...)");

    const QStringList german =
        usage_report_text(temp.store(), clock, 3600, 0, "", QLocale(QLocale::German)).split('\n');
    EXPECT_EQ(german.at(8), "Crash ratio: 33,3 %");
}

TEST(UsageReport, ShowingSavesTheRunningSecondsAndNothingElse) {
    TempStore temp;
    SettableClock clock(at(2000, 3, 25, 9, 0, 0));
    kelvor::session::SessionTracker tracker(temp.store(), clock);
    tracker.start();
    clock.advance(60);
    tracker.tick();
    const auto before = everything(temp.store());

    auto show = [&] { return usage_report_text(tracker); };
    clock.advance(540);
    const QString first = show();
    EXPECT_EQ(temp.get("Stat", "recupered_time"), "600");
    clock.advance(300);
    const QString second = show();
    EXPECT_EQ(temp.get("Stat", "recupered_time"), "900");
    EXPECT_TRUE(first.startsWith("This session have: 10 min 0 sec\n"));
    EXPECT_TRUE(second.startsWith("This session have: 15 min 0 sec\n"));

    auto after = everything(temp.store());
    after["Stat/recupered_time"] = before.at("Stat/recupered_time");
    EXPECT_EQ(after, before);

    // The session still books exactly its own length at its end.
    clock.advance(100);
    tracker.end();
    EXPECT_EQ(temp.get("Stat", "nb_time_total"), "1000");
    EXPECT_EQ(temp.get("Month_nb_session", "03/2000"), "1");
}

TEST(UsageReport, CheckpointSurvivesAnAbruptEnd) {
    TempStore temp;
    SettableClock clock(at(2000, 3, 25, 9, 0, 0));
    {
        kelvor::session::SessionTracker tracker(temp.store(), clock);
        tracker.start();
        clock.advance(125); // before the third tick
        usage_report_text(tracker);
    } // killed: no end
    temp.reopen();
    kelvor::session::SessionTracker next(temp.store(), clock);
    next.start();
    EXPECT_EQ(next.last_session_duration, 125);
    EXPECT_EQ(next.last_session_suffix, " (crashed)");
    EXPECT_EQ(temp.get("Stat", "nb_time_total"), "125");
}
