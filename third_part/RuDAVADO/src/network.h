// The simulated camera network: cameras, sessions, live videos, and the library's own thread that
// runs timed camera events and delivers discovery reports and session notifications.
//
// Locking: mu_ guards the network state; cb_mu_ guards the registered callbacks and is held while
// one of them runs. A thread may take mu_ while holding cb_mu_, never the other way round, so a
// callback may call any function of the library.
#pragma once

#include <array>
#include <atomic>
#include <condition_variable>
#include <functional>
#include <future>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

#include "RuDAVADO.h"
#include "camera.h"

namespace rudavado {

class LivePlay;

// Cameras restart their network only, not the whole system, after an address change.
constexpr double kNetworkRestartMs = 2000;

enum class Timing { Call, Login, ConnectTimeout, DiscoverySpread, Boot, Upgrade, Frame, Count };
bool timingByName(const char* name, Timing& t);

struct Session {
    uint64_t id = 0;
    int camera = -1;
    std::string ip;
    int port = 0;
    std::string user, password;
    bool alive = true;
    bool refusal_notified = false;
};

// The two kinds of search probe: every camera answers the basic one, only newer models the
// extended one. A camera coming back while a search runs announces itself (Announce).
enum class Probe { Basic, Extended, Announce };

struct Report {
    uint64_t generation = 0;
    int camera = -1;
    Probe probe = Probe::Basic;
    bool extended = false;
    std::string name, ip, netmask, gateway, firmware, mac, boot_time;
    unsigned short port = 0, port2 = 0;
    uint32_t serial_low = 0, serial_high = 0;
    int find_value = 0, lens_code = 0;
};

struct Delivery {
    bool is_report = false;
    uint64_t session = 0;
    KP_LPRC_COMMON_NOTIFY code = KP_LPRC_NOTIFY_OFFLINE;
    Report report;
};

class Network {
public:
    static Network& instance();
    ~Network();

    // ---- Library set-up (takes the locks itself). The first set-up reads the scenario on a
    // thread of its own, so that the caller does not wait for a large network to be parsed;
    // every call that needs the cameras waits for it through isSetup() or ensureLoaded().
    void setup();
    void cleanup();
    bool isSetup() {
        awaitLoad();
        return setup_.load();
    }
    // Set up, the first scenario possibly still being read; for calls that need no camera.
    bool setupStarted() const { return setup_.load(); }
    // Waits for the first scenario when it is being read; without mu_ held.
    void awaitLoad();

    // ---- Callbacks (take cb_mu_ then mu_).
    void startDiscovery(KPLPRC_FIND_DEVICE_CALLBACK_EX ex, KPLPRC_FIND_DEVICE_CALLBACK_V2 v2, void* user);
    void stopDiscovery();
    void setNotify(KPLPRC_COMMON_NOTIFY_CALLBACK cb, void* user);

    // ---- Scenario (takes the locks itself). Returns false with `error` set.
    bool load(const std::string& json_text, std::string& error);
    void ensureLoaded();

    // ---- State, with mu_ held by the caller.
    std::unique_lock<std::mutex> lock() { return std::unique_lock<std::mutex>(mu_); }
    std::vector<Camera>& cameras() { return cameras_; }
    // The first reachable camera with that address, else the first with that address, else null.
    Camera* cameraByIp(const std::string& ip);
    // After a camera's address changed outside a load: the address lookup is built again.
    void cameraAddressChanged() { ip_index_.clear(); }
    Camera* cameraBySerial(uint32_t high, uint32_t low);
    Session* findSession(KPLPRC_HANDLE handle);
    Session* findSession(uint64_t id);
    KPLPRC_HANDLE addSession(Session s);
    void removeSession(KPLPRC_HANDLE handle);
    int aliveSessions(const Camera& c) const;
    // Sessions not closed yet, logged in or dropped.
    int openHandles(const Camera& c) const;
    bool consumeFault(const std::string& operation, int camera);
    void addFault(const std::string& operation, int camera, int count);
    void clearFaults();
    // Also without mu_: every simulated wait reads one.
    double timing(Timing t) const;
    void setTiming(Timing t, double ms);

    void dropSessions(Camera& c, KP_LPRC_COMMON_NOTIFY code);
    // Camera goes through a restart taking `ms`; a full restart also switches to a written
    // firmware and counts as a boot.
    void startRestart(Camera& c, double ms, bool full);
    void powerOff(Camera& c);
    void powerOn(Camera& c);
    void setLinked(Camera& c, bool linked);
    // Gives the upgrade just started the link drop and stall armed for it; the drop is due whether
    // or not anybody asks.
    void armLinkDrop(Camera& c);
    // Brings a running upgrade up to date with the clock.
    void advanceUpgrade(Camera& c);
    int upgradeProgress(Camera& c);
    long long cameraClock(const Camera& c) const;

    // Live videos. Plays are created and joined by the API outside mu_.
    int addPlay(std::shared_ptr<LivePlay> play);
    std::shared_ptr<LivePlay> takePlay(int handle);
    std::shared_ptr<LivePlay> findPlay(int handle);
    std::vector<std::shared_ptr<LivePlay>> takePlays(uint64_t session);
    uint64_t loadGeneration() const { return load_generation_; }
    long long liveFrames(const Camera& c) const;
    int livePlays(const Camera& c) const;
    // For the drawing thread: false when the session is gone or dropped.
    bool frameInfo(uint64_t session, std::string& ip, long long& clock);

private:
    Network();
    void run();
    void schedule(double delay_ms, std::function<void(std::vector<Delivery>&)> fn);
    void scheduleOnline(Camera& c);
    void scheduleReplies(uint64_t generation, Probe probe);
    void scheduleReply(const Camera& c, double delay_ms, Probe probe);
    Report makeReport(const Camera& c, uint64_t generation, Probe probe) const;
    void deliver(const Delivery& d);
    void stopPlays(std::vector<std::shared_ptr<LivePlay>> plays);
    // The scenario named by RUDAVADO_SCENARIO, else the built-in one, unless one is loaded.
    void loadFromEnvironment();
    bool install(const std::string& json_text, std::string& error, bool only_if_unloaded);
    void clearSessions();

    mutable std::mutex mu_;
    std::condition_variable cv_;
    std::multimap<Clock::time_point, std::function<void(std::vector<Delivery>&)>> events_;
    struct Reply {
        int camera;
        uint64_t generation;
        Probe probe;
    };
    std::multimap<Clock::time_point, Reply> replies_;
    std::vector<Delivery> pending_;
    bool stop_ = false;
    std::atomic<bool> setup_{false};
    bool loaded_ = false;
    // The first scenario is being read on loader_ (set under mu_; loaded_once_ tells its end).
    // Waiters wait on the future, not on mu_: thousands of camera threads released at once would
    // otherwise take mu_ one after another.
    std::atomic<bool> loading_{false};
    std::shared_future<void> loaded_once_;
    std::thread loader_;
    uint64_t load_generation_ = 0;

    std::vector<Camera> cameras_;
    std::map<uint64_t, Session> sessions_;
    uint64_t next_session_ = 1;
    // Session ids by the camera they are on and by the address they were opened to, so that a
    // login, a drop or a camera coming back looks at that camera's sessions only. Ordered like
    // sessions_, so notifications keep their order.
    std::map<int, std::set<uint64_t>> camera_sessions_;
    std::map<std::pair<std::string, int>, std::set<uint64_t>> address_sessions_;
    // Camera indexes by address, in scenario order; built on first use after a change.
    std::unordered_map<std::string, std::vector<int>> ip_index_;
    std::map<int, std::shared_ptr<LivePlay>> plays_;
    int next_play_ = 1;
    std::array<std::atomic<double>, static_cast<size_t>(Timing::Count)> timings_{};
    struct Fault {
        std::string operation;
        int camera;
        int count;
    };
    std::vector<Fault> faults_;

    // Discovery state as the scheduling side sees it (under mu_).
    bool discovery_running_ = false;
    uint64_t discovery_generation_ = 0;

    // Registered callbacks (under cb_mu_).
    std::recursive_mutex cb_mu_;
    KPLPRC_FIND_DEVICE_CALLBACK_EX find_ex_ = nullptr;
    void* find_ex_user_ = nullptr;
    KPLPRC_FIND_DEVICE_CALLBACK_V2 find_v2_ = nullptr;
    void* find_v2_user_ = nullptr;
    uint64_t delivered_generation_ = 0;  // reports of other generations are dropped
    // Per camera of this generation: reported through the basic (bit 0) or extended (bit 1)
    // callback, so that the second probe of a search does not report a camera twice.
    std::vector<unsigned char> reported_;
    KPLPRC_COMMON_NOTIFY_CALLBACK notify_ = nullptr;
    void* notify_user_ = nullptr;

    std::thread thread_;
};

// Scenario parsing (scenario.cpp). Fills cameras and timings; false with `error` set.
bool parseScenario(const std::string& json_text, std::vector<Camera>& cameras,
                   std::array<double, static_cast<size_t>(Timing::Count)>& timings, std::string& error);
const char* defaultScenarioText();
double defaultTiming(Timing t);
// Reads a scenario file: a regular file of at most kMaxScenarioBytes. false with `error` set.
constexpr size_t kMaxScenarioBytes = 64u << 20;
bool readScenarioFile(const char* path, std::string& text, std::string& error);
// The text of the last failed scenario load of the process ("" after a successful one).
void setLoadError(const std::string& error);
std::string lastLoadError();

}  // namespace rudavado
