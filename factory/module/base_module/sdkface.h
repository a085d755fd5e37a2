// Wrapper for face-recognition cameras: adds the logo, background and style-sheet uploads.
#pragma once

#include "sdkbase.h"

namespace factory {

class sdkface : public sdkbase {
public:
    int SDK_GetDeviceType() override;
    bool SDK_UploadLogo(std::string path) override;
    bool SDK_UploadBg(std::string path) override;
    bool SDK_UploadCss(std::string path) override;
};

}  // namespace factory
