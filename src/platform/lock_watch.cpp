#include "platform/lock_watch.h"

#include <QtDBus/QDBusConnection>
#include <QtDBus/QDBusMessage>
#include <QtDBus/QDBusObjectPath>
#include <QtDBus/QDBusPendingCallWatcher>
#include <QtDBus/QDBusVariant>
#include <algorithm>
#include <functional>
#include <optional>
#include <unistd.h>

namespace kelvor::platform {

namespace {

const QString login1 = QStringLiteral("org.freedesktop.login1");
const QString login1_session = QStringLiteral("org.freedesktop.login1.Session");
const QString properties = QStringLiteral("org.freedesktop.DBus.Properties");
const QString locked_hint = QStringLiteral("LockedHint");

// A desktop answers at once; one that does not within this time is taken as unlocked until
// its signals say otherwise, so that the session's first state is not left waiting.
constexpr int answer_timeout_ms = 2000;

// A value as sent, unwrapped from the D-Bus variant that properties come in.
QVariant plain(const QVariant& value) {
    return value.userType() == qMetaTypeId<QDBusVariant>() ? value.value<QDBusVariant>().variant()
                                                           : value;
}

bool is_true(const QVariant& value) {
    const QVariant v = plain(value);
    return v.userType() == QMetaType::Bool && v.toBool();
}

// Calls without waiting and without starting a service for the call; `answered` gets the
// reply's first argument, or nothing when there is no such service, method or answer.
void ask(const QDBusConnection& bus, QDBusMessage call, QObject* context,
         std::function<void(const std::optional<QVariant>&)> answered) {
    call.setAutoStartService(false);
    auto* pending = new QDBusPendingCallWatcher(bus.asyncCall(call, answer_timeout_ms), context);
    QObject::connect(pending, &QDBusPendingCallWatcher::finished, context,
                     [pending, answered = std::move(answered)] {
                         pending->deleteLater();
                         const QDBusMessage reply = pending->reply();
                         if (reply.type() == QDBusMessage::ReplyMessage &&
                             !reply.arguments().isEmpty())
                             answered(reply.arguments().constFirst());
                         else
                             answered(std::nullopt);
                     });
}

// A screen saver's ActiveChanged signal, for one source.
class ScreenSaverSignal : public QObject {
    Q_OBJECT
public:
    ScreenSaverSignal(LockWatch& watch, LockWatch::Source source)
        : QObject(&watch), watch_(watch), source_(source) {}
public slots:
    void ActiveChanged(bool active) { watch_.tell(source_, active, false); }

private:
    LockWatch& watch_;
    LockWatch::Source source_;
};

// logind's session: its LockedHint, read at the start and again whenever it changes.
class LoginSession : public QObject {
    Q_OBJECT
public:
    LoginSession(LockWatch& watch, QDBusConnection bus)
        : QObject(&watch), watch_(watch), bus_(bus) {}

    // Finds this program's login session and reads its hint.
    void find() {
        const QString id = qEnvironmentVariable("XDG_SESSION_ID");
        QDBusMessage call = QDBusMessage::createMethodCall(
            login1, QStringLiteral("/org/freedesktop/login1"),
            QStringLiteral("org.freedesktop.login1.Manager"),
            id.isEmpty() ? QStringLiteral("GetSessionByPID") : QStringLiteral("GetSession"));
        if (id.isEmpty())
            call << quint32(::getpid());
        else
            call << id;
        ask(bus_, call, this, [this](const std::optional<QVariant>& path) {
            path_ = path ? path->value<QDBusObjectPath>().path() : QString();
            if (path_.isEmpty())
                return watch_.tell(LockWatch::logind, false, true);
            // Followed before it is read: a change in between is not lost.
            bus_.connect(login1, path_, properties, QStringLiteral("PropertiesChanged"), this,
                         SLOT(PropertiesChanged(QString, QVariantMap, QStringList)));
            read(true);
        });
    }

public slots:
    void PropertiesChanged(const QString& interface, const QVariantMap& changed,
                           const QStringList& invalidated) {
        if (interface != login1_session)
            return;
        if (const auto hint = changed.constFind(locked_hint); hint != changed.constEnd())
            watch_.tell(LockWatch::logind, is_true(*hint), false);
        else if (invalidated.contains(locked_hint))
            read(false);
    }

private:
    void read(bool answer) {
        QDBusMessage get =
            QDBusMessage::createMethodCall(login1, path_, properties, QStringLiteral("Get"));
        get << login1_session << locked_hint;
        ask(bus_, get, this, [this, answer](const std::optional<QVariant>& hint) {
            watch_.tell(LockWatch::logind, hint && is_true(*hint), answer);
        });
    }

    LockWatch& watch_;
    QDBusConnection bus_;
    QString path_;
};

} // namespace

LockWatch::LockWatch(QObject* parent) : QObject(parent) {}

void LockWatch::start() {
    if (QDBusConnection system = QDBusConnection::systemBus(); system.isConnected())
        (new LoginSession(*this, system))->find();
    else
        tell(logind, false, true);

    struct ScreenSaver {
        Source source;
        const char* service; // also the interface
        const char* path;
    };
    static constexpr ScreenSaver screen_savers[] = {
        {freedesktop, "org.freedesktop.ScreenSaver", "/org/freedesktop/ScreenSaver"},
        {freedesktop_short_path, "org.freedesktop.ScreenSaver", "/ScreenSaver"},
        {gnome, "org.gnome.ScreenSaver", "/org/gnome/ScreenSaver"},
    };
    QDBusConnection session = QDBusConnection::sessionBus();
    for (const ScreenSaver& saver : screen_savers) {
        if (!session.isConnected()) {
            tell(saver.source, false, true);
            continue;
        }
        const QString service = QString::fromLatin1(saver.service);
        const QString path = QString::fromLatin1(saver.path);
        // Matched by the service's name, so that one that starts later is followed too.
        session.connect(service, path, service, QStringLiteral("ActiveChanged"),
                        new ScreenSaverSignal(*this, saver.source), SLOT(ActiveChanged(bool)));
        ask(session,
            QDBusMessage::createMethodCall(service, path, service, QStringLiteral("GetActive")),
            this, [this, source = saver.source](const std::optional<QVariant>& active) {
                tell(source, active && is_true(*active), true);
            });
    }
}

void LockWatch::tell(Source source, bool locked, bool answer) {
    locked_[source] = locked;
    if (answer)
        --unanswered_;
    const bool now = std::find(locked_.begin(), locked_.end(), true) != locked_.end();
    if (reported_ ? now == reported_locked_ : unanswered_ > 0 && !now)
        return;
    reported_ = true;
    reported_locked_ = now;
    emit locked_changed(now);
}

} // namespace kelvor::platform

#include "lock_watch.moc"
