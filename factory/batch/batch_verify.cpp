#include "batch_verify.h"

#include <windows.h>

#include <cstring>
#include <vector>

#include "RuDAVADO.h"
#include "basemodule.h"
#include "fixed_text.h"
#include "logging.h"
#include "sdkplate.h"

namespace factory {

namespace {

constexpr int kAttempts = basemodule::kAvailabilityAttempts;
// Between two attempts, as the upgrade's own wait.
constexpr DWORD kAttemptPauseMs = 1000;

// Package header: "KPFW", format 1, header size 64, family at 8 (24 bytes), version at 32 (16
// bytes), both NUL-padded printable ASCII.
constexpr size_t kHeaderSize = 64;

bool PaddedText(const unsigned char* bytes, size_t size, std::string* out) {
    const size_t n = strnlen(reinterpret_cast<const char*>(bytes), size);
    if (n == 0 || n == size) return false;
    for (size_t i = n; i < size; ++i)
        if (bytes[i] != 0) return false;
    for (size_t i = 0; i < n; ++i)
        if (bytes[i] < 0x21 || bytes[i] > 0x7e) return false;
    out->assign(reinterpret_cast<const char*>(bytes), n);
    return true;
}

std::vector<std::string> SplitPaths(const std::string& joined) {
    std::vector<std::string> paths;
    size_t begin = 0;
    for (;;) {
        const size_t bar = joined.find('|', begin);
        const std::string one =
            joined.substr(begin, bar == std::string::npos ? std::string::npos : bar - begin);
        if (!one.empty()) paths.push_back(one);
        if (bar == std::string::npos) return paths;
        begin = bar + 1;
    }
}

struct Answer {
    std::string version;
    std::string family;  // empty when the camera did not say
};

// A refused logout is asked once more: a session left open takes one of the camera's few.
void CloseSession(sdkbase& sdk) {
    if (!sdk.SDK_Close()) sdk.SDK_Close();
}

// One attempt: login, version, logout; the family comes from the address's hardware report.
bool ReadOnce(const dealmodule::LoginData& login, Answer* answer, std::string* why) {
    sdkplate sdk;  // login and version are common to both kinds
    if (!sdk.SDK_Open(login.ip, login.port, login.user, login.password)) {
        *why = "no login at " + login.ip;
        return false;
    }
    const bool read = sdk.SDK_GetSystemVersion(answer->version) && !answer->version.empty();
    CloseSession(sdk);
    if (!read) {
        *why = "the firmware version cannot be read";
        return false;
    }
    KPLPRC_HWINFO_EX info{};
    if (CheckCall("KpLPRClient_GetHwInfoEx", KpLPRClient_GetHwInfoEx(login.ip.c_str(), login.port, &info)))
        answer->family = FixedText(info.model);
    return true;
}

}  // namespace

bool ReadPackageVersion(const std::string& file, std::string* family, std::string* version) {
    const HANDLE handle = CreateFileA(file.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return false;
    unsigned char header[kHeaderSize] = {};
    DWORD got = 0, total = 0;
    while (total < kHeaderSize && ReadFile(handle, header + total, kHeaderSize - total, &got, nullptr) &&
           got > 0)
        total += got;
    CloseHandle(handle);
    if (total < kHeaderSize || std::memcmp(header, "KPFW", 4) != 0) return false;
    if ((header[4] | header[5] << 8) != 1 || (header[6] | header[7] << 8) != kHeaderSize) return false;
    return PaddedText(header + 8, 24, family) && PaddedText(header + 32, 16, version);
}

bool ReadFirmwareVersion(const dealmodule::LoginData& login, std::string* version, std::string* why) {
    Answer answer;
    std::string reason;
    const bool ok = ReadOnce(login, &answer, &reason);
    if (version) *version = ok ? answer.version : std::string();
    if (why) *why = ok ? std::string() : reason;
    return ok;
}

Verification VerifyUpgrade(const dealmodule::LoginData& login, const std::string& package_path,
                           const std::string& before, std::string* after) {
    Verification result;
    Answer answer;
    std::string why;
    bool answered = false;
    for (int attempt = 0; attempt < kAttempts && !answered; ++attempt) {
        if (attempt > 0) Sleep(kAttemptPauseMs);
        answered = ReadOnce(login, &answer, &why);
    }
    if (after) *after = answered ? answer.version : std::string();
    if (!answered) {
        result.text = "not verified: the camera did not come back after " + std::to_string(kAttempts) +
                      " attempts (" + why + ")";
        return result;
    }

    // The versions the package offers; the one for the camera's family when the camera says it.
    std::vector<std::string> offered;
    for (const std::string& file : SplitPaths(package_path)) {
        std::string family, version;
        if (!ReadPackageVersion(file, &family, &version)) continue;
        if (!answer.family.empty() && family == answer.family) {
            offered.assign(1, version);
            break;
        }
        if (answer.family.empty()) offered.push_back(version);
    }
    const std::string& now = answer.version;
    if (offered.empty()) {
        // Nothing to compare with but the version before: a change is all that can be seen.
        if (!before.empty() && now == before) {
            result.text = "not verified: still runs " + before;
        } else {
            result.verified = true;
            result.text = "verified";
        }
        return result;
    }
    for (const std::string& version : offered) {
        if (now == version) {
            result.verified = true;
            result.text = "verified";
            return result;
        }
    }
    std::string wanted;
    for (const std::string& version : offered) wanted += (wanted.empty() ? "" : " or ") + version;
    result.text = "not verified: runs " + now + " instead of " + wanted;
    return result;
}

Verification VerifyAddress(const dealmodule::LoginData& login_at_new_address) {
    Verification result;
    std::string why;
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        if (attempt > 0) Sleep(kAttemptPauseMs);
        sdkplate sdk;  // login and version are common to both kinds
        if (sdk.SDK_Open(login_at_new_address.ip, login_at_new_address.port, login_at_new_address.user,
                         login_at_new_address.password)) {
            CloseSession(sdk);
            result.verified = true;
            result.text = "verified";
            return result;
        }
    }
    result.text = "not verified: no camera answers at " + login_at_new_address.ip + " after " +
                  std::to_string(kAttempts) + " attempts";
    return result;
}

}  // namespace factory
