// Checks after a batch operation that reported success: did the camera really take the change?
// Each call opens its own session (its own wrapper), so it may run on any thread, beside the
// composer that made the change. Every wait counts the same 80 attempts as the upgrade's own wait.
#pragma once

#include <string>

#include "dealmodule.h"

namespace factory {

struct Verification {
    bool verified = false;
    std::string text;  // "verified" / "not verified: <why>"
};

// Logs in, reads the firmware version, logs out. False (with `why`) when the camera does not answer.
bool ReadFirmwareVersion(const dealmodule::LoginData& login, std::string* version, std::string* why);

// After an upgrade reported success: waits for the camera to answer (same 80 attempts as the
// upgrade's wait), reads the version again and compares it with the package's version and
// with `before`. `after` receives the version read (empty if none).
Verification VerifyUpgrade(const dealmodule::LoginData& login, const std::string& package_path,
                           const std::string& before, std::string* after);

// After an address change reported success: looks for the camera at its new address.
Verification VerifyAddress(const dealmodule::LoginData& login_at_new_address);

// The family and version a firmware package file names in its header; false when the file
// cannot be read or is no package.
bool ReadPackageVersion(const std::string& file, std::string* family, std::string* version);

}  // namespace factory
