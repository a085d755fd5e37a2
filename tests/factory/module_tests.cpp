// The operation modules: texts, waits, polls and log lines on simulated cameras, and on a
// scripted wrapper where an exact sequence of upgrade states is needed.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <future>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "devicebasemodule.h"
#include "factory_test_support.h"
#include "parambasemodule.h"
#include "sdkface.h"
#include "videobasemodule.h"

using namespace factory_test;
using Calls = std::vector<std::pair<int, int>>;
using std::chrono::steady_clock;

namespace {

class ModuleTest : public ::testing::Test {
protected:
    void SetUp() override {
        LoadDefaultNetwork();
        ASSERT_TRUE(device_.Init(sdk_) && param_.Init(sdk_) && video_.Init(sdk_));
    }
    void TearDown() override {
        RuDAVADO_ClearFaults();
        RuDAVADO_SetTiming("upgrade", -1);
        if (sdk_->SDK_GetHandle() != nullptr) sdk_->SDK_Close();
    }
    void LoginTo(const char* ip) {
        std::string message;
        ASSERT_TRUE(device_.Login(ip, 80, kUser, kPassword, message));
    }
    bool Upgrade(const std::string& path, std::string& message, Calls& calls) {
        return device_.UpdateDevice(path, message,
                                    [&](int state, int percent) { calls.emplace_back(state, percent); });
    }

    std::shared_ptr<factory::sdkbase> sdk_ = std::make_shared<factory::sdkface>();
    factory::devicebasemodule device_;
    factory::parambasemodule param_;
    factory::videobasemodule video_;
    TempDir dir_;
};

// Answers a fixed sequence of upgrade states (the last one repeats) and counts restarts.
class ScriptedUpgradeSdk : public factory::sdkface {
public:
    explicit ScriptedUpgradeSdk(std::vector<int> states) : states_(std::move(states)) {}
    bool SDK_Update(std::string) override { return true; }
    int SDK_GetUpdateState() override { return states_[std::min(next_++, states_.size() - 1)]; }
    int SDK_GetUpdateProgress() override { return static_cast<int>(next_ * 10 % 100); }
    bool SDK_RebootDevice() override { return ++reboots > 0; }
    bool SDK_GetDeviceTime(KPLPRC_DATETIME*) override { return true; }
    int reboots = 0;

private:
    std::vector<int> states_;
    size_t next_ = 0;
};

struct ScriptedRun {
    bool ok;
    std::string message;
    Calls calls;
    int reboots;
};

ScriptedRun RunScripted(std::vector<int> states) {
    auto sdk = std::make_shared<ScriptedUpgradeSdk>(std::move(states));
    factory::devicebasemodule device;
    EXPECT_TRUE(device.Init(sdk));
    ScriptedRun run{false, "", {}, 0};
    run.ok = device.UpdateDevice("fw.bin", run.message, [&](int s, int p) { run.calls.emplace_back(s, p); });
    run.reboots = sdk->reboots;
    return run;
}

}  // namespace

TEST_F(ModuleTest, WithoutWrapperEveryOperationButModifyIpFailsAndKeepsMessage) {
    factory::devicebasemodule device;
    factory::parambasemodule param;
    factory::videobasemodule video;
    std::string message = "untouched";
    EXPECT_FALSE(device.Init(nullptr));
    EXPECT_FALSE(device.Login(kPlateIp, 80, kUser, kPassword, message));
    EXPECT_FALSE(device.Logout(message));
    EXPECT_FALSE(device.SetPassword("x", message));
    EXPECT_FALSE(device.Reboot());
    EXPECT_FALSE(device.Restore(0, message));
    EXPECT_FALSE(device.SetTime(message));
    EXPECT_FALSE(device.UpdateDevice("x.bin", message, [](int, int) {}));
    EXPECT_FALSE(device.GetParamImportAbility(nullptr));
    EXPECT_FALSE(param.ParamExport(nullptr, "x.cfg", message));
    EXPECT_FALSE(param.ParamImport("x.cfg", message));
    EXPECT_FALSE(param.UploadLogo("x.png", message));
    EXPECT_FALSE(param.UploadBg("x.png", message));
    EXPECT_FALSE(param.UploadCss("x.css", message));
    EXPECT_FALSE(video.StartPlay(nullptr, message));
    EXPECT_FALSE(video.StopPlay(message));
    EXPECT_EQ("untouched", message);

    RuDAVADO_CameraState plate = CameraState(CameraNumber(kPlateIp));
    EXPECT_TRUE(device.ModifyIp(plate.serial_high, plate.serial_low, "192.168.1.200", "192.168.1.1",
                                "255.255.255.0", message));
    EXPECT_EQ("修改ip成功", message);
    EXPECT_NE(-1, CameraNumber("192.168.1.200"));
}

TEST_F(ModuleTest, LogoutWhoseCloseFailsStillSaysLoggedOut) {
    LoginTo(kPlateIp);
    std::string message;
    ASSERT_EQ(0, RuDAVADO_FailNext("KpLPRClient_Close", -1, 1));
    EXPECT_FALSE(device_.Logout(message));
    EXPECT_EQ("登出成功", message);
}

TEST_F(ModuleTest, ImportWhoseCameraNeverAnswersLogsEightyNumberedAttempts) {
    LoginTo(kPlateIp);
    auto ability = std::make_unique<KP_PARAM_IMPORT_ABILITY_V2>();
    ASSERT_TRUE(device_.GetParamImportAbility(ability.get()));
    std::string cfg = dir_.path("plate.cfg");
    std::string message;
    ASSERT_TRUE(param_.ParamExport(ability.get(), cfg, message));

    ASSERT_EQ(0, RuDAVADO_FailNext("KpLPRClient_GetDateTime", CameraNumber(kPlateIp), 1000));
    LogCapture log;
    auto start = steady_clock::now();
    EXPECT_TRUE(param_.ParamImport(cfg, message));
    EXPECT_LT(steady_clock::now() - start, std::chrono::seconds(10));
    EXPECT_EQ("参数导入成功", message);
    std::vector<std::string> attempts = log.matching("SDK_GetDeviceTime false: ");
    ASSERT_EQ(80u, attempts.size());
    for (size_t i = 0; i < attempts.size(); ++i)
        EXPECT_EQ("SDK_GetDeviceTime false: " + std::to_string(i), attempts[i]);
    EXPECT_EQ(1u, log.matching("SDK_RebootDevice ing: ").size());

    EXPECT_FALSE(param_.ParamImport(dir_.write("bad.cfg", "not a parameter file\n"), message));
    EXPECT_EQ("参数导入失败", message);
}

TEST(ScriptedUpgradeTest, StateSequences) {
    // Already on that version: only the restart is reported.
    ScriptedRun same = RunScripted({KP_UPDATE_STATE_SAME_VERSION});
    EXPECT_TRUE(same.ok);
    EXPECT_EQ("升级成功", same.message);
    EXPECT_EQ((Calls{{2, 50}, {1, 100}}), same.calls);
    EXPECT_EQ(1, same.reboots);

    LogCapture log;
    ScriptedRun cancelled = RunScripted({0, 0, KP_UPDATE_STATE_CANCELLED});
    EXPECT_FALSE(cancelled.ok);
    EXPECT_EQ("升级取消", cancelled.message);
    ASSERT_EQ(2u, cancelled.calls.size());
    EXPECT_EQ(0, cancelled.calls[0].first);
    EXPECT_EQ(0, cancelled.calls[1].first);
    EXPECT_EQ(0, cancelled.reboots);
    EXPECT_EQ((std::vector<std::string>{"status: 0", "status: 0", "status: 3"}), log.matching("status: "));
    EXPECT_EQ(2u, log.matching("progress: ").size());
}

TEST(ScriptedUpgradeTest, CameraStuckIdleEndsFailedAfterTheBound) {
    // Five minutes without progress at time scale 1 are 300 ms here.
    auto start = steady_clock::now();
    ScriptedRun idle = RunScripted({KP_UPDATE_STATE_IDLE});
    auto elapsed = steady_clock::now() - start;
    EXPECT_FALSE(idle.ok);
    EXPECT_EQ("升级失败", idle.message);
    EXPECT_GE(elapsed, std::chrono::milliseconds(300));
    EXPECT_LT(elapsed, std::chrono::seconds(30));
}

TEST_F(ModuleTest, UpgradePicksItsFamilysPackage) {
    LoginTo(kPlateIp);
    std::string ours = dir_.write("plate.bin", FirmwarePackage(kPlateFamily, "3.2.1.16"));
    std::string foreign = dir_.write("face.bin", FirmwarePackage(kFaceFamily, "2.1.0.9"));
    std::string message;
    Calls refused, calls;
    EXPECT_FALSE(Upgrade(foreign + "|" + dir_.path("missing.bin"), message, refused));
    EXPECT_EQ("升级包不支持", message);
    EXPECT_TRUE(refused.empty());

    EXPECT_TRUE(Upgrade(foreign + "|" + ours, message, calls)) << message;
    EXPECT_EQ("升级成功", message);
    ASSERT_GE(calls.size(), 3u);
    EXPECT_EQ((Calls{{2, 50}, {1, 100}}), Calls(calls.end() - 2, calls.end()));
    for (size_t i = 1; i + 2 < calls.size(); ++i) {
        EXPECT_EQ(KP_UPDATE_STATE_RUNNING, calls[i].first);
        EXPECT_GE(calls[i].second, calls[i - 1].second);
    }
    EXPECT_STREQ("3.2.1.16", CameraState(CameraNumber(kPlateIp)).firmware);
}

TEST_F(ModuleTest, DamagedPackageAndPowerLossEndFailed) {
    LoginTo(kPlateIp);
    std::string message;
    Calls calls;
    EXPECT_FALSE(
        Upgrade(dir_.write("bad.bin", FirmwarePackage(kPlateFamily, "3.2.1.16", true)), message, calls));
    EXPECT_EQ("升级失败", message);

    const char* ip = "192.168.1.101";
    int cam = CameraNumber(ip);
    LoginTo(ip);

    // The camera is still writing when its power goes.
    RuDAVADO_SetTiming("upgrade", 600000);
    std::thread power([cam] {
        for (int i = 0; i < 4000 && CameraState(cam).update_progress < 5; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        RuDAVADO_SetPower(cam, 0);
    });
    EXPECT_FALSE(Upgrade(dir_.write("plate.bin", FirmwarePackage(kPlateFamily, "3.2.1.16")), message, calls));
    power.join();
    EXPECT_EQ("升级失败", message) << message;
    EXPECT_STREQ("3.2.1.15", CameraState(cam).firmware);
}

TEST_F(ModuleTest, UnreadableProgressEndsFailedButSlowProgressDoesNot) {
    LoginTo(kPlateIp);
    // Twice the no-answer bound, the camera answering all along.
    RuDAVADO_SetTiming("upgrade", 2.0 * factory::devicebasemodule::kUpdateNoAnswerLimitMs);
    std::string message;
    Calls calls;
    EXPECT_TRUE(Upgrade(dir_.write("a.bin", FirmwarePackage(kPlateFamily, "3.2.1.16")), message, calls))
        << message;

    LoginTo(kPlateIp);
    RuDAVADO_SetTiming("upgrade", 3600000);
    ASSERT_EQ(0, RuDAVADO_FailNext("KpLPRClient_GetUpdateProgress", CameraNumber(kPlateIp), 1000000));
    LogCapture log;
    auto start = steady_clock::now();
    EXPECT_FALSE(Upgrade(dir_.write("b.bin", FirmwarePackage(kPlateFamily, "3.2.1.17")), message, calls));
    EXPECT_GE(steady_clock::now() - start, std::chrono::milliseconds(300));
    EXPECT_EQ("升级失败", message);
    EXPECT_EQ(1u, log.matching("no upgrade progress").size());
    EXPECT_FALSE(log.matching("progress: 4294967295").empty());

    // A write that hangs answers "running" at one percentage for ever.
    const char* hung = "192.168.1.101";
    LoginTo(hung);
    ASSERT_EQ(0, RuDAVADO_StallUpgrade(CameraNumber(hung), 20));
    RuDAVADO_SetTiming("upgrade", 20000);
    EXPECT_FALSE(Upgrade(dir_.write("c.bin", FirmwarePackage(kPlateFamily, "3.2.1.18")), message, calls));
    EXPECT_EQ("升级失败", message);
    EXPECT_EQ(2u, log.matching("no upgrade progress").size());
}

TEST(UpgradePoll, APercentageThatOnlyAlternatesEndsAtTheNoProgressBound) {
    // 41, 42, 41, ...: the value changes on every poll, but the write goes nowhere.
    class AlternatingSdk : public ScriptedUpgradeSdk {
    public:
        AlternatingSdk() : ScriptedUpgradeSdk({KP_UPDATE_STATE_RUNNING}) {}
        int SDK_GetUpdateProgress() override { return 41 + (polls_++ % 2); }

    private:
        int polls_ = 0;
    };
    auto sdk = std::make_shared<AlternatingSdk>();
    factory::devicebasemodule device;
    ASSERT_TRUE(device.Init(sdk));
    LogCapture log;
    auto run = std::async(std::launch::async, [&] {
        std::string message;
        const bool ok = device.UpdateDevice("fw.bin", message, [](int, int) {});
        return std::make_pair(ok, message);
    });
    if (run.wait_for(std::chrono::seconds(60)) != std::future_status::ready) {
        std::fputs("HANG: an alternating upgrade percentage is polled for ever\n", stderr);
        std::abort();
    }
    const auto [ok, message] = run.get();
    EXPECT_FALSE(ok);
    EXPECT_EQ("升级失败", message);
    EXPECT_EQ(1u, log.matching("no upgrade progress").size());
    EXPECT_EQ(0, sdk->reboots);
}

TEST_F(ModuleTest, StartPlayReplacesARunningPlay) {
    LoginTo(kFaceIp);
    std::string message = "untouched";
    EXPECT_TRUE(video_.StopPlay(message));
    EXPECT_EQ("untouched", message);
    ASSERT_TRUE(video_.StartPlay(nullptr, message));
    EXPECT_EQ("视频播放成功", message);
    int first = video_.play_handle();
    ASSERT_TRUE(video_.StartPlay(nullptr, message));
    int second = video_.play_handle();
    EXPECT_EQ(-1, RuDAVADO_PlayFrames(first));
    EXPECT_GE(RuDAVADO_PlayFrames(second), 0);
    EXPECT_TRUE(video_.StopPlay(message));
    EXPECT_EQ("停止播放成功", message);
    EXPECT_EQ(KPLPRC_FIALURE, video_.play_handle());
}
