#include "workbook_file.h"

// Windows' header would otherwise make min and max macros.
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <algorithm>
#include <mutex>

#include "compound_file.h"
#include "kp_platform.h"

namespace xlsbook {

namespace {

std::mutex g_hook_lock;
testing::SaveChunkHook g_save_hook;

std::u16string widen(const std::string& narrow) {
    std::u16string out;
    out.reserve(narrow.size());
    for (unsigned char c : narrow) out.push_back(c);
    return out;
}

bool write_all(HANDLE file, const uint8_t* data, size_t size, size_t& written) {
    constexpr size_t kChunk = 1 << 20, kPage = 4096;
    while (size > 0) {
        DWORD n = 0;
        if (!WriteFile(file, data, static_cast<DWORD>(std::min(size, kChunk)), &n, nullptr) || n == 0)
            return false;
        // The disk starts on each chunk while the next is built: the final flush then waits
        // for the last chunk, not for the whole file. Whole pages only: a page already on its
        // way to the disk that the next write fills further would be written twice, or make
        // that write wait for it.
        const size_t from = written & ~(kPage - 1), to = (written + n) & ~(kPage - 1);
        if (to > from) kp::startWriteBack(file, from, to - from);
        data += n;
        size -= n;
        written += n;
        testing::SaveChunkHook hook;
        {
            std::lock_guard<std::mutex> guard(g_hook_lock);
            hook = g_save_hook;
        }
        if (hook && !hook(written)) return false;
    }
    return true;
}

std::string folder_of(const std::string& path) {
    const size_t slash = path.find_last_of("/\\");
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

std::string base_name(const std::string& path) {
    const size_t slash = path.find_last_of("/\\");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

namespace testing {
void set_save_chunk_hook(SaveChunkHook hook) {
    std::lock_guard<std::mutex> guard(g_hook_lock);
    g_save_hook = std::move(hook);
}
}  // namespace testing

WorksheetView::WorksheetView(std::u16string name, bool wide_name)
    : name_(std::move(name)), wide_name_(wide_name), rows_(checked_memory(memory_)) {}

namespace {

bool row_before(const WorksheetView::StoredRow& stored, size_t row) { return stored.index < row; }

// A row is given room for the sheet's width up to this many cells at once: enough for the
// usual narrow sheets, and a far-right cell elsewhere does not widen every row.
constexpr size_t kRowReserveLimit = 16;

}  // namespace

const WorksheetView::StoredRow* WorksheetView::find_row(size_t row) const {
    // Sheets are usually dense: row n is then the n-th stored row.
    if (row < rows_.size() && rows_[row].index == row) return &rows_[row];
    const auto at = std::lower_bound(rows_.begin(), rows_.end(), row, row_before);
    return at != rows_.end() && at->index == row ? &*at : nullptr;
}

size_t WorksheetView::row_width(size_t row) const {
    const StoredRow* stored = find_row(row);
    return stored ? stored->cells.size() : 0;
}

CellValue* WorksheetView::cell(size_t row, size_t column) {
    if (row >= kMaxRows || column >= kMaxColumns) return nullptr;
    StoredRow* stored;
    if (rows_.empty() || rows_.back().index < row) {  // rows usually arrive in order
        rows_.push_back(StoredRow{row, Cells(rows_.get_allocator())});
        stored = &rows_.back();
    } else if (rows_.back().index == row) {  // and their cells one after the other
        stored = &rows_.back();
    } else if (!(stored = const_cast<StoredRow*>(find_row(row)))) {
        stored = &*rows_.insert(std::lower_bound(rows_.begin(), rows_.end(), row, row_before),
                                StoredRow{row, Cells(rows_.get_allocator())});
    }
    total_rows_ = std::max(total_rows_, row + 1);
    Cells& cells = stored->cells;
    if (column >= cells.size()) {
        if (column >= cells.capacity())
            cells.reserve(std::max(column + 1, std::min(columns_, kRowReserveLimit)));
        if (column == cells.size())
            cells.emplace_back();  // the usual case: cells arrive left to right
        else
            cells.resize(column + 1);
    }
    columns_ = std::max(columns_, column + 1);
    return &cells[column];
}

void WorksheetView::reserve_rows(size_t rows, size_t columns) {
    rows = std::min(rows, kMaxRows);
    if (rows <= rows_.capacity()) return;
    // One block for the rows and their cells: each row takes room for the sheet's width, as
    // cell() gives it.
    memory_.reserve(rows * sizeof(StoredRow) +
                    rows * std::min(columns, kRowReserveLimit) * sizeof(CellValue));
    rows_.reserve(rows);
}

const CellValue* WorksheetView::find_cell(size_t row, size_t column) const {
    const StoredRow* stored = find_row(row);
    if (!stored || column >= stored->cells.size()) return nullptr;
    return &stored->cells[column];
}

void WorksheetView::erase_last_row() {
    if (total_rows_ == 0) return;
    if (!rows_.empty() && rows_.back().index == total_rows_ - 1) rows_.pop_back();
    --total_rows_;
}

bool WorksheetView::erase_row(size_t row) {
    if (row >= total_rows_) return false;
    auto at = std::lower_bound(rows_.begin(), rows_.end(), row, row_before);
    if (at != rows_.end() && at->index == row) at = rows_.erase(at);
    for (; at != rows_.end(); ++at) --at->index;
    --total_rows_;
    return true;
}

WorkbookFile::WorkbookFile() = default;
WorkbookFile::~WorkbookFile() = default;

void WorkbookFile::clear() {
    globals_ = Workbook();
    sheets_.clear();
}

bool WorkbookFile::load(const std::string& path) {
    ByteBlock bytes;
    const LoadStatus read = read_whole_file(path, kMaxFileSize, bytes);
    if (read != LoadStatus::loaded) {
        clear();
        load_status_ = read;
        return false;
    }
    return load_block(std::move(bytes));
}

bool WorkbookFile::load_bytes(const std::vector<uint8_t>& file_bytes) {
    return load_block(ByteBlock(file_bytes));
}

bool WorkbookFile::load_block(ByteBlock file_bytes) {
    CompoundFile file;
    const bool loaded = file.open_bytes(std::move(file_bytes)) && load_from(file);
    if (!loaded) clear();
    load_status_ = loaded ? LoadStatus::loaded : LoadStatus::damaged;
    return loaded;
}

bool WorkbookFile::load_from(CompoundFile& file) {
    const uint8_t* data = nullptr;
    size_t size = 0;
    if (file.stream_in_place("Workbook", data, size))
        return parse_stream(data, size, [&file, data, size](size_t from) {
            return file.keep_only(data + from, size - from);
        });
    std::vector<uint8_t> stream;
    if (!file.read_stream("Workbook", stream)) {
        clear();
        return false;
    }
    file = CompoundFile();  // the file's bytes go before the stream is parsed
    return parse_stream(stream.data(), stream.size(), [&stream](size_t from) {
        std::vector<uint8_t> tail(stream.begin() + static_cast<std::ptrdiff_t>(from), stream.end());
        stream.swap(tail);
        return static_cast<const uint8_t*>(stream.data());
    });
}

WorksheetView* WorkbookFile::worksheet(size_t index) {
    return index < sheets_.size() ? sheets_[index].get() : nullptr;
}

WorksheetView* WorkbookFile::find_worksheet(const std::string& name) { return find_worksheet(widen(name)); }

WorksheetView* WorkbookFile::find_worksheet(const std::u16string& name) {
    for (auto& sheet : sheets_)
        if (sheet->name_ == name) return sheet.get();
    return nullptr;
}

WorksheetView* WorkbookFile::add_worksheet(const std::string& name, int index) {
    if (find_worksheet(name)) return nullptr;
    return insert_sheet(std::make_unique<WorksheetView>(widen(name), false), index);
}

WorksheetView* WorkbookFile::add_worksheet(const std::u16string& name, int index) {
    if (find_worksheet(name)) return nullptr;
    return insert_sheet(std::make_unique<WorksheetView>(name, true), index);
}

WorksheetView* WorkbookFile::insert_sheet(std::unique_ptr<WorksheetView> sheet, int index) {
    // [MS-XLS] BoundSheet8: a sheet name has 1 to 31 characters.
    if (sheet->name_.empty() || sheet->name_.size() > 31) return nullptr;
    if (index < -1 || index > static_cast<int>(sheets_.size())) return nullptr;
    sheet->records_.window2.options &= static_cast<uint16_t>(~Window2::kSelected);
    WorksheetView* raw = sheet.get();
    if (index == -1)
        sheets_.push_back(std::move(sheet));
    else
        sheets_.insert(sheets_.begin() + index, std::move(sheet));
    return raw;
}

bool WorkbookFile::save_as(const std::string& path) {
    if (path.empty()) return false;

    // The file holds passwords: the temporary file (owner only) becomes the file itself. Its
    // name is fixed, so a save killed midway leaves no more than one, and the next save takes it.
    const std::string temp = folder_of(path) + "/." + base_name(path) + ".saving";
    DeleteFileA(temp.c_str());
    const HANDLE file =
        CreateFileA(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    // The compound file's sectors before the stream, the stream as it is built, then zeros up
    // to a whole sector.
    size_t written = 0, expected = 0;
    bool ok = write_stream(
        [&](size_t size) {
            const std::vector<uint8_t> prefix = CompoundFile::build_prefix("Workbook", size);
            expected = prefix.size() + size;
            return write_all(file, prefix.data(), prefix.size(), written);
        },
        [&](const uint8_t* data, size_t size) { return write_all(file, data, size, written); });
    // The stream's size went into the sectors before it: a stream of another size would be cut.
    ok = ok && written == expected;
    if (ok) {
        const std::vector<uint8_t> padding((512 - written % 512) % 512, 0);
        ok = write_all(file, padding.data(), padding.size(), written) && FlushFileBuffers(file);
    }
    ok = CloseHandle(file) && ok;
    // Replacing in one step: the target never goes missing, and the move itself reaches the disk.
    if (ok) ok = MoveFileExA(temp.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
    if (!ok) DeleteFileA(temp.c_str());
    return ok;
}

}  // namespace xlsbook
