#include "ipv4.h"

#include <cstdio>
#include <limits>

namespace factory {

bool ParseIpv4(std::string_view text, std::uint32_t* value) {
    std::uint32_t address = 0;
    std::size_t at = 0;
    for (int part = 0; part < 4; ++part) {
        if (part > 0) {
            if (at >= text.size() || text[at] != '.') return false;
            ++at;
        }
        std::uint32_t octet = 0;
        std::size_t digits = 0;
        while (at < text.size() && text[at] >= '0' && text[at] <= '9' && digits < 3) {
            octet = octet * 10 + static_cast<std::uint32_t>(text[at] - '0');
            ++at;
            ++digits;
        }
        if (digits == 0 || octet > 255) return false;
        address = (address << 8) | octet;
    }
    if (at != text.size()) return false;
    *value = address;
    return true;
}

std::string FormatIpv4(std::uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof(text), "%u.%u.%u.%u", (value >> 24) & 0xFFu, (value >> 16) & 0xFFu,
                  (value >> 8) & 0xFFu, value & 0xFFu);
    return text;
}

bool AddIpv4(std::uint32_t value, std::uint32_t n, std::uint32_t* sum) {
    if (n > std::numeric_limits<std::uint32_t>::max() - value) return false;
    *sum = value + n;
    return true;
}

}  // namespace factory
