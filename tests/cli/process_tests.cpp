// The executable itself, run as a child process: exit status, output format, standard streams.
#include <gtest/gtest.h>
#include <stdio.h>
#include <sys/wait.h>

#include <algorithm>
#include <fstream>
#include <iterator>

#include "cli_test_support.h"

namespace {

struct Child {
    int status = -1;
    std::string out;
    std::string err;
};

// Runs the executable in `folder` on the built-in simulated network, a thousandfold faster.
// `env`: more variables, "NAME=value ...".
Child RunChild(const std::string& folder, const std::string& args, const std::string& env = std::string()) {
    const std::string err_file = folder + "/stderr.txt";
    const std::string command = "cd '" + folder + "' && " + env +
                                " KP_TIME_SCALE=0.001 KP_PW=" + std::string(factory_test::kPassword) +
                                " RUDAVADO_SCENARIO= '" + KP_CLI_EXECUTABLE + "' " + args + " 2>'" +
                                err_file + "'";
    Child child;
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) return child;
    char buffer[4096];
    for (size_t n; (n = fread(buffer, 1, sizeof(buffer), pipe)) > 0;) child.out.append(buffer, n);
    const int status = pclose(pipe);
    child.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    std::ifstream in(err_file);
    child.err.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return child;
}

TEST(CliProcess, ExitStatusAndPlainLinesOnAPipe) {
    cli_test::InTempFolder folder;
    const Child mixed = RunChild(
        folder.path(),
        "run reboot --targets 192.168.1.100,192.168.1.104 --password-env KP_PW --password-env KP_PW");
    EXPECT_EQ(2, mixed.status) << mixed.err;
    EXPECT_EQ("", mixed.out);
    EXPECT_NE(std::string::npos, mixed.err.find("--password-env is given twice")) << mixed.err;

    const Child run =
        RunChild(folder.path(), "run reboot --targets 192.168.1.100,192.168.1.104 --password-env KP_PW");
    EXPECT_EQ(1, run.status) << run.err;
    const std::vector<std::string> lines = cli_test::Lines(run.out);
    // No terminal: no cursor movement, every line "<ip> <text>" until the summary.
    EXPECT_EQ(std::string::npos, run.out.find('\r'));
    ASSERT_GE(lines.size(), 4u);
    for (size_t i = 0; i + 2 < lines.size(); ++i)
        EXPECT_TRUE(lines[i].rfind("192.168.1.100 ", 0) == 0 || lines[i].rfind("192.168.1.104 ", 0) == 0)
            << lines[i];
    EXPECT_EQ("1 succeeded, 1 failed", lines[lines.size() - 2]);

    const Child good = RunChild(folder.path(), "run reboot --targets 192.168.1.100 --password-env KP_PW");
    EXPECT_EQ(0, good.status) << good.out << good.err;

    // The operation modules' own debugging prints ("SDK_ParaExportV2 begin ...") stay off standard output.
    const Child exported =
        RunChild(folder.path(), "run export-config --targets 192.168.1.100 --password-env KP_PW --out cfg");
    EXPECT_EQ(0, exported.status) << exported.err;
    const std::vector<std::string> export_lines = cli_test::Lines(exported.out);
    ASSERT_GE(export_lines.size(), 3u);
    for (size_t i = 0; i + 2 < export_lines.size(); ++i)
        EXPECT_EQ(0u, export_lines[i].rfind("192.168.1.100 ", 0)) << export_lines[i];
    EXPECT_NE(std::string::npos, exported.err.find("SDK_ParaExportV2")) << exported.err;

    const Child help = RunChild(folder.path(), "run --help");
    EXPECT_EQ(0, help.status);
    EXPECT_NE(std::string::npos, help.out.find("export-config")) << help.out;
}

TEST(CliProcess, DiscoverCsvIsOneHeaderAndOneLinePerCamera) {
    cli_test::InTempFolder folder;
    const Child discovered = RunChild(folder.path(), "discover --seconds 100 --csv");
    EXPECT_EQ(0, discovered.status) << discovered.err;
    const std::vector<std::string> lines = cli_test::Lines(discovered.out);
    ASSERT_EQ(12u, lines.size()) << discovered.out;  // 11 of the 12 built-in cameras answer
    EXPECT_EQ("ip,port,serial,kind,model,firmware,mac,netmask,gateway,boot_time,name", lines[0]);
    for (size_t i = 1; i < lines.size(); ++i)
        EXPECT_EQ(10, std::count(lines[i].begin(), lines[i].end(), ',')) << lines[i];
}

TEST(CliProcess, RefusedThreadsEndTheCamerasAsFailuresNeverAnAbort) {
    cli_test::InTempFolder folder;
    const std::string preload = std::string("LD_PRELOAD='") + KP_THREAD_REFUSAL_LIBRARY + "'";
    // Every thread refused: the report's writer, the batch's own thread, the cameras' workers.
    const Child none =
        RunChild(folder.path(), "run reboot --targets 192.168.1.100,192.168.1.101 --password-env KP_PW",
                 preload + " KP_REFUSE_THREADS=0");
    EXPECT_EQ(1, none.status) << none.out << none.err;
    const std::vector<std::string> lines = cli_test::Lines(none.out);
    for (const char* ip : {"192.168.1.100", "192.168.1.101"})
        EXPECT_NE(std::find(lines.begin(), lines.end(), std::string(ip) + " 设置失败 (无法创建线程)"),
                  lines.end())
            << none.out;
    EXPECT_NE(std::string::npos, none.out.find("0 succeeded, 2 failed")) << none.out;
}

}  // namespace
