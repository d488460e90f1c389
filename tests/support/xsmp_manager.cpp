#include "support/xsmp_manager.h"

#include <QElapsedTimer>
#include <X11/ICE/ICElib.h>
#include <X11/SM/SMlib.h>
#include <cstdlib>
#include <cstring>
#include <poll.h>
#include <vector>

namespace kelvor::testing {

struct XsmpManager::State {
    std::vector<IceListenObj> listening; // local sockets only
    int listen_count = 0;
    IceListenObj* listen_objs = nullptr;
    IceConn connection = nullptr;
    SmsConn client = nullptr;
    bool registered = false;
    bool closed = false;
    int saves_done = 0;
};

namespace {

XsmpManager::State* current = nullptr;

// The client runs as the same user on the same machine; nothing from the network.
Bool local_only(char* hostname) {
    return hostname != nullptr && std::strncmp(hostname, "local/", 6) == 0;
}

// ICE's default ends the process on an I/O error; here a broken connection is a test result.
void ignore_io_error(IceConn) {}

Status register_client(SmsConn client, SmPointer, char*) {
    char* id = SmsGenerateClientID(client);
    const Status ok = SmsRegisterClientReply(client, id);
    std::free(id);
    current->registered = true;
    // What a session manager asks of a client that registers for the first time.
    SmsSaveYourself(client, SmSaveLocal, False, SmInteractStyleNone, False);
    return ok;
}

void save_yourself_done(SmsConn, SmPointer, Bool) {
    ++current->saves_done;
}

void save_phase2_request(SmsConn client, SmPointer) {
    SmsSaveYourselfPhase2(client);
}

void interact_request(SmsConn client, SmPointer, int) {
    SmsInteract(client);
}

void ignore_interact_done(SmsConn, SmPointer, Bool) {}
void ignore_save_request(SmsConn, SmPointer, int, Bool, int, Bool, Bool) {}

void close_connection(SmsConn client, SmPointer, int count, char** reasons) {
    SmFreeReasons(count, reasons);
    IceConn connection = SmsGetIceConnection(client);
    SmsCleanUp(client);
    IceSetShutdownNegotiation(connection, False);
    IceCloseConnection(connection);
    current->client = nullptr;
    current->connection = nullptr;
    current->closed = true;
}

void set_properties(SmsConn, SmPointer, int count, SmProp** properties) {
    for (int i = 0; i < count; ++i)
        SmFreeProperty(properties[i]);
    std::free(properties);
}

void delete_properties(SmsConn, SmPointer, int count, char** names) {
    for (int i = 0; i < count; ++i)
        std::free(names[i]);
    std::free(names);
}

void get_properties(SmsConn client, SmPointer) {
    SmsReturnProperties(client, 0, nullptr);
}

Status new_client(SmsConn client, SmPointer, unsigned long* mask, SmsCallbacks* callbacks, char**) {
    current->client = client;
    *mask = SmsRegisterClientProcMask | SmsInteractRequestProcMask | SmsInteractDoneProcMask |
            SmsSaveYourselfRequestProcMask | SmsSaveYourselfP2RequestProcMask |
            SmsSaveYourselfDoneProcMask | SmsCloseConnectionProcMask | SmsSetPropertiesProcMask |
            SmsDeletePropertiesProcMask | SmsGetPropertiesProcMask;
    callbacks->register_client.callback = register_client;
    callbacks->interact_request.callback = interact_request;
    callbacks->interact_done.callback = ignore_interact_done;
    callbacks->save_yourself_request.callback = ignore_save_request;
    callbacks->save_yourself_phase2_request.callback = save_phase2_request;
    callbacks->save_yourself_done.callback = save_yourself_done;
    callbacks->close_connection.callback = close_connection;
    callbacks->set_properties.callback = set_properties;
    callbacks->delete_properties.callback = delete_properties;
    callbacks->get_properties.callback = get_properties;
    return 1;
}

} // namespace

XsmpManager::XsmpManager() : state_(new State) {
    current = state_;
    IceSetIOErrorHandler(ignore_io_error);
    char error[256] = {};
    if (!SmsInitialize("kelvor-tests", "1.0", new_client, nullptr, local_only, sizeof error, error))
        return;
    if (!IceListenForConnections(&state_->listen_count, &state_->listen_objs, sizeof error, error))
        return;
    for (int i = 0; i < state_->listen_count; ++i) {
        IceListenObj listener = state_->listen_objs[i];
        char* id = IceGetListenConnectionString(listener);
        if (std::strncmp(id, "local/", 6) == 0 || std::strncmp(id, "unix/", 5) == 0) {
            IceSetHostBasedAuthProc(listener, local_only);
            state_->listening.push_back(listener);
        }
        std::free(id);
    }
    if (state_->listening.empty())
        return;
    char* ids = IceComposeNetworkIdList(int(state_->listening.size()), state_->listening.data());
    address_ = QString::fromLocal8Bit(ids);
    std::free(ids);
}

XsmpManager::~XsmpManager() {
    if (state_->client) {
        IceConn connection = SmsGetIceConnection(state_->client);
        SmsCleanUp(state_->client);
        IceSetShutdownNegotiation(connection, False);
        IceCloseConnection(connection);
    } else if (state_->connection) {
        IceCloseConnection(state_->connection);
    }
    if (state_->listen_objs)
        IceFreeListenObjs(state_->listen_count, state_->listen_objs);
    delete state_;
    current = nullptr;
}

bool XsmpManager::pump(int timeout_ms, const std::function<bool()>& done) {
    QElapsedTimer waited;
    waited.start();
    while (!done()) {
        const qint64 left = timeout_ms - waited.elapsed();
        if (left <= 0)
            return false;
        std::vector<pollfd> fds;
        for (IceListenObj listener : state_->listening)
            fds.push_back({IceGetListenConnectionNumber(listener), POLLIN, 0});
        if (state_->connection)
            fds.push_back({IceConnectionNumber(state_->connection), POLLIN, 0});
        if (::poll(fds.data(), fds.size(), int(std::min<qint64>(left, 100))) <= 0)
            continue;
        for (size_t i = 0; i < state_->listening.size(); ++i) {
            if (!(fds[i].revents & POLLIN) || state_->connection)
                continue;
            IceAcceptStatus status;
            state_->connection = IceAcceptConnection(state_->listening[i], &status);
            if (status != IceAcceptSuccess)
                state_->connection = nullptr;
        }
        if (state_->connection && fds.back().fd == IceConnectionNumber(state_->connection) &&
            (fds.back().revents & (POLLIN | POLLHUP | POLLERR))) {
            if (IceProcessMessages(state_->connection, nullptr, nullptr) !=
                    IceProcessMessagesSuccess &&
                !state_->closed) {
                // The client went away without closing (it died, or its end was abrupt).
                IceSetShutdownNegotiation(state_->connection, False);
                IceCloseConnection(state_->connection);
                state_->connection = nullptr;
                state_->client = nullptr;
                state_->closed = true;
            }
        }
    }
    return true;
}

bool XsmpManager::wait_for_client(int timeout_ms) {
    return pump(timeout_ms, [this] { return state_->registered && state_->saves_done >= 1; });
}

bool XsmpManager::save_yourself(bool shutdown, int timeout_ms) {
    if (!state_->client)
        return false;
    const int before = state_->saves_done;
    SmsSaveYourself(state_->client, SmSaveGlobal, shutdown ? True : False, SmInteractStyleNone,
                    False);
    return pump(timeout_ms, [this, before] { return state_->saves_done > before; });
}

void XsmpManager::shutdown_cancelled() {
    if (state_->client)
        SmsShutdownCancelled(state_->client);
}

void XsmpManager::die() {
    if (state_->client)
        SmsDie(state_->client);
}

bool XsmpManager::wait_for_close(int timeout_ms) {
    return pump(timeout_ms, [this] { return state_->closed; });
}

} // namespace kelvor::testing
