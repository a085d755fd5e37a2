// The commands in-process against the simulated network: final texts, exit status, the report,
// what each operation does to the cameras, and that bad arguments touch nothing.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <nlohmann/json.hpp>
#include <regex>
#include <thread>

#include "cli_test_support.h"
#include "databasemanager.h"
#include "report_rows.h"

namespace {

using cli_test::Lines;
// Not "Run": the fixture inherits one from testing::Test.
cli_test::Result Cli(const std::vector<std::string>& args,
                     const std::map<std::string, std::string>& env = {}) {
    return cli_test::Run(args, env);
}
using factory_test::CameraNumber;
using factory_test::CameraState;
using factory_test::kPassword;

const std::map<std::string, std::string> kEnv = {{"KP_PW", kPassword}, {"KP_NEW", "s3cret-new"}};

bool Contains(const std::vector<std::string>& lines, const std::string& line) {
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

std::string FileText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool WaitFor(const std::function<bool()>& done) {
    for (int i = 0; i < 2000 && !done(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    return done();
}

class CliCommands : public ::testing::Test {
protected:
    void SetUp() override { factory_test::LoadDefaultNetwork(); }
    void TearDown() override { RuDAVADO_ClearFaults(); }
    cli_test::InTempFolder folder_;
};

TEST_F(CliCommands, RebootShowsTheRowTextsRunsDuplicatesOnceAndFailsWhenAnyCameraFails) {
    const cli_test::Result result =
        Cli({"run", "reboot", "--targets", "192.168.1.100,192.168.1.104,192.168.1.100", "--password-env",
             "KP_PW"},
            kEnv);
    EXPECT_EQ(1, result.status) << result.out << result.err;
    const std::vector<std::string> lines = Lines(result.out);
    EXPECT_TRUE(Contains(lines, "192.168.1.100 开始重启设备")) << result.out;
    EXPECT_TRUE(Contains(lines, "192.168.1.100 设置成功")) << result.out;
    EXPECT_TRUE(Contains(lines, "192.168.1.104 设置失败 (设备无应答)")) << result.out;
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ("1 succeeded, 1 failed", lines[lines.size() - 2]);
    const std::string prefix = "report: reports/reboot_";
    ASSERT_EQ(0u, lines.back().rfind(prefix, 0)) << lines.back();
    EXPECT_TRUE(std::filesystem::exists(lines.back().substr(8)));
    // Rebooted once: the restart counts when the camera is back.
    ASSERT_TRUE(WaitFor([] { return CameraState(CameraNumber("192.168.1.100")).boots > 0; }));
    EXPECT_EQ(1, CameraState(CameraNumber("192.168.1.100")).boots);
}

TEST_F(CliCommands, AnInjectedFailureGivesStatusOneAndTheOtherCamerasStillSucceed) {
    ASSERT_EQ(0, RuDAVADO_FailNext("KpLPRClient_SetDateTime", CameraNumber("192.168.1.100"), 1));
    const cli_test::Result failed =
        Cli({"run", "time", "--targets", "192.168.1.100-101", "--password-env", "KP_PW", "--parallel", "1"},
            kEnv);
    EXPECT_EQ(1, failed.status);
    EXPECT_TRUE(Contains(Lines(failed.out), "192.168.1.100 设置失败 (时间设置失败)")) << failed.out;
    EXPECT_TRUE(Contains(Lines(failed.out), "192.168.1.101 设置成功")) << failed.out;

    const cli_test::Result again =
        Cli({"run", "time", "--targets", "192.168.1.100-101", "--password-env", "KP_PW"}, kEnv);
    EXPECT_EQ(0, again.status) << again.out;
    EXPECT_TRUE(Contains(Lines(again.out), "2 succeeded, 0 failed")) << again.out;
}

TEST_F(CliCommands, BadArgumentsAndPathsExitTwoWithTheUsageAndTouchNothing) {
    factory_test::TempDir files;
    const std::string folder = files.path("");
    const std::string file = files.write("plain.txt", "192.168.1.100\n");
    const std::string open_password = files.write("open-password", std::string(kPassword) + "\n");
    std::filesystem::permissions(open_password, std::filesystem::perms::group_read |
                                                    std::filesystem::perms::owner_read |
                                                    std::filesystem::perms::owner_write);
    const std::string locked = files.path("locked");
    std::filesystem::create_directory(locked);
    std::filesystem::permissions(locked,
                                 std::filesystem::perms::owner_read | std::filesystem::perms::owner_exec);
    const bool root = geteuid() == 0;  // root writes anywhere
    struct Case {
        std::vector<std::string> args;
        std::string error;
    };
    const std::vector<Case> bad = {
        {{"run", "reboot", "--targets", "192.168.1.100"}, "is not stored"},  // no password
        {{"run", "reboot", "--targets", "192.168.1.100,192.168.1.999", "--password", kPassword},
         "192.168.1.999"},
        {{"run", "upgrade", "--targets", "192.168.1.100", "--password", kPassword, "--file",
          files.path("none.bin")},
         "--file: cannot read"},
        {{"run", "upgrade", "--targets", "192.168.1.100", "--password", kPassword, "--file", folder},
         "is a folder, not a file"},
        {{"run", "import", "--targets", "192.168.1.100", "--password", kPassword, "--file", folder},
         "is a folder, not a file"},
        {{"run", "upload", "--targets", "192.168.1.110", "--password", kPassword, "--logo", file, "--css",
          files.path("none.css")},
         "--css: cannot read"},
        {{"run", "export-config", "--targets", "192.168.1.100", "--password", kPassword, "--out", file},
         "--out: \"" + file + "\" is not a folder"},
        {{"run", "reboot", "--targets", "192.168.1.100", "--password", kPassword, "--reports", file},
         "--reports: \"" + file + "\" is not a folder"},
        {{"run", "reboot", "--targets", "192.168.1.100", "--password", kPassword, "--reports", file + "/sub"},
         "is not a folder"},
        {{"run", "reboot", "--targets", "192.168.1.100", "--password", kPassword, "--reports",
          root ? file : locked + "/reports"},
         root ? "is not a folder" : "--reports: cannot write in"},
        {{"run", "reboot", "--targets", "192.168.1.100", "--password-file", open_password}, "owner only"},
        {{"run", "reboot", "--targets", "192.168.1.100", "--password-file", folder}, "is a folder"},
        {{"run", "reboot", "--targets", "@file:-", "--password-stdin"}, "both read standard input"},
        {{"run", "network", "--targets", "192.168.1.100-101", "--password", kPassword, "--ip",
          "255.255.255.255", "--mask", "255.255.255.0", "--gateway", "192.168.1.1"},
         "leaves no address"},
        {{"run", "reboot", "--targets", "@file:" + files.path("none.txt"), "--password", kPassword},
         "cannot read the target file"},
        {{"run", "reboot", "--targets", "@file:" + folder, "--password", kPassword},
         "cannot read the target file"},
        {{"run", "reboot", "--targets", "@stored"}, "names no camera"},  // no stored list here
        {{"run", "reboot", "--targets", "192.168.1.100", "--password", kPassword, "--parallel", "-2"},
         "--parallel needs"},
    };
    for (const Case& c : bad) {
        const cli_test::Result result = Cli(c.args, kEnv);
        EXPECT_EQ(2, result.status) << c.error << result.out;
        EXPECT_EQ("", result.out);
        EXPECT_NE(std::string::npos, result.err.find(c.error)) << result.err;
        EXPECT_NE(std::string::npos, result.err.find("usage: kpdevicetool-cli run")) << result.err;
        EXPECT_EQ(std::string::npos, result.err.find(kPassword)) << result.err;
    }
    for (const char* ip : {"192.168.1.100", "192.168.1.110"}) {
        EXPECT_EQ(0, CameraState(CameraNumber(ip)).boots);
        EXPECT_EQ(0, CameraState(CameraNumber(ip)).sessions);
    }
    EXPECT_FALSE(std::filesystem::exists("reports"));
    EXPECT_FALSE(std::filesystem::exists(locked + "/reports"));
}

TEST_F(CliCommands, NetworkGivesConsecutiveAddressesInTargetOrderAcrossDot255) {
    factory_test::LoadNetwork(3, factory_test::kPlateFamily);  // 10.0.0.1-3, mask 255.255.0.0
    const cli_test::Result result =
        Cli({"run", "network", "--targets", "10.0.0.3,10.0.0.1-2", "--ip", "10.0.5.254", "--mask",
             "255.255.0.0", "--gateway", "10.0.255.254", "--password", kPassword},
            kEnv);
    EXPECT_EQ(0, result.status) << result.out << result.err;
    EXPECT_STREQ("10.0.5.254", CameraState(2).ip);
    EXPECT_STREQ("10.0.5.255", CameraState(0).ip);
    EXPECT_STREQ("10.0.6.0", CameraState(1).ip);
    EXPECT_TRUE(Contains(Lines(result.out), "10.0.0.1 设置成功, verified")) << result.out;
}

TEST_F(CliCommands, UpgradeIsCheckedAgainstThePackageAndADamagedOneFails) {
    factory_test::TempDir files;
    const std::string good = files.write("good.bin", factory_test::FirmwarePackage("KP-LPR-V3", "3.3.0.1"));
    const std::string damaged =
        files.write("bad.bin", factory_test::FirmwarePackage("KP-LPR-V3", "3.3.0.2", true));

    const cli_test::Result ok = Cli(
        {"run", "upgrade", "--targets", "192.168.1.100", "--password-env", "KP_PW", "--file", good}, kEnv);
    EXPECT_EQ(0, ok.status) << ok.out << ok.err;
    EXPECT_TRUE(Contains(Lines(ok.out), "192.168.1.100 升级成功, verified")) << ok.out;
    EXPECT_STREQ("3.3.0.1", CameraState(CameraNumber("192.168.1.100")).firmware);

    const cli_test::Result bad = Cli(
        {"run", "upgrade", "--targets", "192.168.1.101", "--password-env", "KP_PW", "--file", damaged}, kEnv);
    EXPECT_EQ(1, bad.status) << bad.out;
    EXPECT_NE(std::string::npos, bad.out.find("192.168.1.101 升级失败")) << bad.out;
}

TEST_F(CliCommands, EachSettingOperationReachesTheCameraAndNoPasswordIsPrintedOrReported) {
    factory_test::TempDir files;
    // One camera per operation: an import or a restore restarts the camera.
    const std::string plate = "192.168.1.100";
    const std::string face = "192.168.1.110";

    const cli_test::Result exported = Cli(
        {"run", "export-config", "--targets", plate, "--password-env", "KP_PW", "--out", files.path("cfg")},
        kEnv);
    EXPECT_EQ(0, exported.status) << exported.out << exported.err;
    std::string cfg;
    for (const auto& entry : std::filesystem::directory_iterator(files.path("cfg")))
        cfg = entry.path().string();
    EXPECT_TRUE(std::regex_search(cfg, std::regex("/192\\.168\\.1\\.100_[0-9]{14}\\.cfg$"))) << cfg;
    EXPECT_TRUE(Contains(Lines(exported.out), plate + " 导出成功")) << exported.out;

    const cli_test::Result imported =
        Cli({"run", "import", "--targets", plate, "--password-env", "KP_PW", "--file", cfg}, kEnv);
    EXPECT_EQ(0, imported.status) << imported.out;

    const cli_test::Result uploaded = Cli({"run", "upload", "--targets", face, "--password-env", "KP_PW",
                                           "--logo", files.write("l.png", factory_test::PngImage())},
                                          kEnv);
    EXPECT_EQ(0, uploaded.status) << uploaded.out;
    EXPECT_EQ(1, CameraState(CameraNumber(face)).uploads);

    const cli_test::Result restored =
        Cli({"run", "restore", "--targets", "192.168.1.106", "--password-env", "KP_PW", "--partial"}, kEnv);
    EXPECT_EQ(0, restored.status) << restored.out;

    const cli_test::Result changed = Cli({"run", "password", "--targets", "192.168.1.101", "--password-env",
                                          "KP_PW", "--new-password-env", "KP_NEW"},
                                         kEnv);
    EXPECT_EQ(0, changed.status) << changed.out;
    EXPECT_STREQ("s3cret-new", CameraState(CameraNumber("192.168.1.101")).password);

    for (const cli_test::Result* result : {&exported, &imported, &uploaded, &restored, &changed}) {
        EXPECT_EQ(std::string::npos, (result->out + result->err).find("s3cret-new"));
        const std::string report = Lines(result->out).back().substr(8);
        const std::string bytes = FileText(report);
        EXPECT_FALSE(bytes.empty()) << report;
        EXPECT_EQ(std::string::npos, bytes.find("s3cret-new")) << report;
        EXPECT_EQ(std::string::npos, bytes.find("KP_PW")) << report;
    }
}

TEST_F(CliCommands, DiscoverListsAnsweringCamerasAsJsonAndCsv) {
    const cli_test::Result json = Cli({"discover", "--seconds", "100", "--json"});
    ASSERT_EQ(0, json.status) << json.err;
    const nlohmann::json cameras = nlohmann::json::parse(json.out);
    std::map<std::string, nlohmann::json> by_ip;
    for (const auto& camera : cameras) by_ip[camera["ip"].get<std::string>()] = camera;
    EXPECT_EQ(0u, by_ip.count("192.168.1.104"));  // offline
    ASSERT_EQ(1u, by_ip.count("192.168.1.102"));
    EXPECT_EQ(8080, by_ip["192.168.1.102"]["port"].get<int>());
    EXPECT_EQ("KP-LPR-V3", by_ip["192.168.1.102"]["model"]);
    EXPECT_EQ("plate", by_ip["192.168.1.105"]["kind"]);  // basic discovery only: told by the camera
    EXPECT_EQ("1.8.4.2", by_ip["192.168.1.105"]["firmware"]);
    EXPECT_EQ("face", by_ip["192.168.1.110"]["kind"]);
    EXPECT_EQ("4b500003-000003e9", by_ip["192.168.1.100"]["serial"]);

    const cli_test::Result csv = Cli({"discover", "--seconds", "100", "--csv"});
    const std::vector<std::string> lines = Lines(csv.out);
    ASSERT_EQ(cameras.size() + 1, lines.size());
    EXPECT_EQ("ip,port,serial,kind,model,firmware,mac,netmask,gateway,boot_time,name", lines[0]);
    EXPECT_EQ(0u, lines[1].rfind("192.168.1.100,80,4b500003-000003e9,plate,", 0)) << lines[1];
}

TEST_F(CliCommands, TheStoredListIsListedWithoutPasswordsAndRunsWithItsOwnLogins) {
    factory::databasemanager* db = factory::databasemanager::instance();
    ASSERT_TRUE(db->init());
    for (const auto& [ip, password] :
         {std::pair<const char*, const char*>{"192.168.1.103", "Kp@2024"}, {"192.168.1.101", kPassword}}) {
        factory::devicedatamanager device;
        device.set_ip(ip);
        device.set_port(80);
        device.set_user_name("admin");
        device.set_password(password);
        ASSERT_TRUE(db->add_device(device));
    }
    ASSERT_TRUE(db->save());

    const cli_test::Result listed = Cli({"list", "--json"});
    ASSERT_EQ(0, listed.status) << listed.err;
    EXPECT_EQ(nlohmann::json::parse(R"([{"ip":"192.168.1.103","port":80,"user":"admin"},
                                        {"ip":"192.168.1.101","port":80,"user":"admin"}])"),
              nlohmann::json::parse(listed.out));
    EXPECT_EQ(std::string::npos, Cli({"list"}).out.find("Kp@2024"));

    // A typed password applies only to cameras that are not stored.
    const cli_test::Result rebooted =
        Cli({"run", "reboot", "--targets", "@stored,192.168.1.100", "--password", kPassword}, kEnv);
    EXPECT_EQ(0, rebooted.status) << rebooted.out;
    EXPECT_TRUE(Contains(Lines(rebooted.out), "3 succeeded, 0 failed")) << rebooted.out;
}

}  // namespace

namespace {

struct RolloutCase {
    const char* name;
    std::vector<std::string> options;
    bool stop;
    std::vector<std::string> expected;  // lines that must be there
    std::vector<std::string> untouched;
};

}  // namespace

// .102 listens elsewhere, .103 has another password: both fail their login.
TEST_F(CliCommands, CanaryFailureLimitAndStopEndTheRestAsNotStartedAndStillReport) {
    const RolloutCase cases[] = {
        {"canary fails",
         {"--targets", "192.168.1.103,192.168.1.100,192.168.1.101", "--canary", "1"},
         false,
         {"192.168.1.103 设置失败 (设备登陆失败)", "192.168.1.100 未开始 (先行验证未通过)",
          "192.168.1.101 未开始 (先行验证未通过)", "0 succeeded, 3 failed"},
         {"192.168.1.100", "192.168.1.101"}},
        {"failure limit",
         {"--targets", "192.168.1.100,192.168.1.102,192.168.1.103,192.168.1.101", "--parallel", "1",
          "--max-failures", "2"},
         false,
         {"192.168.1.100 设置成功", "192.168.1.103 设置失败 (设备登陆失败)",
          "192.168.1.101 未开始 (失败数已达上限)", "1 succeeded, 3 failed"},
         {"192.168.1.101"}},
        {"stop",
         {"--targets", "192.168.1.100,192.168.1.101,192.168.1.105", "--parallel", "1"},
         true,
         {"192.168.1.100 设置成功", "192.168.1.101 未开始 (已停止)", "192.168.1.105 未开始 (已停止)",
          "1 succeeded, 2 failed"},
         {"192.168.1.101", "192.168.1.105"}},
    };
    for (const RolloutCase& c : cases) {
        SCOPED_TRACE(c.name);
        factory_test::LoadDefaultNetwork();
        std::vector<std::string> args = {"run", "reboot", "--password-env", "KP_PW"};
        args.insert(args.end(), c.options.begin(), c.options.end());
        const cli_test::Result result =
            cli_test::Run(args, kEnv, c.stop ? std::function<bool()>([] { return true; }) : nullptr);
        EXPECT_EQ(1, result.status) << result.out << result.err;
        const std::vector<std::string> lines = Lines(result.out);
        for (const std::string& line : c.expected)
            EXPECT_TRUE(Contains(lines, line)) << line << '\n' << result.out;
        for (const std::string& ip : c.untouched) EXPECT_EQ(0, CameraState(CameraNumber(ip)).boots) << ip;
        // Every camera has its row in the report, the ones not started too.
        ASSERT_EQ(0u, lines.back().rfind("report: reports/reboot_", 0)) << lines.back();
        const kptest::ReportRows rows = kptest::LoadReportRows(lines.back().substr(8));
        const std::string& targets = c.options[1];
        const size_t cameras = 1 + static_cast<size_t>(std::count(targets.begin(), targets.end(), ','));
        EXPECT_EQ(cameras + 1, rows.size());  // the header and one row per camera
    }
}
