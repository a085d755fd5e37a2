#include "test_support.h"

#include <sys/stat.h>
#include <unistd.h>

#include <QString>
#include <cstdio>
#include <cstdlib>
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
    if (cell.kind() == xlsbook::CellValue::kString)
        return QString::fromLatin1(cell.get_text().data(), static_cast<int>(cell.get_text().size()))
            .toUtf8()
            .toStdString();
    if (cell.kind() == xlsbook::CellValue::kWideString) {
        const std::u16string w = cell.get_wide_text();
        return QString::fromUtf16(w.data(), static_cast<int>(w.size())).toUtf8().toStdString();
    }
    return {};
}

TempDir::TempDir() {
    char buffer[] = "/tmp/kp_database_test_XXXXXX";
    if (!::mkdtemp(buffer)) throw std::runtime_error("mkdtemp failed");
    path_ = buffer;
    char cwd[4096];
    if (::getcwd(cwd, sizeof cwd)) previous_ = cwd;
    if (::chdir(path_.c_str()) != 0) throw std::runtime_error("chdir failed");
}

TempDir::~TempDir() {
    if (!previous_.empty() && ::chdir(previous_.c_str()) != 0) {
    }
    const std::string command = "rm -rf '" + path_ + "'";
    if (std::system(command.c_str()) != 0) {
    }
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
