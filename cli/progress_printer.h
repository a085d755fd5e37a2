// What a batch shows while it runs: the command line's observer of the batch engine, called one
// report at a time.
//
// Plain (a pipe or a file): one line "<ip> <text>" per report as it arrives, the upgrade
// percentage whenever it changes, then "<ip> <final text>" per camera and the summary
// "N succeeded, M failed". A final line ends with the check after the operation where one was
// made ("升级成功, verified").
// Terminal: one line per camera as it ends, under a status line that is redrawn in place (bar,
// counts, and the average percentage of running upgrades), then the same summary.
// Records only (JSON, CSV): no line at all; the caller prints each camera's final from finals().
// Texts that may come from a camera (reasons, versions) reach the terminal with their control
// characters escaped.
#pragma once

#include <chrono>
#include <ostream>
#include <string>
#include <vector>

#include "batch.h"

namespace cli {

class ProgressPrinter : public batch::Observer {
public:
    enum class Mode { Plain, Terminal, RecordsOnly };
    ProgressPrinter(std::ostream& out, std::vector<std::string> ips, Mode mode);

    void OnStart(int camera) override;
    void OnStep(int camera, bool ok, const std::string& text) override;
    void OnUpgradeProgress(int camera, DeviceStatus status, int percent) override;
    void OnFinish(int camera, const batch::Final& final) override;

    // Clears the status line and prints the summary.
    void Summary();

    // How each camera ended, by its number; filled once the batch has ended.
    const std::vector<batch::Final>& finals() const { return finals_; }
    int succeeded() const { return succeeded_; }
    int failed() const { return failed_; }

private:
    void Line(const std::string& text);
    void DrawStatus(bool force);

    std::ostream& out_;
    std::vector<std::string> ips_;
    std::vector<int> percent_;  // -1: not upgrading
    std::vector<batch::Final> finals_;
    Mode mode_;
    bool terminal_;
    int running_ = 0;
    int succeeded_ = 0;
    int failed_ = 0;
    bool status_shown_ = false;
    std::chrono::steady_clock::time_point last_draw_;
};

}  // namespace cli
