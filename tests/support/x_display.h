#pragma once

#include <QProcess>
#include <QProcessEnvironment>
#include <QRect>
#include <QString>
#include <QStringList>

namespace kelvor::testing {

// A private X server (Xvfb) for the tests that drive the real program with real X11 events,
// optionally under a real window manager. The server is started with -noreset: without it the
// server resets when its last client leaves, and a client connecting during that reset fails
// at random.
class XDisplay {
public:
    // `screen` as Xvfb's -screen argument; 96 dpi, so that one pixel is 15 twips.
    explicit XDisplay(const QString& screen = QStringLiteral("1024x768x24"));
    ~XDisplay();
    XDisplay(const XDisplay&) = delete;
    XDisplay& operator=(const XDisplay&) = delete;

    // True when the commands are installed; tests skip otherwise.
    static bool has_program(const QString& name);

    // ":N", or empty when the server did not start.
    const QString& name() const { return name_; }
    bool running() const { return server_.state() == QProcess::Running; }

    // Starts openbox on the display and waits until it manages windows; false when openbox is
    // missing or did not come up.
    bool start_window_manager();
    // Ends the server abruptly, as a log-off that takes the display first.
    void kill_server();

    // The system environment with DISPLAY set to this server.
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
    QProcess server_;
    QProcess window_manager_;
    QString name_;
};

} // namespace kelvor::testing
