#include "basemodule.h"

#include <windows.h>

#include "assert_return.h"
#include "logging.h"

namespace factory {

basemodule::basemodule() = default;

basemodule::~basemodule() = default;

bool basemodule::Init(const std::shared_ptr<sdkbase>& sdk) {
    FACTORY_ASSERT_RETURN(sdk == nullptr, false, "ASSERT (sdk == NULL) is true, then return false");
    sdk_ = sdk;
    return true;
}

void basemodule::Reserved() {}

bool basemodule::GetParamImportAbility(KP_PARAM_IMPORT_ABILITY_V2* ability) {
    MODULE_GUARD_FALSE();
    return sdk_->SDK_GetParamImportAbility(ability);
}

bool basemodule::WaitForDevice(bool log_attempts) {
    KPLPRC_DATETIME scratch = {};
    for (int attempt = 0; attempt < kAvailabilityAttempts; ++attempt) {
        if (sdk_->SDK_GetDeviceTime(&scratch)) {
            return true;
        }
        Sleep(1000);
        if (log_attempts) {
            KPES_LOG(kpes::LS_ERROR) << "SDK_GetDeviceTime false: " << attempt;
        }
    }
    return false;
}

}  // namespace factory
