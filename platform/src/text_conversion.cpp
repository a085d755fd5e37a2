// Code-page conversions. The "ANSI code page" of this system is UTF-8; wide strings hold
// UTF-16 code units in wchar_t, so lengths match what the Windows calls report.
#include <windows.h>

#include <QString>
#include <cerrno>
#include <cstring>
#include <vector>

namespace {

QString fromWide(const wchar_t* text, size_t units) {
    std::vector<char16_t> utf16(units);
    for (size_t i = 0; i < units; ++i) utf16[i] = static_cast<char16_t>(text[i] & 0xFFFF);
    return QString::fromUtf16(utf16.data(), static_cast<int>(units));
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
    const QString text = QString::fromUtf8(lpMultiByteStr, bytes);
    const int needed = text.size() + (terminated ? 1 : 0);
    if (cchWideChar == 0) return needed;
    if (!lpWideCharStr || cchWideChar < needed) return 0;  // ERROR_INSUFFICIENT_BUFFER
    for (int i = 0; i < text.size(); ++i) lpWideCharStr[i] = static_cast<wchar_t>(text.at(i).unicode());
    if (terminated) lpWideCharStr[text.size()] = 0;
    return needed;
}

int WideCharToMultiByte(UINT, DWORD, LPCWSTR lpWideCharStr, int cchWideChar, LPSTR lpMultiByteStr,
                        int cbMultiByte, LPCSTR, BOOL* lpUsedDefaultChar) {
    if (lpUsedDefaultChar) *lpUsedDefaultChar = FALSE;
    if (!lpWideCharStr || cchWideChar == 0 || cbMultiByte < 0) return 0;
    const bool terminated = cchWideChar < 0;
    const size_t units =
        terminated ? wideLength(lpWideCharStr, static_cast<size_t>(-1)) : static_cast<size_t>(cchWideChar);
    const QByteArray bytes = fromWide(lpWideCharStr, units).toUtf8();
    const int needed = bytes.size() + (terminated ? 1 : 0);
    if (cbMultiByte == 0) return needed;
    if (!lpMultiByteStr || cbMultiByte < needed) return 0;
    std::memcpy(lpMultiByteStr, bytes.constData(), static_cast<size_t>(bytes.size()));
    if (terminated) lpMultiByteStr[bytes.size()] = 0;
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
    const QString text = fromWide(wcstr, units);
    QByteArray bytes = text.toUtf8();
    if (mbstr == nullptr) {  // size query
        if (pReturnValue) *pReturnValue = static_cast<size_t>(bytes.size()) + 1;
        return 0;
    }
    if (static_cast<size_t>(bytes.size()) + 1 > sizeInBytes) {
        if (count != _TRUNCATE) {
            mbstr[0] = 0;
            return ERANGE;
        }
        // Keep whole characters only.
        int keep = 0;
        for (int i = 0; i < text.size(); ++i) {
            const int step = (text.at(i).isHighSurrogate() && i + 1 < text.size()) ? 2 : 1;
            const int len = text.mid(i, step).toUtf8().size();
            if (static_cast<size_t>(keep + len) + 1 > sizeInBytes) break;
            keep += len;
            i += step - 1;
        }
        std::memcpy(mbstr, bytes.constData(), static_cast<size_t>(keep));
        mbstr[keep] = 0;
        if (pReturnValue) *pReturnValue = static_cast<size_t>(keep) + 1;
        return 80;  // STRUNCATE
    }
    std::memcpy(mbstr, bytes.constData(), static_cast<size_t>(bytes.size()));
    mbstr[bytes.size()] = 0;
    if (pReturnValue) *pReturnValue = static_cast<size_t>(bytes.size()) + 1;
    return 0;
}
