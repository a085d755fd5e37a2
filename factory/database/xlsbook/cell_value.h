// One cell of a worksheet: undefined, a 32-bit integer, a double, narrow text or wide text.
//
// Narrow text holds 8-bit characters as a workbook stores them (each byte is one character,
// the low byte of its UTF-16 code); wide text holds UTF-16 code units.
#pragma once

#include <cstdint>
#include <string>

namespace xlsbook {

class CellValue {
public:
    enum Kind : int { kUndefined = 0, kInteger = 1, kReal = 2, kString = 3, kWideString = 4 };

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
    // keeps typical addresses and passwords inside the string object itself.
    int get_integer() const;
    double get_real() const;
    const std::string& get_text() const { return is_text() ? text_ : no_text(); }  // empty for numbers
    std::u16string get_wide_text() const;
    size_t wide_length() const {
        return kind_ == kWideString ? (compact_ ? text_.size() : text_.size() / 2) : 0;
    }

    // Storage form of the text: 8-bit characters, or for wide text UTF-16LE bytes or, when
    // compact(), one byte per unit. Equal texts of one kind have equal storage.
    const std::string& raw_text() const { return is_text() ? text_ : no_text(); }
    bool compact() const { return compact_; }
    // `bytes` as stored: UTF-16LE for wide text unless `compact` says one byte per unit.
    void set_raw_text(std::string bytes, bool wide, bool compact = false);

private:
    bool is_text() const { return kind_ == kString || kind_ == kWideString; }
    static const std::string& no_text();

    // A number's bytes are kept in text_ as well: a sheet holds a cell per column of every row,
    // and without a separate number field a cell takes 40 bytes instead of 48.
    std::string text_;
    uint8_t kind_ = kUndefined;
    bool compact_ = false;
};

// Turns UTF-16LE bytes into one byte per unit when every unit is below 0x100; true if it did.
bool compact_utf16le(std::string& bytes);

}  // namespace xlsbook
