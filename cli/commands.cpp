#include "commands.h"

#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <sstream>

#include "RuDAVADO.h"
#include "batch.h"
#include "batch_report.h"
#include "databasemanager.h"
#include "discovery_record.h"
#include "ipv4.h"
#include "output_format.h"
#include "preflight.h"
#include "progress_printer.h"
#include "sdkbase.h"
#include "targets.h"

namespace cli {

namespace {

const char kDeviceListFile[] = "devicedatamanager.xls";
// How often the command line looks for a stop request while a batch runs.
constexpr std::chrono::milliseconds kStopPoll(50);
// _access modes.
constexpr int kExists = 0;

int BadArguments(std::ostream& err, const std::string& command, const std::string& error) {
    err << "kpdevicetool-cli: " << error << '\n' << UsageText(command);
    return kExitBadArguments;
}

// The stored device list; empty when there is none. Only reads: a list that cannot be read is
// named and left exactly as it is, never taken for an empty one.
bool LoadStored(std::vector<Target>* stored, std::string* error) {
    stored->clear();
    if (_access(kDeviceListFile, kExists) != 0) return true;
    factory::databasemanager* db = factory::databasemanager::instance();
    std::string why;
    if (db == nullptr || !db->init_read_only(&why)) {
        *error = std::string("the stored device list ") + kDeviceListFile + " cannot be read (" + why +
                 "); it was left as it is";
        return false;
    }
    for (const auto& row : db->load_all()) {
        const factory::devicedatamanager& device = row.second;
        if (device.get_ip().empty()) continue;
        stored->push_back(Target{device.get_ip(), static_cast<int>(device.get_port()), device.get_user_name(),
                                 device.get_password(), true});
    }
    return true;
}

// ---- discover -------------------------------------------------------------------------------

struct Discovery {
    std::mutex mutex;
    std::map<std::string, DeviceInfo> found;  // by address
    std::set<std::string> extended;           // answered with the extended report (kind known)
};

void Keep(void* user_data, DeviceInfo device, bool extended) {
    auto* discovery = static_cast<Discovery*>(user_data);
    std::lock_guard<std::mutex> lock(discovery->mutex);
    // The extended report of a camera says more than its basic one; neither overwrites it.
    if (extended) discovery->extended.insert(device.ip_addr);
    DeviceInfo& kept = discovery->found[device.ip_addr];
    if (extended || kept.ip_addr.empty()) kept = std::move(device);
}

void KPLPRC_CALL OnFoundBasic(const char* name, const char* ip, unsigned short port, unsigned short port2,
                              unsigned int serial_low, unsigned int serial_high, const char* netmask,
                              const char* gateway, void* user_data) {
    Keep(user_data, deviceInfoFromReport(name, ip, port, port2, serial_low, serial_high, netmask, gateway),
         false);
}

void KPLPRC_CALL OnFoundExtended(const char* name, const char* ip, unsigned short port, unsigned short port2,
                                 unsigned int serial_low, unsigned int serial_high, const char* netmask,
                                 const char* gateway, int find_value, const char* firmware, int lens_code,
                                 const char* mac, const char* boot_time, void* user_data) {
    Keep(user_data,
         deviceInfoFromReport(name, ip, port, port2, serial_low, serial_high, netmask, gateway, find_value,
                              firmware, lens_code, mac, boot_time),
         true);
}

int Discover(const Options& options, std::ostream& out, std::ostream& err) {
    Discovery discovery;
    const bool extended = factory::SDK_StartFindDeviceV2(OnFoundExtended, &discovery);
    const bool basic = factory::SDK_StartFindDeviceEx(OnFoundBasic, &discovery);
    if (!extended && !basic) {
        err << "kpdevicetool-cli: discovery could not start\n";
        return kExitFailed;
    }
    Sleep(static_cast<DWORD>(options.seconds * 1000));
    factory::SDK_StopFindDevice();

    struct Found {
        DeviceInfo device;
        bool kind_known;
        std::string model;
    };
    std::vector<Found> cameras;
    for (auto& entry : discovery.found)
        cameras.push_back(Found{entry.second, discovery.extended.count(entry.first) > 0, std::string()});
    // Older models answer the basic search only: what it leaves out, the camera tells without a login.
    for (Found& camera : cameras) {
        if (!factory::CompleteFromCamera(&camera.device, camera.kind_known, &camera.model) &&
            !camera.kind_known)
            camera.device.find_value = -1;
    }
    std::sort(cameras.begin(), cameras.end(), [](const Found& a, const Found& b) {
        std::uint32_t x = 0, y = 0;
        factory::ParseIpv4(a.device.ip_addr, &x);
        factory::ParseIpv4(b.device.ip_addr, &y);
        return x < y;
    });

    Table table;
    table.columns = {"ip",  "port",    "serial",  "kind",      "model", "firmware",
                     "mac", "netmask", "gateway", "boot_time", "name"};
    table.numeric = {false, true};
    for (const Found& camera : cameras) {
        const DeviceInfo& d = camera.device;
        const char* kind = d.find_value == KPLPRC_DEVICE_PLATE  ? "plate"
                           : d.find_value == KPLPRC_DEVICE_FACE ? "face"
                                                                : "";
        table.rows.push_back(
            {d.ip_addr, std::to_string(d.port), factory::SerialNumberText(d.serial_high, d.serial_low), kind,
             camera.model, d.firmware_version, d.mac_addr, d.netmask, d.gateway, d.boot_time, d.device_name});
    }
    WriteTable(out, table, options.format);
    return kExitOk;
}

// ---- list -----------------------------------------------------------------------------------

int List(const Options& options, std::ostream& out, std::ostream& err) {
    std::vector<Target> stored;
    std::string error;
    if (!LoadStored(&stored, &error)) {
        err << "kpdevicetool-cli: " << error << '\n';
        return kExitFailed;
    }
    Table table;
    table.columns = {"ip", "port", "user"};
    table.numeric = {false, true};
    for (const Target& target : stored)
        table.rows.push_back({target.ip, std::to_string(target.port), target.user});
    WriteTable(out, table, options.format);
    return kExitOk;
}

// ---- run ------------------------------------------------------------------------------------

// The batch's arguments for its report: what the user gave, never a password.
std::string ReportArguments(const Options& options) {
    std::string text = "--targets " + options.targets;
    auto add = [&](const char* name, const std::string& value) {
        if (!value.empty()) text += std::string(" --") + name + " " + value;
    };
    add("file", options.file);
    add("ip", options.ip);
    add("mask", options.mask);
    add("gateway", options.gateway);
    if (options.operation == batch::Operation::Restore)
        text += options.restore_full ? " --full" : " --partial";
    add("logo", options.logo);
    add("bg", options.bg);
    add("css", options.css);
    add("out", options.out);
    if (options.user != "admin") add("user", options.user);
    if (options.port != 80) add("port", std::to_string(options.port));
    if (options.parallel > 0) add("parallel", std::to_string(options.parallel));
    if (options.canary > 0) add("canary", std::to_string(options.canary));
    if (options.max_failures > 0) add("max-failures", std::to_string(options.max_failures));
    return text;
}

batch::Arguments EngineArguments(const Options& options) {
    batch::Arguments arguments;
    arguments.file = options.file;
    arguments.new_password = options.new_password;
    arguments.first_ip = options.ip;
    arguments.mask = options.mask;
    arguments.gateway = options.gateway;
    arguments.restore_kind = options.restore_full ? factory::SDK_RESTORE_FULL : factory::SDK_RESTORE_PART;
    arguments.logo = options.logo;
    arguments.bg = options.bg;
    arguments.css = options.css;
    arguments.out_folder = options.out;
    arguments.report_arguments = ReportArguments(options);
    // A camera that does not answer at all fails at once instead of waiting out the connect
    // time-out a second time at the login.
    arguments.identify_first = true;
    return arguments;
}

// Targets from standard input ("@file:-") or a file.
ReadTextFile TargetFileReader(std::istream* in) {
    return [in](const std::string& path, std::string* text) {
        if (path != "-") return ReadWholeFile(path, text);
        if (in == nullptr) return false;
        std::ostringstream buffer;
        buffer << in->rdbuf();
        *text = buffer.str();
        return true;
    };
}

int Run(Options options, std::ostream& out, std::ostream& err, const Environment& env) {
    // Everything is checked before the first camera: a bad path or login touches none of them.
    const std::string folder =
        options.reports.empty() ? report::ReportsFolderBesideDeviceList() : options.reports;
    std::string error = CheckPaths(options, folder);
    if (!error.empty()) return BadArguments(err, "run", error);
    if (options.password_stdin && ("," + options.targets + ",").find(",@file:-,") != std::string::npos)
        return BadArguments(err, "run", "--password-stdin and @file:- both read standard input");
    if (!ReadPassword(&options, env.in, &error)) return BadArguments(err, "run", error);
    std::uint32_t first_address = 0;
    if (options.operation == batch::Operation::Network) factory::ParseIpv4(options.ip, &first_address);

    std::vector<Target> stored;
    std::string load_error;
    const bool loaded = LoadStored(&stored, &load_error);
    if (!loaded && options.targets.find("@stored") != std::string::npos)
        return BadArguments(err, "run", load_error);
    if (!loaded) err << "kpdevicetool-cli: " << load_error << "; no stored login is used\n";
    std::vector<Target> targets;
    std::string target_error;
    if (!ExpandTargets(options.targets, stored, DefaultLogin{options.user, options.password, options.port},
                       TargetFileReader(env.in), &targets, &target_error)) {
        return BadArguments(err, "run", target_error);
    }
    const bool needs_password =
        !options.password_given &&
        std::any_of(targets.begin(), targets.end(), [](const Target& target) { return !target.stored; });
    const bool ask = needs_password && static_cast<bool>(env.ask_password);
    if (needs_password && !ask) {
        const auto unstored =
            std::find_if(targets.begin(), targets.end(), [](const Target& target) { return !target.stored; });
        return BadArguments(err, "run",
                            unstored->ip +
                                " is not stored: give its login with --password-stdin, --password-file, "
                                "--password-env or --password");
    }
    if (options.operation == batch::Operation::Network) {
        std::uint32_t last = 0;
        if (!factory::AddIpv4(first_address, static_cast<std::uint32_t>(targets.size() - 1), &last)) {
            return BadArguments(err, "run",
                                "--ip " + options.ip + " leaves no address for the last of " +
                                    std::to_string(targets.size()) + " cameras");
        }
    }
    if (options.dry_run) {
        PrintDryRun(out, options, ReportArguments(options), targets, folder, ask);
        return kExitOk;
    }
    if (ask) {
        std::string password;
        if (!env.ask_password(options.user, &password) || password.empty())
            return BadArguments(err, "run", "no password was typed");
        for (Target& target : targets)
            if (!target.stored) target.password = password;
    }
    if (options.operation == batch::Operation::ExportConfig && _access(options.out.c_str(), kExists) != 0 &&
        _mkdir(options.out.c_str()) != 0) {
        return BadArguments(err, "run", "--out: cannot make the folder \"" + options.out + "\"");
    }
    const batch::Operation operation = *options.operation;
    std::shared_ptr<report::BatchReport> batch_report =
        report::BatchReport::Start(folder, batch::ReportName(operation), ReportArguments(options));
    // The folder was checked: what is left is a refused writer thread, and the batch runs on.
    if (!batch_report) err << "kpdevicetool-cli: cannot write a batch report in \"" << folder << "\"\n";

    std::vector<std::string> ips;
    std::vector<batch::Target> cameras;
    for (const Target& target : targets) {
        ips.push_back(target.ip);
        cameras.push_back(batch::Target{target.ip, target.port, target.user, target.password, 0, 0});
    }
    auto printer = std::make_shared<ProgressPrinter>(out, ips, env.terminal);
    const batch::Policy policy{options.parallel, options.canary, options.max_failures};
    auto run = batch::Batch::Create(operation, EngineArguments(options), std::move(cameras), policy, printer,
                                    batch_report);
    if (!run->Start()) err << "kpdevicetool-cli: " << batch::kReasonNoThread << '\n';
    bool stopped = false;
    do {
        if (!stopped && env.stop_requested && env.stop_requested()) {
            stopped = true;
            run->Stop();
            err << "kpdevicetool-cli: stopping: no camera starts any more, running ones finish\n";
        }
    } while (!run->WaitFor(kStopPoll));
    printer->Summary();
    if (batch_report) {
        if (batch_report->Flush()) {
            out << "report: " << batch_report->path() << '\n';
        } else {
            err << "kpdevicetool-cli: the batch report " << batch_report->path() << " could not be saved\n";
        }
    }
    return printer->failed() == 0 ? kExitOk : kExitFailed;
}

}  // namespace

int RunCommandLine(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
                   const Environment& env) {
    const ParseResult parsed = ParseArguments(args, env.getenv);
    if (!parsed.ok) return BadArguments(err, parsed.options.command, parsed.error);
    const Options& options = parsed.options;
    if (options.version) {
        out << VersionText();
        return kExitOk;
    }
    if (options.help) {
        out << HelpText(options.command, options.operation);
        return kExitOk;
    }
    if (options.command == "discover") return Discover(options, out, err);
    if (options.command == "list") return List(options, out, err);
    return Run(options, out, err, env);
}

}  // namespace cli
