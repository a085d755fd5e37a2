// The command line of kpdevicetool-cli: commands, options, usage and help texts.
//
//   cli::ParseResult parsed = cli::ParseArguments(args, env);
//   if (!parsed.ok) { err << parsed.error << "\n" << cli::UsageText(parsed.options.command); return 2; }
//
// Parsing checks the shape of every option (numbers, addresses, which options an operation needs)
// and touches nothing: files and targets are checked by the command that uses them.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "batch.h"

namespace cli {

enum class Format { Text, Json, Csv };

struct Options {
    std::string command;  // "discover", "list", "run"; empty for the general help
    bool help = false;
    bool version = false;
    Format format = Format::Text;
    double seconds = 3;  // discover: how long to listen (times KP_TIME_SCALE)

    std::optional<batch::Operation> operation;  // run: none until named
    std::string operation_name;
    std::string targets;
    std::string user = "admin";
    std::string password;  // never printed
    bool password_given = false;
    // Read by the command, not the parser: the password's first line on standard input, or in a
    // file only its owner may read.
    bool password_stdin = false;
    std::string password_file;
    bool dry_run = false;
    int port = 80;
    int parallel = 0;      // 0: every camera at once
    int canary = 0;        // cameras that run alone first and must all succeed
    int max_failures = 0;  // no camera starts after this many failures; 0: no limit
    std::string reports;   // folder of the batch report; empty: beside the device list

    std::string file;          // upgrade, import
    std::string new_password;  // password; never printed
    std::string ip, mask, gateway;
    bool restore_full = false;
    std::string logo, bg, css;
    std::string out;  // export-config folder
};

struct ParseResult {
    bool ok = false;
    std::string error;  // what was wrong, when !ok
    Options options;
};

// Looks up an environment variable; null when it is not set.
using GetEnv = std::function<const char*(const char* name)>;

// `args` without the program name.
ParseResult ParseArguments(const std::vector<std::string>& args, const GetEnv& env);

// One-line usage hint of a command (the general one for an empty or unknown command).
std::string UsageText(const std::string& command);
// The full help of a command; of one operation of `run` when it is given.
std::string HelpText(const std::string& command, std::optional<batch::Operation> operation = std::nullopt);
std::string VersionText();

// The command-line name of an operation ("export-config").
const char* OperationName(batch::Operation operation);

}  // namespace cli
