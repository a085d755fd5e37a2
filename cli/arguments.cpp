#include "arguments.h"

#include <cerrno>
#include <cstdlib>
#include <map>

#include "ipv4.h"

namespace cli {

namespace {

struct OperationEntry {
    Operation operation;
    const char* name;
};

const OperationEntry kOperations[] = {
    {Operation::Upgrade, "upgrade"},
    {Operation::Import, "import"},
    {Operation::Password, "password"},
    {Operation::Network, "network"},
    {Operation::Restore, "restore"},
    {Operation::Time, "time"},
    {Operation::Reboot, "reboot"},
    {Operation::Upload, "upload"},
    {Operation::ExportConfig, "export-config"},
};

const char kGeneralUsage[] =
    "usage: kpdevicetool-cli <discover|list|run> [options]   (kpdevicetool-cli <command> --help)\n";

const std::map<std::string, std::string>& Usages() {
    static const std::map<std::string, std::string> usages = {
        {"discover", "usage: kpdevicetool-cli discover [--seconds N] [--json|--csv] [--verbose]\n"},
        {"list", "usage: kpdevicetool-cli list [--json|--csv] [--verbose]\n"},
        {"run",
         "usage: kpdevicetool-cli run OPERATION --targets TARGETS [options]\n"
         "       OPERATION: upgrade, import, password, network, restore, time, reboot, upload, "
         "export-config\n"},
    };
    return usages;
}

const char kDiscoverHelp[] =
    "Lists the cameras that answer on the network, one per line.\n"
    "  --seconds N   listen this long (default 3; multiplied by KP_TIME_SCALE)\n"
    "  --json        a JSON array instead of lines\n"
    "  --csv         comma-separated values with a header line\n"
    "  --verbose     the program's log on standard error too (always in log_data/)\n"
    "Cameras are identified side by side: the command ends within the listening time and one\n"
    "identification time-out, however many answer.\n";

const char kListHelp[] =
    "Prints the stored device list (devicedatamanager.xls in the working directory); passwords are\n"
    "never printed.\n"
    "  --json        a JSON array instead of lines\n"
    "  --csv         comma-separated values with a header line\n"
    "  --verbose     the program's log on standard error\n";

const char kRunHelp[] =
    "Runs one operation on every target camera and shows each camera's progress.\n"
    "Operations and their options:\n"
    "  upgrade        --file PACKAGE            firmware package (several joined by \"|\")\n"
    "  import         --file CONFIG.cfg         parameter file\n"
    "  password       --new-password TEXT | --new-password-env NAME\n"
    "  network        --ip FIRST --mask MASK --gateway GATEWAY\n"
    "                 the targets get consecutive addresses from FIRST, in target order\n"
    "  restore        --full | --partial        (partial keeps network settings and password)\n"
    "  time           the computer's local time\n"
    "  reboot\n"
    "  upload         --logo FILE --bg FILE --css FILE   (any of them; face cameras)\n"
    "  export-config  --out FOLDER              writes FOLDER/<ip>_<timestamp>.cfg per camera\n"
    "Targets (--targets, comma-separated, duplicates run once):\n"
    "  192.168.1.10           one address\n"
    "  192.168.1.10-40        a range of the last part (or 192.168.1.250-192.168.2.5)\n"
    "  @stored                the stored device list, each camera with its own login\n"
    "  @file:PATH             addresses or ranges, one per line, # starts a comment\n"
    "Login for cameras that are not stored:\n"
    "  --user NAME            (default admin)\n"
    "  --password TEXT | --password-env NAME   (needed when a target is not stored)\n"
    "  --port N               (default 80)\n"
    "Other options:\n"
    "  --parallel N           at most N cameras at once (default: all)\n"
    "  --canary K             the first K cameras run alone first; the others start only when\n"
    "                         all K succeeded (and were checked)\n"
    "  --max-failures F       no camera starts once F have failed; the rest end as not started\n"
    "  --reports FOLDER       where the batch report goes (default: beside the device list)\n"
    "Output (standard output, one line at a time):\n"
    "  (default)              each camera's steps and final status, the summary, the report's path\n"
    "  --json                 only a JSON array at the end, one object per camera: ip, port,\n"
    "                         operation, status, ok, reason, verification, firmware_before,\n"
    "                         firmware_after, report (the summary goes to standard error)\n"
    "  --csv                  the same records as CSV, with a header line\n"
    "  --verbose              the program's log on standard error; it always goes to log_data/\n"
    "Ctrl-C or SIGTERM stops the batch: no camera starts any more, running ones finish (an upgrade\n"
    "is never cut off), then the summary and the report; a second one ends the program at once.\n"
    "Exit status: 0 every camera succeeded, 1 any failed, 2 bad arguments (nothing was touched),\n"
    "3 standard output could not be written.\n";

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
    if (name == "help" || name == "verbose" || name == "json" || name == "csv") return true;
    if (options.command == "discover") return name == "seconds";
    if (options.command == "list") return false;
    static const char* const kCommon[] = {"targets",  "user",    "password", "password-env", "port",
                                          "parallel", "reports", "canary",   "max-failures"};
    for (const char* common : kCommon)
        if (name == common) return true;
    switch (options.operation) {
        case Operation::Upgrade:
        case Operation::Import:
            return name == "file";
        case Operation::Password:
            return name == "new-password" || name == "new-password-env";
        case Operation::Network:
            return name == "ip" || name == "mask" || name == "gateway";
        case Operation::Restore:
            return name == "full" || name == "partial";
        case Operation::Upload:
            return name == "logo" || name == "bg" || name == "css";
        case Operation::ExportConfig:
            return name == "out";
        default:
            return false;
    }
}

bool IsFlag(const std::string& name) {
    return name == "help" || name == "verbose" || name == "json" || name == "csv" || name == "full" ||
           name == "partial";
}

ParseResult Fail(ParseResult result, std::string error) {
    result.ok = false;
    result.error = std::move(error);
    return result;
}

}  // namespace

const char* OperationName(Operation operation) {
    for (const OperationEntry& entry : kOperations)
        if (entry.operation == operation) return entry.name;
    return "";
}

std::string UsageText(const std::string& command) {
    const auto found = Usages().find(command);
    return found == Usages().end() ? kGeneralUsage : found->second;
}

std::string HelpText(const std::string& command) {
    if (command == "discover") return UsageText(command) + kDiscoverHelp;
    if (command == "list") return UsageText(command) + kListHelp;
    if (command == "run") return UsageText(command) + kRunHelp;
    return std::string(kGeneralUsage) +
           "Scripted batches on the cameras of the local network.\n"
           "  discover   cameras that answer on the network\n"
           "  list       the stored device list\n"
           "  run        one operation on many cameras, with live progress and a batch report\n"
           "The simulated network follows RUDAVADO_SCENARIO and KP_TIME_SCALE, as the window does.\n";
}

ParseResult ParseArguments(const std::vector<std::string>& args, const GetEnv& env) {
    ParseResult result;
    Options& options = result.options;
    size_t next = 0;
    if (next < args.size() && (args[next] == "--help" || args[next] == "-h" || args[next] == "help")) {
        options.help = true;
        result.ok = true;
        return result;
    }
    if (next >= args.size()) return Fail(result, "no command given");
    options.command = args[next++];
    if (options.command != "discover" && options.command != "list" && options.command != "run") {
        const std::string command = options.command;
        options.command.clear();
        return Fail(result, "unknown command \"" + command + "\"");
    }
    if (options.command == "run") {
        if (next < args.size() && (args[next] == "--help" || args[next] == "-h")) {
            options.help = true;
            result.ok = true;
            return result;
        }
        if (next >= args.size() || args[next].rfind("--", 0) == 0) return Fail(result, "no operation given");
        options.operation_name = args[next++];
        for (const OperationEntry& entry : kOperations)
            if (options.operation_name == entry.name) options.operation = entry.operation;
        if (options.operation == Operation::None)
            return Fail(result, "unknown operation \"" + options.operation_name + "\"");
    }

    std::map<std::string, std::string> values;
    bool json = false, csv = false, full = false, partial = false;
    for (; next < args.size(); ++next) {
        std::string arg = args[next];
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
            if (name == "verbose") options.verbose = true;
            if (name == "json") json = true;
            if (name == "csv") csv = true;
            if (name == "full") full = true;
            if (name == "partial") partial = true;
            continue;
        }
        if (!has_value) {
            if (next + 1 >= args.size()) return Fail(result, "option --" + name + " needs a value");
            value = args[++next];
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
    if (has("password") && has("password-env"))
        return Fail(result, "--password and --password-env exclude each other");
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

    switch (options.operation) {
        case Operation::Upgrade:
        case Operation::Import:
            if (!has("file") || values["file"].empty()) return Fail(result, "--file is missing");
            options.file = values["file"];
            break;
        case Operation::Password: {
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
        case Operation::Network:
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
        case Operation::Restore:
            if (full == partial) return Fail(result, "give exactly one of --full and --partial");
            options.restore_full = full;
            break;
        case Operation::Upload:
            if (!has("logo") && !has("bg") && !has("css"))
                return Fail(result, "give at least one of --logo, --bg, --css");
            for (const char* name : {"logo", "bg", "css"})
                if (has(name) && values[name].empty())
                    return Fail(result, std::string("--") + name + " needs a file");
            options.logo = values["logo"];
            options.bg = values["bg"];
            options.css = values["css"];
            break;
        case Operation::ExportConfig:
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
