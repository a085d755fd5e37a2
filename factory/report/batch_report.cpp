#include "batch_report.h"

#include <direct.h>
#include <io.h>
#include <windows.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <filesystem>
#include <functional>
#include <mutex>
#include <set>
#include <unordered_map>
#include <utility>
#include <vector>

#include "logging.h"
#include "worker.h"
#include "xlsbook/workbook_file.h"

namespace report {

// The rows are Chinese; the headers the technician reads above them are too.
const char* const BatchReport::kHeader[kColumns] = {"IP地址",     "序列号",     "操作",    "参数",
                                                    "开始时间",   "结束时间",   "步骤",    "最终状态",
                                                    "升级前版本", "升级后版本", "验证结果"};

namespace {

const char kSheetName[] = "report";
const char kStepSeparator[] = " | ";
// Marks a failed step among the successful ones.
const char kFailedStep[] = "✗ ";
// The writer's pause after a save, as a multiple of the save's length, and at most.
constexpr int kSavePauseFactor = 3;
constexpr std::chrono::milliseconds kLongestSavePause(1000);

std::string two(int value) {
    char text[8];
    std::snprintf(text, sizeof text, "%02d", value % 100);
    return text;
}

// "2026-12-08 05:23:19"
std::string now_text() {
    SYSTEMTIME t{};
    GetLocalTime(&t);
    return std::to_string(t.wYear) + "-" + two(t.wMonth) + "-" + two(t.wDay) + " " + two(t.wHour) + ":" +
           two(t.wMinute) + ":" + two(t.wSecond);
}

// "20261208_052319"
std::string stamp_for_name() {
    SYSTEMTIME t{};
    GetLocalTime(&t);
    return std::to_string(t.wYear) + two(t.wMonth) + two(t.wDay) + "_" + two(t.wHour) + two(t.wMinute) +
           two(t.wSecond);
}

bool make_folder(const std::string& path) {
    for (size_t i = 1; i <= path.size(); ++i) {
        if (i < path.size() && path[i] != '\\' && path[i] != '/') continue;
        const std::string prefix = path.substr(0, i);
        if (_access(prefix.c_str(), 0) != 0 && _mkdir(prefix.c_str()) != 0 &&
            _access(prefix.c_str(), 0) != 0) {
            KPES_LOG(kpes::LS_ERROR) << "report folder cannot be made: " << prefix;
            return false;
        }
    }
    return true;
}

// Operation names become part of a file name: keep them to characters every system accepts.
std::string name_part(const std::string& operation) {
    std::string out;
    for (const char c : operation) {
        const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                           c == '-' || c == '_' || (c & 0x80);
        out += plain ? c : '_';
    }
    return out.empty() ? "batch" : out;
}

// UTF-8 into a text cell; an empty text leaves the cell empty. Bytes that are not UTF-8 are
// kept one per character rather than dropped.
void put_text(xlsbook::WorksheetView* sheet, size_t row, size_t column, const std::string& text) {
    if (text.empty()) return;
    xlsbook::CellValue* cell = sheet->cell(row, column);
    if (!cell) return;
    const int units = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    if (units <= 0) {
        cell->set_text(text.substr(0, xlsbook::kMaxTextLength));
        return;
    }
    std::wstring wide(static_cast<size_t>(units), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &wide[0], units);
    std::u16string utf16(wide.begin(), wide.end());
    if (utf16.size() > xlsbook::kMaxTextLength) {
        size_t cut = xlsbook::kMaxTextLength;
        // Never split a surrogate pair.
        if (utf16[cut - 1] >= 0xD800 && utf16[cut - 1] < 0xDC00) --cut;
        utf16.resize(cut);
    }
    cell->set_wide_text(utf16);
}

}  // namespace

namespace {

// Reports of this process still being written: their temporary files are in use. The set is
// never destroyed: a batch's thread may let go of its report while the process exits.
std::mutex g_live_lock;
std::set<std::string>& g_live_reports = *new std::set<std::string>;

void add_live(const std::string& path) {
    std::lock_guard<std::mutex> guard(g_live_lock);
    g_live_reports.insert(path);
}

void forget_live(const std::string& path) {
    std::lock_guard<std::mutex> guard(g_live_lock);
    g_live_reports.erase(path);
}

// The safe save's temporary file is ".NAME.saving" beside NAME; a save killed midway leaves it,
// and since every report has a name of its own no later save of that name would take it.
void remove_abandoned_saves(const std::string& folder) {
    namespace fs = std::filesystem;
    const std::string suffix = ".saving";
    const auto old_enough =
        fs::file_time_type::clock::now() - std::chrono::seconds(BatchReport::kAbandonedSaveSeconds);
    std::error_code error;
    for (fs::directory_iterator it(fs::u8path(folder), error), end; !error && it != end;
         it.increment(error)) {
        const std::string name = it->path().filename().u8string();
        if (name.size() <= suffix.size() + 1 || name[0] != '.' ||
            name.compare(name.size() - suffix.size(), suffix.size(), suffix) != 0)
            continue;
        const std::string target = folder + "/" + name.substr(1, name.size() - suffix.size() - 1);
        {
            std::lock_guard<std::mutex> guard(g_live_lock);
            if (g_live_reports.count(target)) continue;
        }
        std::error_code time_error;
        const auto written = fs::last_write_time(it->path(), time_error);
        if (time_error || written > old_enough) continue;
        const std::string path = folder + "/" + name;
        if (DeleteFileA(path.c_str())) {
            KPES_LOG(kpes::LS_WARNING) << "left over by a killed report save, removed: " << path;
        }
    }
}

}  // namespace

struct BatchReport::State {
    struct Row {
        std::string ip, serial, start, end, steps, final_status, before, after, verification;
        // The row's own arguments when they differ from the batch's (each camera's new address).
        std::string arguments;
        bool own_arguments = false;
    };

    std::string path;
    std::string operation;
    std::string arguments;

    State() : writer(WriterOptions()) {}

    static factory::Worker::Options WriterOptions() {
        factory::Worker::Options options;
        options.name = "report writer";
        return options;
    }

    mutable std::mutex lock;        // guards everything below except `book`, `sheet` and `next_row`
    std::condition_variable saved;  // Flush: a save has ended
    std::condition_variable hurry;  // the writer, pausing between saves: a Flush waits
    int flushes = 0;                // Flush calls waiting
    std::chrono::steady_clock::time_point next_save;  // the writer's pause ends
    std::unordered_map<int, Row> open;
    std::deque<Row> ended;  // ended, not yet taken by the writer
    int next_id = 0;
    unsigned long long finished = 0;  // rows handed to Finish
    unsigned long long written = 0;   // of those, rows that a completed save attempt included
    bool retry = false;
    bool save_posted = false;  // a save job waits for the writer
    bool saving = false;
    bool last_ok = true;
    std::function<void()> save_failed;  // run once, at the first failed save
    int saves = 0;
    double longest_ms = 0;

    // The writer thread's alone once it runs.
    xlsbook::WorkbookFile book;
    xlsbook::WorksheetView* sheet = nullptr;
    size_t next_row = 1;
    // Last: it stops (and joins) before what its jobs use goes.
    factory::Worker writer;

    bool save() {
        const auto begin = std::chrono::steady_clock::now();
        const bool ok = book.save_as(path);
        const auto end = std::chrono::steady_clock::now();
        const double ms = std::chrono::duration<double, std::milli>(end - begin).count();
        std::lock_guard<std::mutex> guard(lock);
        ++saves;
        if (ms > longest_ms) longest_ms = ms;
        // Each save rewrites the whole workbook: back to back, a large batch's endings would keep
        // a processor busy saving. Pausing three times the save's length keeps the writer at a
        // quarter of one, and a Flush cuts the pause short.
        next_save = end + std::min<std::chrono::steady_clock::duration>(kSavePauseFactor * (end - begin),
                                                                        kLongestSavePause);
        return ok;
    }

    void put_row(const Row& row) {
        if (next_row >= xlsbook::kMaxRows) {
            KPES_LOG(kpes::LS_ERROR) << "report full, row left out: " << kpes::escape_controls(row.ip);
            return;
        }
        const std::string* values[kColumns] = {
            &row.ip,     &row.serial, &operation,       row.own_arguments ? &row.arguments : &arguments,
            &row.start,  &row.end,    &row.steps,       &row.final_status,
            &row.before, &row.after,  &row.verification};
        for (int column = 0; column < kColumns; ++column) put_text(sheet, next_row, column, *values[column]);
        ++next_row;
    }

    // With `lock` held: queues a save unless one waits already. Endings that come while a save
    // runs wait for the next one, so a burst of endings costs a few saves.
    void request_save() {
        if (save_posted) return;
        save_posted = true;
        if (writer.Post([this] { save_ended(); })) return;
        // Only a stopped writer refuses; Flush must not wait for a save that never comes.
        KPES_LOG(kpes::LS_ERROR) << "report writer stopped, rows left out: " << path;
        save_posted = false;
        last_ok = false;
        ended.clear();
        retry = false;
        written = finished;
        saved.notify_all();
    }

    void save_ended() {
        std::unique_lock<std::mutex> guard(lock);
        // Still posted while pausing: the endings meanwhile join this save.
        hurry.wait_until(guard, next_save, [&] { return flushes > 0; });
        save_posted = false;
        if (ended.empty() && !retry) return;
        std::deque<Row> taken;
        taken.swap(ended);
        const unsigned long long through = finished;
        retry = false;
        saving = true;
        guard.unlock();
        for (const Row& row : taken) put_row(row);
        taken.clear();
        const bool ok = save();
        std::function<void()> say_failed;
        if (!ok) {
            KPES_LOG(kpes::LS_ERROR) << "report save failed: " << path;
            std::lock_guard<std::mutex> callback_guard(lock);
            say_failed.swap(save_failed);
        }
        if (say_failed) say_failed();
        guard.lock();
        saving = false;
        last_ok = ok;
        written = through;
        saved.notify_all();
    }
};

BatchReport::BatchReport(std::unique_ptr<State> state) : state_(std::move(state)) {}

std::shared_ptr<BatchReport> BatchReport::Start(const std::string& folder, const std::string& operation,
                                                const std::string& arguments) {
    if (folder.empty() || !make_folder(folder)) return nullptr;
    remove_abandoned_saves(folder);
    auto state = std::make_unique<State>();
    state->operation = operation;
    state->arguments = arguments;

    // The name is taken by creating the file, so two batches started in the same second (or two
    // programs) never share a report.
    const std::string base = folder + "/" + name_part(operation) + "_" + stamp_for_name();
    for (int n = 1; state->path.empty(); ++n) {
        if (n > 1000) {
            KPES_LOG(kpes::LS_ERROR) << "no free report name: " << base;
            return nullptr;
        }
        const std::string candidate = base + (n == 1 ? std::string() : "_" + std::to_string(n)) + ".xls";
        const HANDLE file = CreateFileA(candidate.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                        FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file != INVALID_HANDLE_VALUE) {
            CloseHandle(file);
            state->path = candidate;
            break;
        }
        const DWORD error = GetLastError();
        if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) {
            KPES_LOG(kpes::LS_ERROR) << "report cannot be created: " << candidate << " (" << error << ")";
            return nullptr;
        }
    }

    state->sheet = state->book.add_worksheet(kSheetName);
    for (int column = 0; column < kColumns; ++column) put_text(state->sheet, 0, column, kHeader[column]);
    if (!state->save()) {
        KPES_LOG(kpes::LS_ERROR) << "report cannot be written: " << state->path;
        DeleteFileA(state->path.c_str());
        return nullptr;
    }
    if (!state->writer.Start()) {
        // The batch runs without a report rather than not at all; no header-only file stays.
        KPES_LOG(kpes::LS_ERROR) << "report writer cannot start: " << state->path;
        DeleteFileA(state->path.c_str());
        return nullptr;
    }
    add_live(state->path);
    return std::shared_ptr<BatchReport>(new BatchReport(std::move(state)));
}

void BatchReport::OnSaveFailed(std::function<void()> callback) {
    std::lock_guard<std::mutex> guard(state_->lock);
    state_->save_failed = std::move(callback);
}

BatchReport::~BatchReport() {
    Flush();
    forget_live(state_->path);
    state_->writer.Stop();
}

const std::string& BatchReport::path() const { return state_->path; }

int BatchReport::AddCamera(const std::string& ip, const std::string& serial) {
    State::Row row;
    row.ip = ip;
    row.serial = serial;
    row.start = now_text();
    std::lock_guard<std::mutex> guard(state_->lock);
    const int id = state_->next_id++;
    state_->open.emplace(id, std::move(row));
    return id;
}

void BatchReport::Step(int id, bool ok, const std::string& text) {
    std::lock_guard<std::mutex> guard(state_->lock);
    const auto found = state_->open.find(id);
    if (found == state_->open.end()) return;
    std::string& steps = found->second.steps;
    if (!steps.empty()) steps += kStepSeparator;
    if (!ok) steps += kFailedStep;
    steps += text;
}

void BatchReport::SetArguments(int id, const std::string& arguments) {
    std::lock_guard<std::mutex> guard(state_->lock);
    const auto found = state_->open.find(id);
    if (found == state_->open.end()) return;
    found->second.arguments = arguments;
    found->second.own_arguments = true;
}

void BatchReport::SetFirmware(int id, const std::string& before, const std::string& after) {
    std::lock_guard<std::mutex> guard(state_->lock);
    const auto found = state_->open.find(id);
    if (found == state_->open.end()) return;
    found->second.before = before;
    found->second.after = after;
}

void BatchReport::Finish(int id, const std::string& final_status, const std::string& verification) {
    const std::string end = now_text();
    {
        std::lock_guard<std::mutex> guard(state_->lock);
        const auto found = state_->open.find(id);
        if (found == state_->open.end()) return;
        State::Row row = std::move(found->second);
        state_->open.erase(found);
        row.end = end;
        row.final_status = final_status;
        row.verification = verification;
        state_->ended.push_back(std::move(row));
        ++state_->finished;
        state_->request_save();
    }
}

bool BatchReport::Flush() {
    std::unique_lock<std::mutex> guard(state_->lock);
    // A failed save is tried once more: the rows it held are still in the workbook.
    if (!state_->last_ok && state_->ended.empty() && !state_->saving) {
        state_->retry = true;
        state_->request_save();
    }
    const unsigned long long through = state_->finished;
    ++state_->flushes;
    state_->hurry.notify_all();
    state_->saved.wait(guard, [&] {
        return state_->written >= through && !state_->retry && !state_->saving && state_->ended.empty();
    });
    --state_->flushes;
    return state_->last_ok;
}

int BatchReport::saves() const {
    std::lock_guard<std::mutex> guard(state_->lock);
    return state_->saves;
}

double BatchReport::longest_save_ms() const {
    std::lock_guard<std::mutex> guard(state_->lock);
    return state_->longest_ms;
}

std::string ReportsFolderBesideDeviceList() { return "reports"; }

}  // namespace report
