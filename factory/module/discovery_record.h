// The record of one camera as discovery reports it (Qt-free: the search list and the command
// line's discover build it alike), and what a camera tells about itself without a login.
#pragma once

#include <cstdint>
#include <string>

#include "RuDAVADO.h"

struct DeviceInfo {
    std::string device_name;
    std::string ip_addr;
    std::string netmask;
    std::string gateway;
    std::string user_name;
    std::string pass_word;
    std::string spare_text1;
    std::string spare_text2;
    int32_t port = 0;
    int32_t port2 = 0;
    uint32_t serial_low = 0;
    uint32_t serial_high = 0;
    int32_t row = 0;
    int32_t find_value = 0;
    std::string firmware_version;
    int32_t lens_code = 0;
    std::string mac_addr;
    std::string boot_time;
    int32_t spare_value = 0;
};

// A record from a discovery report. The basic report leaves the extended fields empty or 0:
// pass null texts and 0 for them.
DeviceInfo deviceInfoFromReport(const char* name, const char* ip, uint16_t port, uint16_t port2,
                                uint32_t serial_low, uint32_t serial_high, const char* netmask,
                                const char* gateway, int32_t find_value = 0,
                                const char* firmware_version = nullptr, int32_t lens_code = 0,
                                const char* mac_addr = nullptr, const char* boot_time = nullptr);

namespace factory {

// "%08x-%08x" of (serial_high, serial_low), as cameras tell their serial number.
std::string SerialNumberText(uint32_t serial_high, uint32_t serial_low);

// Asks the camera at the record's address (no login) and fills what a basic report leaves out:
// firmware, MAC, boot time, and the kind unless `kind_known`. `model` receives its model family.
// False when the camera did not answer.
bool CompleteFromCamera(DeviceInfo* device, bool kind_known, std::string* model);

}  // namespace factory
