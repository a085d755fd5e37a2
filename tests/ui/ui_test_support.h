// Helpers shared by the widget tests.
#pragma once

#include <functional>
#include <mutex>
#include <string>
#include <vector>

// Runs the event loop until `done` holds; false when `timeout_ms` passed first (a hang guard).
bool waitFor(const std::function<bool()>& done, int timeout_ms = 20000);
// Threads of this process right now.
int threadCount();

// The log lines written while it lives (from any thread).
class CapturedLog {
public:
    CapturedLog();
    ~CapturedLog();
    CapturedLog(const CapturedLog&) = delete;
    CapturedLog& operator=(const CapturedLog&) = delete;

    // Lines that contain `text`.
    int count(const std::string& text) const;

private:
    mutable std::mutex mutex_;
    std::vector<std::string> lines_;
};
