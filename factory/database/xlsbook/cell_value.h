// One cell of a worksheet: undefined, a 32-bit integer, a double, narrow text or wide text.
//
// Narrow text holds 8-bit characters as a workbook stores them (each byte is one character,
// the low byte of its UTF-16 code); wide text holds UTF-16 code units.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

namespace xlsbook {

class CellValue {
public:
    enum Kind : int { kUndefined = 0, kInteger = 1, kReal = 2, kString = 3, kWideString = 4 };

    CellValue() = default;
    CellValue(const CellValue& other);
    CellValue(CellValue&& other) noexcept;
    CellValue& operator=(const CellValue& other);
    CellValue& operator=(CellValue&& other) noexcept;
    ~CellValue() { release(); }

    int kind() const { return kind_; }

    void clear();
    void set_integer(int value);
    void set_real(double value);
    // An empty text makes the cell undefined.
    void set_text(const std::string& text);
    // Converts from the process's ANSI code page; an empty text gives an empty wide string.
    void set_text_from_ansi(const std::string& text);
    void set_wide_text(const std::u16string& text);

    // Wide text whose code units all fit in 8 bits is held one byte per unit ("compact"), which
    // keeps typical addresses and passwords inside the cell itself.
    int get_integer() const {
        int value = 0;
        if (kind_ == kInteger) std::memcpy(&value, inline_, sizeof value);
        return value;
    }
    double get_real() const;
    std::string get_text() const { return std::string(raw_text()); }  // empty for numbers
    std::u16string get_wide_text() const;
    size_t wide_length() const { return kind_ == kWideString ? (compact_ ? size_ : size_ / 2) : 0; }

    // Storage form of the text: 8-bit characters, or for wide text UTF-16LE bytes or, when
    // compact(), one byte per unit. Equal texts of one kind have equal storage. Valid until the
    // cell changes.
    std::string_view raw_text() const {
        return is_text() ? std::string_view(data(), size_) : std::string_view();
    }
    bool compact() const { return compact_; }
    // A text of at most kCellTextBytes bytes is held in the cell itself, and that many bytes
    // can be read at raw_text().data() whatever its length: a save copies them in one step.
    static constexpr size_t kCellTextBytes = 16;
    bool text_in_cell() const { return is_text() && !on_heap(); }
    // `bytes` as stored: UTF-16LE for wide text unless `compact` says one byte per unit.
    void set_raw_text(std::string_view bytes, bool wide, bool compact = false);
    // The same for text at `bytes` past whose end kCellTextBytes more bytes can be read: a short
    // text is then copied into the cell in one fixed-size step.
    void set_raw_text_with_slack(std::string_view bytes, bool wide, bool compact) {
        if (bytes.size() > kInline || on_heap() || (wide && !compact))
            return set_raw_text(bytes, wide, compact);
        std::memcpy(inline_, bytes.data(), kInline);
        size_ = static_cast<uint32_t>(bytes.size());
        kind_ = wide ? kWideString : kString;
        compact_ = wide;
    }

private:
    // A sheet holds a cell per column of every row: texts up to this long (an address, a user
    // name, most passwords) and numbers live in the cell, which then takes 24 bytes in all.
    static constexpr size_t kInline = kCellTextBytes;

    bool is_text() const { return kind_ == kString || kind_ == kWideString; }
    bool on_heap() const { return size_ > kInline; }
    const char* data() const { return on_heap() ? heap_ : inline_; }
    void release();
    // Room for `size` bytes of text, the old content gone.
    char* make_room(size_t size);

    union {
        char inline_[kInline] = {};
        char* heap_;
    };
    uint32_t size_ = 0;  // text bytes; 0 for numbers, whose bytes sit in inline_
    uint8_t kind_ = kUndefined;
    bool compact_ = false;
};

}  // namespace xlsbook
