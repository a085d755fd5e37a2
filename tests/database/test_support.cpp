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

std::string utf8(const std::u16string& text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        uint32_t c = text[i];
        if (c >= 0xD800 && c < 0xDC00 && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] < 0xE000)
            c = 0x10000 + ((c - 0xD800) << 10) + (text[++i] - 0xDC00);
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += static_cast<char>(0xE0 | (c >> 12));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (c >> 18));
            out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

std::u16string utf16(const std::string& utf8) {
    std::u16string out;
    for (size_t i = 0; i < utf8.size();) {
        const unsigned char lead = static_cast<unsigned char>(utf8[i]);
        const int extra = lead < 0x80 ? 0 : lead < 0xE0 ? 1 : lead < 0xF0 ? 2 : 3;
        uint32_t c = extra == 0 ? lead : lead & (0x3F >> extra);
        for (int k = 1; k <= extra && i + k < utf8.size(); ++k) c = (c << 6) | (utf8[i + k] & 0x3F);
        i += static_cast<size_t>(extra) + 1;
        if (c >= 0x10000) {
            out += static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10));
            out += static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
        } else {
            out += static_cast<char16_t>(c);
        }
    }
    return out;
}

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
