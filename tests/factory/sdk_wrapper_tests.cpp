// The SDK wrapper against the simulated cameras: guard, session handling, texts and log lines.
#include <gtest/gtest.h>

#include <memory>
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

// Every operation that needs a session, on a wrapper that never had one.
void ExpectGuardedCallsFail(factory::sdkbase& sdk) {
    std::string text = "untouched";
    KPLPRC_DATETIME time = {};
    KPLPRC_NET_CONFIG netcfg = {};
    EXPECT_FALSE(sdk.SDK_Close());
    EXPECT_FALSE(sdk.SDK_GetSerialNumber(text));
    EXPECT_FALSE(sdk.SDK_GetHwInfo(text, text));
    EXPECT_FALSE(sdk.SDK_GetHwBoardVersion(0));
    EXPECT_FALSE(sdk.SDK_GetRemoteSoftWareVersion(text));
    EXPECT_FALSE(sdk.SDK_GetSystemVersion(text));
    EXPECT_FALSE(sdk.SDK_GetHardwareType(text));
    EXPECT_FALSE(sdk.SDK_GetNetConfig(&netcfg));
    EXPECT_FALSE(sdk.SDK_Restore(factory::SDK_RESTORE_PART));
    EXPECT_FALSE(sdk.SDK_RebootDevice());
    EXPECT_FALSE(sdk.SDK_GetDeviceTime(&time));
    EXPECT_FALSE(sdk.SDK_SetDeviceTime(&time));
    EXPECT_FALSE(sdk.SDK_SendValues(0, 1));
    EXPECT_EQ(KPLPRC_FIALURE, sdk.SDK_StartRealPlay(nullptr));
    EXPECT_FALSE(sdk.SDK_StopRealPlay(KPLPRC_FIALURE));
    EXPECT_FALSE(sdk.SDK_GetParamImportAbility(nullptr));
    EXPECT_FALSE(sdk.SDK_ParaExportV2(nullptr, "x.cfg"));
    EXPECT_FALSE(sdk.SDK_ParaImportV2("x.cfg"));
    EXPECT_FALSE(sdk.SDK_Update("x.bin"));
    EXPECT_FALSE(sdk.SDK_StopUpdate());
    EXPECT_EQ(0, sdk.SDK_GetUpdateState());
    EXPECT_EQ(-1, sdk.SDK_GetUpdateProgress());
    EXPECT_FALSE(sdk.SDK_SetLoginAccount("new"));
    EXPECT_FALSE(sdk.SDK_UploadLogo("logo.png"));
    EXPECT_FALSE(sdk.SDK_UploadBg("bg.png"));
    EXPECT_FALSE(sdk.SDK_UploadCss("style.css"));
    EXPECT_EQ("untouched", text);
    EXPECT_EQ(nullptr, sdk.SDK_GetHandle());
}

}  // namespace

TEST_F(SdkWrapperTest, GuardedCallsOnNeverOpenedWrapperFailWithoutLogLine) {
    LogCapture log;
    factory::sdkplate plate;
    factory::sdkface face;
    ExpectGuardedCallsFail(plate);
    ExpectGuardedCallsFail(face);
    EXPECT_EQ(0, plate.SDK_GetDeviceType());
    EXPECT_EQ(1, face.SDK_GetDeviceType());
    // No callback is ever installed; invoking it must not throw.
    EXPECT_EQ(0, plate.SDK_InvokeCallback());
    EXPECT_TRUE(log.lines().empty()) << log.lines().front();
}

TEST_F(SdkWrapperTest, OpenCloseAndReopenKeepOneSession) {
    int cam = CameraNumber(kPlateIp);
    factory::sdkplate sdk;
    ASSERT_TRUE(sdk.SDK_Open(kPlateIp, 80, kUser, kPassword));
    KPLPRC_HANDLE first = sdk.SDK_GetHandle();
    ASSERT_NE(nullptr, first);
    EXPECT_EQ(1, CameraState(cam).sessions);

    // A second open logs the first session out before logging in again.
    ASSERT_TRUE(sdk.SDK_Open(kPlateIp, 80, kUser, kPassword));
    EXPECT_NE(first, sdk.SDK_GetHandle());
    EXPECT_EQ(1, CameraState(cam).sessions);

    LogCapture log;
    EXPECT_TRUE(sdk.SDK_Close());
    EXPECT_EQ(nullptr, sdk.SDK_GetHandle());
    EXPECT_EQ(0, CameraState(cam).sessions);
    ASSERT_EQ(1u, log.lines().size());
    EXPECT_EQ("KpLPRClient_Close OK", log.lines()[0].substr(log.lines()[0].find("): ") + 3));
}

TEST_F(SdkWrapperTest, RefusedOpenAndCloseAreLoggedAndKeepTheState) {
    factory::sdkplate sdk;
    {
        LogCapture log;
        EXPECT_FALSE(sdk.SDK_Open(kOtherPasswordIp, 80, kUser, kPassword));
        EXPECT_EQ(nullptr, sdk.SDK_GetHandle());
        ASSERT_EQ(1u, log.lines().size());
        EXPECT_EQ(0u, log.lines()[0].find("(sdkbase.cpp:"));
        EXPECT_NE(std::string::npos, log.lines()[0].find("): KpLPRClient_Open false: 0"));
    }

    int cam = CameraNumber(kPlateIp);
    ASSERT_TRUE(sdk.SDK_Open(kPlateIp, 80, kUser, kPassword));
    KPLPRC_HANDLE handle = sdk.SDK_GetHandle();
    {
        LogCapture log;
        ASSERT_EQ(0, RuDAVADO_FailNext("KpLPRClient_Close", cam, 1));
        EXPECT_FALSE(sdk.SDK_Close());
        EXPECT_EQ(handle, sdk.SDK_GetHandle());
        EXPECT_EQ(1u, log.matching("KpLPRClient_Close false: -1").size());

        // A reopen whose close of the old session fails keeps the old handle.
        ASSERT_EQ(0, RuDAVADO_FailNext("KpLPRClient_Close", cam, 1));
        EXPECT_FALSE(sdk.SDK_Open(kPlateIp, 80, kUser, kPassword));
        EXPECT_EQ(handle, sdk.SDK_GetHandle());
    }
    EXPECT_TRUE(sdk.SDK_Close());
}

TEST_F(SdkWrapperTest, InformationTexts) {
    // Serial words 0x1A2B / 0xFF print as lower-case hexadecimal without padding.
    ASSERT_EQ(0, RuDAVADO_LoadScenarioText(
                     "{\"cameras\": [{\"model\": \"KP-LPR-V3\", \"ip\": \"10.1.0.5\", \"serial_high\": 6699,"
                     " \"serial_low\": 255, \"firmware\": \"3.2.1.15\"}]}"))
        << RuDAVADO_LastLoadError();
    factory::sdkplate sdk;
    ASSERT_TRUE(sdk.SDK_Open("10.1.0.5", 80, kUser, kPassword));
    std::string serial;
    ASSERT_TRUE(sdk.SDK_GetSerialNumber(serial));
    EXPECT_EQ("1a2b-ff", serial);

    std::string version;
    ASSERT_TRUE(sdk.SDK_GetRemoteSoftWareVersion(version));
    EXPECT_EQ("3.2.1.15", version);

    RuDAVADO_CameraState state = CameraState(0);
    std::string mac, hw_serial;
    ASSERT_TRUE(sdk.SDK_GetHwInfo(mac, hw_serial));
    EXPECT_EQ(state.mac, mac);
    EXPECT_EQ("00001a2b-000000ff", hw_serial);

    std::string type;
    ASSERT_TRUE(sdk.SDK_GetHardwareType(type));
    EXPECT_EQ(factory::kHardwareTypes[state.hardware_index], type);

    KPLPRC_NET_CONFIG netcfg = {};
    ASSERT_TRUE(sdk.SDK_GetNetConfig(&netcfg));
    EXPECT_STREQ(state.netmask, netcfg.netmask);
    EXPECT_STREQ(state.gateway, netcfg.gateway);
    EXPECT_FALSE(sdk.SDK_GetNetConfig(nullptr));
    EXPECT_TRUE(sdk.SDK_Close());
}

TEST_F(SdkWrapperTest, HardwareTableEdges) {
    EXPECT_STREQ(factory::kHardwareTypes[0], factory::HardwareTypeName(0));
    EXPECT_STREQ(factory::kHardwareTypes[14], factory::HardwareTypeName(14));
    EXPECT_STREQ("UNKOWN HARDWARE", factory::HardwareTypeName(15));
    EXPECT_STREQ("UNKOWN HARDWARE", factory::HardwareTypeName(255));
    for (int i = 0; i < factory::kHardwareTypeCount; ++i) {
        EXPECT_GT(std::string(factory::kHardwareTypes[i]).size(), 0u) << i;
    }
}

TEST_F(SdkWrapperTest, RestoreOutOfRangeMakesNoCall) {
    int cam = CameraNumber(kPlateIp);
    factory::sdkplate sdk;
    ASSERT_TRUE(sdk.SDK_Open(kPlateIp, 80, kUser, kPassword));
    int boots = CameraState(cam).boots;
    EXPECT_FALSE(sdk.SDK_Restore(factory::SDK_RESTORE_MAX));
    EXPECT_FALSE(sdk.SDK_Restore(static_cast<unsigned int>(-1)));
    RuDAVADO_CameraState state = CameraState(cam);
    EXPECT_EQ(boots, state.boots);
    EXPECT_EQ(RUDAVADO_STATE_ONLINE, state.state);
    EXPECT_TRUE(sdk.SDK_Close());
}

TEST_F(SdkWrapperTest, PlateWrapperRefusesUploadsWithoutCall) {
    // A face camera behind a plate wrapper: the camera would accept the files.
    TempDir dir;
    std::string png = dir.write("logo.png", PngImage());
    int cam = CameraNumber(kFaceIp);
    factory::sdkplate sdk;
    ASSERT_TRUE(sdk.SDK_Open(kFaceIp, 80, kUser, kPassword));
    LogCapture log;
    EXPECT_FALSE(sdk.SDK_UploadLogo(png));
    EXPECT_FALSE(sdk.SDK_UploadBg(png));
    EXPECT_FALSE(sdk.SDK_UploadCss(dir.write("style.css", "body {}")));
    EXPECT_TRUE(log.lines().empty());
    EXPECT_EQ(0, CameraState(cam).uploads);
    EXPECT_TRUE(sdk.SDK_Close());
}

TEST_F(SdkWrapperTest, FaceUploadsLogPathAndRefusal) {
    TempDir dir;
    std::string png = dir.write("logo.png", PngImage());
    std::string not_png = dir.write("bg.png", "plain text, not an image");
    int cam = CameraNumber(kFaceIp);
    factory::sdkface sdk;
    ASSERT_TRUE(sdk.SDK_Open(kFaceIp, 80, kUser, kPassword));
    LogCapture log;
    EXPECT_TRUE(sdk.SDK_UploadLogo(png));
    EXPECT_EQ(1, CameraState(cam).uploads);
    EXPECT_FALSE(sdk.SDK_UploadBg(not_png));
    EXPECT_EQ(1u, log.matching("SDK_UploadLogo : " + png).size());
    EXPECT_EQ(1u, log.matching("SDK_UploadBg : " + not_png).size());
    EXPECT_EQ(1u, log.matching("KpLPRClient_FaceUploadBg false: -1").size());
    EXPECT_TRUE(log.matching("FaceUploadLogo false").empty());
    EXPECT_TRUE(sdk.SDK_Close());
}

TEST_F(SdkWrapperTest, ExportLogsBeginAndEndAsInformation) {
    TempDir dir;
    factory::sdkplate sdk;
    ASSERT_TRUE(sdk.SDK_Open(kPlateIp, 80, kUser, kPassword));
    auto ability = std::make_unique<KP_PARAM_IMPORT_ABILITY_V2>();
    ASSERT_TRUE(sdk.SDK_GetParamImportAbility(ability.get()));
    EXPECT_GT(ability->group_count, 0);
    std::string cfg = dir.path("out.cfg");
    LogCapture log;
    ASSERT_TRUE(sdk.SDK_ParaExportV2(ability.get(), cfg));
    // Information lines carry no source position.
    std::vector<std::string> lines = log.lines();
    ASSERT_EQ(2u, lines.size());
    EXPECT_EQ("SDK_ParaExportV2 begin " + cfg, lines[0]);
    EXPECT_EQ("SDK_ParaExportV2 end", lines[1]);
    EXPECT_TRUE(sdk.SDK_Close());
}

namespace {
void IgnoreNotify(KPLPRC_HANDLE, void*, KP_LPRC_COMMON_NOTIFY, int) {}
void IgnoreFound(const char*, const char*, unsigned short, unsigned short, unsigned int, unsigned int, const char*,
                 const char*, void*) {}
}  // namespace

TEST_F(SdkWrapperTest, FreeFunctionsLogRefusals) {
    LogCapture log;
    EXPECT_TRUE(factory::SDK_SetCommonNotifyCallBack(IgnoreNotify, nullptr));
    EXPECT_TRUE(factory::SDK_SetCommonNotifyCallBack(nullptr, nullptr));
    EXPECT_TRUE(log.lines().empty());

    // Without the library set up, registrations are refused.
    KpLPRClient_Cleanup();
    EXPECT_FALSE(factory::SDK_SetCommonNotifyCallBack(IgnoreNotify, nullptr));
    EXPECT_FALSE(factory::SDK_StartFindDeviceEx(IgnoreFound, nullptr));
    KpLPRClient_Setup();
    EXPECT_EQ(1u, log.matching("): KPLPRClient_SetCommonNotifyCallBack false: -1").size());
    EXPECT_EQ(1u, log.matching("): KPLPRClient_StartFindDeviceEx false: -1").size());
}
