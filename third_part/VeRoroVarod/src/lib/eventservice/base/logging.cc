#include "logging.h"

#include <windows.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <limits>
#include <mutex>
#include <vector>

namespace {

std::atomic<int> g_min_severity{0};
const int kDebugOutputThreshold = 0;
const int kSourcePositionThreshold = 3;

struct sink_entry {
    kpes::log_sink* sink;
    int min_severity;
};

// The facility's lock, sinks and clock. Never destroyed: a thread that still logs while the
// process exits (static destructors already running) must find them intact.
struct facility {
    CRITICAL_SECTION lock;
    std::vector<sink_entry> sinks;
    std::mutex clock_lock;
    kpes::wrap_clock clock;
    facility() { InitializeCriticalSection(&lock); }
};

facility& state() {
    static facility* const instance = new facility;
    return *instance;
}

// Created by a static initialiser, before main runs.
facility& g_facility = state();

void deliver_to_sinks(const std::string& line, int severity) {
    for (const sink_entry& entry : state().sinks) {
        if (entry.min_severity > severity) continue;
        size_t done = 0;
        while (done < line.size()) {
            long n = entry.sink->write(line.data() + done, line.size() - done);
            if (n <= 0) break;
            done += static_cast<size_t>(n);
        }
    }
}

}  // namespace

namespace kpes {

int min_severity() { return g_min_severity.load(std::memory_order_relaxed); }
int debug_output_threshold() { return kDebugOutputThreshold; }
int source_position_threshold() { return kSourcePositionThreshold; }
void set_min_severity(int severity) { g_min_severity.store(severity); }

void add_log_sink(log_sink* sink, int min_severity) {
    facility& f = state();
    EnterCriticalSection(&f.lock);
    f.sinks.push_back({sink, min_severity});
    LeaveCriticalSection(&f.lock);
}

void remove_log_sink(log_sink* sink) {
    facility& f = state();
    EnterCriticalSection(&f.lock);
    for (auto it = f.sinks.begin(); it != f.sinks.end();) {
        if (it->sink == sink)
            it = f.sinks.erase(it);
        else
            ++it;
    }
    LeaveCriticalSection(&f.lock);
}

uint64_t wrap_clock::extend(uint32_t reading) {
    const uint32_t previous = last_;
    last_ = reading;
    if (started_ && reading < previous && previous > 0xF0000000u && reading < 0x0FFFFFFFu) ++wraps_;
    started_ = true;
    return (wraps_ << 32) + reading;
}

uint64_t clock_ms() {
    facility& f = state();
    std::lock_guard<std::mutex> guard(f.clock_lock);
    return f.clock.extend(timeGetTime());
}

const char* source_base_name(const char* path) {
    if (!path) return "";
    const char* slash = std::strrchr(path, '/');
    const char* backslash = std::strrchr(path, '\\');
    const char* last = slash > backslash ? slash : backslash;
    return last ? last + 1 : path;
}

std::string escape_controls(const std::string& text) {
    static const char kHex[] = "0123456789abcdef";
    std::string out;
    out.reserve(text.size());
    for (char ch : text) {
        const unsigned char c = static_cast<unsigned char>(ch);
        if (c == '\\') {
            out += "\\\\";
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\r') {
            out += "\\r";
        } else if (c == '\t') {
            out += "\\t";
        } else if (c < 0x20 || c == 0x7f) {
            out += "\\x";
            out += kHex[c >> 4];
            out += kHex[c & 0xf];
        } else {
            out += ch;  // bytes of multi-byte characters pass unchanged
        }
    }
    return out;
}

log_line::log_line(const char* file, int line, int severity, unsigned slow_threshold_ms)
    : severity_(severity), slow_threshold_ms_(slow_threshold_ms) {
    if (severity_ >= kSourcePositionThreshold) text_ << "(" << source_base_name(file) << ":" << line << "): ";
}

log_line::~log_line() {
    text_ << "\n";
    text_.flush();
    const std::string line = text_.str();

    if (severity_ >= kDebugOutputThreshold) {
        OutputDebugStringA(line.c_str());
        HANDLE err = GetStdHandle(STD_ERROR_HANDLE);
        if (err) {
            DWORD written = 0;
            WriteFile(err, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
        } else {
            std::fprintf(stderr, "%s", line.c_str());
            std::fflush(stderr);
        }
    }

    facility& f = state();
    const uint64_t start = clock_ms();
    EnterCriticalSection(&f.lock);
    deliver_to_sinks(line, severity_);
    const uint32_t elapsed = static_cast<uint32_t>(clock_ms() - start);
    if (elapsed >= slow_threshold_ms_) {
        log_line(__FILE__, 217, LS_WARNING, std::numeric_limits<unsigned>::max())
            << "Slow log: took " << elapsed << "ms to write " << line.size() << " bytes.";
    }
    LeaveCriticalSection(&f.lock);
}

}  // namespace kpes

int DbgTrace(int, int, const char*, int, const char*, ...) { return 0; }
