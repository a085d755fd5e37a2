// The records of a worksheet's cell table ([MS-XLS] 2.4). A sheet holds tens of thousands of
// them, so none is kept as an object: each class names its record and writes its data straight
// into the stream being built, or reads it from a record's bytes. Every cell record starts with
// row (2), column (2) and XF index (2).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "records.h"

namespace xlsbook {

// The cell writers fill memory the caller has sized for a whole row block, and are inline: a
// save writes hundreds of thousands of cells, and a call or an append cost more than the cell.

// A cell record of 10 data bytes ending in a 32-bit value (RK, LabelSST).
inline void write_cell32(uint8_t* r, uint16_t code, size_t row, size_t column, uint32_t value) {
    set16(r, code);
    set16(r + 2, 10);
    set16(r + 4, static_cast<uint32_t>(row));
    set16(r + 6, static_cast<uint32_t>(column));
    set16(r + 8, 0);  // XF index
    set32(r + 10, value);
}

struct CellHeader {
    uint16_t row = 0;
    uint16_t column = 0;
    uint16_t xf = 0;
    static bool parse(const uint8_t* d, size_t n, CellHeader& out);
};

class Row : public Record {
public:
    static constexpr uint16_t kCode = code::kRow;
    static constexpr size_t kSize = 4 + 16;
    // First column 0, height 255 twips, no options. Fills kSize bytes at `r`.
    static void write(uint8_t* r, size_t row, size_t columns) {
        std::memset(r, 0, kSize);  // reserved and options stay zero
        set16(r, kCode);
        set16(r + 2, 16);
        set16(r + 4, static_cast<uint32_t>(row));
        set16(r + 8, static_cast<uint32_t>(columns));
        set16(r + 10, 255);  // height in twips
    }
};

class DBCell : public Record {
public:
    static constexpr uint16_t kCode = code::kDBCell;
    // `first_row_back`: from this record back to the block's first Row; `first_cells`: offset of
    // each row's first cell record, the first from the end of the first Row record, each later
    // one from the previous row's first cell.
    static void write(ByteBuffer& out, uint32_t first_row_back, const std::vector<uint16_t>& first_cells);
};

class Blank : public Record {
public:
    static constexpr uint16_t kCode = code::kBlank;
};

class MulBlank : public Record {
public:
    static constexpr uint16_t kCode = code::kMulBlank;
};

class RK : public Record {
public:
    static constexpr uint16_t kCode = code::kRK;
    static constexpr size_t kSize = 4 + 10;
    static void write(uint8_t* p, size_t row, size_t column, uint32_t value) {
        write_cell32(p, kCode, row, column, value);
    }
    static bool parse(const uint8_t* d, size_t n, CellHeader& cell, uint32_t& value);
};

class MulRK : public Record {
public:
    static constexpr uint16_t kCode = code::kMulRK;
    static constexpr size_t size(size_t values) { return 4 + 6 + 6 * values; }
    static void write(uint8_t* p, size_t row, size_t first_column, const std::vector<uint32_t>& values);
    // Number of (XF, RK) pairs in a record of n data bytes; value(i) is the i-th RK.
    static size_t count(size_t n) { return n >= 6 ? (n - 6) / 6 : 0; }
    static uint32_t value(const uint8_t* d, size_t i);
};

class Number : public Record {
public:
    static constexpr uint16_t kCode = code::kNumber;
    static constexpr size_t kSize = 4 + 14;
    static void write(uint8_t* p, size_t row, size_t column, double value);
    static bool parse(const uint8_t* d, size_t n, CellHeader& cell, double& value);
};

class LabelSST : public Record {
public:
    static constexpr uint16_t kCode = code::kLabelSST;
    static constexpr size_t kSize = 4 + 10;
    static void write(uint8_t* p, size_t row, size_t column, uint32_t index) {
        write_cell32(p, kCode, row, column, index);
    }
    static bool parse(const uint8_t* d, size_t n, CellHeader& cell, uint32_t& index);
};

class BoolErr : public Record {
public:
    static constexpr uint16_t kCode = code::kBoolErr;
    // Some writers make this record longer than 8 bytes; the extra bytes are ignored.
    static bool parse(const uint8_t* d, size_t n, CellHeader& cell, uint8_t& value, bool& is_error);
};

// A formula's cached result; the formula itself is not kept.
class Formula : public Record {
public:
    static constexpr uint16_t kCode = code::kFormula;
    enum class Result { number, text, boolean, none };
    static bool parse(const uint8_t* d, size_t n, CellHeader& cell, Result& kind, double& number, bool& flag);
};

class Array : public Record {
public:
    static constexpr uint16_t kCode = code::kArray;
};
class ShrFmla : public Record {
public:
    static constexpr uint16_t kCode = code::kShrFmla;
};
class ShrFmla1 : public Record {
public:
    static constexpr uint16_t kCode = code::kShrFmla1;
};
class Table : public Record {
public:
    static constexpr uint16_t kCode = code::kTable;
};

// An XLUnicodeString ([MS-XLS] 2.5.294): the text of String, Label and RString records.
bool parse_unicode_string(const uint8_t* p, size_t size, std::string& chars, bool& wide);

// The text result of the formula before it.
class String : public Record {
public:
    static constexpr uint16_t kCode = code::kString;
};

}  // namespace xlsbook
