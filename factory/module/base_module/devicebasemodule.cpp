#include "devicebasemodule.h"

#include <windows.h>

#include <chrono>
#include <cstdio>
#include <ctime>

#include "assert_return.h"
#include "kp_platform.h"
#include "logging.h"

namespace factory {

namespace {

bool ReadLocalTime(std::tm* out) {
    std::time_t now = std::time(nullptr);
    return localtime_s(out, &now) == 0;
}

// A poll that shows the package being written: anything else (idle, an unknown code, or a
// progress read the library refuses) means the camera is not telling us how it goes.
bool IsUpgradeAnswer(int state, int percent) {
    return state == KP_UPDATE_STATE_RUNNING && percent >= 0 && percent <= 100;
}

}  // namespace

bool devicebasemodule::Login(std::string ip, int port, std::string user, std::string password,
                             std::string& message) {
    MODULE_GUARD_FALSE();
    if (sdk_->SDK_Open(ip, port, user, password)) {
        message = "设备登陆成功 设备型号";
        return true;
    }
    message = "设备登陆失败";
    return false;
}

bool devicebasemodule::Logout(std::string& message) {
    MODULE_GUARD_FALSE();
    message = "登出成功";
    return sdk_->SDK_Close();
}

bool devicebasemodule::SetPassword(std::string password, std::string& message) {
    MODULE_GUARD_FALSE();
    if (sdk_->SDK_SetLoginAccount(password)) {
        message = kPasswordSet;
        return true;
    }
    message = "设置密码失败";
    return false;
}

bool devicebasemodule::Reboot() {
    MODULE_GUARD_FALSE();
    return sdk_->SDK_RebootDevice();
}

bool devicebasemodule::Restore(unsigned int kind, std::string& message) {
    MODULE_GUARD_FALSE();
    if (sdk_->SDK_Restore(kind)) {
        Sleep(2000);
        message = "恢复出厂成功";
        return true;
    }
    message = "恢复出厂失败";
    return false;
}

bool devicebasemodule::SetTime(std::string& message) {
    MODULE_GUARD_FALSE();
    std::tm local = {};
    bool ok = ReadLocalTime(&local);
    if (ok) {
        KPLPRC_DATETIME time = {local.tm_year, local.tm_mon, local.tm_mday,
                                local.tm_hour, local.tm_min, local.tm_sec};
        ok = sdk_->SDK_SetDeviceTime(&time);
    }
    message = ok ? "时间设置成功" : "时间设置失败";
    return ok;
}

bool devicebasemodule::ModifyIp(unsigned int serial_high, unsigned int serial_low, std::string ip,
                                std::string gateway, std::string mask, std::string& message) {
    if (!CheckCall("KpLPRClient_UpdateNetworkParam",
                   KpLPRClient_UpdateNetworkParam(serial_high, serial_low, ip.c_str(), gateway.c_str(),
                                                  mask.c_str()))) {
        message = "修改ip失败";
        return false;
    }
    message = "修改ip成功";
    return true;
}

bool devicebasemodule::UpdateDevice(std::string path, std::string& message, const UpdateCallback& callback) {
    std::fputs("UpdateDevice \n", stdout);
    MODULE_GUARD_FALSE();
    if (!sdk_->SDK_Update(path)) {
        message = "升级包不支持";
        return false;
    }
    Sleep(2000);

    // A camera that dies or hangs mid-upgrade would otherwise keep this worker polling forever;
    // one whose percentage moves, however slowly, is never cut short.
    using clock = std::chrono::steady_clock;
    const auto no_answer_limit = std::chrono::microseconds(kp::scaledMicroseconds(kUpdateNoAnswerLimitMs));
    clock::time_point last_move = clock::now();
    // Only a percentage beyond every earlier one is progress: one that goes back and forth
    // (41, 42, 41, ...) changes on every poll while the write goes nowhere.
    int highest_percent = -1;

    bool ok = false;
    for (;;) {
        int state = sdk_->SDK_GetUpdateState();
        KPES_LOG(kpes::LS_ERROR) << "status: " << state;
        if (state == KP_UPDATE_STATE_DONE || state == KP_UPDATE_STATE_SAME_VERSION) {
            message = "升级成功";
            ok = true;
            break;
        }
        if (state == KP_UPDATE_STATE_CANCELLED) {
            message = "升级取消";
            break;
        }
        if (state == KP_UPDATE_STATE_FAILED) {
            message = "升级失败";
            break;
        }
        int percent = sdk_->SDK_GetUpdateProgress();
        KPES_LOG(kpes::LS_ERROR) << "progress: " << static_cast<unsigned int>(percent);
        callback(state, percent);
        if (IsUpgradeAnswer(state, percent) && percent > highest_percent) {
            last_move = clock::now();
            highest_percent = percent;
        } else if (clock::now() - last_move >= no_answer_limit) {
            KPES_LOG(kpes::LS_ERROR) << "UpdateDevice: no upgrade progress for " << kUpdateNoAnswerLimitMs
                                     << " ms, giving up";
            message = "升级失败";
            break;
        }
        Sleep(1000);
    }
    std::fputs("8:update \n", stdout);
    if (!ok) {
        return false;
    }

    callback(2, 50);
    sdk_->SDK_RebootDevice();
    Sleep(2000);
    WaitForDevice(false);
    callback(1, 100);
    return true;
}

}  // namespace factory
