// One copy runs per store, however many start at once, and a copy that dies in any way never
// keeps the next one from starting.

#include "support/program.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QThread>
#include <csignal>
#include <gtest/gtest.h>
#include <random>

using kelvor::testing::Program;
using kelvor::testing::send_signal;
using kelvor::testing::store_invariants_hold;
using kelvor::testing::StoreDump;

namespace {

constexpr int copies_at_once = 20;

// Starts the program through a shell that waits for `gate` to exist, then replaces itself
// with the program: copies held at the gate all start together when it opens.
QStringList behind(const QString& gate) {
    return {QStringLiteral("sh"), QStringLiteral("-c"),
            QStringLiteral("until [ -e \"$0\" ]; do sleep 0.005; done; exec \"$1\""), gate};
}

int running_copies(const Program& program) {
    int running = 0;
    for (const auto& copy : program.copies())
        running += copy->state() != QProcess::NotRunning;
    return running;
}

// Waits until at most `count` copies still run.
bool wait_for_running(const Program& program, int count, int timeout_ms = 15000) {
    QElapsedTimer waited;
    waited.start();
    while (running_copies(program) > count) {
        if (waited.elapsed() > timeout_ms)
            return false;
        for (const auto& copy : program.copies())
            copy->waitForFinished(10);
    }
    return true;
}

QProcess* the_running_copy(const Program& program) {
    for (const auto& copy : program.copies()) {
        if (copy->state() != QProcess::NotRunning)
            return copy.get();
    }
    return nullptr;
}

} // namespace

TEST(ConcurrentStarts, TwentyAtOnceOnAnEmptyStoreLeaveOneRunningAndOneSession) {
    Program program;
    const QString gate = program.home() + "/go";
    for (int i = 0; i < copies_at_once; ++i)
        program.start(behind(gate));
    QFile(gate).open(QIODevice::WriteOnly);

    ASSERT_TRUE(program.wait_until_session(1));
    ASSERT_TRUE(wait_for_running(program, 1));
    // Let a late copy finish what it would do.
    QThread::msleep(300);
    ASSERT_EQ(running_copies(program), 1);
    for (const auto& copy : program.copies()) {
        if (copy->state() == QProcess::NotRunning) {
            EXPECT_EQ(copy->exitStatus(), QProcess::NormalExit);
            EXPECT_EQ(copy->exitCode(), 0) << copy->readAllStandardError().toStdString();
        }
    }
    StoreDump store = program.dump();
    EXPECT_TRUE(store_invariants_hold(store));
    EXPECT_EQ(store.get("Stat", "nb_session"), "1");
    EXPECT_EQ(store.get("Stat", "nb_session_crashed"), "<absent>");

    // The survivor, killed, blocks nobody.
    QProcess* survivor = the_running_copy(program);
    ASSERT_NE(survivor, nullptr);
    survivor->kill();
    survivor->waitForFinished(5000);
    QProcess& next = program.start();
    ASSERT_TRUE(program.wait_until_session(2));
    EXPECT_EQ(program.read("Stat", "nb_session_crashed"), "1");
    send_signal(next, SIGTERM);
    ASSERT_TRUE(next.waitForFinished(10000));
    store = program.dump();
    EXPECT_TRUE(store_invariants_hold(store));
    EXPECT_EQ(store.get("Stat", "nb_session"), "2");
}

TEST(ConcurrentStarts, ACopyKilledAtAnyMomentOfItsStartNeverBlocksTheNext) {
    Program program;
    std::mt19937 random(7);
    for (int i = 0; i < 12; ++i) {
        SCOPED_TRACE(i);
        QProcess& copy = program.start();
        QThread::msleep(std::uniform_int_distribution<int>(0, 80)(random));
        copy.kill();
        copy.waitForFinished(5000);
        ASSERT_TRUE(store_invariants_hold(program.dump()));
    }
    const double before = program.dump().number("nb_session");
    QProcess& next = program.start();
    ASSERT_TRUE(program.wait_until_session(int(before) + 1))
        << next.readAllStandardError().toStdString();
    QThread::msleep(200);
    EXPECT_EQ(next.state(), QProcess::Running);
    send_signal(next, SIGTERM);
    ASSERT_TRUE(next.waitForFinished(10000));
    EXPECT_TRUE(store_invariants_hold(program.dump()));
    EXPECT_EQ(program.dump().get("Stat", "debuted?"), "No");
}

// AddStart outlives the copy that started it; it must not keep the copy's lock.
TEST(ConcurrentStarts, AHelperThatOutlivesAKilledCopyDoesNotHoldItsLock) {
    Program program;
    // A copy of the program with a lingering AddStart beside it, which is found first.
    const QString bin = program.home() + "/bin";
    const QString pids = program.home() + "/addstart.pids";
    QDir().mkpath(bin);
    ASSERT_TRUE(QFile::copy(Program::binary(), bin + "/kelvor"));
    program.use_binary(bin + "/kelvor");
    QFile script(bin + "/AddStart");
    ASSERT_TRUE(script.open(QIODevice::WriteOnly));
    script.write("#!/bin/sh\necho $$ >> \"$HOME/addstart.pids\"\nexec sleep 30\n");
    script.close();
    script.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);

    QProcess& first = program.start();
    ASSERT_TRUE(program.wait_until_session(1));
    QElapsedTimer waited;
    waited.start();
    while (!QFile::exists(pids) && waited.elapsed() < 5000)
        QThread::msleep(10);
    ASSERT_TRUE(QFile::exists(pids)) << "AddStart was not started";
    first.kill();
    first.waitForFinished(5000);

    QProcess& second = program.start();
    EXPECT_TRUE(program.wait_until_session(2)) << "the lock stayed with AddStart";
    send_signal(second, SIGTERM);
    second.waitForFinished(10000);

    // The AddStart helpers are ours to end.
    QFile list(pids);
    list.open(QIODevice::ReadOnly);
    for (const QByteArray& line : list.readAll().split('\n')) {
        if (const int pid = line.trimmed().toInt(); pid > 0)
            ::kill(pid, SIGKILL);
    }
}
