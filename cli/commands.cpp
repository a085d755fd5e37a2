#include "commands.h"

#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <sstream>

#include "RuDAVADO.h"
#include "batch_report.h"
#include "batch_runner.h"
#include "batch_verify.h"
#include "databasemanager.h"
#include "ipv4.h"
#include "output_format.h"
#include "progress_printer.h"
#include "report_recorder.h"
#include "sdkbase.h"
#include "targets.h"

namespace cli {

namespace {

const char kDeviceListFile[] = "devicedatamanager.xls";
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

struct Found {
    std::string name, ip, netmask, gateway, firmware, mac, boot_time, model;
    int port = 0;
    int kind = -1;  // KPLPRC_DEVICE_*, -1 not known
    unsigned int serial_high = 0, serial_low = 0;
};

struct Discovery {
    std::mutex mutex;
    std::map<std::string, Found> found;  // by address
};

void KPLPRC_CALL OnFoundBasic(const char* name, const char* ip, unsigned short port, unsigned short,
                              unsigned int serial_low, unsigned int serial_high, const char* netmask,
                              const char* gateway, void* user_data) {
    auto* discovery = static_cast<Discovery*>(user_data);
    std::lock_guard<std::mutex> lock(discovery->mutex);
    Found& found = discovery->found[ip ? ip : ""];
    found.name = name ? name : "";
    found.ip = ip ? ip : "";
    found.port = port;
    found.serial_low = serial_low;
    found.serial_high = serial_high;
    found.netmask = netmask ? netmask : "";
    found.gateway = gateway ? gateway : "";
}

void KPLPRC_CALL OnFoundExtended(const char* name, const char* ip, unsigned short port, unsigned short port2,
                                 unsigned int serial_low, unsigned int serial_high, const char* netmask,
                                 const char* gateway, int find_value, const char* firmware, int,
                                 const char* mac, const char* boot_time, void* user_data) {
    OnFoundBasic(name, ip, port, port2, serial_low, serial_high, netmask, gateway, user_data);
    auto* discovery = static_cast<Discovery*>(user_data);
    std::lock_guard<std::mutex> lock(discovery->mutex);
    Found& found = discovery->found[ip ? ip : ""];
    found.kind = find_value;
    found.firmware = firmware ? firmware : "";
    found.mac = mac ? mac : "";
    found.boot_time = boot_time ? boot_time : "";
}

std::string SerialText(unsigned int high, unsigned int low) {
    char text[32];
    std::snprintf(text, sizeof(text), "%08x-%08x", high, low);
    return text;
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

    std::vector<Found> cameras;
    for (auto& entry : discovery.found) cameras.push_back(entry.second);
    // Older models answer the basic search only: what it leaves out, the camera tells without a login.
    for (Found& camera : cameras) {
        KPLPRC_HWINFO_EX info{};
        if (KpLPRClient_GetHwInfoEx(camera.ip.c_str(), camera.port, &info) != 0) continue;
        camera.model = info.model;
        if (camera.kind < 0) camera.kind = info.device_type;
        if (camera.firmware.empty()) camera.firmware = info.firmware;
        if (camera.mac.empty()) camera.mac = info.mac;
        if (camera.boot_time.empty()) camera.boot_time = info.boot_time;
    }
    std::sort(cameras.begin(), cameras.end(), [](const Found& a, const Found& b) {
        std::uint32_t x = 0, y = 0;
        factory::ParseIpv4(a.ip, &x);
        factory::ParseIpv4(b.ip, &y);
        return x < y;
    });

    Table table;
    table.columns = {"ip",  "port",    "serial",  "kind",      "model", "firmware",
                     "mac", "netmask", "gateway", "boot_time", "name"};
    table.numeric = {false, true};
    for (const Found& camera : cameras) {
        const char* kind = camera.kind == KPLPRC_DEVICE_PLATE  ? "plate"
                           : camera.kind == KPLPRC_DEVICE_FACE ? "face"
                                                               : "";
        table.rows.push_back({camera.ip, std::to_string(camera.port),
                              SerialText(camera.serial_high, camera.serial_low), kind, camera.model,
                              camera.firmware, camera.mac, camera.netmask, camera.gateway, camera.boot_time,
                              camera.name});
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

std::string ExportFileName(const std::string& folder, const std::string& ip) {
    SYSTEMTIME now{};
    GetLocalTime(&now);
    char stamp[64] = {0};
    std::snprintf(stamp, sizeof(stamp), "%d%02d%02d%02d%02d%02d", now.wYear, now.wMonth, now.wDay, now.wHour,
                  now.wMinute, now.wSecond);
    char name[64] = {0};
    std::snprintf(name, sizeof(name), "%s_%s.cfg", ip.c_str(), stamp);
    std::string path = folder;
    if (!path.empty() && path.back() != '/' && path.back() != '\\') path += '/';
    return path + name;
}

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

factory::dealmodule::LoginData LoginOf(const Target& target) {
    return factory::dealmodule::LoginData{target.ip, target.port, target.user, target.password};
}

// The step reports of a job whose success is checked: the final "完成" waits for `check`, which
// runs on the camera's worker after the job and reports through `reports.verification`.
factory::dealmodule::ProgressCallback CheckAfterSuccess(const BatchRunner::Deal& deal,
                                                        const BatchRunner::Reports& reports, bool upgrade,
                                                        std::function<void()> check) {
    std::weak_ptr<factory::dealmodule> weak = deal;
    return [weak, progress = reports.progress, check = std::move(check), upgrade](bool ok,
                                                                                  const std::string& text) {
        const bool success = text == "完成" && (ok || upgrade);
        auto deal = weak.lock();
        if (!success || !deal) return progress(ok, text);
        deal->PostJob([check, progress, ok, text] {
            check();
            progress(ok, text);
        });
        return true;
    };
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
    return text;
}

ResultKind KindOf(Operation operation) {
    if (operation == Operation::Upgrade) return ResultKind::Upgrade;
    if (operation == Operation::ExportConfig) return ResultKind::Export;
    return ResultKind::Setting;
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

    using Deal = BatchRunner::Deal;
    using Reports = BatchRunner::Reports;
    // What each camera tells about itself without a login, asked first on its worker.
    std::vector<std::shared_ptr<KPLPRC_HWINFO_EX>> identities(targets.size());
    for (auto& identity : identities) identity = std::make_shared<KPLPRC_HWINFO_EX>();
    BatchRunner::Start start;
    switch (options.operation) {
        case Operation::Upgrade:
            start = [&](const Deal& deal, int i, const Reports& reports) {
                const factory::dealmodule::LoginData login = LoginOf(targets[i]);
                auto before = std::make_shared<std::string>();
                deal->PostJob([login, before] {
                    std::string why;
                    factory::ReadFirmwareVersion(login, before.get(), &why);
                });
                deal->Upgrade(login.ip, login.port, login.user, login.password, options.file,
                              CheckAfterSuccess(deal, reports, true,
                                                [login, before, file = options.file, reports] {
                                                    std::string after;
                                                    const factory::Verification check =
                                                        factory::VerifyUpgrade(login, file, *before, &after);
                                                    reports.firmware(*before, after);
                                                    reports.verification(check.verified, check.text);
                                                }),
                              reports.upgrade_progress);
            };
            break;
        case Operation::Import:
            start = [&](const Deal& deal, int i, const Reports& reports) {
                const Target& t = targets[i];
                deal->ImportParam(t.ip, t.port, t.user, t.password, options.file, reports.progress);
            };
            break;
        case Operation::Password:
            start = [&](const Deal& deal, int i, const Reports& reports) {
                const Target& t = targets[i];
                deal->SetPassword(t.ip, t.port, t.user, t.password, options.new_password, reports.progress);
            };
            break;
        case Operation::Network:
            start = [&](const Deal& deal, int i, const Reports& reports) {
                std::uint32_t address = 0;
                factory::AddIpv4(first_address, static_cast<std::uint32_t>(i), &address);
                factory::dealmodule::LoginData moved = LoginOf(targets[i]);
                moved.ip = factory::FormatIpv4(address);
                // The address change finds the camera by the serial words it told before.
                deal->PostJob([deal, identity = identities[i], moved, gateway = options.gateway,
                               mask = options.mask,
                               progress = CheckAfterSuccess(deal, reports, false, [moved, reports] {
                                   const factory::Verification check = factory::VerifyAddress(moved);
                                   reports.verification(check.verified, check.text);
                               })] {
                    if (identity->serial[0] == '\0') {
                        progress(false, "设备无应答");
                        return;
                    }
                    deal->ModifyIpJob(identity->serial_high, identity->serial_low, moved.ip, gateway, mask,
                                      progress);
                });
            };
            break;
        case Operation::Restore:
            start = [&](const Deal& deal, int i, const Reports& reports) {
                const Target& t = targets[i];
                deal->Restore(t.ip, t.port, t.user, t.password,
                              options.restore_full ? factory::SDK_RESTORE_FULL : factory::SDK_RESTORE_PART,
                              reports.progress);
            };
            break;
        case Operation::Time:
            start = [&](const Deal& deal, int i, const Reports& reports) {
                const Target& t = targets[i];
                deal->SetTime(t.ip, t.port, t.user, t.password, reports.progress);
            };
            break;
        case Operation::Reboot:
            start = [&](const Deal& deal, int i, const Reports& reports) {
                const Target& t = targets[i];
                deal->Reboot(t.ip, t.port, t.user, t.password, reports.progress);
            };
            break;
        case Operation::Upload:
            start = [&](const Deal& deal, int i, const Reports& reports) {
                const Target& t = targets[i];
                deal->Upload(t.ip, t.port, t.user, t.password, !options.logo.empty(), options.logo,
                             !options.bg.empty(), options.bg, !options.css.empty(), options.css,
                             reports.progress);
            };
            break;
        case Operation::ExportConfig:
            start = [&](const Deal& deal, int i, const Reports& reports) {
                factory::dealmodule::LoginData login{targets[i].ip, targets[i].port, targets[i].user,
                                                     targets[i].password};
                deal->PostJob(
                    [deal, login, path = ExportFileName(options.out, login.ip), progress = reports.progress] {
                        // Every group and item as the camera offers them: the export panel's default.
                        const KP_PARAM_IMPORT_ABILITY_V2* ability = nullptr;
                        bool reported = false;
                        deal->ReadAbility(
                            login.ip, login.port, login.user, login.password,
                            [&](int, const KP_PARAM_IMPORT_ABILITY_V2& record) { ability = &record; },
                            [&](bool ok, const std::string& text) {
                                reported = reported || !ok;
                                return progress(ok, text);
                            });
                        if (ability == nullptr) {
                            if (!reported) progress(false, std::string());
                            return;
                        }
                        deal->ExportParamJob(login, ability, path, progress);
                    });
            };
            break;
        default:
            return BadArguments(err, "run", "no operation given");
    }

    // The operation is started from the worker once the camera has answered: a camera that does
    // not answer at all fails at once instead of waiting out the connect time-out a second time
    // at the login.
    BatchRunner::Start identify_then_start = [&](const Deal& deal, int i, const Reports& reports) {
        deal->PostJob([deal, i, identity = identities[i], target = targets[i], reports, &start] {
            if (KpLPRClient_GetHwInfoEx(target.ip.c_str(), target.port, identity.get()) != 0) {
                const bool silent = KpLPRClient_GetLastError() == KPLPRC_ERR_TIMEOUT;
                std::memset(identity.get(), 0, sizeof(KPLPRC_HWINFO_EX));
                if (silent) {
                    reports.identify(std::string());
                    reports.progress(false, "设备无应答");
                    return;
                }
            }
            reports.identify(identity->serial);
            start(deal, i, reports);
        });
    };

    std::vector<std::string> ips;
    ips.reserve(targets.size());
    for (const Target& target : targets) ips.push_back(target.ip);
    const std::string folder =
        options.reports.empty() ? report::ReportsFolderBesideDeviceList() : options.reports;
    std::shared_ptr<report::BatchReport> batch_report =
        report::BatchReport::Start(folder, options.operation_name, ReportArguments(options));
    if (!batch_report) err << "kpdevicetool-cli: cannot write a batch report in \"" << folder << "\"\n";

    ProgressPrinter printer(out, ips, env.terminal);
    BatchRunner runner(KindOf(options.operation));
    if (batch_report) {
        ReportRecorder recorder(batch_report, ips);
        ObserverPair both(printer, recorder);
        runner.Run(static_cast<int>(targets.size()), options.parallel, identify_then_start, both);
    } else {
        runner.Run(static_cast<int>(targets.size()), options.parallel, identify_then_start, printer);
    }
    printer.Summary();
    if (batch_report) {
        if (batch_report->Flush()) {
            out << "report: " << batch_report->path() << '\n';
        } else {
            err << "kpdevicetool-cli: the batch report " << batch_report->path() << " could not be saved\n";
        }
    }
    return printer.failed() == 0 ? kExitOk : kExitFailed;
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
    if (options.command == "discover") return Discover(options, out, err);
    if (options.command == "list") return List(options, out, err);
    return Run(options, out, err, env);
}

}  // namespace cli
