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

    int get_integer() const { return kind_ == kInteger ? number_.integer : 0; }
    double get_real() const { return kind_ == kReal ? number_.real : 0.0; }
    const std::string& get_text() const { return text_; }  // narrow text; empty for other kinds
    std::u16string get_wide_text() const;
    size_t wide_length() const { return kind_ == kWideString ? text_.size() / 2 : 0; }

    // Storage form of the text: 8-bit characters, or UTF-16LE bytes for wide text.
    const std::string& raw_text() const { return text_; }
    void set_raw_text(std::string bytes, bool wide);

private:
    uint8_t kind_ = kUndefined;
    union {
        int32_t integer;
        double real;
    } number_{0};
    std::string text_;
};

}  // namespace xlsbook
