#pragma once

#include <QObject>
#include <QStringList>
#include <QVariantList>
#include <QVariantMap>
#include <QtDBus/QDBusContext>

namespace kelvor::platform {

// Kelvor on the desktop's session bus: the running copy owns the name `org.kelvor.kelvor` and
// answers the freedesktop Application interface at `/org/kelvor/kelvor`, so that a second
// start (or a desktop that knows the interface) can ask it to show its bar.
class Activation : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Application")
public:
    explicit Activation(QObject* parent = nullptr);

    // Connects to the session bus, exports the interface and takes the name. The program calls
    // it once its bar is on the screen: the connection costs round trips that the bar's start
    // should not wait for. Without a session bus, or with the name owned by another process,
    // nothing happens and nothing is said.
    void publish();

public slots:
    // The org.freedesktop.Application methods, as the bus calls them.
    Q_SCRIPTABLE void Activate(const QVariantMap& platform_data);
    Q_SCRIPTABLE void Open(const QStringList& uris, const QVariantMap& platform_data);
    Q_SCRIPTABLE void ActivateAction(const QString& action_name, const QVariantList& parameter,
                                     const QVariantMap& platform_data);

signals:
    // Someone asked to see Kelvor.
    void show_requested();
};

// A second copy's request: asks the running copy to show its bar. False when no copy answered
// within a fraction of a second (no session bus, or a first copy still starting).
bool ask_running_copy_to_show();

} // namespace kelvor::platform
