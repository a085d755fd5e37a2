#include "sdkplate.h"

namespace factory {

int sdkplate::SDK_GetDeviceType() { return KPLPRC_DEVICE_PLATE; }

// Plate cameras have no display to customise, so the uploads are refused without a call.
bool sdkplate::SDK_UploadLogo(std::string) { return false; }
bool sdkplate::SDK_UploadBg(std::string) { return false; }
bool sdkplate::SDK_UploadCss(std::string) { return false; }

}  // namespace factory
