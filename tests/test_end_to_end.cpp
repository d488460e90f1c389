#include "session/duration_text.h"
#include "support/program.h"
#include "support/x_display.h"

#include <QDate>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QThread>
#include <csignal>
#include <gtest/gtest.h>
#include <iostream>

using kelvor::testing::LockScreen;
using kelvor::testing::Program;
using kelvor::testing::send_signal;
using kelvor::testing::StoreDump;
using kelvor::testing::XDisplay;

TEST(EndToEnd, SignalsEndTheSessionProperly) {
    for (const int sig : {SIGTERM, SIGHUP, SIGINT}) {
        SCOPED_TRACE(sig);
        Program p;
        auto& copy = p.start();
        ASSERT_TRUE(p.wait_until_session(1));
        send_signal(copy, sig);
        ASSERT_TRUE(copy.waitForFinished(10000));
        EXPECT_EQ(copy.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(copy.exitCode(), 0);
        EXPECT_EQ(p.read("Stat", "debuted?"), "No");
        EXPECT_EQ(p.read("Stat", "nb_session"), "1");
        const QString month = QDate::currentDate().toString("MM/yyyy");
        EXPECT_EQ(p.read("Month_nb_session", month), "1");
        EXPECT_EQ(p.read("Stat", "shortest_date"), QDate::currentDate().toString("dd/MM/yyyy"));
    }
}

TEST(EndToEnd, KillIsBookedAsCrashAtNextStartAndSecondCopyWritesNothing) {
    Program p;
    auto& first = p.start();
    ASSERT_TRUE(p.wait_until_session(1));
    // A second copy while the first runs leaves at once.
    auto& second = p.start();
    ASSERT_TRUE(second.waitForFinished(10000));
    EXPECT_EQ(second.exitCode(), 0);
    EXPECT_EQ(p.read("Stat", "nb_session"), "1");

    first.kill();
    first.waitForFinished();
    auto& third = p.start();
    ASSERT_TRUE(p.wait_until_session(2));
    EXPECT_EQ(p.read("Stat", "nb_session_crashed"), "1");
    EXPECT_EQ(p.read("Stat", "nb_time_total"), "30");
    third.terminate();
    third.waitForFinished();
}

TEST(EndToEnd, ForeignStoreIsRefusedUntouched) {
    Program p;
    QDir().mkpath(p.data_dir());
    QFile f(p.store_path());
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("not a database at all");
    f.close();
    auto& copy = p.start();
    ASSERT_TRUE(copy.waitForFinished(10000));
    EXPECT_EQ(copy.exitCode(), 1);
    EXPECT_TRUE(copy.readAllStandardError().contains("not a Kelvor store"));
    QFile g(p.store_path());
    g.open(QIODevice::ReadOnly);
    EXPECT_EQ(g.readAll(), QByteArray("not a database at all"));
}

// The wall clock set by hand or by NTP during a session, the awake clock running on: the
// session is booked with the seconds it lasted, never below 0. An 8-hour suspend looks the
// same to the program: the wall clock jumps, the awake clock stood still.
TEST(EndToEnd, WallClockSetDuringASession) {
    for (const char* offset : {"-1d", "+6y", "+8h"}) {
        SCOPED_TRACE(offset);
        Program p;
        if (!p.fake_wall_clock())
            GTEST_SKIP() << "needs libfaketime (package faketime)";
        auto& copy = p.start();
        ASSERT_TRUE(p.wait_until_session(1));
        p.set_wall_clock(offset);
        QThread::sleep(2);
        send_signal(copy, SIGTERM);
        ASSERT_TRUE(copy.waitForFinished(10000));
        const StoreDump store = p.dump();
        EXPECT_EQ(store.get("Stat", "debuted?"), "No");
        for (const char* key : {"nb_time_total", "shortest", "longest"}) {
            EXPECT_GE(store.number(key), 2) << key;
            EXPECT_LE(store.number(key), 60) << key;
        }
    }
}

// The autumn night in Paris on a clock running 120 times faster, both clocks: from 02:40
// summer time to past 02:10 winter time, half an hour that the wall clock shows as minus
// thirty minutes. The booked length is the time that passed.
TEST(EndToEnd, SummerTimeEndsDuringASession) {
    constexpr int factor = 120;
    const QDateTime start_at(QDate(2023, 10, 29), QTime(0, 40), Qt::UTC); // 02:40 CEST
    Program p;
    if (!p.speed_clock_up(factor, QDateTime::currentDateTimeUtc().secsTo(start_at)))
        GTEST_SKIP() << "needs libfaketime (package faketime)";
    p.environment().insert("TZ", "Europe/Paris");
    QElapsedTimer real;
    real.start();
    auto& copy = p.start();
    ASSERT_TRUE(p.wait_until_session(1));
    const qint64 started_by = real.elapsed();
    QThread::msleep(1000 * 32 * 60 / factor); // to 02:12 CET
    const qint64 signalled = real.elapsed();
    send_signal(copy, SIGTERM);
    ASSERT_TRUE(copy.waitForFinished(10000));
    const qint64 ended_by = real.elapsed();
    const double booked = p.dump().number("nb_time_total");
    EXPECT_GE(booked, (signalled - started_by) * factor / 1000 - 60);
    EXPECT_LE(booked, ended_by * factor / 1000 + 60);
    EXPECT_EQ(p.read("Stat", "first_time_run"), "29/10/2023");
}

// From 23:58 to 00:03 on a clock running 60 times faster, both clocks: the session counts on
// both days, split at the tick that crossed midnight, the two adding up to the session.
TEST(EndToEnd, ASessionPastMidnightCountsOnBothDays) {
    const QDateTime start_at(QDate(2026, 12, 7), QTime(23, 58));
    Program p;
    if (!p.speed_clock_up(60, QDateTime::currentDateTime().secsTo(start_at)))
        GTEST_SKIP() << "needs libfaketime (package faketime)";
    auto& copy = p.start();
    ASSERT_TRUE(p.wait_until_session(1));
    QThread::msleep(5 * 1000); // five minutes of the program's
    send_signal(copy, SIGTERM);
    ASSERT_TRUE(copy.waitForFinished(10000));
    const double seconds = p.dump().number("nb_time_total");
    const auto run = p.run({"--days", "--json", "--since", "2026-12-07", "--until", "2026-12-08"});
    const QJsonArray days = QJsonDocument::fromJson(run.out).array();
    ASSERT_EQ(days.size(), 2) << run.out.toStdString();
    EXPECT_EQ(days[0]["seconds"].toDouble() + days[1]["seconds"].toDouble(), seconds);
    // Up to the last tick before midnight, and the rest.
    EXPECT_GT(days[0]["seconds"].toDouble(), 0);
    EXPECT_LT(days[0]["seconds"].toDouble(), 150);
    std::cout << "[ midnight ] " << seconds << " s booked: " << days[0]["seconds"].toDouble()
              << " s on 2026-12-07, " << days[1]["seconds"].toDouble() << " s on 2026-12-08\n";
}

// Without a display there is nothing to show: one line on stderr naming the display that
// could not be reached, status 1, and nothing created.
TEST(EndToEnd, NoReachableDisplay) {
    int free_display = 99;
    while (QFile::exists(QStringLiteral("/tmp/.X11-unix/X%1").arg(free_display)))
        ++free_display;
    const QString x11 = QStringLiteral(":%1").arg(free_display);
    struct Case {
        const char* variable;
        QString value;
        const char* named;
    };
    const Case cases[] = {
        {"DISPLAY", x11, "X11 display :"},
        {"WAYLAND_DISPLAY", "kelvor-test-none", "Wayland display kelvor-test-none"},
        {"QT_QPA_PLATFORM", "xcb", "DISPLAY is not set"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.variable);
        Program p;
        for (const char* variable : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
            p.environment().remove(variable);
        p.environment().insert(c.variable, c.value);
        auto& copy = p.start();
        ASSERT_TRUE(copy.waitForFinished(10000));
        EXPECT_EQ(copy.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(copy.exitCode(), 1);
        const QString error = QString::fromLocal8Bit(copy.readAllStandardError());
        EXPECT_EQ(error.count('\n'), 1) << error.toStdString();
        EXPECT_TRUE(error.startsWith("kelvor: ") && error.contains(c.named)) << error.toStdString();
        EXPECT_FALSE(QFileInfo::exists(p.home() + "/data")) << "a folder was created";
    }
}

namespace {

QJsonArray json_of(Program& p, const QStringList& arguments) {
    const auto run = p.run(arguments);
    EXPECT_EQ(run.status, 0) << run.err.toStdString();
    return QJsonDocument::fromJson(run.out).array();
}

} // namespace

// The screen locked by the desktop's own services, on buses of the test's own: the session is
// booked in full, as before, and its locked seconds, as its days, from when they said so.
TEST(EndToEnd, LockedTimeFromTheDesktop) {
    struct Case {
        const char* name;
        // "<seconds since the start> <source> <1 locked, 0 not>", before the start below 0;
        // "start" starts the services, "report" opens the report, which saves the seconds.
        QStringList steps;
        double length;
        int ending;             // SIGKILL: booked at the next start with its last save
        double seconds, locked; // as booked
    };
    const Case cases[] = {
        {"three sources, two of them overlapping",
         {"2 logind 1", "5 freedesktop 1", "9 logind 0", "12 freedesktop 0", "15 gnome 1",
          "20 gnome 0"},
         23,
         SIGTERM,
         23,
         15},
        {"locked before the start, unlocked, the report, killed: its last save",
         {"-1 logind-invalidated 1", "4 logind-invalidated 0", "6 report"},
         8,
         SIGKILL,
         6,
         4},
        {"services that start after the bar, at the short path",
         {"2 start", "3 short-path 1", "5 short-path 0"},
         7,
         SIGTERM,
         7,
         2},
        {"no bus at all", {}, 3, SIGTERM, 3, 0},
    };
    XDisplay display;
    if (display.name().isEmpty() || !XDisplay::has_program("xdotool"))
        GTEST_SKIP() << "needs Xvfb and xdotool (packages xvfb, xdotool)";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Program p;
        p.environment().insert("DISPLAY", display.name());
        p.environment().insert("QT_QPA_PLATFORM", "xcb");
        LockScreen lock_screen;
        if (!c.steps.isEmpty()) {
            lock_screen.add_to(p.environment());
            ASSERT_TRUE(c.steps.front().endsWith("start") || lock_screen.start())
                << "needs dbus-daemon and python3-dbus";
        }
        QElapsedTimer session;
        session.start();
        const auto step = [&](const QString& at, const QString& what, const QString& locked) {
            QThread::msleep(std::max<qint64>(0, qint64(at.toDouble() * 1000) - session.elapsed()));
            if (what == "report") { // at the bar's default place: 266 px from the left, at the top
                display.run("xdotool", {"mousemove", "320", "7", "click", "3"});
                return p.wait_for(
                    [](const StoreDump& d) { return d.number("recupered_time") != 30; });
            }
            return what.isEmpty() ||
                   (what == "start" ? lock_screen.start() : lock_screen.set(what, locked == "1"));
        };
        for (const QString& s : c.steps.filter(QRegularExpression("^-")))
            ASSERT_TRUE(step("0", s.section(' ', 1, 1), s.section(' ', 2)));
        auto& copy = p.start();
        ASSERT_TRUE(p.wait_until_session(1));
        session.restart();
        for (const QString& s : c.steps.filter(QRegularExpression("^[0-9]")))
            ASSERT_TRUE(step(s.section(' ', 0, 0), s.section(' ', 1, 1), s.section(' ', 2)))
                << s.toStdString();
        step(QString::number(c.length), {}, {});
        send_signal(copy, c.ending);
        ASSERT_TRUE(copy.waitForFinished(10000));
        EXPECT_EQ(copy.readAllStandardError(), "");

        // As the options print it: the session, and its days (a session past midnight has two).
        const QJsonObject booked = json_of(p, {"--sessions", "--json"}).last().toObject();
        const double seconds = booked["seconds"].toDouble();
        const double locked = booked["locked_seconds"].toDouble();
        EXPECT_NEAR(seconds, c.seconds, 2);
        EXPECT_NEAR(locked, c.locked, 2);
        double day_seconds = 0, day_locked = 0;
        for (const QJsonValue& day : json_of(p, {"--days", "--json"})) {
            day_seconds += day["seconds"].toDouble();
            day_locked += day["locked_seconds"].toDouble();
            EXPECT_EQ(day["active_seconds"].toDouble(),
                      day["seconds"].toDouble() - day["locked_seconds"].toDouble());
        }
        EXPECT_EQ(day_seconds, seconds);
        EXPECT_EQ(day_locked, locked);
        std::cout << "[ locked   ] " << c.name << ": " << seconds << " s, " << locked
                  << " s locked; its days " << day_seconds << " s, " << day_locked << " s\n";
        // The bar's and the report's figures count it all.
        if (c.ending == SIGTERM) {
            EXPECT_EQ(p.dump().number("nb_time_total"), seconds);
            EXPECT_TRUE(
                p.run({"--report"})
                    .out.contains("Total time used: " +
                                  kelvor::session::affiche_secondes(qint32(seconds)).toUtf8()));
        }
    }
}
