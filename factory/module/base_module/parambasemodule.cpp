#include "parambasemodule.h"

#include <windows.h>

#include "assert_return.h"
#include "logging.h"

namespace factory {

namespace {

// The uploads share the import's row texts.
const char kImportOk[] = "参数导入成功";
const char kImportFailed[] = "参数导入失败";

}  // namespace

bool parambasemodule::ParamExport(const KP_PARAM_IMPORT_ABILITY_V2* ability, std::string path,
                                  std::string& message) {
    MODULE_GUARD_FALSE();
    if (sdk_->SDK_ParaExportV2(ability, path)) {
        message = "参数导出成功";
        return true;
    }
    message = "参数导出失败";
    return false;
}

bool parambasemodule::ParamImport(std::string path, std::string& message) {
    MODULE_GUARD_FALSE();
    if (!sdk_->SDK_ParaImportV2(path)) {
        message = kImportFailed;
        return false;
    }
    // The camera applies the file on its next start.
    Sleep(4000);
    sdk_->SDK_RebootDevice();
    Sleep(2000);
    WaitForDevice(true);
    KPES_LOG(kpes::LS_ERROR) << "SDK_RebootDevice ing: ";
    message = kImportOk;
    return true;
}

bool parambasemodule::UploadLogo(std::string path, std::string& message) {
    MODULE_GUARD_FALSE();
    if (sdk_->SDK_UploadLogo(path)) {
        Sleep(2000);
        message = kImportOk;
        return true;
    }
    message = kImportFailed;
    return false;
}

bool parambasemodule::UploadBg(std::string path, std::string& message) {
    MODULE_GUARD_FALSE();
    if (sdk_->SDK_UploadBg(path)) {
        Sleep(2000);
        message = kImportOk;
        return true;
    }
    message = kImportFailed;
    return false;
}

bool parambasemodule::UploadCss(std::string path, std::string& message) {
    MODULE_GUARD_FALSE();
    KPES_LOG(kpes::LS_ERROR) << "UploadCss : " << path;
    if (sdk_->SDK_UploadCss(path)) {
        Sleep(2000);
        message = kImportOk;
        return true;
    }
    message = kImportFailed;
    return false;
}

}  // namespace factory
