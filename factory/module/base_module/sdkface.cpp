#include "sdkface.h"

#include "assert_return.h"
#include "logging.h"

namespace factory {

int sdkface::SDK_GetDeviceType() { return KPLPRC_DEVICE_FACE; }

bool sdkface::SDK_UploadLogo(std::string path) {
    SDK_GUARD_FALSE();
    KPES_LOG(kpes::LS_ERROR) << "SDK_UploadLogo : " << path;
    int ret = KpLPRClient_FaceUploadLogo(sdk_handle_, path.c_str());
    if (ret != 0) {
        KPES_LOG(kpes::LS_ERROR) << "KpLPRClient_FaceUploadLogo false: " << ret;
        return false;
    }
    return true;
}

bool sdkface::SDK_UploadBg(std::string path) {
    SDK_GUARD_FALSE();
    KPES_LOG(kpes::LS_ERROR) << "SDK_UploadBg : " << path;
    int ret = KpLPRClient_FaceUploadBg(sdk_handle_, path.c_str());
    if (ret != 0) {
        KPES_LOG(kpes::LS_ERROR) << "KpLPRClient_FaceUploadBg false: " << ret;
        return false;
    }
    return true;
}

bool sdkface::SDK_UploadCss(std::string path) {
    SDK_GUARD_FALSE();
    KPES_LOG(kpes::LS_ERROR) << "SDK_UploadCss : " << path;
    int ret = KpLPRClient_FaceUploadCss(sdk_handle_, path.c_str());
    if (ret != 0) {
        KPES_LOG(kpes::LS_ERROR) << "KpLPRClient_FaceUploadCss false: " << ret;
        return false;
    }
    return true;
}

}  // namespace factory
