// The process-wide log facility.
//
//   KPES_LOG(kpes::LS_ERROR) << "KpLPRClient_Open false: " << ret;
//
// emits one line when the statement ends: "(file.cpp:42): KpLPRClient_Open false: -1\n" for
// warnings and errors, the bare text for lower severities. Lines go to the debugger channel and
// to standard error, one write each, so lines from several threads never split. A statement
// below the minimum severity builds nothing: its operands are not even evaluated.
//
// DbgTrace is the printf-style trace entry; no trace configuration is installed in this
// program, so it returns 0 at once.
#pragma once

#include <cstddef>
#include <cstdint>
#include <sstream>
#include <string>

namespace kpes {

enum severity : int {
    LS_VERBOSE = 0,
    LS_SENSITIVE = 1,
    LS_INFO = 2,
    LS_WARNING = 3,
    LS_ERROR = 4,
};

// Default slow-delivery threshold of a line, in milliseconds.
constexpr unsigned kSlowLogThresholdMs = 50;

int min_severity();
int debug_output_threshold();
int source_position_threshold();

// Only for tests: the program itself never changes the minimum severity (0).
void set_min_severity(int severity);

// Whether lines also go to standard error (the default). A program whose standard error is for
// its own messages turns it off and keeps its log in files.
void set_standard_error_output(bool on);

// Receives whole lines at or above its minimum severity, under the facility's lock.
class log_sink {
public:
    virtual ~log_sink() = default;
    // Returns the number of bytes taken (possibly fewer than offered), or -1 on failure.
    virtual long write(const char* data, size_t size) = 0;
};

void add_log_sink(log_sink* sink, int min_severity);

// Appends lines to dated files "<folder>/YYYYMMDD.log" (the folder is made when missing), so a
// technician can send the log. A day's file that would grow past `max_bytes` is moved to
// "YYYYMMDD.log.1", replacing the earlier one, and begun again; opening a day's file deletes
// the files of the days before the last `keep_days`. The folder thus stays within about
// 2 x max_bytes x keep_days.
// The programs' dated log files (the window's and the command line's): "log_data" in the working
// directory, at most 4 MiB twice a day, for two weeks.
constexpr char kLogFolder[] = "log_data";
constexpr uint64_t kLogFileBytes = 4u << 20;
constexpr int kLogDays = 14;

class rotating_file_sink : public log_sink {
public:
    rotating_file_sink(std::string folder, uint64_t max_bytes, int keep_days);
    ~rotating_file_sink() override;
    rotating_file_sink(const rotating_file_sink&) = delete;
    rotating_file_sink& operator=(const rotating_file_sink&) = delete;

    long write(const char* data, size_t size) override;
    // The file lines go to; empty before the first line.
    const std::string& current_path() const { return path_; }
    // Dates files by `yyyymmdd` instead of the local clock; 0 returns to the clock.
    void set_date(int yyyymmdd) { fixed_date_ = yyyymmdd; }

private:
    bool open_day(int yyyymmdd);
    void close_file();
    void delete_old_days(int yyyymmdd);
    std::string day_path(int yyyymmdd) const;

    std::string folder_;
    uint64_t max_bytes_;
    int keep_days_;
    void* file_ = nullptr;
    std::string path_;
    int day_ = 0;
    int fixed_date_ = 0;
    uint64_t size_ = 0;
};
void remove_log_sink(log_sink* sink);

// 32-bit millisecond readings extended to 64 bits by counting wraps.
class wrap_clock {
public:
    uint64_t extend(uint32_t reading);

private:
    uint32_t last_ = 0;
    uint64_t wraps_ = 0;
    bool started_ = false;
};

// timeGetTime() extended to 64 bits, shared by the process.
uint64_t clock_ms();

// The base name of a source path: the part after the later of the last '/' and the last '\'.
const char* source_base_name(const char* path);

// Text from the network (a camera's name or address) as it may go into a log line: control
// characters become "\n", "\r", "\t" or "\xHH" and a backslash "\\", so that such text can
// neither end a line nor forge the next one.
std::string escape_controls(const std::string& text);

class log_line {
public:
    log_line(const char* file, int line, int severity, unsigned slow_threshold_ms = kSlowLogThresholdMs);
    ~log_line();

    log_line(const log_line&) = delete;
    log_line& operator=(const log_line&) = delete;

    template <typename T>
    log_line& operator<<(const T& part) {
        text_ << part;
        return *this;
    }
    log_line& operator<<(const char* part) {
        text_ << (part ? part : "(null)");
        return *this;
    }

    std::ostream& stream() { return text_; }

private:
    int severity_;
    unsigned slow_threshold_ms_;
    std::ostringstream text_;
};

}  // namespace kpes

#define KPES_LOG(severity)                     \
    if ((severity) < ::kpes::min_severity()) { \
    } else                                     \
        ::kpes::log_line(__FILE__, __LINE__, (severity))

int DbgTrace(int mid, int level, const char* file, int line, const char* format, ...);
