#include "cell_records.h"

#include <cstring>

#include "byte_order.h"

namespace xlsbook {

bool CellHeader::parse(const uint8_t* d, size_t n, CellHeader& out) {
    if (n < 6) return false;
    out.row = get16(d);
    out.column = get16(d + 2);
    out.xf = get16(d + 4);
    return true;
}

void DBCell::write(ByteBuffer& out, uint32_t first_row_back, const std::vector<uint16_t>& first_cells) {
    const size_t at = out.size();
    out.resize(at + 8 + 2 * first_cells.size());
    uint8_t* r = out.data() + at;
    set16(r, kCode);
    set16(r + 2, static_cast<uint32_t>(4 + 2 * first_cells.size()));
    set32(r + 4, first_row_back);
    for (size_t i = 0; i < first_cells.size(); ++i) set16(r + 8 + 2 * i, first_cells[i]);
}

bool RK::parse(const uint8_t* d, size_t n, CellHeader& cell, uint32_t& value) {
    if (n < 10 || !CellHeader::parse(d, n, cell)) return false;
    value = get32(d + 6);
    return true;
}

void MulRK::write(uint8_t* p, size_t row, size_t first_column, const std::vector<uint32_t>& values) {
    set16(p, kCode);
    set16(p + 2, static_cast<uint32_t>(6 + 6 * values.size()));
    set16(p + 4, static_cast<uint32_t>(row));
    set16(p + 6, static_cast<uint32_t>(first_column));
    p += 8;
    for (uint32_t value : values) {
        set16(p, 0);  // XF index
        set32(p + 2, value);
        p += 6;
    }
    set16(p, static_cast<uint32_t>(first_column + values.size() - 1));
}

uint32_t MulRK::value(const uint8_t* d, size_t i) { return get32(d + 4 + 6 * i + 2); }

void Number::write(uint8_t* r, size_t row, size_t column, double value) {
    set16(r, kCode);
    set16(r + 2, 14);
    set16(r + 4, static_cast<uint32_t>(row));
    set16(r + 6, static_cast<uint32_t>(column));
    set16(r + 8, 0);  // XF index
    uint64_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    set32(r + 10, static_cast<uint32_t>(bits));
    set32(r + 14, static_cast<uint32_t>(bits >> 32));
}

bool Number::parse(const uint8_t* d, size_t n, CellHeader& cell, double& value) {
    if (n < 14 || !CellHeader::parse(d, n, cell)) return false;
    value = get_double(d + 6);
    return true;
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
