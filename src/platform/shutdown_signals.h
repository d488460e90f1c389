#pragma once

#include <QObject>

class QSocketNotifier;

namespace kelvor::platform {

// Turns SIGTERM, SIGHUP and SIGINT (log-off, shut-down, Ctrl+C) and the desktop session
// manager's end of session into one Qt signal, delivered on the UI thread between events.
class ShutdownSignals : public QObject {
    Q_OBJECT
public:
    explicit ShutdownSignals(QObject* parent = nullptr);
    ~ShutdownSignals() override;

signals:
    void requested();

private:
    void drain();

    QSocketNotifier* notifier_ = nullptr;
};

} // namespace kelvor::platform
