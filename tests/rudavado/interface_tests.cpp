// Library set-up, error reporting, and the information getters.
#ifndef _WIN32
#include <unistd.h>
#endif

#include <cstdlib>
#include <cstring>
#include <thread>

#include "rudavado_test_support.h"

using rdvtest::NetworkTest;

namespace {

class InterfaceTest : public NetworkTest {};

TEST_F(InterfaceTest, CallsBeforeSetupFailButStopsAlwaysSucceed) {
    KPLPRC_HANDLE h = open("192.168.1.100");
    ASSERT_NE(nullptr, h);
    ASSERT_EQ(0, KpLPRClient_Cleanup());

    // Clean-up closed the session and removed the callbacks.
    KPLPRC_DATETIME t{};
    EXPECT_EQ(-1, KpLPRClient_GetDateTime(h, &t));
    EXPECT_EQ(KPLPRC_ERR_NOT_SETUP, KpLPRClient_GetLastError());
    EXPECT_EQ(nullptr, open("192.168.1.100"));
    EXPECT_EQ(-1, KpLPRClient_Cleanup());
    EXPECT_EQ(-1, KPLPRClient_SetCommonNotifyCallBack(&rdvtest::NotifyLog::callback, &notes_));
    // Stopping and unregistering are harmless in any state: windows call them while closing.
    EXPECT_EQ(0, KpLPRClient_StopFindDevice());
    EXPECT_EQ(0, KPLPRClient_SetCommonNotifyCallBack(nullptr, nullptr));

    ASSERT_EQ(0, KpLPRClient_Setup());
    EXPECT_EQ(-1, KpLPRClient_GetDateTime(h, &t)) << "handles do not survive a clean-up";
    EXPECT_EQ(KPLPRC_ERR_INVALID_HANDLE, KpLPRClient_GetLastError());
}

TEST_F(InterfaceTest, LastErrorBelongsToTheCallingThread) {
    EXPECT_EQ(nullptr, open("192.168.1.100", 80, rdvtest::kUser, "wrong"));
    std::thread other([] {
        KPLPRC_DATETIME t{};
        EXPECT_EQ(-1, KpLPRClient_GetDateTime(reinterpret_cast<KPLPRC_HANDLE>(0x7777), &t));
        EXPECT_EQ(KPLPRC_ERR_INVALID_HANDLE, KpLPRClient_GetLastError());
    });
    other.join();
    EXPECT_EQ(KPLPRC_ERR_AUTH, KpLPRClient_GetLastError());
    ASSERT_NE(nullptr, open("192.168.1.100"));
    EXPECT_EQ(KPLPRC_ERR_NONE, KpLPRClient_GetLastError());
}

TEST_F(InterfaceTest, GettersDescribeTheCamera) {
    KPLPRC_HANDLE h = open("192.168.1.110");  // face camera
    ASSERT_NE(nullptr, h);
    RuDAVADO_CameraState cam = state(camera("192.168.1.110"));

    int kind = -1, lens = -1;
    char mac[KPLPRC_HWINFO_TEXT_LEN], serial[KPLPRC_HWINFO_TEXT_LEN];
    unsigned char block[KPLPRC_HWINFO_BLOCK_LEN];
    ASSERT_EQ(0, KpLPRClient_GetHwInfo(h, &kind, mac, serial, &lens, block));
    EXPECT_EQ(KPLPRC_DEVICE_FACE, kind);
    EXPECT_STREQ(cam.mac, mac);
    char expected_serial[32];
    std::snprintf(expected_serial, sizeof expected_serial, "%08x-%08x", cam.serial_high, cam.serial_low);
    EXPECT_STREQ(expected_serial, serial);
    EXPECT_EQ(cam.lens_code, lens);
    EXPECT_EQ(cam.hardware_index, block[KPLPRC_HWBLOCK_HARDWARE_INDEX]);
    EXPECT_LE(block[KPLPRC_HWBLOCK_HARDWARE_INDEX], KPLPRC_HARDWARE_INDEX_MAX);
    EXPECT_EQ(0, KpLPRClient_GetHwInfo(h, nullptr, nullptr, nullptr, nullptr, nullptr));

    unsigned int high = 0, low = 0;
    ASSERT_EQ(0, KpLPRClient_GetSerialNumber(h, &high, &low));
    EXPECT_EQ(cam.serial_high, high);
    EXPECT_EQ(cam.serial_low, low);

    unsigned char board[KPLPRC_BOARD_VERSION_LEN];
    EXPECT_EQ(0, KpLPRClient_GetHwBoardVersion(h, 0, board));
    EXPECT_EQ('H', board[0]);
    EXPECT_EQ(-1, KpLPRClient_GetHwBoardVersion(h, 2, board));
    EXPECT_EQ(KPLPRC_ERR_PARAMETER, KpLPRClient_GetLastError());

    int a, b, c, d;
    ASSERT_EQ(0, KpLPRClient_GetRemoteSoftWareVersion(h, &a, &b, &c, &d));
    char joined[32];
    std::snprintf(joined, sizeof joined, "%d.%d.%d.%d", a, b, c, d);
    EXPECT_STREQ(cam.firmware, joined);
    char version[KPLPRC_SYSTEM_VERSION_LEN] = {};
    ASSERT_EQ(0, KpLPRClient_GetSystemVersion(h, version));
    EXPECT_STREQ(cam.firmware, version);

    KPLPRC_NET_CONFIG net;
    ASSERT_EQ(0, KpLPRClient_GetNetConfig(h, &net));
    // The three address texts lead the record, 16 bytes each.
    const char* raw = reinterpret_cast<const char*>(&net);
    EXPECT_STREQ("192.168.1.110", raw);
    EXPECT_STREQ(cam.netmask, raw + 16);
    EXPECT_STREQ(cam.gateway, raw + 32);
    EXPECT_EQ(80, net.port);

    KPLPRC_HWINFO_EX ex;
    ASSERT_EQ(0, KpLPRClient_GetHwInfoEx("192.168.1.110", 80, &ex));
    EXPECT_STREQ("KP-FACE-F2", ex.model);
    EXPECT_STREQ(expected_serial, ex.serial);
    EXPECT_EQ(-1, KpLPRClient_GetHwInfoEx("192.168.1.110", 81, &ex));
    EXPECT_EQ(KPLPRC_ERR_REFUSED, KpLPRClient_GetLastError());
    EXPECT_EQ(-1, KpLPRClient_GetHwInfoEx("192.168.1.104", 80, &ex));  // powered off
    EXPECT_EQ(KPLPRC_ERR_TIMEOUT, KpLPRClient_GetLastError());

    ASSERT_EQ(0, KpLPRClient_SetIoOutput(h, 0, 2, 1));
    EXPECT_EQ(1, state(camera("192.168.1.110")).io_outputs[2]);
    EXPECT_EQ(-1, KpLPRClient_SetIoOutput(h, 1, 2, 1));
    EXPECT_EQ(-1, KpLPRClient_SetIoOutput(h, 0, 4, 1));
    EXPECT_EQ(-1, KpLPRClient_SetIoOutput(h, 0, 0, 2));
}

TEST_F(InterfaceTest, GettersRefuseNullOutputsAndBadHandles) {
    KPLPRC_HANDLE h = open("192.168.1.100");
    ASSERT_NE(nullptr, h);
    unsigned int w = 0;
    int i = 0;
    EXPECT_EQ(-1, KpLPRClient_GetSerialNumber(h, &w, nullptr));
    EXPECT_EQ(-1, KpLPRClient_GetRemoteSoftWareVersion(h, &i, &i, &i, nullptr));
    EXPECT_EQ(-1, KpLPRClient_GetSystemVersion(h, nullptr));
    EXPECT_EQ(-1, KpLPRClient_GetNetConfig(h, nullptr));
    EXPECT_EQ(-1, KpLPRClient_GetHwInfoEx(nullptr, 80, nullptr));
    EXPECT_EQ(KPLPRC_ERR_PARAMETER, KpLPRClient_GetLastError());

    KPLPRC_HANDLE bogus = reinterpret_cast<KPLPRC_HANDLE>(static_cast<uintptr_t>(0xdead));
    char text[32];
    EXPECT_EQ(-1, KpLPRClient_GetSystemVersion(bogus, text));
    EXPECT_EQ(-1, KpLPRClient_GetSystemVersion(nullptr, text));
    EXPECT_EQ(KPLPRC_ERR_INVALID_HANDLE, KpLPRClient_GetLastError());
}

TEST_F(InterfaceTest, InjectedFaultFailsOnlyTheNamedCallTheGivenNumberOfTimes) {
    KPLPRC_HANDLE a = open("192.168.1.100");
    KPLPRC_HANDLE b = open("192.168.1.101");
    ASSERT_NE(nullptr, a);
    ASSERT_NE(nullptr, b);
    ASSERT_EQ(0, RuDAVADO_FailNext("KpLPRClient_GetDateTime", camera("192.168.1.100"), 2));
    KPLPRC_DATETIME t{};
    EXPECT_EQ(0, KpLPRClient_GetDateTime(b, &t)) << "another camera";
    char version[32];
    EXPECT_EQ(0, KpLPRClient_GetSystemVersion(a, version)) << "another operation";
    EXPECT_EQ(-1, KpLPRClient_GetDateTime(a, &t));
    EXPECT_EQ(KPLPRC_ERR_DEVICE, KpLPRClient_GetLastError());
    EXPECT_EQ(-1, KpLPRClient_GetDateTime(a, &t));
    EXPECT_EQ(0, KpLPRClient_GetDateTime(a, &t));

    ASSERT_EQ(0, RuDAVADO_FailNext("KpLPRClient_Close", -1, 1));
    EXPECT_EQ(-1, KpLPRClient_Close(a));
    EXPECT_EQ(0, KpLPRClient_GetDateTime(a, &t)) << "a refused close keeps the session";
    EXPECT_EQ(0, KpLPRClient_Close(a));

    ASSERT_EQ(0, RuDAVADO_FailNext("KpLPRClient_Open", -1, 1));
    EXPECT_EQ(nullptr, open("192.168.1.100"));
    EXPECT_EQ(KPLPRC_ERR_DEVICE, KpLPRClient_GetLastError());
    EXPECT_EQ(-1, RuDAVADO_FailNext("KpLPRClient_Open", 999, 1));

    // Calls that concern no camera in particular fail the same way.
    auto ex = [](const char*, const char*, unsigned short, unsigned short, unsigned int, unsigned int,
                 const char*, const char*, void*) {};
    ASSERT_EQ(0, RuDAVADO_FailNext("KPLPRClient_StartFindDeviceEx", -1, 1));
    EXPECT_EQ(-1, KPLPRClient_StartFindDeviceEx(ex, nullptr));
    EXPECT_EQ(0, KPLPRClient_StartFindDeviceEx(ex, nullptr));
    EXPECT_EQ(0, KpLPRClient_StopFindDevice());
    ASSERT_EQ(0, RuDAVADO_FailNext("KPLPRClient_SetCommonNotifyCallBack", -1, 1));
    EXPECT_EQ(-1, KPLPRClient_SetCommonNotifyCallBack(&rdvtest::NotifyLog::callback, &notes_));

    const int play = KpLPRClient_StartRealPlay(b, nullptr);
    ASSERT_GE(play, 0);
    ASSERT_EQ(0, RuDAVADO_FailNext("KpLPRClient_StopRealPlay", -1, 1));
    EXPECT_EQ(-1, KpLPRClient_StopRealPlay(play));
    EXPECT_GE(RuDAVADO_PlayFrames(play), 0) << "a refused stop keeps the video running";
    EXPECT_EQ(0, KpLPRClient_StopRealPlay(play));
}

TEST_F(InterfaceTest, DefaultScenarioFileMatchesTheBuiltInNetwork) {
    const std::string file = rdvtest::readAll(rdvtest::sourceDir() + "/scenarios/default.json");
    ASSERT_FALSE(file.empty());
    EXPECT_EQ(std::string(RuDAVADO_DefaultScenarioText()) + "\n", file);
    ASSERT_EQ(0, RuDAVADO_LoadScenarioFile((rdvtest::sourceDir() + "/scenarios/default.json").c_str()));

    // About a dozen mixed cameras: plate and face, one on 8080, one with another password, one
    // offline, one older model answering only the basic search.
    const int n = RuDAVADO_CameraCount();
    EXPECT_GE(n, 10);
    int plate = 0, face = 0, port8080 = 0, other_password = 0, offline = 0, basic = 0;
    for (int i = 0; i < n; ++i) {
        RuDAVADO_CameraState s = state(i);
        (s.device_type == KPLPRC_DEVICE_FACE ? face : plate) += 1;
        port8080 += s.port == 8080;
        other_password += std::strcmp(s.password, rdvtest::kPassword) != 0;
        offline += s.state == RUDAVADO_STATE_OFFLINE;
        basic += s.extended_discovery == 0;
    }
    EXPECT_GT(plate, 0);
    EXPECT_GT(face, 0);
    EXPECT_EQ(1, port8080);
    EXPECT_EQ(1, other_password);
    EXPECT_EQ(1, offline);
    EXPECT_EQ(1, basic);
}

TEST_F(InterfaceTest, MalformedScenarioIsRefusedAndTheNetworkStays) {
    const int before = RuDAVADO_CameraCount();
    const char* bad[] = {
        "not json",
        "{\"cameras\": 5}",
        "{\"cameras\": [{\"model\": \"KP-LPR-V3\"}]}",
        "{\"cameras\": [{\"model\": \"NOPE\", \"ip\": \"10.0.0.1\"}]}",
        "{\"cameras\": [{\"model\": \"KP-LPR-V3\", \"ip\": \"10.0.0.256\"}]}",
        "{\"cameras\": [{\"model\": \"KP-LPR-V3\", \"ip\": \"10.0.0.1\"},"
        " {\"model\": \"KP-LPR-V3\", \"ip\": \"10.0.0.1\", \"serial_low\": 9}]}",
        "{\"timing\": {\"warp\": 1}, \"cameras\": []}",
        "{\"cameras\": [{\"model\": \"KP-LPR-V3\", \"ip\": \"10.0.0.1\","
        " \"params\": {\"图像参数\": {\"亮度\": 101}}}]}",
    };
    for (const char* text : bad) {
        EXPECT_EQ(-1, RuDAVADO_LoadScenarioText(text)) << text;
        EXPECT_STRNE("", RuDAVADO_LastLoadError()) << text;
    }
    EXPECT_EQ(before, RuDAVADO_CameraCount());
    // Missing, a folder, an endless device: refused at once, never read without end.
    for (const std::string& file :
         {std::string("/nonexistent/scenario.json"), dir_, std::string("/dev/zero")}) {
        EXPECT_EQ(-1, RuDAVADO_LoadScenarioFile(file.c_str())) << file;
        EXPECT_NE(std::string::npos, std::string(RuDAVADO_LastLoadError()).find(file)) << file;
    }
    EXPECT_EQ(before, RuDAVADO_CameraCount());

    ASSERT_EQ(
        0, RuDAVADO_LoadScenarioText("{\"timing\": {\"boot\": 5}, \"cameras\": [{\"model\": \"KP-LPR-V3\","
                                     " \"ip\": \"10.0.0.1\", \"params\": {\"图像参数\": {\"亮度\": 70}}}]}"));
    EXPECT_EQ(1, RuDAVADO_CameraCount());
    EXPECT_EQ(5, RuDAVADO_GetTiming("boot"));
    char value[16];
    ASSERT_EQ(0, RuDAVADO_GetParam(0, "图像参数", "亮度", value, sizeof value));
    EXPECT_STREQ("70", value);
}

TEST_F(InterfaceTest, GeneratedLoadScenarioHasAThousandDistinctCameras) {
#ifdef _WIN32
    GTEST_SKIP() << "runs the generator with the build machine's Python";
#endif
    const std::string file = path("big.json");
    ASSERT_EQ(0, rdvtest::run("/usr/bin/python3 '" + rdvtest::sourceDir() + "/tools/make_scenario.py' > '" +
                              file + "'"));
    ASSERT_EQ(0, RuDAVADO_LoadScenarioFile(file.c_str())) << RuDAVADO_LastLoadError();
    EXPECT_EQ(1000, RuDAVADO_CameraCount());
    EXPECT_EQ(999, RuDAVADO_FindCamera(state(999).ip));
}

}  // namespace

namespace {

// The network is built once per process, so the scenario named in the environment is checked
// in a child run of this same executable.
TEST(ScenarioEnvironment, ScenarioNamedInTheEnvironmentIsLoadedAtFirstUse) {
    if (const char* expected = std::getenv("RUDAVADO_TEST_EXPECT_CAMERAS")) {
        const bool error_expected = std::getenv("RUDAVADO_TEST_EXPECT_ERROR") != nullptr;
        if (std::getenv("RUDAVADO_TEST_SETUP_FIRST") != nullptr) {
            // Set-up reads the scenario on a thread of its own; what follows at once sees it
            // as if it had been read before set-up returned.
            ASSERT_EQ(0, KpLPRClient_Setup());
            EXPECT_EQ(error_expected,
                      std::string(RuDAVADO_LastLoadError()).find("RUDAVADO_SCENARIO") != std::string::npos)
                << RuDAVADO_LastLoadError();
            KPLPRC_HANDLE h =
                KpLPRClient_Open(error_expected ? "192.168.1.100" : "10.0.0.2", 80, "admin", "tolvi");
            EXPECT_NE(nullptr, h) << KpLPRClient_GetLastError();
            if (h != nullptr) {
                EXPECT_EQ(0, KpLPRClient_Close(h));
            }
        }
        ASSERT_EQ(std::atoi(expected), RuDAVADO_CameraCount());
        // A scenario that could not be used says so through the load error.
        EXPECT_EQ(error_expected,
                  std::string(RuDAVADO_LastLoadError()).find("RUDAVADO_SCENARIO") != std::string::npos)
            << RuDAVADO_LastLoadError();
        if (std::getenv("RUDAVADO_TEST_SETUP_FIRST") != nullptr) {
            EXPECT_EQ(0, KpLPRClient_Cleanup());
        }
        return;
    }
#ifdef _WIN32
    GTEST_SKIP() << "re-runs itself through /proc and a POSIX shell";
#else
    char dir[] = "/tmp/rudavado_env_XXXXXX";
    ASSERT_NE(nullptr, mkdtemp(dir));
    const std::string good = std::string(dir) + "/three.json";
    const std::string broken = std::string(dir) + "/broken.json";
    rdvtest::writeAll(good,
                      "{\"cameras\": [{\"model\": \"KP-LPR-V3\", \"ip\": \"10.0.0.2\"},"
                      " {\"model\": \"KP-LPR-V1\", \"ip\": \"10.0.0.3\"},"
                      " {\"model\": \"KP-FACE-F2\", \"ip\": \"10.0.0.4\"}]}");
    rdvtest::writeAll(broken, "{\"cameras\": [");
    const std::string errors = std::string(dir) + "/stderr.txt";
    // The time-out only ends a child that hangs reading the scenario.
    const std::string self = "timeout 120 /proc/" + std::to_string(getpid()) +
                             "/exe --gtest_filter=ScenarioEnvironment.* > /dev/null 2> '" + errors + "'";
    for (const std::string setup_first : {"", "RUDAVADO_TEST_SETUP_FIRST=1 "}) {
        EXPECT_EQ(0, rdvtest::run(setup_first + "RUDAVADO_TEST_EXPECT_CAMERAS=3 RUDAVADO_SCENARIO='" + good +
                                  "' " + self));
        EXPECT_EQ(std::string::npos, rdvtest::readAll(errors).find("RUDAVADO_SCENARIO"));
        // A broken, missing or endless file leaves the built-in network rather than none, and
        // says so on standard error.
        for (const std::string& bad :
             {broken, std::string(dir) + "/missing.json", std::string("/dev/zero")}) {
            EXPECT_EQ(0, rdvtest::run(setup_first +
                                      "RUDAVADO_TEST_EXPECT_CAMERAS=12 RUDAVADO_TEST_EXPECT_ERROR=1 "
                                      "RUDAVADO_SCENARIO='" +
                                      bad + "' " + self))
                << setup_first << bad;
            EXPECT_NE(std::string::npos, rdvtest::readAll(errors).find("RUDAVADO_SCENARIO " + bad)) << bad;
        }
    }
    EXPECT_NE(0, rdvtest::run("RUDAVADO_TEST_EXPECT_CAMERAS=4 RUDAVADO_SCENARIO='" + good + "' " + self))
        << "the child run must be able to fail";
    rdvtest::run(std::string("rm -rf '") + dir + "'");
#endif
}

}  // namespace
