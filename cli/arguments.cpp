#include "arguments.h"

#include <cerrno>
#include <cstdlib>
#include <map>

#include "ipv4.h"

namespace cli {

namespace {

struct OperationEntry {
    batch::Operation operation;
    const char* name;
    const char* options;  // its line in `help run`, after the name
    const char* help;     // `help run NAME`: what it does, its options, an example
};

const OperationEntry kOperations[] = {
    {batch::Operation::Upgrade, "upgrade",
     "--file PACKAGE            firmware package (several joined by \"|\")",
     "Installs a firmware package on every camera. The version is read before, and after the\n"
     "camera is back it must run the package's version (\"verified\"), or the camera failed.\n"
     "  --file PACKAGE   the firmware package (several joined by \"|\")\n"
     "An upgrade that has begun is never cut off, not even by Ctrl-C.\n"
     "Example: a canary first, then four at a time, stop after two failures:\n"
     "  kpdevicetool-cli run upgrade --targets 192.168.1.100-140 --password-file ~/.kp-password \\\n"
     "    --file KP-LPR-V3_3.3.0.1.bin --canary 1 --parallel 4 --max-failures 2\n"},
    {batch::Operation::ImportConfig, "import", "--file CONFIG.cfg         parameter file",
     "Loads a parameter file (as export-config writes it) into every camera; the camera restarts.\n"
     "  --file CONFIG.cfg   the parameter file\n"
     "Example:\n"
     "  kpdevicetool-cli run import --targets @stored --file 192.168.1.100_20261208101500.cfg\n"},
    {batch::Operation::Password, "password", "--new-password TEXT | --new-password-env NAME",
     "Gives every camera a new login password.\n"
     "  --new-password TEXT       the new password (seen by every user in the process list)\n"
     "  --new-password-env NAME   the new password from an environment variable\n"
     "Example:\n"
     "  kpdevicetool-cli run password --targets @stored --new-password-env KP_NEW\n"},
    {batch::Operation::Network, "network",
     "--ip FIRST --mask MASK --gateway GATEWAY\n"
     "                 the targets get consecutive addresses from FIRST, in target order",
     "Gives the targets consecutive addresses from FIRST, in target order, and checks that each\n"
     "camera answers at its new address afterwards.\n"
     "  --ip FIRST        the first camera's new address\n"
     "  --mask MASK       the network mask of all of them\n"
     "  --gateway GATEWAY the gateway of all of them\n"
     "Example:\n"
     "  kpdevicetool-cli run network --targets 192.168.1.64-66 --ip 192.168.1.100 \\\n"
     "    --mask 255.255.255.0 --gateway 192.168.1.1 --password-stdin\n"},
    {batch::Operation::Restore, "restore",
     "--full | --partial        (partial keeps network settings and password)",
     "Restores the factory settings; the camera restarts.\n"
     "  --full      everything\n"
     "  --partial   everything but the network settings and the password\n"
     "Example:\n"
     "  kpdevicetool-cli run restore --targets 192.168.1.106 --partial\n"},
    {batch::Operation::Time, "time", "the computer's local time",
     "Sets every camera's clock to this computer's local time. No options of its own.\n"
     "Example:\n"
     "  kpdevicetool-cli run time --targets @stored\n"},
    {batch::Operation::Reboot, "reboot", "",
     "Restarts every camera; a camera succeeds once it answers again. No options of its own.\n"
     "Example:\n"
     "  kpdevicetool-cli run reboot --targets 192.168.1.100-104 --password-env KP_PASSWORD\n"},
    {batch::Operation::Upload, "upload", "--logo FILE --bg FILE --css FILE   (any of them; face cameras)",
     "Sends pictures and a style sheet to face cameras (at least one of them).\n"
     "  --logo FILE   the logo picture\n"
     "  --bg FILE     the background picture\n"
     "  --css FILE    the style sheet\n"
     "Example:\n"
     "  kpdevicetool-cli run upload --targets 192.168.1.110-113 --logo logo.png --bg bg.png\n"},
    {batch::Operation::ExportConfig, "export-config",
     "--out FOLDER              writes FOLDER/<ip>_<timestamp>.cfg per camera",
     "Saves every camera's parameters to FOLDER/<ip>_<timestamp>.cfg (FOLDER is made if missing).\n"
     "  --out FOLDER   where the files go\n"
     "Example:\n"
     "  kpdevicetool-cli run export-config --targets @stored --out backup\n"},
};

const OperationEntry* FindOperation(batch::Operation operation) {
    for (const OperationEntry& entry : kOperations)
        if (entry.operation == operation) return &entry;
    return nullptr;
}

const OperationEntry* FindOperation(const std::string& name) {
    for (const OperationEntry& entry : kOperations)
        if (name == entry.name) return &entry;
    return nullptr;
}

const char kGeneralUsage[] =
    "usage: kpdevicetool-cli <discover|list|run> [options]   (kpdevicetool-cli help <command>)\n";

const std::map<std::string, std::string>& Usages() {
    static const std::map<std::string, std::string> usages = {
        {"discover", "usage: kpdevicetool-cli discover [--seconds N] [--json|--csv]\n"},
        {"list", "usage: kpdevicetool-cli list [--json|--csv]\n"},
        {"run",
         "usage: kpdevicetool-cli run OPERATION --targets TARGETS [options]   (kpdevicetool-cli help run "
         "OPERATION)\n"
         "       OPERATION: upgrade, import, password, network, restore, time, reboot, upload, "
         "export-config\n"},
    };
    return usages;
}

const char kDiscoverHelp[] =
    "Lists the cameras that answer on the network, one per line.\n"
    "  --seconds N   listen this long (default 3; multiplied by KP_TIME_SCALE)\n"
    "  --json        a JSON array instead of lines\n"
    "  --csv         comma-separated values with a header line\n";

const char kListHelp[] =
    "Prints the stored device list (devicedatamanager.xls in the working directory); passwords are\n"
    "never printed. A list that cannot be read is named and left as it is (exit status 1).\n"
    "  --json        a JSON array instead of lines\n"
    "  --csv         comma-separated values with a header line\n";

const char kRunHelp[] = "Runs one operation on every target camera and shows each camera's progress.\n";

const char kRunCommonHelp[] =
    "Targets (--targets, comma-separated, duplicates run once):\n"
    "  192.168.1.10           one address\n"
    "  192.168.1.10-40        a range of the last part (or 192.168.1.250-192.168.2.5)\n"
    "  @stored                the stored device list, each camera with its own login\n"
    "  @file:PATH             addresses or ranges, one per line, # starts a comment; @file:- reads\n"
    "                         them from standard input\n"
    "Login for cameras that are not stored (on a terminal the password is asked for):\n"
    "  --user NAME            (default admin)\n"
    "  --password-stdin       the first line of standard input\n"
    "  --password-file PATH   the first line of a file only its owner may read\n"
    "  --password-env NAME    an environment variable\n"
    "  --password TEXT        (seen by every user in the process list)\n"
    "  --port N               (default 80)\n"
    "Other options:\n"
    "  --parallel N           at most N cameras at once (default: all)\n"
    "  --canary K             the first K cameras run alone first; the others start only when\n"
    "                         all K succeeded (and were checked)\n"
    "  --max-failures F       no camera starts once F have failed; the rest end as not started\n"
    "  --reports FOLDER       where the batch report goes (default: beside the device list)\n"
    "  --dry-run              print the targets, the policy and the arguments; touch nothing\n"
    "Ctrl-C or SIGTERM stops the batch: no camera starts any more, running ones finish (an upgrade\n"
    "is never cut off), then the summary and the report; a second one ends the program at once.\n"
    "Exit status: 0 every camera succeeded, 1 any failed, 2 bad arguments (nothing was touched).\n";

bool ParseInt(const std::string& text, int low, int high, int* value) {
    if (text.empty()) return false;
    char* end = nullptr;
    errno = 0;
    const long parsed = std::strtol(text.c_str(), &end, 10);
    if (errno != 0 || *end != '\0' || parsed < low || parsed > high) return false;
    *value = static_cast<int>(parsed);
    return true;
}

bool ParseSeconds(const std::string& text, double* value) {
    if (text.empty()) return false;
    char* end = nullptr;
    const double parsed = std::strtod(text.c_str(), &end);
    if (*end != '\0' || !(parsed > 0) || parsed > 3600) return false;
    *value = parsed;
    return true;
}

bool ValidAddress(const std::string& text) {
    std::uint32_t value = 0;
    return factory::ParseIpv4(text, &value);
}

// Which options each command (or operation) accepts beyond the common ones.
bool Accepts(const Options& options, const std::string& name) {
    if (name == "help") return true;
    if (options.command == "discover") return name == "seconds" || name == "json" || name == "csv";
    if (options.command == "list") return name == "json" || name == "csv";
    static const char* const kCommon[] = {"targets",        "user",          "password",     "password-env",
                                          "password-stdin", "password-file", "port",         "parallel",
                                          "reports",        "canary",        "max-failures", "dry-run"};
    for (const char* common : kCommon)
        if (name == common) return true;
    switch (*options.operation) {
        case batch::Operation::Upgrade:
        case batch::Operation::ImportConfig:
            return name == "file";
        case batch::Operation::Password:
            return name == "new-password" || name == "new-password-env";
        case batch::Operation::Network:
            return name == "ip" || name == "mask" || name == "gateway";
        case batch::Operation::Restore:
            return name == "full" || name == "partial";
        case batch::Operation::Upload:
            return name == "logo" || name == "bg" || name == "css";
        case batch::Operation::ExportConfig:
            return name == "out";
        default:
            return false;
    }
}

bool IsFlag(const std::string& name) {
    return name == "help" || name == "json" || name == "csv" || name == "full" || name == "partial" ||
           name == "password-stdin" || name == "dry-run";
}

ParseResult Fail(ParseResult result, std::string error) {
    result.ok = false;
    result.error = std::move(error);
    return result;
}

}  // namespace

const char* OperationName(batch::Operation operation) {
    const OperationEntry* entry = FindOperation(operation);
    return entry != nullptr ? entry->name : "";
}

std::string UsageText(const std::string& command) {
    const auto found = Usages().find(command);
    return found == Usages().end() ? kGeneralUsage : found->second;
}

std::string HelpText(const std::string& command, std::optional<batch::Operation> operation) {
    if (command == "discover") return UsageText(command) + kDiscoverHelp;
    if (command == "list") return UsageText(command) + kListHelp;
    if (command == "run" && operation) {
        const OperationEntry* entry = FindOperation(*operation);
        return std::string("usage: kpdevicetool-cli run ") + entry->name + " --targets TARGETS [options]\n" +
               entry->help + kRunCommonHelp;
    }
    if (command == "run") {
        std::string text = UsageText(command) + kRunHelp + "Operations and their options:\n";
        for (const OperationEntry& entry : kOperations) {
            std::string name = std::string("  ") + entry.name;
            name.resize(17, ' ');
            text += name + entry.options;
            while (!text.empty() && text.back() == ' ') text.pop_back();
            text += '\n';
        }
        return text + kRunCommonHelp;
    }
    return std::string(kGeneralUsage) +
           "Scripted batches on the cameras of the local network.\n"
           "  discover   cameras that answer on the network\n"
           "  list       the stored device list\n"
           "  run        one operation on many cameras, with live progress and a batch report\n"
           "  help [COMMAND [OPERATION]]   this text, or the help of a command or an operation\n"
           "  --version  the program's version\n"
           "The simulated network follows RUDAVADO_SCENARIO and KP_TIME_SCALE, as the window does.\n";
}

std::string VersionText() { return std::string("kpdevicetool-cli ") + KP_VERSION + "\n"; }

ParseResult ParseArguments(const std::vector<std::string>& args, const GetEnv& env) {
    ParseResult result;
    Options& options = result.options;
    size_t next = 0;
    if (next < args.size() && args[next] == "--version") {
        if (args.size() > 1) return Fail(result, "--version takes nothing else");
        options.version = true;
        result.ok = true;
        return result;
    }
    // "help", "help run" and "help run upgrade" show what "--help" after them would.
    std::vector<std::string> rest = args;
    if (!rest.empty() && rest[0] == "help" && rest.size() <= 3) {
        rest.erase(rest.begin());
        rest.push_back("--help");
    }
    if (next < rest.size() && (rest[next] == "--help" || rest[next] == "-h")) {
        options.help = true;
        result.ok = true;
        return result;
    }
    if (next >= rest.size()) return Fail(result, "no command given");
    options.command = rest[next++];
    if (options.command != "discover" && options.command != "list" && options.command != "run") {
        const std::string command = options.command;
        options.command.clear();
        return Fail(result, "unknown command \"" + command + "\"");
    }
    if (options.command == "run") {
        if (next < rest.size() && (rest[next] == "--help" || rest[next] == "-h")) {
            options.help = true;
            result.ok = true;
            return result;
        }
        if (next >= rest.size() || rest[next].rfind("--", 0) == 0) return Fail(result, "no operation given");
        options.operation_name = rest[next++];
        const OperationEntry* entry = FindOperation(options.operation_name);
        if (entry == nullptr) return Fail(result, "unknown operation \"" + options.operation_name + "\"");
        options.operation = entry->operation;
    }
    std::map<std::string, std::string> values;
    bool json = false, csv = false, full = false, partial = false;
    for (; next < rest.size(); ++next) {
        std::string arg = rest[next];
        if (arg == "-h") arg = "--help";
        if (arg.rfind("--", 0) != 0 || arg.size() == 2)
            return Fail(result, "unexpected argument \"" + arg + "\"");
        std::string name = arg.substr(2);
        std::string value;
        bool has_value = false;
        const size_t equals = name.find('=');
        if (equals != std::string::npos) {
            value = name.substr(equals + 1);
            name.resize(equals);
            has_value = true;
        }
        if (!Accepts(options, name)) {
            return Fail(result,
                        "option --" + name + " is not known to " +
                            (options.command == "run" ? "run " + options.operation_name : options.command));
        }
        if (IsFlag(name)) {
            if (has_value) return Fail(result, "option --" + name + " takes no value");
            if (name == "help") options.help = true;
            if (name == "json") json = true;
            if (name == "csv") csv = true;
            if (name == "full") full = true;
            if (name == "partial") partial = true;
            if (name == "password-stdin") options.password_stdin = true;
            if (name == "dry-run") options.dry_run = true;
            continue;
        }
        if (!has_value) {
            if (next + 1 >= rest.size()) return Fail(result, "option --" + name + " needs a value");
            value = rest[++next];
        }
        if (values.count(name)) return Fail(result, "option --" + name + " is given twice");
        values[name] = value;
    }
    if (options.help) {
        result.ok = true;
        return result;
    }
    if (json && csv) return Fail(result, "--json and --csv exclude each other");
    options.format = json ? Format::Json : csv ? Format::Csv : Format::Text;
    auto has = [&](const char* name) { return values.count(name) != 0; };

    if (has("seconds") && !ParseSeconds(values["seconds"], &options.seconds))
        return Fail(result, "--seconds needs a number of seconds above 0 and at most 3600, not \"" +
                                values["seconds"] + "\"");
    if (options.command != "run") {
        result.ok = true;
        return result;
    }

    if (!has("targets") || values["targets"].empty()) return Fail(result, "--targets is missing");
    options.targets = values["targets"];
    if (has("user")) options.user = values["user"];
    if (has("password") + has("password-env") + has("password-file") + options.password_stdin > 1)
        return Fail(result,
                    "--password, --password-env, --password-file and --password-stdin exclude each other");
    if (has("password-file")) {
        options.password_file = values["password-file"];
        if (options.password_file.empty()) return Fail(result, "--password-file needs a file");
    }
    if (has("password")) {
        options.password = values["password"];
        options.password_given = true;
    }
    if (has("password-env")) {
        const char* password = env ? env(values["password-env"].c_str()) : nullptr;
        if (password == nullptr)
            return Fail(result,
                        "environment variable " + values["password-env"] + " (--password-env) is not set");
        options.password = password;
        options.password_given = true;
    }
    if (has("port") && !ParseInt(values["port"], 1, 65535, &options.port))
        return Fail(result, "--port needs a number from 1 to 65535, not \"" + values["port"] + "\"");
    if (has("parallel") && !ParseInt(values["parallel"], 1, 1000000, &options.parallel))
        return Fail(result,
                    "--parallel needs a number of cameras of at least 1, not \"" + values["parallel"] + "\"");
    if (has("canary") && !ParseInt(values["canary"], 1, 1000000, &options.canary))
        return Fail(result,
                    "--canary needs a number of cameras of at least 1, not \"" + values["canary"] + "\"");
    if (has("max-failures") && !ParseInt(values["max-failures"], 1, 1000000, &options.max_failures))
        return Fail(result, "--max-failures needs a number of cameras of at least 1, not \"" +
                                values["max-failures"] + "\"");
    if (has("reports")) {
        options.reports = values["reports"];
        if (options.reports.empty()) return Fail(result, "--reports needs a folder");
    }

    switch (*options.operation) {
        case batch::Operation::Upgrade:
        case batch::Operation::ImportConfig:
            if (!has("file") || values["file"].empty()) return Fail(result, "--file is missing");
            options.file = values["file"];
            break;
        case batch::Operation::Password: {
            if (has("new-password") && has("new-password-env"))
                return Fail(result, "--new-password and --new-password-env exclude each other");
            if (has("new-password")) {
                options.new_password = values["new-password"];
            } else if (has("new-password-env")) {
                const char* password = env ? env(values["new-password-env"].c_str()) : nullptr;
                if (password == nullptr) {
                    return Fail(result, "environment variable " + values["new-password-env"] +
                                            " (--new-password-env) is not set");
                }
                options.new_password = password;
            } else {
                return Fail(result, "--new-password or --new-password-env is missing");
            }
            // The cameras refuse an empty password; refusing it here touches none of them.
            if (options.new_password.empty()) return Fail(result, "the new password is empty");
            break;
        }
        case batch::Operation::Network:
            for (const char* name : {"ip", "mask", "gateway"}) {
                if (!has(name)) return Fail(result, std::string("--") + name + " is missing");
                if (!ValidAddress(values[name]))
                    return Fail(result, std::string("--") + name + " is not an IPv4 address: \"" +
                                            values[name] + "\"");
            }
            options.ip = values["ip"];
            options.mask = values["mask"];
            options.gateway = values["gateway"];
            break;
        case batch::Operation::Restore:
            if (full == partial) return Fail(result, "give exactly one of --full and --partial");
            options.restore_full = full;
            break;
        case batch::Operation::Upload:
            if (!has("logo") && !has("bg") && !has("css"))
                return Fail(result, "give at least one of --logo, --bg, --css");
            for (const char* name : {"logo", "bg", "css"})
                if (has(name) && values[name].empty())
                    return Fail(result, std::string("--") + name + " needs a file");
            options.logo = values["logo"];
            options.bg = values["bg"];
            options.css = values["css"];
            break;
        case batch::Operation::ExportConfig:
            if (!has("out") || values["out"].empty()) return Fail(result, "--out is missing");
            options.out = values["out"];
            break;
        default:
            break;
    }
    result.ok = true;
    return result;
}

}  // namespace cli
