// Helpers shared by the widget tests.
#pragma once

#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
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

// Ends the process with a message naming `scene` when it is still armed after `seconds`: a
// scene that would hang fails instead (the user-interface thread under test cannot be woken).
class HangWatchdog {
public:
    HangWatchdog(std::string scene, int seconds);
    ~HangWatchdog();
    HangWatchdog(const HangWatchdog&) = delete;
    HangWatchdog& operator=(const HangWatchdog&) = delete;

private:
    std::mutex lock_;
    std::condition_variable disarmed_;
    bool done_ = false;
    std::thread thread_;
};
