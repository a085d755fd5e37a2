// The runner: the bound on cameras at once, one end per camera, and what counts as a success.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <map>
#include <thread>

#include "batch_runner.h"

namespace {

using cli::BatchRunner;

struct Recorder : cli::BatchObserver {
    std::map<int, int> starts, finishes;
    std::map<int, std::vector<std::string>> steps;
    std::map<int, cli::FinalResult> results;
    void OnStart(int camera) override { ++starts[camera]; }
    void OnStep(int camera, bool, const std::string& text) override { steps[camera].push_back(text); }
    void OnFinish(int camera, bool, const std::string&, const cli::FinalResult& result) override {
        ++finishes[camera];
        results[camera] = result;
    }
};

TEST(BatchRunner, RunsAtMostParallelCamerasAtOnceAndEndsEachOnce) {
    std::atomic<int> inside{0};
    std::atomic<int> most{0};
    Recorder recorder;
    BatchRunner runner(cli::ResultKind::Setting);
    const int succeeded = runner.Run(
        12, 3,
        [&](const BatchRunner::Deal& deal, int camera, const BatchRunner::Reports& reports) {
            deal->PostJob([deal, camera, reports, &inside, &most] {
                const int now = ++inside;
                int seen = most.load();
                while (now > seen && !most.compare_exchange_weak(seen, now)) {
                }
                reports.progress(true, "开始时间检查");
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
                --inside;
                reports.progress(camera % 4 != 0, camera % 4 != 0 ? "完成" : "设备登陆失败");
                // Whatever a job says after its end is not shown.
                reports.progress(false, "late");
            });
        },
        recorder);
    EXPECT_LE(most.load(), 3);
    EXPECT_GE(most.load(), 2);  // the cameras did run side by side
    EXPECT_EQ(9, succeeded);
    ASSERT_EQ(12u, recorder.finishes.size());
    for (const auto& entry : recorder.finishes) {
        EXPECT_EQ(1, entry.second) << entry.first;
        EXPECT_EQ(1, recorder.starts[entry.first]) << entry.first;
        EXPECT_EQ(std::vector<std::string>{"开始时间检查"}, recorder.steps[entry.first]);
    }
    EXPECT_EQ("设置失败", recorder.results[4].status);
    EXPECT_EQ("设置成功", recorder.results[5].status);
}

TEST(BatchRunner, AFailedCheckTurnsAReportedSuccessIntoAFailure) {
    Recorder recorder;
    BatchRunner runner(cli::ResultKind::Upgrade);
    const int succeeded = runner.Run(
        3, 0,
        [](const BatchRunner::Deal& deal, int camera, const BatchRunner::Reports& reports) {
            deal->PostJob([camera, reports] {
                if (camera == 0) reports.verification(false, "not verified: still runs 3.2.1.15");
                if (camera == 1) reports.verification(true, "verified");
                // An upgrade's "完成" is a success even when the logout after it failed, as in the window.
                reports.progress(camera != 2, "完成");
            });
        },
        recorder);
    EXPECT_EQ(2, succeeded);
    EXPECT_EQ("升级成功", recorder.results[0].status);
    EXPECT_FALSE(recorder.results[0].ok);
    EXPECT_EQ("not verified: still runs 3.2.1.15", recorder.results[0].verification);
    EXPECT_TRUE(recorder.results[1].ok);
    EXPECT_TRUE(recorder.results[2].ok);
    EXPECT_EQ("", recorder.results[2].verification);
}

}  // namespace
