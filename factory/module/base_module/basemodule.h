// Base of the operation modules: each module turns device operations into timed sequences of
// wrapper calls on the one wrapper it shares with the other modules of a job composer.
#pragma once

#include <memory>

#include "sdkbase.h"

namespace factory {

class basemodule {
public:
    basemodule();
    // Keeps `sdk` (dropping any wrapper held before); false for an empty pointer.
    virtual bool Init(const std::shared_ptr<sdkbase>& sdk);
    // Hook for per-module upkeep; no module needs any yet.
    virtual void Reserved();
    virtual ~basemodule();

    bool GetParamImportAbility(KP_PARAM_IMPORT_ABILITY_V2* ability);

    basemodule(const basemodule&) = delete;
    basemodule& operator=(const basemodule&) = delete;

    // Attempts to reach a restarting camera again, 1 s apart (also the checks after a batch).
    static constexpr int kAvailabilityAttempts = 80;

protected:
    // Reads the camera clock until it answers, at most kAvailabilityAttempts times; true when it
    // answered. With log_attempts every failed attempt is logged with its number.
    bool WaitForDevice(bool log_attempts);

    std::shared_ptr<sdkbase> sdk_;
};

}  // namespace factory

// Operations of a module without a wrapper leave the message alone and fail.
#define MODULE_GUARD_FALSE() \
    FACTORY_ASSERT_RETURN(sdk_ == nullptr, false, "ASSERT (sdk_ == NULL) is true, then return false")
