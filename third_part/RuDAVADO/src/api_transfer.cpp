// Firmware, parameter files and face-camera uploads: the calls that read or write files.
#include <cstring>

#include "RuDAVADO.h"
#include "api_support.h"
#include "firmware.h"
#include "param_file.h"

using namespace rudavado;

namespace {

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

// ---- Firmware ------------------------------------------------------------------------------

KPLPRC_API int KPLPRC_CALL KpLPRClient_Update(KPLPRC_HANDLE handle, const char* path) {
    return guarded(-1, [&]() -> int {
        RUDAVADO_DISPATCH(update(handle, path));
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
        n.armLinkDrop(c);
        return succeed();
    });
}

KPLPRC_API int KPLPRC_CALL KpLPRClient_StopUpdate(KPLPRC_HANDLE handle) {
    return guarded(-1, [&]() -> int {
        RUDAVADO_DISPATCH(stopUpdate(handle));
        return onSession("KpLPRClient_StopUpdate", handle, [&](Session&, Camera& c) {
            Network& n = Network::instance();
            const int progress = n.upgradeProgress(c);
            if (!c.upgrading()) return KPLPRC_ERR_PARAMETER;
            c.upgrade.state = KP_UPDATE_STATE_CANCELLED;
            c.upgrade.cancelled_progress = progress;
            return KPLPRC_ERR_NONE;
        });
    });
}

KPLPRC_API int KPLPRC_CALL KpLPRClient_GetUpdateState(KPLPRC_HANDLE handle) {
    return guarded(-1, [&]() -> int {
        RUDAVADO_DISPATCH(getUpdateState(handle));
        int state = KP_UPDATE_STATE_FAILED;
        // A session that is gone reports the upgrade as failed, so that a caller polling until the
        // state settles never polls forever.
        int code = onSession("KpLPRClient_GetUpdateState", handle, [&](Session&, Camera& c) {
            Network::instance().advanceUpgrade(c);
            state = c.upgrade.state;
            return KPLPRC_ERR_NONE;
        });
        return code == 0 ? state : KP_UPDATE_STATE_FAILED;
    });
}

KPLPRC_API int KPLPRC_CALL KpLPRClient_GetUpdateProgress(KPLPRC_HANDLE handle) {
    return guarded(-1, [&]() -> int {
        RUDAVADO_DISPATCH(getUpdateProgress(handle));
        int progress = -1;
        int code = onSession("KpLPRClient_GetUpdateProgress", handle, [&](Session&, Camera& c) {
            progress = Network::instance().upgradeProgress(c);
            return KPLPRC_ERR_NONE;
        });
        return code == 0 ? progress : -1;
    });
}

// ---- Parameters ----------------------------------------------------------------------------

KPLPRC_API int KPLPRC_CALL KpLPRClient_GetConfig(KPLPRC_HANDLE handle, unsigned int command, int channel,
                                                 void* buffer, unsigned int buffer_size) {
    return guarded(-1, [&]() -> int {
        RUDAVADO_DISPATCH(getConfig(handle, command, channel, buffer, buffer_size));
        if (command != KP_GET_IMPORT_PARAM_ABILITY_EX) return fail(KPLPRC_ERR_NOT_SUPPORTED);
        if (channel != 0 || buffer == nullptr || buffer_size < sizeof(KP_PARAM_IMPORT_ABILITY_V2)) {
            return fail(KPLPRC_ERR_PARAMETER);
        }
        return onSession("KpLPRClient_GetConfig", handle, [&](Session&, Camera& c) {
            fillAbility(c, *static_cast<KP_PARAM_IMPORT_ABILITY_V2*>(buffer));
            return KPLPRC_ERR_NONE;
        });
    });
}

KPLPRC_API int KPLPRC_CALL KpLPRClient_ParaExportV2(KPLPRC_HANDLE handle,
                                                    const KP_PARAM_IMPORT_ABILITY_V2* ability,
                                                    const char* path) {
    return guarded(-1, [&]() -> int {
        RUDAVADO_DISPATCH(paraExportV2(handle, ability, path));
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
    });
}

KPLPRC_API int KPLPRC_CALL KpLPRClient_ParaImportV2(KPLPRC_HANDLE handle, const char* path) {
    return guarded(-1, [&]() -> int {
        RUDAVADO_DISPATCH(paraImportV2(handle, path));
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
    });
}

// ---- Face cameras --------------------------------------------------------------------------

KPLPRC_API int KPLPRC_CALL KpLPRClient_FaceUploadLogo(KPLPRC_HANDLE handle, const char* path) {
    return guarded(-1, [&]() -> int {
        RUDAVADO_DISPATCH(faceUpload(handle, path));
        return upload("KpLPRClient_FaceUploadLogo", handle, path, Upload::Logo);
    });
}

KPLPRC_API int KPLPRC_CALL KpLPRClient_FaceUploadBg(KPLPRC_HANDLE handle, const char* path) {
    return guarded(-1, [&]() -> int {
        RUDAVADO_DISPATCH(faceUpload(handle, path));
        return upload("KpLPRClient_FaceUploadBg", handle, path, Upload::Background);
    });
}

KPLPRC_API int KPLPRC_CALL KpLPRClient_FaceUploadCss(KPLPRC_HANDLE handle, const char* path) {
    return guarded(-1, [&]() -> int {
        RUDAVADO_DISPATCH(faceUpload(handle, path));
        return upload("KpLPRClient_FaceUploadCss", handle, path, Upload::Css);
    });
}

}  // extern "C"
