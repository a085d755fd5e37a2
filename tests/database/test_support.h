// Helpers shared by the database layer's tests.
#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "../utf_text.h"
#include "logging.h"
#include "xlsbook/cell_value.h"

namespace kptest {

std::string fixture(const std::string& name);
std::vector<uint8_t> read_file(const std::string& path);
void write_file(const std::string& path, const std::vector<uint8_t>& bytes);
bool file_exists(const std::string& path);

// UTF-8 form of a text cell (narrow cells hold 8-bit characters, wide cells UTF-16).
std::string cell_utf8(const xlsbook::CellValue& cell);

// A fresh empty folder, removed with its content at destruction; the process works inside it
// while it lives.
class TempDir {
public:
    TempDir();
    ~TempDir();
    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
    std::string previous_;
};

// Captures the log lines written while it lives.
class LogCapture : public kpes::log_sink {
public:
    LogCapture();
    ~LogCapture() override;
    long write(const char* data, size_t size) override;
    std::vector<std::string> lines() const;
    // The message texts, without the "(file:line): " position.
    std::vector<std::string> messages() const;
    bool contains(const std::string& message) const;

private:
    mutable std::mutex lock_;
    std::string text_;
};

}  // namespace kptest
