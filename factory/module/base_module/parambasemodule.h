// Parameter export and import, and the face cameras' logo, background and style-sheet uploads.
#pragma once

#include <string>

#include "basemodule.h"

namespace factory {

class parambasemodule : public basemodule {
public:
    bool ParamExport(const KP_PARAM_IMPORT_ABILITY_V2* ability, std::string path, std::string& message);
    // Applies the file, restarts the camera and waits up to 80 s for it to answer again.
    bool ParamImport(std::string path, std::string& message);
    bool UploadLogo(std::string path, std::string& message);
    bool UploadBg(std::string path, std::string& message);
    bool UploadCss(std::string path, std::string& message);
};

}  // namespace factory
