#include "commands.h"

#include <windows.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
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
#include "kp_platform.h"
#include "output_format.h"
#include "progress_printer.h"
#include "sdkbase.h"
#include "targets.h"
#include "worker.h"

namespace cli {

namespace {

const char kDeviceListFile[] = "devicedatamanager.xls";
// How often the command line looks for a stop request while a batch runs.
constexpr std::chrono::milliseconds kStopPoll(50);
// Cameras identified side by side after listening; more wait for a free thread.
constexpr int kIdentifyThreads = 256;
// How long identifying may take after listening: one connect time-out of the camera library
// (3 s) and a margin, scaled like every wait. At least the floor in real time: a loaded computer
// starts hundreds of threads slower than a fast (simulated) network answers.
constexpr double kIdentifyAllowanceMs = 5000;
constexpr std::chrono::milliseconds kIdentifyAllowanceFloor(1000);
// _access modes.
constexpr int kExists = 0;
constexpr int kReadable = 4;

int BadArguments(std::ostream& err, const std::string& command, const std::string& error) {
    err << "kpdevicetool-cli: " << error << '\n' << UsageText(command);
    return kExitBadArguments;
}

bool ReadFile(const std::string& path, std::string* text) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    std::ostringstream buffer;
    buffer << in.rdbuf();
    *text = buffer.str();
    return !in.bad();
}

// The stored device list; empty when there is none. Never creates the file.
bool LoadStored(std::vector<Target>* stored, std::string* error) {
    stored->clear();
    if (_access(kDeviceListFile, kExists) != 0) return true;
    factory::databasemanager* db = factory::databasemanager::instance();
    if (db == nullptr || !db->init()) {
        *error = std::string("cannot open the stored device list ") + kDeviceListFile;
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

struct Found {
    DeviceInfo device;
    bool kind_known = false;
    std::string model;
};

// What the identifying jobs hand back. Shared with them: a job still waiting for a silent camera
// when the command ends finishes on its own, into this.
struct Identification {
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<Found> cameras;
    int remaining = 0;
};

// Older models answer the basic search only: what it leaves out, each camera tells without a
// login. Side by side, so that made-up or silent replies cost one time-out together, not one each;
// a camera that has not answered by `deadline` is listed as discovery reported it.
std::vector<Found> Identify(std::vector<Found> reported, std::chrono::steady_clock::time_point deadline) {
    auto shared = std::make_shared<Identification>();
    shared->cameras = reported;
    factory::Worker::Options pool;
    pool.name = "discover identification";
    pool.threads = std::max(1, std::min(kIdentifyThreads, static_cast<int>(reported.size())));
    factory::Worker worker(pool);
    shared->remaining = static_cast<int>(reported.size());
    const bool started = worker.Start();
    for (size_t i = 0; i < reported.size(); ++i) {
        const bool posted = started && worker.Post([shared, i, camera = reported[i]]() mutable {
            factory::CompleteFromCamera(&camera.device, camera.kind_known, &camera.model);
            std::lock_guard<std::mutex> lock(shared->mutex);
            shared->cameras[i] = std::move(camera);
            --shared->remaining;
            shared->changed.notify_all();
        });
        if (!posted) {
            std::lock_guard<std::mutex> lock(shared->mutex);
            --shared->remaining;
        }
    }
    std::unique_lock<std::mutex> lock(shared->mutex);
    shared->changed.wait_until(lock, deadline, [&] { return shared->remaining <= 0; });
    std::vector<Found> cameras = shared->cameras;
    lock.unlock();
    // Jobs not yet taken are dropped; the worker's threads end after the jobs under way, unwaited.
    worker.Clear();
    return cameras;
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

    std::vector<Found> reported;
    for (auto& entry : discovery.found) {
        const bool kind_known = discovery.extended.count(entry.first) > 0;
        Found found{entry.second, kind_known, std::string()};
        // Unknown until the camera tells, and blank if it never does.
        if (!kind_known) found.device.find_value = -1;
        reported.push_back(std::move(found));
    }
    const auto allowance = std::max<std::chrono::steady_clock::duration>(
        std::chrono::microseconds(kp::scaledMicroseconds(kIdentifyAllowanceMs)), kIdentifyAllowanceFloor);
    std::vector<Found> cameras = Identify(std::move(reported), std::chrono::steady_clock::now() + allowance);
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

// Checks the files an operation reads; what is wrong, or empty.
std::string CheckInputFiles(const Options& options) {
    auto readable = [](const std::string& path) {
        // A firmware path may join packages with "|": each must be there.
        size_t start = 0;
        while (start <= path.size()) {
            size_t bar = path.find('|', start);
            if (bar == std::string::npos) bar = path.size();
            const std::string one = path.substr(start, bar - start);
            if (one.empty() || _access(one.c_str(), kReadable) != 0)
                return one.empty() ? std::string("\"\"") : one;
            start = bar + 1;
        }
        return std::string();
    };
    std::vector<std::pair<const char*, std::string>> files;
    if (options.operation == Operation::Upgrade || options.operation == Operation::Import)
        files.emplace_back("--file", options.file);
    if (options.operation == Operation::Upload) {
        if (!options.logo.empty()) files.emplace_back("--logo", options.logo);
        if (!options.bg.empty()) files.emplace_back("--bg", options.bg);
        if (!options.css.empty()) files.emplace_back("--css", options.css);
    }
    for (const auto& file : files) {
        const std::string missing = options.operation == Operation::Upgrade        ? readable(file.second)
                                    : _access(file.second.c_str(), kReadable) != 0 ? file.second
                                                                                   : std::string();
        if (!missing.empty()) return std::string(file.first) + ": cannot read \"" + missing + "\"";
    }
    return std::string();
}

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
    if (options.operation == Operation::Restore) text += options.restore_full ? " --full" : " --partial";
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

batch::Operation EngineOperation(Operation operation) {
    switch (operation) {
        case Operation::Upgrade:
            return batch::Operation::Upgrade;
        case Operation::Import:
            return batch::Operation::ImportConfig;
        case Operation::Password:
            return batch::Operation::Password;
        case Operation::Network:
            return batch::Operation::Network;
        case Operation::Restore:
            return batch::Operation::Restore;
        case Operation::Time:
            return batch::Operation::Time;
        case Operation::Reboot:
            return batch::Operation::Reboot;
        case Operation::Upload:
            return batch::Operation::Upload;
        case Operation::ExportConfig:
        default:
            return batch::Operation::ExportConfig;
    }
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

// One record per camera, in target order, for scripts.
Table ResultTable(const Options& options, const std::vector<Target>& targets,
                  const std::vector<batch::Final>& finals, const std::string& report_path) {
    Table table;
    table.columns = {"ip",     "port",         "operation",       "status",         "ok",
                     "reason", "verification", "firmware_before", "firmware_after", "report"};
    table.numeric = {false, true};
    table.boolean = {false, false, false, false, true};
    for (size_t i = 0; i < targets.size() && i < finals.size(); ++i) {
        const batch::Final& final = finals[i];
        table.rows.push_back({targets[i].ip, std::to_string(targets[i].port), options.operation_name,
                              final.text, final.ok ? "true" : "false", final.reason, final.verification,
                              final.firmware_before, final.firmware_after, report_path});
    }
    return table;
}

int Run(const Options& options, std::ostream& out, std::ostream& err, const Environment& env) {
    const std::string error = CheckInputFiles(options);
    if (!error.empty()) return BadArguments(err, "run", error);
    std::uint32_t first_address = 0;
    if (options.operation == Operation::Network) factory::ParseIpv4(options.ip, &first_address);

    std::vector<Target> stored;
    std::string load_error;
    const bool loaded = LoadStored(&stored, &load_error);
    std::vector<Target> targets;
    std::string target_error;
    if (!ExpandTargets(options.targets, stored, DefaultLogin{options.user, options.password, options.port},
                       ReadFile, &targets, &target_error)) {
        if (!loaded) target_error += " (" + load_error + ")";
        return BadArguments(err, "run", target_error);
    }
    if (!options.password_given) {
        for (const Target& target : targets) {
            if (!target.stored) {
                return BadArguments(
                    err, "run",
                    target.ip + " is not stored: give its login with --password or --password-env");
            }
        }
    }
    if (!loaded && options.targets.find("@stored") != std::string::npos)
        return BadArguments(err, "run", load_error);
    if (options.operation == Operation::Network) {
        std::uint32_t last = 0;
        if (!factory::AddIpv4(first_address, static_cast<std::uint32_t>(targets.size() - 1), &last)) {
            return BadArguments(err, "run",
                                "--ip " + options.ip + " leaves no address for the last of " +
                                    std::to_string(targets.size()) + " cameras");
        }
    }
    if (options.operation == Operation::ExportConfig && _access(options.out.c_str(), kExists) != 0 &&
        _mkdir(options.out.c_str()) != 0) {
        return BadArguments(err, "run", "--out: cannot make the folder \"" + options.out + "\"");
    }

    std::vector<std::string> ips;
    std::vector<batch::Target> cameras;
    for (const Target& target : targets) {
        ips.push_back(target.ip);
        cameras.push_back(batch::Target{target.ip, target.port, target.user, target.password, 0, 0});
    }
    const batch::Operation operation = EngineOperation(options.operation);
    const std::string folder =
        options.reports.empty() ? report::ReportsFolderBesideDeviceList() : options.reports;
    std::shared_ptr<report::BatchReport> batch_report =
        report::BatchReport::Start(folder, batch::ReportName(operation), ReportArguments(options));
    if (!batch_report) err << "kpdevicetool-cli: cannot write a batch report in \"" << folder << "\"\n";

    const bool records = options.format != Format::Text;
    auto printer = std::make_shared<ProgressPrinter>(out, ips,
                                                     records        ? ProgressPrinter::Mode::RecordsOnly
                                                     : env.terminal ? ProgressPrinter::Mode::Terminal
                                                                    : ProgressPrinter::Mode::Plain);
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
    std::string report_path;
    if (batch_report) {
        if (batch_report->Flush()) {
            report_path = batch_report->path();
            if (!records) out << "report: " << report_path << '\n';
        } else {
            err << "kpdevicetool-cli: the batch report " << batch_report->path() << " could not be saved\n";
        }
    }
    if (records) {
        WriteTable(out, ResultTable(options, targets, printer->finals(), report_path), options.format);
        err << printer->succeeded() << " succeeded, " << printer->failed() << " failed\n";
    }
    return printer->failed() == 0 ? kExitOk : kExitFailed;
}

}  // namespace

int RunCommandLine(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
                   const Environment& env) {
    const ParseResult parsed = ParseArguments(args, env.getenv);
    if (!parsed.ok) return BadArguments(err, parsed.options.command, parsed.error);
    const Options& options = parsed.options;
    if (options.help) {
        out << HelpText(options.command);
        return kExitOk;
    }
    // The stored list is only read: no log file for it.
    if (env.start_log) env.start_log(options.verbose, options.command != "list");
    if (options.command == "discover") return Discover(options, out, err);
    if (options.command == "list") return List(options, out, err);
    return Run(options, out, err, env);
}

}  // namespace cli
