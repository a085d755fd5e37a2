// The BIFF8 records ([MS-XLS] 2.4) that the workbook library reads and writes.
//
// Every record keeps its code and data bytes; records whose data ran over into CONTINUE records
// also keep where each continuation started, because the shared string table repeats a flags
// byte there. Typed records add their fields and rebuild their data with encode().
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <memory_resource>
#include <string>
#include <string_view>
#include <vector>

#include "byte_block.h"
#include "byte_order.h"

namespace xlsbook {

class CellValue;

namespace code {
constexpr uint16_t kFormula = 0x0006;
constexpr uint16_t kEndOfFile = 0x000A;
constexpr uint16_t kFont = 0x0031;
constexpr uint16_t kContinue = 0x003C;
constexpr uint16_t kWindow1 = 0x003D;
constexpr uint16_t kBoundSheet = 0x0085;
constexpr uint16_t kMulRK = 0x00BD;
constexpr uint16_t kMulBlank = 0x00BE;
constexpr uint16_t kRString = 0x00D6;
constexpr uint16_t kDBCell = 0x00D7;
constexpr uint16_t kXF = 0x00E0;
constexpr uint16_t kSharedStringTable = 0x00FC;
constexpr uint16_t kLabelSST = 0x00FD;
constexpr uint16_t kExtSST = 0x00FF;
constexpr uint16_t kDimensions = 0x0200;
constexpr uint16_t kBlank = 0x0201;
constexpr uint16_t kNumber = 0x0203;
constexpr uint16_t kLabel = 0x0204;
constexpr uint16_t kBoolErr = 0x0205;
constexpr uint16_t kString = 0x0207;
constexpr uint16_t kRow = 0x0208;
constexpr uint16_t kIndex = 0x020B;
constexpr uint16_t kArray = 0x0221;
constexpr uint16_t kWindow2 = 0x023E;
constexpr uint16_t kRK = 0x027E;
constexpr uint16_t kStyle = 0x0293;
constexpr uint16_t kTable = 0x0236;
constexpr uint16_t kShrFmla = 0x04BC;
constexpr uint16_t kShrFmla1 = 0x00BC;
constexpr uint16_t kBOF = 0x0809;
}  // namespace code

// [MS-XLS] 2.1.4: a record holds at most 8224 data bytes; the rest goes into CONTINUE records.
constexpr size_t kMaxRecordData = 8224;

class Record {
public:
    explicit Record(uint16_t code = 0) : code_(code) {}
    virtual ~Record() = default;

    uint16_t code() const { return code_; }
    const std::vector<uint8_t>& data() const { return data_; }
    size_t data_size() const { return data_.size(); }
    // Data, the record header and one header per continuation.
    size_t record_size() const;
    // Offsets into data() at which a CONTINUE record starts.
    const std::vector<size_t>& continue_offsets() const { return continues_; }

    void assign(uint16_t code, std::vector<uint8_t> data, std::vector<size_t> continues);
    // Writes the record, continuing where continue_offsets() says or, when none were set,
    // every 8224 bytes.
    void write(ByteBuffer& out) const;

protected:
    void set_data(std::vector<uint8_t> data);

    uint16_t code_;
    std::vector<uint8_t> data_;
    std::vector<size_t> continues_;
};

// Writes one record with its header, without continuation (the caller keeps it short).
void write_record(ByteBuffer& out, uint16_t code, const uint8_t* data, size_t size);

class BOF : public Record {
public:
    static constexpr uint16_t kWorkbookGlobals = 0x0005;
    static constexpr uint16_t kWorksheet = 0x0010;
    explicit BOF(uint16_t type = kWorkbookGlobals);
    uint16_t type() const;
};

class EndOfFile : public Record {
public:
    EndOfFile() : Record(code::kEndOfFile) {}
};

class Window1 : public Record {
public:
    Window1();
    void load(const Record& read) { assign(code::kWindow1, read.data(), {}); }
};

// Font, XF and Style records are kept as read and written back unchanged.
class Font : public Record {
public:
    Font() : Record(code::kFont) {}
};
class XF : public Record {
public:
    XF() : Record(code::kXF) {}
};
class Style : public Record {
public:
    Style() : Record(code::kStyle) {}
};

class ExtSST : public Record {
public:
    ExtSST() : Record(code::kExtSST) {}
};

// One shared string: 8-bit characters, or UTF-16LE bytes when wide.
struct SharedString {
    std::string chars;
    bool wide = false;
    bool compact = false;  // wide, held one byte per unit (all units below 0x100)
};

class BoundSheet : public Record {
public:
    BoundSheet() : Record(code::kBoundSheet) {}
    uint32_t position = 0;
    uint8_t visibility = 0;
    uint8_t sheet_type = 0;
    SharedString name;

    void encode();
    bool parse(const Record& read);
};

class SharedStringTable : public Record {
public:
    SharedStringTable() : Record(code::kSharedStringTable) {}
    uint32_t total = 0;
    // The entries as read: their characters one after the other in `chars`, each entry's as
    // stored (8-bit, UTF-16LE, or one byte per unit when compact). One buffer instead of a
    // string object per entry keeps a large table small.
    struct Entry {
        uint32_t offset;
        uint32_t size;
        bool wide;
        bool compact;
    };
    std::vector<Entry> entries;
    void clear_entries();
    // An entry's characters as stored. Past its end at least kCharsSlack more bytes can be read,
    // so that a short text is copied in one fixed-size step.
    std::string_view text(const Entry& entry) const {
        return std::string_view(reinterpret_cast<const char*>(chars_.data()) + entry.offset, entry.size);
    }
    static constexpr size_t kCharsSlack = 16;

    // The data of the table's record, then of each CONTINUE record after it, as read.
    struct Piece {
        const uint8_t* data;
        size_t size;
    };
    // Parses the table from its pieces, read where they are: a large table is not copied
    // together first.
    bool parse(const std::vector<Piece>& pieces);
    // Writes the table of the texts of `entries` (text cells, each text once) as records
    // straight into `out`, splitting it into CONTINUE records; an entry's characters that run on
    // into a CONTINUE record are preceded there by its flags byte again. With `out` null it only
    // counts. Between records, once `out` holds `chunk` bytes, `hand_on` takes them. Returns the
    // table's size in bytes, 0 when hand_on failed.
    static size_t write(ByteBuffer* out, uint32_t total, const std::pmr::vector<const CellValue*>& entries,
                        size_t chunk = SIZE_MAX, const std::function<bool()>& hand_on = nullptr);

private:
    // Not zero-filled first: every byte up to the last entry's end is written as it is parsed.
    ByteBlock chars_;
};

class Index : public Record {
public:
    Index() : Record(code::kIndex) {}
    uint32_t first_row = 0;
    uint32_t total_rows = 0;
    std::vector<uint32_t> dbcell_positions;
    void encode();
};

class Dimensions : public Record {
public:
    Dimensions() : Record(code::kDimensions) {}
    uint32_t first_row = 0;
    uint32_t total_rows = 0;
    uint16_t first_column = 0;
    uint16_t total_columns = 0;
    void encode();
};

class Window2 : public Record {
public:
    static constexpr uint16_t kNewSheetOptions = 0x06B6;
    static constexpr uint16_t kSelected = 0x0200;
    Window2() : Record(code::kWindow2) {}
    uint16_t options = kNewSheetOptions;
    void encode();
};

// RK values ([MS-XLS] 2.5.217): bit 0 = ×100, bit 1 = integer form, bits 2-31 the number.
namespace rk {
// Integer form in 32-bit arithmetic; only -536870912..536870911 survive. Inline: a save asks
// for every number cell, twice.
inline uint32_t from_integer(int32_t value) { return static_cast<uint32_t>(value) * 4u + 2u; }
inline bool integer_fits(int64_t value) { return value >= -536870912 && value <= 536870911; }
// Encodes a real as an RK when the encoding gives back exactly the same value.
bool from_real(double value, uint32_t& out);
double decode(uint32_t rk);
bool is_integer(uint32_t rk);  // integer form without the ×100 flag
int32_t decode_integer(uint32_t rk);
}  // namespace rk

}  // namespace xlsbook
