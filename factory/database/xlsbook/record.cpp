#include "byte_order.h"
#include "records.h"

namespace xlsbook {

size_t Record::record_size() const {
    const size_t continuations =
        continues_.empty() ? (data_.empty() ? 0 : (data_.size() - 1) / kMaxRecordData) : continues_.size();
    return data_.size() + 4 + 4 * continuations;
}

void Record::assign(uint16_t code, std::vector<uint8_t> data, std::vector<size_t> continues) {
    code_ = code;
    data_ = std::move(data);
    continues_ = std::move(continues);
}

void Record::set_data(std::vector<uint8_t> data) {
    data_ = std::move(data);
    continues_.clear();
}

void write_record(ByteBuffer& out, uint16_t code, const uint8_t* data, size_t size) {
    put16(out, code);
    put16(out, static_cast<uint32_t>(size));
    out.insert(out.end(), data, data + size);
}

void Record::write(ByteBuffer& out) const {
    std::vector<size_t> cuts = continues_;
    if (cuts.empty())
        for (size_t at = kMaxRecordData; at < data_.size(); at += kMaxRecordData) cuts.push_back(at);
    size_t start = 0;
    uint16_t current = code_;
    for (size_t i = 0; i <= cuts.size(); ++i) {
        const size_t end = i < cuts.size() ? cuts[i] : data_.size();
        write_record(out, current, data_.data() + start, end - start);
        current = code::kContinue;
        start = end;
    }
}

BOF::BOF(uint16_t type) : Record(code::kBOF) {
    std::vector<uint8_t> d;
    put16(d, 0x0600);  // BIFF8
    put16(d, type);
    put16(d, 0x19A0);      // build
    put16(d, 0x07CD);      // year
    put32(d, 0x0000C0C9);  // file history flags
    put32(d, 0x00000306);  // lowest version that can read the file
    set_data(std::move(d));
}

uint16_t BOF::type() const { return data_.size() >= 4 ? get16(data_.data() + 2) : 0; }

Window1::Window1() : Record(code::kWindow1) {
    std::vector<uint8_t> d;
    put16(d, 0x0078);  // left
    put16(d, 0x0078);  // top
    put16(d, 0x3B1F);  // width
    put16(d, 0x2454);  // height
    put16(d, 0x0038);  // options
    put16(d, 0);       // active sheet
    put16(d, 0);       // first visible tab
    put16(d, 1);       // selected tabs
    put16(d, 600);     // tab bar ratio
    set_data(std::move(d));
}

void BoundSheet::encode() {
    std::vector<uint8_t> d;
    put32(d, position);
    d.push_back(visibility);
    d.push_back(sheet_type);
    const size_t count = name.wide ? name.chars.size() / 2 : name.chars.size();
    d.push_back(static_cast<uint8_t>(count));
    d.push_back(name.wide ? 1 : 0);
    d.insert(d.end(), name.chars.begin(), name.chars.begin() + (name.wide ? 2 * count : count));
    set_data(std::move(d));
}

bool BoundSheet::parse(const Record& read) {
    const std::vector<uint8_t>& d = read.data();
    if (d.size() < 8) return false;
    position = get32(d.data());
    visibility = d[4];
    sheet_type = d[5];
    const size_t count = d[6];
    name.wide = (d[7] & 1) != 0;
    const size_t bytes = name.wide ? 2 * count : count;
    if (8 + bytes > d.size()) return false;
    name.chars.assign(d.begin() + 8, d.begin() + 8 + bytes);
    assign(code::kBoundSheet, d, {});
    return true;
}

void Index::encode() {
    std::vector<uint8_t> d;
    put32(d, 0);
    put32(d, first_row);
    put32(d, total_rows);
    put32(d, 0);
    for (uint32_t p : dbcell_positions) put32(d, p);
    set_data(std::move(d));
}

void Dimensions::encode() {
    std::vector<uint8_t> d;
    put32(d, first_row);
    put32(d, total_rows);
    put16(d, first_column);
    put16(d, total_columns);
    put16(d, 0);
    set_data(std::move(d));
}

void Window2::encode() {
    std::vector<uint8_t> d;
    put16(d, options);
    put16(d, 0);   // first visible row
    put16(d, 0);   // first visible column
    put16(d, 64);  // grid line colour index
    d.resize(18, 0);
    set_data(std::move(d));
}

namespace rk {

double decode(uint32_t value) {
    double result;
    if (value & 2) {
        result = static_cast<double>(static_cast<int32_t>(value) >> 2);
    } else {
        const uint64_t bits = static_cast<uint64_t>(value & 0xFFFFFFFCu) << 32;
        std::memcpy(&result, &bits, sizeof result);
    }
    return (value & 1) ? result / 100.0 : result;
}

bool is_integer(uint32_t value) { return (value & 3) == 2; }

int32_t decode_integer(uint32_t value) { return static_cast<int32_t>(value) >> 2; }

bool from_real(double value, uint32_t& out) {
    // Beyond this the ×10000 test below would leave the range of a 64-bit integer; such values
    // do not fit 30 bits anyway. Also refuses NaN.
    if (!(value > -1e14 && value < 1e14)) return false;
    // Two decimals at most: the ×100 form; otherwise the value itself.
    const bool two_decimals = static_cast<int64_t>(value * 10000) == static_cast<int64_t>(value * 100) * 100;
    const bool scaled =
        two_decimals && static_cast<int64_t>(value) * 100 != static_cast<int64_t>(value * 100);
    const double stored = scaled ? value * 100 : value;
    uint64_t bits;
    std::memcpy(&bits, &stored, sizeof bits);
    const uint32_t candidate = static_cast<uint32_t>(bits >> 32) & 0xFFFFFFFCu;
    out = candidate | (scaled ? 1u : 0u);
    // Only the top 30 bits of the double are kept: refuse any value that would change.
    return decode(out) == value;
}

}  // namespace rk

}  // namespace xlsbook
