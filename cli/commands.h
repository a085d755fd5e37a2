// The commands of kpdevicetool-cli, callable in-process (the executable's main and the tests).
//
//   cli::Environment env{getenv, /*terminal=*/false};
//   int status = cli::RunCommandLine({"run", "reboot", "--targets", "192.168.1.100"}, std::cout, std::cerr,
//   env);
//
// Exit status: 0 every camera succeeded, 1 any failed (or discovery could not start), 2 bad
// arguments; with 2 no camera has been touched. The executable exits 3 when its standard output
// could not be written (whatever the cameras did: the results are lost).
#pragma once

#include <functional>
#include <istream>
#include <ostream>
#include <string>
#include <vector>

#include "arguments.h"

namespace cli {

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitBadArguments = 2;
constexpr int kExitOutputLost = 3;

struct Environment {
    GetEnv getenv;
    bool terminal = false;  // standard output is a terminal: redraw the progress in place
    // Asked while a batch runs: true once the user wants it stopped (no camera starts any more).
    std::function<bool()> stop_requested;
    // Called once the arguments are read, before any camera is touched: the program's log goes to
    // standard error when `verbose`, and to its dated files when `to_file`. May be empty.
    std::function<void(bool verbose, bool to_file)> start_log;
    // Standard input, for --password-stdin and @file:-; null reads as empty.
    std::istream* in = nullptr;
    // Asks the user for the password of `user` without echo; null when there is no terminal to
    // ask on. False when no password was typed.
    std::function<bool(const std::string& user, std::string* password)> ask_password;
};

int RunCommandLine(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
                   const Environment& env);

}  // namespace cli
