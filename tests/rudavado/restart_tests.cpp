// Reboot, power, cable, address change and restore: sessions drop, notify, and come back.
#include <chrono>
#include <thread>

#include "rudavado_test_support.h"

using rdvtest::NetworkTest;
using rdvtest::waitUntil;

namespace {

class RestartTest : public NetworkTest {
protected:
    bool works(KPLPRC_HANDLE h) {
        KPLPRC_DATETIME t{};
        return KpLPRClient_GetDateTime(h, &t) == 0;
    }
};

TEST_F(RestartTest, RebootDropsSessionsAndLogsThemInAgain) {
    ASSERT_EQ(0, RuDAVADO_SetTiming("boot", 100000));  // 100 ms at the test scale
    const int cam = camera("192.168.1.100");
    KPLPRC_HANDLE a = open("192.168.1.100");
    KPLPRC_HANDLE b = open("192.168.1.100");
    KPLPRC_HANDLE other = open("192.168.1.101");
    ASSERT_EQ(0, KpLPRClient_RebootDevice(a));
    EXPECT_EQ(RUDAVADO_STATE_BOOTING, state(cam).state);
    EXPECT_FALSE(works(a));
    EXPECT_EQ(KPLPRC_ERR_SESSION_LOST, KpLPRClient_GetLastError());
    EXPECT_EQ(nullptr, open("192.168.1.100")) << "a restarting camera does not answer";

    ASSERT_TRUE(waitUntil([&] { return notes_.has(a, 3) && notes_.has(b, 3); }));
    EXPECT_EQ((std::vector<int>{2, 3}), notes_.codesFor(a));
    EXPECT_EQ((std::vector<int>{2, 3}), notes_.codesFor(b));
    EXPECT_TRUE(notes_.codesFor(other).empty());
    EXPECT_TRUE(works(a)) << "the same handle works again";
    EXPECT_TRUE(works(b));
    EXPECT_EQ(1, state(cam).boots);
    EXPECT_EQ(2, state(cam).sessions);
}

TEST_F(RestartTest, PowerLossNotifiesOfflineAndPowerOnBringsTheSessionBack) {
    const int cam = camera("192.168.1.110");
    KPLPRC_HANDLE h = open("192.168.1.110");
    ASSERT_EQ(0, RuDAVADO_SetPower(cam, 0));
    ASSERT_TRUE(waitUntil([&] { return notes_.has(h, 1); }));
    EXPECT_EQ(RUDAVADO_STATE_OFFLINE, state(cam).state);
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    EXPECT_FALSE(notes_.has(h, 3)) << "nothing comes back while the power is off";

    ASSERT_EQ(0, RuDAVADO_SetPower(cam, 1));
    ASSERT_TRUE(waitUntil([&] { return notes_.has(h, 3); }));
    EXPECT_EQ((std::vector<int>{1, 3}), notes_.codesFor(h));
    EXPECT_TRUE(works(h));
}

TEST_F(RestartTest, CameraThatStaysDownAfterItsRebootKeepsItsDroppedHandlesUntilClosed) {
    const int cam = camera("192.168.1.100");
    ASSERT_EQ(0, RuDAVADO_StayDownAfterRestart(cam, 1));
    KPLPRC_HANDLE a = open("192.168.1.100");
    KPLPRC_HANDLE b = open("192.168.1.100");
    ASSERT_EQ(0, KpLPRClient_RebootDevice(a));
    std::this_thread::sleep_for(std::chrono::milliseconds(60));  // several boot times
    EXPECT_EQ(RUDAVADO_STATE_BOOTING, state(cam).state);
    EXPECT_EQ(0, state(cam).sessions);
    EXPECT_EQ(2, state(cam).open_handles) << "dropped handles stay until they are closed";
    EXPECT_EQ(0, KpLPRClient_Close(a));
    EXPECT_EQ(1, state(cam).open_handles);

    // A power cycle ends the hang, and the next restart ends as usual.
    ASSERT_EQ(0, RuDAVADO_SetPower(cam, 0));
    ASSERT_EQ(0, RuDAVADO_SetPower(cam, 1));
    ASSERT_TRUE(waitUntil([&] { return notes_.has(b, 3); }));
    ASSERT_EQ(0, KpLPRClient_RebootDevice(b));
    ASSERT_TRUE(waitUntil([&] { return online(cam); }));
    EXPECT_EQ(0, KpLPRClient_Close(b));
    EXPECT_EQ(0, state(cam).open_handles);
}

TEST_F(RestartTest, CableLossDropsAndReconnectsWithoutARestart) {
    const int cam = camera("192.168.1.101");
    KPLPRC_HANDLE h = open("192.168.1.101");
    ASSERT_EQ(0, RuDAVADO_SetLinked(cam, 0));
    EXPECT_FALSE(works(h));
    ASSERT_EQ(0, RuDAVADO_SetLinked(cam, 1));
    ASSERT_TRUE(waitUntil([&] { return notes_.has(h, 3); }));
    EXPECT_EQ((std::vector<int>{1, 3}), notes_.codesFor(h));
    EXPECT_EQ(0, state(cam).boots);
}

TEST_F(RestartTest, CablePulledDuringARestartDoesNotStopTheRestart) {
    ASSERT_EQ(0, RuDAVADO_SetTiming("boot", 50000));
    const int cam = camera("192.168.1.101");
    KPLPRC_HANDLE h = open("192.168.1.101");
    ASSERT_EQ(0, KpLPRClient_RebootDevice(h));
    ASSERT_EQ(0, RuDAVADO_SetLinked(cam, 0));
    ASSERT_EQ(0, RuDAVADO_SetLinked(cam, 1));
    ASSERT_TRUE(waitUntil([&] { return notes_.has(h, 3); }));
    EXPECT_TRUE(online(cam));
    EXPECT_EQ(1, state(cam).boots);
}

TEST_F(RestartTest, SessionWithAnOutdatedPasswordIsRefusedOnceAfterRestart) {
    KPLPRC_HANDLE changer = open("192.168.1.100");
    KPLPRC_HANDLE stale = open("192.168.1.100");
    ASSERT_EQ(0, KpLPRClient_SetLoginAccount(changer, "fresh"));
    EXPECT_TRUE(works(stale)) << "logged-in sessions are not thrown out by a password change";
    ASSERT_EQ(0, KpLPRClient_RebootDevice(changer));
    ASSERT_TRUE(waitUntil([&] { return notes_.has(changer, 3) && notes_.has(stale, 4); }));
    EXPECT_EQ((std::vector<int>{2, 4}), notes_.codesFor(stale));
    EXPECT_FALSE(works(stale));
    EXPECT_TRUE(works(changer));
}

TEST_F(RestartTest, RebootWhileUpgradingIsRefused) {
    ASSERT_EQ(0, RuDAVADO_SetTiming("upgrade", 1e7));
    const std::string pkg = path("fw.bin");
    ASSERT_EQ(0, rdvtest::makeFirmware(pkg, "KP-LPR-V3", "3.3.0.0"));
    KPLPRC_HANDLE h = open("192.168.1.100");
    ASSERT_EQ(0, KpLPRClient_Update(h, pkg.c_str()));
    EXPECT_EQ(-1, KpLPRClient_RebootDevice(h));
    EXPECT_EQ(KPLPRC_ERR_BUSY, KpLPRClient_GetLastError());
    EXPECT_EQ(-1, KpLPRClient_RestoreFull(h));
    EXPECT_EQ(-1, KpLPRClient_UpdateNetworkParam(state(camera("192.168.1.100")).serial_high,
                                                 state(camera("192.168.1.100")).serial_low, "192.168.1.160",
                                                 "192.168.1.1", "255.255.255.0"));
    EXPECT_EQ(KPLPRC_ERR_BUSY, KpLPRClient_GetLastError());
    EXPECT_EQ(0, KpLPRClient_StopUpdate(h));
}

TEST_F(RestartTest, AddressChangeBySerialMovesTheCamera) {
    const int cam = camera("192.168.1.100");
    const RuDAVADO_CameraState before = state(cam);
    KPLPRC_HANDLE h = open("192.168.1.100");
    ASSERT_EQ(0, KpLPRClient_UpdateNetworkParam(before.serial_high, before.serial_low, "192.168.1.150",
                                                "192.168.1.254", "255.255.255.0"));
    ASSERT_TRUE(waitUntil([&] { return notes_.has(h, 1); }));
    EXPECT_STREQ("192.168.1.150", state(cam).ip);
    EXPECT_STREQ("192.168.1.254", state(cam).gateway);
    ASSERT_TRUE(waitUntil([&] { return online(cam); }));
    EXPECT_EQ(nullptr, open("192.168.1.100"));
    EXPECT_NE(nullptr, open("192.168.1.150"));
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_FALSE(notes_.has(h, 3)) << "the session belonged to the old address";
    EXPECT_EQ(0, state(cam).boots) << "only the network restarted";
}

TEST_F(RestartTest, SessionFollowsItsAddressToTheCameraThatTakesIt) {
    const int first = camera("192.168.1.100");
    const int second = camera("192.168.1.101");
    const RuDAVADO_CameraState a = state(first);
    const RuDAVADO_CameraState b = state(second);
    KPLPRC_HANDLE h = open("192.168.1.100");
    ASSERT_NE(nullptr, h);
    ASSERT_EQ(0, KpLPRClient_UpdateNetworkParam(a.serial_high, a.serial_low, "192.168.1.150", "192.168.1.254",
                                                "255.255.255.0"));
    ASSERT_TRUE(waitUntil([&] { return online(first); }));
    ASSERT_EQ(0, KpLPRClient_UpdateNetworkParam(b.serial_high, b.serial_low, "192.168.1.100", "192.168.1.254",
                                                "255.255.255.0"));
    ASSERT_TRUE(waitUntil([&] { return notes_.has(h, 3); })) << "the old address answers again";

    // The session now counts on the camera at its address, and nowhere else.
    EXPECT_EQ(0, state(first).sessions);
    EXPECT_EQ(0, state(first).open_handles);
    EXPECT_EQ(1, state(second).sessions);
    EXPECT_EQ(1, state(second).open_handles);
    EXPECT_TRUE(works(h));
    ASSERT_EQ(0, KpLPRClient_RebootDevice(h));
    EXPECT_EQ(RUDAVADO_STATE_BOOTING, state(second).state) << "a call reaches the camera it moved to";
    EXPECT_EQ(0, state(second).sessions);
    ASSERT_EQ(0, KpLPRClient_Close(h));
    EXPECT_EQ(0, state(second).open_handles);
    EXPECT_EQ(0, state(first).open_handles);
}

TEST_F(RestartTest, AddressChangeRefusesMalformedTakenAndUnknown) {
    const RuDAVADO_CameraState s = state(camera("192.168.1.100"));
    struct Case {
        const char* ip;
        const char* gateway;
        const char* mask;
        int error;
    } cases[] = {
        {"192.168.1.101", "192.168.1.1", "255.255.255.0", KPLPRC_ERR_ADDRESS_IN_USE},
        {"192.168.1", "192.168.1.1", "255.255.255.0", KPLPRC_ERR_PARAMETER},
        {"192.168.1.50 ", "192.168.1.1", "255.255.255.0", KPLPRC_ERR_PARAMETER},
        {"192.168.01.50", "192.168.1.1", "255.255.255.0", KPLPRC_ERR_PARAMETER},
        {"192.168.1.50", "10.0.0.1", "255.255.255.0", KPLPRC_ERR_PARAMETER},  // gateway elsewhere
        {"192.168.1.50", "192.168.1.50", "255.255.255.0", KPLPRC_ERR_PARAMETER},
        {"192.168.1.50", "192.168.1.1", "255.0.255.0", KPLPRC_ERR_PARAMETER},     // not a mask
        {"192.168.1.255", "192.168.1.1", "255.255.255.0", KPLPRC_ERR_PARAMETER},  // broadcast
        {"192.168.1.0", "192.168.1.1", "255.255.255.0", KPLPRC_ERR_PARAMETER},    // network
        {"127.0.0.5", "127.0.0.1", "255.0.0.0", KPLPRC_ERR_PARAMETER},
        {"", "192.168.1.1", "255.255.255.0", KPLPRC_ERR_PARAMETER},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(-1, KpLPRClient_UpdateNetworkParam(s.serial_high, s.serial_low, c.ip, c.gateway, c.mask))
            << c.ip << " " << c.gateway << " " << c.mask;
        EXPECT_EQ(c.error, KpLPRClient_GetLastError()) << c.ip;
    }
    EXPECT_EQ(-1, KpLPRClient_UpdateNetworkParam(s.serial_high, s.serial_low, nullptr, "192.168.1.1",
                                                 "255.255.255.0"));
    EXPECT_EQ(-1,
              KpLPRClient_UpdateNetworkParam(0x1234, 0x5678, "192.168.1.50", "192.168.1.1", "255.255.255.0"));
    EXPECT_EQ(KPLPRC_ERR_NOT_FOUND, KpLPRClient_GetLastError());
    const RuDAVADO_CameraState off = state(camera("192.168.1.104"));
    EXPECT_EQ(-1, KpLPRClient_UpdateNetworkParam(off.serial_high, off.serial_low, "192.168.1.50",
                                                 "192.168.1.1", "255.255.255.0"));
    EXPECT_EQ(KPLPRC_ERR_NOT_FOUND, KpLPRClient_GetLastError());
    EXPECT_STREQ("192.168.1.100", state(camera("192.168.1.100")).ip);
}

TEST_F(RestartTest, PartialRestoreKeepsNetworkAndPassword) {
    const int cam = camera("192.168.1.100");
    KPLPRC_HANDLE h = open("192.168.1.100");
    ASSERT_EQ(0, RuDAVADO_SetParam(cam, "图像参数", "亮度", "90"));
    ASSERT_EQ(0, KpLPRClient_SetLoginAccount(h, "kept"));
    ASSERT_EQ(0, KpLPRClient_RestorePart(h));
    ASSERT_TRUE(waitUntil([&] { return notes_.has(h, 3); }));
    EXPECT_EQ((std::vector<int>{2, 3}), notes_.codesFor(h));
    char value[16];
    ASSERT_EQ(0, RuDAVADO_GetParam(cam, "图像参数", "亮度", value, sizeof value));
    EXPECT_STREQ("50", value);
    EXPECT_STREQ("kept", state(cam).password);
    EXPECT_STREQ("192.168.1.100", state(cam).ip);
}

TEST_F(RestartTest, FullRestoreResetsAddressAndPasswordToo) {
    const int cam = camera("192.168.1.101");
    const RuDAVADO_CameraState s = state(cam);
    ASSERT_EQ(0, KpLPRClient_UpdateNetworkParam(s.serial_high, s.serial_low, "192.168.1.160", "192.168.1.1",
                                                "255.255.255.0"));
    ASSERT_TRUE(waitUntil([&] { return online(cam); }));
    KPLPRC_HANDLE h = open("192.168.1.160");
    ASSERT_NE(nullptr, h);
    ASSERT_EQ(0, KpLPRClient_SetLoginAccount(h, "changed"));
    ASSERT_EQ(0, RuDAVADO_SetParam(cam, "输出参数", "道闸控制", "0"));
    ASSERT_EQ(0, KpLPRClient_RestoreFull(h));
    ASSERT_TRUE(waitUntil([&] { return online(cam); }));
    EXPECT_STREQ("192.168.1.101", state(cam).ip);
    EXPECT_STREQ(rdvtest::kPassword, state(cam).password);
    char value[16];
    ASSERT_EQ(0, RuDAVADO_GetParam(cam, "输出参数", "道闸控制", value, sizeof value));
    EXPECT_STREQ("1", value);
    EXPECT_NE(nullptr, open("192.168.1.101"));
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ((std::vector<int>{2}), notes_.codesFor(h)) << "nobody answers at the old address";
}

TEST_F(RestartTest, NotifyCallbackRemovedIsNotCalled) {
    KPLPRC_HANDLE h = open("192.168.1.100");
    ASSERT_EQ(0, KPLPRClient_SetCommonNotifyCallBack(nullptr, nullptr));
    ASSERT_EQ(0, KpLPRClient_RebootDevice(h));
    ASSERT_TRUE(waitUntil([&] { return works(h); }));
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_TRUE(notes_.codesFor(h).empty());
}

}  // namespace
