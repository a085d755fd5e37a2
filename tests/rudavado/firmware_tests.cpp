// Firmware packages: choice by model family, refusals, progress, damage, cancel, new version.
#ifndef _WIN32
#include <sys/stat.h>
#endif

#include <chrono>
#include <filesystem>
#include <thread>

#include "rudavado_test_support.h"

using rdvtest::NetworkTest;
using rdvtest::waitUntil;

namespace {

class FirmwareTest : public NetworkTest {
protected:
    void SetUp() override {
        NetworkTest::SetUp();
        ASSERT_EQ(0, rdvtest::makeFirmware(dir_));
        v3_ = path("KP-LPR-V3_3.2.2.0.bin");
        v1_ = path("KP-LPR-V1_1.8.5.0.bin");
        face_ = path("KP-FACE-F2_2.1.1.0.bin");
        damaged_ = path("damaged_KP-LPR-V3_3.2.2.1.bin");
        foreign_ = path("foreign_KP-IPC-X9_9.0.0.1.bin");
    }
    std::string version(KPLPRC_HANDLE h) {
        char v[KPLPRC_SYSTEM_VERSION_LEN] = {};
        EXPECT_EQ(0, KpLPRClient_GetSystemVersion(h, v));
        return v;
    }
    int settle(KPLPRC_HANDLE h) {
        int s = KP_UPDATE_STATE_RUNNING;
        waitUntil([&] {
            s = KpLPRClient_GetUpdateState(h);
            return s != KP_UPDATE_STATE_RUNNING;
        });
        return s;
    }

    std::string v3_, v1_, face_, damaged_, foreign_;
};

TEST_F(FirmwareTest, AcceptedPackageRunsWithRisingProgressThenShowsAfterRestart) {
    // 1 s at the test scale: a loaded machine still samples several steps of the progress.
    ASSERT_EQ(0, RuDAVADO_SetTiming("upgrade", 1000000));
    const int cam = camera("192.168.1.100");
    KPLPRC_HANDLE h = open("192.168.1.100");
    EXPECT_EQ(KP_UPDATE_STATE_IDLE, KpLPRClient_GetUpdateState(h));
    ASSERT_EQ(0, KpLPRClient_Update(h, v3_.c_str()));
    EXPECT_EQ(RUDAVADO_STATE_UPGRADING, state(cam).state);

    std::vector<int> seen;
    int s;
    for (;;) {
        // The state read after the progress: a percentage read once the upgrade ended is not
        // one of a running upgrade.
        const int p = KpLPRClient_GetUpdateProgress(h);
        if ((s = KpLPRClient_GetUpdateState(h)) != KP_UPDATE_STATE_RUNNING) break;
        if (seen.empty() || seen.back() != p) seen.push_back(p);
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_EQ(KP_UPDATE_STATE_DONE, s);
    EXPECT_EQ(100, KpLPRClient_GetUpdateProgress(h));
    ASSERT_GE(seen.size(), 3u);
    for (size_t i = 1; i < seen.size(); ++i) EXPECT_LT(seen[i - 1], seen[i]);
    EXPECT_LT(seen.back(), 100) << "running never claims 100 %";

    EXPECT_EQ("3.2.1.15", version(h)) << "the old version runs until the restart";
    EXPECT_STREQ("3.2.2.0", state(cam).pending_firmware);
    ASSERT_EQ(0, KpLPRClient_RebootDevice(h));
    ASSERT_TRUE(waitUntil([&] { return notes_.has(h, 3); }));
    EXPECT_EQ("3.2.2.0", version(h));
    EXPECT_STREQ("", state(cam).pending_firmware);
}

TEST_F(FirmwareTest, JoinedPathPicksThePackageOfTheCamerasFamily) {
    const std::string all = foreign_ + "|" + v1_ + "|" + face_ + "|" + v3_;
    struct {
        const char* ip;
        const char* expected;
    } cases[] = {{"192.168.1.100", "3.2.2.0"}, {"192.168.1.105", "1.8.5.0"}, {"192.168.1.110", "2.1.1.0"}};
    for (auto& c : cases) {
        KPLPRC_HANDLE h = open(c.ip);
        ASSERT_NE(nullptr, h) << c.ip;
        ASSERT_EQ(0, KpLPRClient_Update(h, all.c_str())) << c.ip;
        EXPECT_EQ(KP_UPDATE_STATE_DONE, settle(h)) << c.ip;
        EXPECT_STREQ(c.expected, state(camera(c.ip)).pending_firmware) << c.ip;
    }
}

TEST_F(FirmwareTest, RefusedPackagesFailAtUpdate) {
    KPLPRC_HANDLE h = open("192.168.1.100");
    const std::string text = path("notes.bin");
    rdvtest::writeAll(text, "this is not firmware, just some text long enough to be read...");
    const std::string header_only = path("cut.bin");
    rdvtest::writeAll(header_only, rdvtest::readAll(v3_).substr(0, 40));
    const std::string fifo = path("pipe.bin");
#ifndef _WIN32
    ASSERT_EQ(0, mkfifo(fifo.c_str(), 0600));  // nobody writes: reading it would block forever
#endif
    const std::string bad_header = path("bad_header.bin");
    std::string bytes = rdvtest::readAll(v3_);
    bytes[10] ^= 0x01;  // family text no longer matches the header checksum
    rdvtest::writeAll(bad_header, bytes);
    struct {
        std::string path;
        int error;
    } cases[] = {
        {foreign_, KPLPRC_ERR_PACKAGE},
        {v1_, KPLPRC_ERR_PACKAGE},  // another family of the same maker
        {face_ + "|" + foreign_, KPLPRC_ERR_PACKAGE},
        {path("missing.bin"), KPLPRC_ERR_FILE},
        {path("missing.bin") + "|" + path("gone.bin"), KPLPRC_ERR_FILE},
        {dir_, KPLPRC_ERR_FILE},  // a folder
        {"|", KPLPRC_ERR_FILE},
        {text, KPLPRC_ERR_PACKAGE},
        {header_only, KPLPRC_ERR_PACKAGE},
        {bad_header, KPLPRC_ERR_PACKAGE},
    };
    for (auto& c : cases) {
        EXPECT_EQ(-1, KpLPRClient_Update(h, c.path.c_str())) << c.path;
        EXPECT_EQ(c.error, KpLPRClient_GetLastError()) << c.path;
    }
    EXPECT_EQ(-1, KpLPRClient_Update(h, ""));
    EXPECT_EQ(-1, KpLPRClient_Update(h, nullptr));
    EXPECT_EQ(KP_UPDATE_STATE_IDLE, KpLPRClient_GetUpdateState(h));
    EXPECT_EQ(0, KpLPRClient_GetUpdateProgress(h));
}

TEST_F(FirmwareTest, DamagedPackageFailsHalfway) {
    // 1 s at the test scale: on a loaded machine (a sanitizer build) the state read right after
    // the start must still fall before the halfway failure.
    ASSERT_EQ(0, RuDAVADO_SetTiming("upgrade", 1000000));
    const int cam = camera("192.168.1.101");
    KPLPRC_HANDLE h = open("192.168.1.101");
    ASSERT_EQ(0, KpLPRClient_Update(h, damaged_.c_str())) << "the header is sound";
    EXPECT_EQ(KP_UPDATE_STATE_RUNNING, KpLPRClient_GetUpdateState(h));
    EXPECT_EQ(KP_UPDATE_STATE_FAILED, settle(h));
    EXPECT_EQ(50, KpLPRClient_GetUpdateProgress(h));
    EXPECT_STREQ("", state(cam).pending_firmware);
    EXPECT_EQ(RUDAVADO_STATE_ONLINE, state(cam).state);
    EXPECT_EQ("3.2.1.15", version(h));
}

TEST_F(FirmwareTest, StopUpdateCancels) {
    ASSERT_EQ(0, RuDAVADO_SetTiming("upgrade", 1e7));
    const int cam = camera("192.168.1.110");
    KPLPRC_HANDLE h = open("192.168.1.110");
    EXPECT_EQ(-1, KpLPRClient_StopUpdate(h)) << "nothing to stop";
    ASSERT_EQ(0, KpLPRClient_Update(h, face_.c_str()));
    EXPECT_EQ(-1, KpLPRClient_Update(h, face_.c_str())) << "one upgrade at a time";
    EXPECT_EQ(KPLPRC_ERR_BUSY, KpLPRClient_GetLastError());
    ASSERT_EQ(0, KpLPRClient_StopUpdate(h));
    EXPECT_EQ(KP_UPDATE_STATE_CANCELLED, KpLPRClient_GetUpdateState(h));
    EXPECT_STREQ("", state(cam).pending_firmware);
    EXPECT_EQ(RUDAVADO_STATE_ONLINE, state(cam).state);
    // After a cancel the camera takes a package again.
    ASSERT_EQ(0, RuDAVADO_SetTiming("upgrade", 1000));
    ASSERT_EQ(0, KpLPRClient_Update(h, face_.c_str()));
    EXPECT_EQ(KP_UPDATE_STATE_DONE, settle(h));
}

TEST_F(FirmwareTest, PackageOfTheRunningVersionIsDoneAtOnce) {
    const std::string same = path("same.bin");
    ASSERT_EQ(0, rdvtest::makeFirmware(same, "KP-LPR-V3", "3.2.1.15"));
    KPLPRC_HANDLE h = open("192.168.1.100");
    ASSERT_EQ(0, KpLPRClient_Update(h, same.c_str()));
    EXPECT_EQ(KP_UPDATE_STATE_SAME_VERSION, KpLPRClient_GetUpdateState(h));
    EXPECT_EQ(100, KpLPRClient_GetUpdateProgress(h));
}

TEST_F(FirmwareTest, PowerLossDuringUpgradeFailsIt) {
    ASSERT_EQ(0, RuDAVADO_SetTiming("upgrade", 1e7));
    const int cam = camera("192.168.1.100");
    KPLPRC_HANDLE h = open("192.168.1.100");
    ASSERT_EQ(0, KpLPRClient_Update(h, v3_.c_str()));
    ASSERT_EQ(0, RuDAVADO_SetPower(cam, 0));
    EXPECT_EQ(KP_UPDATE_STATE_FAILED, KpLPRClient_GetUpdateState(h));
    EXPECT_EQ(KP_UPDATE_STATE_FAILED, state(cam).update_state);
    ASSERT_EQ(0, RuDAVADO_SetPower(cam, 1));
    ASSERT_TRUE(waitUntil([&] { return notes_.has(h, 3); }));
    EXPECT_EQ("3.2.1.15", version(h));
}

TEST_F(FirmwareTest, LinkDroppedMidUpgradeFailsItAndTheCameraAnswersAgain) {
    ASSERT_EQ(0, RuDAVADO_SetTiming("upgrade", 100000));  // 100 ms at the test scale
    const int cam = camera("192.168.1.100");
    ASSERT_EQ(-1, RuDAVADO_DropLinkDuringUpgrade(cam, 101));
    ASSERT_EQ(0, RuDAVADO_DropLinkDuringUpgrade(cam, 30));
    KPLPRC_HANDLE h = open("192.168.1.100");
    ASSERT_EQ(0, KpLPRClient_Update(h, v3_.c_str()));
    ASSERT_TRUE(waitUntil([&] { return notes_.has(h, 1); }));
    EXPECT_EQ(KP_UPDATE_STATE_FAILED, state(cam).update_state);
    EXPECT_EQ(30, state(cam).update_progress);
    ASSERT_TRUE(waitUntil([&] { return notes_.has(h, 3); }));
    EXPECT_EQ(KP_UPDATE_STATE_FAILED, KpLPRClient_GetUpdateState(h));
    // Only the next upgrade is cut: the one after it runs to its end.
    ASSERT_EQ(0, KpLPRClient_Update(h, v3_.c_str()));
    ASSERT_TRUE(waitUntil([&] { return KpLPRClient_GetUpdateState(h) == KP_UPDATE_STATE_DONE; }));
    EXPECT_EQ((std::vector<int>{1, 3}), notes_.codesFor(h));
}

TEST_F(FirmwareTest, StalledUpgradeRunsAtItsPercentageUntilStopped) {
    ASSERT_EQ(0, RuDAVADO_SetTiming("upgrade", 20000));  // 20 ms at the test scale
    const int cam = camera("192.168.1.100");
    ASSERT_EQ(-1, RuDAVADO_StallUpgrade(cam, 100));
    ASSERT_EQ(0, RuDAVADO_StallUpgrade(cam, 30));
    KPLPRC_HANDLE h = open("192.168.1.100");
    ASSERT_EQ(0, KpLPRClient_Update(h, v3_.c_str()));
    std::this_thread::sleep_for(std::chrono::milliseconds(60));  // three upgrade times
    EXPECT_EQ(KP_UPDATE_STATE_RUNNING, KpLPRClient_GetUpdateState(h));
    EXPECT_EQ(30, KpLPRClient_GetUpdateProgress(h));
    EXPECT_EQ(-1, KpLPRClient_RebootDevice(h));
    EXPECT_EQ(0, KpLPRClient_StopUpdate(h));
    EXPECT_EQ(KP_UPDATE_STATE_CANCELLED, KpLPRClient_GetUpdateState(h));
    EXPECT_EQ(0, KpLPRClient_RebootDevice(h));
}

TEST_F(FirmwareTest, PathInGb2312IsFound) {
    const std::string folder_utf8 = dir_ + "/固件";
    ASSERT_TRUE(std::filesystem::create_directory(std::filesystem::u8path(folder_utf8)));
    rdvtest::writeAll(folder_utf8 + "/新版.bin", rdvtest::readAll(v3_));
    const std::string gb_path = rdvtest::toGb2312(folder_utf8 + "/新版.bin");
    ASSERT_NE(gb_path, folder_utf8 + "/新版.bin");
    KPLPRC_HANDLE h = open("192.168.1.100");
    EXPECT_EQ(0, KpLPRClient_Update(h, gb_path.c_str()));
}

}  // namespace
