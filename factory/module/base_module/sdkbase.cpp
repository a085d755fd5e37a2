#include "sdkbase.h"

#include <cstdio>
#include <cstring>

#include "assert_return.h"
#include "fixed_text.h"
#include "logging.h"

namespace factory {

const char kHardwareTypes[kHardwareTypeCount][kHardwareTypeLen] = {
    "PL-100 Barrier", "PL-120 Barrier",   "PL-200 Lane",      "PL-220 Lane",     "PL-300 Highway",
    "PL-320 Highway", "PL-400 Parking",   "PL-420 Parking",   "PL-500 Portable", "FC-100 Door",
    "FC-120 Door",    "FC-200 Turnstile", "FC-220 Turnstile", "FC-300 Kiosk",    "FC-320 Kiosk",
};
const char kUnknownHardware[] = "UNKOWN HARDWARE";

const char* HardwareTypeName(unsigned int index) {
    return index < static_cast<unsigned int>(kHardwareTypeCount) ? kHardwareTypes[index] : kUnknownHardware;
}

bool CheckCall(const char* function, int ret, bool failed) {
    if (failed) {
        KPES_LOG(kpes::LS_ERROR) << function << " false: " << ret;
        return false;
    }
    return true;
}

sdkbase::sdkbase() : sdk_handle_(NULL) {}

sdkbase::~sdkbase() = default;

bool sdkbase::SDK_GetHwInfoEx(std::string ip, int port, KPLPRC_HWINFO_EX* info) {
    return CheckCall("KpLPRClient_GetHwInfoEx", KpLPRClient_GetHwInfoEx(ip.c_str(), port, info));
}

bool sdkbase::SDK_Open(std::string ip, int port, std::string user, std::string password) {
    if (sdk_handle_ != NULL && !CheckCall("KpLPRClient_Close", KpLPRClient_Close(sdk_handle_))) {
        return false;
    }
    sdk_handle_ = KpLPRClient_Open(ip.c_str(), port, user.c_str(), password.c_str());
    // The returned code of a refused login is the null handle.
    return CheckCall("KpLPRClient_Open", 0, sdk_handle_ == NULL);
}

bool sdkbase::SDK_Close() {
    SDK_GUARD_FALSE();
    if (!CheckCall("KpLPRClient_Close", KpLPRClient_Close(sdk_handle_))) {
        return false;
    }
    sdk_handle_ = NULL;
    KPES_LOG(kpes::LS_ERROR) << "KpLPRClient_Close OK";
    return true;
}

KPLPRC_HANDLE sdkbase::SDK_GetHandle() { return sdk_handle_; }

bool sdkbase::SDK_GetSerialNumber(std::string& serial) {
    SDK_GUARD_FALSE();
    unsigned int high = 0;
    unsigned int low = 0;
    if (!CheckCall("KpLPRClient_GetSerialNumber", KpLPRClient_GetSerialNumber(sdk_handle_, &high, &low))) {
        return false;
    }
    char text[64] = {0};
    std::snprintf(text, sizeof(text), "%x-%x", high, low);
    serial = text;
    return true;
}

bool sdkbase::SDK_GetHwInfo(std::string& mac, std::string& serial) {
    SDK_GUARD_FALSE();
    int kind = 0;
    int lens_code = 0;
    char text1[KPLPRC_HWINFO_TEXT_LEN] = {0};
    char text2[KPLPRC_HWINFO_TEXT_LEN] = {0};
    unsigned char block[KPLPRC_HWINFO_BLOCK_LEN] = {0};
    if (!CheckCall("KpLPRClient_GetHwInfo",
                   KpLPRClient_GetHwInfo(sdk_handle_, &kind, text1, text2, &lens_code, block))) {
        return false;
    }
    mac = FixedText(text1);
    serial = FixedText(text2);
    return true;
}

bool sdkbase::SDK_GetHwBoardVersion(int board) {
    SDK_GUARD_FALSE();
    unsigned char version[KPLPRC_BOARD_VERSION_LEN] = {0};
    return CheckCall("KpLPRClient_GetHwBoardVersion",
                     KpLPRClient_GetHwBoardVersion(sdk_handle_, board, version));
}

bool sdkbase::SDK_GetRemoteSoftWareVersion(std::string& version) {
    SDK_GUARD_FALSE();
    int major = 0, minor = 0, revision = 0, build = 0;
    int ret = KpLPRClient_GetRemoteSoftWareVersion(sdk_handle_, &major, &minor, &revision, &build);
    if (!CheckCall("KpLPRClient_GetRemoteSoftWareVersion", ret, ret == -1)) {
        return false;
    }
    char text[32] = {0};
    std::snprintf(text, sizeof(text), "%d.%d.%d.%d", major, minor, revision, build);
    version = text;
    return true;
}

bool sdkbase::SDK_GetSystemVersion(std::string& version) {
    SDK_GUARD_FALSE();
    char text[KPLPRC_SYSTEM_VERSION_LEN] = {0};
    int ret = KpLPRClient_GetSystemVersion(sdk_handle_, text);
    if (!CheckCall("KpLPRClient_GetSystemVersion", ret, ret == -1)) {
        return false;
    }
    version = FixedText(text);
    return true;
}

bool sdkbase::SDK_GetHardwareType(std::string& type) {
    SDK_GUARD_FALSE();
    int kind = 0;
    int lens_code = 0;
    char text1[KPLPRC_HWINFO_TEXT_LEN] = {0};
    char text2[KPLPRC_HWINFO_TEXT_LEN] = {0};
    unsigned char block[KPLPRC_HWINFO_BLOCK_LEN] = {0};
    int ret = KpLPRClient_GetHwInfo(sdk_handle_, &kind, text1, text2, &lens_code, block);
    if (!CheckCall("KpLPRClient_GetHwInfo", ret, ret == -1)) {
        return false;
    }
    type = HardwareTypeName(block[KPLPRC_HWBLOCK_HARDWARE_INDEX]);
    return true;
}

bool sdkbase::SDK_GetNetConfig(KPLPRC_NET_CONFIG* netcfg) {
    SDK_GUARD_FALSE();
    FACTORY_ASSERT_RETURN(netcfg == NULL, false, "ASSERT (netcfg == NULL) is true, then return false");
    int ret = KpLPRClient_GetNetConfig(sdk_handle_, netcfg);
    return CheckCall("KpLPRClient_GetNetConfig", ret, ret == -1);
}

bool sdkbase::SDK_Restore(unsigned int restore) {
    SDK_GUARD_FALSE();
    FACTORY_ASSERT_RETURN(restore >= SDK_RESTORE_MAX || restore < SDK_RESTORE_PART, false,
                          "ASSERT (restore >= SDK_RESTORE_MAX || restore < SDK_RESTORE_PART) is true, then "
                          "return false");
    int ret = restore == SDK_RESTORE_PART ? KpLPRClient_RestorePart(sdk_handle_)
                                          : KpLPRClient_RestoreFull(sdk_handle_);
    return ret == 0;
}

bool sdkbase::SDK_RebootDevice() {
    SDK_GUARD_FALSE();
    return KpLPRClient_RebootDevice(sdk_handle_) == 0;
}

bool sdkbase::SDK_GetDeviceTime(KPLPRC_DATETIME* time) {
    SDK_GUARD_FALSE();
    return CheckCall("KpLPRClient_GetDateTime", KpLPRClient_GetDateTime(sdk_handle_, time));
}

bool sdkbase::SDK_SetDeviceTime(KPLPRC_DATETIME* time) {
    SDK_GUARD_FALSE();
    return CheckCall("KpLPRClient_SetDateTime", KpLPRClient_SetDateTime(sdk_handle_, time));
}

bool sdkbase::SDK_SendValues(int output, int level) {
    SDK_GUARD_FALSE();
    return KpLPRClient_SetIoOutput(sdk_handle_, 0, output, level) == 0;
}

int sdkbase::SDK_StartRealPlay(HWND window) {
    FACTORY_ASSERT_RETURN(sdk_handle_ == NULL, KPLPRC_FIALURE,
                          "ASSERT (sdk_handle_ == NULL) is true, then return -1");
    return KpLPRClient_StartRealPlay(sdk_handle_, window);
}

bool sdkbase::SDK_StopRealPlay(int play_handle) {
    std::fputs("停止播放 \n", stdout);
    FACTORY_ASSERT_RETURN(play_handle == KPLPRC_FIALURE, false,
                          "ASSERT (play_handle == KPLPRC_FIALURE) is true, then return false");
    if (KpLPRClient_StopRealPlay(play_handle) != 0) {
        return false;
    }
    KPES_LOG(kpes::LS_ERROR) << "KpLPRClient_StopRealPlay OK";
    return true;
}

bool sdkbase::SDK_GetParamImportAbility(KP_PARAM_IMPORT_ABILITY_V2* ability) {
    SDK_GUARD_FALSE();
    return CheckCall("KP_GET_IMPORT_PARAM_ABILITY_EX",
                     KpLPRClient_GetConfig(sdk_handle_, KP_GET_IMPORT_PARAM_ABILITY_EX, 0, ability,
                                           sizeof(KP_PARAM_IMPORT_ABILITY_V2)));
}

bool sdkbase::SDK_ParaExportV2(const KP_PARAM_IMPORT_ABILITY_V2* ability, std::string path) {
    SDK_GUARD_FALSE();
    KPES_LOG(kpes::LS_INFO) << "SDK_ParaExportV2 begin " << path;
    if (!CheckCall("KpLPRClient_ParaExportV2",
                   KpLPRClient_ParaExportV2(sdk_handle_, ability, path.c_str()))) {
        return false;
    }
    KPES_LOG(kpes::LS_INFO) << "SDK_ParaExportV2 end";
    return true;
}

bool sdkbase::SDK_ParaImportV2(std::string path) {
    SDK_GUARD_FALSE();
    return CheckCall("KpLPRClient_ParaImportV2", KpLPRClient_ParaImportV2(sdk_handle_, path.c_str()));
}

bool sdkbase::SDK_Update(std::string path) {
    SDK_GUARD_FALSE();
    return CheckCall("KpLPRClient_Update", KpLPRClient_Update(sdk_handle_, path.c_str()));
}

bool sdkbase::SDK_StopUpdate() {
    SDK_GUARD_FALSE();
    return CheckCall("KpLPRClient_StopUpdate", KpLPRClient_StopUpdate(sdk_handle_));
}

int sdkbase::SDK_GetUpdateState() {
    FACTORY_ASSERT_RETURN(sdk_handle_ == NULL, 0, "ASSERT (sdk_handle_ == NULL) is true, then return false");
    return KpLPRClient_GetUpdateState(sdk_handle_);
}

int sdkbase::SDK_GetUpdateProgress() {
    FACTORY_ASSERT_RETURN(sdk_handle_ == NULL, -1, "ASSERT (sdk_handle_ == NULL) is true, then return -1");
    return KpLPRClient_GetUpdateProgress(sdk_handle_);
}

bool sdkbase::SDK_SetLoginAccount(std::string password) {
    SDK_GUARD_FALSE();
    return CheckCall("KpLPRClient_SetLoginAccount",
                     KpLPRClient_SetLoginAccount(sdk_handle_, password.c_str()));
}

int sdkbase::SDK_InvokeCallback() {
    // Nothing installs a callback; an empty one answers 0 instead of throwing bad_function_call.
    return callback_ ? callback_() : 0;
}

bool SDK_StartFindDeviceEx(KPLPRC_FIND_DEVICE_CALLBACK_EX callback, void* user_data) {
    return CheckCall("KPLPRClient_StartFindDeviceEx", KPLPRClient_StartFindDeviceEx(callback, user_data));
}

bool SDK_StartFindDeviceV2(KPLPRC_FIND_DEVICE_CALLBACK_V2 callback, void* user_data) {
    return CheckCall("KPLPRClient_StartFindDeviceV2", KPLPRClient_StartFindDeviceV2(callback, user_data));
}

bool SDK_SetCommonNotifyCallBack(KPLPRC_COMMON_NOTIFY_CALLBACK callback, void* user_data) {
    return CheckCall("KPLPRClient_SetCommonNotifyCallBack",
                     KPLPRClient_SetCommonNotifyCallBack(callback, user_data));
}

bool SDK_StopFindDevice() { return CheckCall("KpLPRClient_StopFindDevice", KpLPRClient_StopFindDevice()); }

bool SDK_IdentifyDevice(const std::string& ip, int port, KPLPRC_HWINFO_EX* info, bool* silent) {
    const bool ok = KpLPRClient_GetHwInfoEx(ip.c_str(), port, info) == 0;
    if (silent) *silent = !ok && KpLPRClient_GetLastError() == KPLPRC_ERR_TIMEOUT;
    return ok;
}

}  // namespace factory
