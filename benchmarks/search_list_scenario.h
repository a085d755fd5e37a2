// A scenario of many cameras for the search list's load figures: consecutive addresses from
// 10.20.0.11 on, a mix of plate, face and older plate models, serial numbers that never repeat.
#pragma once

#include <cstdio>
#include <string>

inline std::string manyCamerasScenario(int count) {
    std::string json = "{\"cameras\":[";
    for (int i = 0; i < count; ++i) {
        const int host = 10 + i;
        const char* model = "KP-LPR-V3";
        unsigned high = 0x4B500003;
        if (i % 4 == 3) {
            model = "KP-FACE-F2";
            high = 0x4B500102;
        } else if (i % 10 == 9) {
            model = "KP-LPR-V1";
            high = 0x4B500001;
        }
        char camera[512];
        std::snprintf(camera, sizeof(camera),
                      "%s{\"name\":\"cam-%04d\",\"model\":\"%s\",\"ip\":\"10.20.%d.%d\","
                      "\"netmask\":\"255.255.0.0\",\"gateway\":\"10.20.0.1\","
                      "\"serial_high\":%u,\"serial_low\":%d,\"lens_code\":%d}",
                      i == 0 ? "" : ",", i, model, host / 250, host % 250 + 1, high, 0x20000 + i, i % 7);
        json += camera;
    }
    json += "]}";
    return json;
}
