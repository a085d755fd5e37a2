#include "util.h"

#include <unistd.h>
#ifdef _WIN32
#include <windows.h>
#else
#include <iconv.h>
#endif

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>
#include <vector>

#include "time_scale.h"

namespace rudavado {
namespace {

#ifdef _WIN32
// Code page 936 is the system's GB2312 (a superset of it, GBK).
const UINT kGb2312 = 936;

// Through UTF-16; false for bytes invalid in `from` or characters that `to` lacks.
bool convert(UINT to, UINT from, const std::string& in, std::string& out) {
    const int n =
        MultiByteToWideChar(from, MB_ERR_INVALID_CHARS, in.data(), static_cast<int>(in.size()), nullptr, 0);
    if (n <= 0) return false;
    std::wstring wide(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(from, MB_ERR_INVALID_CHARS, in.data(), static_cast<int>(in.size()), &wide[0], n);
    // CP_UTF8 takes neither the best-fit flag nor the used-default flag.
    const bool utf8 = to == CP_UTF8;
    BOOL used_default = FALSE;
    const DWORD flags = utf8 ? WC_ERR_INVALID_CHARS : WC_NO_BEST_FIT_CHARS;
    const int m =
        WideCharToMultiByte(to, flags, wide.data(), n, nullptr, 0, nullptr, utf8 ? nullptr : &used_default);
    if (m <= 0 || used_default) return false;
    out.assign(static_cast<size_t>(m), '\0');
    WideCharToMultiByte(to, flags, wide.data(), n, &out[0], m, nullptr, utf8 ? nullptr : &used_default);
    return !used_default;
}
#else
bool convert(const char* to, const char* from, const std::string& in, std::string& out) {
    iconv_t cd = iconv_open(to, from);
    if (cd == reinterpret_cast<iconv_t>(-1)) return false;
    std::vector<char> buffer(in.size() * 4 + 16);
    char* src = const_cast<char*>(in.data());
    size_t src_left = in.size();
    char* dst = buffer.data();
    size_t dst_left = buffer.size();
    size_t r = iconv(cd, &src, &src_left, &dst, &dst_left);
    iconv_close(cd);
    if (r == static_cast<size_t>(-1) || src_left != 0) return false;
    out.assign(buffer.data(), buffer.size() - dst_left);
    return true;
}
#endif

bool isAscii(const std::string& s) {
    for (unsigned char c : s) {
        if (c >= 0x80) return false;
    }
    return true;
}

// Paths arrive in the system's narrow code page, 936 (GBK, the superset of GB2312); the file
// system here names files in UTF-8. A path that is not valid GBK is tried as it is, since some
// callers hand over UTF-8 paths.
bool gbkPathToUtf8(const std::string& gbk, std::string& utf8) {
#ifdef _WIN32
    return convert(CP_UTF8, kGb2312, gbk, utf8);
#else
    return convert("UTF-8", "GBK", gbk, utf8);
#endif
}

std::vector<std::string> candidatePaths(const char* gb_path) {
    std::string raw(gb_path);
    if (isAscii(raw)) return {raw};
    std::string utf8;
    if (gbkPathToUtf8(raw, utf8) && utf8 != raw) return {utf8, raw};
    return {raw};
}

}  // namespace

bool isUtf8(const std::string& s) {
    size_t i = 0;
    while (i < s.size()) {
        unsigned char c = static_cast<unsigned char>(s[i]);
        size_t n;
        if (c < 0x80) {
            n = 0;
        } else if ((c >> 5) == 6) {
            n = 1;
        } else if ((c >> 4) == 14) {
            n = 2;
        } else if ((c >> 3) == 30) {
            n = 3;
        } else {
            return false;
        }
        if (n > 0 && i + n >= s.size()) return false;
        for (size_t k = 1; k <= n; ++k) {
            if ((static_cast<unsigned char>(s[i + k]) >> 6) != 2) return false;
        }
        i += n + 1;
    }
    return true;
}

bool utf8ToGb2312(const std::string& utf8, std::string& gb) {
    if (isAscii(utf8)) {
        gb = utf8;
        return true;
    }
#ifdef _WIN32
    return convert(kGb2312, CP_UTF8, utf8, gb);
#else
    return convert("GB2312", "UTF-8", utf8, gb);
#endif
}

bool gb2312ToUtf8(const std::string& gb, std::string& utf8) {
    if (isAscii(gb)) {
        utf8 = gb;
        return true;
    }
#ifdef _WIN32
    return convert(CP_UTF8, kGb2312, gb, utf8);
#else
    return convert("UTF-8", "GB2312", gb, utf8);
#endif
}

namespace {

// UTF-8 text as a path; Windows takes file names as UTF-16, not in the narrow code page.
bool utf8Path(const std::string& utf8, std::filesystem::path& path) {
    try {
        path = std::filesystem::u8path(utf8);
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

}  // namespace

bool readFile(const char* gb_path, std::string& content, size_t max_bytes, bool* too_large) {
    if (too_large != nullptr) *too_large = false;
    if (gb_path == nullptr || *gb_path == '\0') return false;
    for (const std::string& candidate : candidatePaths(gb_path)) {
        std::filesystem::path path;
        if (!utf8Path(candidate, path)) continue;
        // Folders, pipes and devices are not files a user picks; a pipe would block the call.
        std::error_code error;
        if (!std::filesystem::is_regular_file(path, error)) continue;
        const auto size = std::filesystem::file_size(path, error);
        if (error) continue;
        if (static_cast<unsigned long long>(size) > max_bytes) {
            if (too_large != nullptr) *too_large = true;
            return false;
        }
        std::ifstream in(path, std::ios::binary);
        if (!in) continue;
        content.assign(static_cast<size_t>(size), '\0');
        if (size > 0 && !in.read(&content[0], static_cast<std::streamsize>(size))) return false;
        return true;
    }
    return false;
}

bool writeFile(const char* gb_path, const std::string& content) {
    if (gb_path == nullptr || *gb_path == '\0') return false;
    const std::string name = candidatePaths(gb_path).front();
    std::ostringstream tmp_name;
    tmp_name << name << ".part" << ::getpid() << "_" << std::this_thread::get_id();
    std::filesystem::path path, tmp;
    if (!utf8Path(name, path) || !utf8Path(tmp_name.str(), tmp)) return false;
    {
        std::ofstream out(tmp, std::ios::binary | std::ios::trunc);
        if (!out) return false;
        out.write(content.data(), static_cast<std::streamsize>(content.size()));
        out.flush();
        if (!out) {
            out.close();
            std::error_code ignored;
            std::filesystem::remove(tmp, ignored);
            return false;
        }
    }
    // Replaces an existing file on Windows too, where the C library's rename refuses to.
    std::error_code error;
    std::filesystem::rename(tmp, path, error);
    if (error) {
        std::error_code ignored;
        std::filesystem::remove(tmp, ignored);
        return false;
    }
    return true;
}

uint32_t crc32(const void* data, size_t size, uint32_t crc) {
    static const auto table = [] {
        std::vector<uint32_t> t(256);
        for (uint32_t i = 0; i < 256; ++i) {
            uint32_t c = i;
            for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            t[i] = c;
        }
        return t;
    }();
    const unsigned char* p = static_cast<const unsigned char*>(data);
    crc = ~crc;
    for (size_t i = 0; i < size; ++i) crc = table[(crc ^ p[i]) & 0xFF] ^ (crc >> 8);
    return ~crc;
}

void sleepScaled(double milliseconds) {
    if (milliseconds <= 0) return;
    long long us = scaledMicroseconds(milliseconds);
    if (us > 0) std::this_thread::sleep_for(std::chrono::microseconds(us));
}

bool isIpv4(const std::string& text, uint32_t* value) {
    uint32_t result = 0;
    size_t pos = 0;
    for (int part = 0; part < 4; ++part) {
        if (part > 0) {
            if (pos >= text.size() || text[pos] != '.') return false;
            ++pos;
        }
        size_t start = pos;
        unsigned n = 0;
        while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9' && pos - start < 3) {
            n = n * 10 + static_cast<unsigned>(text[pos] - '0');
            ++pos;
        }
        size_t len = pos - start;
        if (len == 0 || n > 255 || (len > 1 && text[start] == '0')) return false;
        result = (result << 8) | n;
    }
    if (pos != text.size()) return false;
    if (value) *value = result;
    return true;
}

bool isNetmask(const std::string& text) {
    uint32_t v = 0;
    if (!isIpv4(text, &v) || v == 0) return false;
    uint32_t inverted = ~v;
    return (inverted & (inverted + 1)) == 0;  // ones, then zeros
}

void copyText(char* dst, size_t size, const std::string& text) {
    if (dst == nullptr || size == 0) return;
    size_t n = text.size() < size - 1 ? text.size() : size - 1;
    std::memcpy(dst, text.data(), n);
    dst[n] = '\0';
}

bool validDate(const KPLPRC_DATETIME& t) {
    static const int kDays[12] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (t.year < 70 || t.year > 137 || t.month < 0 || t.month > 11) return false;
    const int y = t.year + 1900;
    const bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
    const int days = t.month == 1 && !leap ? 28 : kDays[t.month];
    return t.day >= 1 && t.day <= days && t.hour >= 0 && t.hour <= 23 && t.minute >= 0 && t.minute <= 59 &&
           t.second >= 0 && t.second <= 59;
}

std::tm brokenDown(const KPLPRC_DATETIME& t) {
    std::tm tm{};
    tm.tm_year = t.year;
    tm.tm_mon = t.month;
    tm.tm_mday = t.day;
    tm.tm_hour = t.hour;
    tm.tm_min = t.minute;
    tm.tm_sec = t.second;
    tm.tm_isdst = -1;
    return tm;
}

std::vector<std::string> splitPaths(const char* joined) {
    std::vector<std::string> out;
    std::string all(joined);
    size_t start = 0;
    while (start <= all.size()) {
        size_t end = all.find('|', start);
        if (end == std::string::npos) end = all.size();
        if (end > start) out.push_back(all.substr(start, end - start));
        start = end + 1;
    }
    return out;
}

bool validNetworkParams(const char* ip, const char* gateway, const char* netmask) {
    uint32_t address = 0, gw = 0, mask = 0;
    if (ip == nullptr || gateway == nullptr || netmask == nullptr || !isIpv4(ip, &address) ||
        !isIpv4(gateway, &gw) || !isNetmask(netmask)) {
        return false;
    }
    isIpv4(netmask, &mask);
    const uint32_t host = address & ~mask;
    return !(host == 0 || host == ~mask || (gw & mask) != (address & mask) || gw == address ||
             (gw & ~mask) == 0 || (gw & ~mask) == ~mask || (address >> 24) == 0 || (address >> 24) == 127 ||
             (address >> 24) >= 224);
}

}  // namespace rudavado
