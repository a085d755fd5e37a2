#include "logging.h"

#include <direct.h>
#include <io.h>
#include <windows.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <limits>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

namespace {

std::atomic<int> g_min_severity{0};
std::atomic<bool> g_standard_error{true};
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

// Days since 1970-01-01 of a civil date, and back (proleptic Gregorian calendar).
long days_from_civil(int y, int m, int d) {
    y -= m <= 2;
    const long era = (y >= 0 ? y : y - 399) / 400;
    const long yoe = y - era * 400;
    const long doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const long doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

int civil_from_days(long z) {
    z += 719468;
    const long era = (z >= 0 ? z : z - 146096) / 146097;
    const long doe = z - era * 146097;
    const long yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const long doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const long mp = (5 * doy + 2) / 153;
    const int d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    const int m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    const int y = static_cast<int>(yoe + era * 400 + (m <= 2));
    return y * 10000 + m * 100 + d;
}

long days_of(int yyyymmdd) { return days_from_civil(yyyymmdd / 10000, yyyymmdd / 100 % 100, yyyymmdd % 100); }

// A run may have missed days: this many days before the kept ones are looked for.
constexpr int kOldDaysSwept = 60;

}  // namespace

namespace kpes {

rotating_file_sink::rotating_file_sink(std::string folder, uint64_t max_bytes, int keep_days)
    : folder_(std::move(folder)), max_bytes_(max_bytes), keep_days_(keep_days < 1 ? 1 : keep_days) {}

rotating_file_sink::~rotating_file_sink() { close_file(); }

std::string rotating_file_sink::day_path(int yyyymmdd) const {
    char name[16];
    std::snprintf(name, sizeof(name), "%08d.log", yyyymmdd);
    return folder_ + "/" + name;
}

void rotating_file_sink::close_file() {
    if (file_) CloseHandle(static_cast<HANDLE>(file_));
    file_ = nullptr;
}

bool rotating_file_sink::open_day(int yyyymmdd) {
    close_file();
    if (_access(folder_.c_str(), 0) != 0) _mkdir(folder_.c_str());
    if (yyyymmdd != day_) delete_old_days(yyyymmdd);
    day_ = yyyymmdd;
    path_ = day_path(yyyymmdd);
    HANDLE file = CreateFileA(path_.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    LARGE_INTEGER zero{};
    LARGE_INTEGER end{};
    if (!SetFilePointerEx(file, zero, &end, FILE_END)) {
        CloseHandle(file);
        return false;
    }
    file_ = file;
    size_ = static_cast<uint64_t>(end.QuadPart);
    return true;
}

void rotating_file_sink::delete_old_days(int yyyymmdd) {
    const long today = days_of(yyyymmdd);
    for (long day = today - keep_days_; day > today - keep_days_ - kOldDaysSwept; --day) {
        const std::string path = day_path(civil_from_days(day));
        DeleteFileA(path.c_str());
        DeleteFileA((path + ".1").c_str());
    }
}

long rotating_file_sink::write(const char* data, size_t size) {
    int today = fixed_date_;
    if (today == 0) {
        SYSTEMTIME now{};
        GetLocalTime(&now);
        today = now.wYear * 10000 + now.wMonth * 100 + now.wDay;
    }
    if (today != day_ || !file_) {
        if (!open_day(today)) return -1;
    }
    if (size_ > 0 && size_ + size > max_bytes_) {
        close_file();
        MoveFileExA(path_.c_str(), (path_ + ".1").c_str(), MOVEFILE_REPLACE_EXISTING);
        if (!open_day(today)) return -1;
    }
    DWORD written = 0;
    if (!WriteFile(static_cast<HANDLE>(file_), data, static_cast<DWORD>(size), &written, nullptr)) return -1;
    size_ += written;
    return static_cast<long>(written);
}

int min_severity() { return g_min_severity.load(std::memory_order_relaxed); }
int debug_output_threshold() { return kDebugOutputThreshold; }
int source_position_threshold() { return kSourcePositionThreshold; }
void set_min_severity(int severity) { g_min_severity.store(severity); }

void set_standard_error_output(bool on) { g_standard_error.store(on); }

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
        HANDLE err = g_standard_error.load() ? GetStdHandle(STD_ERROR_HANDLE) : nullptr;
        if (err) {
            DWORD written = 0;
            WriteFile(err, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
        } else if (g_standard_error.load()) {
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
