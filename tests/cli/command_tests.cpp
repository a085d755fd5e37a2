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

namespace {

bool HasControl(const std::string& text) {
    return std::any_of(text.begin(), text.end(), [](char c) {
        const unsigned char b = static_cast<unsigned char>(c);
        return (b < 0x20 && b != '\n') || b == 0x7f;
    });
}

const char kHostileName[] = "cam\\nforged,=1 \\u001b[31m\\u0007\\r";

}  // namespace

// Discovery hears whatever the network says: names that forge lines or formulas, a camera that
// fills its fixed-size texts to the last byte.
TEST_F(CliCommands, DiscoverReadsFilledTextsUpToTheirSizeAndNeutralisesHostileNames) {
    const std::string scenario = std::string(R"({"cameras": [
        {"model": "KP-LPR-V1", "ip": "10.0.0.1", "fill_texts": true, "name": ")") +
                                 kHostileName + R"x("},
        {"model": "KP-LPR-V3", "ip": "10.0.0.2", "name": "@SUM(A1)"}]})x";
    ASSERT_EQ(0, RuDAVADO_LoadScenarioText(scenario.c_str())) << RuDAVADO_LastLoadError();
    // A second of listening: a loaded machine can keep the network's thread from running for
    // the tenth of a second that is enough otherwise, and then no camera is heard at all.
    const std::string listen = "1000";

    const cli_test::Result json = Cli({"discover", "--seconds", listen, "--json"});
    ASSERT_EQ(0, json.status) << json.err;
    const nlohmann::json cameras = nlohmann::json::parse(json.out);
    ASSERT_EQ(2u, cameras.size()) << json.out;
    const nlohmann::json& filled = cameras[0];
    // Each field is its own 64 or 32 bytes, never the next field run on.
    EXPECT_EQ("KP-LPR-V1" + std::string(64 - 9, '.'), filled["model"]);
    EXPECT_EQ(32u, filled["firmware"].get<std::string>().size()) << filled;
    EXPECT_EQ(32u, filled["mac"].get<std::string>().size()) << filled;
    EXPECT_EQ(32u, filled["boot_time"].get<std::string>().size()) << filled;
    EXPECT_EQ("plate", filled["kind"]);
    EXPECT_EQ("cam\nforged,=1 \x1b[31m\a\r", filled["name"]);  // JSON carries the name exactly

    const cli_test::Result text = Cli({"discover", "--seconds", listen});
    EXPECT_FALSE(HasControl(text.out)) << text.out;
    ASSERT_EQ(3u, Lines(text.out).size()) << text.out;
    EXPECT_NE(std::string::npos, text.out.find("cam\\nforged,=1 \\x1b[31m\\x07\\r")) << text.out;

    const cli_test::Result csv = Cli({"discover", "--seconds", listen, "--csv"});
    EXPECT_FALSE(HasControl(csv.out)) << csv.out;
    const std::vector<std::string> lines = Lines(csv.out);
    ASSERT_EQ(3u, lines.size()) << csv.out;
    EXPECT_NE(std::string::npos, lines[1].find(",\"cam\\nforged,=1 \\x1b[31m\\x07\\r\"")) << lines[1];
    EXPECT_EQ(lines[2].size() - 10, lines[2].rfind(",'@SUM(A1)")) << lines[2];

    // A batch reads the version before and after an upgrade: the filled one is 32 bytes, no more.
    factory_test::TempDir files;
    const std::string package = files.write("p.bin", factory_test::FirmwarePackage("KP-LPR-V1", "1.8.5.0"));
    const cli_test::Result upgraded = Cli(
        {"run", "upgrade", "--targets", "10.0.0.1", "--password-env", "KP_PW", "--file", package, "--json"},
        kEnv);
    EXPECT_EQ(0, upgraded.status) << upgraded.out << upgraded.err;
    const nlohmann::json record = nlohmann::json::parse(upgraded.out)[0];
    EXPECT_EQ(32u, record["firmware_before"].get<std::string>().size()) << record;
    EXPECT_EQ(32u, record["firmware_after"].get<std::string>().size()) << record;
}

// 150 made-up replies whose senders never answer: identified side by side, and the command ends
// within the listening time and the identification allowance however long the connects would wait.
TEST_F(CliCommands, DiscoverIdentifiesSideBySideAndEndsInBoundedTimeWithSilentReplies) {
    std::string json = R"({"timing": {"connect_timeout": 100000000}, "cameras": [
        {"model": "KP-LPR-V3", "ip": "10.0.0.1"}, {"model": "KP-LPR-V1", "ip": "10.0.0.2"})";
    for (int i = 0; i < 150; ++i)
        json += R"(, {"model": "KP-LPR-V1", "silent": true, "ip": "10.0.1.)" + std::to_string(i) + "\"}";
    ASSERT_EQ(0, RuDAVADO_LoadScenarioText((json + "]}").c_str())) << RuDAVADO_LastLoadError();

    const auto start = std::chrono::steady_clock::now();
    const cli_test::Result result = Cli({"discover", "--seconds", "100", "--json"});
    const auto elapsed = std::chrono::steady_clock::now() - start;
    ASSERT_EQ(0, result.status) << result.err;
    // 0.1 s of listening and at most a second more; one connect after another would take 150 x 100 s.
    EXPECT_LT(elapsed, std::chrono::seconds(4));
    const nlohmann::json cameras = nlohmann::json::parse(result.out);
    ASSERT_EQ(152u, cameras.size());
    EXPECT_EQ("KP-LPR-V3", cameras[0]["model"]);
    EXPECT_EQ("plate", cameras[1]["kind"]);  // the older model told its kind in time
    EXPECT_EQ("", cameras[2]["kind"]);       // a silent one is listed as heard
    EXPECT_EQ("", cameras[2]["model"]);
}

// The records a script reads instead of the lines; a camera that runs the wrong version after its
// upgrade is a failure in every place that says how it ended.
TEST_F(CliCommands, RunJsonGivesOneRecordPerCameraAndAnUnverifiedUpgradeSaysFailed) {
    factory_test::TempDir files;
    const std::string package = files.write("p.bin", factory_test::FirmwarePackage("KP-LPR-V3", "3.3.0.1"));
    const std::string old_version = CameraState(CameraNumber("192.168.1.101")).firmware;
    // The restart that would run the new image is refused: the upgrade still reports "完成".
    ASSERT_EQ(0, RuDAVADO_FailNext("KpLPRClient_RebootDevice", CameraNumber("192.168.1.101"), 1));

    const cli_test::Result result =
        Cli({"run", "upgrade", "--targets", "192.168.1.100,192.168.1.101,192.168.1.104", "--password-env",
             "KP_PW", "--file", package, "--json"},
            kEnv);
    EXPECT_EQ(1, result.status) << result.out << result.err;
    EXPECT_NE(std::string::npos, result.err.find("1 succeeded, 2 failed")) << result.err;
    const nlohmann::json records = nlohmann::json::parse(result.out);
    ASSERT_EQ(3u, records.size()) << result.out;
    const std::string report = records[0]["report"];
    ASSERT_TRUE(std::filesystem::exists(report)) << report;
    const nlohmann::json expected = nlohmann::json::parse(R"([
        {"ip": "192.168.1.100", "port": 80, "operation": "upgrade", "status": "升级成功", "ok": true,
         "reason": "", "verification": "verified", "firmware_after": "3.3.0.1"},
        {"ip": "192.168.1.101", "port": 80, "operation": "upgrade", "status": "升级失败", "ok": false,
         "reason": "", "firmware_after": ")" + old_version +
                                                          R"("},
        {"ip": "192.168.1.104", "port": 80, "operation": "upgrade", "status": "升级失败", "ok": false,
         "reason": "设备无应答", "verification": "", "firmware_after": ""}])");
    for (size_t i = 0; i < expected.size(); ++i) {
        for (const auto& field : expected[i].items())
            EXPECT_EQ(field.value(), records[i][field.key()]) << field.key() << " of " << records[i];
        EXPECT_EQ(report, records[i]["report"]);
    }
    EXPECT_EQ(old_version, records[1]["firmware_before"]);
    EXPECT_EQ("not verified: runs " + old_version + " instead of 3.3.0.1", records[1]["verification"]);

    const kptest::ReportRows rows = kptest::LoadReportRows(report);
    const auto stale =
        std::find_if(rows.begin(), rows.end(), [](const auto& row) { return row[0] == "192.168.1.101"; });
    ASSERT_NE(rows.end(), stale);
    EXPECT_EQ("升级失败", (*stale)[7]);  // final status

    // The text form: one search for 失败 finds every failed camera.
    ASSERT_EQ(0, RuDAVADO_FailNext("KpLPRClient_RebootDevice", CameraNumber("192.168.1.107"), 1));
    const cli_test::Result lines = Cli(
        {"run", "upgrade", "--targets", "192.168.1.107", "--password-env", "KP_PW", "--file", package}, kEnv);
    EXPECT_TRUE(
        Contains(Lines(lines.out), "192.168.1.107 升级失败, not verified: runs 3.1.9.40 instead of 3.3.0.1"))
        << lines.out;

    const cli_test::Result csv =
        Cli({"run", "time", "--targets", "192.168.1.100", "--password-env", "KP_PW", "--csv"}, kEnv);
    EXPECT_EQ(0, csv.status) << csv.err;
    const std::vector<std::string> csv_lines = Lines(csv.out);
    ASSERT_EQ(2u, csv_lines.size()) << csv.out;
    EXPECT_EQ("ip,port,operation,status,ok,reason,verification,firmware_before,firmware_after,report",
              csv_lines[0]);
    EXPECT_EQ(0u, csv_lines[1].rfind("192.168.1.100,80,time,设置成功,true,,,,,reports/time_", 0))
        << csv_lines[1];
}
