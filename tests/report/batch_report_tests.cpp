#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "batch_report.h"

#ifndef _WIN32
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "thread_refusal.h"
#endif

#include "report_rows.h"
#include "unique_temp_dir.h"
#include "utf_text.h"
#include "xlsbook/workbook_file.h"

namespace {

using Rows = kptest::ReportRows;
Rows LoadRows(const std::string& path) { return kptest::LoadReportRows(path); }

std::vector<std::string> Header() {
    return std::vector<std::string>(report::BatchReport::kHeader,
                                    report::BatchReport::kHeader + report::BatchReport::kColumns);
}

class BatchReportTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = MakeUniqueTempDir("kp_report_");
        ASSERT_FALSE(dir_.empty());
    }
    void TearDown() override {
        xlsbook::testing::set_save_chunk_hook(nullptr);
        std::error_code ignored;
        std::filesystem::remove_all(dir_, ignored);
    }
    std::string dir_;
};

TEST_F(BatchReportTest, RowsHoldEveryColumnInTheOrderCamerasEnd) {
    auto report = report::BatchReport::Start(dir_ + "/a/b", "upgrade", "pkg/fw.bin");
    ASSERT_TRUE(report);
    const std::string name = std::filesystem::path(report->path()).filename().string();
    EXPECT_EQ(name.rfind("upgrade_", 0), 0u) << name;
    EXPECT_EQ(name.size(), std::string("upgrade_20261208_052319.xls").size()) << name;
    // The header is on disk before any camera has ended.
    EXPECT_EQ(LoadRows(report->path()), Rows{Header()});

    const int first = report->AddCamera("10.0.0.1", "SN1");
    const int second = report->AddCamera("10.0.0.2", "SN2");
    const int never = report->AddCamera("10.0.0.3", "SN3");
    report->Step(first, true, "登录成功");
    report->Step(first, true, "开始升级");
    report->Step(first, true, "完成");
    report->SetFirmware(first, "V1.2", "V1.2");
    report->Step(second, false, "登录失败");
    report->Finish(second, "升级失败", "");
    report->Finish(first, "升级成功", "not verified: still runs V1.2");
    // A second end of a camera, and reports after it, change nothing.
    report->Finish(second, "升级成功", "verified");
    report->Step(second, true, "late");
    ASSERT_TRUE(report->Flush());

    const Rows rows = LoadRows(report->path());
    ASSERT_EQ(rows.size(), 3u);  // the camera that never ended has no row
    EXPECT_EQ(rows[0], Header());
    EXPECT_EQ(rows[1][0], "10.0.0.2");
    EXPECT_EQ(rows[1][6], "✗ 登录失败");
    EXPECT_EQ(rows[1][7], "升级失败");
    EXPECT_EQ(rows[1][10], "");
    const std::vector<std::string> want_first = {"10.0.0.1",
                                                 "SN1",
                                                 "upgrade",
                                                 "pkg/fw.bin",
                                                 rows[2][4],
                                                 rows[2][5],
                                                 "登录成功 | 开始升级 | 完成",
                                                 "升级成功",
                                                 "V1.2",
                                                 "V1.2",
                                                 "not verified: still runs V1.2"};
    EXPECT_EQ(rows[2], want_first);
    EXPECT_EQ(rows[2][4].size(), std::string("2026-12-08 05:23:19").size());
    EXPECT_LE(rows[2][4], rows[2][5]);
    (void)never;
#ifndef _WIN32
    struct stat st {};
    ASSERT_EQ(stat(report->path().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
#endif
}

TEST_F(BatchReportTest, TakenNamesGetASuffixAndAnUnwritableFolderGivesNull) {
    // Two batches in the same second: the second report never replaces the first.
    for (int attempt = 0; attempt < 5; ++attempt) {
        auto one = report::BatchReport::Start(dir_, "reboot", "");
        auto two = report::BatchReport::Start(dir_, "reboot", "");
        ASSERT_TRUE(one && two);
        ASSERT_NE(one->path(), two->path());
        const std::string stem = one->path().substr(0, one->path().size() - 4);
        if (two->path() != stem + "_2.xls") continue;  // the clock turned a second between them
        auto three = report::BatchReport::Start(dir_, "reboot", "");
        ASSERT_TRUE(three);
        if (three->path().rfind(stem, 0) == 0) {
            EXPECT_EQ(three->path(), stem + "_3.xls");
        }
        break;
    }
    // A file where the folder should be.
    const std::string file = dir_ + "/plain";
    std::FILE* f = std::fopen(file.c_str(), "w");
    ASSERT_TRUE(f);
    std::fclose(f);
    EXPECT_FALSE(report::BatchReport::Start(file, "reboot", ""));
    EXPECT_FALSE(report::BatchReport::Start(file + "/below", "reboot", ""));
}

// A burst of endings while a save runs goes into one next save, and nothing is lost.
TEST_F(BatchReportTest, EndingsDuringASaveShareTheNextSave) {
    auto report = report::BatchReport::Start(dir_, "reboot", "");
    ASSERT_TRUE(report);
    std::mutex lock;
    std::condition_variable changed;
    bool entered = false, open = false;
    xlsbook::testing::set_save_chunk_hook([&](size_t) {
        std::unique_lock<std::mutex> guard(lock);
        entered = true;
        changed.notify_all();
        changed.wait(guard, [&] { return open; });
        return true;
    });
    report->Finish(report->AddCamera("10.1.0.0", "S0"), "设置成功", "");
    {
        std::unique_lock<std::mutex> guard(lock);
        changed.wait(guard, [&] { return entered; });
    }
    constexpr int kThreads = 4, kEach = 250;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < kEach; ++i) {
                const int id = report->AddCamera("10.2." + std::to_string(t) + "." + std::to_string(i), "S");
                report->Step(id, true, "开始重启");
                report->Finish(id, "设置成功", "");
            }
        });
    }
    for (std::thread& thread : threads) thread.join();
    {
        std::lock_guard<std::mutex> guard(lock);
        open = true;
    }
    changed.notify_all();
    ASSERT_TRUE(report->Flush());
    EXPECT_EQ(report->saves(), 3);  // header, the first camera, the burst
    const Rows rows = LoadRows(report->path());
    ASSERT_EQ(rows.size(), 2u + kThreads * kEach);
    EXPECT_EQ(rows[1][0], "10.1.0.0");
    for (size_t r = 2; r < rows.size(); ++r) EXPECT_EQ(rows[r][6], "开始重启");
}

TEST_F(BatchReportTest, AFailedSaveIsReportedAndTheNextFlushWritesTheRows) {
    auto report = report::BatchReport::Start(dir_, "password", "");
    ASSERT_TRUE(report);
    std::atomic<int> said{0};
    report->OnSaveFailed([&said] { ++said; });
    xlsbook::testing::set_save_chunk_hook([](size_t) { return false; });
    report->Finish(report->AddCamera("10.0.0.9", "S9"), "设置成功", "");
    EXPECT_FALSE(report->Flush());
    report->Finish(report->AddCamera("10.0.0.10", "S10"), "设置成功", "");
    EXPECT_FALSE(report->Flush());
    EXPECT_EQ(said.load(), 1);                       // said once, not at every save
    EXPECT_EQ(LoadRows(report->path()).size(), 1u);  // the header as it was
    xlsbook::testing::set_save_chunk_hook(nullptr);
    EXPECT_TRUE(report->Flush());
    const Rows rows = LoadRows(report->path());
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[1][0], "10.0.0.9");
}

TEST_F(BatchReportTest, TemporaryFilesOfKilledSavesAreRemovedByTheNextReport) {
    namespace fs = std::filesystem;
    auto write = [](const fs::path& path) { std::ofstream(path) << "partial"; };
    const fs::path abandoned = fs::path(dir_) / ".reboot_20261208_093000.xls.saving";
    const fs::path recent = fs::path(dir_) / ".time_20261208_093001.xls.saving";
    const fs::path other = fs::path(dir_) / "notes.saving";
    write(abandoned);
    write(recent);
    write(other);
    const auto hour_ago = fs::file_time_type::clock::now() - std::chrono::hours(1);
    fs::last_write_time(abandoned, hour_ago);
    fs::last_write_time(other, hour_ago);

    // A live report's own temporary file is never taken, however old it looks.
    auto live = report::BatchReport::Start(dir_, "reboot", "");
    ASSERT_TRUE(live);
    const fs::path live_temp =
        fs::path(dir_) / ("." + fs::path(live->path()).filename().string() + ".saving");
    write(live_temp);
    fs::last_write_time(live_temp, hour_ago);

    auto next = report::BatchReport::Start(dir_, "time", "");
    ASSERT_TRUE(next);
    EXPECT_FALSE(fs::exists(abandoned));
    EXPECT_TRUE(fs::exists(recent));  // may be another program's save under way
    EXPECT_TRUE(fs::exists(other));   // not a save's temporary file
    EXPECT_TRUE(fs::exists(live_temp));
    fs::remove(live_temp);
}

#ifndef _WIN32
// The rows xlrd reads, or nothing with `skipped` set when Debian's xlrd is not installed.
Rows ReadWithXlrd(const std::string& path, bool* skipped) {
    *skipped = false;
    Rows rows;
    const std::string command = std::string("/usr/bin/python3 ") + KP_REPORT_XLRD_SCRIPT + " '" + path + "'";
    std::FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return rows;
    std::string text;
    char buffer[4096];
    for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) text.append(buffer, n);
    const int status = pclose(pipe);
    if (WIFEXITED(status) && WEXITSTATUS(status) == 3) {
        *skipped = true;
        return rows;
    }
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << text;
    size_t begin = 0;
    while (begin < text.size()) {
        const size_t end = text.find('\n', begin);
        std::vector<std::string> row;
        size_t cell = begin;
        for (;;) {
            const size_t tab = text.find('\t', cell);
            if (tab == std::string::npos || tab > end) {
                row.push_back(text.substr(cell, end - cell));
                break;
            }
            row.push_back(text.substr(cell, tab - cell));
            cell = tab + 1;
        }
        row.resize(report::BatchReport::kColumns);
        rows.push_back(row);
        begin = end + 1;
    }
    return rows;
}

// A process killed in the middle of a save (the worst moment) leaves a report that both our
// reader and xlrd open, holding every camera that had ended before the save began.
TEST_F(BatchReportTest, AKilledProgramLeavesEveryEndedCameraReadable) {
    constexpr int kFlushed = 40;
    int channel[2];
    ASSERT_EQ(pipe(channel), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        close(channel[0]);
        auto report = report::BatchReport::Start(dir_, "reboot", "");
        if (!report) _exit(1);
        for (int i = 0;; ++i) {
            if (i == kFlushed) {
                // Dies halfway through writing the next save's temporary file. Set while the
                // writer is idle: every earlier row was flushed.
                xlsbook::testing::set_save_chunk_hook([](size_t written) {
                    if (written > 0) raise(SIGKILL);
                    return true;
                });
            }
            const int id = report->AddCamera("10.3.0." + std::to_string(i), "SN" + std::to_string(i));
            report->Step(id, true, "登录成功");
            report->Step(id, i % 3 != 0, i % 3 ? "完成" : "重启失败");
            report->Finish(id, i % 3 ? "设置成功" : "设置失败", "");
            if (i < kFlushed) {
                if (!report->Flush()) _exit(2);
                if (write(channel[1], "+", 1) != 1) _exit(3);
            } else if (i > 100000) {
                _exit(4);
            }
        }
    }
    close(channel[1]);
    int acknowledged = 0;
    char byte;
    while (read(channel[0], &byte, 1) == 1) ++acknowledged;
    close(channel[0]);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << status;
    ASSERT_EQ(acknowledged, kFlushed);

    std::vector<std::string> reports;
    for (const auto& entry : std::filesystem::directory_iterator(dir_))
        if (entry.path().extension() == ".xls") reports.push_back(entry.path().string());
    ASSERT_EQ(reports.size(), 1u);
    const Rows rows = LoadRows(reports[0]);
    ASSERT_GE(rows.size(), 1u + kFlushed);
    EXPECT_EQ(rows[0], Header());
    for (int i = 0; i < kFlushed; ++i) {
        const std::vector<std::string>& row = rows[1 + i];
        EXPECT_EQ(row[0], "10.3.0." + std::to_string(i));
        EXPECT_EQ(row[6], i % 3 ? "登录成功 | 完成" : "登录成功 | ✗ 重启失败");
        EXPECT_EQ(row[7], i % 3 ? "设置成功" : "设置失败");
        EXPECT_FALSE(row[5].empty());
    }
    bool skipped = false;
    const Rows seen_by_xlrd = ReadWithXlrd(reports[0], &skipped);
    if (skipped) GTEST_SKIP() << "Debian's python3-xlrd is not installed";
    EXPECT_EQ(seen_by_xlrd, rows);
}
#endif

}  // namespace

#ifndef _WIN32
// The batch goes on without a report: none is handed out, and no header-only file stays.
TEST_F(BatchReportTest, RefusedWriterThreadGivesNoReportAndLeavesNoFile) {
    {
        test::ThreadRefusal refuse;
        EXPECT_FALSE(report::BatchReport::Start(dir_, "reboot", ""));
    }
    EXPECT_TRUE(std::filesystem::is_empty(dir_));
    auto report = report::BatchReport::Start(dir_, "reboot", "");
    ASSERT_TRUE(report);
    report->Finish(report->AddCamera("10.0.0.1", "S1"), "设置成功", "");
    EXPECT_TRUE(report->Flush());
}
#endif
