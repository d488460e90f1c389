#include "platform/display.h"

#include <QByteArray>
#include <QGuiApplication>
#include <QString>
#include <QtGlobal>
#include <QtGui/qguiapplication_platform.h>
#include <cstdio>
#include <cstdlib>
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

// The display Qt was asked to reach, as the user set it.
QString display_description() {
    const QString x11 = qEnvironmentVariable("DISPLAY");
    const QString wayland = qEnvironmentVariable("WAYLAND_DISPLAY");
    const QString platform = qEnvironmentVariable("QT_QPA_PLATFORM");
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

void flush_display() {
    // The offscreen platform answers for X11 too, with no connection.
    if (QGuiApplication::platformName() != QLatin1String("xcb"))
        return;
    if (const auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>()) {
        if (xcb_connection_t* connection = x11->connection())
            xcb_flush(connection);
    }
}

} // namespace kelvor::platform
