// The BIFF8 workbook stream: parsing into cells, and rebuilding it from the cells.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>

#include "byte_order.h"
#include "cell_records.h"
#include "workbook_file.h"

namespace xlsbook {

namespace {

// Walks the records of a stream, appending CONTINUE data to the record before it.
class RecordReader {
public:
    RecordReader(const uint8_t* stream, size_t size, size_t position)
        : s_(stream), n_(size), pos_(position) {}

    // False when the stream ends inside a record.
    bool next(Record& out) {
        if (pos_ + 4 > n_) return false;
        const uint16_t code = get16(&s_[pos_]);
        size_t size = get16(&s_[pos_ + 2]);
        if (pos_ + 4 + size > n_) return false;
        pos_ += 4;
        data_ = &s_[pos_];
        size_ = size;
        pos_ += size;
        // The usual record of a sheet: no CONTINUE after it, nothing joined before it, no copy
        // asked for. Its bytes are used where they are.
        if (!needs_record_ && breaks_.empty() && code != unjoined_ &&
            (pos_ + 4 > n_ || get16(&s_[pos_]) != code::kContinue)) {
            code_ = code;
            return true;
        }
        return finish(code, out);
    }

    uint16_t code() const { return code_; }
    const std::vector<size_t>& breaks() const { return breaks_; }
    const uint8_t* data() const { return data_; }
    size_t size() const { return size_; }
    void set_needs_record(bool needs) { needs_record_ = needs; }
    // Records of `code` are not joined with their CONTINUE records: pieces() has them.
    void set_unjoined(uint16_t code) { unjoined_ = code; }
    const std::vector<SharedStringTable::Piece>& pieces() const { return pieces_; }
    // Frees the buffer that joined the last record's CONTINUE data.
    void release() {
        std::vector<uint8_t>().swap(merged_);
        std::vector<SharedStringTable::Piece>().swap(pieces_);
        breaks_.clear();
        data_ = nullptr;
        size_ = 0;
    }

private:
    // The rest of next(): joining CONTINUE data, handing on pieces, copying the record.
    bool finish(uint16_t code, Record& out) {
        if (!breaks_.empty()) {
            merged_.clear();
            breaks_.clear();
        }
        if (code == unjoined_ && !needs_record_) {
            // Handed on as read, piece by piece: a large string table is not copied together.
            pieces_.assign(1, {data_, size_});
            while (pos_ + 4 <= n_ && get16(&s_[pos_]) == code::kContinue) {
                const size_t more = get16(&s_[pos_ + 2]);
                if (pos_ + 4 + more > n_) return false;
                pieces_.push_back({&s_[pos_ + 4], more});
                pos_ += 4 + more;
            }
            code_ = code;
            return true;
        }
        // Most records have no CONTINUE after them: nothing to join.
        if (pos_ + 4 > n_ || get16(&s_[pos_]) != code::kContinue) {
            code_ = code;
            if (needs_record_) out.assign(code, std::vector<uint8_t>(data_, data_ + size_), breaks_);
            return true;
        }
        // The joined size first: a large table (megabytes over hundreds of CONTINUE records)
        // is then copied once, not again at every doubling of the buffer.
        size_t joined = size_;
        for (size_t at = pos_; at + 4 <= n_ && get16(&s_[at]) == code::kContinue;) {
            const size_t more = get16(&s_[at + 2]);
            joined += more;
            at += 4 + more;
        }
        if (joined > size_) merged_.reserve(joined);
        while (pos_ + 4 <= n_ && get16(&s_[pos_]) == code::kContinue) {
            const size_t more = get16(&s_[pos_ + 2]);
            if (pos_ + 4 + more > n_) return false;
            if (merged_.empty()) merged_.assign(data_, data_ + size_);
            breaks_.push_back(merged_.size());
            merged_.insert(merged_.end(), &s_[pos_ + 4], &s_[pos_ + 4 + more]);
            pos_ += 4 + more;
        }
        if (!breaks_.empty()) {
            data_ = merged_.data();
            size_ = merged_.size();
        }
        code_ = code;
        if (needs_record_) out.assign(code, std::vector<uint8_t>(data_, data_ + size_), breaks_);
        return true;
    }

    const uint8_t* s_;
    size_t n_;
    size_t pos_;
    uint16_t code_ = 0;
    const uint8_t* data_ = nullptr;
    size_t size_ = 0;
    std::vector<uint8_t> merged_;
    std::vector<size_t> breaks_;
    bool needs_record_ = true;
    uint16_t unjoined_ = 0;
    std::vector<SharedStringTable::Piece> pieces_;
};

class SheetParser {
public:
    // `bytes`: the size of the sheet's substream, which bounds the rows it can hold.
    SheetParser(WorksheetView& sheet, const SharedStringTable& strings, size_t bytes)
        : sheet_(sheet), strings_(strings), bytes_(bytes) {}

    void on_record(const RecordReader& r) {
        const uint8_t* d = r.data();
        const size_t n = r.size();
        // [MS-XLS] Formula: the String record with a text result follows the formula, after
        // any ShrFmla, Array or Table record that belongs to it.
        if (r.code() != String::kCode && r.code() != ShrFmla::kCode && r.code() != Array::kCode &&
            r.code() != Table::kCode)
            pending_formula_ = nullptr;
        CellHeader cell;
        switch (r.code()) {
            case code::kDimensions:
                // A row with cells takes a Row record and a cell record: a damaged count cannot
                // make the sheet reserve more than its bytes could hold.
                if (n >= 8)
                    sheet_.reserve_rows(std::min<size_t>(get32(d + 4), bytes_ / (Row::kSize + 10)),
                                        n >= 12 ? get16(d + 10) : 0);
                break;
            case code::kWindow2:
                if (n >= 2) sheet_.records().window2.options = get16(d);
                break;
            case LabelSST::kCode: {
                uint32_t index;
                if (LabelSST::parse(d, n, cell, index) && index < strings_.entries.size())
                    if (CellValue* c = at(cell)) {
                        const SharedStringTable::Entry& s = strings_.entries[index];
                        c->set_raw_text_with_slack(strings_.text(s), s.wide, s.compact);
                    }
                break;
            }
            case code::kLabel:
            case code::kRString: {
                // Real writers store text in these too; without them those texts would be lost.
                std::string chars;
                bool wide = false;
                if (CellHeader::parse(d, n, cell) && parse_unicode_string(d + 6, n - 6, chars, wide))
                    if (CellValue* c = at(cell)) c->set_raw_text(chars, wide);
                break;
            }
            case RK::kCode: {
                uint32_t value;
                if (RK::parse(d, n, cell, value)) set_rk(cell.row, cell.column, value);
                break;
            }
            case MulRK::kCode:
                if (CellHeader::parse(d, n, cell))
                    for (size_t i = 0; i < MulRK::count(n); ++i)
                        set_rk(cell.row, static_cast<size_t>(cell.column) + i, MulRK::value(d, i));
                break;
            case Number::kCode: {
                double value;
                if (Number::parse(d, n, cell, value))
                    if (CellValue* c = at(cell)) c->set_real(value);
                break;
            }
            case BoolErr::kCode: {
                uint8_t value;
                bool is_error;
                if (BoolErr::parse(d, n, cell, value, is_error) && !is_error)
                    if (CellValue* c = at(cell)) c->set_integer(value ? 1 : 0);
                break;
            }
            case Formula::kCode: {
                Formula::Result kind;
                double number = 0;
                bool flag = false;
                if (!Formula::parse(d, n, cell, kind, number, flag)) break;
                if (kind == Formula::Result::number) {
                    if (CellValue* c = at(cell)) c->set_real(number);
                } else if (kind == Formula::Result::boolean) {
                    if (CellValue* c = at(cell)) c->set_integer(flag ? 1 : 0);
                } else if (kind == Formula::Result::text) {
                    pending_formula_ = at(cell);
                }
                break;
            }
            case String::kCode:
                if (pending_formula_) {
                    std::string chars;
                    bool wide = false;
                    if (parse_unicode_string(d, n, chars, wide) && !chars.empty())
                        pending_formula_->set_raw_text(chars, wide);
                    pending_formula_ = nullptr;
                }
                break;
            default:  // Index, Row, DBCell, Blank, MulBlank and unknown records
                break;
        }
    }

private:
    CellValue* at(const CellHeader& cell) { return cell_at(cell.row, cell.column); }

    CellValue* cell_at(size_t row, size_t column) { return sheet_.cell(row, column); }

    void set_rk(size_t row, size_t column, uint32_t value) {
        CellValue* c = cell_at(row, column);
        if (!c) return;
        if (rk::is_integer(value))
            c->set_integer(rk::decode_integer(value));
        else
            c->set_real(rk::decode(value));  // ×100 values keep their decimals
    }

    WorksheetView& sheet_;
    const SharedStringTable& strings_;
    size_t bytes_;
    CellValue* pending_formula_ = nullptr;
};

std::u16string name_of(const SharedString& s) {
    std::u16string out;
    if (s.wide) {
        for (size_t i = 0; i + 1 < s.chars.size(); i += 2)
            out.push_back(static_cast<char16_t>(static_cast<unsigned char>(s.chars[i]) |
                                                (static_cast<unsigned char>(s.chars[i + 1]) << 8)));
    } else {
        for (unsigned char c : s.chars) out.push_back(c);
    }
    return out;
}

}  // namespace

bool WorkbookFile::load_stream(const std::vector<uint8_t>& stream) {
    return load_stream(stream.data(), stream.size());
}

bool WorkbookFile::load_stream(const uint8_t* stream, size_t stream_size) {
    return parse_stream(stream, stream_size, nullptr);
}

bool WorkbookFile::parse_stream(const uint8_t* stream, size_t stream_size,
                                const std::function<const uint8_t*(size_t from)>& keep_tail) {
    clear();
    RecordReader reader(stream, stream_size, 0);
    reader.set_needs_record(false);
    reader.set_unjoined(code::kSharedStringTable);
    Record record;
    auto take = [&reader](Record& into) {
        into.assign(reader.code(), std::vector<uint8_t>(reader.data(), reader.data() + reader.size()),
                    reader.breaks());
    };
    if (!reader.next(record) || reader.code() != code::kBOF) return clear(), false;
    take(record);
    globals_.bof.assign(code::kBOF, record.data(), {});
    // Only BIFF8 (version 0x0600) globals; older BIFF versions store their text differently.
    if (globals_.bof.data_size() < 4 || get16(globals_.bof.data().data()) != 0x0600 ||
        globals_.bof.type() != BOF::kWorkbookGlobals)
        return clear(), false;

    bool ended = false;
    while (!ended) {
        if (!reader.next(record)) return clear(), false;
        switch (reader.code()) {
            case code::kEndOfFile:
                ended = true;
                break;
            case code::kWindow1:
                take(record);
                globals_.window1.load(record);
                break;
            case code::kFont:
                globals_.fonts.emplace_back();
                take(globals_.fonts.back());
                break;
            case code::kXF:
                globals_.xfs.emplace_back();
                take(globals_.xfs.back());
                break;
            case code::kStyle:
                globals_.styles.emplace_back();
                take(globals_.styles.back());
                break;
            case code::kBoundSheet: {
                BoundSheet sheet;
                take(record);
                if (!sheet.parse(record)) return clear(), false;
                globals_.bound_sheets.push_back(std::move(sheet));
                break;
            }
            case code::kSharedStringTable:
                if (!globals_.shared_strings.parse(reader.pieces())) return clear(), false;
                reader.release();
                break;
            default:  // ExtSST and everything else
                break;
        }
    }

    // Each substream is read once: sheets that share one would multiply what a small file costs.
    std::vector<uint32_t> positions;
    for (const BoundSheet& bound : globals_.bound_sheets) positions.push_back(bound.position);
    std::sort(positions.begin(), positions.end());
    if (std::adjacent_find(positions.begin(), positions.end()) != positions.end()) return clear(), false;

    // The worksheets follow the globals: with the caller's leave, only their part of the stream
    // is kept while the cells are built, not the whole file as well.
    const uint8_t* sheets = stream;
    size_t sheets_size = stream_size, base = 0;
    if (keep_tail && !positions.empty() && positions.front() < stream_size) {
        base = positions.front();
        sheets = keep_tail(base);
        sheets_size = stream_size - base;
        stream = nullptr;
    }

    // Each sheet is found where its BoundSheet says; charts and macro sheets are left out.
    for (const BoundSheet& bound : globals_.bound_sheets) {
        if (bound.sheet_type != 0) continue;
        if (bound.position < base) return clear(), false;
        RecordReader sheet_reader(sheets, sheets_size, bound.position - base);
        sheet_reader.set_needs_record(false);
        if (!sheet_reader.next(record) || sheet_reader.code() != code::kBOF) return clear(), false;
        if (sheet_reader.size() < 4 || get16(sheet_reader.data() + 2) != BOF::kWorksheet) continue;
        auto view = std::make_unique<WorksheetView>(name_of(bound.name), bound.name.wide);
        if (find_worksheet(view->name())) return clear(), false;
        SheetParser parser(*view, globals_.shared_strings, sheets_size - (bound.position - base));
        int depth = 1;
        while (depth > 0) {
            if (!sheet_reader.next(record)) return clear(), false;
            if (sheet_reader.code() == code::kBOF) {
                ++depth;  // an embedded chart: skipped to its own EndOfFile
            } else if (sheet_reader.code() == code::kEndOfFile) {
                --depth;
            } else if (depth == 1) {
                parser.on_record(sheet_reader);
            }
        }
        sheets_.push_back(std::move(view));
    }
    globals_.shared_strings.clear_entries();
    return true;
}

namespace {

// The worksheets' cell tables, written a row block at a time into a buffer that is handed on
// whenever it holds a chunk: the stream is never held whole. Each sheet is planned first, so
// that its size and the places its Index names are known before its first byte goes out.
// A list's texts are short: a word at a time with one multiply each costs a fraction of the
// library's byte-wise hash, and a save hashes every text cell.
uint64_t text_hash(std::string_view text) {
    const char* p = text.data();
    size_t n = text.size();
    uint64_t h = 0x9E3779B97F4A7C15u ^ (n * 0xFF51AFD7ED558CCDu);
    for (; n >= 8; p += 8, n -= 8) {
        uint64_t word;
        std::memcpy(&word, p, 8);
        h = (h ^ word) * 0xBF58476D1CE4E5B9u;
        h ^= h >> 29;
    }
    // The last 1 to 7 bytes in two overlapping reads (or three bytes), without a loop.
    uint64_t tail = 0;
    if (n >= 4) {
        uint32_t first, last;
        std::memcpy(&first, p, 4);
        std::memcpy(&last, p + n - 4, 4);
        tail = (static_cast<uint64_t>(first) << 32) | last;
    } else if (n > 0) {
        tail = (static_cast<uint64_t>(static_cast<uint8_t>(p[0])) << 16) |
               (static_cast<uint64_t>(static_cast<uint8_t>(p[n / 2])) << 8) | static_cast<uint8_t>(p[n - 1]);
    }
    h = (h ^ tail) * 0x94D049BB133111EBu;
    return h ^ (h >> 31);
}

// A text held in its cell (most of a list's) is hashed as the cell's two words with the bytes
// past its end masked off: no loop and no branch on its length. Equal texts hash alike whatever
// the cell held before.
uint64_t cell_text_hash(const CellValue& c) {
    const std::string_view text = c.raw_text();
#ifdef XLSBOOK_LITTLE_ENDIAN
    if (c.text_in_cell()) {
        static_assert(CellValue::kCellTextBytes == 16, "two words");
        uint64_t words[2];
        std::memcpy(words, text.data(), sizeof words);
        const size_t n = text.size();
        const uint64_t low = n >= 8 ? ~uint64_t{0} : (uint64_t{1} << (8 * n)) - 1;
        const uint64_t high = n >= 16 ? ~uint64_t{0} : n <= 8 ? 0 : (uint64_t{1} << (8 * (n - 8))) - 1;
        uint64_t h = ((words[0] & low) ^ (n * 0xFF51AFD7ED558CCDu)) * 0xBF58476D1CE4E5B9u;
        h ^= h >> 29;
        h = (h ^ (words[1] & high)) * 0x94D049BB133111EBu;
        return h ^ (h >> 31);
    }
#endif
    return text_hash(text);
}

class CellTable {
public:
    using Sink = std::function<bool(const uint8_t*, size_t)>;
    // A quarter megabyte: the buffer's pages are fresh memory in every save, and the disk
    // starts on each chunk as soon as it is written.
    static constexpr size_t kChunk = 1 << 18;

    CellTable(ByteBuffer& out, const std::pmr::vector<uint32_t>& string_indexes,
              std::pmr::memory_resource* memory)
        : out_(out), indexes_(string_indexes), memory_(memory) {}

    // Fills in the sheet's Index, Dimensions and Window2 for a sheet starting at `start`;
    // returns its size.
    size_t plan(Worksheet& records, const std::pmr::vector<WorksheetView::StoredRow>& rows, size_t total_rows,
                size_t columns, bool first_sheet, size_t start) {
        Plan plan;
        plan.used = std::pmr::vector<const WorksheetView::StoredRow*>(memory_);
        plan.records = &records;
        plan.columns = columns;
        plan.used.reserve(rows.size());
        for (const WorksheetView::StoredRow& row : rows)
            if (has_cells(row.cells)) plan.used.push_back(&row);
        size_t first_row = 0, first_column = 0;
        if (!plan.used.empty()) {
            first_row = plan.used.front()->index;
            while (plan.used.front()->cells[first_column].kind() == CellValue::kUndefined) ++first_column;
        }
        for (size_t i = 0; i < plan.used.size(); ++i)
            if (i == 0 || plan.used[i]->index / 32 != plan.used[i - 1]->index / 32) plan.blocks.push_back(i);

        records.index.first_row = static_cast<uint32_t>(first_row);
        records.index.total_rows = static_cast<uint32_t>(total_rows);
        records.index.dbcell_positions.assign(plan.blocks.size(), 0);
        records.index.encode();
        records.dimensions.first_row = static_cast<uint32_t>(first_row);
        records.dimensions.total_rows = static_cast<uint32_t>(total_rows);
        records.dimensions.first_column = static_cast<uint16_t>(first_column);
        records.dimensions.total_columns = static_cast<uint16_t>(columns);
        records.dimensions.encode();
        if (!first_sheet) records.window2.options &= static_cast<uint16_t>(~Window2::kSelected);
        records.window2.encode();

        size_t at = start + records.bof.record_size() + records.index.record_size() +
                    records.dimensions.record_size();
        for (size_t b = 0; b < plan.blocks.size(); ++b) {
            const size_t end = b + 1 < plan.blocks.size() ? plan.blocks[b + 1] : plan.used.size();
            size_t bytes = 0;
            for (size_t i = plan.blocks[b]; i < end; ++i)
                bytes += Row::kSize + cells(0, plan.used[i]->cells, nullptr);
            plan.block_bytes.push_back(bytes);
            at += bytes;
            records.index.dbcell_positions[b] = static_cast<uint32_t>(at);
            at += 8 + 2 * (end - plan.blocks[b]);
        }
        records.index.encode();
        at += records.window2.record_size() + records.end_of_file.record_size();
        plans_.push_back(std::move(plan));
        return at - start;
    }

    // Writes the planned sheets after the `base` bytes of the stream already handed on; false
    // when `flush` fails or a sheet comes out other than planned.
    bool write(const Sink& flush, size_t base) {
        base_ = base;
        for (const Plan& plan : plans_)
            if (!write_sheet(plan, flush)) return false;
        return hand_on(flush);
    }

private:
    struct Plan {
        Worksheet* records = nullptr;
        size_t columns = 0;
        std::pmr::vector<const WorksheetView::StoredRow*> used;  // rows with a defined cell, in order
        std::vector<size_t> blocks;       // index into `used` of the first row of each row block
        std::vector<size_t> block_bytes;  // each block's Row and cell records
    };

    size_t position() const { return base_ + out_.size(); }

    bool hand_on(const Sink& flush) {
        if (out_.empty()) return true;
        if (!flush(out_.data(), out_.size())) return false;
        base_ += out_.size();
        out_.clear();
        return true;
    }

    bool write_sheet(const Plan& plan, const Sink& flush) {
        Worksheet& records = *plan.records;
        const size_t columns = plan.columns;
        records.bof.write(out_);
        records.index.write(out_);
        records.dimensions.write(out_);
        std::vector<uint16_t> offsets;
        for (size_t b = 0; b < plan.blocks.size(); ++b) {
            const size_t end = b + 1 < plan.blocks.size() ? plan.blocks[b + 1] : plan.used.size();
            // The block is sized once and its records filled in place.
            const size_t first_row_record = out_.size();
            out_.resize(first_row_record + plan.block_bytes[b]);
            uint8_t* const block = out_.data() + first_row_record;
            size_t at = 0;
            for (size_t i = plan.blocks[b]; i < end; ++i, at += Row::kSize)
                Row::write(block + at, plan.used[i]->index, columns);
            // DBCell: each row's first cell from the previous one's, the first from the end of
            // the first Row record.
            offsets.clear();
            size_t from = Row::kSize;
            for (size_t i = plan.blocks[b]; i < end; ++i) {
                offsets.push_back(static_cast<uint16_t>(at - from));
                from = at;
                at += cells(plan.used[i]->index, plan.used[i]->cells, block + at);
            }
            if (at != plan.block_bytes[b]) return false;
            const size_t dbcell = out_.size();
            if (position() != records.index.dbcell_positions[b]) return false;
            DBCell::write(out_, static_cast<uint32_t>(dbcell - first_row_record), offsets);
            if (out_.size() >= kChunk && !hand_on(flush)) return false;
        }
        records.window2.write(out_);
        records.end_of_file.write(out_);
        return true;
    }

    static bool has_cells(const WorksheetView::Cells& row) {
        for (const CellValue& c : row)
            if (c.kind() != CellValue::kUndefined) return true;
        return false;
    }

    static bool as_rk(const CellValue& c, uint32_t& value) {
        if (c.kind() == CellValue::kInteger) {
            if (!rk::integer_fits(c.get_integer())) return false;
            value = rk::from_integer(c.get_integer());
            return true;
        }
        return c.kind() == CellValue::kReal && rk::from_real(c.get_real(), value);
    }

    // Writes a row's cell records at `p`, or with `p` null only sizes them: one choice of
    // records for both, so the plan cannot drift from what is written.
    size_t cells(size_t row, const WorksheetView::Cells& cells, uint8_t* p) {
        const bool emit = p != nullptr;
        size_t size = 0;
        for (size_t c = 0; c < cells.size();) {
            const CellValue& cell = cells[c];
            uint32_t value;
            switch (cell.kind()) {
                case CellValue::kString:
                case CellValue::kWideString:
                    if (emit) LabelSST::write(p + size, row, c, indexes_[next_string_++]);
                    size += LabelSST::kSize;
                    ++c;
                    break;
                case CellValue::kInteger:
                case CellValue::kReal: {
                    if (!as_rk(cell, value)) {
                        // Out of RK range or more precise than an RK holds: the full double.
                        if (emit)
                            Number::write(
                                p + size, row, c,
                                cell.kind() == CellValue::kInteger ? cell.get_integer() : cell.get_real());
                        size += Number::kSize;
                        ++c;
                        break;
                    }
                    size_t end = c + 1;
                    uint32_t next;
                    while (end < cells.size() && as_rk(cells[end], next)) ++end;
                    if (end - c == 1) {
                        if (emit) RK::write(p + size, row, c, value);
                        size += RK::kSize;
                    } else {
                        if (emit) {
                            run_.clear();
                            for (size_t k = c; k < end; ++k) {
                                as_rk(cells[k], next);
                                run_.push_back(next);
                            }
                            MulRK::write(p + size, row, c, run_);
                        }
                        size += MulRK::size(end - c);
                    }
                    c = end;
                    break;
                }
                default:
                    ++c;
                    break;
            }
        }
        return size;
    }

    ByteBuffer& out_;
    const std::pmr::vector<uint32_t>& indexes_;
    std::pmr::memory_resource* memory_;
    size_t base_ = 0;  // stream position of out_[0]
    std::vector<Plan> plans_;
    std::vector<uint32_t> run_;
    size_t next_string_ = 0;
};

}  // namespace

bool WorkbookFile::write_stream(const std::function<bool(size_t)>& begin,
                                const std::function<bool(const uint8_t*, size_t)>& put) {
    // Shared strings: rebuilt here; narrow and wide texts are indexed apart. Each text's first
    // cell stands for it, its hash kept beside it: a probe reads a text only when hashes match.
    // Cell slots bound the string cells: counted from the rows alone, without a pass over the cells.
    size_t cells = 0, rows = 0;
    for (const auto& sheet : sheets_) {
        rows += sheet->rows_.size();
        for (const auto& stored : sheet->rows_) cells += stored.cells.size();
    }
    size_t most_slots = 16;
    while (most_slots < 2 * cells) most_slots <<= 1;
    // The save's working lists come from one block taken for them all: a fresh process would
    // otherwise fault in some 1,400 fresh pages for them one at a time.
    BlockArena scratch;
    std::pmr::memory_resource* const memory = checked_memory(scratch);
    if (memory == &scratch)
        scratch.reserve(cells * (2 * sizeof(uint32_t) + sizeof(const CellValue*)) +
                        most_slots * sizeof(uint32_t) + rows * sizeof(const WorksheetView::StoredRow*) +
                        4096);
    std::pmr::vector<const CellValue*> entries(memory);
    std::pmr::vector<uint32_t> entry_hashes(memory);
    std::pmr::vector<uint32_t> indexes(memory);  // per string cell, in writing order
    indexes.reserve(cells);
    auto is_text = [](const CellValue& c) {
        return c.kind() == CellValue::kString || c.kind() == CellValue::kWideString;
    };
    // First every text's hash, in writing order (held in `indexes` until the entries replace
    // them), so that the probes below can fetch their slot ahead of time.
    for (const auto& sheet : sheets_)
        for (const auto& row : sheet->rows_)
            for (const CellValue& c : row.cells) {
                if (!is_text(c)) continue;
                const uint64_t h =
                    cell_text_hash(c) ^ (c.kind() == CellValue::kWideString ? 0x9E3779B97F4A7C15u : 0);
                indexes.push_back(static_cast<uint32_t>(h ^ (h >> 32)));
            }
    const size_t cells_with_text = indexes.size();
    entries.reserve(cells_with_text);
    entry_hashes.reserve(cells_with_text);
    // Open addressing over the entries (slot = entry + 1, 0 empty): one allocation for the
    // whole table instead of a node per text. Half empty at least, so a probe rarely meets
    // another text.
    size_t slots = 16;
    while (slots < 2 * cells_with_text) slots <<= 1;
    const size_t mask = slots - 1;
    std::pmr::vector<uint32_t> table_memory(slots, 0, memory);
    uint32_t* const table = table_memory.data();
    // The slots are spread over megabytes: asking for one this many texts early hides most of
    // the wait for memory.
    constexpr size_t kAhead = 16;
    size_t next = 0;
    for (const auto& sheet : sheets_)
        for (const auto& row : sheet->rows_)
            for (const CellValue& c : row.cells) {
                if (!is_text(c)) continue;
                if (next + kAhead < cells_with_text)
                    __builtin_prefetch(&table[indexes[next + kAhead] & mask]);
                const uint32_t hash = indexes[next];
                for (size_t at = hash & mask;; at = (at + 1) & mask) {
                    const uint32_t slot = table[at];
                    if (slot == 0) {
                        table[at] = static_cast<uint32_t>(entries.size()) + 1;
                        indexes[next] = static_cast<uint32_t>(entries.size());
                        entries.push_back(&c);
                        entry_hashes.push_back(hash);
                        break;
                    }
                    if (entry_hashes[slot - 1] == hash && entries[slot - 1]->kind() == c.kind() &&
                        entries[slot - 1]->raw_text() == c.raw_text()) {
                        indexes[next] = slot - 1;
                        break;
                    }
                }
                ++next;
            }
    table_memory = std::pmr::vector<uint32_t>(memory);
    entry_hashes = std::pmr::vector<uint32_t>(memory);

    // Records are handed on a chunk at a time: the buffer holds a chunk and the record or row
    // block that completes it.
    ByteBuffer out;
    out.reserve(4096 + CellTable::kChunk + (1 << 16));
    globals_.bof.write(out);
    globals_.window1.write(out);
    for (const Font& r : globals_.fonts) r.write(out);
    for (const XF& r : globals_.xfs) r.write(out);
    for (const Style& r : globals_.styles) r.write(out);
    std::vector<size_t> positions;
    for (const auto& sheet : sheets_) {
        BoundSheet bound;
        bound.name.wide = sheet->wide_name_;
        for (char16_t ch : sheet->name_) {
            bound.name.chars.push_back(static_cast<char>(ch & 0xFF));
            if (sheet->wide_name_) bound.name.chars.push_back(static_cast<char>(ch >> 8));
        }
        bound.encode();
        positions.push_back(out.size() + 4);
        bound.write(out);
    }
    // Everything is sized before the first byte goes: the string table by counting it, each
    // sheet by its plan; each BoundSheet then names where its sheet starts.
    const uint32_t total = static_cast<uint32_t>(cells_with_text);
    const size_t strings_size = SharedStringTable::write(nullptr, total, entries);
    size_t size = out.size() + strings_size + globals_.end_of_file.record_size();
    CellTable writer(out, indexes, memory);
    for (size_t i = 0; i < sheets_.size(); ++i) {
        set32(out.data() + positions[i], static_cast<uint32_t>(size));
        WorksheetView& sheet = *sheets_[i];
        size += writer.plan(sheet.records_, sheet.rows_, sheet.total_rows_, sheet.columns_, i == 0, size);
    }
    if (!begin(size)) return false;
    size_t handed = 0;
    auto hand_on = [&]() {
        if (!put(out.data(), out.size())) return false;
        handed += out.size();
        out.clear();
        return true;
    };
    if (SharedStringTable::write(&out, total, entries, CellTable::kChunk, hand_on) != strings_size)
        return false;
    globals_.end_of_file.write(out);
    return writer.write(put, handed);
}

std::vector<uint8_t> WorkbookFile::build_stream() {
    std::vector<uint8_t> stream;
    write_stream(
        [&stream](size_t size) {
            stream.reserve(size);
            return true;
        },
        [&stream](const uint8_t* data, size_t size) {
            stream.insert(stream.end(), data, data + size);
            return true;
        });
    return stream;
}

}  // namespace xlsbook
