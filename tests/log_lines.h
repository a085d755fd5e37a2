// Collects the log lines written while it lives (every severity), for tests that check what
// was logged.
#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "logging.h"

class LogLines : public kpes::log_sink {
public:
    LogLines() { kpes::add_log_sink(this, 0); }
    ~LogLines() override { kpes::remove_log_sink(this); }

    long write(const char* data, size_t size) override {
        std::lock_guard<std::mutex> guard(lock_);
        std::string line(data, size);
        if (!line.empty() && line.back() == '\n') line.pop_back();
        lines_.push_back(std::move(line));
        return static_cast<long>(size);
    }
    std::vector<std::string> lines() {
        std::lock_guard<std::mutex> guard(lock_);
        return lines_;
    }

private:
    std::mutex lock_;
    std::vector<std::string> lines_;
};
