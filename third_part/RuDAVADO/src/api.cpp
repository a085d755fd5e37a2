// Set-up, discovery, sessions, clock, restarts and address change.
#include <cstring>
#include <ctime>

#include "RuDAVADO.h"
#include "api_support.h"
#include "live_video.h"

using namespace rudavado;

namespace rudavado {

int& lastError() {
    thread_local int error = KPLPRC_ERR_NONE;
    return error;
}

}  // namespace rudavado

extern "C" {

// ---- Library -------------------------------------------------------------------------------

KPLPRC_API int KPLPRC_CALL KpLPRClient_Setup(void) {
    return guarded(-1, [&]() -> int {
        bool simulated = false;
        const int chosen = setupBackend(simulated);
        if (!simulated) return chosen;
        Network::instance().setup();
        return succeed();
    });
}

KPLPRC_API int KPLPRC_CALL KpLPRClient_Cleanup(void) {
    return guarded(-1, [&]() -> int {
        if (otherBackend() != nullptr) return cleanupOtherBackend();
        Network& n = Network::instance();
        if (!n.isSetup()) return fail(KPLPRC_ERR_NOT_SETUP);
        n.cleanup();
        return succeed();
    });
}

KPLPRC_API int KPLPRC_CALL KpLPRClient_GetLastError(void) { return lastError(); }

// ---- Discovery and notify ------------------------------------------------------------------

KPLPRC_API int KPLPRC_CALL KPLPRClient_StartFindDeviceEx(KPLPRC_FIND_DEVICE_CALLBACK_EX callback,
                                                         void* user_data) {
    return guarded(-1, [&]() -> int {
        RUDAVADO_DISPATCH(startFindDeviceEx(callback, user_data));
        Network& n = Network::instance();
        if (!n.isSetup()) return fail(KPLPRC_ERR_NOT_SETUP);
        if (callback == nullptr) return fail(KPLPRC_ERR_PARAMETER);
        if (injectedFault(n, "KPLPRClient_StartFindDeviceEx")) return fail(KPLPRC_ERR_DEVICE);
        n.startDiscovery(callback, nullptr, user_data);
        return succeed();
    });
}

KPLPRC_API int KPLPRC_CALL KPLPRClient_StartFindDeviceV2(KPLPRC_FIND_DEVICE_CALLBACK_V2 callback,
                                                         void* user_data) {
    return guarded(-1, [&]() -> int {
        RUDAVADO_DISPATCH(startFindDeviceV2(callback, user_data));
        Network& n = Network::instance();
        if (!n.isSetup()) return fail(KPLPRC_ERR_NOT_SETUP);
        if (callback == nullptr) return fail(KPLPRC_ERR_PARAMETER);
        if (injectedFault(n, "KPLPRClient_StartFindDeviceV2")) return fail(KPLPRC_ERR_DEVICE);
        n.startDiscovery(nullptr, callback, user_data);
        return succeed();
    });
}

// Always succeeds: stopping what does not run (also after clean-up) changes nothing.
KPLPRC_API int KPLPRC_CALL KpLPRClient_StopFindDevice(void) {
    return guarded(-1, [&]() -> int {
        RUDAVADO_DISPATCH(stopFindDevice());
        Network::instance().stopDiscovery();
        return succeed();
    });
}

KPLPRC_API int KPLPRC_CALL KPLPRClient_SetCommonNotifyCallBack(KPLPRC_COMMON_NOTIFY_CALLBACK callback,
                                                               void* user_data) {
    return guarded(-1, [&]() -> int {
        RUDAVADO_DISPATCH(setCommonNotifyCallBack(callback, user_data));
        Network& n = Network::instance();
        // Registering needs no camera: no wait for the first scenario.
        if (callback != nullptr && !n.setupStarted()) return fail(KPLPRC_ERR_NOT_SETUP);
        if (callback != nullptr && injectedFault(n, "KPLPRClient_SetCommonNotifyCallBack")) {
            return fail(KPLPRC_ERR_DEVICE);
        }
        n.setNotify(callback, user_data);
        return succeed();
    });
}

// ---- Sessions --------------------------------------------------------------------------------

KPLPRC_API KPLPRC_HANDLE KPLPRC_CALL KpLPRClient_Open(const char* ip, int port, const char* user,
                                                      const char* password) {
    return guarded<KPLPRC_HANDLE>(nullptr, [&]() -> KPLPRC_HANDLE {
        RUDAVADO_DISPATCH(open(ip, port, user, password));
        Network& n = Network::instance();
        if (!n.isSetup()) {
            fail(KPLPRC_ERR_NOT_SETUP);
            return nullptr;
        }
        if (ip == nullptr || user == nullptr || password == nullptr || !isIpv4(ip) || port <= 0 ||
            port > 65535) {
            fail(KPLPRC_ERR_PARAMETER);
            return nullptr;
        }
        wait(n, Timing::Login);
        auto lk = n.lock();
        Camera* c = nullptr;
        int code = reach(n, lk, ip, port, "KpLPRClient_Open", c);
        if (code == KPLPRC_ERR_NONE && !n.isSetup()) code = KPLPRC_ERR_NOT_SETUP;  // cleaned up meanwhile
        if (code == KPLPRC_ERR_NONE && (c->user != user || c->password != password)) {
            code = KPLPRC_ERR_AUTH;
        }
        if (code == KPLPRC_ERR_NONE && n.aliveSessions(*c) >= c->max_sessions) {
            code = KPLPRC_ERR_TOO_MANY_SESSIONS;
        }
        if (code != KPLPRC_ERR_NONE) {
            fail(code);
            return nullptr;
        }
        Session s;
        s.camera = c->index;
        s.ip = ip;
        s.port = port;
        s.user = user;
        s.password = password;
        KPLPRC_HANDLE handle = n.addSession(std::move(s));
        succeed();
        return handle;
    });
}

KPLPRC_API int KPLPRC_CALL KpLPRClient_Close(KPLPRC_HANDLE handle) {
    return guarded(-1, [&]() -> int {
        RUDAVADO_DISPATCH(close(handle));
        Network& n = Network::instance();
        if (!n.isSetup()) return fail(KPLPRC_ERR_NOT_SETUP);
        wait(n, Timing::Call);
        std::vector<std::shared_ptr<LivePlay>> plays;
        {
            auto lk = n.lock();
            Session* s = n.findSession(handle);
            if (s == nullptr) return fail(KPLPRC_ERR_INVALID_HANDLE);
            if (n.consumeFault("KpLPRClient_Close", s->camera)) return fail(KPLPRC_ERR_DEVICE);
            plays = n.takePlays(s->id);
            n.removeSession(handle);
        }
        if (plays.empty()) return succeed();
        // Live videos of the session end with it.
        for (auto& p : plays) p->stop();
        auto lk = n.lock();
        for (auto& p : plays) {
            if (p->generation() == n.loadGeneration()) {
                n.cameras()[static_cast<size_t>(p->camera())].frames_finished += p->frames();
            }
        }
        return succeed();
    });
}

KPLPRC_API int KPLPRC_CALL KpLPRClient_SetLoginAccount(KPLPRC_HANDLE handle, const char* password) {
    return guarded(-1, [&]() -> int {
        RUDAVADO_DISPATCH(setLoginAccount(handle, password));
        if (password == nullptr || *password == '\0' || std::strlen(password) > 63) {
            return fail(KPLPRC_ERR_PARAMETER);
        }
        return onSession("KpLPRClient_SetLoginAccount", handle, [&](Session& s, Camera& c) {
            c.password = password;
            s.password = password;
            return KPLPRC_ERR_NONE;
        });
    });
}

KPLPRC_API int KPLPRC_CALL KpLPRClient_GetDateTime(KPLPRC_HANDLE handle, KPLPRC_DATETIME* time) {
    return guarded(-1, [&]() -> int {
        RUDAVADO_DISPATCH(getDateTime(handle, time));
        if (time == nullptr) return fail(KPLPRC_ERR_PARAMETER);
        return onSession("KpLPRClient_GetDateTime", handle, [&](Session&, Camera& c) {
            std::time_t t = static_cast<std::time_t>(Network::instance().cameraClock(c));
            std::tm tm{};
            gmtime_r(&t, &tm);
            *time = KPLPRC_DATETIME{tm.tm_year, tm.tm_mon, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec};
            return KPLPRC_ERR_NONE;
        });
    });
}

KPLPRC_API int KPLPRC_CALL KpLPRClient_SetDateTime(KPLPRC_HANDLE handle, const KPLPRC_DATETIME* time) {
    return guarded(-1, [&]() -> int {
        RUDAVADO_DISPATCH(setDateTime(handle, time));
        if (time == nullptr || !validDate(*time)) return fail(KPLPRC_ERR_PARAMETER);
        return onSession("KpLPRClient_SetDateTime", handle, [&](Session&, Camera& c) {
            std::tm tm = brokenDown(*time);
            c.clock_offset_s = static_cast<long long>(timegm(&tm)) - hostUtcSeconds();
            return KPLPRC_ERR_NONE;
        });
    });
}

namespace {

int restart(const char* operation, KPLPRC_HANDLE handle, int restore) {
    return onSession(operation, handle, [&](Session&, Camera& c) {
        Network::instance().advanceUpgrade(c);
        if (c.upgrading()) return KPLPRC_ERR_BUSY;
        if (restore >= 1) c.restoreDefaultValues();
        if (restore == 2) {
            c.ip = c.factory_ip;
            Network::instance().cameraAddressChanged();
            c.netmask = c.factory_netmask;
            c.gateway = c.factory_gateway;
            c.port = c.factory_port;
            c.user = c.factory_user;
            c.password = c.factory_password;
        }
        Network& n = Network::instance();
        n.dropSessions(c, KP_LPRC_NOTIFY_REBOOT);
        n.startRestart(c, n.timing(Timing::Boot), true);
        return KPLPRC_ERR_NONE;
    });
}

}  // namespace

KPLPRC_API int KPLPRC_CALL KpLPRClient_RebootDevice(KPLPRC_HANDLE handle) {
    return guarded(-1, [&]() -> int {
        RUDAVADO_DISPATCH(rebootDevice(handle));
        return restart("KpLPRClient_RebootDevice", handle, 0);
    });
}

KPLPRC_API int KPLPRC_CALL KpLPRClient_RestorePart(KPLPRC_HANDLE handle) {
    return guarded(-1, [&]() -> int {
        RUDAVADO_DISPATCH(restorePart(handle));
        return restart("KpLPRClient_RestorePart", handle, 1);
    });
}

KPLPRC_API int KPLPRC_CALL KpLPRClient_RestoreFull(KPLPRC_HANDLE handle) {
    return guarded(-1, [&]() -> int {
        RUDAVADO_DISPATCH(restoreFull(handle));
        return restart("KpLPRClient_RestoreFull", handle, 2);
    });
}

// ---- Network -------------------------------------------------------------------------------

KPLPRC_API int KPLPRC_CALL KpLPRClient_UpdateNetworkParam(unsigned int serial_high, unsigned int serial_low,
                                                          const char* ip, const char* gateway,
                                                          const char* netmask) {
    return guarded(-1, [&]() -> int {
        RUDAVADO_DISPATCH(updateNetworkParam(serial_high, serial_low, ip, gateway, netmask));
        Network& n = Network::instance();
        if (!n.isSetup()) return fail(KPLPRC_ERR_NOT_SETUP);
        if (!validNetworkParams(ip, gateway, netmask)) return fail(KPLPRC_ERR_PARAMETER);
        wait(n, Timing::Call);
        auto lk = n.lock();
        Camera* c = n.cameraBySerial(serial_high, serial_low);
        if (c == nullptr || !c->reachable()) {
            const double timeout = n.timing(Timing::ConnectTimeout);
            lk.unlock();
            sleepScaled(timeout);
            return fail(KPLPRC_ERR_NOT_FOUND);
        }
        if (n.consumeFault("KpLPRClient_UpdateNetworkParam", c->index)) return fail(KPLPRC_ERR_DEVICE);
        for (const Camera& other : n.cameras()) {
            if (&other != c && other.ip == ip && other.reachable()) {
                return fail(KPLPRC_ERR_ADDRESS_IN_USE);
            }
        }
        n.advanceUpgrade(*c);
        if (c->upgrading()) return fail(KPLPRC_ERR_BUSY);
        c->ip = ip;
        n.cameraAddressChanged();
        c->gateway = gateway;
        c->netmask = netmask;
        n.dropSessions(*c, KP_LPRC_NOTIFY_OFFLINE);
        n.startRestart(*c, kNetworkRestartMs, false);
        return succeed();
    });
}

}  // extern "C"
