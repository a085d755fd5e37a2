#include "sdkface.h"

#include "assert_return.h"
#include "logging.h"

namespace factory {

int sdkface::SDK_GetDeviceType() { return KPLPRC_DEVICE_FACE; }

bool sdkface::SDK_UploadLogo(std::string path) {
    SDK_GUARD_FALSE();
    KPES_LOG(kpes::LS_ERROR) << "SDK_UploadLogo : " << path;
    return CheckCall("KpLPRClient_FaceUploadLogo", KpLPRClient_FaceUploadLogo(sdk_handle_, path.c_str()));
}

bool sdkface::SDK_UploadBg(std::string path) {
    SDK_GUARD_FALSE();
    KPES_LOG(kpes::LS_ERROR) << "SDK_UploadBg : " << path;
    return CheckCall("KpLPRClient_FaceUploadBg", KpLPRClient_FaceUploadBg(sdk_handle_, path.c_str()));
}

bool sdkface::SDK_UploadCss(std::string path) {
    SDK_GUARD_FALSE();
    KPES_LOG(kpes::LS_ERROR) << "SDK_UploadCss : " << path;
    return CheckCall("KpLPRClient_FaceUploadCss", KpLPRClient_FaceUploadCss(sdk_handle_, path.c_str()));
}

}  // namespace factory
