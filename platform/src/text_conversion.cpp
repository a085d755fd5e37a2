// Code-page conversions. The "ANSI code page" of this system is UTF-8; wide strings hold
// UTF-16 code units in wchar_t, so lengths match what the Windows calls report.
#include <windows.h>

#include <cerrno>
#include <cstring>
#include <string>

namespace {

const char32_t kReplacement = 0xFFFD;

// Decodes one UTF-8 sequence at text[i]; a malformed one yields U+FFFD for its first byte, as
// the Windows call does without MB_ERR_INVALID_CHARS.
char32_t decodeUtf8(const unsigned char* text, size_t size, size_t& i) {
    const unsigned char lead = text[i++];
    if (lead < 0x80) return lead;
    int more;
    char32_t cp;
    if ((lead & 0xE0) == 0xC0) {
        more = 1;
        cp = lead & 0x1F;
    } else if ((lead & 0xF0) == 0xE0) {
        more = 2;
        cp = lead & 0x0F;
    } else if ((lead & 0xF8) == 0xF0) {
        more = 3;
        cp = lead & 0x07;
    } else {
        return kReplacement;
    }
    if (i + static_cast<size_t>(more) > size) return kReplacement;
    for (int k = 0; k < more; ++k) {
        if ((text[i + static_cast<size_t>(k)] & 0xC0) != 0x80) return kReplacement;
        cp = (cp << 6) | (text[i + static_cast<size_t>(k)] & 0x3F);
    }
    static const char32_t kMinimum[] = {0, 0x80, 0x800, 0x10000};
    if (cp < kMinimum[more] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return kReplacement;
    i += static_cast<size_t>(more);
    return cp;
}

std::u16string utf16FromUtf8(const char* text, size_t size) {
    std::u16string out;
    out.reserve(size);
    const auto* bytes = reinterpret_cast<const unsigned char*>(text);
    for (size_t i = 0; i < size;) {
        const char32_t cp = decodeUtf8(bytes, size, i);
        if (cp >= 0x10000) {
            out.push_back(static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(cp));
        }
    }
    return out;
}

// Reads the code point at wide[i] (a surrogate pair counts as one); a lone surrogate is U+FFFD.
char32_t decodeUtf16(const wchar_t* wide, size_t units, size_t& i) {
    const char32_t unit = static_cast<char32_t>(wide[i++] & 0xFFFF);
    if (unit < 0xD800 || unit > 0xDFFF) return unit;
    if (unit <= 0xDBFF && i < units) {
        const char32_t low = static_cast<char32_t>(wide[i] & 0xFFFF);
        if (low >= 0xDC00 && low <= 0xDFFF) {
            ++i;
            return 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00);
        }
    }
    return kReplacement;
}

void appendUtf8(std::string& out, char32_t cp) {
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

// Converts up to `units` UTF-16 units; stops before a character that would make the result
// longer than max_bytes.
std::string utf8FromUtf16(const wchar_t* wide, size_t units, size_t max_bytes = std::string::npos) {
    std::string out;
    std::string one;
    for (size_t i = 0; i < units;) {
        one.clear();
        appendUtf8(one, decodeUtf16(wide, units, i));
        if (out.size() + one.size() > max_bytes) break;
        out += one;
    }
    return out;
}

size_t wideLength(const wchar_t* text, size_t limit) {
    size_t n = 0;
    while (n < limit && text[n] != 0) ++n;
    return n;
}

}  // namespace

int MultiByteToWideChar(UINT, DWORD, LPCSTR lpMultiByteStr, int cbMultiByte, LPWSTR lpWideCharStr,
                        int cchWideChar) {
    if (!lpMultiByteStr || cbMultiByte == 0 || cchWideChar < 0) return 0;
    const bool terminated = cbMultiByte < 0;
    const int bytes = terminated ? static_cast<int>(std::strlen(lpMultiByteStr)) : cbMultiByte;
    const std::u16string text = utf16FromUtf8(lpMultiByteStr, static_cast<size_t>(bytes));
    const int size = static_cast<int>(text.size());
    const int needed = size + (terminated ? 1 : 0);
    if (cchWideChar == 0) return needed;
    if (!lpWideCharStr || cchWideChar < needed) return 0;  // ERROR_INSUFFICIENT_BUFFER
    for (int i = 0; i < size; ++i) lpWideCharStr[i] = static_cast<wchar_t>(text[static_cast<size_t>(i)]);
    if (terminated) lpWideCharStr[size] = 0;
    return needed;
}

int WideCharToMultiByte(UINT, DWORD, LPCWSTR lpWideCharStr, int cchWideChar, LPSTR lpMultiByteStr,
                        int cbMultiByte, LPCSTR, BOOL* lpUsedDefaultChar) {
    if (lpUsedDefaultChar) *lpUsedDefaultChar = FALSE;
    if (!lpWideCharStr || cchWideChar == 0 || cbMultiByte < 0) return 0;
    const bool terminated = cchWideChar < 0;
    const size_t units =
        terminated ? wideLength(lpWideCharStr, static_cast<size_t>(-1)) : static_cast<size_t>(cchWideChar);
    const std::string bytes = utf8FromUtf16(lpWideCharStr, units);
    const int size = static_cast<int>(bytes.size());
    const int needed = size + (terminated ? 1 : 0);
    if (cbMultiByte == 0) return needed;
    if (!lpMultiByteStr || cbMultiByte < needed) return 0;
    std::memcpy(lpMultiByteStr, bytes.data(), bytes.size());
    if (terminated) lpMultiByteStr[size] = 0;
    return needed;
}

errno_t wcstombs_s(size_t* pReturnValue, char* mbstr, size_t sizeInBytes, const wchar_t* wcstr,
                   size_t count) {
    if (pReturnValue) *pReturnValue = 0;
    if (!wcstr || (mbstr == nullptr && sizeInBytes > 0) || (mbstr != nullptr && sizeInBytes == 0)) {
        if (mbstr && sizeInBytes > 0) mbstr[0] = 0;
        return EINVAL;
    }
    const size_t units = wideLength(wcstr, count == _TRUNCATE ? static_cast<size_t>(-1) : count);
    const std::string bytes = utf8FromUtf16(wcstr, units);
    if (mbstr == nullptr) {  // size query
        if (pReturnValue) *pReturnValue = bytes.size() + 1;
        return 0;
    }
    if (bytes.size() + 1 > sizeInBytes) {
        if (count != _TRUNCATE) {
            mbstr[0] = 0;
            return ERANGE;
        }
        // Keep whole characters only.
        const std::string kept = utf8FromUtf16(wcstr, units, sizeInBytes - 1);
        std::memcpy(mbstr, kept.data(), kept.size());
        mbstr[kept.size()] = 0;
        if (pReturnValue) *pReturnValue = kept.size() + 1;
        return 80;  // STRUNCATE
    }
    std::memcpy(mbstr, bytes.data(), bytes.size());
    mbstr[bytes.size()] = 0;
    if (pReturnValue) *pReturnValue = bytes.size() + 1;
    return 0;
}
