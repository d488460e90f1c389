#pragma once

#include <QString>
#include <functional>

namespace kelvor::testing {

// A desktop session manager that speaks XSMP (libSM, libICE), for the tests only: it listens
// on a local ICE socket and plays with one client the messages a desktop sends at "save the
// session now" and at log-off. The client is a program started with SESSION_MANAGER set to
// address(). Everything runs on the calling thread; each call processes messages until its
// answer has come or the time is up.
class XsmpManager {
public:
    XsmpManager();
    ~XsmpManager();
    XsmpManager(const XsmpManager&) = delete;
    XsmpManager& operator=(const XsmpManager&) = delete;

    // The value of SESSION_MANAGER for the client; empty when listening failed.
    const QString& address() const { return address_; }

    // Until a client has registered and answered the save that a session manager asks of
    // every new client (local, no shutdown).
    bool wait_for_client(int timeout_ms = 10000);
    // SaveYourself (global, no interaction), then until the client's SaveYourselfDone.
    // `shutdown`: the save at the start of a log-off, which the user may still cancel.
    bool save_yourself(bool shutdown, int timeout_ms = 10000);
    void shutdown_cancelled();
    void die();
    // Until the client has closed its connection.
    bool wait_for_close(int timeout_ms = 10000);

    struct State;

private:
    bool pump(int timeout_ms, const std::function<bool()>& done);

    State* state_;
    QString address_;
};

} // namespace kelvor::testing
