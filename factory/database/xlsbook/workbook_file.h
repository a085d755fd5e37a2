// A binary Excel 97 workbook (BIFF8 in a compound file) held in memory as worksheets of cells.
//
//   xlsbook::WorkbookFile book;
//   if (!book.load("list.xls")) { ... }          // false: missing, damaged or not a workbook
//   xlsbook::WorksheetView* sheet = book.find_worksheet("sheet_1");
//   if (!sheet) sheet = book.add_worksheet("sheet_1");
//   sheet->cell(0, 0)->set_text("ip");
//   book.save_as("list.xls");                     // replaces the file only once fully written
//
// Rows are limited to 0..65535 and columns to 0..255; cell() grows the grid to include the cell.
// Only rows that hold cells take memory.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <memory_resource>
#include <string>
#include <vector>

#include "block_arena.h"
#include "cell_value.h"
#include "file_reader.h"
#include "records.h"

namespace xlsbook {

class CompoundFile;

constexpr size_t kMaxRows = 65536;
constexpr size_t kMaxColumns = 256;
// [MS-XLS] a cell's text has at most 32767 characters.
constexpr size_t kMaxTextLength = 32767;

// The globals substream's records.
class Workbook {
public:
    BOF bof{BOF::kWorkbookGlobals};
    Window1 window1;
    std::vector<Font> fonts;
    std::vector<XF> xfs;
    std::vector<Style> styles;
    std::vector<BoundSheet> bound_sheets;
    SharedStringTable shared_strings;
    EndOfFile end_of_file;
};

// A worksheet substream's records; its cell table is rebuilt from the cells at every write.
class Worksheet {
public:
    BOF bof{BOF::kWorksheet};
    Index index;
    Dimensions dimensions;
    Window2 window2;
    EndOfFile end_of_file;
};

class WorksheetView {
public:
    explicit WorksheetView(std::u16string name, bool wide_name);

    const std::u16string& name() const { return name_; }
    bool wide_name() const { return wide_name_; }

    size_t total_rows() const { return total_rows_; }
    size_t total_columns() const { return columns_; }
    // Cells held in `row`, defined or not (0 for a row that holds none).
    size_t row_width(size_t row) const;

    // The cell, growing the grid to include it; null when row > 65535 or column > 255.
    // The pointer stays valid until the grid grows again.
    CellValue* cell(size_t row, size_t column);
    // The cell without growing the grid; null outside it.
    const CellValue* find_cell(size_t row, size_t column) const;

    // Room for this many rows with cells (and, when given, as many cells in each), so that a
    // sheet being read is not moved as it grows.
    void reserve_rows(size_t rows, size_t columns = 0);

    void erase_last_row();
    // Removes a row; the rows below move up by one with all their cells.
    bool erase_row(size_t row);

    Worksheet& records() { return records_; }

    // A row that holds cells. Rows are kept only once a cell of theirs is asked for, so a cell
    // far down a sheet does not allocate every row above it.
    using Cells = std::pmr::vector<CellValue>;
    struct StoredRow {
        size_t index;
        Cells cells;
    };
    // The stored rows, in ascending order.
    const std::pmr::vector<StoredRow>& stored_rows() const { return rows_; }
    // The stored row `row`, null when it holds no cells.
    const StoredRow* stored_row(size_t row) const {
        // Sheets are usually dense: row n is then the n-th stored row.
        if (row < rows_.size() && rows_[row].index == row) return &rows_[row];
        return find_row(row);
    }

private:
    friend class WorkbookFile;
    const StoredRow* find_row(size_t row) const;

    std::u16string name_;
    bool wide_name_;
    // Declared before the rows: they go back into it.
    BlockArena memory_;
    std::pmr::vector<StoredRow> rows_;
    size_t total_rows_ = 0;
    size_t columns_ = 0;
    Worksheet records_;
};

class WorkbookFile {
public:
    WorkbookFile();
    ~WorkbookFile();

    // Fails when the file cannot be read, is not a compound file, has no readable "Workbook"
    // stream or its records are damaged. A failed load leaves the workbook empty, and
    // load_status() says why it failed.
    bool load(const std::string& path);
    LoadStatus load_status() const { return load_status_; }
    bool load_bytes(const std::vector<uint8_t>& file_bytes);
    bool load_stream(const std::vector<uint8_t>& workbook_stream);
    bool load_stream(const uint8_t* workbook_stream, size_t size);

    // Writes a new compound file at `path`: into a temporary file beside it (".NAME.saving"),
    // flushed to disk, then moved over `path`, so a failed or interrupted save leaves the old
    // file as it was. The file is readable and writable by its owner only.
    bool save_as(const std::string& path);
    // The "Workbook" stream as save_as writes it.
    std::vector<uint8_t> build_stream();

    size_t worksheet_count() const { return sheets_.size(); }
    WorksheetView* worksheet(size_t index);
    WorksheetView* find_worksheet(const std::string& name);
    WorksheetView* find_worksheet(const std::u16string& name);
    // Fails (null) when a sheet of that name exists; index -1 appends.
    WorksheetView* add_worksheet(const std::string& name, int index = -1);
    WorksheetView* add_worksheet(const std::u16string& name, int index = -1);

private:
    void clear();
    bool load_from(CompoundFile& file);
    bool load_block(ByteBlock file_bytes);
    // `keep_tail`, when set, frees the stream's bytes before `from` once the globals are read and
    // says where the rest now is; the worksheets are then read from there.
    bool parse_stream(const uint8_t* stream, size_t size,
                      const std::function<const uint8_t*(size_t from)>& keep_tail);
    WorksheetView* insert_sheet(std::unique_ptr<WorksheetView> sheet, int index);
    // The stream in pieces: `begin` learns its size before `put` gets the first piece.
    bool write_stream(const std::function<bool(size_t)>& begin,
                      const std::function<bool(const uint8_t*, size_t)>& put);

    Workbook globals_;
    std::vector<std::unique_ptr<WorksheetView>> sheets_;
    LoadStatus load_status_ = LoadStatus::missing;
};

namespace testing {
// Called by save_as after each chunk written to the temporary file with the bytes written so
// far; returning false makes the write fail there. Lets tests fail or kill a save midway.
using SaveChunkHook = std::function<bool(size_t written)>;
void set_save_chunk_hook(SaveChunkHook hook);
}  // namespace testing

}  // namespace xlsbook
