#include "support/x_display.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QLibraryInfo>
#include <QStandardPaths>
#include <QThread>
#include <sys/stat.h>

namespace kelvor::testing {

namespace {

// The first line a process prints, within 10 s.
QString first_line(QProcess& process) {
    QElapsedTimer waited;
    waited.start();
    while (!process.canReadLine() && waited.elapsed() < 10000 &&
           process.state() != QProcess::NotRunning)
        process.waitForReadyRead(100);
    return QString::fromLocal8Bit(process.readLine().trimmed());
}

} // namespace

XDisplay::XDisplay(const QString& screen) {
    server_.start(QStringLiteral("Xvfb"), {"-displayfd", "1", "-screen", "0", screen, "-dpi", "96",
                                           "-nolisten", "tcp", "-noreset"});
    if (const QString number = first_line(server_); !number.isEmpty())
        name_ = QStringLiteral(":") + number;
}

XDisplay::XDisplay(Weston) : weston_(true) {
    // Where XWayland's socket goes, which weston, unlike Xvfb, does not make.
    if (QDir().mkpath("/tmp/.X11-unix"))
        ::chmod("/tmp/.X11-unix", 01777);
    auto env = QProcessEnvironment::systemEnvironment();
    env.insert("XDG_RUNTIME_DIR", runtime_.path());
    server_.setProcessEnvironment(env);
    server_.setProcessChannelMode(QProcess::MergedChannels);
    server_.start("weston", {"--backend=headless-backend.so", "--xwayland", "--socket=kelvor",
                             "--no-config", "--width=1024", "--height=768"});
    // XWayland takes the first free display, which weston logs once it listens there. It starts
    // at its first client, and weston's X11 window manager a moment later: a window mapped in
    // between is placed by weston, which a desktop, whose XWayland is up before its programs,
    // never does.
    for (QString line = first_line(server_); !line.isEmpty(); line = first_line(server_)) {
        if (line.contains("xserver listening on display :")) {
            name_ = line.section(' ', -1);
            if (!window_manager_ready())
                name_.clear();
            return;
        }
    }
}

XDisplay::~XDisplay() {
    for (QProcess* p : {&window_manager_, &server_}) {
        if (p->state() == QProcess::NotRunning)
            continue;
        p->terminate();
        if (!p->waitForFinished(5000))
            p->kill();
        p->waitForFinished(1000);
    }
}

bool XDisplay::has_program(const QString& name) {
    return !QStandardPaths::findExecutable(name).isEmpty();
}

bool XDisplay::has_wayland() {
    return has_program("weston") && has_program("Xwayland") &&
           QFileInfo::exists(QLibraryInfo::path(QLibraryInfo::PluginsPath) +
                             "/platforms/libqwayland-generic.so");
}

bool XDisplay::start_window_manager() {
    if (name_.isEmpty() || !has_program(QStringLiteral("openbox")))
        return false;
    window_manager_.setProcessEnvironment(environment());
    window_manager_.start(QStringLiteral("openbox"), {"--sm-disable"});
    return window_manager_.waitForStarted(5000) && window_manager_ready();
}

// A window manager announces itself on the root window once it has taken over.
bool XDisplay::window_manager_ready() const {
    QElapsedTimer waited;
    waited.start();
    while (waited.elapsed() < 10000) {
        if (run("xprop", {"-root", "_NET_SUPPORTING_WM_CHECK"}).contains("window id"))
            return true;
        QThread::msleep(50);
    }
    return false;
}

void XDisplay::kill_server() {
    server_.kill();
    server_.waitForFinished(5000);
}

QProcessEnvironment XDisplay::environment() const {
    auto env = QProcessEnvironment::systemEnvironment();
    env.remove(QStringLiteral("WAYLAND_DISPLAY"));
    env.insert(QStringLiteral("DISPLAY"), name_);
    if (weston_)
        env.insert(QStringLiteral("WAYLAND_DISPLAY"), wayland_socket());
    return env;
}

QString XDisplay::run(const QString& program, const QStringList& arguments, int timeout_ms) const {
    QProcess p;
    p.setProcessEnvironment(environment());
    p.start(QStandardPaths::findExecutable(program), arguments);
    p.waitForFinished(timeout_ms);
    return QString::fromLocal8Bit(p.readAllStandardOutput()).trimmed();
}

QStringList XDisplay::visible_windows_of(qint64 pid) const {
    return run("xdotool", {"search", "--onlyvisible", "--pid", QString::number(pid)})
        .split('\n', Qt::SkipEmptyParts);
}

// xwininfo, not xdotool: xdotool adds a reparented window's offset inside its frame twice.
QRect XDisplay::geometry(const QString& window) const {
    QRect r;
    if (window.isEmpty())
        return r; // xwininfo would wait for a click on a window
    for (const QString& line : run("xwininfo", {"-id", window}).split('\n')) {
        const QString key = line.section(':', 0, 0).trimmed();
        const int value = line.section(':', 1).trimmed().toInt();
        if (key == "Absolute upper-left X")
            r.moveLeft(value);
        else if (key == "Absolute upper-left Y")
            r.moveTop(value);
        else if (key == "Width")
            r.setWidth(value);
        else if (key == "Height")
            r.setHeight(value);
    }
    return r;
}

QRect XDisplay::frame_geometry(const QString& window) const {
    const QRect client = geometry(window);
    // "_NET_FRAME_EXTENTS(CARDINAL) = left, right, top, bottom"
    const QString extents = run("xprop", {"-id", window, "_NET_FRAME_EXTENTS"}).section('=', 1);
    const QStringList parts = extents.split(',', Qt::SkipEmptyParts);
    if (parts.size() != 4)
        return client;
    const int left = parts[0].trimmed().toInt();
    const int right = parts[1].trimmed().toInt();
    const int top = parts[2].trimmed().toInt();
    const int bottom = parts[3].trimmed().toInt();
    return client.adjusted(-left, -top, right, bottom);
}

PrivateBus::PrivateBus(Kind kind) : kind_(kind) {
    // The session bus's rules serve for both: the system's want a system user and policies.
    daemon_.start("dbus-daemon", {"--session", "--nofork", "--nopidfile", "--print-address=1",
                                  "--address=unix:path=" + folder_.filePath("bus")});
    address_ = first_line(daemon_);
}

PrivateBus::~PrivateBus() {
    daemon_.kill();
    daemon_.waitForFinished(5000);
}

void PrivateBus::add_to(QProcessEnvironment& environment) const {
    environment.insert(
        kind_ == Kind::session ? "DBUS_SESSION_BUS_ADDRESS" : "DBUS_SYSTEM_BUS_ADDRESS", address_);
}

bool PrivateBus::wait_for_owner(const QString& name, int timeout_ms) const {
    bool owned = false;
    {
        const auto bus = QDBusConnection::connectToBus(address_, address_);
        QElapsedTimer waited;
        waited.start();
        while (bus.isConnected() && !(owned = bus.interface()->isServiceRegistered(name)) &&
               waited.elapsed() < timeout_ms)
            QThread::msleep(20);
    }
    QDBusConnection::disconnectFromBus(address_);
    return owned;
}

} // namespace kelvor::testing

namespace kelvor::testing {

bool LockScreen::start() {
    if (system_.address().isEmpty() || session_.address().isEmpty())
        return false;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    add_to(environment);
    services_.setProcessEnvironment(environment);
    // Debian's own python3, which python3-dbus and python3-gi are for.
    services_.start(QStringLiteral(KELVOR_FAKE_LOCK_SERVICES), {});
    return first_line(services_) == QLatin1String("ready");
}

void LockScreen::add_to(QProcessEnvironment& environment) const {
    system_.add_to(environment);
    session_.add_to(environment);
}

bool LockScreen::set(const QString& source, bool locked) {
    services_.write((source + (locked ? " 1\n" : " 0\n")).toUtf8());
    return first_line(services_) == QLatin1String("ok");
}

} // namespace kelvor::testing
