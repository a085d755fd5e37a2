// The operation modules: result texts, waits, polls and log lines, on simulated cameras and, for
// exact upgrade-state sequences, on a scripted wrapper.
#include <gtest/gtest.h>

#include <chrono>
#include <ctime>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "devicebasemodule.h"
#include "factory_test_support.h"
#include "parambasemodule.h"
#include "sdkface.h"
#include "sdkplate.h"
#include "videobasemodule.h"

using namespace factory_test;

namespace {

class ModuleTest : public ::testing::Test {
protected:
    void SetUp() override {
        LoadDefaultNetwork();
        sdk_ = std::make_shared<factory::sdkface>();
        ASSERT_TRUE(device_.Init(sdk_));
        ASSERT_TRUE(param_.Init(sdk_));
        ASSERT_TRUE(video_.Init(sdk_));
    }
    void TearDown() override {
        RuDAVADO_ClearFaults();
        for (const char* name : {"upgrade", "boot"}) RuDAVADO_SetTiming(name, -1);
        if (sdk_->SDK_GetHandle() != nullptr) sdk_->SDK_Close();
    }

    void LoginTo(const char* ip) {
        std::string message;
        ASSERT_TRUE(device_.Login(ip, 80, kUser, kPassword, message));
    }

    std::shared_ptr<factory::sdkbase> sdk_;
    factory::devicebasemodule device_;
    factory::parambasemodule param_;
    factory::videobasemodule video_;
};

// Replays a fixed sequence of upgrade states (the last one repeats) and counts restarts.
class ScriptedUpgradeSdk : public factory::sdkface {
public:
    explicit ScriptedUpgradeSdk(std::vector<int> states) : states_(std::move(states)) {
        sdk_handle_ = reinterpret_cast<KPLPRC_HANDLE>(1);
    }
    ~ScriptedUpgradeSdk() override { sdk_handle_ = nullptr; }
    bool SDK_Update(std::string) override { return true; }
    int SDK_GetUpdateState() override {
        int state = states_[next_ < states_.size() ? next_ : states_.size() - 1];
        ++next_;
        return state;
    }
    int SDK_GetUpdateProgress() override { return static_cast<int>(next_ * 10 % 100); }
    bool SDK_RebootDevice() override {
        ++reboots;
        return true;
    }
    bool SDK_GetDeviceTime(KPLPRC_DATETIME*) override { return true; }

    int reboots = 0;

private:
    std::vector<int> states_;
    size_t next_ = 0;
};

struct UpgradeRun {
    bool ok = false;
    std::string message;
    std::vector<std::pair<int, int>> calls;
};

UpgradeRun RunUpgrade(factory::devicebasemodule& device, const std::string& path) {
    UpgradeRun run;
    run.ok = device.UpdateDevice(path, run.message, [&](int state, int percent) {
        run.calls.emplace_back(state, percent);
    });
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

    // The address change needs neither wrapper nor login.
    RuDAVADO_CameraState plate = CameraState(CameraNumber(kPlateIp));
    EXPECT_TRUE(device.ModifyIp(plate.serial_high, plate.serial_low, "192.168.1.200", "192.168.1.1",
                                "255.255.255.0", message));
    EXPECT_EQ("修改ip成功", message);
    EXPECT_EQ(-1, CameraNumber(kPlateIp));
    EXPECT_NE(-1, CameraNumber("192.168.1.200"));
    EXPECT_FALSE(device.ModifyIp(plate.serial_high, plate.serial_low, "999.1.1.1", "192.168.1.1",
                                 "255.255.255.0", message));
    EXPECT_EQ("修改ip失败", message);
}

TEST_F(ModuleTest, LoginLogoutAndSettingTexts) {
    std::string message;
    EXPECT_FALSE(device_.Login(kOtherPasswordIp, 80, kUser, kPassword, message));
    EXPECT_EQ("设备登陆失败", message);
    EXPECT_TRUE(device_.Login(kPlateIp, 80, kUser, kPassword, message));
    EXPECT_EQ("设备登陆成功 设备型号", message);

    EXPECT_FALSE(device_.SetPassword("", message));
    EXPECT_EQ("设置密码失败", message);
    EXPECT_TRUE(device_.SetPassword("n3w", message));
    EXPECT_EQ("设置密码成功", message);
    EXPECT_STREQ("n3w", CameraState(CameraNumber(kPlateIp)).password);

    EXPECT_FALSE(device_.Restore(factory::SDK_RESTORE_MAX, message));
    EXPECT_EQ("恢复出厂失败", message);

    // A logout whose close fails still says it logged out.
    ASSERT_EQ(0, RuDAVADO_FailNext("KpLPRClient_Close", -1, 1));
    EXPECT_FALSE(device_.Logout(message));
    EXPECT_EQ("登出成功", message);
    EXPECT_TRUE(device_.Logout(message));
}

TEST_F(ModuleTest, SetTimeWritesThePcLocalTime) {
    // This camera's clock runs an hour behind.
    const char* ip = "192.168.1.106";
    LoginTo(ip);
    std::string message;
    ASSERT_TRUE(device_.SetTime(message));
    EXPECT_EQ("时间设置成功", message);
    std::time_t now = std::time(nullptr);
    std::tm local = {};
    localtime_r(&now, &local);
    KPLPRC_DATETIME cam = CameraState(CameraNumber(ip)).clock;
    std::tm cam_tm = {};
    cam_tm.tm_year = cam.year;
    cam_tm.tm_mon = cam.month;
    cam_tm.tm_mday = cam.day;
    cam_tm.tm_hour = cam.hour;
    cam_tm.tm_min = cam.minute;
    cam_tm.tm_sec = cam.second;
    cam_tm.tm_isdst = local.tm_isdst;
    EXPECT_LE(std::abs(std::difftime(std::mktime(&cam_tm), now)), 5.0);

    ASSERT_EQ(0, RuDAVADO_FailNext("KpLPRClient_SetDateTime", -1, 1));
    EXPECT_FALSE(device_.SetTime(message));
    EXPECT_EQ("时间设置失败", message);
}

TEST_F(ModuleTest, ImportWhoseCameraNeverAnswersLogsEightyNumberedAttempts) {
    TempDir dir;
    LoginTo(kPlateIp);
    int cam = CameraNumber(kPlateIp);
    auto ability = std::make_unique<KP_PARAM_IMPORT_ABILITY_V2>();
    ASSERT_TRUE(sdk_->SDK_GetParamImportAbility(ability.get()));
    std::string cfg = dir.path("plate.cfg");
    std::string message;
    ASSERT_TRUE(param_.ParamExport(ability.get(), cfg, message));
    EXPECT_EQ("参数导出成功", message);

    ASSERT_EQ(0, RuDAVADO_FailNext("KpLPRClient_GetDateTime", cam, 1000));
    LogCapture log;
    auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(param_.ParamImport(cfg, message));
    auto elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_EQ("参数导入成功", message);
    std::vector<std::string> attempts = log.matching("SDK_GetDeviceTime false: ");
    ASSERT_EQ(80u, attempts.size());
    for (size_t i = 0; i < attempts.size(); ++i) {
        EXPECT_EQ("SDK_GetDeviceTime false: " + std::to_string(i),
                  attempts[i].substr(attempts[i].find("): ") + 3));
    }
    EXPECT_EQ(1u, log.matching("): SDK_RebootDevice ing: ").size());
    EXPECT_LT(elapsed, std::chrono::seconds(10));
    RuDAVADO_ClearFaults();

    // A camera that answers ends the wait at once; a refused file changes nothing.
    LogCapture second;
    EXPECT_TRUE(param_.ParamImport(cfg, message));
    EXPECT_LT(second.matching("SDK_GetDeviceTime false: ").size(), 80u);
    EXPECT_FALSE(param_.ParamImport(dir.write("bad.cfg", "not a parameter file\n"), message));
    EXPECT_EQ("参数导入失败", message);
}

TEST_F(ModuleTest, UploadsUseTheImportTexts) {
    TempDir dir;
    LoginTo(kFaceIp);
    std::string message;
    LogCapture log;
    EXPECT_TRUE(param_.UploadLogo(dir.write("logo.png", PngImage()), message));
    EXPECT_EQ("参数导入成功", message);
    std::string css = dir.write("style.css", "body { color: red; }\n");
    EXPECT_TRUE(param_.UploadCss(css, message));
    EXPECT_EQ(1u, log.matching("): UploadCss : " + css).size());
    EXPECT_FALSE(param_.UploadBg(dir.write("bg.png", "no image"), message));
    EXPECT_EQ("参数导入失败", message);
    EXPECT_EQ(2, CameraState(CameraNumber(kFaceIp)).uploads);
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
    EXPECT_NE(first, video_.play_handle());
    // The first play was stopped and its handle freed; the second one runs.
    EXPECT_EQ(-1, RuDAVADO_PlayFrames(first));
    int second = video_.play_handle();
    EXPECT_GE(RuDAVADO_PlayFrames(second), 0);

    EXPECT_TRUE(video_.StopPlay(message));
    EXPECT_EQ("停止播放成功", message);
    EXPECT_EQ(KPLPRC_FIALURE, video_.play_handle());
    EXPECT_EQ(-1, RuDAVADO_PlayFrames(second));
}

TEST(ScriptedUpgradeTest, FirstStateFourReportsOnlyTheRestart) {
    auto sdk = std::make_shared<ScriptedUpgradeSdk>(std::vector<int>{KP_UPDATE_STATE_SAME_VERSION});
    factory::devicebasemodule device;
    ASSERT_TRUE(device.Init(sdk));
    UpgradeRun run = RunUpgrade(device, "fw.bin");
    EXPECT_TRUE(run.ok);
    EXPECT_EQ("升级成功", run.message);
    EXPECT_EQ((std::vector<std::pair<int, int>>{{2, 50}, {1, 100}}), run.calls);
    EXPECT_EQ(1, sdk->reboots);
}

TEST(ScriptedUpgradeTest, StatesZeroZeroThreeEndCancelled) {
    auto sdk = std::make_shared<ScriptedUpgradeSdk>(std::vector<int>{0, 0, KP_UPDATE_STATE_CANCELLED});
    factory::devicebasemodule device;
    ASSERT_TRUE(device.Init(sdk));
    LogCapture log;
    UpgradeRun run = RunUpgrade(device, "fw.bin");
    EXPECT_FALSE(run.ok);
    EXPECT_EQ("升级取消", run.message);
    ASSERT_EQ(2u, run.calls.size());
    EXPECT_EQ(0, run.calls[0].first);
    EXPECT_EQ(0, run.calls[1].first);
    EXPECT_EQ(0, sdk->reboots);
    EXPECT_EQ(3u, log.matching("): status: ").size());
    EXPECT_EQ(2u, log.matching("): progress: ").size());
}

TEST(ScriptedUpgradeTest, CameraStuckIdleEndsFailedAfterTheBound) {
    // Five minutes without progress at time scale 1 are 300 ms here.
    auto sdk = std::make_shared<ScriptedUpgradeSdk>(std::vector<int>{KP_UPDATE_STATE_IDLE});
    factory::devicebasemodule device;
    ASSERT_TRUE(device.Init(sdk));
    auto start = std::chrono::steady_clock::now();
    UpgradeRun run = RunUpgrade(device, "fw.bin");
    auto elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_FALSE(run.ok);
    EXPECT_EQ("升级失败", run.message);
    EXPECT_GE(elapsed, std::chrono::milliseconds(300));
    EXPECT_LT(elapsed, std::chrono::seconds(20));
    EXPECT_EQ(0, sdk->reboots);
}

TEST_F(ModuleTest, UpgradeOnSimulatedCamera) {
    TempDir dir;
    LoginTo(kPlateIp);
    int cam = CameraNumber(kPlateIp);
    std::string ours = dir.write("plate.bin", FirmwarePackage(kPlateFamily, "3.2.1.16"));
    std::string foreign = dir.write("face.bin", FirmwarePackage(kFaceFamily, "2.1.0.9"));

    // Only foreign or missing packages: refused at once.
    UpgradeRun refused = RunUpgrade(device_, foreign + "|" + dir.path("missing.bin"));
    EXPECT_FALSE(refused.ok);
    EXPECT_EQ("升级包不支持", refused.message);
    EXPECT_TRUE(refused.calls.empty());

    // The camera picks its own family's package out of a joined path.
    UpgradeRun run = RunUpgrade(device_, foreign + "|" + ours);
    EXPECT_TRUE(run.ok) << run.message;
    EXPECT_EQ("升级成功", run.message);
    ASSERT_GE(run.calls.size(), 2u);
    EXPECT_EQ(std::make_pair(2, 50), run.calls[run.calls.size() - 2]);
    EXPECT_EQ(std::make_pair(1, 100), run.calls.back());
    for (size_t i = 0; i + 2 < run.calls.size(); ++i) {
        EXPECT_EQ(KP_UPDATE_STATE_RUNNING, run.calls[i].first);
        if (i > 0) {
            EXPECT_GE(run.calls[i].second, run.calls[i - 1].second);
        }
    }
    EXPECT_STREQ("3.2.1.16", CameraState(cam).firmware);
}

TEST_F(ModuleTest, DamagedPackageEndsFailed) {
    TempDir dir;
    LoginTo(kPlateIp);
    UpgradeRun run = RunUpgrade(device_, dir.write("plate.bin", FirmwarePackage(kPlateFamily, "3.2.1.16", true)));
    EXPECT_FALSE(run.ok);
    EXPECT_EQ("升级失败", run.message);
    EXPECT_STREQ("3.2.1.15", CameraState(CameraNumber(kPlateIp)).firmware);
}

TEST_F(ModuleTest, CameraPoweredOffMidUpgradeEndsFailed) {
    TempDir dir;
    std::string package = dir.write("plate.bin", FirmwarePackage(kPlateFamily, "3.2.1.16"));
    // 10 minutes at scale 1: the camera is still writing when the power goes.
    RuDAVADO_SetTiming("upgrade", 600000);
    LoginTo(kPlateIp);
    int cam = CameraNumber(kPlateIp);
    std::thread power([cam] {
        for (int i = 0; i < 2000 && CameraState(cam).update_progress < 5; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        RuDAVADO_SetPower(cam, 0);
    });
    UpgradeRun run = RunUpgrade(device_, package);
    power.join();
    EXPECT_FALSE(run.ok);
    EXPECT_EQ("升级失败", run.message);
}

TEST_F(ModuleTest, UnreadableUpgradeProgressEndsFailedAfterTheBound) {
    TempDir dir;
    std::string package = dir.write("plate.bin", FirmwarePackage(kPlateFamily, "3.2.1.16"));
    RuDAVADO_SetTiming("upgrade", 3600000);
    LoginTo(kPlateIp);
    ASSERT_EQ(0, RuDAVADO_FailNext("KpLPRClient_GetUpdateProgress", CameraNumber(kPlateIp), 1000000));
    LogCapture log;
    auto start = std::chrono::steady_clock::now();
    UpgradeRun run = RunUpgrade(device_, package);
    auto elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_FALSE(run.ok);
    EXPECT_EQ("升级失败", run.message);
    EXPECT_GE(elapsed, std::chrono::milliseconds(300));
    EXPECT_LT(elapsed, std::chrono::seconds(20));
    EXPECT_EQ(1u, log.matching("no upgrade progress").size());
    EXPECT_FALSE(log.matching("progress: 4294967295").empty());
}

TEST_F(ModuleTest, SlowAnsweringUpgradeIsNotCutShort) {
    TempDir dir;
    std::string package = dir.write("plate.bin", FirmwarePackage(kPlateFamily, "3.2.1.16"));
    // Twice the no-answer bound, with the camera answering all along.
    RuDAVADO_SetTiming("upgrade", 2.0 * factory::devicebasemodule::kUpdateNoAnswerLimitMs);
    LoginTo(kPlateIp);
    UpgradeRun run = RunUpgrade(device_, package);
    EXPECT_TRUE(run.ok) << run.message;
    EXPECT_EQ("升级成功", run.message);
}
