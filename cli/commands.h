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
};

int RunCommandLine(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
                   const Environment& env);

}  // namespace cli
