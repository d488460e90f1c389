#include "support/program.h"

#include <QDate>
#include <QDir>
#include <QFile>
#include <csignal>
#include <gtest/gtest.h>

using kelvor::testing::Program;
using kelvor::testing::send_signal;

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
