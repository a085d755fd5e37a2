// The executable itself, run as a child process: exit status, output format, standard streams.
#include <gtest/gtest.h>
#include <signal.h>
#include <stdio.h>
#include <sys/wait.h>

#include <algorithm>
#include <filesystem>
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
// `env`: more variables, "NAME=value ...". `in_terminal`: standard output (and error) on a
// terminal of its own, through script(1).
Child RunChild(const std::string& folder, const std::string& args, const std::string& env = std::string(),
               bool in_terminal = false) {
    const std::string err_file = folder + "/stderr.txt";
    std::string program = "'" + std::string(KP_CLI_EXECUTABLE) + "' " + args;
    if (in_terminal) program = "script -qec \"" + program + "\" /dev/null </dev/null";
    const std::string command = "cd '" + folder + "' && " + env +
                                " KP_TIME_SCALE=0.001 KP_PW=" + std::string(factory_test::kPassword) +
                                " RUDAVADO_SCENARIO= " + program + " 2>'" + err_file + "'";
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

    // Quiet by default: the log ("SDK_ParaExportV2 begin ...") goes to log_data/ only, --verbose
    // brings it to standard error; the modules' own prints never reach standard output.
    for (const bool verbose : {false, true}) {
        const Child exported = RunChild(
            folder.path(), "run export-config --targets 192.168.1.100 --password-env KP_PW --out cfg" +
                               std::string(verbose ? " --verbose" : ""));
        EXPECT_EQ(0, exported.status) << exported.err;
        const std::vector<std::string> export_lines = cli_test::Lines(exported.out);
        ASSERT_GE(export_lines.size(), 3u);
        for (size_t i = 0; i + 2 < export_lines.size(); ++i)
            EXPECT_EQ(0u, export_lines[i].rfind("192.168.1.100 ", 0)) << export_lines[i];
        EXPECT_EQ(verbose, exported.err.find("SDK_ParaExportV2") != std::string::npos) << exported.err;
        if (!verbose) {
            EXPECT_EQ("", exported.err);
        }
    }
    std::string log;
    for (const auto& entry : std::filesystem::directory_iterator(folder.path() + "/log_data")) {
        std::ifstream in(entry.path());
        log.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    EXPECT_NE(std::string::npos, log.find("SDK_ParaExportV2")) << log;

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

TEST(CliProcess, OutputThatCannotBeWrittenExitsThree) {
    cli_test::InTempFolder folder;
    // The cameras did their part; the results are lost all the same.
    for (const char* args :
         {"discover --seconds 1", "list", "run time --targets 192.168.1.100 --password-env KP_PW"}) {
        const Child full = RunChild(folder.path(), std::string(args) + " >/dev/full");
        EXPECT_EQ(3, full.status) << args << full.err;
        EXPECT_NE(std::string::npos, full.err.find("standard output could not be written")) << full.err;
    }
}

// Each line reaches a pipe when it is printed: read while the batch still runs, the first line is
// there before a stop, which then leaves the cameras after it not started.
TEST(CliProcess, LinesReachAPipeWhileTheBatchRuns) {
    cli_test::InTempFolder folder;
    factory_test::TempDir files;
    const std::string package = files.write("p.bin", factory_test::FirmwarePackage("KP-LPR-V3", "3.3.0.1"));
    // Upgrades one at a time, a hundredfold faster than real: a few hundred milliseconds each.
    const std::string command =
        "cd '" + folder.path() + "' && echo $$ && KP_TIME_SCALE=0.01 KP_PW=" + factory_test::kPassword +
        " RUDAVADO_SCENARIO= exec '" + KP_CLI_EXECUTABLE +
        "' run upgrade --targets 192.168.1.100,192.168.1.101,192.168.1.106,192.168.1.107"
        " --parallel 1 --password-env KP_PW --file '" +
        package + "' 2>/dev/null";
    FILE* pipe = popen(command.c_str(), "r");
    ASSERT_NE(nullptr, pipe);
    char line[4096];
    ASSERT_NE(nullptr, fgets(line, sizeof(line), pipe));
    const pid_t child = static_cast<pid_t>(std::stol(line));
    ASSERT_NE(nullptr, fgets(line, sizeof(line), pipe));
    EXPECT_EQ(0u, std::string(line).rfind("192.168.1.100 ", 0)) << line;
    kill(child, SIGINT);
    std::string rest;
    while (fgets(line, sizeof(line), pipe) != nullptr) rest += line;
    const int status = pclose(pipe);
    EXPECT_EQ(1, WIFEXITED(status) ? WEXITSTATUS(status) : -1) << rest;
    for (const char* ip : {"192.168.1.101", "192.168.1.106", "192.168.1.107"})
        EXPECT_NE(std::string::npos, rest.find(std::string(ip) + " 未开始 (已停止)")) << rest;
}

// A terminal gets its status line redrawn in place, a dumb one plain lines.
TEST(CliProcess, NoCursorCodesOnADumbTerminal) {
    cli_test::InTempFolder folder;
    for (const char* term : {"xterm", "dumb"}) {
        const Child child =
            RunChild(folder.path(), "run time --targets 192.168.1.100,192.168.1.101 --password-env KP_PW",
                     std::string("TERM=") + term, true);
        EXPECT_EQ(0, child.status) << child.out << child.err;
        EXPECT_NE(std::string::npos, child.out.find("2 succeeded, 0 failed")) << child.out;
        EXPECT_EQ(std::string(term) == "xterm", child.out.find("\x1b[") != std::string::npos)
            << term << child.out;
    }
}

}  // namespace
