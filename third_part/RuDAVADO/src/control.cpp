// The control interface of the simulated network (RuDAVADO_control.h).
#include <cstring>
#include <string>

#include "RuDAVADO_control.h"
#include "api_support.h"
#include "live_video.h"
#include "network.h"
#include "util.h"

using namespace rudavado;

namespace {

Camera* cameraAt(Network& n, int index) {
    if (index < 0 || static_cast<size_t>(index) >= n.cameras().size()) return nullptr;
    return &n.cameras()[static_cast<size_t>(index)];
}

// A control call on one camera: the network loaded, its lock held, the camera found; -1 for an
// unknown camera, and no exception crosses the interface.
template <typename Body>
int withCamera(int camera, Body&& body) {
    return guarded<int>(-1, [&]() -> int {
        Network& n = Network::instance();
        n.ensureLoaded();
        auto lk = n.lock();
        Camera* c = cameraAt(n, camera);
        return c == nullptr ? -1 : body(n, *c);
    });
}

int loadText(const std::string& text) {
    std::string error;
    if (!Network::instance().load(text, error)) {
        setLoadError(error);
        return -1;
    }
    setLoadError("");
    return 0;
}

}  // namespace

extern "C" {

KPLPRC_API int RuDAVADO_LoadScenarioFile(const char* path) {
    return guarded(-1, [&] {
        std::string text, error;
        if (!readScenarioFile(path, text, error)) {
            setLoadError(std::string("cannot read ") + (path != nullptr ? path : "") + ": " + error);
            return -1;
        }
        return loadText(text);
    });
}

KPLPRC_API int RuDAVADO_LoadScenarioText(const char* json_text) {
    return guarded(-1, [&] {
        if (json_text == nullptr) {
            setLoadError("no text");
            return -1;
        }
        return loadText(json_text);
    });
}

KPLPRC_API int RuDAVADO_LoadDefaultScenario(void) {
    return guarded(-1, [&] { return loadText(defaultScenarioText()); });
}

// A copy per thread, so that the text stays valid while another thread fails a load.
KPLPRC_API const char* RuDAVADO_LastLoadError(void) {
    thread_local std::string copy;
    return guarded<const char*>("", [&] {
        // The first scenario's error is known once it has been read.
        Network::instance().awaitLoad();
        copy = lastLoadError();
        return copy.c_str();
    });
}

KPLPRC_API const char* RuDAVADO_DefaultScenarioText(void) { return defaultScenarioText(); }

KPLPRC_API int RuDAVADO_CameraCount(void) {
    return guarded<int>(-1, [&]() -> int {
        Network& n = Network::instance();
        n.ensureLoaded();
        auto lk = n.lock();
        return static_cast<int>(n.cameras().size());
    });
}

KPLPRC_API int RuDAVADO_FindCamera(const char* ip) {
    return guarded<int>(-1, [&]() -> int {
        if (ip == nullptr) return -1;
        Network& n = Network::instance();
        n.ensureLoaded();
        auto lk = n.lock();
        Camera* c = n.cameraByIp(ip);
        return c == nullptr ? -1 : c->index;
    });
}

KPLPRC_API int RuDAVADO_SetPower(int camera, int on) {
    return withCamera(camera, [&](Network& n, Camera& c) -> int {
        if (on) {
            n.powerOn(c);
        } else {
            n.powerOff(c);
        }
        return 0;
    });
}

KPLPRC_API int RuDAVADO_SetLinked(int camera, int linked) {
    return withCamera(camera, [&](Network& n, Camera& c) -> int {
        n.setLinked(c, linked != 0);
        return 0;
    });
}

KPLPRC_API int RuDAVADO_StayDownAfterRestart(int camera, int on) {
    return withCamera(camera, [&](Network&, Camera& c) -> int {
        c.stay_down = on != 0;
        return 0;
    });
}

KPLPRC_API int RuDAVADO_DropLinkDuringUpgrade(int camera, int percent) {
    if (percent > 100) return -1;
    return withCamera(camera, [&](Network&, Camera& c) -> int {
        c.drop_at_next_upgrade = percent < 0 ? -1 : percent;
        return 0;
    });
}

KPLPRC_API int RuDAVADO_StallUpgrade(int camera, int percent) {
    if (percent > 99) return -1;
    return withCamera(camera, [&](Network&, Camera& c) -> int {
        c.stall_at_next_upgrade = percent < 0 ? -1 : percent;
        return 0;
    });
}

KPLPRC_API int RuDAVADO_SetTiming(const char* name, double milliseconds) {
    return guarded<int>(-1, [&]() -> int {
        Timing t;
        if (!timingByName(name, t)) return -1;
        Network& n = Network::instance();
        n.ensureLoaded();
        auto lk = n.lock();
        n.setTiming(t, milliseconds);
        return 0;
    });
}

KPLPRC_API double RuDAVADO_GetTiming(const char* name) {
    return guarded<double>(-1.0, [&]() -> double {
        Timing t;
        if (!timingByName(name, t)) return -1;
        Network& n = Network::instance();
        n.ensureLoaded();
        auto lk = n.lock();
        return n.timing(t);
    });
}

KPLPRC_API int RuDAVADO_FailNext(const char* operation, int camera, int count) {
    return guarded<int>(-1, [&]() -> int {
        if (operation == nullptr || count < 0) return -1;
        Network& n = Network::instance();
        n.ensureLoaded();
        auto lk = n.lock();
        if (camera >= 0 && cameraAt(n, camera) == nullptr) return -1;
        n.addFault(operation, camera < 0 ? -1 : camera, count);
        return 0;
    });
}

KPLPRC_API void RuDAVADO_ClearFaults(void) {
    guarded(0, [&]() -> int {
        Network& n = Network::instance();
        auto lk = n.lock();
        n.clearFaults();
        return 0;
    });
}

KPLPRC_API int RuDAVADO_GetCameraState(int camera, RuDAVADO_CameraState* state) {
    if (state == nullptr) return -1;
    return withCamera(camera, [&](Network& n, Camera& c) -> int {
        std::memset(state, 0, sizeof *state);
        copyText(state->name, sizeof state->name, c.name);
        copyText(state->ip, sizeof state->ip, c.ip);
        copyText(state->netmask, sizeof state->netmask, c.netmask);
        copyText(state->gateway, sizeof state->gateway, c.gateway);
        copyText(state->mac, sizeof state->mac, c.mac);
        copyText(state->user, sizeof state->user, c.user);
        copyText(state->password, sizeof state->password, c.password);
        copyText(state->model, sizeof state->model, c.family->name);
        copyText(state->firmware, sizeof state->firmware, c.firmware);
        n.advanceUpgrade(c);
        copyText(state->pending_firmware, sizeof state->pending_firmware, c.pending_firmware);
        state->port = c.port;
        state->device_type = c.family->device_type;
        state->extended_discovery = c.extended_discovery ? 1 : 0;
        state->state = !c.powered || !c.linked ? RUDAVADO_STATE_OFFLINE
                       : c.booting             ? RUDAVADO_STATE_BOOTING
                       : c.upgrading()         ? RUDAVADO_STATE_UPGRADING
                                               : RUDAVADO_STATE_ONLINE;
        state->serial_high = c.serial_high;
        state->serial_low = c.serial_low;
        state->lens_code = c.lens_code;
        state->hardware_index = c.family->hardware_index;
        state->max_sessions = c.max_sessions;
        state->sessions = n.aliveSessions(c);
        state->boots = c.boots;
        std::time_t t = static_cast<std::time_t>(n.cameraClock(c));
        std::tm tm{};
        gmtime_r(&t, &tm);
        state->clock = KPLPRC_DATETIME{tm.tm_year, tm.tm_mon, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec};
        state->update_progress = n.upgradeProgress(c);
        state->update_state = c.upgrade.state;
        for (int i = 0; i < 4; ++i) state->io_outputs[i] = c.io[i];
        state->frames_drawn = n.liveFrames(c);
        state->plays = n.livePlays(c);
        state->logo_size = c.logo_size;
        state->background_size = c.background_size;
        state->css_size = c.css_size;
        state->uploads = c.uploads;
        state->open_handles = n.openHandles(c);
        return 0;
    });
}

KPLPRC_API int RuDAVADO_GetParam(int camera, const char* group, const char* item, char* value,
                                 int value_size) {
    if (group == nullptr || item == nullptr || value == nullptr || value_size <= 0) return -1;
    return withCamera(camera, [&](Network&, Camera& c) -> int {
        size_t g, i;
        if (!c.findParam(group, item, g, i)) return -1;
        const std::string& v = c.values[g][i];
        if (v.size() + 1 > static_cast<size_t>(value_size)) return -1;
        copyText(value, static_cast<size_t>(value_size), v);
        return 0;
    });
}

KPLPRC_API int RuDAVADO_SetParam(int camera, const char* group, const char* item, const char* value) {
    if (group == nullptr || item == nullptr || value == nullptr) return -1;
    return withCamera(camera, [&](Network&, Camera& c) -> int {
        size_t g, i;
        if (!c.findParam(group, item, g, i) || !valueFits(c.groups()[g].items[i], value)) {
            return -1;
        }
        c.values[g][i] = value;
        return 0;
    });
}

KPLPRC_API long long RuDAVADO_PlayFrames(int play_handle) {
    return guarded<long long>(-1LL, [&]() -> long long {
        Network& n = Network::instance();
        auto lk = n.lock();
        auto play = n.findPlay(play_handle);
        return play == nullptr ? -1 : play->frames();
    });
}

KPLPRC_API int RuDAVADO_PlayDraws(int play_handle) {
    return guarded<int>(-1, [&]() -> int {
        Network& n = Network::instance();
        auto lk = n.lock();
        auto play = n.findPlay(play_handle);
        return play == nullptr ? -1 : (play->draws() ? 1 : 0);
    });
}

}  // extern "C"
