#include "autostart_entry.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>
#include <csignal>
#include <functional>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <utime.h>
#include <vector>

namespace {

QString from_environment(const char* name) {
    return QString::fromLocal8Bit(qgetenv(name));
}

bool wait_until(const std::function<bool()>& ready) {
    for (int i = 0; i < 400; ++i) {
        if (ready())
            return true;
        QThread::msleep(25);
    }
    return false;
}

QByteArray read_file(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void write_script(const QString& path, const QByteArray& text) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(text);
    f.close();
    f.setPermissions(f.permissions() | QFile::ExeOwner);
}

// A user's desktop in a temporary folder: data and configuration of their own, and a PATH
// on which no AddStart can be found.
struct Desktop {
    QTemporaryDir home;
    QString entry() const { return home.path() + "/config/autostart/Kelvor.desktop"; }
    QProcessEnvironment environment() const {
        auto env = QProcessEnvironment::systemEnvironment();
        env.insert("QT_QPA_PLATFORM", "offscreen");
        env.insert("XDG_DATA_HOME", home.path() + "/data");
        env.insert("XDG_CONFIG_HOME", home.path() + "/config");
        env.insert("PATH", home.path() + "/empty");
        return env;
    }
};

// Runs the program until `ready`, then ends it the way a log-off does.
void run_until(const QString& program, const Desktop& desktop,
               const QProcessEnvironment& environment, const std::function<bool()>& ready) {
    QProcess kelvor;
    kelvor.setProcessEnvironment(environment);
    kelvor.setWorkingDirectory(desktop.home.path());
    kelvor.start(program, {});
    ASSERT_TRUE(kelvor.waitForStarted());
    EXPECT_TRUE(wait_until(ready)) << "the program never registered itself";
    ::kill(pid_t(kelvor.processId()), SIGTERM);
    ASSERT_TRUE(kelvor.waitForFinished(10000));
    EXPECT_EQ(kelvor.exitCode(), 0);
}

QByteArray exec_line_for(const QString& program) {
    return "\nExec=" + kelvor::addstart::exec_argument(program).toUtf8() + "\n";
}

TEST(AutostartEndToEnd, ProgramStartedFromTheBuildFolderRegistersItself) {
    const QString kelvor = QFileInfo(from_environment("KELVOR_BINARY")).canonicalFilePath();
    Desktop desktop;
    run_until(kelvor, desktop, desktop.environment(),
              [&] { return QFileInfo::exists(desktop.entry()); });
    const QByteArray entry = read_file(desktop.entry());
    EXPECT_TRUE(entry.contains(exec_line_for(kelvor))) << entry.toStdString();
    EXPECT_TRUE(entry.contains("\nName=Kelvor\n"));
}

// A copy of the program in a folder whose name is a shell command. Beside it, in place of
// AddStart, a script that records the arguments it is given and hands them to the real one.
TEST(AutostartEndToEnd, FolderWithShellCharactersIsRegisteredAsOneExactPathOnce) {
    Desktop desktop;
    const QString folder = desktop.home.path() + "/a b;touch X$(id)";
    const QString kelvor = folder + "/kelvor";
    ASSERT_TRUE(QDir().mkpath(folder));
    ASSERT_TRUE(QFile::copy(from_environment("KELVOR_BINARY"), kelvor));
    const QString arguments_file = desktop.home.path() + "/arguments";
    const QString status_file = desktop.home.path() + "/status";
    write_script(folder + "/AddStart", "#!/bin/sh\n"
                                       "printf '%s\\0' \"$@\" > \"$TEST_ARGUMENTS\"\n"
                                       "\"$TEST_ADDSTART\" \"$@\"\n"
                                       "echo $? > \"$TEST_STATUS\"\n");
    auto environment = desktop.environment();
    environment.insert("TEST_ARGUMENTS", arguments_file);
    environment.insert("TEST_STATUS", status_file);
    environment.insert("TEST_ADDSTART", from_environment("KELVOR_ADDSTART"));
    const auto registered = [&] { return read_file(status_file).endsWith('\n'); };

    run_until(kelvor, desktop, environment, registered);
    EXPECT_EQ(read_file(status_file), "0\n");
    std::vector<std::string> arguments;
    for (const QByteArray& argument : read_file(arguments_file).split('\0'))
        arguments.push_back(argument.toStdString());
    EXPECT_EQ(arguments, (std::vector<std::string>{"Kelvor", kelvor.toStdString(), ""}));
    for (const QString& where : {desktop.home.path(), folder})
        EXPECT_EQ(QDir(where).entryList({"X*"}), QStringList{})
            << "a shell ran in " << where.toStdString();
    const QByteArray entry = read_file(desktop.entry());
    EXPECT_TRUE(entry.contains(exec_line_for(kelvor))) << entry.toStdString();
    QProcess validate;
    validate.start("desktop-file-validate", {desktop.entry()});
    ASSERT_TRUE(validate.waitForFinished(10000)) << "desktop-file-validate is needed";
    EXPECT_EQ(validate.exitCode(), 0) << validate.readAllStandardOutput().toStdString();

    // A second launch finds the entry current and leaves it alone, time stamp included.
    const struct ::utimbuf long_ago { 1000000000, 1000000000 };
    ASSERT_EQ(::utime(QFile::encodeName(desktop.entry()).constData(), &long_ago), 0);
    QFile::remove(status_file);
    run_until(kelvor, desktop, environment, registered);
    EXPECT_EQ(read_file(status_file), "0\n");
    EXPECT_EQ(read_file(desktop.entry()), entry);
    struct ::stat st {};
    ASSERT_EQ(::stat(QFile::encodeName(desktop.entry()).constData(), &st), 0);
    EXPECT_EQ(st.st_mtim.tv_sec, 1000000000);
    EXPECT_EQ(st.st_mtim.tv_nsec, 0);

    // The entry, launched the way GNOME launches autostart entries (GLib), runs that very
    // path: the program is swapped for a probe that writes down the path it was started as.
    const QString gio = QStandardPaths::findExecutable("gio");
    ASSERT_FALSE(gio.isEmpty()) << "gio (libglib2.0-bin) is needed to launch the entry";
    const QString started_as = desktop.home.path() + "/started-as";
    ASSERT_TRUE(QFile::remove(kelvor));
    write_script(kelvor, "#!/bin/sh\nprintf '%s' \"$0\" > \"$TEST_STARTED_AS\"\n");
    QProcess launch;
    auto launch_environment = QProcessEnvironment::systemEnvironment();
    launch_environment.insert("TEST_STARTED_AS", started_as);
    launch.setProcessEnvironment(launch_environment);
    launch.setWorkingDirectory(desktop.home.path());
    launch.start(gio, {"launch", desktop.entry()});
    ASSERT_TRUE(launch.waitForFinished(10000));
    EXPECT_EQ(launch.exitCode(), 0) << launch.readAllStandardError().toStdString();
    EXPECT_TRUE(wait_until([&] { return QFileInfo::exists(started_as); }));
    EXPECT_TRUE(wait_until([&] { return read_file(started_as) == kelvor.toUtf8(); }))
        << read_file(started_as).toStdString();
    EXPECT_EQ(QDir(desktop.home.path()).entryList({"X*"}), QStringList{});

    // Once the program is gone (uninstalled), the desktop's TryExec test skips the entry.
    ASSERT_TRUE(QFile::remove(kelvor) && QFile::remove(started_as));
    launch.start(gio, {"launch", desktop.entry()});
    ASSERT_TRUE(launch.waitForFinished(10000));
    EXPECT_NE(launch.exitCode(), 0);
    QThread::msleep(500);
    EXPECT_FALSE(QFileInfo::exists(started_as));
}

} // namespace
