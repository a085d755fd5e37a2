// One camera connection: owns the device library's session handle and turns each library call
// into a virtual operation with a plain success flag, logging every refused call.
//
// A wrapper is not thread-safe; its owner (a job composer's worker, or the connection manager
// under its lock) serialises the calls. Destroying a wrapper does not log out: callers close
// the session themselves.
#pragma once

#include <windows.h>

#include <functional>
#include <string>

#include "RuDAVADO.h"

namespace factory {

enum SDK_RESTORE_KIND : unsigned int {
    SDK_RESTORE_PART = 0,
    SDK_RESTORE_FULL = 1,
    SDK_RESTORE_MAX = 2,
};

constexpr int kHardwareTypeCount = 15;
constexpr int kHardwareTypeLen = 64;
// Model family names by hardware index (byte 3 of the hardware block).
extern const char kHardwareTypes[kHardwareTypeCount][kHardwareTypeLen];
extern const char kUnknownHardware[];
// The table row for a hardware index, or kUnknownHardware outside 0-14.
const char* HardwareTypeName(unsigned int index);

// The check after every device-library call: when `failed`, logs "<function> false: <ret>" at
// error severity and returns false; otherwise returns true. Without `failed`, any answer but 0
// is a failure.
bool CheckCall(const char* function, int ret, bool failed);
inline bool CheckCall(const char* function, int ret) { return CheckCall(function, ret, ret != 0); }

class sdkbase {
public:
    using Callback = std::function<int()>;

    sdkbase();
    virtual ~sdkbase();

    // 0 plate camera, 1 face camera.
    virtual int SDK_GetDeviceType() = 0;
    // Asks ip:port without a login; a camera need not serve on 80 (the port comes from the
    // search's report or the stored list).
    virtual bool SDK_GetHwInfoEx(std::string ip, int port, KPLPRC_HWINFO_EX* info);
    // Closes a session still open, then logs in again.
    virtual bool SDK_Open(std::string ip, int port, std::string user, std::string password);
    virtual bool SDK_Close();
    virtual KPLPRC_HANDLE SDK_GetHandle();
    virtual bool SDK_GetSerialNumber(std::string& serial);
    // mac: the first hardware text, serial: the second.
    virtual bool SDK_GetHwInfo(std::string& mac, std::string& serial);
    virtual bool SDK_GetHwBoardVersion(int board);
    virtual bool SDK_GetRemoteSoftWareVersion(std::string& version);
    virtual bool SDK_GetSystemVersion(std::string& version);
    virtual bool SDK_GetHardwareType(std::string& type);
    virtual bool SDK_GetNetConfig(KPLPRC_NET_CONFIG* netcfg);
    virtual bool SDK_Restore(unsigned int restore);
    virtual bool SDK_RebootDevice();
    virtual bool SDK_GetDeviceTime(KPLPRC_DATETIME* time);
    virtual bool SDK_SetDeviceTime(KPLPRC_DATETIME* time);
    // Sets switching output `output` of the camera to `level`.
    virtual bool SDK_SendValues(int output, int level);
    // A play handle, or KPLPRC_FIALURE.
    virtual int SDK_StartRealPlay(HWND window);
    virtual bool SDK_StopRealPlay(int play_handle);
    virtual bool SDK_GetParamImportAbility(KP_PARAM_IMPORT_ABILITY_V2* ability);
    virtual bool SDK_ParaExportV2(const KP_PARAM_IMPORT_ABILITY_V2* ability, std::string path);
    virtual bool SDK_ParaImportV2(std::string path);
    virtual bool SDK_Update(std::string path);
    virtual bool SDK_StopUpdate();
    // The library's KP_UPDATE_STATE_* value unchanged; 0 without a session.
    virtual int SDK_GetUpdateState();
    // 0-100, or -1 without a session or when the library cannot tell.
    virtual int SDK_GetUpdateProgress();
    virtual bool SDK_SetLoginAccount(std::string password);
    virtual bool SDK_UploadLogo(std::string path) = 0;
    virtual bool SDK_UploadBg(std::string path) = 0;
    virtual bool SDK_UploadCss(std::string path) = 0;
    virtual int SDK_InvokeCallback();

    sdkbase(const sdkbase&) = delete;
    sdkbase& operator=(const sdkbase&) = delete;

protected:
    KPLPRC_HANDLE sdk_handle_;
    Callback callback_;
};

// Discovery and session notices are process-wide, so they are free functions, not wrapper
// operations. Each returns false (and logs) when the library refuses.
bool SDK_StartFindDeviceEx(KPLPRC_FIND_DEVICE_CALLBACK_EX callback, void* user_data);
bool SDK_StartFindDeviceV2(KPLPRC_FIND_DEVICE_CALLBACK_V2 callback, void* user_data);
bool SDK_SetCommonNotifyCallBack(KPLPRC_COMMON_NOTIFY_CALLBACK callback, void* user_data);
// Ends both searches; no discovery callback runs after it returns.
bool SDK_StopFindDevice();
// What a camera tells about itself without a login, asked at ip:port. On false, `silent` tells
// whether the camera did not answer at all (rather than refusing the question).
bool SDK_IdentifyDevice(const std::string& ip, int port, KPLPRC_HWINFO_EX* info, bool* silent);

}  // namespace factory
