// The public C functions. Each one waits the call latency outside the network lock, then checks
// and changes the network under the lock; file work happens outside it.
#include <cstdio>
#include <cstring>
#include <ctime>

#include "RuDAVADO.h"
#include "firmware.h"
#include "live_video.h"
#include "network.h"
#include "param_file.h"
#include "util.h"

using namespace rudavado;

namespace {

thread_local int t_last_error = KPLPRC_ERR_NONE;

int fail(int code) {
    t_last_error = code;
    return -1;
}

int succeed() {
    t_last_error = KPLPRC_ERR_NONE;
    return 0;
}

int finish(int code) { return code == KPLPRC_ERR_NONE ? succeed() : fail(code); }

void wait(Network& n, Timing t) {
    double ms;
    {
        auto lk = n.lock();
        ms = n.timing(t);
    }
    sleepScaled(ms);
}

// Checks the session under the lock held by `lk`; on failure returns the error code.
int checkSession(Network& n, KPLPRC_HANDLE handle, const char* operation, Session*& s, Camera*& c) {
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

bool validDate(const KPLPRC_DATETIME& t) {
    static const int kDays[12] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (t.year < 70 || t.year > 137 || t.month < 0 || t.month > 11) return false;
    const int y = t.year + 1900;
    const bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
    const int days = t.month == 1 && !leap ? 28 : kDays[t.month];
    return t.day >= 1 && t.day <= days && t.hour >= 0 && t.hour <= 23 && t.minute >= 0 && t.minute <= 59 &&
           t.second >= 0 && t.second <= 59;
}

std::vector<std::string> splitPaths(const char* joined) {
    std::vector<std::string> out;
    std::string all(joined);
    size_t start = 0;
    while (start <= all.size()) {
        size_t end = all.find('|', start);
        if (end == std::string::npos) end = all.size();
        if (end > start) out.push_back(all.substr(start, end - start));
        start = end + 1;
    }
    return out;
}

// Opening or querying an address: the camera answering there, or the error after the wait
// that an unanswered connection costs.
int reach(Network& n, std::unique_lock<std::mutex>& lk, const std::string& ip, int port,
          const char* operation, Camera*& camera) {
    camera = n.cameraByIp(ip);
    if (camera == nullptr || !camera->reachable()) {
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

enum class Upload { Logo, Background, Css };

bool isPicture(const std::string& data) {
    static const unsigned char kPng[8] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
    if (data.size() >= 33 && std::memcmp(data.data(), kPng, 8) == 0 && data.compare(12, 4, "IHDR") == 0) {
        return true;
    }
    return data.size() >= 4 && static_cast<unsigned char>(data[0]) == 0xFF &&
           static_cast<unsigned char>(data[1]) == 0xD8 && static_cast<unsigned char>(data[2]) == 0xFF;
}

int upload(const char* operation, KPLPRC_HANDLE handle, const char* path, Upload kind) {
    if (path == nullptr || *path == '\0') return fail(KPLPRC_ERR_PARAMETER);
    Network& n = Network::instance();
    if (!n.isSetup()) return fail(KPLPRC_ERR_NOT_SETUP);
    wait(n, Timing::Call);
    {
        auto lk = n.lock();
        Session* s;
        Camera* c;
        int code = checkSession(n, handle, operation, s, c);
        if (code == KPLPRC_ERR_NONE && c->family->device_type != KPLPRC_DEVICE_FACE) {
            code = KPLPRC_ERR_NOT_SUPPORTED;
        }
        if (code != KPLPRC_ERR_NONE) return fail(code);
    }
    const size_t limit = kind == Upload::Css ? 256u << 10 : 2u << 20;
    std::string data;
    bool too_large = false;
    if (!readFile(path, data, limit, &too_large)) {
        return fail(too_large ? KPLPRC_ERR_FORMAT : KPLPRC_ERR_FILE);
    }
    if (data.empty()) return fail(KPLPRC_ERR_FORMAT);
    if (kind == Upload::Css) {
        if (data.compare(0, 3, "\xEF\xBB\xBF") == 0) data.erase(0, 3);
        if (data.find('\0') != std::string::npos || !isUtf8(data)) return fail(KPLPRC_ERR_FORMAT);
    } else if (!isPicture(data)) {
        return fail(KPLPRC_ERR_FORMAT);
    }
    auto lk = n.lock();
    Session* s = n.findSession(handle);
    if (s == nullptr) return fail(KPLPRC_ERR_INVALID_HANDLE);
    if (!s->alive) return fail(KPLPRC_ERR_SESSION_LOST);
    Camera& c = n.cameras()[static_cast<size_t>(s->camera)];
    const long long size = static_cast<long long>(data.size());
    (kind == Upload::Logo ? c.logo_size : kind == Upload::Background ? c.background_size : c.css_size) = size;
    ++c.uploads;
    return succeed();
}

}  // namespace

extern "C" {

// ---- Library -------------------------------------------------------------------------------

KPLPRC_API int KPLPRC_CALL KpLPRClient_Setup(void) {
    try {
        Network::instance().setup();
        return succeed();
    } catch (...) {
        // Nothing may escape into a C caller; running out of memory or threads is all
        // that can throw here.
        fail(KPLPRC_ERR_DEVICE);
        return -1;
    }
}

KPLPRC_API int KPLPRC_CALL KpLPRClient_Cleanup(void) {
    try {
        Network& n = Network::instance();
        if (!n.isSetup()) return fail(KPLPRC_ERR_NOT_SETUP);
        n.cleanup();
        return succeed();
    } catch (...) {
        // Nothing may escape into a C caller; running out of memory or threads is all
        // that can throw here.
        fail(KPLPRC_ERR_DEVICE);
        return -1;
    }
}

KPLPRC_API int KPLPRC_CALL KpLPRClient_GetLastError(void) { return t_last_error; }

// ---- Discovery and notify ------------------------------------------------------------------

KPLPRC_API int KPLPRC_CALL KPLPRClient_StartFindDeviceEx(KPLPRC_FIND_DEVICE_CALLBACK_EX callback,
                                                         void* user_data) {
    Network& n = Network::instance();
    if (!n.isSetup()) return fail(KPLPRC_ERR_NOT_SETUP);
    if (callback == nullptr) return fail(KPLPRC_ERR_PARAMETER);
    n.startDiscovery(callback, nullptr, user_data);
    return succeed();
}

KPLPRC_API int KPLPRC_CALL KPLPRClient_StartFindDeviceV2(KPLPRC_FIND_DEVICE_CALLBACK_V2 callback,
                                                         void* user_data) {
    try {
        Network& n = Network::instance();
        if (!n.isSetup()) return fail(KPLPRC_ERR_NOT_SETUP);
        if (callback == nullptr) return fail(KPLPRC_ERR_PARAMETER);
        n.startDiscovery(nullptr, callback, user_data);
        return succeed();
    } catch (...) {
        // Nothing may escape into a C caller; running out of memory or threads is all
        // that can throw here.
        fail(KPLPRC_ERR_DEVICE);
        return -1;
    }
}

// Always succeeds: stopping what does not run (also after clean-up) changes nothing.
KPLPRC_API int KPLPRC_CALL KpLPRClient_StopFindDevice(void) {
    try {
        Network::instance().stopDiscovery();
        return succeed();
    } catch (...) {
        // Nothing may escape into a C caller; running out of memory or threads is all
        // that can throw here.
        fail(KPLPRC_ERR_DEVICE);
        return -1;
    }
}

KPLPRC_API int KPLPRC_CALL KPLPRClient_SetCommonNotifyCallBack(KPLPRC_COMMON_NOTIFY_CALLBACK callback,
                                                               void* user_data) {
    try {
        Network& n = Network::instance();
        if (callback != nullptr && !n.isSetup()) return fail(KPLPRC_ERR_NOT_SETUP);
        n.setNotify(callback, user_data);
        return succeed();
    } catch (...) {
        // Nothing may escape into a C caller; running out of memory or threads is all
        // that can throw here.
        fail(KPLPRC_ERR_DEVICE);
        return -1;
    }
}

// ---- Sessions --------------------------------------------------------------------------------

KPLPRC_API KPLPRC_HANDLE KPLPRC_CALL KpLPRClient_Open(const char* ip, int port, const char* user,
                                                      const char* password) {
    try {
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
    } catch (...) {
        // Nothing may escape into a C caller; running out of memory or threads is all
        // that can throw here.
        fail(KPLPRC_ERR_DEVICE);
        return nullptr;
    }
}

KPLPRC_API int KPLPRC_CALL KpLPRClient_Close(KPLPRC_HANDLE handle) {
    try {
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
        // Live videos of the session end with it.
        for (auto& p : plays) p->stop();
        auto lk = n.lock();
        for (auto& p : plays) {
            if (p->generation() == n.loadGeneration()) {
                n.cameras()[static_cast<size_t>(p->camera())].frames_finished += p->frames();
            }
        }
        return succeed();
    } catch (...) {
        // Nothing may escape into a C caller; running out of memory or threads is all
        // that can throw here.
        fail(KPLPRC_ERR_DEVICE);
        return -1;
    }
}

KPLPRC_API int KPLPRC_CALL KpLPRClient_SetLoginAccount(KPLPRC_HANDLE handle, const char* password) {
    try {
        if (password == nullptr || *password == '\0' || std::strlen(password) > 63) {
            return fail(KPLPRC_ERR_PARAMETER);
        }
        return onSession("KpLPRClient_SetLoginAccount", handle, [&](Session& s, Camera& c) {
            c.password = password;
            s.password = password;
            return KPLPRC_ERR_NONE;
        });
    } catch (...) {
        // Nothing may escape into a C caller; running out of memory or threads is all
        // that can throw here.
        fail(KPLPRC_ERR_DEVICE);
        return -1;
    }
}

KPLPRC_API int KPLPRC_CALL KpLPRClient_GetDateTime(KPLPRC_HANDLE handle, KPLPRC_DATETIME* time) {
    try {
        if (time == nullptr) return fail(KPLPRC_ERR_PARAMETER);
        return onSession("KpLPRClient_GetDateTime", handle, [&](Session&, Camera& c) {
            std::time_t t = static_cast<std::time_t>(Network::instance().cameraClock(c));
            std::tm tm{};
            gmtime_r(&t, &tm);
            *time = KPLPRC_DATETIME{tm.tm_year, tm.tm_mon, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec};
            return KPLPRC_ERR_NONE;
        });
    } catch (...) {
        // Nothing may escape into a C caller; running out of memory or threads is all
        // that can throw here.
        fail(KPLPRC_ERR_DEVICE);
        return -1;
    }
}

KPLPRC_API int KPLPRC_CALL KpLPRClient_SetDateTime(KPLPRC_HANDLE handle, const KPLPRC_DATETIME* time) {
    try {
        if (time == nullptr || !validDate(*time)) return fail(KPLPRC_ERR_PARAMETER);
        return onSession("KpLPRClient_SetDateTime", handle, [&](Session&, Camera& c) {
            std::tm tm{};
            tm.tm_year = time->year;
            tm.tm_mon = time->month;
            tm.tm_mday = time->day;
            tm.tm_hour = time->hour;
            tm.tm_min = time->minute;
            tm.tm_sec = time->second;
            c.clock_offset_s = static_cast<long long>(timegm(&tm)) - hostUtcSeconds();
            return KPLPRC_ERR_NONE;
        });
    } catch (...) {
        // Nothing may escape into a C caller; running out of memory or threads is all
        // that can throw here.
        fail(KPLPRC_ERR_DEVICE);
        return -1;
    }
}

namespace {

int restart(const char* operation, KPLPRC_HANDLE handle, int restore) {
    return onSession(operation, handle, [&](Session&, Camera& c) {
        Network::instance().advanceUpgrade(c);
        if (c.upgrading()) return KPLPRC_ERR_BUSY;
        if (restore >= 1) c.restoreDefaultValues();
        if (restore == 2) {
            c.ip = c.factory_ip;
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
    try {
        return restart("KpLPRClient_RebootDevice", handle, 0);
    } catch (...) {
        // Nothing may escape into a C caller; running out of memory or threads is all
        // that can throw here.
        fail(KPLPRC_ERR_DEVICE);
        return -1;
    }
}

KPLPRC_API int KPLPRC_CALL KpLPRClient_RestorePart(KPLPRC_HANDLE handle) {
    try {
        return restart("KpLPRClient_RestorePart", handle, 1);
    } catch (...) {
        // Nothing may escape into a C caller; running out of memory or threads is all
        // that can throw here.
        fail(KPLPRC_ERR_DEVICE);
        return -1;
    }
}

KPLPRC_API int KPLPRC_CALL KpLPRClient_RestoreFull(KPLPRC_HANDLE handle) {
    try {
        return restart("KpLPRClient_RestoreFull", handle, 2);
    } catch (...) {
        // Nothing may escape into a C caller; running out of memory or threads is all
        // that can throw here.
        fail(KPLPRC_ERR_DEVICE);
        return -1;
    }
}

// ---- Firmware ------------------------------------------------------------------------------

KPLPRC_API int KPLPRC_CALL KpLPRClient_Update(KPLPRC_HANDLE handle, const char* path) {
    try {
        if (path == nullptr || *path == '\0') return fail(KPLPRC_ERR_PARAMETER);
        std::string family;
        int code = onSession("KpLPRClient_Update", handle, [&](Session&, Camera& c) {
            Network::instance().advanceUpgrade(c);
            if (c.upgrading() || c.booting) return KPLPRC_ERR_BUSY;
            family = c.family->name;
            return KPLPRC_ERR_NONE;
        });
        if (code != 0) return code;

        bool any_readable = false;
        FirmwarePackage chosen;
        bool found = false;
        for (const std::string& one : splitPaths(path)) {
            std::string content;
            bool too_large = false;
            if (!readFile(one.c_str(), content, kFirmwareMaxSize, &too_large)) {
                any_readable = any_readable || too_large;  // readable, but no package of ours
                continue;
            }
            any_readable = true;
            FirmwarePackage package;
            if (parseFirmwarePackage(content, package) && package.family == family) {
                chosen = package;
                found = true;
                break;
            }
        }
        if (!found) return fail(any_readable ? KPLPRC_ERR_PACKAGE : KPLPRC_ERR_FILE);

        Network& n = Network::instance();
        auto lk = n.lock();
        Session* s = n.findSession(handle);
        if (s == nullptr) return fail(KPLPRC_ERR_INVALID_HANDLE);
        if (!s->alive) return fail(KPLPRC_ERR_SESSION_LOST);
        Camera& c = n.cameras()[static_cast<size_t>(s->camera)];
        if (c.upgrading()) return fail(KPLPRC_ERR_BUSY);
        Upgrade& u = c.upgrade;
        u = Upgrade{};
        u.version = chosen.version;
        const std::string& installed = c.pending_firmware.empty() ? c.firmware : c.pending_firmware;
        if (chosen.version == installed && chosen.image_intact) {
            u.state = KP_UPDATE_STATE_SAME_VERSION;
            return succeed();
        }
        u.state = KP_UPDATE_STATE_RUNNING;
        u.start = Clock::now();
        u.duration_ms = n.timing(Timing::Upgrade);
        u.damaged = !chosen.image_intact;
        return succeed();
    } catch (...) {
        // Nothing may escape into a C caller; running out of memory or threads is all
        // that can throw here.
        fail(KPLPRC_ERR_DEVICE);
        return -1;
    }
}

KPLPRC_API int KPLPRC_CALL KpLPRClient_StopUpdate(KPLPRC_HANDLE handle) {
    try {
        return onSession("KpLPRClient_StopUpdate", handle, [&](Session&, Camera& c) {
            Network& n = Network::instance();
            const int progress = n.upgradeProgress(c);
            if (!c.upgrading()) return KPLPRC_ERR_PARAMETER;
            c.upgrade.state = KP_UPDATE_STATE_CANCELLED;
            c.upgrade.cancelled_progress = progress;
            return KPLPRC_ERR_NONE;
        });
    } catch (...) {
        // Nothing may escape into a C caller; running out of memory or threads is all
        // that can throw here.
        fail(KPLPRC_ERR_DEVICE);
        return -1;
    }
}

KPLPRC_API int KPLPRC_CALL KpLPRClient_GetUpdateState(KPLPRC_HANDLE handle) {
    try {
        int state = KP_UPDATE_STATE_FAILED;
        // A session that is gone reports the upgrade as failed, so that a caller polling until the
        // state settles never polls forever.
        int code = onSession("KpLPRClient_GetUpdateState", handle, [&](Session&, Camera& c) {
            Network::instance().advanceUpgrade(c);
            state = c.upgrade.state;
            return KPLPRC_ERR_NONE;
        });
        return code == 0 ? state : KP_UPDATE_STATE_FAILED;
    } catch (...) {
        // Nothing may escape into a C caller; running out of memory or threads is all
        // that can throw here.
        fail(KPLPRC_ERR_DEVICE);
        return -1;
    }
}

KPLPRC_API int KPLPRC_CALL KpLPRClient_GetUpdateProgress(KPLPRC_HANDLE handle) {
    try {
        int progress = -1;
        int code = onSession("KpLPRClient_GetUpdateProgress", handle, [&](Session&, Camera& c) {
            progress = Network::instance().upgradeProgress(c);
            return KPLPRC_ERR_NONE;
        });
        return code == 0 ? progress : -1;
    } catch (...) {
        // Nothing may escape into a C caller; running out of memory or threads is all
        // that can throw here.
        fail(KPLPRC_ERR_DEVICE);
        return -1;
    }
}

// ---- Parameters ----------------------------------------------------------------------------

KPLPRC_API int KPLPRC_CALL KpLPRClient_GetConfig(KPLPRC_HANDLE handle, unsigned int command, int channel,
                                                 void* buffer, unsigned int buffer_size) {
    try {
        if (command != KP_GET_IMPORT_PARAM_ABILITY_EX) return fail(KPLPRC_ERR_NOT_SUPPORTED);
        if (channel != 0 || buffer == nullptr || buffer_size < sizeof(KP_PARAM_IMPORT_ABILITY_V2)) {
            return fail(KPLPRC_ERR_PARAMETER);
        }
        return onSession("KpLPRClient_GetConfig", handle, [&](Session&, Camera& c) {
            fillAbility(c, *static_cast<KP_PARAM_IMPORT_ABILITY_V2*>(buffer));
            return KPLPRC_ERR_NONE;
        });
    } catch (...) {
        // Nothing may escape into a C caller; running out of memory or threads is all
        // that can throw here.
        fail(KPLPRC_ERR_DEVICE);
        return -1;
    }
}

KPLPRC_API int KPLPRC_CALL KpLPRClient_ParaExportV2(KPLPRC_HANDLE handle,
                                                    const KP_PARAM_IMPORT_ABILITY_V2* ability,
                                                    const char* path) {
    try {
        if (ability == nullptr || path == nullptr || *path == '\0' || !abilityIsSane(*ability)) {
            return fail(KPLPRC_ERR_PARAMETER);
        }
        std::string content;
        int code = onSession("KpLPRClient_ParaExportV2", handle, [&](Session&, Camera& c) {
            content = exportParams(c, *ability);
            return KPLPRC_ERR_NONE;
        });
        if (code != 0) return code;
        return writeFile(path, content) ? succeed() : fail(KPLPRC_ERR_FILE);
    } catch (...) {
        // Nothing may escape into a C caller; running out of memory or threads is all
        // that can throw here.
        fail(KPLPRC_ERR_DEVICE);
        return -1;
    }
}

KPLPRC_API int KPLPRC_CALL KpLPRClient_ParaImportV2(KPLPRC_HANDLE handle, const char* path) {
    try {
        if (path == nullptr || *path == '\0') return fail(KPLPRC_ERR_PARAMETER);
        const Family* family = nullptr;
        int code = onSession("KpLPRClient_ParaImportV2", handle, [&](Session&, Camera& c) {
            family = c.family;
            return KPLPRC_ERR_NONE;
        });
        if (code != 0) return code;
        std::string content;
        bool too_large = false;
        if (!readFile(path, content, 1u << 20, &too_large)) {
            return fail(too_large ? KPLPRC_ERR_FORMAT : KPLPRC_ERR_FILE);
        }
        std::vector<ParamChange> changes;
        if (!parseParamFile(content, *family, changes)) return fail(KPLPRC_ERR_FORMAT);
        Network& n = Network::instance();
        auto lk = n.lock();
        Session* s = n.findSession(handle);
        if (s == nullptr) return fail(KPLPRC_ERR_INVALID_HANDLE);
        if (!s->alive) return fail(KPLPRC_ERR_SESSION_LOST);
        Camera& c = n.cameras()[static_cast<size_t>(s->camera)];
        for (const ParamChange& ch : changes) c.values[ch.group][ch.item] = ch.value;
        return succeed();
    } catch (...) {
        // Nothing may escape into a C caller; running out of memory or threads is all
        // that can throw here.
        fail(KPLPRC_ERR_DEVICE);
        return -1;
    }
}

// ---- Face cameras --------------------------------------------------------------------------

KPLPRC_API int KPLPRC_CALL KpLPRClient_FaceUploadLogo(KPLPRC_HANDLE handle, const char* path) {
    try {
        return upload("KpLPRClient_FaceUploadLogo", handle, path, Upload::Logo);
    } catch (...) {
        // Nothing may escape into a C caller; running out of memory or threads is all
        // that can throw here.
        fail(KPLPRC_ERR_DEVICE);
        return -1;
    }
}

KPLPRC_API int KPLPRC_CALL KpLPRClient_FaceUploadBg(KPLPRC_HANDLE handle, const char* path) {
    try {
        return upload("KpLPRClient_FaceUploadBg", handle, path, Upload::Background);
    } catch (...) {
        // Nothing may escape into a C caller; running out of memory or threads is all
        // that can throw here.
        fail(KPLPRC_ERR_DEVICE);
        return -1;
    }
}

KPLPRC_API int KPLPRC_CALL KpLPRClient_FaceUploadCss(KPLPRC_HANDLE handle, const char* path) {
    try {
        return upload("KpLPRClient_FaceUploadCss", handle, path, Upload::Css);
    } catch (...) {
        // Nothing may escape into a C caller; running out of memory or threads is all
        // that can throw here.
        fail(KPLPRC_ERR_DEVICE);
        return -1;
    }
}

// ---- Live video ----------------------------------------------------------------------------

KPLPRC_API int KPLPRC_CALL KpLPRClient_StartRealPlay(KPLPRC_HANDLE handle, void* window) {
    try {
        uint64_t session = 0;
        int camera = -1;
        uint64_t generation = 0;
        int code = onSession("KpLPRClient_StartRealPlay", handle, [&](Session& s, Camera& c) {
            session = s.id;
            camera = c.index;
            generation = Network::instance().loadGeneration();
            return KPLPRC_ERR_NONE;
        });
        if (code != 0) return KPLPRC_FIALURE;
        auto play = std::make_shared<LivePlay>(
            session, camera, generation, static_cast<unsigned long>(reinterpret_cast<uintptr_t>(window)));
        play->start();
        Network& n = Network::instance();
        auto lk = n.lock();
        Session* s = n.findSession(handle);
        if (s == nullptr || n.loadGeneration() != generation) {
            lk.unlock();
            play->stop();
            fail(KPLPRC_ERR_INVALID_HANDLE);
            return KPLPRC_FIALURE;
        }
        const int play_handle = n.addPlay(std::move(play));
        succeed();
        return play_handle;
    } catch (...) {
        // Nothing may escape into a C caller; running out of memory or threads is all
        // that can throw here.
        fail(KPLPRC_ERR_DEVICE);
        return -1;
    }
}

KPLPRC_API int KPLPRC_CALL KpLPRClient_StopRealPlay(int play_handle) {
    try {
        Network& n = Network::instance();
        if (!n.isSetup()) return fail(KPLPRC_ERR_NOT_SETUP);
        std::shared_ptr<LivePlay> play;
        {
            auto lk = n.lock();
            play = n.takePlay(play_handle);
        }
        if (play == nullptr) return fail(KPLPRC_ERR_INVALID_HANDLE);
        play->stop();
        auto lk = n.lock();
        if (play->generation() == n.loadGeneration()) {
            n.cameras()[static_cast<size_t>(play->camera())].frames_finished += play->frames();
        }
        return succeed();
    } catch (...) {
        // Nothing may escape into a C caller; running out of memory or threads is all
        // that can throw here.
        fail(KPLPRC_ERR_DEVICE);
        return -1;
    }
}

// ---- Network -------------------------------------------------------------------------------

KPLPRC_API int KPLPRC_CALL KpLPRClient_UpdateNetworkParam(unsigned int serial_high, unsigned int serial_low,
                                                          const char* ip, const char* gateway,
                                                          const char* netmask) {
    try {
        Network& n = Network::instance();
        if (!n.isSetup()) return fail(KPLPRC_ERR_NOT_SETUP);
        uint32_t address = 0, gw = 0, mask = 0;
        if (ip == nullptr || gateway == nullptr || netmask == nullptr || !isIpv4(ip, &address) ||
            !isIpv4(gateway, &gw) || !isNetmask(netmask)) {
            return fail(KPLPRC_ERR_PARAMETER);
        }
        isIpv4(netmask, &mask);
        // The address must be a host of its subnet, and the gateway another host of the same one.
        const uint32_t host = address & ~mask;
        if (host == 0 || host == ~mask || (gw & mask) != (address & mask) || gw == address ||
            (gw & ~mask) == 0 || (gw & ~mask) == ~mask || (address >> 24) == 0 || (address >> 24) == 127 ||
            (address >> 24) >= 224) {
            return fail(KPLPRC_ERR_PARAMETER);
        }
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
        c->gateway = gateway;
        c->netmask = netmask;
        n.dropSessions(*c, KP_LPRC_NOTIFY_OFFLINE);
        n.startRestart(*c, kNetworkRestartMs, false);
        return succeed();
    } catch (...) {
        // Nothing may escape into a C caller; running out of memory or threads is all
        // that can throw here.
        fail(KPLPRC_ERR_DEVICE);
        return -1;
    }
}

// ---- Information ---------------------------------------------------------------------------

KPLPRC_API int KPLPRC_CALL KpLPRClient_GetHwInfoEx(const char* ip, int port, KPLPRC_HWINFO_EX* info) {
    try {
        Network& n = Network::instance();
        if (!n.isSetup()) return fail(KPLPRC_ERR_NOT_SETUP);
        if (ip == nullptr || info == nullptr || !isIpv4(ip)) return fail(KPLPRC_ERR_PARAMETER);
        wait(n, Timing::Call);
        auto lk = n.lock();
        Camera* c = nullptr;
        int code = reach(n, lk, ip, port, "KpLPRClient_GetHwInfoEx", c);
        if (code != KPLPRC_ERR_NONE) return fail(code);
        std::memset(info, 0, sizeof *info);
        copyText(info->ip, sizeof info->ip, c->ip);
        copyText(info->netmask, sizeof info->netmask, c->netmask);
        copyText(info->gateway, sizeof info->gateway, c->gateway);
        copyText(info->mac, sizeof info->mac, c->mac);
        char serial[32];
        std::snprintf(serial, sizeof serial, "%08x-%08x", c->serial_high, c->serial_low);
        copyText(info->serial, sizeof info->serial, serial);
        copyText(info->model, sizeof info->model, c->family->name);
        copyText(info->firmware, sizeof info->firmware, c->firmware);
        copyText(info->boot_time, sizeof info->boot_time, c->boot_time);
        info->port = c->port;
        info->device_type = c->family->device_type;
        info->lens_code = c->lens_code;
        info->hardware_index = c->family->hardware_index;
        info->serial_high = c->serial_high;
        info->serial_low = c->serial_low;
        return succeed();
    } catch (...) {
        // Nothing may escape into a C caller; running out of memory or threads is all
        // that can throw here.
        fail(KPLPRC_ERR_DEVICE);
        return -1;
    }
}

KPLPRC_API int KPLPRC_CALL KpLPRClient_GetHwInfo(KPLPRC_HANDLE handle, int* kind, char* mac, char* serial,
                                                 int* lens_code, unsigned char* block) {
    try {
        return onSession("KpLPRClient_GetHwInfo", handle, [&](Session&, Camera& c) {
            if (kind) *kind = c.family->device_type;
            if (mac) copyText(mac, KPLPRC_HWINFO_TEXT_LEN, c.mac);
            if (serial) {
                char text[32];
                std::snprintf(text, sizeof text, "%08x-%08x", c.serial_high, c.serial_low);
                copyText(serial, KPLPRC_HWINFO_TEXT_LEN, text);
            }
            if (lens_code) *lens_code = c.lens_code;
            if (block) {
                std::memset(block, 0, KPLPRC_HWINFO_BLOCK_LEN);
                int major = 0, minor = 0;
                std::sscanf(c.family->board_version, "H%d.%d", &major, &minor);
                block[KPLPRC_HWBLOCK_BOARD_MAJOR] = static_cast<unsigned char>(major);
                block[KPLPRC_HWBLOCK_BOARD_MINOR] = static_cast<unsigned char>(minor);
                block[KPLPRC_HWBLOCK_SENSOR] = c.family->sensor_code;
                block[KPLPRC_HWBLOCK_HARDWARE_INDEX] = static_cast<unsigned char>(c.family->hardware_index);
            }
            return KPLPRC_ERR_NONE;
        });
    } catch (...) {
        // Nothing may escape into a C caller; running out of memory or threads is all
        // that can throw here.
        fail(KPLPRC_ERR_DEVICE);
        return -1;
    }
}

KPLPRC_API int KPLPRC_CALL KpLPRClient_GetSerialNumber(KPLPRC_HANDLE handle, unsigned int* serial_high,
                                                       unsigned int* serial_low) {
    try {
        if (serial_high == nullptr || serial_low == nullptr) return fail(KPLPRC_ERR_PARAMETER);
        return onSession("KpLPRClient_GetSerialNumber", handle, [&](Session&, Camera& c) {
            *serial_high = c.serial_high;
            *serial_low = c.serial_low;
            return KPLPRC_ERR_NONE;
        });
    } catch (...) {
        // Nothing may escape into a C caller; running out of memory or threads is all
        // that can throw here.
        fail(KPLPRC_ERR_DEVICE);
        return -1;
    }
}

KPLPRC_API int KPLPRC_CALL KpLPRClient_GetHwBoardVersion(KPLPRC_HANDLE handle, int board,
                                                         unsigned char* version) {
    try {
        if (version == nullptr || board < 0 || board > 1) return fail(KPLPRC_ERR_PARAMETER);
        return onSession("KpLPRClient_GetHwBoardVersion", handle, [&](Session&, Camera& c) {
            std::memset(version, 0, KPLPRC_BOARD_VERSION_LEN);
            copyText(reinterpret_cast<char*>(version), KPLPRC_BOARD_VERSION_LEN,
                     board == 0 ? c.family->board_version : c.family->sensor_board_version);
            return KPLPRC_ERR_NONE;
        });
    } catch (...) {
        // Nothing may escape into a C caller; running out of memory or threads is all
        // that can throw here.
        fail(KPLPRC_ERR_DEVICE);
        return -1;
    }
}

KPLPRC_API int KPLPRC_CALL KpLPRClient_GetRemoteSoftWareVersion(KPLPRC_HANDLE handle, int* major, int* minor,
                                                                int* revision, int* build) {
    try {
        if (major == nullptr || minor == nullptr || revision == nullptr || build == nullptr) {
            return fail(KPLPRC_ERR_PARAMETER);
        }
        return onSession("KpLPRClient_GetRemoteSoftWareVersion", handle, [&](Session&, Camera& c) {
            return std::sscanf(c.firmware.c_str(), "%d.%d.%d.%d", major, minor, revision, build) == 4
                       ? KPLPRC_ERR_NONE
                       : KPLPRC_ERR_DEVICE;
        });
    } catch (...) {
        // Nothing may escape into a C caller; running out of memory or threads is all
        // that can throw here.
        fail(KPLPRC_ERR_DEVICE);
        return -1;
    }
}

KPLPRC_API int KPLPRC_CALL KpLPRClient_GetSystemVersion(KPLPRC_HANDLE handle, char* version) {
    try {
        if (version == nullptr) return fail(KPLPRC_ERR_PARAMETER);
        return onSession("KpLPRClient_GetSystemVersion", handle, [&](Session&, Camera& c) {
            copyText(version, KPLPRC_SYSTEM_VERSION_LEN, c.firmware);
            return KPLPRC_ERR_NONE;
        });
    } catch (...) {
        // Nothing may escape into a C caller; running out of memory or threads is all
        // that can throw here.
        fail(KPLPRC_ERR_DEVICE);
        return -1;
    }
}

KPLPRC_API int KPLPRC_CALL KpLPRClient_GetNetConfig(KPLPRC_HANDLE handle, KPLPRC_NET_CONFIG* config) {
    try {
        if (config == nullptr) return fail(KPLPRC_ERR_PARAMETER);
        return onSession("KpLPRClient_GetNetConfig", handle, [&](Session&, Camera& c) {
            std::memset(config, 0, sizeof *config);
            copyText(config->ip, sizeof config->ip, c.ip);
            copyText(config->netmask, sizeof config->netmask, c.netmask);
            copyText(config->gateway, sizeof config->gateway, c.gateway);
            copyText(config->dns, sizeof config->dns, c.dns);
            copyText(config->mac, sizeof config->mac, c.mac);
            config->port = c.port;
            return KPLPRC_ERR_NONE;
        });
    } catch (...) {
        // Nothing may escape into a C caller; running out of memory or threads is all
        // that can throw here.
        fail(KPLPRC_ERR_DEVICE);
        return -1;
    }
}

KPLPRC_API int KPLPRC_CALL KpLPRClient_SetIoOutput(KPLPRC_HANDLE handle, int channel, int output, int level) {
    try {
        if (channel != 0 || output < 0 || output > 3 || (level != 0 && level != 1)) {
            return fail(KPLPRC_ERR_PARAMETER);
        }
        return onSession("KpLPRClient_SetIoOutput", handle, [&](Session&, Camera& c) {
            c.io[output] = level;
            return KPLPRC_ERR_NONE;
        });
    } catch (...) {
        // Nothing may escape into a C caller; running out of memory or threads is all
        // that can throw here.
        fail(KPLPRC_ERR_DEVICE);
        return -1;
    }
}

}  // extern "C"
