// Helpers shared by the files that define the public C functions. Each function waits the call
// latency outside the network lock, then checks and changes the network under the lock; file
// work happens outside it.
#pragma once

#include <mutex>
#include <string>

#include "RuDAVADO.h"
#include "backend.h"
#include "network.h"
#include "util.h"

namespace rudavado {

// The calling thread's KpLPRClient_GetLastError() value.
int& lastError();

inline int fail(int code) {
    lastError() = code;
    return -1;
}

inline int succeed() {
    lastError() = KPLPRC_ERR_NONE;
    return 0;
}

inline int finish(int code) { return code == KPLPRC_ERR_NONE ? succeed() : fail(code); }

// Runs the body of a C function; nothing may escape into a C caller, and running out of memory
// or threads is all that can throw here.
template <typename R, typename Body>
R guarded(R failure, Body&& body) {
    try {
        return body();
    } catch (...) {
        fail(KPLPRC_ERR_DEVICE);
        return failure;
    }
}

inline void wait(Network& n, Timing t) { sleepScaled(n.timing(t)); }

// Hands the call to the backend chosen at set-up when that is not the simulated network.
#define RUDAVADO_DISPATCH(call) \
    if (::rudavado::Backend* other_ = ::rudavado::otherBackend()) return other_->call

// Checks the session under the lock held by `lk`; on failure returns the error code.
inline int checkSession(Network& n, KPLPRC_HANDLE handle, const char* operation, Session*& s, Camera*& c) {
    s = n.findSession(handle);
    if (s == nullptr) return KPLPRC_ERR_INVALID_HANDLE;
    if (!s->alive) return KPLPRC_ERR_SESSION_LOST;
    c = &n.cameras()[static_cast<size_t>(s->camera)];
    if (n.consumeFault(operation, c->index)) return KPLPRC_ERR_DEVICE;
    return KPLPRC_ERR_NONE;
}

// A call on a session: latency, then `body(session, camera)` under the lock; body returns an
// error code.
template <typename Body>
int onSession(const char* operation, KPLPRC_HANDLE handle, Body&& body) {
    Network& n = Network::instance();
    if (!n.isSetup()) return fail(KPLPRC_ERR_NOT_SETUP);
    wait(n, Timing::Call);
    auto lk = n.lock();
    Session* s = nullptr;
    Camera* c = nullptr;
    int code = checkSession(n, handle, operation, s, c);
    if (code == KPLPRC_ERR_NONE) code = body(*s, *c);
    return finish(code);
}

// Opening or querying an address: the camera answering there, or the error after the wait that
// an unanswered connection costs. Called with `lk` held; may release it while waiting.
inline int reach(Network& n, std::unique_lock<std::mutex>& lk, const std::string& ip, int port,
                 const char* operation, Camera*& camera) {
    camera = n.cameraByIp(ip);
    if (camera == nullptr || !camera->reachable() || camera->silent) {
        const double timeout = n.timing(Timing::ConnectTimeout);
        lk.unlock();
        sleepScaled(timeout);
        lk.lock();
        return KPLPRC_ERR_TIMEOUT;
    }
    if (n.consumeFault(operation, camera->index)) return KPLPRC_ERR_DEVICE;
    if (camera->port != port) return KPLPRC_ERR_REFUSED;
    return KPLPRC_ERR_NONE;
}

// A fault injected for a call that concerns no camera in particular.
inline bool injectedFault(Network& n, const char* operation) {
    auto lk = n.lock();
    return n.consumeFault(operation, -1);
}

}  // namespace rudavado
