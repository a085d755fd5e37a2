// Small helpers shared by the library's parts: code pages, files, checksums, scaled waits.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

#include "RuDAVADO.h"

#ifdef _WIN32
// The C run-time's equivalents of the POSIX time calls the library uses.
inline std::tm* gmtime_r(const std::time_t* t, std::tm* out) { return gmtime_s(out, t) == 0 ? out : nullptr; }
inline std::tm* localtime_r(const std::time_t* t, std::tm* out) {
    return localtime_s(out, t) == 0 ? out : nullptr;
}
inline std::time_t timegm(std::tm* tm) { return _mkgmtime(tm); }
#endif

namespace rudavado {

bool isUtf8(const std::string& s);
// GB2312 <-> UTF-8; false when the input is not valid in its code page or has no equivalent.
bool utf8ToGb2312(const std::string& utf8, std::string& gb);
bool gb2312ToUtf8(const std::string& gb, std::string& utf8);

// Reads a whole regular file named by a GB2312 path (an ASCII path is the same in both code
// pages). false when it cannot be read or is larger than max_bytes (then *too_large is set).
bool readFile(const char* gb_path, std::string& content, size_t max_bytes, bool* too_large = nullptr);
// Writes a whole file named by a GB2312 path, through a temporary file and a rename so that a
// failure never leaves half a file under the name.
bool writeFile(const char* gb_path, const std::string& content);

// The record's fields as a broken-down time (tm_isdst unknown, -1).
std::tm brokenDown(const KPLPRC_DATETIME& t);
// A date-time record in range (years 70-137, i.e. 1970-2037, real calendar days).
bool validDate(const KPLPRC_DATETIME& t);

uint32_t crc32(const void* data, size_t size, uint32_t crc = 0);

// Sleeps `milliseconds` multiplied by the process time scale.
void sleepScaled(double milliseconds);

// Strict dotted IPv4 text: four decimal numbers 0-255, no leading zeros, nothing else.
bool isIpv4(const std::string& text, uint32_t* value = nullptr);
bool isNetmask(const std::string& text);

// A camera address, gateway and mask that a camera can take: the address a host of its subnet
// (not 0, loopback or multicast), the gateway another host of the same subnet. Null is invalid.
bool validNetworkParams(const char* ip, const char* gateway, const char* netmask);

// Splits paths joined by '|' (several firmware packages), dropping empty ones.
std::vector<std::string> splitPaths(const char* joined);

// Copies `text` into a fixed buffer, always NUL-terminated, truncated if needed.
void copyText(char* dst, size_t size, const std::string& text);

}  // namespace rudavado
