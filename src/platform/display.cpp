#include "platform/display.h"

#include "platform/display_connection.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QDir>
#include <QGuiApplication>
#include <QString>
#include <QWidget>
#include <QtGlobal>
#include <QtGui/qguiapplication_platform.h>
#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
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

xcb_connection_t* x11_connection() {
    if (!qGuiApp || QGuiApplication::platformName() != QLatin1String("xcb"))
        return nullptr;
    const auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    return x11 ? x11->connection() : nullptr;
}

bool on_wayland() {
    return QGuiApplication::platformName().startsWith(QLatin1String("wayland"));
}

namespace {

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

} // namespace kelvor::platform
