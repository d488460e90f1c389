#include "support/x_display.h"

#include <QElapsedTimer>
#include <QStandardPaths>
#include <QThread>

namespace kelvor::testing {

XDisplay::XDisplay(const QString& screen) {
    server_.start(QStringLiteral("Xvfb"), {"-displayfd", "1", "-screen", "0", screen, "-dpi", "96",
                                           "-nolisten", "tcp", "-noreset"});
    if (!server_.waitForStarted(5000))
        return;
    QElapsedTimer waited;
    waited.start();
    while (!server_.canReadLine() && waited.elapsed() < 10000)
        server_.waitForReadyRead(100);
    const QByteArray number = server_.readLine().trimmed();
    if (!number.isEmpty())
        name_ = QStringLiteral(":") + QString::fromLatin1(number);
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

bool XDisplay::start_window_manager() {
    if (name_.isEmpty() || !has_program(QStringLiteral("openbox")))
        return false;
    window_manager_.setProcessEnvironment(environment());
    window_manager_.start(QStringLiteral("openbox"), {"--sm-disable"});
    if (!window_manager_.waitForStarted(5000))
        return false;
    // A window manager announces itself on the root window once it has taken over.
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

} // namespace kelvor::testing
