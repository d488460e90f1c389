#include "platform/shutdown_signals.h"

#include <QGuiApplication>
#include <QSessionManager>
#include <QSocketNotifier>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <unistd.h>
#include <utility>

namespace kelvor::platform {

namespace {

int pipe_fds[2] = {-1, -1};

// Async-signal-safe: only writes one byte; the work happens later on the UI thread.
void on_signal(int) {
    const int saved = errno;
    const char byte = 1;
    [[maybe_unused]] const auto n = ::write(pipe_fds[1], &byte, 1);
    errno = saved;
}

const std::function<void()>* armed_at_exit = nullptr;

void run_armed_at_exit() {
    if (const auto* action = std::exchange(armed_at_exit, nullptr))
        (*action)();
}

} // namespace

ShutdownSignals::ShutdownSignals(QObject* parent) : QObject(parent) {
    if (pipe_fds[0] < 0 && ::pipe2(pipe_fds, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    notifier_ = new QSocketNotifier(pipe_fds[0], QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, &ShutdownSignals::drain);

    struct sigaction action = {};
    action.sa_handler = on_signal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int sig : {SIGTERM, SIGHUP, SIGINT})
        ::sigaction(sig, &action, nullptr);

    if (auto* gui = qobject_cast<QGuiApplication*>(QCoreApplication::instance())) {
        // Qt's documentation: commit data here, but do not quit; the desktop may go on.
        connect(gui, &QGuiApplication::commitDataRequest, this, &ShutdownSignals::save_requested);
    }
}

ShutdownSignals::~ShutdownSignals() {
    struct sigaction action = {};
    action.sa_handler = SIG_DFL;
    sigemptyset(&action.sa_mask);
    for (const int sig : {SIGTERM, SIGHUP, SIGINT})
        ::sigaction(sig, &action, nullptr);
}

void ShutdownSignals::drain() {
    char buffer[64];
    while (::read(pipe_fds[0], buffer, sizeof buffer) > 0) {
    }
    emit requested();
}

AtExit::AtExit(std::function<void()> action) : action_(std::move(action)) {
    // Registered at the first arming, after everything the action uses was set up, so that
    // exit() runs it before the destructors of those statics.
    static const bool registered = std::atexit(run_armed_at_exit) == 0;
    if (registered)
        armed_at_exit = &action_;
}

AtExit::~AtExit() {
    if (armed_at_exit == &action_)
        armed_at_exit = nullptr;
}

} // namespace kelvor::platform
