// The commands of kpdevicetool-cli, callable in-process (the executable's main and the tests).
//
//   cli::Environment env{getenv, /*terminal=*/false};
//   int status = cli::RunCommandLine({"run", "reboot", "--targets", "192.168.1.100"}, std::cout, std::cerr,
//   env);
//
// Exit status: 0 every camera succeeded, 1 any failed (or discovery could not start), 2 bad
// arguments; with 2 no camera has been touched.
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

struct Environment {
    GetEnv getenv;
    bool terminal = false;  // standard output is a terminal: redraw the progress in place
    // Asked while a batch runs: true once the user wants it stopped (no camera starts any more).
    std::function<bool()> stop_requested;
    // Standard input, for --password-stdin and @file:-; null reads as empty.
    std::istream* in = nullptr;
    // Asks the user for the password of `user` without echo; null when there is no terminal to
    // ask on. False when no password was typed.
    std::function<bool(const std::string& user, std::string* password)> ask_password;
};

int RunCommandLine(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
                   const Environment& env);

}  // namespace cli
