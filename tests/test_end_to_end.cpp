#include "platform/settings_store.h"

#include <QDate>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <csignal>
#include <gtest/gtest.h>

namespace {

// The real binary on the offscreen platform, with its own data folder.
struct Program {
    QTemporaryDir home;
    QProcess process;

    QProcessEnvironment environment() const {
        auto env = QProcessEnvironment::systemEnvironment();
        env.insert("QT_QPA_PLATFORM", "offscreen");
        env.insert("XDG_DATA_HOME", home.path() + "/data");
        env.insert("XDG_CONFIG_HOME", home.path() + "/config");
        env.insert("PATH", home.path()); // only the AddStart beside the binary, writing into home
        return env;
    }
    QString store_path() const { return home.path() + "/data/kelvor/store.sqlite3"; }

    void start() {
        process.setProcessEnvironment(environment());
        process.start(QString::fromLocal8Bit(qgetenv("KELVOR_BINARY")), {});
        ASSERT_TRUE(process.waitForStarted());
    }
    // Waits until the start sequence has committed.
    void wait_until_running() {
        for (int i = 0; i < 200; ++i) {
            if (read("Stat", "debuted?") == "Yes")
                return;
            QThread::msleep(25);
        }
        FAIL() << "the program never marked its session as running";
    }
    QString read(const char* section, const char* key) {
        if (!QFile::exists(store_path()))
            return {};
        try {
            kelvor::platform::SqliteSettingsStore store(store_path());
            return store.read(section, key, "<absent>");
        } catch (const std::exception&) {
            return {};
        }
    }
};

} // namespace

TEST(EndToEnd, SignalsEndTheSessionProperly) {
    for (const int sig : {SIGTERM, SIGHUP, SIGINT}) {
        SCOPED_TRACE(sig);
        Program p;
        p.start();
        p.wait_until_running();
        ::kill(pid_t(p.process.processId()), sig);
        ASSERT_TRUE(p.process.waitForFinished(10000));
        EXPECT_EQ(p.process.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(p.process.exitCode(), 0);
        EXPECT_EQ(p.read("Stat", "debuted?"), "No");
        EXPECT_EQ(p.read("Stat", "nb_session"), "1");
        const QString month = QDate::currentDate().toString("MM/yyyy");
        EXPECT_EQ(p.read("Month_nb_session", month.toLatin1().constData()), "1");
        EXPECT_EQ(p.read("Stat", "shortest_date"), QDate::currentDate().toString("dd/MM/yyyy"));
    }
}

TEST(EndToEnd, KillIsBookedAsCrashAtNextStartAndSecondCopyWritesNothing) {
    Program p;
    p.start();
    p.wait_until_running();
    // A second copy while the first runs leaves at once.
    QProcess second;
    second.setProcessEnvironment(p.environment());
    second.start(QString::fromLocal8Bit(qgetenv("KELVOR_BINARY")), {});
    ASSERT_TRUE(second.waitForFinished(10000));
    EXPECT_EQ(second.exitCode(), 0);
    EXPECT_EQ(p.read("Stat", "nb_session"), "1");

    p.process.kill();
    p.process.waitForFinished();
    p.start();
    for (int i = 0; i < 200 && p.read("Stat", "nb_session") != "2"; ++i)
        QThread::msleep(25);
    EXPECT_EQ(p.read("Stat", "nb_session_crashed"), "1");
    EXPECT_EQ(p.read("Stat", "nb_time_total"), "30");
    p.process.terminate();
    p.process.waitForFinished();
}

TEST(EndToEnd, ForeignStoreIsRefusedUntouched) {
    Program p;
    QDir().mkpath(p.home.path() + "/data/kelvor");
    QFile f(p.store_path());
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("not a database at all");
    f.close();
    p.start();
    ASSERT_TRUE(p.process.waitForFinished(10000));
    EXPECT_EQ(p.process.exitCode(), 1);
    EXPECT_TRUE(p.process.readAllStandardError().contains("not a Kelvor store"));
    QFile g(p.store_path());
    g.open(QIODevice::ReadOnly);
    EXPECT_EQ(g.readAll(), QByteArray("not a database at all"));
}
