#include "onvif_backend.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "../api_support.h"
#include "../firmware.h"
#include "../time_scale.h"
#include "../util.h"
#include "backend_detail.h"
#include "rtsp_play.h"

namespace rudavado {
namespace onvif {

using namespace detail;

namespace {

// POSIX TZ of the host's offset at `t`, e.g. "UTC-8" east of Greenwich, "UTC+5:30" west.
std::string hostTimeZone(std::time_t t) {
    std::tm lt{};
    localtime_r(&t, &lt);
    const long offset = lt.tm_gmtoff;
    const long minutes = std::labs(offset) / 60;
    char text[32];
    if (minutes % 60 == 0) {
        std::snprintf(text, sizeof text, "UTC%c%ld", offset > 0 ? '-' : '+', minutes / 60);
    } else {
        std::snprintf(text, sizeof text, "UTC%c%ld:%02ld", offset > 0 ? '-' : '+', minutes / 60,
                      minutes % 60);
    }
    return text;
}

}  // namespace

OnvifBackend::OnvifBackend() = default;

OnvifBackend::~OnvifBackend() { cleanup(); }

size_t OnvifBackend::openSessions() {
    std::lock_guard<std::mutex> lk(mu_);
    return sessions_.size();
}

// ---- Set-up ------------------------------------------------------------------------------------

int OnvifBackend::setup() {
    if (!httpGlobalInit()) return fail(KPLPRC_ERR_DEVICE);
    std::lock_guard<std::mutex> lk(mu_);
    if (setup_) return succeed();
    stop_ = false;
    stopping_ = false;
    try {
        poll_thread_ = std::thread([this] { pollLoop(); });
    } catch (...) {
        return fail(KPLPRC_ERR_DEVICE);
    }
    setup_ = true;
    return succeed();
}

int OnvifBackend::cleanup() {
    stopFindDevice();
    setCommonNotifyCallBack(nullptr, nullptr);
    std::map<uint64_t, std::shared_ptr<Session>> sessions;
    std::map<int, std::shared_ptr<RtspPlay>> plays;
    std::thread poller;
    {
        std::lock_guard<std::mutex> lk(mu_);
        if (!setup_) return fail(KPLPRC_ERR_NOT_SETUP);
        setup_ = false;
        stop_ = true;
        stopping_ = true;
        sessions.swap(sessions_);
        plays.swap(plays_);
        pending_.clear();
        for (auto& s : sessions) s.second->upgrade.cancel = true;
        poller = std::move(poll_thread_);
    }
    cv_.notify_all();
    for (auto& p : plays) p.second->stop();
    for (auto& s : sessions) {
        if (s.second->upgrade.thread.joinable()) s.second->upgrade.thread.join();
    }
    if (poller.joinable()) poller.join();
    std::lock_guard<std::mutex> lk(mu_);
    devices_.clear();
    return succeed();
}

// ---- Discovery ---------------------------------------------------------------------------------

int OnvifBackend::startFindDeviceEx(KPLPRC_FIND_DEVICE_CALLBACK_EX callback, void* user_data) {
    if (callback == nullptr) return fail(KPLPRC_ERR_PARAMETER);
    {
        std::lock_guard<std::recursive_mutex> cb(cb_mu_);
        find_ex_ = callback;
        find_ex_user_ = user_data;
    }
    return startDiscovery();
}

int OnvifBackend::startFindDeviceV2(KPLPRC_FIND_DEVICE_CALLBACK_V2 callback, void* user_data) {
    if (callback == nullptr) return fail(KPLPRC_ERR_PARAMETER);
    {
        std::lock_guard<std::recursive_mutex> cb(cb_mu_);
        find_v2_ = callback;
        find_v2_user_ = user_data;
    }
    return startDiscovery();
}

int OnvifBackend::startDiscovery() {
    {
        std::lock_guard<std::mutex> lk(mu_);
        if (!setup_) return fail(KPLPRC_ERR_NOT_SETUP);
    }
    {
        std::lock_guard<std::recursive_mutex> cb(cb_mu_);
        searching_ = true;
        reported_.clear();
    }
    if (!discovery_.start([this](const Announcement& a) { report(a); })) return fail(KPLPRC_ERR_DEVICE);
    return succeed();
}

int OnvifBackend::stopFindDevice() {
    {
        std::lock_guard<std::recursive_mutex> cb(cb_mu_);
        searching_ = false;
        find_ex_ = nullptr;
        find_v2_ = nullptr;
    }
    discovery_.stop();
    return succeed();
}

void OnvifBackend::report(const Announcement& a) {
    noteAnnouncement(a);
    if (a.kind == Announcement::Bye) return;
    std::lock_guard<std::recursive_mutex> cb(cb_mu_);
    if (!searching_) return;
    // Once per search, unless the device announces that it (re)started.
    bool& seen = reported_[a.endpoint];
    if (seen && a.kind != Announcement::Hello) return;
    seen = true;
    std::string firmware, mac = a.mac;
    {
        std::lock_guard<std::mutex> lk(mu_);
        if (auto d = deviceAt(a.ip, a.port)) {
            firmware = d->info.firmware;
            if (mac.empty()) mac = d->mac;
        }
    }
    const std::string name = !a.name.empty() ? a.name : !a.hardware.empty() ? a.hardware : "ONVIF";
    const unsigned short port = static_cast<unsigned short>(a.port);
    if (find_v2_ != nullptr) {
        // The kind is a plate camera's, as GetHwInfoEx says: ONVIF tells no kind.
        find_v2_(name.c_str(), a.ip.c_str(), port, 554, a.serial_low, a.serial_high, "", "",
                 KPLPRC_DEVICE_PLATE, firmware.c_str(), 0, mac.c_str(), "", find_v2_user_);
    } else if (find_ex_ != nullptr) {
        find_ex_(name.c_str(), a.ip.c_str(), port, 554, a.serial_low, a.serial_high, "", "", find_ex_user_);
    }
}

void OnvifBackend::noteAnnouncement(const Announcement& a) {
    std::lock_guard<std::mutex> lk(mu_);
    std::shared_ptr<Device> d;
    for (auto& known : devices_) {
        if (known->endpoint == a.endpoint) d = known;
    }
    if (a.kind == Announcement::Bye) return;
    if (d == nullptr) {
        d = std::make_shared<Device>();
        d->endpoint = a.endpoint;
        d->serial_high = a.serial_high;
        d->serial_low = a.serial_low;
        devices_.push_back(d);
    }
    d->ip = a.ip;
    d->port = a.port;
    d->url = a.xaddr;
    if (!a.mac.empty()) d->mac = a.mac;
}

std::shared_ptr<OnvifBackend::Device> OnvifBackend::deviceAt(const std::string& ip, int port) {
    for (auto& d : devices_) {
        if (d->ip == ip && d->port == port) return d;
    }
    return nullptr;
}

std::shared_ptr<OnvifBackend::Device> OnvifBackend::deviceBySerial(uint32_t high, uint32_t low) {
    for (auto& d : devices_) {
        if (d->serial_high == high && d->serial_low == low) return d;
    }
    return nullptr;
}

int OnvifBackend::setCommonNotifyCallBack(KPLPRC_COMMON_NOTIFY_CALLBACK callback, void* user_data) {
    if (callback != nullptr) {
        std::lock_guard<std::mutex> lk(mu_);
        if (!setup_) return fail(KPLPRC_ERR_NOT_SETUP);
    }
    std::lock_guard<std::recursive_mutex> cb(cb_mu_);
    notify_ = callback;
    notify_user_ = user_data;
    return succeed();
}

// ---- Sessions ----------------------------------------------------------------------------------

std::shared_ptr<OnvifBackend::Session> OnvifBackend::findSession(KPLPRC_HANDLE handle) {
    std::lock_guard<std::mutex> lk(mu_);
    auto it = sessions_.find(fromHandle(handle));
    return it == sessions_.end() ? nullptr : it->second;
}

KPLPRC_HANDLE OnvifBackend::open(const char* ip, int port, const char* user, const char* password) {
    if (ip == nullptr || user == nullptr || password == nullptr || !isIpv4(ip) || port <= 0 || port > 65535) {
        fail(KPLPRC_ERR_PARAMETER);
        return nullptr;
    }
    std::string url, endpoint;
    bool clock_fresh = false;
    long long clock_offset = 0;
    std::shared_ptr<HttpConnection> spare;
    {
        std::lock_guard<std::mutex> lk(mu_);
        if (!setup_) {
            fail(KPLPRC_ERR_NOT_SETUP);
            return nullptr;
        }
        auto known = deviceAt(ip, port);
        url = known != nullptr && !known->url.empty() ? known->url : deviceUrl(ip, port);
        if (known != nullptr && known->endpoint.compare(0, 7, "serial:") != 0) endpoint = known->endpoint;
        // A batch asks each camera who it is just before it logs in: that read of the clock serves.
        if (known != nullptr && known->clock_known &&
            SteadyClock::now() - known->clock_read_at < std::chrono::seconds(30)) {
            clock_fresh = true;
            clock_offset = known->clock_offset_s;
        }
        if (known != nullptr && known->spare != nullptr && known->spare_url == url) spare.swap(known->spare);
    }
    auto client = std::make_unique<DeviceClient>(url, Credentials{user, password}, kCallTimeouts);
    if (spare != nullptr) client->swapConnection(*spare);
    DeviceInformation info;
    int code = KPLPRC_ERR_NONE;
    if (clock_fresh) {
        client->setClockOffset(clock_offset);
    } else {
        code = client->readClock();
    }
    if (code == KPLPRC_ERR_NONE) code = client->getDeviceInformation(info);
    if (code != KPLPRC_ERR_NONE) {
        fail(code);
        return nullptr;
    }
    client->findServices();  // the media address is looked up again when a preview needs it
    // A device found by a search is known by its endpoint already; each request saved counts
    // when a batch logs in to hundreds at once.
    const bool have_endpoint = !endpoint.empty() || client->getEndpointReference(endpoint) == KPLPRC_ERR_NONE;
    NetworkSettings net;
    const bool have_net = client->getNetwork(net, false) == KPLPRC_ERR_NONE;

    std::lock_guard<std::mutex> lk(mu_);
    if (!setup_) {
        fail(KPLPRC_ERR_NOT_SETUP);
        return nullptr;
    }
    std::shared_ptr<Device> d = have_endpoint ? nullptr : deviceAt(ip, port);
    for (auto& known : devices_) {
        if (have_endpoint && known->endpoint == endpoint) d = known;
    }
    if (d == nullptr) {
        d = std::make_shared<Device>();
        // Without a reference the serial number stands in, so the words stay the device's own.
        d->endpoint = have_endpoint ? endpoint : "serial:" + info.serial + "@" + ip;
        unsigned high = 0, low = 0;
        char end = 0;
        if (!have_endpoint && std::sscanf(info.serial.c_str(), "%8x-%8x%c", &high, &low, &end) == 2) {
            d->serial_high = high;  // a serial number written as the two words
            d->serial_low = low;
        } else {
            serialWords(d->endpoint, d->serial_high, d->serial_low);
        }
        devices_.push_back(d);
    }
    d->ip = ip;
    d->port = port;
    d->url = url;
    d->has_login = true;
    d->login = client->credentials();
    d->clock_offset_s = client->clockOffset();
    d->clock_read_at = SteadyClock::now();
    d->clock_known = true;
    d->info = info;
    if (have_net && !net.mac.empty()) d->mac = net.mac;
    auto s = std::make_shared<Session>();
    s->id = next_session_++;
    s->device = d;
    s->ip = ip;
    s->port = port;
    s->login = client->credentials();
    s->client = std::move(client);
    s->last_call = SteadyClock::now();
    sessions_[s->id] = s;
    succeed();
    return toHandle(s->id);
}

int OnvifBackend::close(KPLPRC_HANDLE handle) {
    std::shared_ptr<Session> s;
    std::vector<std::shared_ptr<RtspPlay>> plays;
    {
        std::lock_guard<std::mutex> lk(mu_);
        if (!setup_) return fail(KPLPRC_ERR_NOT_SETUP);
        auto it = sessions_.find(fromHandle(handle));
        if (it == sessions_.end()) return fail(KPLPRC_ERR_INVALID_HANDLE);
        s = it->second;
        sessions_.erase(it);
        s->upgrade.cancel = true;
        for (int p : s->plays) {
            auto play = plays_.find(p);
            if (play != plays_.end()) {
                plays.push_back(play->second);
                plays_.erase(play);
            }
        }
    }
    for (auto& p : plays) p->stop();
    if (s->upgrade.thread.joinable()) s->upgrade.thread.join();
    return succeed();
}

int OnvifBackend::setLoginAccount(KPLPRC_HANDLE handle, const char* password) {
    if (password == nullptr || *password == '\0' || std::strlen(password) > 63)
        return fail(KPLPRC_ERR_PARAMETER);
    return onSession(handle, [&](Session& s) {
        const int code = s.client->changePassword(password);
        if (code == KPLPRC_ERR_NONE) {
            std::lock_guard<std::mutex> lk(mu_);
            s.login = s.client->credentials();
            s.device->login = s.login;
        }
        return code;
    });
}

int OnvifBackend::getDateTime(KPLPRC_HANDLE handle, KPLPRC_DATETIME* time) {
    if (time == nullptr) return fail(KPLPRC_ERR_PARAMETER);
    return onSession(handle, [&](Session& s) {
        long long utc = 0, local = 0;
        const int code = s.client->readClock(&utc, &local);
        if (code != KPLPRC_ERR_NONE) return code;
        std::time_t t = static_cast<std::time_t>(local);
        std::tm tm{};
        gmtime_r(&t, &tm);
        *time = KPLPRC_DATETIME{tm.tm_year, tm.tm_mon, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec};
        return KPLPRC_ERR_NONE;
    });
}

int OnvifBackend::setDateTime(KPLPRC_HANDLE handle, const KPLPRC_DATETIME* time) {
    if (time == nullptr || !validDate(*time)) return fail(KPLPRC_ERR_PARAMETER);
    return onSession(handle, [&](Session& s) {
        std::tm tm = brokenDown(*time);
        const std::time_t utc = mktime(&tm);  // the record is the host's local time
        const SteadyClock::time_point sent = SteadyClock::now();
        int code = s.client->setDateTime(static_cast<long long>(utc), hostTimeZone(utc));
        if (code != KPLPRC_ERR_NONE) return code;
        // Some devices answer an empty success and keep their clock: read it back.
        long long now = 0;
        code = s.client->readClock(&now);
        if (code != KPLPRC_ERR_NONE) return code;
        const long long elapsed =
            std::chrono::duration_cast<std::chrono::seconds>(SteadyClock::now() - sent).count();
        return std::llabs(now - (static_cast<long long>(utc) + elapsed)) <= 5 ? KPLPRC_ERR_NONE
                                                                              : KPLPRC_ERR_DEVICE;
    });
}

void OnvifBackend::markRestart(const std::shared_ptr<Device>& device, KP_LPRC_COMMON_NOTIFY code,
                               bool restarting) {
    {
        std::lock_guard<std::mutex> lk(mu_);
        device->restarting = restarting;
        device->seen_down = false;
        device->restart_since = SteadyClock::now();
        for (auto& entry : sessions_) {
            Session& s = *entry.second;
            if (s.device != device || !s.alive) continue;
            s.alive = false;
            s.refusal_notified = false;
            pending_.push_back(Pending{s.id, code});
        }
        wake_ = true;
    }
    cv_.notify_all();
}

int OnvifBackend::restart(KPLPRC_HANDLE handle, int kind) {
    std::shared_ptr<Device> device;
    const int result = onSession(handle, [&](Session& s) {
        {
            std::lock_guard<std::mutex> lk(mu_);
            if (s.upgrade.state == KP_UPDATE_STATE_RUNNING) return KPLPRC_ERR_BUSY;
        }
        const int code = kind == 0 ? s.client->reboot() : s.client->factoryDefault(kind == 2);
        if (code == KPLPRC_ERR_NONE) device = s.device;
        return code;
    });
    if (device != nullptr) markRestart(device, KP_LPRC_NOTIFY_REBOOT, true);
    return result;
}

int OnvifBackend::rebootDevice(KPLPRC_HANDLE handle) { return restart(handle, 0); }
int OnvifBackend::restorePart(KPLPRC_HANDLE handle) { return restart(handle, 1); }
int OnvifBackend::restoreFull(KPLPRC_HANDLE handle) { return restart(handle, 2); }

// ---- Firmware ----------------------------------------------------------------------------------

int OnvifBackend::update(KPLPRC_HANDLE handle, const char* path) {
    if (path == nullptr || *path == '\0') return fail(KPLPRC_ERR_PARAMETER);
    std::shared_ptr<Session> session = findSession(handle);
    std::string model;
    {
        std::lock_guard<std::mutex> lk(mu_);
        if (session != nullptr) model = session->device->info.model;
    }
    // Of several packages, the one whose header names the device's model; else the first.
    std::string package;
    bool chosen = false;
    for (const std::string& one : splitPaths(path)) {
        std::string content;
        if (!readFile(one.c_str(), content, kFirmwareMaxSize)) continue;
        FirmwarePackage header;
        if (parseFirmwarePackage(content, header) && header.family == model) {
            package = std::move(content);
            chosen = true;
            break;
        }
        if (package.empty()) package = std::move(content);
    }
    (void)chosen;
    if (package.empty()) return fail(KPLPRC_ERR_FILE);
    return onSession(handle, [&](Session& s) {
        std::thread last;
        {
            std::lock_guard<std::mutex> lk(mu_);
            if (s.upgrade.state == KP_UPDATE_STATE_RUNNING) return KPLPRC_ERR_BUSY;
            last = std::move(s.upgrade.thread);
        }
        if (last.joinable()) last.join();  // it has set its state; let it finish its last step
        FirmwareUpload upload;
        int code = s.client->startFirmwareUpgrade(upload);
        const bool inline_upload = code == KPLPRC_ERR_NOT_SUPPORTED;
        if (code != KPLPRC_ERR_NONE && !inline_upload) return code;
        std::lock_guard<std::mutex> lk(mu_);
        s.upgrade.state = KP_UPDATE_STATE_RUNNING;
        s.upgrade.percent = 0;
        s.upgrade.cancel = false;
        auto self = sessions_.count(s.id) != 0 ? sessions_[s.id] : nullptr;
        if (self == nullptr) return KPLPRC_ERR_INVALID_HANDLE;
        try {
            s.upgrade.thread = std::thread([this, self, package, upload, inline_upload] {
                runUpgrade(self, package, upload, inline_upload);
            });
        } catch (...) {
            s.upgrade.state = KP_UPDATE_STATE_FAILED;
            return KPLPRC_ERR_DEVICE;
        }
        return KPLPRC_ERR_NONE;
    });
}

void OnvifBackend::runUpgrade(std::shared_ptr<Session> s, std::string package, FirmwareUpload upload,
                              bool inline_upload) {
    auto progress = [this, &s](int percent) {
        std::lock_guard<std::mutex> lk(mu_);
        if (s->upgrade.cancel) return false;
        // The last few percent belong to the device's own writing, which we cannot see.
        s->upgrade.percent = std::max(s->upgrade.percent, percent * 95 / 100);
        return true;
    };
    Credentials login;
    std::string url;
    {
        std::lock_guard<std::mutex> call(s->call_mu);
        login = s->client->credentials();
        url = s->client->deviceUrl();
    }
    int code = KPLPRC_ERR_NONE;
    bool cancelled = false;
    if (inline_upload) {
        DeviceClient client(url, login, kCallTimeouts);
        code = client.readClock();
        if (code == KPLPRC_ERR_NONE) code = client.upgradeSystemFirmware(package, progress, cancelled);
    } else {
        {
            std::unique_lock<std::mutex> lk(mu_);
            cv_.wait_for(lk, std::chrono::seconds(std::min(upload.delay_s, 60L)),
                         [&] { return s->upgrade.cancel || stop_; });
        }
        UploadResult r =
            httpUpload(upload.uri, "application/octet-stream", package, &login, 3000, 30000, progress);
        cancelled = r.cancelled;
        code = r.error != KPLPRC_ERR_NONE            ? r.error
               : (r.status >= 200 && r.status < 300) ? 0
                                                     : KPLPRC_ERR_DEVICE;
    }
    std::shared_ptr<Device> device;
    {
        std::lock_guard<std::mutex> lk(mu_);
        if (cancelled || s->upgrade.cancel) {
            s->upgrade.state = KP_UPDATE_STATE_CANCELLED;
        } else if (code != KPLPRC_ERR_NONE) {
            s->upgrade.state = KP_UPDATE_STATE_FAILED;
        } else {
            s->upgrade.state = KP_UPDATE_STATE_DONE;
            s->upgrade.percent = 100;
            device = s->device;
        }
    }
    // The device installs the package and restarts by itself.
    if (device != nullptr) markRestart(device, KP_LPRC_NOTIFY_REBOOT, true);
}

int OnvifBackend::stopUpdate(KPLPRC_HANDLE handle) {
    std::shared_ptr<Session> s = findSession(handle);
    std::lock_guard<std::mutex> lk(mu_);
    if (s == nullptr) return fail(KPLPRC_ERR_INVALID_HANDLE);
    if (s->upgrade.state != KP_UPDATE_STATE_RUNNING) return fail(KPLPRC_ERR_PARAMETER);
    s->upgrade.cancel = true;
    cv_.notify_all();
    return succeed();
}

int OnvifBackend::getUpdateState(KPLPRC_HANDLE handle) {
    std::shared_ptr<Session> s = findSession(handle);
    std::lock_guard<std::mutex> lk(mu_);
    if (s == nullptr) {
        fail(KPLPRC_ERR_INVALID_HANDLE);
        return KP_UPDATE_STATE_FAILED;
    }
    succeed();
    // A cancel asked for ends the state once the upload thread has let go of the file.
    return s->upgrade.state;
}

int OnvifBackend::getUpdateProgress(KPLPRC_HANDLE handle) {
    std::shared_ptr<Session> s = findSession(handle);
    std::lock_guard<std::mutex> lk(mu_);
    if (s == nullptr) return fail(KPLPRC_ERR_INVALID_HANDLE);
    succeed();
    return s->upgrade.percent;
}

// ---- What ONVIF has no counterpart for ---------------------------------------------------------

int OnvifBackend::getConfig(KPLPRC_HANDLE handle, unsigned int, int, void*, unsigned int) {
    return onSession(handle, [](Session&) { return KPLPRC_ERR_NOT_SUPPORTED; });
}

int OnvifBackend::paraExportV2(KPLPRC_HANDLE handle, const KP_PARAM_IMPORT_ABILITY_V2*, const char*) {
    return onSession(handle, [](Session&) { return KPLPRC_ERR_NOT_SUPPORTED; });
}

int OnvifBackend::paraImportV2(KPLPRC_HANDLE handle, const char*) {
    return onSession(handle, [](Session&) { return KPLPRC_ERR_NOT_SUPPORTED; });
}

int OnvifBackend::faceUpload(KPLPRC_HANDLE handle, const char*) {
    return onSession(handle, [](Session&) { return KPLPRC_ERR_NOT_SUPPORTED; });
}

int OnvifBackend::setIoOutput(KPLPRC_HANDLE handle, int channel, int output, int level) {
    if (channel != 0 || output < 0 || output > 3 || (level != 0 && level != 1))
        return fail(KPLPRC_ERR_PARAMETER);
    return onSession(handle, [](Session&) { return KPLPRC_ERR_NOT_SUPPORTED; });
}

// ---- Live video --------------------------------------------------------------------------------

int OnvifBackend::startRealPlay(KPLPRC_HANDLE handle, void* window) {
    std::string uri;
    Credentials login;
    std::shared_ptr<Session> session;
    const int code = onSession(handle, [&](Session& s) {
        login = s.client->credentials();
        return s.client->getStreamUri(uri);
    });
    if (code != 0) return KPLPRC_FIALURE;
    auto play = std::make_shared<RtspPlay>(uri, login,
                                           static_cast<unsigned long>(reinterpret_cast<uintptr_t>(window)));
    if (!play->start()) {
        fail(KPLPRC_ERR_DEVICE);
        return KPLPRC_FIALURE;
    }
    std::lock_guard<std::mutex> lk(mu_);
    auto it = sessions_.find(fromHandle(handle));
    if (!setup_ || it == sessions_.end()) {
        play->stop();
        fail(KPLPRC_ERR_INVALID_HANDLE);
        return KPLPRC_FIALURE;
    }
    const int id = next_play_++;
    plays_[id] = play;
    it->second->plays.push_back(id);
    succeed();
    return id;
}

int OnvifBackend::stopRealPlay(int play_handle) {
    std::shared_ptr<RtspPlay> play;
    {
        std::lock_guard<std::mutex> lk(mu_);
        if (!setup_) return fail(KPLPRC_ERR_NOT_SETUP);
        auto it = plays_.find(play_handle);
        if (it == plays_.end()) return fail(KPLPRC_ERR_INVALID_HANDLE);
        play = it->second;
        plays_.erase(it);
    }
    play->stop();
    return succeed();
}

long long OnvifBackend::playFrames(int play_handle) {
    std::lock_guard<std::mutex> lk(mu_);
    auto it = plays_.find(play_handle);
    return it == plays_.end() ? -1 : it->second->frames();
}

int OnvifBackend::playDraws(int play_handle) {
    std::lock_guard<std::mutex> lk(mu_);
    auto it = plays_.find(play_handle);
    return it == plays_.end() ? -1 : (it->second->draws() ? 1 : 0);
}

// ---- Session watch -----------------------------------------------------------------------------

void OnvifBackend::pollLoop() {
    std::unique_lock<std::mutex> lk(mu_);
    while (!stop_) {
        cv_.wait_for(lk, scaledWait(kPollIntervalMs, 50), [this] { return stop_ || wake_; });
        if (stop_) break;
        wake_ = false;
        std::vector<Pending> pending;
        pending.swap(pending_);
        lk.unlock();
        deliver(pending);
        pollOnce();
        lk.lock();
    }
}

void OnvifBackend::pollOnce() {
    struct Watched {
        std::string ip;
        int port;
        std::string url;
        std::shared_ptr<Device> device;
        std::vector<std::pair<uint64_t, Credentials>> dropped;
    };
    std::map<std::pair<std::string, int>, Watched> addresses;
    std::vector<std::shared_ptr<Session>> sessions;
    std::vector<std::shared_ptr<HttpConnection>> idle_spares;  // closed outside the lock
    {
        std::lock_guard<std::mutex> lk(mu_);
        for (auto& d : devices_) {
            if (d->spare != nullptr &&
                SteadyClock::now() - d->spare_since > scaledWait(kConnectionIdleMs, 100))
                idle_spares.push_back(std::move(d->spare));
        }
        for (auto& entry : sessions_) {
            sessions.push_back(entry.second);
            Session& s = *entry.second;
            Watched& w = addresses[{s.ip, s.port}];
            w.ip = s.ip;
            w.port = s.port;
            w.device = s.device;
            // A session keeps its address; the device's own may have moved away from it.
            w.url = deviceUrl(s.ip, s.port);
            if (s.device->ip == s.ip && s.device->port == s.port && !s.device->url.empty())
                w.url = s.device->url;
            if (!s.alive && s.upgrade.state != KP_UPDATE_STATE_RUNNING) {
                w.dropped.emplace_back(s.id, s.login);
            }
        }
    }
    idle_spares.clear();
    // A connection kept since the session's last call is closed once it idles; a session busy
    // with a call is left alone.
    for (auto& s : sessions) {
        std::unique_lock<std::mutex> call(s->call_mu, std::try_to_lock);
        if (call.owns_lock() && SteadyClock::now() - s->last_call > scaledWait(kConnectionIdleMs, 100))
            s->client->closeConnection();
    }
    sessions.clear();
    std::vector<Pending> events;
    // Ends with the backend: a request under way is dropped, no further address is asked.
    HttpTimeouts timeouts = kPollTimeouts;
    timeouts.abort = &stopping_;
    for (auto& entry : addresses) {
        if (stopping_) break;
        Watched& w = entry.second;
        {
            // A batch closes each session right after its call: an address whose sessions all
            // closed since the list was taken has nobody left to tell, and is not asked.
            std::lock_guard<std::mutex> lk(mu_);
            const bool watched = std::any_of(sessions_.begin(), sessions_.end(), [&](const auto& s) {
                return s.second->ip == w.ip && s.second->port == w.port;
            });
            if (!watched) continue;
        }
        DeviceClient probe(w.url, Credentials{}, timeouts);
        const int answer = probe.readClock();
        const bool up = answer != KPLPRC_ERR_TIMEOUT && answer != KPLPRC_ERR_REFUSED;
        bool back = up;
        {
            std::lock_guard<std::mutex> lk(mu_);
            Device& d = *w.device;
            const bool same_place = d.ip == w.ip && d.port == w.port;
            if (d.restarting && same_place) {
                if (!up) d.seen_down = true;
                const bool grace_over =
                    SteadyClock::now() - d.restart_since > scaledWait(kRestartGraceMs, 1000);
                if (up && (d.seen_down || grace_over)) d.restarting = false;
                back = up && !d.restarting;
            }
            if (!up) {
                for (auto& s : sessions_) {
                    if (s.second->ip == w.ip && s.second->port == w.port && s.second->alive) {
                        s.second->alive = false;
                        events.push_back(Pending{s.first, KP_LPRC_NOTIFY_OFFLINE});
                    }
                }
            }
        }
        if (!back) continue;
        for (auto& dropped : w.dropped) {
            // Logs the session in again with its own login before calls may use it.
            DeviceClient login(w.url, dropped.second, timeouts);
            DeviceInformation info;
            int code = login.readClock();
            if (code == KPLPRC_ERR_NONE) code = login.getDeviceInformation(info);
            std::lock_guard<std::mutex> lk(mu_);
            auto it = sessions_.find(dropped.first);
            if (it == sessions_.end() || it->second->alive) continue;
            Session& s = *it->second;
            if (code == KPLPRC_ERR_NONE) {
                s.alive = true;
                s.refusal_notified = false;
                if (!info.firmware.empty()) s.device->info = info;
                events.push_back(Pending{s.id, KP_LPRC_NOTIFY_ONLINE});
            } else if (code == KPLPRC_ERR_AUTH && !s.refusal_notified) {
                s.refusal_notified = true;
                events.push_back(Pending{s.id, KP_LPRC_NOTIFY_LOGIN_FAILED});
            }
        }
    }
    deliver(events);
}

void OnvifBackend::deliver(std::vector<Pending>& pending) {
    std::lock_guard<std::recursive_mutex> cb(cb_mu_);
    for (const Pending& p : pending) {
        {
            // A session closed since the event was noted gets no more events.
            std::lock_guard<std::mutex> lk(mu_);
            if (sessions_.count(p.session) == 0) continue;
        }
        if (notify_ != nullptr) notify_(toHandle(p.session), notify_user_, p.code, 0);
    }
    pending.clear();
}

}  // namespace onvif

Backend& onvifBackend() {
    static onvif::OnvifBackend backend;
    return backend;
}

}  // namespace rudavado
