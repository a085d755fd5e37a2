// A camera record for the widget tests, every field filled the way discovery fills it, plus
// a login, so that a test sees which fields a list keeps and which it drops.
#pragma once

#include <cstdint>
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
    info.mac_addr = "00:1A:2B:3C:4D:5E";
    info.boot_time = "2026-12-01 08:00:00";
    info.user_name = kUser;
    info.pass_word = kPassword;
    return info;
}
