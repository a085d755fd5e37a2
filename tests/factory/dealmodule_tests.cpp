// The job composer: report sequences of each job kind, the job ring and the worker's life.
#include <gtest/gtest.h>

#include <algorithm>
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

namespace {

const Report kTimeCheck{true, "开始时间检查"};
const Report kLoggedIn{true, "设备登陆成功 设备型号"};
const Report kLoginFailed{false, "设备登陆失败"};
const Report kDone{true, "完成"};

class DealModuleTest : public ::testing::Test {
protected:
    void SetUp() override {
        LoadDefaultNetwork();
        deal_ = std::make_shared<dealmodule>();
        ASSERT_TRUE(deal_->InitModules(1));
    }
    void TearDown() override {
        deal_->StopWorker();
        RuDAVADO_ClearFaults();
    }

    // Waits for the job's final report, then for the job's remaining steps.
    std::vector<Report> Finish(ReportLog& log) {
        EXPECT_TRUE(log.waitFinal());
        deal_->StopWorker();
        return log.reports();
    }

    std::shared_ptr<dealmodule> deal_;
};

}  // namespace

TEST_F(DealModuleTest, SetPasswordJobReportsEveryStep) {
    ReportLog log;
    deal_->SetPassword(kPlateIp, 80, kUser, kPassword, "s3cret", log.callback());
    EXPECT_EQ((std::vector<Report>{kTimeCheck, kLoggedIn, {true, "设置密码成功"}, kDone}), Finish(log));
    RuDAVADO_CameraState state = CameraState(CameraNumber(kPlateIp));
    EXPECT_STREQ("s3cret", state.password);
    EXPECT_EQ(0, state.sessions);
}

TEST_F(DealModuleTest, FailedLoginReportsTwiceAndEndsTheJob) {
    ReportLog log;
    deal_->Reboot(kOtherPasswordIp, 80, kUser, kPassword, log.callback());
    EXPECT_EQ((std::vector<Report>{{true, "开始重启设备"}, kLoginFailed}), Finish(log));
    EXPECT_EQ(0, CameraState(CameraNumber(kOtherPasswordIp)).boots);

    ReportLog offline;
    ASSERT_TRUE(deal_->InitModules(1));
    deal_->SetTime(kOfflineIp, 80, kUser, kPassword, offline.callback());
    EXPECT_EQ((std::vector<Report>{kTimeCheck, kLoginFailed}), Finish(offline));
}

TEST_F(DealModuleTest, FailedStepReportsItsFailureAndLogsOutSilently) {
    ReportLog log;
    deal_->Restore(kPlateIp, 80, kUser, kPassword, factory::SDK_RESTORE_MAX, log.callback());
    EXPECT_EQ((std::vector<Report>{kTimeCheck, kLoggedIn, {false, "恢复出厂失败"}}), Finish(log));
    EXPECT_EQ(0, CameraState(CameraNumber(kPlateIp)).sessions);
}

TEST_F(DealModuleTest, RebootAndRestoreJobs) {
    int cam = CameraNumber(kPlateIp);
    ReportLog reboot;
    deal_->Reboot(kPlateIp, 80, kUser, kPassword, reboot.callback());
    // Reboot sets no text of its own: its report repeats the login's.
    EXPECT_EQ((std::vector<Report>{{true, "开始重启设备"}, kLoggedIn, kLoggedIn, kDone}), Finish(reboot));
    for (int i = 0; i < 2000 && CameraState(cam).state != RUDAVADO_STATE_ONLINE; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    EXPECT_EQ(1, CameraState(cam).boots);

    ReportLog restore;
    ASSERT_TRUE(deal_->InitModules(1));
    deal_->Restore(kPlateIp, 80, kUser, kPassword, factory::SDK_RESTORE_PART, restore.callback());
    EXPECT_EQ((std::vector<Report>{kTimeCheck, kLoggedIn, {true, "恢复出厂成功"}, kDone}), Finish(restore));
}

TEST_F(DealModuleTest, ImportAndExportJobs) {
    TempDir dir;
    auto ability = std::make_unique<KP_PARAM_IMPORT_ABILITY_V2>();
    {
        factory::sdkplate sdk;
        ASSERT_TRUE(sdk.SDK_Open(kPlateIp, 80, kUser, kPassword));
        ASSERT_TRUE(sdk.SDK_GetParamImportAbility(ability.get()));
        ASSERT_TRUE(sdk.SDK_Close());
    }
    std::string cfg = dir.path("plate.cfg");
    LogCapture lines;
    ReportLog exported;
    deal_->ExportParam(kPlateIp, 80, kUser, kPassword, ability.get(), cfg, exported.callback());
    EXPECT_EQ((std::vector<Report>{kTimeCheck, kLoggedIn, {true, "参数导出成功"}, kDone}), Finish(exported));
    std::vector<std::string> all = lines.lines();
    auto at = [&](const std::string& text) { return std::find(all.begin(), all.end(), text) - all.begin(); };
    EXPECT_LT(at("Test_ParaExportV2 222"), at("SDK_ParaExportV2 begin " + cfg));
    EXPECT_LT(at("SDK_ParaExportV2 end"), at("Test_ParaExportV2 333"));
    EXPECT_LT(at("Test_ParaExportV2 333"), static_cast<long>(all.size()));

    ReportLog imported;
    ASSERT_TRUE(deal_->InitModules(1));
    deal_->ImportParam(kPlateIp, 80, kUser, kPassword, cfg, imported.callback());
    EXPECT_EQ((std::vector<Report>{kTimeCheck, kLoggedIn, {true, "参数导入成功"}, kDone}), Finish(imported));
}

TEST_F(DealModuleTest, UploadJobStopsAtTheFirstFailedUpload) {
    TempDir dir;
    std::string logo = dir.write("logo.png", PngImage());
    std::string bad_bg = dir.write("bg.png", "not an image");
    std::string css = dir.write("style.css", "body {}\n");
    int cam = CameraNumber(kFaceIp);
    ReportLog log;
    deal_->Upload(kFaceIp, 80, kUser, kPassword, true, logo, true, bad_bg, true, css, log.callback());
    EXPECT_EQ((std::vector<Report>{{true, "开始上传logo"}, kLoggedIn, {true, "参数导入成功"}, {false, "参数导入失败"}}),
              Finish(log));
    RuDAVADO_CameraState state = CameraState(cam);
    EXPECT_EQ(1, state.uploads);
    EXPECT_EQ(-1, state.css_size);
    EXPECT_EQ(0, state.sessions);

    // Nothing ticked: log in, log out, done.
    ReportLog none;
    ASSERT_TRUE(deal_->InitModules(1));
    deal_->Upload(kFaceIp, 80, kUser, kPassword, false, "", false, "", false, "", none.callback());
    EXPECT_EQ((std::vector<Report>{{true, "开始上传logo"}, kLoggedIn, kDone}), Finish(none));
}

TEST_F(DealModuleTest, UpgradeJobReportsStepsAndProgress) {
    TempDir dir;
    std::string package = dir.write("plate.bin", FirmwarePackage(kPlateFamily, "3.2.1.16"));
    ReportLog log;
    UpgradeLog progress;
    deal_->Upgrade(kPlateIp, 80, kUser, kPassword, package, log.callback(), progress.callback());
    EXPECT_EQ((std::vector<Report>{kTimeCheck, kLoggedIn, {true, "升级成功"}, kDone}), Finish(log));
    std::vector<std::pair<int, int>> calls = progress.calls();
    ASSERT_GE(calls.size(), 2u);
    EXPECT_EQ(std::make_pair(1, 100), calls.back());

    ReportLog refused;
    ASSERT_TRUE(deal_->InitModules(1));
    deal_->Upgrade(kPlateIp, 80, kUser, kPassword, dir.path("missing.bin"), refused.callback(), nullptr);
    EXPECT_EQ((std::vector<Report>{kTimeCheck, kLoggedIn, {false, "升级包不支持"}}), Finish(refused));
}

TEST_F(DealModuleTest, ModifyIpJobNeedsNoLogin) {
    int cam = CameraNumber(kPlateIp);
    RuDAVADO_CameraState before = CameraState(cam);
    ReportLog log;
    deal_->ModifyIp(before.serial_high, before.serial_low, "192.168.1.201", "192.168.1.1", "255.255.255.0",
                    log.callback());
    EXPECT_EQ((std::vector<Report>{kTimeCheck, {true, "修改ip成功"}, kDone}), Finish(log));
    EXPECT_STREQ("192.168.1.201", CameraState(cam).ip);
    EXPECT_EQ(0, CameraState(cam).sessions);

    // The window posts the job itself.
    ReportLog direct;
    ASSERT_TRUE(deal_->InitModules(1));
    auto progress = direct.callback();
    dealmodule* deal = deal_.get();
    deal_->PostJob([deal, before, progress] {
        deal->ModifyIpJob(before.serial_high, before.serial_low, "not an address", "192.168.1.1", "255.255.255.0",
                          progress);
    });
    EXPECT_EQ((std::vector<Report>{kTimeCheck, {false, "修改ip失败"}}), Finish(direct));
}

TEST_F(DealModuleTest, VideoJobs) {
    int cam = CameraNumber(kFaceIp);
    ReportLog play;
    deal_->StartVideo(kFaceIp, 80, kUser, kPassword, nullptr, play.callback());
    EXPECT_EQ((std::vector<Report>{kDone}), Finish(play));
    // Frames are drawn (or counted) while the play runs.
    long long frames = CameraState(cam).frames_drawn;
    for (int i = 0; i < 2000 && CameraState(cam).frames_drawn <= frames; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    EXPECT_GT(CameraState(cam).frames_drawn, frames);

    ReportLog stop;
    ASSERT_TRUE(deal_->InitModules(1));
    deal_->StopVideo(kFaceIp, 80, kUser, kPassword, stop.callback());
    EXPECT_EQ((std::vector<Report>{kDone}), Finish(stop));
    long long stopped = CameraState(cam).frames_drawn;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(stopped, CameraState(cam).frames_drawn);
    EXPECT_EQ(0, CameraState(cam).sessions);
}

TEST_F(DealModuleTest, ReadAbilityAllocatesItsRecordOnlyWhenUsed) {
    EXPECT_FALSE(deal_->has_ability_record());
    ReportLog log;
    int groups = 0;
    deal_->ReadAbility(kPlateIp, 80, kUser, kPassword,
                       [&](int ok, const KP_PARAM_IMPORT_ABILITY_V2& ability) {
                           EXPECT_EQ(1, ok);
                           groups = ability.group_count;
                       },
                       log.callback());
    EXPECT_GT(groups, 0);
    EXPECT_TRUE(log.reports().empty());
    EXPECT_TRUE(deal_->has_ability_record());
    EXPECT_EQ(0, CameraState(CameraNumber(kPlateIp)).sessions);

    // A refused read is reported as a failure, never as a dropped success step.
    ReportLog refused;
    bool called = false;
    ASSERT_EQ(0, RuDAVADO_FailNext("KpLPRClient_GetConfig", -1, 1));
    deal_->ReadAbility(kPlateIp, 80, kUser, kPassword, [&](int, const KP_PARAM_IMPORT_ABILITY_V2&) { called = true; },
                       refused.callback());
    EXPECT_FALSE(called);
    EXPECT_EQ((std::vector<Report>{{false, "登出成功"}}), refused.reports());

    ReportLog no_login;
    deal_->ReadAbility(kOtherPasswordIp, 80, kUser, kPassword, [&](int, const KP_PARAM_IMPORT_ABILITY_V2&) {},
                       no_login.callback());
    EXPECT_EQ((std::vector<Report>{kLoginFailed}), no_login.reports());
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
    deal->ReadAbility(kPlateIp, 80, kUser, kPassword, [](int, const KP_PARAM_IMPORT_ABILITY_V2&) {}, cb);
    // Had anything been queued, the worker would now run it.
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
    EXPECT_FALSE(deal->worker_running());

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
    for (int i = 0; i < dealmodule::kJobSlots - 1; ++i) {
        deal->PostJob([&order, i] { order.push_back(i); });
    }
    std::atomic<bool> posted{false};
    std::thread poster([&] {
        deal->PostJob([&order] { order.push_back(63); });
        posted = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_FALSE(posted.load());
    deal->SetPaused(false);
    poster.join();
    EXPECT_TRUE(posted.load());

    std::promise<void> last;
    deal->PostJob([&last] { last.set_value(); });
    ASSERT_EQ(std::future_status::ready, last.get_future().wait_for(std::chrono::seconds(20)));
    deal->StopWorker();
    ASSERT_EQ(64u, order.size());
    for (int i = 0; i < 64; ++i) EXPECT_EQ(i, order[i]);
}

TEST(DealModuleRingTest, StopWorkerLeavesPendingJobsAndDestructionDropsThem) {
    auto deal = std::make_shared<dealmodule>();
    ASSERT_TRUE(deal->InitModules(1));
    deal->SetPaused(true);
    auto token = std::make_shared<int>(0);
    int runs = 0;
    deal->PostJob([token, &runs] { ++runs; });
    deal->StopWorker();
    EXPECT_EQ(2, token.use_count());
    deal.reset();
    EXPECT_EQ(1, token.use_count());
    EXPECT_EQ(0, runs);
}

TEST(DealModuleRingTest, ComposerReleasedByItsOwnJobOrWithRunningWorker) {
    // The owner forgot StopWorker: destruction stops and joins the worker.
    {
        auto deal = std::make_shared<dealmodule>();
        ASSERT_TRUE(deal->InitModules(1));
        std::promise<void> ran;
        deal->PostJob([&ran] { ran.set_value(); });
        ran.get_future().wait();
    }
    // The last reference lives in a job's closure and goes away on the worker itself.
    std::promise<void> destroyed;
    {
        auto deal = std::make_shared<dealmodule>();
        ASSERT_TRUE(deal->InitModules(1));
        std::shared_ptr<void> notify(nullptr, [&destroyed](void*) { destroyed.set_value(); });
        deal->SetPaused(true);
        deal->PostJob([deal, notify] {});
        deal->SetPaused(false);
        deal.reset();
    }
    ASSERT_EQ(std::future_status::ready, destroyed.get_future().wait_for(std::chrono::seconds(20)));
}
