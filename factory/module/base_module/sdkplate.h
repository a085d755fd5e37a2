// Wrapper for plate-recognition cameras: they have no face uploads.
#pragma once

#include "sdkbase.h"

namespace factory {

class sdkplate : public sdkbase {
public:
    int SDK_GetDeviceType() override;
    bool SDK_UploadLogo(std::string path) override;
    bool SDK_UploadBg(std::string path) override;
    bool SDK_UploadCss(std::string path) override;
};

}  // namespace factory
