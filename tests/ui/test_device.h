// A camera record for the widget tests, every field filled the way discovery fills it, plus
// a login, so that a test sees which fields a list keeps and which it drops.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>

#include "deviceinfo.h"

// The factory login: what the window fills in, and what the simulated cameras take unless their
// scenario gives another password.
constexpr const char* kUser = "admin";
constexpr const char* kPassword = "tolvi";

inline DeviceInfo device(const std::string& ip, int port = 80, uint32_t serial_low = 1) {
    DeviceInfo info;
    info.device_name = "cam";
    info.ip_addr = ip;
    info.port = port;
    info.serial_high = 171;
    info.serial_low = serial_low;
    info.netmask = "255.255.255.0";
    info.gateway = "192.168.1.1";
    info.firmware_version = "3.2.1.15";
    info.lens_code = 2;
    // Cameras at different addresses are different cameras: the list merges reports by serial
    // number and MAC.
    unsigned part[4] = {0, 0, 0, 0};
    if (std::sscanf(ip.c_str(), "%u.%u.%u.%u", &part[0], &part[1], &part[2], &part[3]) != 4) {
        const size_t bits = std::hash<std::string>()(ip);
        for (int i = 0; i < 4; ++i) part[i] = static_cast<unsigned>(bits >> (8 * i));
    }
    char mac[18];
    std::snprintf(mac, sizeof mac, "00:1A:%02X:%02X:%02X:%02X", part[0] & 255, part[1] & 255, part[2] & 255,
                  part[3] & 255);
    info.mac_addr = mac;
    info.boot_time = "2026-12-01 08:00:00";
    info.user_name = kUser;
    info.pass_word = kPassword;
    return info;
}
