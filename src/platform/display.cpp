#include "platform/display.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QDir>
#include <QGuiApplication>
#include <QMetaObject>
#include <QString>
#include <QThread>
#include <QWidget>
#include <QtGlobal>
#include <QtGui/qguiapplication_platform.h>
#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <memory>
#include <mutex>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <utility>
#include <vector>
#include <xcb/xcb.h>

namespace kelvor::platform {

namespace {

struct HeldMessage {
    QtMsgType type;
    QByteArray category;
    QString text;
};

std::vector<HeldMessage> held;
QtMessageHandler previous_handler = nullptr;
bool checking = false;

// Qt's Wayland platform plugin comes in a package of its own, which a Wayland desktop without
// XWayland needs and a Qt program may lack.
bool has_wayland_plugin() {
    for (const QString& folder : QCoreApplication::libraryPaths()) {
        if (!QDir(folder + QStringLiteral("/platforms"))
                 .entryList({QStringLiteral("libqwayland-*.so")})
                 .isEmpty())
            return true;
    }
    return false;
}

// The display Qt was asked to reach, as the user set it.
QString display_description() {
    const QString x11 = qEnvironmentVariable("DISPLAY");
    const QString wayland = qEnvironmentVariable("WAYLAND_DISPLAY");
    const QString platform = qEnvironmentVariable("QT_QPA_PLATFORM");
    if (platform.startsWith(QLatin1String("wayland"))) {
        const QString display = QStringLiteral("the Wayland display %1 (WAYLAND_DISPLAY)")
                                    .arg(wayland.isEmpty() ? QStringLiteral("wayland-0") : wayland);
        if (has_wayland_plugin())
            return display;
        return display + QStringLiteral(" without Qt's Wayland plugin (package qt6-wayland)");
    }
    if (!x11.isEmpty())
        return QStringLiteral("the X11 display %1 (DISPLAY)").arg(x11);
    if (!wayland.isEmpty() && !platform.startsWith(QLatin1String("xcb")))
        return QStringLiteral("the Wayland display %1 (WAYLAND_DISPLAY)").arg(wayland);
    if (platform.startsWith(QLatin1String("xcb")))
        return QStringLiteral("an X11 display: DISPLAY is not set");
    return QStringLiteral("a display for the Qt platform \"%1\" (QT_QPA_PLATFORM)").arg(platform);
}

void hold_or_end(QtMsgType type, const QMessageLogContext& context, const QString& text) {
    if (type != QtFatalMsg) {
        held.push_back({type, QByteArray(context.category), text});
        return;
    }
    // Nothing exists yet that needs an orderly end: no store, no folder, no window.
    std::fprintf(stderr, "kelvor: cannot reach %s; start Kelvor from a desktop session\n",
                 display_description().toLocal8Bit().constData());
    std::fflush(stderr);
    std::_Exit(1);
}

} // namespace

DisplayCheck::DisplayCheck() {
    checking = true;
    previous_handler = qInstallMessageHandler(hold_or_end);
}

void DisplayCheck::release() {
    if (!checking)
        return;
    checking = false;
    qInstallMessageHandler(previous_handler);
    for (const HeldMessage& message : std::exchange(held, {})) {
        const QMessageLogContext context(nullptr, 0, nullptr,
                                         message.category.isEmpty() ? nullptr
                                                                    : message.category.constData());
        qt_message_output(message.type, context, message.text);
    }
}

namespace {

// The X11 connection, or null on another platform. The offscreen platform answers for X11
// too, with no connection.
xcb_connection_t* x11_connection() {
    if (!qGuiApp || QGuiApplication::platformName() != QLatin1String("xcb"))
        return nullptr;
    const auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    return x11 ? x11->connection() : nullptr;
}

bool on_wayland() {
    return QGuiApplication::platformName().startsWith(QLatin1String("wayland"));
}

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

void send_to_window_manager(xcb_connection_t* connection, xcb_window_t root, xcb_window_t window,
                            xcb_atom_t message, const std::array<uint32_t, 5>& data) {
    xcb_client_message_event_t event{};
    event.response_type = XCB_CLIENT_MESSAGE;
    event.format = 32;
    event.window = window;
    event.type = message;
    std::copy(data.begin(), data.end(), event.data.data32);
    xcb_send_event(connection, 0, root,
                   XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                   reinterpret_cast<const char*>(&event));
}

} // namespace

void flush_display() {
    if (xcb_connection_t* connection = x11_connection())
        xcb_flush(connection);
}

bool can_place_windows() {
    return !on_wayland();
}

void show_on_every_workspace(const QWidget& window) {
    xcb_connection_t* connection = x11_connection();
    if (!connection)
        return;
    const auto id = xcb_window_t(window.winId());
    const auto intern = [connection](const char* name) {
        return xcb_intern_atom(connection, 0, uint16_t(std::strlen(name)), name);
    };
    // Asked all at once: one round trip.
    const auto tree_cookie = xcb_query_tree(connection, id);
    const std::array atom_cookies{intern("_NET_WM_DESKTOP"), intern("_NET_WM_STATE"),
                                  intern("_NET_WM_STATE_STICKY")};
    std::array<xcb_atom_t, 3> atoms{};
    for (std::size_t i = 0; i < atoms.size(); ++i) {
        const std::unique_ptr<xcb_intern_atom_reply_t, decltype(&std::free)> reply(
            xcb_intern_atom_reply(connection, atom_cookies[i], nullptr), &std::free);
        atoms[i] = reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
    }
    const std::unique_ptr<xcb_query_tree_reply_t, decltype(&std::free)> tree(
        xcb_query_tree_reply(connection, tree_cookie, nullptr), &std::free);
    if (!tree || std::find(atoms.begin(), atoms.end(), xcb_atom_t(XCB_ATOM_NONE)) != atoms.end())
        return;
    const auto [desktop, state, sticky] = atoms;
    constexpr uint32_t every_desktop = 0xFFFFFFFF;
    constexpr uint32_t from_application = 1;
    constexpr uint32_t add = 1;
    send_to_window_manager(connection, tree->root, id, desktop,
                           {every_desktop, from_application, 0, 0, 0});
    send_to_window_manager(connection, tree->root, id, state,
                           {add, sticky, 0, from_application, 0});
    xcb_flush(connection);
}

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
