#pragma once

#include <QProcess>
#include <QProcessEnvironment>
#include <QRect>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

namespace kelvor::testing {

// A private X server (Xvfb) for the tests that drive the real program with real X11 events,
// optionally under a real window manager. The server is started with -noreset: without it the
// server resets when its last client leaves, and a client connecting during that reset fails
// at random. Or a Wayland desktop: weston's headless compositor on a socket of its own, with
// XWayland as its X server (name()).
class XDisplay {
public:
    // `screen` as Xvfb's -screen argument; 96 dpi, so that one pixel is 15 twips.
    explicit XDisplay(const QString& screen = QStringLiteral("1024x768x24"));
    struct Weston {};
    explicit XDisplay(Weston);
    ~XDisplay();
    XDisplay(const XDisplay&) = delete;
    XDisplay& operator=(const XDisplay&) = delete;

    // True when the commands are installed; tests skip otherwise.
    static bool has_program(const QString& name);
    // weston, Xwayland and Qt's Wayland plugin (packages weston, xwayland, qt6-wayland).
    static bool has_wayland();

    // ":N", or empty when the server did not start.
    const QString& name() const { return name_; }
    // The compositor's socket for WAYLAND_DISPLAY; empty under Xvfb.
    QString wayland_socket() const { return name_.isEmpty() ? "" : runtime_.filePath("kelvor"); }
    bool running() const { return server_.state() == QProcess::Running; }

    // Starts openbox on the display and waits until it manages windows; false when openbox is
    // missing or did not come up.
    bool start_window_manager();
    // Ends the server (weston, and XWayland with it) abruptly, as a log-off that takes the
    // display first.
    void kill_server();

    // The system environment with DISPLAY set to this server (and WAYLAND_DISPLAY under weston).
    QProcessEnvironment environment() const;

    // Runs an X client (xdotool, xprop, xwininfo, ...) on this display; its standard output,
    // trimmed.
    QString run(const QString& program, const QStringList& arguments, int timeout_ms = 20000) const;
    // The ids of the visible windows of a process.
    QStringList visible_windows_of(qint64 pid) const;
    // A window's client area, in root coordinates.
    QRect geometry(const QString& window) const;
    // The outer rectangle of a window's frame, read from the window manager's
    // _NET_FRAME_EXTENTS; the client geometry when there is no frame.
    QRect frame_geometry(const QString& window) const;

private:
    bool window_manager_ready() const;

    QProcess server_;
    QProcess window_manager_;
    QString name_;
    QTemporaryDir runtime_; // weston's XDG_RUNTIME_DIR
    bool weston_ = false;
};

// A D-Bus bus of the test's own (dbus-daemon), as the desktop's session bus or, a second one,
// as the system bus: the program's D-Bus use, without reaching the machine's buses.
class PrivateBus {
public:
    enum class Kind { session, system };
    explicit PrivateBus(Kind kind = Kind::session);
    ~PrivateBus();

    // Empty when dbus-daemon is missing or did not start.
    const QString& address() const { return address_; }
    // Points DBUS_SESSION_BUS_ADDRESS or DBUS_SYSTEM_BUS_ADDRESS at this bus.
    void add_to(QProcessEnvironment& environment) const;
    // Until a process owns `name` on this bus; false on timeout.
    bool wait_for_owner(const QString& name, int timeout_ms = 10000) const;

private:
    Kind kind_;
    QTemporaryDir folder_;
    QProcess daemon_;
    QString address_;
};

// The desktop's lock screen on a system and a session bus of the test's own: the test-only
// services of support/fake_lock_services.py, which start() starts.
class LockScreen {
public:
    // False when dbus-daemon or python3-dbus is missing, or a bus or the services did not start.
    bool start();
    // Points both bus addresses of a program at these buses.
    void add_to(QProcessEnvironment& environment) const;
    // Locks or unlocks one source ("logind", "logind-invalidated", "freedesktop",
    // "short-path", "gnome"); true once its signal is out.
    bool set(const QString& source, bool locked);

private:
    PrivateBus system_{PrivateBus::Kind::system};
    PrivateBus session_;
    QProcess services_;
};

} // namespace kelvor::testing
