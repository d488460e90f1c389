// The display loss watch: the bar is booked before Qt ends a program whose display went away.

#include "platform/display.h"
#include "platform/display_connection.h"

#include <QByteArray>
#include <QMetaObject>
#include <QObject>
#include <QThread>
#include <QtGlobal>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <memory>
#include <mutex>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <utility>
#include <xcb/xcb.h>

namespace kelvor::platform {

namespace {

struct LossWatch {
    QObject* context = nullptr;
    std::function<void()> action;
    QtMessageHandler previous = nullptr;
    // Where the compositor listens, on Wayland; empty elsewhere.
    QByteArray wayland_socket;
};

LossWatch loss_watch;
std::atomic<bool> loss_armed{false};
std::atomic<bool> loss_booked{false};
thread_local bool in_loss_watch = false;

// How long another thread waits for the context's thread to take up the action. That thread
// is idle in its event loop, or finishing a short store write, unless it is blocked inside Qt.
constexpr std::chrono::seconds take_up_limit{5};

// libwayland's own rule: WAYLAND_DISPLAY is a path, or a name in XDG_RUNTIME_DIR.
QByteArray wayland_socket_path() {
    QByteArray name = qgetenv("WAYLAND_DISPLAY");
    if (name.isEmpty())
        name = "wayland-0";
    if (name.startsWith('/'))
        return name;
    return qgetenv("XDG_RUNTIME_DIR") + '/' + name;
}

// Whether the compositor has closed the program's connection: a socket of this process whose
// peer is the compositor's socket, and whose peer end has hung up.
bool compositor_hung_up(const QByteArray& socket_path) {
    DIR* fds = ::opendir("/proc/self/fd");
    if (!fds)
        return false;
    bool hung_up = false;
    while (const dirent* entry = ::readdir(fds)) {
        char* end = nullptr;
        const long fd = std::strtol(entry->d_name, &end, 10);
        if (end == entry->d_name || *end != '\0')
            continue;
        sockaddr_un peer{};
        socklen_t length = sizeof peer;
        if (::getpeername(int(fd), reinterpret_cast<sockaddr*>(&peer), &length) != 0 ||
            peer.sun_family != AF_UNIX ||
            std::strncmp(peer.sun_path, socket_path.constData(), sizeof peer.sun_path) != 0)
            continue;
        pollfd connection{int(fd), POLLRDHUP, 0};
        if (::poll(&connection, 1, 0) == 1 &&
            (connection.revents & (POLLHUP | POLLRDHUP | POLLERR)) != 0)
            hung_up = true;
    }
    ::closedir(fds);
    return hung_up;
}

bool display_connection_broken() {
    if (!loss_watch.wayland_socket.isEmpty())
        return compositor_hung_up(loss_watch.wayland_socket);
    xcb_connection_t* connection = x11_connection();
    return connection && xcb_connection_has_error(connection) != 0;
}

// The action on the context's thread, which owns what it touches (the store, the timer).
struct Handover {
    enum class Stage { posted, running, done };
    std::mutex mutex;
    std::condition_variable changed;
    Stage stage = Stage::posted;

    void set(Stage s) {
        {
            const std::lock_guard lock(mutex);
            stage = s;
        }
        changed.notify_all();
    }
};

void run_loss_action() {
    if (QThread::currentThread() == loss_watch.context->thread()) {
        loss_watch.action();
        loss_booked = true;
        return;
    }
    auto handover = std::make_shared<Handover>();
    QMetaObject::invokeMethod(
        loss_watch.context,
        [handover] {
            handover->set(Handover::Stage::running);
            if (loss_armed) {
                loss_watch.action();
                loss_booked = true;
            }
            handover->set(Handover::Stage::done);
        },
        Qt::QueuedConnection);
    std::unique_lock lock(handover->mutex);
    if (!handover->changed.wait_for(lock, take_up_limit,
                                    [&] { return handover->stage != Handover::Stage::posted; }))
        return;
    handover->changed.wait(lock, [&] { return handover->stage == Handover::Stage::done; });
}

void watch_for_loss(QtMsgType type, const QMessageLogContext& context, const QString& text) {
    const bool may_end = type == QtWarningMsg || type == QtCriticalMsg || type == QtFatalMsg;
    if (may_end && loss_armed && !loss_booked && !in_loss_watch) {
        in_loss_watch = true;
        if (display_connection_broken())
            run_loss_action();
        in_loss_watch = false;
    }
    if (loss_watch.previous)
        loss_watch.previous(type, context, text);
}

} // namespace

DisplayLossWatch::DisplayLossWatch(QObject* context, std::function<void()> action) {
    loss_watch.context = context;
    loss_watch.action = std::move(action);
    loss_watch.wayland_socket = on_wayland() ? wayland_socket_path() : QByteArray();
    loss_booked = false;
    loss_armed = true;
    loss_watch.previous = qInstallMessageHandler(watch_for_loss);
}

DisplayLossWatch::~DisplayLossWatch() {
    loss_armed = false;
    qInstallMessageHandler(loss_watch.previous);
}

} // namespace kelvor::platform
