#include "platform/sqlite_store.h"
#include "support/test_support.h"
#include "support/x_display.h"

#include <QDate>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRect>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>
#include <gtest/gtest.h>
#include <memory>
#include <optional>

// Readable failure messages.
inline void PrintTo(const QString& s, std::ostream* os) {
    *os << '"' << s.toStdString() << '"';
}
inline void PrintTo(QPoint p, std::ostream* os) {
    *os << '(' << p.x() << ", " << p.y() << ')';
}
inline void PrintTo(QRect r, std::ostream* os) {
    *os << r.width() << 'x' << r.height() << " at (" << r.x() << ", " << r.y() << ')';
}

// The real program on a private X server (Xvfb), placed and dragged with real pointer events
// from xdotool, as a user on an X11 or XWayland desktop would.
namespace {

const char* const tools[] = {"Xvfb", "xdotool", "xprop", "xwininfo"};

struct Display {
    QTemporaryDir home;
    kelvor::testing::XDisplay x{QStringLiteral("800x300x24")};
    // The desktop's session bus; none unless a test makes one.
    std::unique_ptr<kelvor::testing::PrivateBus> bus;
    QProcess kelvor;

    ~Display() { stop_kelvor(); }

    QProcessEnvironment environment() const {
        auto env = x.environment();
        env.remove("QT_QPA_PLATFORM"); // the program picks X11 itself when DISPLAY is set
        env.insert("XDG_DATA_HOME", home.path() + "/data");
        env.insert("XDG_CONFIG_HOME", home.path() + "/config");
        env.insert("XDG_RUNTIME_DIR", home.path());
        env.insert("PATH", home.path()); // no AddStart to find
        env.insert("DBUS_SESSION_BUS_ADDRESS", "unix:path=" + home.path() + "/no-bus");
        if (bus)
            bus->add_to(env);
        return env;
    }

    QString tool(const char* program, const QStringList& arguments) const {
        return x.run(program, arguments);
    }

    // Starts the program and returns its window once it is shown.
    QString start_kelvor() {
        kelvor.setProcessEnvironment(environment());
        kelvor.start(QString::fromLocal8Bit(qgetenv("KELVOR_BINARY")), {});
        if (!kelvor.waitForStarted(5000))
            return {};
        return tool("xdotool", {"search", "--sync", "--onlyvisible", "--name", "^Kelvor$"})
            .section('\n', 0, 0);
    }

    void stop_kelvor() {
        if (kelvor.state() == QProcess::NotRunning)
            return;
        kelvor.terminate();
        kelvor.waitForFinished(10000);
    }

    QRect geometry(const QString& window) const { return x.geometry(window); }

    // Mapped, on the current workspace, and above every other managed window.
    bool in_front(const QString& window) const {
        const QString stacking = tool("xprop", {"-root", "_NET_CLIENT_LIST_STACKING"});
        return tool("xwininfo", {"-id", window}).contains("IsViewable") &&
               stacking.endsWith("0x" + QString::number(window.toULong(), 16));
    }
    // Until `done` holds, for up to 5 s.
    template <typename Done> bool wait_until(Done&& done) const {
        for (int i = 0; i < 250 && !done(); ++i)
            QThread::msleep(20);
        return done();
    }

    // Waits for the window to reach `place`; returns where it is.
    QRect wait_for_place(const QString& window, QPoint place) const {
        QRect r = geometry(window);
        for (int i = 0; i < 100 && r.topLeft() != place; ++i) {
            QThread::msleep(20);
            r = geometry(window);
        }
        return r;
    }

    void pointer_to(QPoint p) const {
        tool("xdotool", {"mousemove", "--sync", QString::number(p.x()), QString::number(p.y())});
    }

    // Presses the left button at `from`, moves the pointer by `travel` in a few steps, and
    // releases once the window has caught up.
    void drag(const QString& window, QPoint from, QPoint travel) const {
        const QPoint start = geometry(window).topLeft();
        pointer_to(from);
        tool("xdotool", {"mousedown", "1"});
        for (int step = 1; step <= 4; ++step)
            pointer_to(from + travel * step / 4);
        wait_for_place(window, start + travel);
        tool("xdotool", {"mouseup", "1"});
    }

    QString store_path() const { return home.path() + "/data/kelvor/store.sqlite3"; }
    std::optional<QString> stored(const char* key, const char* section = "Init") const {
        try {
            kelvor::platform::SqliteStore store(store_path());
            return store.read(section, key, "<absent>");
        } catch (const std::exception&) {
            return std::nullopt;
        }
    }

    // Waits until the release has stored `place`, in twips.
    void expect_stored(QPoint place) const {
        const QString left = QString::number(place.x() * 15);
        const QString top = QString::number(place.y() * 15);
        for (int i = 0; i < 100 && (stored("Left") != left || stored("Top") != top); ++i)
            QThread::msleep(20);
        EXPECT_EQ(stored("Left").value_or("?"), left);
        EXPECT_EQ(stored("Top").value_or("?"), top);
    }
};

} // namespace

TEST(BarOnX11, OpensAtItsPlaceIsDraggedExactlyAndReopensThere) {
    for (const char* program : tools) {
        if (QStandardPaths::findExecutable(program).isEmpty())
            GTEST_SKIP() << program << " is not installed";
    }
    Display d;
    ASSERT_FALSE(d.x.name().isEmpty()) << "Xvfb did not start";

    QString bar = d.start_kelvor();
    ASSERT_FALSE(bar.isEmpty()) << "the bar never appeared";
    // First run: Left 4000 and Top 0 twips.
    EXPECT_EQ(d.wait_for_place(bar, {266, 0}), QRect(266, 0, 112, 15));
    // An ordinary managed window, so the task bar lists it.
    EXPECT_TRUE(d.tool("xwininfo", {"-id", bar}).contains("Override Redirect State: no"));
    const QString properties = d.tool("xprop", {"-id", bar});
    EXPECT_TRUE(properties.contains("_NET_WM_WINDOW_TYPE_NORMAL")) << properties.toStdString();
    EXPECT_FALSE(properties.contains("SKIP_TASKBAR"));
    EXPECT_TRUE(properties.contains("WM_NAME(UTF8_STRING) = \"Kelvor\"") ||
                properties.contains("WM_NAME(STRING) = \"Kelvor\""));

    struct Drag {
        const char* by;
        QPoint pressed; // in the window
        QPoint travel;
    };
    const Drag drags[] = {
        {"Label1", {10, 6}, {53, 21}},
        {"the strip", {74, 7}, {-30, 40}},
        // Ends with the pointer near the screen's left edge: the window goes partly off it.
        {"Lab_minutes_elapsed", {80, 6}, {-359, -50}},
    };
    QPoint place(266, 0);
    for (const Drag& drag : drags) {
        SCOPED_TRACE(drag.by);
        d.drag(bar, place + drag.pressed, drag.travel);
        place += drag.travel;
        EXPECT_EQ(d.wait_for_place(bar, place), QRect(place, QSize(112, 15)));
        d.expect_stored(place);
    }
    ASSERT_EQ(place, QPoint(-70, 11));

    d.stop_kelvor();
    bar = d.start_kelvor();
    ASSERT_FALSE(bar.isEmpty());
    EXPECT_EQ(d.wait_for_place(bar, place), QRect(place, QSize(112, 15)));
}

namespace {

struct SecondStartCase {
    const char* bar;
    const char* hidden_by; // a command that hides the bar: %1 is its window
    bool session_bus;
};

} // namespace

// On a desktop with a window manager and two workspaces, the bar is on every workspace and
// never above other windows. A second start ends at once and silently, and through the session
// bus brings the bar to the front of the current workspace; without a bus it changes nothing.
// Either way there is one bar and one session.
TEST(BarOnX11, OnEveryWorkspaceAndFoundAgainByASecondStart) {
    for (const char* program :
         {"Xvfb", "xdotool", "xprop", "xwininfo", "xmessage", "openbox", "dbus-daemon"}) {
        if (QStandardPaths::findExecutable(program).isEmpty())
            GTEST_SKIP() << program << " is not installed";
    }
    const SecondStartCase cases[] = {
        {"under another window", "xmessage -geometry 800x300+0+0 over", true},
        // The user took it off "every workspace" and left it on the other one.
        {"on another workspace", "xdotool set_desktop_for_window %1 0", true},
        {"under another window, no session bus", "xmessage -geometry 800x300+0+0 over", false},
    };
    for (const SecondStartCase& c : cases) {
        SCOPED_TRACE(c.bar);
        Display d;
        ASSERT_TRUE(d.x.start_window_manager());
        d.tool("xdotool", {"set_num_desktops", "2"});
        if (c.session_bus)
            d.bus = std::make_unique<kelvor::testing::PrivateBus>();
        const QString bar = d.start_kelvor();
        ASSERT_FALSE(bar.isEmpty()) << "the bar never appeared";
        if (c.session_bus) {
            ASSERT_TRUE(d.bus->wait_for_owner("org.kelvor.kelvor"));
        }
        EXPECT_TRUE(d.wait_until([&] {
            return d.tool("xprop", {"-id", bar, "_NET_WM_DESKTOP"}).endsWith("= 4294967295");
        }));
        EXPECT_FALSE(d.tool("xprop", {"-id", bar, "_NET_WM_STATE"}).contains("ABOVE"));
        d.tool("xdotool", {"set_desktop", "1"});
        EXPECT_TRUE(d.in_front(bar)) << "not on the second workspace";

        QProcess hider;
        hider.setProcessEnvironment(d.x.environment());
        hider.startCommand(QString(c.hidden_by).replace("%1", bar));
        ASSERT_TRUE(d.wait_until([&] { return !d.in_front(bar); }));
        QProcess second;
        second.setProcessEnvironment(d.environment());
        second.start(QString::fromLocal8Bit(qgetenv("KELVOR_BINARY")), {});
        ASSERT_TRUE(second.waitForFinished(10000));
        EXPECT_EQ(second.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(second.exitCode(), 0);
        EXPECT_EQ(second.readAllStandardOutput() + second.readAllStandardError(), "");
        EXPECT_EQ(d.wait_until([&] { return d.in_front(bar); }), c.session_bus);
        EXPECT_EQ(d.tool("xdotool", {"search", "--onlyvisible", "--name", "^Kelvor$"}), bar);
        EXPECT_EQ(d.stored("nb_session", "Stat"), "1");
        hider.kill();
        hider.waitForFinished();
    }
}

// A store whose settings are damaged: the start asks, in a box, whether to recover. Enter
// (Recover) keeps the damaged file aside byte for byte and starts on what could be read;
// Escape (Quit) leaves every file as it was.
TEST(BarOnX11, ADamagedStoreIsRecoveredOrLeftAsTheUserAnswers) {
    for (const char* program : tools) {
        if (QStandardPaths::findExecutable(program).isEmpty())
            GTEST_SKIP() << program << " is not installed";
    }
    for (const bool recover : {true, false}) {
        SCOPED_TRACE(recover ? "Recover" : "Quit");
        Display d;
        ASSERT_FALSE(d.start_kelvor().isEmpty());
        d.stop_kelvor();
        {
            kelvor::platform::SqliteStore store(d.store_path());
            store.transaction([&] {
                for (int i = 0; i < 300; ++i)
                    store.write("Padding", QString::number(i), QString(100, u'x'));
            });
        }
        ASSERT_TRUE(kelvor::testing::damage_page(d.store_path(), "settings", 1,
                                                 kelvor::testing::Damage::zeroed));
        QFile file(d.store_path());
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        const QByteArray damaged = file.readAll();

        const QString box = d.start_kelvor(); // the first window is the box that asks
        ASSERT_FALSE(box.isEmpty());
        d.tool("xdotool", {"windowfocus", "--sync", box});
        d.tool("xdotool", {"key", recover ? "Return" : "Escape"});
        if (!recover) {
            ASSERT_TRUE(d.kelvor.waitForFinished(10000));
            EXPECT_EQ(d.kelvor.exitCode(), 1);
            ASSERT_TRUE(file.seek(0));
            EXPECT_EQ(file.readAll(), damaged);
            continue;
        }
        // Then a box tells what was saved; the bar comes once it is closed.
        QString told;
        ASSERT_TRUE(d.wait_until([&] {
            told = d.tool("xdotool", {"search", "--onlyvisible", "--name", "^Kelvor$"})
                       .section('\n', 0, 0);
            return !told.isEmpty() && told != box;
        }));
        d.tool("xdotool", {"windowfocus", "--sync", told});
        d.tool("xdotool", {"key", "Return"});
        EXPECT_TRUE(d.wait_until([&] { return d.stored("nb_session", "Stat") == "2"; }))
            << d.stored("nb_session", "Stat").value_or("?").toStdString();
        QFile aside(d.store_path() + ".damaged-" + QDate::currentDate().toString(Qt::ISODate));
        ASSERT_TRUE(aside.open(QIODevice::ReadOnly));
        EXPECT_EQ(aside.readAll(), damaged);
        d.stop_kelvor();
        EXPECT_EQ(d.kelvor.exitCode(), 0);
    }
}
