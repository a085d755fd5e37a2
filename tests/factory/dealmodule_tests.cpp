// The job composer: the reports each job makes, the job ring and the worker's life.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "factory_test_support.h"
#include "sdkface.h"
#include "sdkplate.h"

using namespace factory_test;
using factory::dealmodule;
using Reports = std::vector<Report>;

namespace {

const Report kTimeCheck{true, "开始时间检查"};
const Report kLoggedIn{true, "设备登陆成功 设备型号"};
const Report kDone{true, "完成"};

class DealModuleTest : public ::testing::Test {
protected:
    void SetUp() override {
        LoadDefaultNetwork();
        ASSERT_TRUE(deal_->InitModules(1));
    }
    void TearDown() override {
        deal_->StopWorker();
        RuDAVADO_ClearFaults();
    }
    // As the window does: stop the worker after the final report, which lets the job finish.
    Reports Finish(ReportLog& log) {
        EXPECT_TRUE(log.waitFinal());
        deal_->StopWorker();
        return log.reports();
    }

    std::shared_ptr<dealmodule> deal_ = std::make_shared<dealmodule>();
};

}  // namespace

TEST_F(DealModuleTest, SetPasswordJobReportsEveryStep) {
    ReportLog log;
    deal_->SetPassword(kPlateIp, 80, kUser, kPassword, "s3cret", log.callback());
    EXPECT_EQ((Reports{kTimeCheck, kLoggedIn, {true, "设置密码成功"}, kDone}), Finish(log));
    RuDAVADO_CameraState state = CameraState(CameraNumber(kPlateIp));
    EXPECT_STREQ("s3cret", state.password);
    EXPECT_EQ(0, state.sessions);
}

TEST_F(DealModuleTest, FailedLoginReportsTwiceAndEndsTheJob) {
    ReportLog log;
    deal_->Reboot(kOtherPasswordIp, 80, kUser, kPassword, log.callback());
    EXPECT_EQ((Reports{{true, "开始重启设备"}, {false, "设备登陆失败"}}), Finish(log));
    EXPECT_EQ(RUDAVADO_STATE_ONLINE, CameraState(CameraNumber(kOtherPasswordIp)).state);
}

TEST_F(DealModuleTest, UploadJobStopsAtTheFirstFailedUpload) {
    TempDir dir;
    std::string logo = dir.write("logo.png", PngImage());
    std::string css = dir.write("style.css", "body {}\n");
    ReportLog log;
    deal_->Upload(kFaceIp, 80, kUser, kPassword, true, logo, true, dir.write("bg.png", "no image"), true, css,
                  log.callback());
    EXPECT_EQ((Reports{{true, "开始上传logo"}, kLoggedIn, {true, "参数导入成功"}, {false, "参数导入失败"}}),
              Finish(log));
    RuDAVADO_CameraState state = CameraState(CameraNumber(kFaceIp));
    EXPECT_EQ(1, state.uploads);
    EXPECT_EQ(0, state.sessions);
}

TEST_F(DealModuleTest, ModifyIpJobNeedsNoLogin) {
    int cam = CameraNumber(kPlateIp);
    RuDAVADO_CameraState before = CameraState(cam);
    ReportLog log;
    deal_->ModifyIp(before.serial_high, before.serial_low, "192.168.1.201", "192.168.1.1", "255.255.255.0",
                    log.callback());
    EXPECT_EQ((Reports{kTimeCheck, {true, "修改ip成功"}, kDone}), Finish(log));
    EXPECT_STREQ("192.168.1.201", CameraState(cam).ip);
}

TEST_F(DealModuleTest, ReadAbilityReportsFailuresAsFailures) {
    EXPECT_FALSE(deal_->has_ability_record());
    ReportLog log;
    int groups = 0;
    auto keep = [&](int ok, const KP_PARAM_IMPORT_ABILITY_V2& ability) {
        groups = ok ? ability.group_count : -1;
    };
    deal_->ReadAbility(kPlateIp, 80, kUser, kPassword, keep, log.callback());
    EXPECT_GT(groups, 0);
    EXPECT_TRUE(log.reports().empty());
    EXPECT_TRUE(deal_->has_ability_record());
    EXPECT_EQ(0, CameraState(CameraNumber(kPlateIp)).sessions);

    // A refused read must not pass for a successful step, which the window would drop.
    groups = 0;
    ASSERT_EQ(0, RuDAVADO_FailNext("KpLPRClient_GetConfig", -1, 1));
    deal_->ReadAbility(kPlateIp, 80, kUser, kPassword, keep, log.callback());
    deal_->ReadAbility(kOtherPasswordIp, 80, kUser, kPassword, keep, log.callback());
    EXPECT_EQ(0, groups);
    EXPECT_EQ((Reports{{false, "参数导出失败"}, {false, "设备登陆失败"}}), log.reports());
}

TEST(DealModuleRingTest, MissingModulesPostNothing) {
    auto deal = std::make_shared<dealmodule>();
    ReportLog log;
    auto cb = log.callback();
    deal->SetPassword(kPlateIp, 80, kUser, kPassword, "x", cb);
    deal->ImportParam(kPlateIp, 80, kUser, kPassword, "x.cfg", cb);
    deal->ExportParam(kPlateIp, 80, kUser, kPassword, nullptr, "x.cfg", cb);
    deal->Reboot(kPlateIp, 80, kUser, kPassword, cb);
    deal->SetTime(kPlateIp, 80, kUser, kPassword, cb);
    deal->Restore(kPlateIp, 80, kUser, kPassword, 0, cb);
    deal->Upgrade(kPlateIp, 80, kUser, kPassword, "x.bin", cb, [](int, int) {});
    deal->Upload(kPlateIp, 80, kUser, kPassword, true, "a", true, "b", true, "c", cb);
    deal->StartVideo(kPlateIp, 80, kUser, kPassword, nullptr, cb);
    deal->StopVideo(kPlateIp, 80, kUser, kPassword, cb);
    deal->ModifyIp(1, 2, "1.2.3.4", "1.2.3.1", "255.0.0.0", cb);
    deal->ReadAbility(
        kPlateIp, 80, kUser, kPassword, [](int, const KP_PARAM_IMPORT_ABILITY_V2&) {}, cb);
    // Anything queued would run now.
    ASSERT_TRUE(deal->InitModules(1));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    deal->StopWorker();
    EXPECT_TRUE(log.reports().empty());
}

TEST(DealModuleRingTest, InitModulesWithRunningWorkerKeepsEverything) {
    auto deal = std::make_shared<dealmodule>();
    ASSERT_TRUE(deal->InitModules(1));
    auto face = deal->sdk();
    ASSERT_NE(nullptr, std::dynamic_pointer_cast<factory::sdkface>(face));
    EXPECT_TRUE(deal->InitModules(0));
    EXPECT_EQ(face, deal->sdk());
    deal->StopWorker();
    // A new worker for the same kind keeps the wrapper; another kind replaces it.
    ASSERT_TRUE(deal->InitModules(1));
    EXPECT_EQ(face, deal->sdk());
    deal->StopWorker();
    ASSERT_TRUE(deal->InitModules(0));
    EXPECT_NE(nullptr, std::dynamic_pointer_cast<factory::sdkplate>(deal->sdk()));
    deal->StopWorker();
}

TEST(DealModuleRingTest, SixtyFourthJobWaitsForAFreeSlot) {
    auto deal = std::make_shared<dealmodule>();
    ASSERT_TRUE(deal->InitModules(1));
    deal->SetPaused(true);
    std::vector<int> order;  // written by the worker only
    for (int i = 0; i < 63; ++i) deal->PostJob([&order, i] { order.push_back(i); });
    std::atomic<bool> posted{false};
    std::thread poster([&] {
        deal->PostJob([&order] { order.push_back(63); });
        posted = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_FALSE(posted.load());
    deal->SetPaused(false);
    poster.join();
    std::promise<void> last;
    deal->PostJob([&last] { last.set_value(); });
    ASSERT_EQ(std::future_status::ready, last.get_future().wait_for(std::chrono::seconds(30)));
    deal->StopWorker();
    ASSERT_EQ(64u, order.size());
    for (int i = 0; i < 64; ++i) EXPECT_EQ(i, order[i]);
}

TEST(DealModuleRingTest, ReleasedWithItsWorkerRunning) {
    // Pending jobs are destroyed unrun; a worker the owner left running is stopped.
    auto token = std::make_shared<int>(0);
    {
        auto deal = std::make_shared<dealmodule>();
        ASSERT_TRUE(deal->InitModules(1));
        deal->SetPaused(true);
        deal->PostJob([token] { ++*token; });
    }
    EXPECT_EQ(1, token.use_count());
    EXPECT_EQ(0, *token);

    // The last reference lives in a job's closure and goes away on the worker itself.
    std::promise<void> destroyed;
    {
        auto deal = std::make_shared<dealmodule>();
        ASSERT_TRUE(deal->InitModules(1));
        std::shared_ptr<void> notify(nullptr, [&destroyed](void*) { destroyed.set_value(); });
        deal->PostJob([deal, notify] {});
    }
    ASSERT_EQ(std::future_status::ready, destroyed.get_future().wait_for(std::chrono::seconds(30)));
}

namespace {

// Waits until the composer is gone, which happens when the closure of its last job goes.
bool WaitReleased(const std::weak_ptr<dealmodule>& deal) {
    auto end = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!deal.expired() && std::chrono::steady_clock::now() < end) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return deal.expired();
}

}  // namespace

TEST(DealModuleLifetimeTest, JobPostedJustBeforeTheReleaseStillRuns) {
    // The preview's close path: a fresh worker, the stop job, then the window lets go.
    LoadDefaultNetwork();
    int cam = CameraNumber(kPlateIp);
    auto deal = std::make_shared<dealmodule>();
    std::weak_ptr<dealmodule> weak = deal;
    ASSERT_TRUE(deal->InitModules(1));
    ReportLog start;
    deal->StartVideo(kPlateIp, 80, kUser, kPassword, nullptr, start.callback());
    ASSERT_TRUE(start.waitFinal());
    deal->StopWorker();
    ASSERT_EQ(1, CameraState(cam).plays);

    ReportLog stop;
    ASSERT_TRUE(deal->InitModules(1));
    deal->StopVideo(kPlateIp, 80, kUser, kPassword, stop.callback());
    deal.reset();
    ASSERT_TRUE(stop.waitFinal(std::chrono::seconds(10)));
    ASSERT_TRUE(WaitReleased(weak));
    EXPECT_EQ((Reports{kDone}), stop.reports());
    EXPECT_EQ(0, CameraState(cam).plays);
    EXPECT_EQ(0, CameraState(cam).sessions);
}

TEST(DealModuleLifetimeTest, ReleaseDuringALongJobReturnsAtOnce) {
    LoadDefaultNetwork();
    auto deal = std::make_shared<dealmodule>();
    std::weak_ptr<dealmodule> weak = deal;
    ASSERT_TRUE(deal->InitModules(1));
    std::promise<void> started, gate;
    std::shared_future<void> open = gate.get_future().share();
    ReportLog log;
    deal->Reboot(kPlateIp, 80, kUser, kPassword,
                 [&, record = log.callback()](bool ok, const std::string& text) {
                     if (log.reports().empty()) {
                         started.set_value();
                         open.wait();  // a job that takes its time
                     }
                     return record(ok, text);
                 });
    started.get_future().wait();
    // A release that waited for the job would be ended by the watchdog, and the test fail.
    std::thread watchdog([&] {
        if (open.wait_for(std::chrono::seconds(10)) == std::future_status::timeout) gate.set_value();
    });
    deal.reset();
    bool returned_first = open.wait_for(std::chrono::seconds(0)) == std::future_status::timeout;
    if (returned_first) gate.set_value();
    watchdog.join();
    EXPECT_TRUE(returned_first);
    ASSERT_TRUE(log.waitFinal());
    EXPECT_TRUE(WaitReleased(weak));  // the last reference went on the worker thread
    EXPECT_EQ(kDone, log.reports().back());
}

TEST(DealModuleLifetimeTest, StopWorkerInsideAJobThenInitModulesKeepsJobsApart) {
    auto deal = std::make_shared<dealmodule>();
    ASSERT_TRUE(deal->InitModules(1));
    std::atomic<int> running{0};
    std::atomic<bool> overlapped{false};
    std::promise<void> stopped;
    std::promise<void> gate;
    std::shared_future<void> open = gate.get_future().share();
    deal->PostJob([&, deal] {
        overlapped = overlapped || ++running > 1;
        deal->StopWorker();  // as a job whose report stops its own worker
        stopped.set_value();
        open.wait();
        --running;
    });
    stopped.get_future().wait();
    EXPECT_FALSE(deal->worker_running());

    ASSERT_TRUE(deal->InitModules(1));
    std::promise<void> second;
    deal->PostJob([&, deal] {
        overlapped = overlapped || ++running > 1;
        --running;
        second.set_value();
    });
    auto second_done = second.get_future();
    EXPECT_EQ(std::future_status::timeout, second_done.wait_for(std::chrono::milliseconds(100)));
    gate.set_value();
    ASSERT_EQ(std::future_status::ready, second_done.wait_for(std::chrono::seconds(30)));
    deal->StopWorker();
    EXPECT_FALSE(overlapped.load());
}
