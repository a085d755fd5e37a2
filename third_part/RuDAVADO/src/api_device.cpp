// Live video and the information getters.
#include <cstdio>
#include <cstring>

#include "RuDAVADO.h"
#include "api_support.h"
#include "live_video.h"

using namespace rudavado;

extern "C" {

// ---- Live video ----------------------------------------------------------------------------

KPLPRC_API int KPLPRC_CALL KpLPRClient_StartRealPlay(KPLPRC_HANDLE handle, void* window) {
    return guarded(-1, [&]() -> int {
        RUDAVADO_DISPATCH(startRealPlay(handle, window));
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
        // A clean-up or a new network that came in meanwhile has no place for this play.
        if (s == nullptr || n.loadGeneration() != generation || !n.isSetup()) {
            lk.unlock();
            play->stop();
            fail(KPLPRC_ERR_INVALID_HANDLE);
            return KPLPRC_FIALURE;
        }
        const int play_handle = n.addPlay(std::move(play));
        succeed();
        return play_handle;
    });
}

KPLPRC_API int KPLPRC_CALL KpLPRClient_StopRealPlay(int play_handle) {
    return guarded(-1, [&]() -> int {
        RUDAVADO_DISPATCH(stopRealPlay(play_handle));
        Network& n = Network::instance();
        if (!n.isSetup()) return fail(KPLPRC_ERR_NOT_SETUP);
        std::shared_ptr<LivePlay> play;
        {
            auto lk = n.lock();
            play = n.findPlay(play_handle);
            if (play == nullptr) return fail(KPLPRC_ERR_INVALID_HANDLE);
            if (n.consumeFault("KpLPRClient_StopRealPlay", play->camera())) return fail(KPLPRC_ERR_DEVICE);
            n.takePlay(play_handle);
        }
        play->stop();
        auto lk = n.lock();
        if (play->generation() == n.loadGeneration()) {
            n.cameras()[static_cast<size_t>(play->camera())].frames_finished += play->frames();
        }
        return succeed();
    });
}

// ---- Information ---------------------------------------------------------------------------

KPLPRC_API int KPLPRC_CALL KpLPRClient_GetHwInfoEx(const char* ip, int port, KPLPRC_HWINFO_EX* info) {
    return guarded(-1, [&]() -> int {
        RUDAVADO_DISPATCH(getHwInfoEx(ip, port, info));
        Network& n = Network::instance();
        if (!n.isSetup()) return fail(KPLPRC_ERR_NOT_SETUP);
        if (ip == nullptr || info == nullptr || !isIpv4(ip)) return fail(KPLPRC_ERR_PARAMETER);
        wait(n, Timing::Call);
        auto lk = n.lock();
        Camera* c = nullptr;
        int code = reach(n, lk, ip, port, "KpLPRClient_GetHwInfoEx", c);
        if (code != KPLPRC_ERR_NONE) return fail(code);
        std::memset(info, 0, sizeof *info);
        c->answerText(info->ip, sizeof info->ip, c->ip);
        c->answerText(info->netmask, sizeof info->netmask, c->netmask);
        c->answerText(info->gateway, sizeof info->gateway, c->gateway);
        c->answerText(info->mac, sizeof info->mac, c->mac);
        char serial[32];
        std::snprintf(serial, sizeof serial, "%08x-%08x", c->serial_high, c->serial_low);
        c->answerText(info->serial, sizeof info->serial, serial);
        c->answerText(info->model, sizeof info->model, c->family->name);
        c->answerText(info->firmware, sizeof info->firmware, c->firmware);
        c->answerText(info->boot_time, sizeof info->boot_time, c->boot_time);
        info->port = c->port;
        info->device_type = c->family->device_type;
        info->lens_code = c->lens_code;
        info->hardware_index = c->family->hardware_index;
        info->serial_high = c->serial_high;
        info->serial_low = c->serial_low;
        return succeed();
    });
}

KPLPRC_API int KPLPRC_CALL KpLPRClient_GetHwInfo(KPLPRC_HANDLE handle, int* kind, char* mac, char* serial,
                                                 int* lens_code, unsigned char* block) {
    return guarded(-1, [&]() -> int {
        RUDAVADO_DISPATCH(getHwInfo(handle, kind, mac, serial, lens_code, block));
        return onSession("KpLPRClient_GetHwInfo", handle, [&](Session&, Camera& c) {
            if (kind) *kind = c.family->device_type;
            if (mac) c.answerText(mac, KPLPRC_HWINFO_TEXT_LEN, c.mac);
            if (serial) {
                char text[32];
                std::snprintf(text, sizeof text, "%08x-%08x", c.serial_high, c.serial_low);
                c.answerText(serial, KPLPRC_HWINFO_TEXT_LEN, text);
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
    });
}

KPLPRC_API int KPLPRC_CALL KpLPRClient_GetSerialNumber(KPLPRC_HANDLE handle, unsigned int* serial_high,
                                                       unsigned int* serial_low) {
    return guarded(-1, [&]() -> int {
        RUDAVADO_DISPATCH(getSerialNumber(handle, serial_high, serial_low));
        if (serial_high == nullptr || serial_low == nullptr) return fail(KPLPRC_ERR_PARAMETER);
        return onSession("KpLPRClient_GetSerialNumber", handle, [&](Session&, Camera& c) {
            *serial_high = c.serial_high;
            *serial_low = c.serial_low;
            return KPLPRC_ERR_NONE;
        });
    });
}

KPLPRC_API int KPLPRC_CALL KpLPRClient_GetHwBoardVersion(KPLPRC_HANDLE handle, int board,
                                                         unsigned char* version) {
    return guarded(-1, [&]() -> int {
        RUDAVADO_DISPATCH(getHwBoardVersion(handle, board, version));
        if (version == nullptr || board < 0 || board > 1) return fail(KPLPRC_ERR_PARAMETER);
        return onSession("KpLPRClient_GetHwBoardVersion", handle, [&](Session&, Camera& c) {
            std::memset(version, 0, KPLPRC_BOARD_VERSION_LEN);
            copyText(reinterpret_cast<char*>(version), KPLPRC_BOARD_VERSION_LEN,
                     board == 0 ? c.family->board_version : c.family->sensor_board_version);
            return KPLPRC_ERR_NONE;
        });
    });
}

KPLPRC_API int KPLPRC_CALL KpLPRClient_GetRemoteSoftWareVersion(KPLPRC_HANDLE handle, int* major, int* minor,
                                                                int* revision, int* build) {
    return guarded(-1, [&]() -> int {
        RUDAVADO_DISPATCH(getRemoteSoftWareVersion(handle, major, minor, revision, build));
        if (major == nullptr || minor == nullptr || revision == nullptr || build == nullptr) {
            return fail(KPLPRC_ERR_PARAMETER);
        }
        return onSession("KpLPRClient_GetRemoteSoftWareVersion", handle, [&](Session&, Camera& c) {
            return std::sscanf(c.firmware.c_str(), "%d.%d.%d.%d", major, minor, revision, build) == 4
                       ? KPLPRC_ERR_NONE
                       : KPLPRC_ERR_DEVICE;
        });
    });
}

KPLPRC_API int KPLPRC_CALL KpLPRClient_GetSystemVersion(KPLPRC_HANDLE handle, char* version) {
    return guarded(-1, [&]() -> int {
        RUDAVADO_DISPATCH(getSystemVersion(handle, version));
        if (version == nullptr) return fail(KPLPRC_ERR_PARAMETER);
        return onSession("KpLPRClient_GetSystemVersion", handle, [&](Session&, Camera& c) {
            c.answerText(version, KPLPRC_SYSTEM_VERSION_LEN, c.firmware);
            return KPLPRC_ERR_NONE;
        });
    });
}

KPLPRC_API int KPLPRC_CALL KpLPRClient_GetNetConfig(KPLPRC_HANDLE handle, KPLPRC_NET_CONFIG* config) {
    return guarded(-1, [&]() -> int {
        RUDAVADO_DISPATCH(getNetConfig(handle, config));
        if (config == nullptr) return fail(KPLPRC_ERR_PARAMETER);
        return onSession("KpLPRClient_GetNetConfig", handle, [&](Session&, Camera& c) {
            std::memset(config, 0, sizeof *config);
            c.answerText(config->ip, sizeof config->ip, c.ip);
            c.answerText(config->netmask, sizeof config->netmask, c.netmask);
            c.answerText(config->gateway, sizeof config->gateway, c.gateway);
            c.answerText(config->dns, sizeof config->dns, c.dns);
            c.answerText(config->mac, sizeof config->mac, c.mac);
            config->port = c.port;
            return KPLPRC_ERR_NONE;
        });
    });
}

KPLPRC_API int KPLPRC_CALL KpLPRClient_SetIoOutput(KPLPRC_HANDLE handle, int channel, int output, int level) {
    return guarded(-1, [&]() -> int {
        RUDAVADO_DISPATCH(setIoOutput(handle, channel, output, level));
        if (channel != 0 || output < 0 || output > 3 || (level != 0 && level != 1)) {
            return fail(KPLPRC_ERR_PARAMETER);
        }
        return onSession("KpLPRClient_SetIoOutput", handle, [&](Session&, Camera& c) {
            c.io[output] = level;
            return KPLPRC_ERR_NONE;
        });
    });
}

}  // extern "C"
