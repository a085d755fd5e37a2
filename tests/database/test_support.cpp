#include "test_support.h"

#include <sys/stat.h>
#include <unistd.h>

#include "../unique_temp_dir.h"
#ifdef _WIN32
#include <process.h>
#endif

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace kptest {

std::string fixture(const std::string& name) { return std::string(KP_XLS_FIXTURES) + "/" + name; }

std::vector<uint8_t> read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void write_file(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

bool file_exists(const std::string& path) { return ::access(path.c_str(), F_OK) == 0; }

std::string cell_utf8(const xlsbook::CellValue& cell) {
    // Narrow cells hold Latin-1 characters, which are the first 256 code points.
    if (cell.kind() == xlsbook::CellValue::kString) {
        std::u16string wide;
        for (unsigned char c : cell.get_text()) wide += static_cast<char16_t>(c);
        return utf8(wide);
    }
    if (cell.kind() == xlsbook::CellValue::kWideString) return utf8(cell.get_wide_text());
    return {};
}

TempDir::TempDir() {
    path_ = MakeUniqueTempDir("kp_database_test_");
    if (path_.empty()) throw std::runtime_error("temporary folder failed");
    std::error_code error;
    previous_ = std::filesystem::current_path(error).string();
    std::filesystem::current_path(path_, error);
    if (error) throw std::runtime_error("chdir failed");
}

TempDir::~TempDir() {
    std::error_code ignored;
    if (!previous_.empty()) std::filesystem::current_path(previous_, ignored);
    std::filesystem::remove_all(path_, ignored);
}

LogCapture::LogCapture() { kpes::add_log_sink(this, 0); }
LogCapture::~LogCapture() { kpes::remove_log_sink(this); }

long LogCapture::write(const char* data, size_t size) {
    std::lock_guard<std::mutex> guard(lock_);
    text_.append(data, size);
    return static_cast<long>(size);
}

std::vector<std::string> LogCapture::lines() const {
    std::lock_guard<std::mutex> guard(lock_);
    std::vector<std::string> out;
    size_t start = 0, end;
    while ((end = text_.find('\n', start)) != std::string::npos) {
        out.push_back(text_.substr(start, end - start));
        start = end + 1;
    }
    return out;
}

std::vector<std::string> LogCapture::messages() const {
    std::vector<std::string> out;
    for (const std::string& line : lines()) {
        const size_t end = line.find("): ");
        out.push_back(line.size() && line[0] == '(' && end != std::string::npos ? line.substr(end + 3)
                                                                                : line);
    }
    return out;
}

bool LogCapture::contains(const std::string& message) const {
    for (const std::string& m : messages())
        if (m == message) return true;
    return false;
}

}  // namespace kptest
