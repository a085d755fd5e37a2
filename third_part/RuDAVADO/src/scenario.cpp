// Scenario files: a JSON description of the cameras on the network and, optionally, timings.
//
// {
//   "timing": { "call": 2, "boot": 15000, ... },            optional, names as RuDAVADO_SetTiming
//   "cameras": [ {
//     "model": "KP-LPR-V3",                                   required: KP-LPR-V3, KP-LPR-V1,
//                                                             KP-FACE-F2
//     "ip": "192.168.1.100",                                  required
//     "name", "port" (80), "netmask" ("255.255.255.0"), "gateway" (a.b.c.1), "dns", "mac",
//     "user" ("admin"), "password" ("tolvi"), "serial_high", "serial_low", "lens_code" (0),
//     "max_sessions" (8), "firmware", "online" (true), "clock_offset_s" (0, from the host's
//     local time), "uptime_s", "extended_discovery" (the model's), "params": {group: {item: v}},
//     "silent" (false: answers discovery only), "fill_texts" (false: fixed-size texts it answers
//     fill their fields, no NUL)
//   } ]
// }
#include <ctime>
#include <mutex>
#include <nlohmann/json.hpp>
#include <unordered_set>

#include "network.h"
#include "util.h"

namespace rudavado {
namespace {

using nlohmann::json;

// What a camera leaves the factory with, and so what the maintenance tool fills in by default.
const char* const kFactoryPassword = "tolvi";

const char* const kDefaultScenario = R"({
  "cameras": [
    {"name": "入口车牌1", "model": "KP-LPR-V3", "ip": "192.168.1.100", "serial_high": 1263534083, "serial_low": 1001, "lens_code": 2},
    {"name": "出口车牌1", "model": "KP-LPR-V3", "ip": "192.168.1.101", "serial_high": 1263534083, "serial_low": 1002, "lens_code": 2},
    {"name": "入口车牌2", "model": "KP-LPR-V3", "ip": "192.168.1.102", "port": 8080, "serial_high": 1263534083, "serial_low": 1003, "lens_code": 3},
    {"name": "出口车牌2", "model": "KP-LPR-V3", "ip": "192.168.1.103", "password": "Kp@2024", "serial_high": 1263534083, "serial_low": 1004, "lens_code": 3},
    {"name": "地库车牌", "model": "KP-LPR-V3", "ip": "192.168.1.104", "online": false, "serial_high": 1263534083, "serial_low": 1005, "lens_code": 1},
    {"name": "旧款车牌", "model": "KP-LPR-V1", "ip": "192.168.1.105", "serial_high": 1263534081, "serial_low": 2001, "firmware": "1.8.4.2", "lens_code": 1},
    {"name": "侧门车牌", "model": "KP-LPR-V3", "ip": "192.168.1.106", "serial_high": 1263534083, "serial_low": 1006, "lens_code": 4, "clock_offset_s": -3725},
    {"name": "货运车牌", "model": "KP-LPR-V3", "ip": "192.168.1.107", "serial_high": 1263534083, "serial_low": 1007, "firmware": "3.1.9.40", "lens_code": 5},
    {"name": "大堂人脸1", "model": "KP-FACE-F2", "ip": "192.168.1.110", "serial_high": 1263534338, "serial_low": 3001, "lens_code": 6},
    {"name": "大堂人脸2", "model": "KP-FACE-F2", "ip": "192.168.1.111", "serial_high": 1263534338, "serial_low": 3002, "lens_code": 6},
    {"name": "电梯人脸", "model": "KP-FACE-F2", "ip": "192.168.1.112", "serial_high": 1263534338, "serial_low": 3003, "lens_code": 0, "max_sessions": 2},
    {"name": "办公区人脸", "model": "KP-FACE-F2", "ip": "192.168.1.113", "serial_high": 1263534338, "serial_low": 3004, "lens_code": 6, "firmware": "2.0.8.3"}
  ]
})";

long long localOffsetSeconds() {
    std::time_t now = std::time(nullptr);
    std::tm tm{};
    localtime_r(&now, &tm);
    // The local clock read as if it were UTC; tm_gmtoff is not portable.
    return static_cast<long long>(timegm(&tm)) - static_cast<long long>(now);
}

std::string macFromSerial(uint32_t high, uint32_t low) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "00:1A:%02X:%02X:%02X:%02X", high & 0xFF, (low >> 16) & 0xFF,
                  (low >> 8) & 0xFF, low & 0xFF);
    return buf;
}

bool isVersion(const std::string& v) {
    int a, b, c, d;
    char tail;
    return std::sscanf(v.c_str(), "%d.%d.%d.%d%c", &a, &b, &c, &d, &tail) == 4 && a >= 0 && b >= 0 &&
           c >= 0 && d >= 0 && v.size() < 32;
}

template <typename T>
T get(const json& j, const char* key, T fallback) {
    auto it = j.find(key);
    if (it == j.end() || it->is_null()) return fallback;
    return it->get<T>();
}

bool parseCamera(const json& j, int index, Camera& c, std::string& error) {
    const std::string where = "camera " + std::to_string(index) + ": ";
    if (!j.is_object()) {
        error = where + "not an object";
        return false;
    }
    c.index = index;
    c.family = findFamily(get<std::string>(j, "model", ""));
    if (c.family == nullptr) {
        error = where + "unknown or missing model";
        return false;
    }
    c.ip = get<std::string>(j, "ip", "");
    uint32_t ip_value = 0;
    if (!isIpv4(c.ip, &ip_value)) {
        error = where + "missing or malformed ip";
        return false;
    }
    c.port = get<int>(j, "port", 80);
    c.netmask = get<std::string>(j, "netmask", "255.255.255.0");
    char gw[16];
    std::snprintf(gw, sizeof gw, "%u.%u.%u.1", ip_value >> 24, (ip_value >> 16) & 0xFF,
                  (ip_value >> 8) & 0xFF);
    c.gateway = get<std::string>(j, "gateway", gw);
    c.dns = get<std::string>(j, "dns", gw);
    if (c.port <= 0 || c.port > 65535 || !isNetmask(c.netmask) || !isIpv4(c.gateway) || !isIpv4(c.dns)) {
        error = where + "malformed port, netmask, gateway or dns";
        return false;
    }
    c.serial_high =
        get<uint32_t>(j, "serial_high", 0x4B500000u | static_cast<uint32_t>(c.family->hardware_index));
    c.serial_low = get<uint32_t>(j, "serial_low", 0x10000u + static_cast<uint32_t>(index));
    c.name = get<std::string>(j, "name", std::string(c.family->name) + "-" + std::to_string(ip_value & 0xFF));
    c.mac = get<std::string>(j, "mac", macFromSerial(c.serial_high, c.serial_low));
    c.user = get<std::string>(j, "user", "admin");
    c.password = get<std::string>(j, "password", kFactoryPassword);
    c.factory_ip = c.ip;
    c.factory_netmask = c.netmask;
    c.factory_gateway = c.gateway;
    c.factory_port = c.port;
    c.factory_user = c.user;
    c.factory_password = kFactoryPassword;
    c.lens_code = get<int>(j, "lens_code", 0);
    c.max_sessions = get<int>(j, "max_sessions", 8);
    c.extended_discovery = get<bool>(j, "extended_discovery", c.family->extended_discovery);
    c.silent = get<bool>(j, "silent", false);
    c.fill_texts = get<bool>(j, "fill_texts", false);
    c.firmware = get<std::string>(j, "firmware", c.family->factory_firmware);
    if (!isVersion(c.firmware) || c.max_sessions < 1 || c.name.size() > 63 || c.user.empty() ||
        c.user.size() > 63 || c.password.size() > 63 || c.mac.size() > 31) {
        error = where + "malformed firmware, max_sessions, name, user, password or mac";
        return false;
    }
    c.powered = get<bool>(j, "online", true);
    c.clock_offset_s = localOffsetSeconds() + get<long long>(j, "clock_offset_s", 0);
    const long long uptime = get<long long>(j, "uptime_s", 3 * 86400 + 3600 * (index % 24));
    c.boot_time = formatDateTime(hostUtcSeconds() + c.clock_offset_s - uptime);
    c.restoreDefaultValues();
    auto params = j.find("params");
    if (params != j.end()) {
        if (!params->is_object()) {
            error = where + "params is not an object";
            return false;
        }
        for (auto g = params->begin(); g != params->end(); ++g) {
            if (!g->is_object()) {
                error = where + "params group " + g.key() + " is not an object";
                return false;
            }
            for (auto it = g->begin(); it != g->end(); ++it) {
                size_t gi, ii;
                std::string value = it->is_string() ? it->get<std::string>() : it->dump();
                if (!c.findParam(g.key(), it.key(), gi, ii) || !valueFits(c.groups()[gi].items[ii], value)) {
                    error = where + "unknown parameter or bad value: " + g.key() + "/" + it.key();
                    return false;
                }
                c.values[gi][ii] = value;
            }
        }
    }
    return true;
}

}  // namespace

const char* defaultScenarioText() { return kDefaultScenario; }

bool readScenarioFile(const char* path, std::string& text, std::string& error) {
    if (path == nullptr || *path == '\0') {
        error = "no path";
        return false;
    }
    bool too_large = false;
    if (!readFile(path, text, kMaxScenarioBytes, &too_large)) {
        error = too_large ? "larger than 64 MiB" : "not a readable regular file";
        return false;
    }
    return true;
}

namespace {

std::mutex& loadErrorLock() {
    static std::mutex* lock = new std::mutex;
    return *lock;
}

std::string& loadErrorText() {
    static std::string* text = new std::string;
    return *text;
}

}  // namespace

void setLoadError(const std::string& error) {
    std::lock_guard<std::mutex> lk(loadErrorLock());
    loadErrorText() = error;
}

std::string lastLoadError() {
    std::lock_guard<std::mutex> lk(loadErrorLock());
    return loadErrorText();
}

double defaultTiming(Timing t) {
    switch (t) {
        case Timing::Call:
            return 2;
        case Timing::Login:
            return 20;
        case Timing::ConnectTimeout:
            return 3000;
        case Timing::DiscoverySpread:
            return 800;
        case Timing::Boot:
            return 15000;
        case Timing::Upgrade:
            return 20000;
        case Timing::Frame:
            return 40;
        case Timing::Count:
            break;
    }
    return 0;
}

bool parseScenario(const std::string& json_text, std::vector<Camera>& cameras,
                   std::array<double, static_cast<size_t>(Timing::Count)>& timings, std::string& error) {
    try {
        const json root = json::parse(json_text);
        if (!root.is_object()) {
            error = "the scenario is not a JSON object";
            return false;
        }
        auto timing = root.find("timing");
        if (timing != root.end()) {
            if (!timing->is_object()) {
                error = "timing is not an object";
                return false;
            }
            for (auto it = timing->begin(); it != timing->end(); ++it) {
                Timing t;
                if (!timingByName(it.key().c_str(), t) || !it->is_number() || it->get<double>() < 0) {
                    error = "unknown timing or bad value: " + it.key();
                    return false;
                }
                timings[static_cast<size_t>(t)] = it->get<double>();
            }
        }
        auto list = root.find("cameras");
        if (list == root.end() || !list->is_array()) {
            error = "cameras is missing or not an array";
            return false;
        }
        cameras.clear();
        cameras.reserve(list->size());
        std::unordered_set<std::string> ips;
        std::unordered_set<uint64_t> serials;
        for (size_t i = 0; i < list->size(); ++i) {
            Camera c;
            if (!parseCamera((*list)[i], static_cast<int>(i), c, error)) return false;
            const uint64_t serial = static_cast<uint64_t>(c.serial_high) << 32 | c.serial_low;
            if (!ips.insert(c.ip).second || !serials.insert(serial).second) {
                error = "camera " + std::to_string(i) + ": address or serial already used";
                return false;
            }
            cameras.push_back(std::move(c));
        }
        return true;
    } catch (const std::exception& e) {
        error = std::string("scenario: ") + e.what();
        return false;
    }
}

}  // namespace rudavado
