#include "cell_value.h"

#include <windows.h>

#include <cstring>
#include <vector>

#ifndef MB_COMPOSITE
#define MB_COMPOSITE 0x00000002
#endif

namespace xlsbook {

bool compact_utf16le(std::string& bytes) {
    for (size_t i = 1; i < bytes.size(); i += 2)
        if (bytes[i] != 0) return false;
    for (size_t i = 0; 2 * i < bytes.size(); ++i) bytes[i] = bytes[2 * i];
    bytes.resize(bytes.size() / 2);
    bytes.shrink_to_fit();
    return true;
}

const std::string& CellValue::no_text() {
    static const std::string empty;
    return empty;
}

void CellValue::clear() {
    kind_ = kUndefined;
    compact_ = false;
    std::string().swap(text_);
}

void CellValue::set_integer(int value) {
    clear();
    kind_ = kInteger;
    text_.assign(reinterpret_cast<const char*>(&value), sizeof value);
}

void CellValue::set_real(double value) {
    clear();
    kind_ = kReal;
    text_.assign(reinterpret_cast<const char*>(&value), sizeof value);
}

int CellValue::get_integer() const {
    int value = 0;
    if (kind_ == kInteger) std::memcpy(&value, text_.data(), sizeof value);
    return value;
}

double CellValue::get_real() const {
    double value = 0.0;
    if (kind_ == kReal) std::memcpy(&value, text_.data(), sizeof value);
    return value;
}

void CellValue::set_text(const std::string& text) {
    clear();
    if (text.empty()) return;
    kind_ = kString;
    text_ = text;
}

void CellValue::set_text_from_ansi(const std::string& text) {
    clear();
    kind_ = kWideString;
    if (text.empty()) return;
    const int units =
        MultiByteToWideChar(CP_ACP, MB_COMPOSITE, text.data(), static_cast<int>(text.size()), nullptr, 0);
    if (units <= 0) return;
    std::vector<wchar_t> wide(static_cast<size_t>(units));
    MultiByteToWideChar(CP_ACP, MB_COMPOSITE, text.data(), static_cast<int>(text.size()), wide.data(), units);
    text_.resize(wide.size() * 2);
    for (size_t i = 0; i < wide.size(); ++i) {
        text_[2 * i] = static_cast<char>(wide[i] & 0xFF);
        text_[2 * i + 1] = static_cast<char>((wide[i] >> 8) & 0xFF);
    }
    compact_ = compact_utf16le(text_);
}

void CellValue::set_wide_text(const std::u16string& text) {
    clear();
    kind_ = kWideString;
    text_.resize(text.size() * 2);
    for (size_t i = 0; i < text.size(); ++i) {
        text_[2 * i] = static_cast<char>(text[i] & 0xFF);
        text_[2 * i + 1] = static_cast<char>(text[i] >> 8);
    }
    compact_ = compact_utf16le(text_);
}

std::u16string CellValue::get_wide_text() const {
    std::u16string out;
    if (kind_ != kWideString) return out;
    if (compact_) {
        for (unsigned char c : text_) out.push_back(c);
        return out;
    }
    out.resize(text_.size() / 2);
    for (size_t i = 0; i < out.size(); ++i)
        out[i] = static_cast<char16_t>(static_cast<unsigned char>(text_[2 * i]) |
                                       (static_cast<unsigned char>(text_[2 * i + 1]) << 8));
    return out;
}

void CellValue::set_raw_text(std::string bytes, bool wide, bool compact) {
    clear();
    kind_ = wide ? kWideString : kString;
    text_ = std::move(bytes);
    if (wide) compact_ = compact || compact_utf16le(text_);
}

}  // namespace xlsbook
