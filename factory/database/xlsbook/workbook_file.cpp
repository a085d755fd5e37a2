#include "workbook_file.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#ifdef _WIN32
#include <io.h>
#include <windows.h>
#endif

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <mutex>

#include "compound_file.h"

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

bool write_all(int fd, const uint8_t* data, size_t size, size_t& written) {
    constexpr size_t kChunk = 1 << 20;
    while (size > 0) {
        const size_t step = std::min(size, kChunk);
        const ssize_t n = ::write(fd, data, step);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        data += n;
        size -= static_cast<size_t>(n);
        written += static_cast<size_t>(n);
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

bool flush_to_disk(int fd) {
#ifdef _WIN32
    return ::_commit(fd) == 0;
#else
    return ::fsync(fd) == 0;
#endif
}

// The saved file takes the name even where one exists already; the C library's rename refuses
// an existing target on Windows.
bool replace_file(const std::string& temp, const std::string& path) {
#ifdef _WIN32
    return MoveFileExA(temp.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
#else
    return std::rename(temp.c_str(), path.c_str()) == 0;
#endif
}

// Temporary files of earlier saves of the same file that were killed before their rename.
void remove_leftovers(const std::string& folder, const std::string& prefix) {
    DIR* dir = ::opendir(folder.c_str());
    if (!dir) return;
    while (const dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        if (name.size() == prefix.size() + 6 && name.compare(0, prefix.size(), prefix) == 0)
            ::unlink((folder + "/" + name).c_str());
    }
    ::closedir(dir);
}

}  // namespace

namespace testing {
void set_save_chunk_hook(SaveChunkHook hook) {
    std::lock_guard<std::mutex> guard(g_hook_lock);
    g_save_hook = std::move(hook);
}
}  // namespace testing

WorksheetView::WorksheetView(std::u16string name, bool wide_name)
    : name_(std::move(name)), wide_name_(wide_name) {}

CellValue* WorksheetView::cell(size_t row, size_t column) {
    if (row >= kMaxRows || column >= kMaxColumns) return nullptr;
    if (row >= rows_.size()) {
        // Rows grow in whole steps of 1000, at least doubling so that filling a sheet row by row
        // stays linear.
        if (row >= rows_.capacity())
            rows_.reserve(std::min(kMaxRows, std::max((row / 1000 + 1) * 1000, 2 * rows_.capacity())));
        rows_.resize(row + 1);
    }
    std::vector<CellValue>& cells = rows_[row];
    if (column >= cells.size()) {
        // A row usually ends up as wide as the sheet: one allocation instead of several.
        if (column >= cells.capacity()) cells.reserve(std::max(column + 1, columns_));
        cells.resize(column + 1);
    }
    columns_ = std::max(columns_, column + 1);
    return &cells[column];
}

const CellValue* WorksheetView::find_cell(size_t row, size_t column) const {
    if (row >= rows_.size() || column >= rows_[row].size()) return nullptr;
    return &rows_[row][column];
}

void WorksheetView::erase_last_row() {
    if (!rows_.empty()) rows_.pop_back();
}

bool WorksheetView::erase_row(size_t row) {
    if (row >= rows_.size()) return false;
    rows_.erase(rows_.begin() + static_cast<std::ptrdiff_t>(row));
    return true;
}

WorkbookFile::WorkbookFile() = default;
WorkbookFile::~WorkbookFile() = default;

void WorkbookFile::clear() {
    globals_ = Workbook();
    sheets_.clear();
}

bool WorkbookFile::load(const std::string& path) {
    CompoundFile file;
    if (!file.open(path)) {
        clear();
        return false;
    }
    return load_from(file);
}

bool WorkbookFile::load_bytes(std::vector<uint8_t> file_bytes) {
    CompoundFile file;
    if (!file.open_bytes(std::move(file_bytes))) {
        clear();
        return false;
    }
    return load_from(file);
}

bool WorkbookFile::load_from(CompoundFile& file) {
    const uint8_t* data = nullptr;
    size_t size = 0;
    if (file.stream_in_place("Workbook", data, size)) return load_stream(data, size);
    std::vector<uint8_t> stream;
    if (!file.read_stream("Workbook", stream)) {
        clear();
        return false;
    }
    file = CompoundFile();  // the file's bytes go before the stream is parsed
    return load_stream(stream);
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
    const std::vector<uint8_t> stream = build_stream();
    const std::vector<uint8_t> prefix = CompoundFile::build_prefix("Workbook", stream.size());
    const size_t total = prefix.size() + stream.size();
    const std::vector<uint8_t> padding((512 - total % 512) % 512, 0);

    // The file holds passwords: the temporary file (mode 0600) becomes the file itself.
    const std::string prefix_name = "." + base_name(path) + ".saving-";
    std::string temp = folder_of(path) + "/" + prefix_name + "XXXXXX";
    int fd = ::mkstemp(&temp[0]);
    if (fd < 0) return false;
    size_t written = 0;
    bool ok = write_all(fd, prefix.data(), prefix.size(), written) &&
              write_all(fd, stream.data(), stream.size(), written) &&
              write_all(fd, padding.data(), padding.size(), written) && flush_to_disk(fd);
    ok = (::close(fd) == 0) && ok;
    if (ok) ok = replace_file(temp, path);
    if (!ok) {
        ::unlink(temp.c_str());
        return false;
    }
#ifndef _WIN32
    // Make the rename itself durable (MOVEFILE_WRITE_THROUGH does on Windows).
    const int dir = ::open(folder_of(path).c_str(), O_RDONLY);
    if (dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
#endif
    remove_leftovers(folder_of(path), prefix_name);
    return true;
}

}  // namespace xlsbook
