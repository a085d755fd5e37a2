// Firmware package files.
//
// A package is a 64-byte header followed by the image (integers little-endian):
//   0   4  magic "KPFW"
//   4   2  header format, 1
//   6   2  header size, 64
//   8  24  model family, NUL-padded ASCII ("KP-LPR-V3")
//  32  16  firmware version, NUL-padded ("3.2.1.16")
//  48   4  image size in bytes
//  52   4  CRC-32 of the image
//  56   4  CRC-32 of header bytes 0-55
//  60   4  reserved, 0
// tools/make_firmware.py writes sample packages.
#pragma once

#include <string>

namespace rudavado {

struct FirmwarePackage {
    std::string family;
    std::string version;
    bool image_intact = false;  // size and checksum of the image match the header
};

constexpr size_t kFirmwareHeaderSize = 64;
constexpr size_t kFirmwareMaxSize = 64u << 20;

// false when `content` does not start with a valid package header.
bool parseFirmwarePackage(const std::string& content, FirmwarePackage& package);

}  // namespace rudavado
