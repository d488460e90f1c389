#include "platform/activation.h"

#include <QtDBus/QDBusConnection>
#include <QtDBus/QDBusError>
#include <QtDBus/QDBusMessage>

namespace kelvor::platform {

namespace {

const QString service = QStringLiteral("org.kelvor.kelvor");
// The freedesktop rule: the application's name with its dots as slashes.
const QString object_path = QStringLiteral("/org/kelvor/kelvor");
const QString application_interface = QStringLiteral("org.freedesktop.Application");

// A running copy answers at once, since it only raises its window. One that takes longer is
// busy booking its session, or stuck, and a second start must not keep the user waiting.
constexpr int answer_timeout_ms = 250;

} // namespace

Activation::Activation(QObject* parent) : QObject(parent) {}

void Activation::publish() {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return;
    if (!bus.registerObject(object_path, this, QDBusConnection::ExportScriptableSlots))
        return;
    // The name is asked for without queueing: a Kelvor of another store running in the same
    // session keeps it, and this copy simply cannot be reached.
    if (!bus.registerService(service))
        bus.unregisterObject(object_path);
}

void Activation::Activate(const QVariantMap& /*platform_data*/) {
    emit show_requested();
}

// Kelvor opens no documents; a launcher that passes some still means "show Kelvor".
void Activation::Open(const QStringList& /*uris*/, const QVariantMap& /*platform_data*/) {
    emit show_requested();
}

void Activation::ActivateAction(const QString& action_name, const QVariantList& /*parameter*/,
                                const QVariantMap& /*platform_data*/) {
    sendErrorReply(QDBusError::NotSupported,
                   QStringLiteral("Kelvor has no action \"%1\"").arg(action_name));
}

bool ask_running_copy_to_show() {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return false;
    QDBusMessage call = QDBusMessage::createMethodCall(service, object_path, application_interface,
                                                       QStringLiteral("Activate"));
    call << QVariantMap();
    // The bus never starts a program for the name: the running copy answers, or nobody does.
    call.setAutoStartService(false);
    return bus.call(call, QDBus::Block, answer_timeout_ms).type() == QDBusMessage::ReplyMessage;
}

} // namespace kelvor::platform
