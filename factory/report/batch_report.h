// The report of one batch: a workbook with a row for every camera that has ended, written while
// the batch runs so that a crash or a power cut still leaves every ended camera on disk.
//
//   auto report = report::BatchReport::Start(report::ReportsFolderBesideDeviceList(), "reboot", "");
//   if (report) {
//       const int id = report->AddCamera("192.168.1.20", "SN0001");
//       report->Step(id, true, "登录成功");
//       report->Finish(id, "设置成功", "");
//   }
//
// Rows go into the file in the order the cameras end. Callers on any thread only queue their
// reports; one writer thread of the report re-saves the whole workbook (the safe save: temporary
// file, flushed, moved over the report) whenever cameras have ended, taking every camera that
// ended during a save into the next one, so a burst of endings costs a few saves.
#pragma once

#include <functional>
#include <memory>
#include <string>

namespace report {

class BatchReport {
public:
    // The report's columns, in order.
    static constexpr int kColumns = 11;
    static const char* const kHeader[kColumns];
    // A save takes milliseconds: a temporary file this old belongs to no save still running,
    // whichever program made it.
    static constexpr int kAbandonedSaveSeconds = 60;

    // Creates `<folder>/<operation>_<yyyymmdd_hhmmss>.xls` (folder created if missing; "_2",
    // "_3"... appended when the name is taken) and writes its header row at once. Temporary
    // files that killed saves left in the folder (no report of this process writes them, and
    // they are older than kAbandonedSaveSeconds) are removed first. `arguments`
    // is the operation's arguments as the user gave them; the caller never puts a password in
    // it. Returns null (and logs) when the folder or file cannot be written.
    static std::shared_ptr<BatchReport> Start(const std::string& folder, const std::string& operation,
                                              const std::string& arguments);
    ~BatchReport();  // flushes

    BatchReport(const BatchReport&) = delete;
    BatchReport& operator=(const BatchReport&) = delete;

    const std::string& path() const;

    // Every call below is thread-safe and cheap (no file I/O on the caller's thread).
    int AddCamera(const std::string& ip, const std::string& serial);  // row id; start time = now
    void Step(int id, bool ok, const std::string& text);              // a step report, in order
    // The row's "arguments" cell in place of the batch's (never a password).
    void SetArguments(int id, const std::string& arguments);
    void SetFirmware(int id, const std::string& before, const std::string& after);
    // The camera has ended: end time = now; its row goes into the file. `verification` is
    // "verified", "not verified: <why>", or empty when the operation has nothing to verify.
    // Calls with an unknown or already finished id are ignored.
    void Finish(int id, const std::string& final_status, const std::string& verification);
    // Waits until every finished row is on disk; false when the last save failed.
    bool Flush();
    // Called once, on the writer thread, when a save first fails; set it before any Finish.
    void OnSaveFailed(std::function<void()> callback);

    // Saves made so far (the header's included) and the longest of them, in milliseconds.
    int saves() const;
    double longest_save_ms() const;

private:
    struct State;
    explicit BatchReport(std::unique_ptr<State> state);
    std::unique_ptr<State> state_;
};

// "reports" in the working directory (where the device list lives).
std::string ReportsFolderBesideDeviceList();

}  // namespace report
