#include "discovery_record.h"

#include <cstdio>

#include "fixed_text.h"
#include "sdkbase.h"

namespace {
std::string text(const char* s) { return s ? std::string(s) : std::string(); }
}  // namespace

DeviceInfo deviceInfoFromReport(const char* name, const char* ip, uint16_t port, uint16_t port2,
                                uint32_t serial_low, uint32_t serial_high, const char* netmask,
                                const char* gateway, int32_t find_value, const char* firmware_version,
                                int32_t lens_code, const char* mac_addr, const char* boot_time) {
    DeviceInfo info;
    info.device_name = text(name);
    info.ip_addr = text(ip);
    info.port = port;
    info.port2 = port2;
    info.serial_low = serial_low;
    info.serial_high = serial_high;
    info.netmask = text(netmask);
    info.gateway = text(gateway);
    info.find_value = find_value;
    info.firmware_version = text(firmware_version);
    info.lens_code = lens_code;
    info.mac_addr = text(mac_addr);
    info.boot_time = text(boot_time);
    return info;
}

namespace factory {

std::string SerialNumberText(uint32_t serial_high, uint32_t serial_low) {
    char text[32];
    std::snprintf(text, sizeof(text), "%08x-%08x", serial_high, serial_low);
    return text;
}

bool CompleteFromCamera(DeviceInfo* device, bool kind_known, std::string* model) {
    KPLPRC_HWINFO_EX info{};
    if (!SDK_IdentifyDevice(device->ip_addr, device->port, &info, nullptr)) return false;
    if (model) *model = FixedText(info.model);
    if (!kind_known) device->find_value = info.device_type;
    if (device->firmware_version.empty()) device->firmware_version = FixedText(info.firmware);
    if (device->mac_addr.empty()) device->mac_addr = FixedText(info.mac);
    if (device->boot_time.empty()) device->boot_time = FixedText(info.boot_time);
    return true;
}

}  // namespace factory
