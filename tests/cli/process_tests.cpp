// The executable itself, run as a child process: exit status, output format, standard streams.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <stdio.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>

#include "cli_test_support.h"
#include "report_rows.h"

namespace {

struct Child {
    int status = -1;
    std::string out;
    std::string err;
};

std::string FileText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Runs the executable in `folder` on the built-in simulated network, a thousandfold faster.
// `env`: more variables, "NAME=value ..."; `input`: its standard input (else none).
Child RunChild(const std::string& folder, const std::string& args, const std::string& env = std::string(),
               const std::string& input = std::string()) {
    const std::string err_file = folder + "/stderr.txt";
    const std::string in_file = folder + "/stdin.txt";
    std::ofstream(in_file, std::ios::binary) << input;
    const std::string command = "cd '" + folder + "' && " + env +
                                " KP_TIME_SCALE=0.001 KP_PW=" + std::string(factory_test::kPassword) +
                                " RUDAVADO_SCENARIO= '" + KP_CLI_EXECUTABLE + "' " + args + " 2>'" +
                                err_file + "' <'" + in_file + "'";
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

// The entries of a folder but the standard streams RunChild keeps there.
std::set<std::string> Entries(const std::string& folder) {
    std::set<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        const std::string name = entry.path().filename().string();
        if (name != "stderr.txt" && name != "stdin.txt") names.insert(name);
    }
    return names;
}

TEST(CliProcess, ADamagedDeviceListIsNamedAndLeftAsItIs) {
    cli_test::InTempFolder folder;
    const std::string damaged = std::string("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8) + std::string(600, '\x5A');
    std::ofstream(folder.path() + "/devicedatamanager.xls", std::ios::binary) << damaged;
    const std::set<std::string> before = Entries(folder.path());
    for (const char* args : {"list", "list --json", "run reboot --targets @stored --password-env KP_PW"}) {
        SCOPED_TRACE(args);
        const Child child = RunChild(folder.path(), args);
        EXPECT_NE(0, child.status);
        EXPECT_EQ("", child.out);
        EXPECT_NE(std::string::npos, child.err.find("devicedatamanager.xls cannot be read")) << child.err;
        EXPECT_EQ(damaged, FileText(folder.path() + "/devicedatamanager.xls"));
        EXPECT_EQ(before, Entries(folder.path()));  // nothing moved aside, no log folder, no report
    }
}

TEST(CliProcess, VersionHelpDryRunAndPasswordSources) {
    cli_test::InTempFolder folder;
    const std::string password_file = folder.path() + "/password";
    std::ofstream(password_file) << factory_test::kPassword << "\r\n";
    std::filesystem::permissions(password_file,
                                 std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
    struct Case {
        std::string args;
        std::string input;
        int status;
        std::vector<std::string> out;  // texts standard output must hold
        std::string err;
    };
    // The first ones touch nothing: no report may appear while they run.
    const Case untouched[] = {
        {"--version", "", 0, {"kpdevicetool-cli 1."}, ""},
        {"help run", "", 0, {"Operations and their options", "--password-stdin", "--dry-run"}, ""},
        {"help run upgrade", "", 0, {"run upgrade --targets", "--file PACKAGE", "Example:"}, ""},
        {"run network --help", "", 0, {"--gateway GATEWAY", "Example:", "@file:-"}, ""},
        {"help run format", "", 2, {}, "unknown operation \"format\""},
        {"run reboot --targets @file:-,192.168.1.100 --password-env KP_PW --canary 1 --parallel 2 --dry-run",
         "192.168.1.101-102 # spares\n192.168.1.110\n",
         0,
         {"operation: reboot\n", "policy: parallel 2, canary 1, max failures none\n", "targets: 4\n",
          "192.168.1.101 port 80 user admin\n192.168.1.102 port 80 user admin\n192.168.1.110 port 80 user "
          "admin\n"
          "192.168.1.100 port 80 user admin\n",
          "dry run: no camera was touched"},
         ""},
        {"run reboot --targets 192.168.1.100", "", 2, {}, "192.168.1.100 is not stored: give its login"},
        {"run reboot --targets 192.168.1.100 --password-stdin",
         "\n",
         2,
         {},
         "standard input has no password"},
    };
    for (const Case& c : untouched) {
        SCOPED_TRACE(c.args);
        const Child child = RunChild(folder.path(), c.args, "", c.input);
        EXPECT_EQ(c.status, child.status) << child.err;
        for (const std::string& text : c.out) EXPECT_NE(std::string::npos, child.out.find(text)) << child.out;
        EXPECT_NE(std::string::npos, child.err.find(c.err)) << child.err;
        EXPECT_FALSE(std::filesystem::exists(folder.path() + "/reports"));
    }
    const Case runs[] = {
        {"run reboot --targets @file:- --password-stdin",
         std::string(factory_test::kPassword) + "\n",
         2,
         {},
         "both read standard input"},
        {"run reboot --targets 192.168.1.100 --password-stdin",
         std::string(factory_test::kPassword) + "\r\nignored\n",
         0,
         {"192.168.1.100 设置成功"},
         ""},
        {"run reboot --targets 192.168.1.100 --password-file password",
         "",
         0,
         {"192.168.1.100 设置成功"},
         ""},
        {"run reboot --targets @file:- --password-file password",
         "192.168.1.101\n",
         0,
         {"192.168.1.101 设置成功"},
         ""},
    };
    for (const Case& c : runs) {
        SCOPED_TRACE(c.args);
        const Child child = RunChild(folder.path(), c.args, "", c.input);
        EXPECT_EQ(c.status, child.status) << child.out << child.err;
        for (const std::string& text : c.out) EXPECT_NE(std::string::npos, child.out.find(text)) << child.out;
        EXPECT_NE(std::string::npos, child.err.find(c.err)) << child.err;
        EXPECT_EQ(std::string::npos, (child.out + child.err).find(factory_test::kPassword));
    }
}

// A child on the simulated network, read line by line as it writes: standard output on a
// terminal (which shows every line at once, however the program buffers a pipe), standard error
// on a pipe. A redrawn status line counts as a line of its own.
class LiveChild {
public:
    enum Stream { kOut, kErr };

    LiveChild(const std::string& folder, const std::vector<std::string>& args, const std::string& scale) {
        int terminal = -1, out = -1, err[2];
        termios raw{};
        cfmakeraw(&raw);  // no "\r" added to line ends
        if (openpty(&terminal, &out, nullptr, &raw, nullptr) != 0 || pipe(err) != 0) return;
        pid_ = fork();
        if (pid_ == 0) {
            dup2(out, 1);
            dup2(err[1], 2);
            for (int fd : {terminal, out, err[0], err[1]}) close(fd);
            if (chdir(folder.c_str()) != 0) _exit(127);
            setenv("KP_TIME_SCALE", scale.c_str(), 1);
            setenv("KP_PW", factory_test::kPassword, 1);
            unsetenv("RUDAVADO_SCENARIO");
            std::vector<char*> argv = {const_cast<char*>(KP_CLI_EXECUTABLE)};
            for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
            argv.push_back(nullptr);
            execv(KP_CLI_EXECUTABLE, argv.data());
            _exit(127);
        }
        close(out);
        close(err[1]);
        fds_[kOut] = terminal;
        fds_[kErr] = err[0];
    }
    ~LiveChild() {
        if (pid_ > 0 && status_ < 0) {
            kill(pid_, SIGKILL);
            Wait();
        }
        for (int fd : fds_)
            if (fd >= 0) close(fd);
    }
    pid_t pid() const { return pid_; }

    // Reads both streams until a line of `stream` holds `text` (true), or both end, or a minute
    // passes.
    bool WaitForLine(Stream stream, const std::string& text) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(1);
        for (;;) {
            for (size_t end; (end = pending_[stream].find('\n')) != std::string::npos;) {
                lines_[stream].push_back(pending_[stream].substr(0, end));
                pending_[stream].erase(0, end + 1);
                if (lines_[stream].back().find(text) != std::string::npos) return true;
            }
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            pollfd fds[2] = {{fds_[kOut], POLLIN, 0}, {fds_[kErr], POLLIN, 0}};
            if (fds_[kOut] < 0 && fds_[kErr] < 0) return false;
            if (left.count() <= 0 || poll(fds, 2, static_cast<int>(left.count())) <= 0) return false;
            for (int i = 0; i < 2; ++i) {
                if (fds[i].revents == 0) continue;
                char buffer[4096];
                const ssize_t n = read(fds_[i], buffer, sizeof(buffer));
                if (n > 0) {
                    pending_[i].append(buffer, static_cast<size_t>(n));
                    for (size_t at; (at = pending_[i].find("\r\x1b[K")) != std::string::npos;)
                        pending_[i].replace(at, 4, "\n");
                } else {  // the end, or EIO from a terminal nobody holds any more
                    close(fds_[i]);
                    fds_[i] = -1;  // poll passes over negative descriptors
                }
            }
        }
    }
    // The rest of the output, then the exit status (1000 unless it exited).
    int Wait() {
        while (WaitForLine(kOut, "\n")) {
        }
        for (int i = 0; i < 2; ++i)
            if (!pending_[i].empty()) lines_[i].push_back(pending_[i]);
        int status = 0;
        if (waitpid(pid_, &status, 0) == pid_) status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 1000;
        return status_;
    }
    const std::vector<std::string>& lines(Stream stream = kOut) const { return lines_[stream]; }

private:
    pid_t pid_ = -1;
    int fds_[2] = {-1, -1};
    int status_ = -1;
    std::string pending_[2];
    std::vector<std::string> lines_[2];
};

TEST(CliProcess, CtrlCLetsRunningUpgradesFinishStartsNoneAndASecondEndsAtOnce) {
    cli_test::InTempFolder folder;
    std::ofstream(folder.path() + "/fw.bin", std::ios::binary)
        << factory_test::FirmwarePackage(factory_test::kPlateFamily, "3.3.0.1");
    const std::vector<std::string> args = {"run",
                                           "upgrade",
                                           "--targets",
                                           "192.168.1.100,192.168.1.101,192.168.1.106,192.168.1.107",
                                           "--password-env",
                                           "KP_PW",
                                           "--file",
                                           "fw.bin",
                                           "--parallel",
                                           "2"};
    {
        // A twentieth of the real durations: an upgrade takes about a second. "%": a camera is
        // upgrading ("正在升级 10%" on a line, or "upgrading 10%" in the status line).
        LiveChild child(folder.path(), args, "0.05");
        ASSERT_TRUE(child.WaitForLine(LiveChild::kOut, "%"));
        kill(child.pid(), SIGINT);
        EXPECT_TRUE(child.WaitForLine(LiveChild::kErr, "stopping"));
        EXPECT_EQ(1, child.Wait());
        const std::vector<std::string>& lines = child.lines();
        auto has = [&](const std::string& line) {
            return std::find(lines.begin(), lines.end(), line) != lines.end();
        };
        EXPECT_TRUE(has("192.168.1.100 升级成功, verified"));
        EXPECT_TRUE(has("192.168.1.101 升级成功, verified"));
        EXPECT_TRUE(has("192.168.1.106 未开始 (已停止)"));
        EXPECT_TRUE(has("192.168.1.107 未开始 (已停止)"));
        ASSERT_GE(lines.size(), 2u);
        EXPECT_EQ("2 succeeded, 2 failed", lines[lines.size() - 2]);
        ASSERT_EQ(0u, lines.back().rfind("report: reports/upgrade_", 0)) << lines.back();
        EXPECT_EQ(5u, kptest::LoadReportRows(folder.path() + "/" + lines.back().substr(8)).size());
    }
    {
        LiveChild child(folder.path(), args, "0.05");
        ASSERT_TRUE(child.WaitForLine(LiveChild::kOut, "%"));
        kill(child.pid(), SIGINT);
        // Signals do not queue: the second goes once the first has been taken.
        ASSERT_TRUE(child.WaitForLine(LiveChild::kErr, "stopping"));
        kill(child.pid(), SIGINT);
        EXPECT_EQ(130, child.Wait());
        for (const std::string& line : child.lines())
            EXPECT_EQ(std::string::npos, line.find("succeeded")) << line;
    }
}

TEST(CliProcess, ThePasswordIsAskedOnTheTerminalWithoutEcho) {
    cli_test::InTempFolder folder;
    int terminal = -1;
    const pid_t pid = forkpty(&terminal, nullptr, nullptr, nullptr);
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        if (chdir(folder.path().c_str()) != 0) _exit(127);
        setenv("KP_TIME_SCALE", "0.001", 1);
        unsetenv("RUDAVADO_SCENARIO");
        execl(KP_CLI_EXECUTABLE, KP_CLI_EXECUTABLE, "run", "reboot", "--targets", "192.168.1.100", nullptr);
        _exit(127);
    }
    // Everything the terminal shows, until the program ends (EIO) or a minute passes.
    std::string shown;
    auto read_until = [&](const std::string& text) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(1);
        while (text.empty() || shown.find(text) == std::string::npos) {
            pollfd fd{terminal, POLLIN, 0};
            if (std::chrono::steady_clock::now() > deadline || poll(&fd, 1, 1000) < 0) return false;
            char buffer[4096];
            const ssize_t n = fd.revents != 0 ? read(terminal, buffer, sizeof(buffer)) : 0;
            if (n < 0 || (fd.revents != 0 && n == 0)) return text.empty();
            shown.append(buffer, static_cast<size_t>(n));
        }
        return true;
    };
    ASSERT_TRUE(read_until("password for admin: ")) << shown;
    const std::string typed = std::string(factory_test::kPassword) + "\n";
    ASSERT_EQ(static_cast<ssize_t>(typed.size()), write(terminal, typed.data(), typed.size()));
    EXPECT_TRUE(read_until(""));
    close(terminal);
    int status = 0;
    ASSERT_EQ(pid, waitpid(pid, &status, 0));
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << shown;
    EXPECT_NE(std::string::npos, shown.find("192.168.1.100 设置成功")) << shown;
    EXPECT_EQ(std::string::npos, shown.find(factory_test::kPassword)) << shown;
}

}  // namespace
