#include "firmware.h"

#include <cstdint>
#include <cstring>

#include "util.h"

namespace rudavado {
namespace {

uint32_t le32(const std::string& s, size_t at) {
    const unsigned char* p = reinterpret_cast<const unsigned char*>(s.data()) + at;
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
           static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

uint16_t le16(const std::string& s, size_t at) {
    const unsigned char* p = reinterpret_cast<const unsigned char*>(s.data()) + at;
    return static_cast<uint16_t>(p[0] | p[1] << 8);
}

// A NUL-padded field; a field without its NUL or with bytes after the padding is not ours.
bool paddedText(const std::string& s, size_t at, size_t size, std::string& out) {
    const char* p = s.data() + at;
    size_t n = strnlen(p, size);
    if (n == 0 || n == size) return false;
    for (size_t i = n; i < size; ++i) {
        if (p[i] != '\0') return false;
    }
    for (size_t i = 0; i < n; ++i) {
        if (static_cast<unsigned char>(p[i]) < 0x21 || static_cast<unsigned char>(p[i]) > 0x7e) {
            return false;
        }
    }
    out.assign(p, n);
    return true;
}

}  // namespace

bool parseFirmwarePackage(const std::string& content, FirmwarePackage& package) {
    if (content.size() < kFirmwareHeaderSize) return false;
    if (std::memcmp(content.data(), "KPFW", 4) != 0) return false;
    if (le16(content, 4) != 1 || le16(content, 6) != kFirmwareHeaderSize) return false;
    if (crc32(content.data(), 56) != le32(content, 56)) return false;
    if (!paddedText(content, 8, 24, package.family)) return false;
    if (!paddedText(content, 32, 16, package.version)) return false;
    const uint32_t size = le32(content, 48);
    package.image_intact = content.size() - kFirmwareHeaderSize == size &&
                           crc32(content.data() + kFirmwareHeaderSize, size) == le32(content, 52);
    return true;
}

}  // namespace rudavado
