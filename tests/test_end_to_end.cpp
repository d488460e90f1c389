#include "support/program.h"

#include <QDate>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QThread>
#include <csignal>
#include <gtest/gtest.h>

using kelvor::testing::Program;
using kelvor::testing::send_signal;
using kelvor::testing::StoreDump;

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
