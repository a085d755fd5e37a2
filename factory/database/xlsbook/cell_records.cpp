#include "cell_records.h"

#include "byte_order.h"

namespace xlsbook {

namespace {

void header(std::vector<uint8_t>& out, uint16_t code, size_t size, size_t row, size_t column) {
    put16(out, code);
    put16(out, static_cast<uint32_t>(size));
    put16(out, static_cast<uint32_t>(row));
    put16(out, static_cast<uint32_t>(column));
    put16(out, 0);  // XF index
}

}  // namespace

bool CellHeader::parse(const uint8_t* d, size_t n, CellHeader& out) {
    if (n < 6) return false;
    out.row = get16(d);
    out.column = get16(d + 2);
    out.xf = get16(d + 4);
    return true;
}

void Row::write(std::vector<uint8_t>& out, size_t row, size_t columns) {
    put16(out, kCode);
    put16(out, 16);
    put16(out, static_cast<uint32_t>(row));
    put16(out, 0);
    put16(out, static_cast<uint32_t>(columns));
    put16(out, 255);  // height in twips
    put32(out, 0);    // reserved
    put32(out, 0);    // options
}

void DBCell::write(std::vector<uint8_t>& out, uint32_t first_row_back,
                   const std::vector<uint16_t>& first_cells) {
    put16(out, kCode);
    put16(out, static_cast<uint32_t>(4 + 2 * first_cells.size()));
    put32(out, first_row_back);
    for (uint16_t offset : first_cells) put16(out, offset);
}

void RK::write(std::vector<uint8_t>& out, size_t row, size_t column, uint32_t value) {
    header(out, kCode, 10, row, column);
    put32(out, value);
}

bool RK::parse(const uint8_t* d, size_t n, CellHeader& cell, uint32_t& value) {
    if (n < 10 || !CellHeader::parse(d, n, cell)) return false;
    value = get32(d + 6);
    return true;
}

void MulRK::write(std::vector<uint8_t>& out, size_t row, size_t first_column,
                  const std::vector<uint32_t>& values) {
    put16(out, kCode);
    put16(out, static_cast<uint32_t>(6 + 6 * values.size()));
    put16(out, static_cast<uint32_t>(row));
    put16(out, static_cast<uint32_t>(first_column));
    for (uint32_t value : values) {
        put16(out, 0);  // XF index
        put32(out, value);
    }
    put16(out, static_cast<uint32_t>(first_column + values.size() - 1));
}

uint32_t MulRK::value(const uint8_t* d, size_t i) { return get32(d + 4 + 6 * i + 2); }

void Number::write(std::vector<uint8_t>& out, size_t row, size_t column, double value) {
    header(out, kCode, 14, row, column);
    put_double(out, value);
}

bool Number::parse(const uint8_t* d, size_t n, CellHeader& cell, double& value) {
    if (n < 14 || !CellHeader::parse(d, n, cell)) return false;
    value = get_double(d + 6);
    return true;
}

void LabelSST::write(std::vector<uint8_t>& out, size_t row, size_t column, uint32_t index) {
    header(out, kCode, 10, row, column);
    put32(out, index);
}

bool LabelSST::parse(const uint8_t* d, size_t n, CellHeader& cell, uint32_t& index) {
    if (n < 10 || !CellHeader::parse(d, n, cell)) return false;
    index = get32(d + 6);
    return true;
}

bool BoolErr::parse(const uint8_t* d, size_t n, CellHeader& cell, uint8_t& value, bool& is_error) {
    if (n < 8 || !CellHeader::parse(d, n, cell)) return false;
    value = d[6];
    is_error = d[7] != 0;
    return true;
}

bool Formula::parse(const uint8_t* d, size_t n, CellHeader& cell, Result& kind, double& number, bool& flag) {
    if (n < 14 || !CellHeader::parse(d, n, cell)) return false;
    // [MS-XLS] FormulaValue: 0xFFFF in the last two bytes marks a non-number result whose
    // kind is in the first byte.
    if (get16(d + 12) != 0xFFFF) {
        kind = Result::number;
        number = get_double(d + 6);
        return true;
    }
    switch (d[6]) {
        case 0:
            kind = Result::text;
            break;
        case 1:
            kind = Result::boolean;
            flag = d[8] != 0;
            break;
        default:  // error, or empty text
            kind = Result::none;
            break;
    }
    return true;
}

bool parse_unicode_string(const uint8_t* p, size_t size, std::string& chars, bool& wide) {
    if (size < 3) return false;
    const size_t count = get16(p);
    wide = (p[2] & 1) != 0;
    const size_t bytes = wide ? count * 2 : count;
    if (3 + bytes > size) return false;
    chars.assign(reinterpret_cast<const char*>(p + 3), bytes);
    return true;
}

}  // namespace xlsbook
