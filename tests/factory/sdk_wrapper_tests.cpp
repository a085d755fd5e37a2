// The SDK wrapper on simulated cameras: the guard, the session's life and the texts it builds.
#include <gtest/gtest.h>

#include <string>

#include "factory_test_support.h"
#include "sdkface.h"
#include "sdkplate.h"

using namespace factory_test;

namespace {

class SdkWrapperTest : public ::testing::Test {
protected:
    void SetUp() override { LoadDefaultNetwork(); }
    void TearDown() override { RuDAVADO_ClearFaults(); }
};

}  // namespace

TEST_F(SdkWrapperTest, GuardedCallsOnNeverOpenedWrapperFailWithoutLogLine) {
    LogCapture log;
    factory::sdkplate plate;
    factory::sdkface face;
    for (factory::sdkbase* sdk :
         {static_cast<factory::sdkbase*>(&plate), static_cast<factory::sdkbase*>(&face)}) {
        std::string text = "untouched";
        KPLPRC_DATETIME time = {};
        KPLPRC_NET_CONFIG netcfg = {};
        EXPECT_FALSE(sdk->SDK_Close());
        EXPECT_FALSE(sdk->SDK_GetSerialNumber(text));
        EXPECT_FALSE(sdk->SDK_GetHwInfo(text, text));
        EXPECT_FALSE(sdk->SDK_GetHwBoardVersion(0));
        EXPECT_FALSE(sdk->SDK_GetRemoteSoftWareVersion(text));
        EXPECT_FALSE(sdk->SDK_GetSystemVersion(text));
        EXPECT_FALSE(sdk->SDK_GetHardwareType(text));
        EXPECT_FALSE(sdk->SDK_GetNetConfig(&netcfg));
        EXPECT_FALSE(sdk->SDK_Restore(factory::SDK_RESTORE_PART));
        EXPECT_FALSE(sdk->SDK_RebootDevice());
        EXPECT_FALSE(sdk->SDK_GetDeviceTime(&time));
        EXPECT_FALSE(sdk->SDK_SetDeviceTime(&time));
        EXPECT_FALSE(sdk->SDK_SendValues(0, 1));
        EXPECT_EQ(KPLPRC_FIALURE, sdk->SDK_StartRealPlay(nullptr));
        EXPECT_FALSE(sdk->SDK_StopRealPlay(KPLPRC_FIALURE));
        EXPECT_FALSE(sdk->SDK_GetParamImportAbility(nullptr));
        EXPECT_FALSE(sdk->SDK_ParaExportV2(nullptr, "x.cfg"));
        EXPECT_FALSE(sdk->SDK_ParaImportV2("x.cfg"));
        EXPECT_FALSE(sdk->SDK_Update("x.bin"));
        EXPECT_FALSE(sdk->SDK_StopUpdate());
        EXPECT_EQ(0, sdk->SDK_GetUpdateState());
        EXPECT_EQ(-1, sdk->SDK_GetUpdateProgress());
        EXPECT_FALSE(sdk->SDK_SetLoginAccount("new"));
        EXPECT_FALSE(sdk->SDK_UploadLogo("logo.png"));
        EXPECT_FALSE(sdk->SDK_UploadCss("style.css"));
        EXPECT_EQ("untouched", text);
        // Nothing installs the callback; invoking it must not throw.
        EXPECT_EQ(0, sdk->SDK_InvokeCallback());
    }
    EXPECT_EQ(0, plate.SDK_GetDeviceType());
    EXPECT_EQ(1, face.SDK_GetDeviceType());
    EXPECT_TRUE(log.lines().empty()) << log.lines().front();
}

TEST_F(SdkWrapperTest, SessionLifecycle) {
    int cam = CameraNumber(kPlateIp);
    factory::sdkplate sdk;
    LogCapture log;
    EXPECT_FALSE(sdk.SDK_Open(kOtherPasswordIp, 80, kUser, kPassword));
    EXPECT_EQ(nullptr, sdk.SDK_GetHandle());
    ASSERT_EQ(1u, log.lines().size());
    EXPECT_EQ(0u, log.lines()[0].find("(sdkbase.cpp:"));
    EXPECT_EQ((std::vector<std::string>{"KpLPRClient_Open false: 0"}), log.matching("Open false"));

    // A second open logs the first session out before logging in again.
    ASSERT_TRUE(sdk.SDK_Open(kPlateIp, 80, kUser, kPassword));
    KPLPRC_HANDLE first = sdk.SDK_GetHandle();
    ASSERT_TRUE(sdk.SDK_Open(kPlateIp, 80, kUser, kPassword));
    EXPECT_NE(first, sdk.SDK_GetHandle());
    EXPECT_EQ(1, CameraState(cam).sessions);

    // A refused close keeps the handle, also when a reopen needed it.
    KPLPRC_HANDLE handle = sdk.SDK_GetHandle();
    ASSERT_EQ(0, RuDAVADO_FailNext("KpLPRClient_Close", cam, 2));
    EXPECT_FALSE(sdk.SDK_Close());
    EXPECT_FALSE(sdk.SDK_Open(kPlateIp, 80, kUser, kPassword));
    EXPECT_EQ(handle, sdk.SDK_GetHandle());
    EXPECT_EQ(2u, log.matching("KpLPRClient_Close false: -1").size());

    EXPECT_TRUE(sdk.SDK_Close());
    EXPECT_EQ(nullptr, sdk.SDK_GetHandle());
    EXPECT_EQ(0, CameraState(cam).sessions);
    EXPECT_EQ((std::vector<std::string>{"KpLPRClient_Close OK"}), log.matching("Close OK"));
}

TEST_F(SdkWrapperTest, SerialAndHardwareTexts) {
    // Serial words 0x1A2B and 0xFF.
    ASSERT_EQ(0, RuDAVADO_LoadScenarioText("{\"cameras\": [{\"model\": \"KP-LPR-V3\", \"ip\": \"10.1.0.5\","
                                           " \"serial_high\": 6699, \"serial_low\": 255}]}"));
    factory::sdkplate sdk;
    ASSERT_TRUE(sdk.SDK_Open("10.1.0.5", 80, kUser, kPassword));
    std::string serial, type;
    ASSERT_TRUE(sdk.SDK_GetSerialNumber(serial));
    EXPECT_EQ("1a2b-ff", serial);
    ASSERT_TRUE(sdk.SDK_GetHardwareType(type));
    EXPECT_EQ(factory::kHardwareTypes[CameraState(0).hardware_index], type);
    EXPECT_TRUE(sdk.SDK_Close());

    // The simulated families stop short of the table's edges, so those go through the lookup.
    EXPECT_STREQ(factory::kHardwareTypes[14], factory::HardwareTypeName(14));
    EXPECT_STREQ("UNKOWN HARDWARE", factory::HardwareTypeName(15));
    EXPECT_STREQ("UNKOWN HARDWARE", factory::HardwareTypeName(255));
}

TEST_F(SdkWrapperTest, OutOfRangeRestoreAndPlateUploadsMakeNoCall) {
    TempDir dir;
    std::string png = dir.write("logo.png", PngImage());
    // A face camera behind a plate wrapper would accept the files, were they sent.
    int cam = CameraNumber(kFaceIp);
    factory::sdkplate sdk;
    ASSERT_TRUE(sdk.SDK_Open(kFaceIp, 80, kUser, kPassword));
    LogCapture log;
    EXPECT_FALSE(sdk.SDK_Restore(factory::SDK_RESTORE_MAX));
    EXPECT_FALSE(sdk.SDK_UploadLogo(png));
    EXPECT_FALSE(sdk.SDK_UploadBg(png));
    EXPECT_TRUE(log.lines().empty());
    RuDAVADO_CameraState state = CameraState(cam);
    EXPECT_EQ(RUDAVADO_STATE_ONLINE, state.state);
    EXPECT_EQ(0, state.uploads);
    EXPECT_TRUE(sdk.SDK_Close());
}
