#pragma once

#include <QObject>
#include <functional>

class QSocketNotifier;

namespace kelvor::platform {

// The ways the desktop tells a program that the user's session ends, as Qt signals delivered on
// the UI thread between events. The session manager's Die reaches the program as the
// application quitting, which Qt announces itself (QCoreApplication::aboutToQuit).
class ShutdownSignals : public QObject {
    Q_OBJECT
public:
    explicit ShutdownSignals(QObject* parent = nullptr);
    ~ShutdownSignals() override;

signals:
    // SIGTERM, SIGHUP or SIGINT: log-off, shut-down, Ctrl+C.
    void requested();
    // The session manager asks the program to save its data: for "save the session now", and
    // at the start of a log-off that the user may still cancel. Nothing ends yet.
    void save_requested();

private:
    void drain();

    QSocketNotifier* notifier_ = nullptr;
};

// Runs an action if the process ends through exit() while the AtExit object lives, as Qt's
// X11 back end ends it when the display connection breaks. The stack is not unwound then, so
// whatever the object's owner outlives is still there; once the object is gone (main returning
// normally), nothing runs. One at a time.
class AtExit {
public:
    explicit AtExit(std::function<void()> action);
    ~AtExit();
    AtExit(const AtExit&) = delete;
    AtExit& operator=(const AtExit&) = delete;

private:
    std::function<void()> action_;
};

} // namespace kelvor::platform
