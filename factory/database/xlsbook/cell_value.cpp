#include "cell_value.h"

#include <windows.h>

#include <cstring>
#include <vector>

#ifndef MB_COMPOSITE
#define MB_COMPOSITE 0x00000002
#endif

namespace xlsbook {

namespace {

// Whether UTF-16LE `bytes` has no unit above 0xFF, so that it can be held one byte per unit.
bool fits_8bit(std::string_view bytes) {
    for (size_t i = 1; i < bytes.size(); i += 2)
        if (bytes[i] != 0) return false;
    return true;
}

}  // namespace

CellValue::CellValue(const CellValue& other) : kind_(other.kind_), compact_(other.compact_) {
    if (other.on_heap()) {
        heap_ = new char[other.size_];
        std::memcpy(heap_, other.heap_, other.size_);
    } else {
        std::memcpy(inline_, other.inline_, kInline);
    }
    size_ = other.size_;
}

CellValue::CellValue(CellValue&& other) noexcept
    : size_(other.size_), kind_(other.kind_), compact_(other.compact_) {
    std::memcpy(inline_, other.inline_, kInline);  // the heap pointer, when there is one
    other.size_ = 0;
    other.kind_ = kUndefined;
    other.compact_ = false;
}

CellValue& CellValue::operator=(const CellValue& other) {
    if (this != &other) *this = CellValue(other);
    return *this;
}

CellValue& CellValue::operator=(CellValue&& other) noexcept {
    if (this == &other) return *this;
    release();
    std::memcpy(inline_, other.inline_, kInline);
    size_ = other.size_;
    kind_ = other.kind_;
    compact_ = other.compact_;
    other.size_ = 0;
    other.kind_ = kUndefined;
    other.compact_ = false;
    return *this;
}

void CellValue::release() {
    if (on_heap()) delete[] heap_;
    size_ = 0;
}

char* CellValue::make_room(size_t size) {
    release();
    size_ = static_cast<uint32_t>(size);
    if (!on_heap()) return inline_;
    heap_ = new char[size];
    return heap_;
}

void CellValue::clear() {
    release();
    kind_ = kUndefined;
    compact_ = false;
}

void CellValue::set_integer(int value) {
    clear();
    kind_ = kInteger;
    std::memcpy(inline_, &value, sizeof value);
}

void CellValue::set_real(double value) {
    clear();
    kind_ = kReal;
    std::memcpy(inline_, &value, sizeof value);
}

double CellValue::get_real() const {
    double value = 0.0;
    if (kind_ == kReal) std::memcpy(&value, inline_, sizeof value);
    return value;
}

void CellValue::set_text(const std::string& text) {
    clear();
    if (text.empty()) return;
    kind_ = kString;
    std::memcpy(make_room(text.size()), text.data(), text.size());
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
    std::u16string utf16(wide.size(), u'\0');
    for (size_t i = 0; i < wide.size(); ++i) utf16[i] = static_cast<char16_t>(wide[i] & 0xFFFF);
    set_wide_text(utf16);
}

void CellValue::set_wide_text(const std::u16string& text) {
    clear();
    kind_ = kWideString;
    bool narrow = true;
    for (char16_t unit : text) narrow = narrow && unit < 0x100;
    if (narrow) {
        char* p = make_room(text.size());
        for (size_t i = 0; i < text.size(); ++i) p[i] = static_cast<char>(text[i]);
        compact_ = true;
        return;
    }
    char* p = make_room(text.size() * 2);
    for (size_t i = 0; i < text.size(); ++i) {
        p[2 * i] = static_cast<char>(text[i] & 0xFF);
        p[2 * i + 1] = static_cast<char>(text[i] >> 8);
    }
}

std::u16string CellValue::get_wide_text() const {
    std::u16string out;
    if (kind_ != kWideString) return out;
    const char* p = data();
    if (compact_) {
        out.resize(size_);
        for (size_t i = 0; i < size_; ++i) out[i] = static_cast<unsigned char>(p[i]);
        return out;
    }
    out.resize(size_ / 2);
    for (size_t i = 0; i < out.size(); ++i)
        out[i] = static_cast<char16_t>(static_cast<unsigned char>(p[2 * i]) |
                                       (static_cast<unsigned char>(p[2 * i + 1]) << 8));
    return out;
}

void CellValue::set_raw_text(std::string_view bytes, bool wide, bool compact) {
    if (on_heap() && bytes.data() >= heap_ && bytes.data() < heap_ + size_) {
        // The cell's own text: copied before its storage goes.
        set_raw_text(std::string(bytes), wide, compact);
        return;
    }
    clear();
    kind_ = wide ? kWideString : kString;
    if (wide && !compact && fits_8bit(bytes)) {
        char* p = make_room(bytes.size() / 2);
        for (size_t i = 0; 2 * i + 1 < bytes.size(); ++i) p[i] = bytes[2 * i];
        compact_ = true;
        return;
    }
    if (!bytes.empty()) std::memmove(make_room(bytes.size()), bytes.data(), bytes.size());
    compact_ = wide && compact;
}

}  // namespace xlsbook
