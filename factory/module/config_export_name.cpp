#include "config_export_name.h"

#include <cstdint>
#include <cstdio>

#include "ipv4.h"

namespace factory {

std::string ConfigExportFileName(std::string_view ip, int year, int month, int day, int hour, int minute,
                                 int second) {
    std::uint32_t address = 0;
    if (!ParseIpv4(ip, &address)) return std::string();
    // Wide enough for any six ints, so the name is never cut short.
    char stamp[96] = {0};
    std::snprintf(stamp, sizeof(stamp), "%d%02d%02d%02d%02d%02d", year, month, day, hour, minute, second);
    return FormatIpv4(address) + "_" + stamp + ".cfg";
}

}  // namespace factory
