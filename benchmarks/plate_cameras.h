// Benchmark helpers: a simulated network of plate cameras on 10.0.0.0/8, and the process's
// memory as the kernel reports it.
#pragma once

#include <RuDAVADO_control.h>

#include <cstdlib>
#include <fstream>
#include <functional>
#include <string>

// Loads `count` plate cameras, the i-th at ip(i) with serial `first_serial + i`.
inline bool loadPlateCameras(int count, const std::function<std::string(int)>& ip, int first_serial) {
    std::string json = "{\"cameras\": [";
    for (int i = 0; i < count; ++i) {
        if (i > 0) json += ",";
        json += "{\"model\": \"KP-LPR-V3\", \"ip\": \"" + ip(i) +
                "\", \"netmask\": \"255.0.0.0\", \"gateway\": \"10.255.255.254\", \"serial_low\": " +
                std::to_string(first_serial + i) + "}";
    }
    json += "]}";
    return RuDAVADO_LoadScenarioText(json.c_str()) == 0;
}

// A field of /proc/self/status in KiB ("VmRSS:", "VmHWM:"); 0 when it cannot be read.
inline long statusKb(const char* field) {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind(field, 0) == 0) return std::atol(line.c_str() + std::char_traits<char>::length(field));
    }
    return 0;
}
