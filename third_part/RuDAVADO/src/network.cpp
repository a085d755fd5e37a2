#include "network.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <system_error>

#include "live_video.h"
#include "time_scale.h"

namespace rudavado {
namespace {

const char* const kTimingNames[] = {"call",    "login", "connect_timeout", "discovery_spread", "boot",
                                    "upgrade", "frame"};

Clock::time_point later(double ms) {
    return Clock::now() + std::chrono::microseconds(scaledMicroseconds(ms));
}

// Replies to a search arrive in an order that has nothing to do with the scenario's order.
double replyDelay(const Camera& c, uint64_t generation, double spread) {
    if (spread <= 0) return 0;
    uint64_t x =
        (static_cast<uint64_t>(c.serial_low) << 32 | c.serial_high) ^ (generation * 0x9E3779B97F4A7C15ull);
    x ^= x >> 33;
    x *= 0xff51afd7ed558ccdull;
    x ^= x >> 33;
    return spread * static_cast<double>(x % 10000) / 10000.0;
}

}  // namespace

bool timingByName(const char* name, Timing& t) {
    if (name == nullptr) return false;
    for (size_t i = 0; i < static_cast<size_t>(Timing::Count); ++i) {
        if (std::strcmp(name, kTimingNames[i]) == 0) {
            t = static_cast<Timing>(i);
            return true;
        }
    }
    return false;
}

Network& Network::instance() {
#ifdef _WIN32
    // At process exit Windows ends the library's threads before it destroys the DLL's statics,
    // so a destructor that joins them never returns: the network is left to the system.
    static Network* network = new Network;
    return *network;
#else
    static Network network;
    return network;
#endif
}

Network::Network() {
    for (size_t i = 0; i < timings_.size(); ++i) timings_[i] = defaultTiming(static_cast<Timing>(i));
    // Read here, not by the first of thousands of camera threads while the others wait for it.
    timeScale();
    thread_ = std::thread([this] { run(); });
}

Network::~Network() {
    std::vector<std::shared_ptr<LivePlay>> plays;
    {
        std::lock_guard<std::mutex> lk(mu_);
        stop_ = true;
        for (auto& p : plays_) plays.push_back(p.second);
        plays_.clear();
    }
    cv_.notify_all();
    stopPlays(std::move(plays));
    if (loader_.joinable()) loader_.join();
    if (thread_.joinable()) thread_.join();
}

// ---- Library thread ----------------------------------------------------------------------------

void Network::run() {
    std::unique_lock<std::mutex> lk(mu_);
    while (!stop_) {
        std::vector<Delivery> out;
        // Notifications for sessions closed in the meantime have nobody to tell.
        for (Delivery& d : pending_) {
            if (sessions_.count(d.session) != 0) out.push_back(std::move(d));
        }
        pending_.clear();
        const auto now = Clock::now();
        while (!events_.empty() && events_.begin()->first <= now) {
            auto fn = std::move(events_.begin()->second);
            events_.erase(events_.begin());
            fn(out);
        }
        while (!replies_.empty() && replies_.begin()->first <= now) {
            const Reply r = replies_.begin()->second;
            replies_.erase(replies_.begin());
            if (!discovery_running_ || r.generation != discovery_generation_) continue;
            if (r.camera < 0 || static_cast<size_t>(r.camera) >= cameras_.size()) continue;
            const Camera& c = cameras_[static_cast<size_t>(r.camera)];
            if (!c.reachable()) continue;
            if (r.probe == Probe::Extended && !c.extended_discovery) continue;
            Delivery d;
            d.is_report = true;
            d.report = makeReport(c, r.generation, r.probe);
            out.push_back(std::move(d));
        }
        if (!out.empty()) {
            lk.unlock();
            for (const Delivery& d : out) deliver(d);
            lk.lock();
            continue;
        }
        if (events_.empty() && replies_.empty()) {
            cv_.wait(lk,
                     [this] { return stop_ || !pending_.empty() || !events_.empty() || !replies_.empty(); });
        } else {
            Clock::time_point next = Clock::time_point::max();
            if (!events_.empty()) next = events_.begin()->first;
            if (!replies_.empty() && replies_.begin()->first < next) next = replies_.begin()->first;
            cv_.wait_until(lk, next);
        }
    }
}

void Network::deliver(const Delivery& d) {
    std::lock_guard<std::recursive_mutex> cb(cb_mu_);
    if (!d.is_report) {
        if (notify_ != nullptr) {
            notify_(reinterpret_cast<KPLPRC_HANDLE>(static_cast<uintptr_t>(d.session)), notify_user_, d.code,
                    0);
        }
        return;
    }
    const Report& r = d.report;
    if (r.generation != delivered_generation_) return;
    // A camera answers through the extended callback when it can and one is registered, else
    // through the basic one; once per callback and search, unless it announces a comeback.
    const bool extended = r.extended && find_v2_ != nullptr;
    if (!extended && (find_ex_ == nullptr || r.probe == Probe::Extended)) return;
    const unsigned char bit = extended ? 2 : 1;
    const size_t index = static_cast<size_t>(r.camera);
    if (reported_.size() <= index) reported_.resize(index + 1, 0);
    if (r.probe != Probe::Announce && (reported_[index] & bit) != 0) return;
    reported_[index] |= bit;
    if (extended) {
        find_v2_(r.name.c_str(), r.ip.c_str(), r.port, r.port2, r.serial_low, r.serial_high,
                 r.netmask.c_str(), r.gateway.c_str(), r.find_value, r.firmware.c_str(), r.lens_code,
                 r.mac.c_str(), r.boot_time.c_str(), find_v2_user_);
    } else {
        find_ex_(r.name.c_str(), r.ip.c_str(), r.port, r.port2, r.serial_low, r.serial_high,
                 r.netmask.c_str(), r.gateway.c_str(), find_ex_user_);
    }
}

void Network::schedule(double delay_ms, std::function<void(std::vector<Delivery>&)> fn) {
    events_.emplace(later(delay_ms), std::move(fn));
    cv_.notify_all();
}

// ---- Set-up and callbacks ------------------------------------------------------------------------

void Network::setup() {
    bool started = false;
    {
        std::lock_guard<std::mutex> lk(mu_);
        if (!loaded_ && !loading_.load()) {
            // A loader that has ended already.
            if (loader_.joinable()) loader_.join();
            loading_.store(true);
            try {
                auto loaded = std::make_shared<std::promise<void>>();
                loaded_once_ = loaded->get_future().share();
                loader_ = std::thread([this, loaded] {
                    loadFromEnvironment();
                    {
                        std::lock_guard<std::mutex> done(mu_);
                        loading_.store(false);
                    }
                    loaded->set_value();
                });
                started = true;
            } catch (const std::system_error&) {
                loading_.store(false);
            }
        } else {
            started = true;
        }
    }
    // Without a thread the caller reads the scenario itself.
    if (!started) loadFromEnvironment();
    setup_.store(true);
}

void Network::awaitLoad() {
    if (!loading_.load()) return;
    std::shared_future<void> loaded;
    {
        std::lock_guard<std::mutex> lk(mu_);
        if (!loading_.load()) return;
        loaded = loaded_once_;
    }
    loaded.wait();
}

void Network::cleanup() {
    {
        std::lock_guard<std::recursive_mutex> cb(cb_mu_);
        std::lock_guard<std::mutex> lk(mu_);
        find_ex_ = nullptr;
        find_v2_ = nullptr;
        notify_ = nullptr;
        discovery_running_ = false;
        ++discovery_generation_;
        delivered_generation_ = discovery_generation_;
        reported_.clear();
        setup_.store(false);
    }
    std::vector<std::shared_ptr<LivePlay>> plays;
    {
        std::lock_guard<std::mutex> lk(mu_);
        for (auto& p : plays_) plays.push_back(p.second);
        plays_.clear();
        clearSessions();
        pending_.clear();
    }
    stopPlays(std::move(plays));
}

void Network::startDiscovery(KPLPRC_FIND_DEVICE_CALLBACK_EX ex, KPLPRC_FIND_DEVICE_CALLBACK_V2 v2,
                             void* user) {
    std::lock_guard<std::recursive_mutex> cb(cb_mu_);
    std::lock_guard<std::mutex> lk(mu_);
    // Each registration sends a probe of its kind. The second kind beside a running search
    // joins it, so that the cameras already reported are not reported again through the same
    // callback; registering a kind again starts a new search, which every camera answers again.
    const bool again = ex != nullptr ? find_ex_ != nullptr : find_v2_ != nullptr;
    if (ex != nullptr) {
        find_ex_ = ex;
        find_ex_user_ = user;
    } else {
        find_v2_ = v2;
        find_v2_user_ = user;
    }
    if (!discovery_running_ || again) {
        discovery_running_ = true;
        ++discovery_generation_;
        delivered_generation_ = discovery_generation_;
        reported_.clear();
        replies_.clear();  // answers to the old probe are not waited for
        if (again) {
            // The other kind stays registered: its probe goes out again too.
            if (find_ex_ != nullptr && ex == nullptr) scheduleReplies(discovery_generation_, Probe::Basic);
            if (find_v2_ != nullptr && v2 == nullptr) scheduleReplies(discovery_generation_, Probe::Extended);
        }
    }
    scheduleReplies(discovery_generation_, ex != nullptr ? Probe::Basic : Probe::Extended);
}

void Network::stopDiscovery() {
    std::lock_guard<std::recursive_mutex> cb(cb_mu_);
    std::lock_guard<std::mutex> lk(mu_);
    find_ex_ = nullptr;
    find_v2_ = nullptr;
    discovery_running_ = false;
    ++discovery_generation_;
    delivered_generation_ = discovery_generation_;
    reported_.clear();
    // Replies still on their way are dropped now, so that stop/start loops do not pile them up.
    replies_.clear();
}

void Network::setNotify(KPLPRC_COMMON_NOTIFY_CALLBACK cb, void* user) {
    std::lock_guard<std::recursive_mutex> lock(cb_mu_);
    notify_ = cb;
    notify_user_ = user;
}

// ---- Discovery replies ---------------------------------------------------------------------------

void Network::scheduleReply(const Camera& c, double delay_ms, Probe probe) {
    // An answer to a probe crosses the network, whatever the time scale: a program registers
    // its two searches one after the other, and a newer camera answering the basic probe
    // before the extended search was registered would be reported through both.
    constexpr auto kRoundTrip = std::chrono::milliseconds(20);
    Clock::time_point at = later(delay_ms);
    if (probe != Probe::Announce) at = std::max(at, Clock::now() + kRoundTrip);
    replies_.emplace(at, Reply{c.index, discovery_generation_, probe});
    cv_.notify_all();
}

void Network::scheduleReplies(uint64_t generation, Probe probe) {
    const double spread = timing(Timing::DiscoverySpread);
    for (const Camera& c : cameras_) {
        if (c.reachable() && (probe != Probe::Extended || c.extended_discovery)) {
            scheduleReply(c, replyDelay(c, generation, spread), probe);
        }
    }
}

Report Network::makeReport(const Camera& c, uint64_t generation, Probe probe) const {
    Report r;
    r.generation = generation;
    r.camera = c.index;
    r.probe = probe;
    r.extended = c.extended_discovery;
    r.name = c.name;
    r.ip = c.ip;
    r.netmask = c.netmask;
    r.gateway = c.gateway;
    r.port = static_cast<unsigned short>(c.port);
    r.port2 = 554;  // stream port
    r.serial_low = c.serial_low;
    r.serial_high = c.serial_high;
    r.find_value = c.family->device_type;
    r.firmware = c.firmware;
    r.lens_code = c.lens_code;
    r.mac = c.mac;
    r.boot_time = c.boot_time;
    return r;
}

// ---- Scenario ------------------------------------------------------------------------------------

void Network::ensureLoaded() {
    awaitLoad();
    loadFromEnvironment();
}

void Network::loadFromEnvironment() {
    {
        std::lock_guard<std::mutex> lk(mu_);
        if (loaded_) return;
    }
    std::string error;
    const char* path = std::getenv("RUDAVADO_SCENARIO");
    if (path != nullptr && *path != '\0') {
        std::string text;
        if (readScenarioFile(path, text, error) && install(text, error, true)) return;
        // A broken scenario must not leave the library without cameras, but whoever set it up
        // has to learn that it was not used.
        error = std::string("RUDAVADO_SCENARIO ") + path + ": " + error;
        std::fprintf(stderr, "RuDAVADO: %s; using the built-in network\n", error.c_str());
        setLoadError(error);
    }
    install(defaultScenarioText(), error, true);
}

bool Network::load(const std::string& json_text, std::string& error) {
    // A load asked for while the first one runs comes after it, as it would have without the
    // thread.
    awaitLoad();
    return install(json_text, error, false);
}

bool Network::install(const std::string& json_text, std::string& error, bool only_if_unloaded) {
    std::vector<Camera> cameras;
    std::array<double, static_cast<size_t>(Timing::Count)> timings{};
    for (size_t i = 0; i < timings.size(); ++i) timings[i] = defaultTiming(static_cast<Timing>(i));
    if (!parseScenario(json_text, cameras, timings, error)) return false;
    std::vector<std::shared_ptr<LivePlay>> plays;
    {
        std::lock_guard<std::recursive_mutex> cb(cb_mu_);
        std::lock_guard<std::mutex> lk(mu_);
        // The first use must not undo a network that another thread loaded meanwhile.
        if (only_if_unloaded && loaded_) return true;
        cameras_ = std::move(cameras);
        for (size_t i = 0; i < timings.size(); ++i) timings_[i] = timings[i];
        ip_index_.clear();
        clearSessions();
        for (auto& p : plays_) plays.push_back(p.second);
        plays_.clear();
        faults_.clear();
        events_.clear();
        replies_.clear();
        pending_.clear();
        loaded_ = true;
        ++load_generation_;
        if (discovery_running_) {
            ++discovery_generation_;
            delivered_generation_ = discovery_generation_;
            reported_.clear();
            if (find_ex_ != nullptr) scheduleReplies(discovery_generation_, Probe::Basic);
            if (find_v2_ != nullptr) scheduleReplies(discovery_generation_, Probe::Extended);
        }
    }
    stopPlays(std::move(plays));
    return true;
}

// ---- Lookups -------------------------------------------------------------------------------------

Camera* Network::cameraByIp(const std::string& ip) {
    if (ip_index_.empty()) {
        for (const Camera& c : cameras_) ip_index_[c.ip].push_back(c.index);
    }
    const auto found = ip_index_.find(ip);
    if (found == ip_index_.end()) return nullptr;
    Camera* first = nullptr;
    for (const int index : found->second) {
        Camera& c = cameras_[static_cast<size_t>(index)];
        if (c.reachable()) return &c;
        if (first == nullptr) first = &c;
    }
    return first;
}

Camera* Network::cameraBySerial(uint32_t high, uint32_t low) {
    for (Camera& c : cameras_) {
        if (c.serial_high == high && c.serial_low == low) return &c;
    }
    return nullptr;
}

Session* Network::findSession(KPLPRC_HANDLE handle) {
    return findSession(static_cast<uint64_t>(reinterpret_cast<uintptr_t>(handle)));
}

Session* Network::findSession(uint64_t id) {
    auto it = sessions_.find(id);
    return it == sessions_.end() ? nullptr : &it->second;
}

KPLPRC_HANDLE Network::addSession(Session s) {
    s.id = next_session_++;
    const uint64_t id = s.id;
    camera_sessions_[s.camera].insert(id);
    address_sessions_[{s.ip, s.port}].insert(id);
    sessions_.emplace(id, std::move(s));
    return reinterpret_cast<KPLPRC_HANDLE>(static_cast<uintptr_t>(id));
}

void Network::removeSession(KPLPRC_HANDLE handle) {
    const auto it = sessions_.find(static_cast<uint64_t>(reinterpret_cast<uintptr_t>(handle)));
    if (it == sessions_.end()) return;
    const Session& s = it->second;
    const auto on_camera = camera_sessions_.find(s.camera);
    if (on_camera != camera_sessions_.end()) {
        on_camera->second.erase(s.id);
        if (on_camera->second.empty()) camera_sessions_.erase(on_camera);
    }
    const auto at_address = address_sessions_.find({s.ip, s.port});
    if (at_address != address_sessions_.end()) {
        at_address->second.erase(s.id);
        if (at_address->second.empty()) address_sessions_.erase(at_address);
    }
    sessions_.erase(it);
}

void Network::clearSessions() {
    sessions_.clear();
    camera_sessions_.clear();
    address_sessions_.clear();
}

int Network::aliveSessions(const Camera& c) const {
    const auto on_camera = camera_sessions_.find(c.index);
    if (on_camera == camera_sessions_.end()) return 0;
    int n = 0;
    for (const uint64_t id : on_camera->second) n += sessions_.at(id).alive;
    return n;
}

int Network::openHandles(const Camera& c) const {
    const auto on_camera = camera_sessions_.find(c.index);
    return on_camera == camera_sessions_.end() ? 0 : static_cast<int>(on_camera->second.size());
}

bool Network::consumeFault(const std::string& operation, int camera) {
    for (auto it = faults_.begin(); it != faults_.end(); ++it) {
        if (it->operation == operation && (it->camera < 0 || it->camera == camera)) {
            if (--it->count <= 0) faults_.erase(it);
            return true;
        }
    }
    return false;
}

void Network::addFault(const std::string& operation, int camera, int count) {
    for (auto it = faults_.begin(); it != faults_.end(); ++it) {
        if (it->operation == operation && it->camera == camera) {
            faults_.erase(it);
            break;
        }
    }
    if (count > 0) faults_.push_back({operation, camera, count});
}

void Network::clearFaults() { faults_.clear(); }

double Network::timing(Timing t) const { return timings_[static_cast<size_t>(t)]; }

void Network::setTiming(Timing t, double ms) {
    timings_[static_cast<size_t>(t)] = ms < 0 ? defaultTiming(t) : ms;
}

// ---- Camera events -------------------------------------------------------------------------------

void Network::dropSessions(Camera& c, KP_LPRC_COMMON_NOTIFY code) {
    const auto on_camera = camera_sessions_.find(c.index);
    if (on_camera == camera_sessions_.end()) return;
    for (const uint64_t id : on_camera->second) {
        Session& s = sessions_.at(id);
        if (!s.alive) continue;
        s.alive = false;
        s.refusal_notified = false;
        Delivery d;
        d.session = s.id;
        d.code = code;
        pending_.push_back(d);
    }
    cv_.notify_all();
}

void Network::startRestart(Camera& c, double ms, bool full) {
    if (c.upgrading()) {
        c.upgrade.state = KP_UPDATE_STATE_FAILED;
    }
    c.booting = true;
    ++c.epoch;
    const uint64_t seq = ++c.restart_seq;
    if (c.stay_down) {
        // Hangs in start-up: only a power cycle ends it.
        c.stay_down = false;
        return;
    }
    const int index = c.index;
    schedule(ms, [this, index, seq, full](std::vector<Delivery>&) {
        Camera& cam = cameras_[static_cast<size_t>(index)];
        if (cam.restart_seq != seq) return;
        cam.booting = false;
        ++cam.epoch;
        if (full) {
            if (!cam.pending_firmware.empty()) {
                cam.firmware = cam.pending_firmware;
                cam.pending_firmware.clear();
            }
            ++cam.boots;
            cam.boot_time = formatDateTime(cameraClock(cam));
        }
        if (cam.reachable()) scheduleOnline(cam);
    });
}

void Network::powerOff(Camera& c) {
    if (!c.powered) return;
    if (c.upgrading()) c.upgrade.state = KP_UPDATE_STATE_FAILED;
    c.powered = false;
    c.booting = false;
    ++c.epoch;
    ++c.restart_seq;
    dropSessions(c, KP_LPRC_NOTIFY_OFFLINE);
}

void Network::powerOn(Camera& c) {
    if (c.powered) return;
    c.powered = true;
    startRestart(c, timing(Timing::Boot), true);
}

void Network::setLinked(Camera& c, bool linked) {
    if (c.linked == linked) return;
    c.linked = linked;
    ++c.epoch;
    if (!linked) {
        if (c.upgrading()) c.upgrade.state = KP_UPDATE_STATE_FAILED;
        dropSessions(c, KP_LPRC_NOTIFY_OFFLINE);
    } else if (c.reachable()) {
        scheduleOnline(c);
    }
}

// The camera answers again: dropped sessions to its address log in again after a login's time,
// and a running search hears from it.
void Network::scheduleOnline(Camera& c) {
    if (discovery_running_) scheduleReply(c, timing(Timing::Call), Probe::Announce);
    const uint64_t epoch = c.epoch;
    const int index = c.index;
    schedule(timing(Timing::Login), [this, index, epoch](std::vector<Delivery>& out) {
        Camera& cam = cameras_[static_cast<size_t>(index)];
        if (cam.epoch != epoch || !cam.reachable()) return;
        const auto at_address = address_sessions_.find({cam.ip, cam.port});
        if (at_address == address_sessions_.end()) return;
        for (const uint64_t id : at_address->second) {
            Session& s = sessions_.at(id);
            if (s.alive) continue;
            Delivery d;
            d.session = s.id;
            if (s.user == cam.user && s.password == cam.password && aliveSessions(cam) < cam.max_sessions) {
                s.alive = true;
                if (s.camera != cam.index) {
                    camera_sessions_[s.camera].erase(id);
                    if (camera_sessions_[s.camera].empty()) camera_sessions_.erase(s.camera);
                    camera_sessions_[cam.index].insert(id);
                    s.camera = cam.index;
                }
                d.code = KP_LPRC_NOTIFY_ONLINE;
            } else if (!s.refusal_notified) {
                s.refusal_notified = true;
                d.code = KP_LPRC_NOTIFY_LOGIN_FAILED;
            } else {
                continue;
            }
            out.push_back(d);
        }
    });
}

void Network::armLinkDrop(Camera& c) {
    Upgrade& u = c.upgrade;
    u.drop_at = c.drop_at_next_upgrade;
    c.drop_at_next_upgrade = -1;
    u.stall_at = c.stall_at_next_upgrade;
    c.stall_at_next_upgrade = -1;
    if (u.drop_at < 0) return;
    const int index = c.index;
    const Clock::time_point start = u.start;
    schedule(u.duration_ms * u.drop_at / 100.0, [this, index, start](std::vector<Delivery>&) {
        Camera& cam = cameras_[static_cast<size_t>(index)];
        if (cam.upgrade.start == start) advanceUpgrade(cam);
    });
}

void Network::advanceUpgrade(Camera& c) {
    Upgrade& u = c.upgrade;
    if (u.state != KP_UPDATE_STATE_RUNNING) return;
    const double total_us = static_cast<double>(scaledMicroseconds(u.duration_ms));
    const double elapsed_us = static_cast<double>(
        std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - u.start).count());
    const double fraction = total_us <= 0 ? 1.0 : elapsed_us / total_us;
    if (u.drop_at >= 0 && fraction * 100.0 >= u.drop_at) {
        // The link drops for a moment: the write is lost with the sessions, and the camera
        // answers again at once.
        u.state = KP_UPDATE_STATE_FAILED;
        u.cancelled_progress = u.drop_at;
        u.drop_at = -1;
        dropSessions(c, KP_LPRC_NOTIFY_OFFLINE);
        ++c.epoch;
        scheduleOnline(c);
    } else if (u.stall_at >= 0 && fraction * 100.0 >= u.stall_at) {
        // Hung: still "running" at the same percentage until a restart or power loss ends it.
    } else if (u.damaged && fraction >= 0.5) {
        // The damaged block is found when the camera checks the written image halfway.
        u.state = KP_UPDATE_STATE_FAILED;
        u.cancelled_progress = 50;
    } else if (fraction >= 1.0) {
        u.state = KP_UPDATE_STATE_DONE;
        c.pending_firmware = u.version;
    }
}

int Network::upgradeProgress(Camera& c) {
    advanceUpgrade(c);
    const Upgrade& u = c.upgrade;
    switch (u.state) {
        case KP_UPDATE_STATE_RUNNING: {
            const double total_us = static_cast<double>(scaledMicroseconds(u.duration_ms));
            const double elapsed_us = static_cast<double>(
                std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - u.start).count());
            int p = total_us <= 0 ? 99 : static_cast<int>(elapsed_us * 100.0 / total_us);
            if (u.stall_at >= 0 && p > u.stall_at) p = u.stall_at;
            return p < 0 ? 0 : p > 99 ? 99 : p;
        }
        case KP_UPDATE_STATE_DONE:
        case KP_UPDATE_STATE_SAME_VERSION:
            return 100;
        case KP_UPDATE_STATE_IDLE:
            return 0;
        default:
            return u.cancelled_progress;
    }
}

long long Network::cameraClock(const Camera& c) const { return hostUtcSeconds() + c.clock_offset_s; }

// ---- Live video ----------------------------------------------------------------------------------

int Network::addPlay(std::shared_ptr<LivePlay> play) {
    const int handle = next_play_++;
    plays_.emplace(handle, std::move(play));
    return handle;
}

std::shared_ptr<LivePlay> Network::takePlay(int handle) {
    auto it = plays_.find(handle);
    if (it == plays_.end()) return nullptr;
    auto play = it->second;
    plays_.erase(it);
    return play;
}

std::shared_ptr<LivePlay> Network::findPlay(int handle) {
    auto it = plays_.find(handle);
    return it == plays_.end() ? nullptr : it->second;
}

std::vector<std::shared_ptr<LivePlay>> Network::takePlays(uint64_t session) {
    std::vector<std::shared_ptr<LivePlay>> out;
    for (auto it = plays_.begin(); it != plays_.end();) {
        if (it->second->session() == session) {
            out.push_back(it->second);
            it = plays_.erase(it);
        } else {
            ++it;
        }
    }
    return out;
}

long long Network::liveFrames(const Camera& c) const {
    long long n = c.frames_finished;
    for (const auto& p : plays_) {
        if (p.second->camera() == c.index) n += p.second->frames();
    }
    return n;
}

int Network::livePlays(const Camera& c) const {
    int n = 0;
    for (const auto& p : plays_) n += p.second->camera() == c.index;
    return n;
}

bool Network::frameInfo(uint64_t session, std::string& ip, long long& clock) {
    std::lock_guard<std::mutex> lk(mu_);
    Session* s = findSession(session);
    if (s == nullptr || !s->alive) return false;
    const Camera& c = cameras_[static_cast<size_t>(s->camera)];
    ip = c.ip;
    clock = cameraClock(c);
    return true;
}

void Network::stopPlays(std::vector<std::shared_ptr<LivePlay>> plays) {
    for (auto& p : plays) p->stop();
    std::lock_guard<std::mutex> lk(mu_);
    for (auto& p : plays) {
        if (p->camera() >= 0 && static_cast<size_t>(p->camera()) < cameras_.size() &&
            p->generation() == load_generation_) {
            cameras_[static_cast<size_t>(p->camera())].frames_finished += p->frames();
        }
    }
}

}  // namespace rudavado
