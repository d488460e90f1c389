#include "autostart_entry.h"
#include "platform/user_dirs.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <functional>
#include <gtest/gtest.h>
#include <optional>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utime.h>

using namespace kelvor::addstart;

namespace {

struct ExecCase {
    const char* path;
    const char* exec; // as written in the file
};

// Each case is read back the way a launcher reads it: string escapes first (\\ -> \),
// then the quoting (\" \` \$ \\), then %% -> %.
const ExecCase exec_cases[] = {
    {"/usr/bin/kelvor", R"("/usr/bin/kelvor")"},
    {"/opt/my apps/kelvor", R"("/opt/my apps/kelvor")"},
    {R"(/tmp/say "hi"/kelvor)", R"("/tmp/say \\"hi\\"/kelvor")"},
    {"/tmp/it's/kelvor", R"("/tmp/it's/kelvor")"},
    {R"(/tmp/back\slash/kelvor)", R"("/tmp/back\\\\slash/kelvor")"},
    {"/tmp/$HOME/kelvor", R"("/tmp/\\$HOME/kelvor")"},
    {"/tmp/`id`/kelvor", R"("/tmp/\\`id\\`/kelvor")"},
    {"/tmp/100%/kelvor", R"("/tmp/100%%/kelvor")"},
    {"/tmp/%f/kelvor", R"("/tmp/%%f/kelvor")"},
    {"/tmp/a b;touch X$(id)/kelvor", R"("/tmp/a b;touch X\\$(id)/kelvor")"},
    {"/tmp/<|&>~#*?()/kelvor", R"("/tmp/<|&>~#*?()/kelvor")"},
    {"/tmp/line\nbreak\ttab/kelvor", R"("/tmp/line\nbreak\ttab/kelvor")"},
    {"/home/zoë/outils/kelvor", R"("/home/zoë/outils/kelvor")"},
};

TEST(AddStartExec, QuotesAndEscapesByTheDesktopEntryRules) {
    for (const auto& c : exec_cases) {
        SCOPED_TRACE(c.path);
        EXPECT_EQ(exec_argument(QString::fromUtf8(c.path)), QString::fromUtf8(c.exec));
    }
}

// A temporary configuration folder and executables to register.
struct Home {
    QTemporaryDir dir;
    QString config() const { return dir.path() + "/config"; }
    QString entry(const QString& title = "Kelvor") const {
        return config() + "/autostart/" + title + ".desktop";
    }
    QString program(const QString& relative) const {
        const QString path = dir.path() + "/" + relative;
        QDir().mkpath(QFileInfo(path).path());
        QFile f(path);
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("#!/bin/sh\n");
        f.close();
        f.setPermissions(f.permissions() | QFile::ExeOwner);
        return path;
    }
    Outcome add(const QStringList& arguments) const {
        return register_program(arguments, QFile::encodeName(config()));
    }
    QStringList autostart_folder() const {
        return QDir(config() + "/autostart")
            .entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    }
    QByteArray read(const QString& file) const {
        QFile f(file);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<absent>");
    }
};

void link_to(const QString& target, const QString& link) {
    ASSERT_EQ(::symlink(QFile::encodeName(target), QFile::encodeName(link)), 0);
}

struct ::stat stat_of(const QString& file) {
    struct ::stat st {};
    EXPECT_EQ(::stat(QFile::encodeName(file).constData(), &st), 0);
    return st;
}

TEST(AddStart, WritesTheWholeEntry) {
    Home home;
    const QString program = home.program("bin/kelvor");
    const Outcome outcome = home.add({"Kelvor", program});
    EXPECT_EQ(outcome.exit_status, exit_ok);
    EXPECT_EQ(outcome.message, "");
    EXPECT_EQ(home.read(home.entry()), "[Desktop Entry]\n"
                                       "Type=Application\n"
                                       "Version=1.0\n"
                                       "Name=Kelvor\n"
                                       "TryExec=" +
                                           program.toUtf8() +
                                           "\n"
                                           "Exec=\"" +
                                           program.toUtf8() +
                                           "\"\n"
                                           "Icon=kelvor\n"
                                           "Terminal=false\n"
                                           "X-GNOME-Autostart-enabled=true\n");
}

TEST(AddStart, RefusesTitlesThatCannotNameAnEntryFile) {
    Home home;
    const QString program = home.program("bin/kelvor");
    for (const QString title : {"", "a/b", "/", ".Kelvor", "..", "Kel\nvor"}) {
        SCOPED_TRACE(title.toStdString());
        const Outcome outcome = home.add({title, program});
        EXPECT_EQ(outcome.exit_status, exit_refused);
        EXPECT_TRUE(outcome.message.startsWith("AddStart: the title"))
            << outcome.message.toStdString();
    }
    EXPECT_FALSE(QFileInfo::exists(home.config())) << "a refused title wrote nothing";
    EXPECT_EQ(home.add({"Kelvor v1.0 (test)", program}).exit_status, exit_ok);
}

TEST(AddStart, RefusesPathsThatNameNoProgram) {
    Home home;
    const QString not_executable = home.dir.path() + "/notes.txt";
    QFile(not_executable).open(QIODevice::WriteOnly);
    const QStringList cases[] = {
        {"Kelvor"},           // no path
        {"Kelvor", "kelvor"}, // relative: would run whatever PATH finds
        {"Kelvor", home.dir.path() + "/missing"},
        {"Kelvor", home.dir.path()}, // a folder
        {"Kelvor", not_executable},
        {"Kelvor", home.program("bell\x07/kelvor")}, // cannot be written in an entry
    };
    for (const auto& arguments : cases) {
        SCOPED_TRACE(arguments.join('|').toStdString());
        EXPECT_EQ(home.add(arguments).exit_status, exit_refused);
    }
    EXPECT_FALSE(QFileInfo::exists(home.config()));
}

TEST(AddStart, JoinsExtraWordsWithSingleSpaces) {
    Home home;
    const QString program = home.program("my tools/the kelvor");
    const QString folder = home.dir.path() + "/my";
    EXPECT_EQ(home.add({"Kelvor", folder, "tools/the", "kelvor"}).exit_status, exit_ok);
    EXPECT_TRUE(home.read(home.entry()).contains("Exec=\"" + program.toUtf8() + "\"\n"));
}

TEST(AddStart, CurrentEntryIsLeftUntouched) {
    Home home;
    const QString program = home.program("bin/kelvor");
    ASSERT_EQ(home.add({"Kelvor", program}).exit_status, exit_ok);
    const QByteArray first = home.read(home.entry());
    // An old time stamp, so that any rewrite would show.
    const struct ::utimbuf long_ago { 1000000000, 1000000000 };
    ASSERT_EQ(::utime(QFile::encodeName(home.entry()).constData(), &long_ago), 0);
    const auto before = stat_of(home.entry());

    EXPECT_EQ(home.add({"Kelvor", program}).exit_status, exit_ok);
    const auto after = stat_of(home.entry());
    EXPECT_EQ(home.read(home.entry()), first);
    EXPECT_EQ(after.st_ino, before.st_ino);
    EXPECT_EQ(after.st_mtim.tv_sec, 1000000000);
    EXPECT_EQ(after.st_mtim.tv_nsec, 0);
}

TEST(AddStart, ChangedEntryIsReplacedWholeByRename) {
    Home home;
    const QString moved = home.program("new place/kelvor");
    ASSERT_EQ(home.add({"Kelvor", home.program("old/kelvor")}).exit_status, exit_ok);
    // A second name for the old file: an in-place rewrite would change what it shows.
    const QString old_link = home.dir.path() + "/old-entry";
    ASSERT_EQ(::link(QFile::encodeName(home.entry()).constData(),
                     QFile::encodeName(old_link).constData()),
              0);
    const QByteArray old_text = home.read(old_link);

    EXPECT_EQ(home.add({"Kelvor", moved}).exit_status, exit_ok);
    EXPECT_TRUE(home.read(home.entry()).contains("new place/kelvor"));
    EXPECT_EQ(home.read(old_link), old_text);
    EXPECT_NE(stat_of(home.entry()).st_ino, stat_of(old_link).st_ino);
    EXPECT_EQ(home.autostart_folder(), QStringList{"Kelvor.desktop"})
        << "no temporary file is left behind";
}

TEST(AddStart, FailedWriteLeavesTheFolderAsItWas) {
    Home home;
    const QString program = home.program("bin/kelvor");
    // Root may write anywhere, so the failure comes from the file system's shape instead.
    ASSERT_TRUE(QDir().mkpath(home.entry()));
    const Outcome blocked = home.add({"Kelvor", program});
    EXPECT_EQ(blocked.exit_status, exit_failed);
    EXPECT_TRUE(blocked.message.startsWith("AddStart: cannot write"))
        << blocked.message.toStdString();
    EXPECT_EQ(home.autostart_folder(), QStringList{"Kelvor.desktop"});
    EXPECT_TRUE(QFileInfo(home.entry()).isDir());

    QFile(home.dir.path() + "/file").open(QIODevice::WriteOnly);
    const Outcome no_folder =
        register_program({"Kelvor", program}, QFile::encodeName(home.dir.path() + "/file"));
    EXPECT_EQ(no_folder.exit_status, exit_failed);
    EXPECT_TRUE(no_folder.message.startsWith("AddStart: cannot create the folder"));
}

TEST(AddStart, EntrySwitchedOffByTheUserStaysOff) {
    for (const QByteArray off :
         {"Hidden=true", "X-GNOME-Autostart-enabled=false", "X-GNOME-Autostart-enabled = false"}) {
        SCOPED_TRACE(off.toStdString());
        Home home;
        const QString program = home.program("bin/kelvor");
        ASSERT_EQ(home.add({"Kelvor", program}).exit_status, exit_ok);
        QByteArray edited = home.read(home.entry());
        edited.replace("X-GNOME-Autostart-enabled=true", off);
        QFile f(home.entry());
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(edited);
        f.close();

        EXPECT_EQ(home.add({"Kelvor", program}).exit_status, exit_ok);
        EXPECT_EQ(home.read(home.entry()), edited);
    }
    // The same keys in another group do not switch the entry off.
    EXPECT_FALSE(disabled_by_user("[Desktop Entry]\nName=K\n[Desktop Action x]\nHidden=true\n"));
}

// Whatever is there that is not a plain file -- a link the user made, or a trap -- is the
// user's to manage, as a switched-off entry is: nothing is written through it or over it.
TEST(AddStart, EntryThatIsALinkOrSpecialFileIsLeftAsItIs) {
    const std::pair<const char*, std::function<void(const Home&)>> cases[] = {
        {"a link to a file", [](const Home& h) { link_to(h.dir.path() + "/mine", h.entry()); }},
        {"a dangling link",
         [](const Home& h) { link_to(h.dir.path() + "/made by the link", h.entry()); }},
        {"a FIFO",
         [](const Home& h) { ASSERT_EQ(::mkfifo(QFile::encodeName(h.entry()), 0600), 0); }},
    };
    for (const auto& [name, make] : cases) {
        SCOPED_TRACE(name);
        Home home;
        const QString program = home.program("bin/kelvor");
        QDir().mkpath(home.config() + "/autostart");
        QFile mine(home.dir.path() + "/mine");
        ASSERT_TRUE(mine.open(QIODevice::WriteOnly) && mine.write("the user's own entry") > 0);
        mine.close();
        make(home);
        const QString link = QFileInfo(home.entry()).symLinkTarget();

        const Outcome outcome = home.add({"Kelvor", program});
        EXPECT_EQ(outcome.exit_status, exit_ok);
        EXPECT_TRUE(outcome.message.contains("left as it is")) << outcome.message.toStdString();
        EXPECT_EQ(QFileInfo(home.entry()).symLinkTarget(), link);
        EXPECT_EQ(home.read(home.dir.path() + "/mine"), "the user's own entry");
        EXPECT_FALSE(QFileInfo::exists(home.dir.path() + "/made by the link"));
        EXPECT_EQ(home.autostart_folder(), QStringList{"Kelvor.desktop"});
    }
}

// The configuration folder by the base-directory rules: relative values are not folders, and
// a name is kept byte for byte.
TEST(AddStart, ConfigurationFolderFollowsTheBaseDirectoryRules) {
    const QByteArray t = "/tmp/k";
    const QByteArray account = ::getpwuid(::getuid())->pw_dir;
    const struct {
        std::optional<QByteArray> xdg_config_home, home;
        QByteArray expected;
    } cases[] = {
        {t + "/conf\xff\xfe", t + "/home", t + "/conf\xff\xfe"},
        {"relconfig", t + "/home", t + "/home/.config"},
        {"", t + "/home", t + "/home/.config"},
        {std::nullopt, "relhome", account + "/.config"},
        {std::nullopt, std::nullopt, account + "/.config"},
    };
    const QByteArray saved_config = qgetenv("XDG_CONFIG_HOME"), saved_home = qgetenv("HOME");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.expected.toStdString());
        for (const auto& [variable, value] :
             {std::pair{"XDG_CONFIG_HOME", c.xdg_config_home}, std::pair{"HOME", c.home}})
            value ? qputenv(variable, *value) : qunsetenv(variable);
        EXPECT_EQ(kelvor::platform::config_home(), c.expected);
    }
    qputenv("XDG_CONFIG_HOME", saved_config);
    qputenv("HOME", saved_home);
}

TEST(AddStart, PercentInThePathIsWrittenWithAWarning) {
    Home home;
    const QString program = home.program("100%/kelvor");
    const Outcome outcome = home.add({"Kelvor", program});
    EXPECT_EQ(outcome.exit_status, exit_ok);
    EXPECT_TRUE(outcome.message.contains("warning")) << outcome.message.toStdString();
    EXPECT_TRUE(home.read(home.entry()).contains("100%%/kelvor"));
}

TEST(AddStart, ArgumentsThatAreNotUtf8AreRejected) {
    const char* good[] = {"AddStart", "Kelvor", "/home/zo\xc3\xab/kelvor"};
    const auto decoded = decode_arguments(3, good);
    ASSERT_TRUE(decoded);
    EXPECT_EQ(*decoded, (QStringList{"Kelvor", QString::fromUtf8("/home/zoë/kelvor")}));
    const char* bad[] = {"AddStart", "Kelvor", "/home/zo\xeb/kelvor"};
    EXPECT_FALSE(decode_arguments(3, bad));
}

} // namespace
