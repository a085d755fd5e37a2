// Discovery: which callback reports which camera, when, on which thread, and never after stop.
#include <atomic>
#include <chrono>
#include <map>
#include <thread>

#include "rudavado_test_support.h"

using rdvtest::NetworkTest;
using rdvtest::waitUntil;

namespace {

struct Found {
    std::string ip;
    bool extended;
    unsigned short port;
    unsigned int serial_low, serial_high;
    std::string firmware, mac, boot_time, netmask, gateway;
    std::thread::id thread;
    std::chrono::steady_clock::time_point when;
};

class Collector {
public:
    static void KPLPRC_CALL onEx(const char*, const char* ip, unsigned short port, unsigned short,
                                 unsigned int low, unsigned int high, const char* mask, const char* gw,
                                 void* user) {
        static_cast<Collector*>(user)->add({ip, false, port, low, high, "", "", "", mask, gw,
                                            std::this_thread::get_id(), std::chrono::steady_clock::now()});
    }
    static void KPLPRC_CALL onV2(const char*, const char* ip, unsigned short port, unsigned short,
                                 unsigned int low, unsigned int high, const char* mask, const char* gw, int,
                                 const char* firmware, int, const char* mac, const char* boot, void* user) {
        static_cast<Collector*>(user)->add({ip, true, port, low, high, firmware, mac, boot, mask, gw,
                                            std::this_thread::get_id(), std::chrono::steady_clock::now()});
    }

    void add(Found f) {
        // A callback still running when stop returned is as late as one starting after it.
        if (stopped.load()) late.fetch_add(1);
        if (slow_us > 0) std::this_thread::sleep_for(std::chrono::microseconds(slow_us));
        if (stopped.load()) late.fetch_add(1);
        std::lock_guard<std::mutex> lk(mu);
        found.push_back(std::move(f));
    }
    size_t count() {
        std::lock_guard<std::mutex> lk(mu);
        return found.size();
    }
    std::vector<Found> all() {
        std::lock_guard<std::mutex> lk(mu);
        return found;
    }
    std::map<std::string, int> perIp() {
        std::map<std::string, int> m;
        for (auto& f : all()) ++m[f.ip];
        return m;
    }

    std::mutex mu;
    std::vector<Found> found;
    std::atomic<bool> stopped{false};
    std::atomic<int> late{0};
    int slow_us = 0;
};

class DiscoveryTest : public NetworkTest {
protected:
    void TearDown() override {
        KpLPRClient_StopFindDevice();
        NetworkTest::TearDown();
    }
    // Extended first: then no camera can answer the basic probe before the extended callback
    // is there, so each is reported exactly once however slowly the two calls follow each other.
    void startBoth() {
        ASSERT_EQ(0, KPLPRClient_StartFindDeviceV2(&Collector::onV2, &c_));
        ASSERT_EQ(0, KPLPRClient_StartFindDeviceEx(&Collector::onEx, &c_));
    }
    // Lets replies that might still be on their way arrive.
    static void settle() { std::this_thread::sleep_for(std::chrono::milliseconds(60)); }

    Collector c_;
};

TEST_F(DiscoveryTest, EachOnlineCameraOnceThroughTheCallbackItSupports) {
    startBoth();
    ASSERT_TRUE(waitUntil([&] { return c_.count() >= 11; }));
    settle();
    const auto found = c_.all();
    EXPECT_EQ(11u, found.size()) << "12 cameras, one powered off";
    for (auto& entry : c_.perIp()) EXPECT_EQ(1, entry.second) << entry.first;
    EXPECT_EQ(0u, c_.perIp().count("192.168.1.104"));

    for (const Found& f : found) {
        EXPECT_NE(std::this_thread::get_id(), f.thread) << "reports come on the library's thread";
        RuDAVADO_CameraState s = state(camera(f.ip.c_str()));
        EXPECT_EQ(s.extended_discovery != 0, f.extended) << f.ip;
        EXPECT_EQ(s.port, f.port);
        EXPECT_EQ(s.serial_low, f.serial_low);
        EXPECT_EQ(s.serial_high, f.serial_high);
        EXPECT_EQ(s.netmask, f.netmask);
        EXPECT_EQ(s.gateway, f.gateway);
        if (f.extended) {
            EXPECT_EQ(s.firmware, f.firmware);
            EXPECT_EQ(s.mac, f.mac);
            EXPECT_EQ(19u, f.boot_time.size()) << f.boot_time;
        }
    }
    EXPECT_FALSE(c_.perIp().empty());
    EXPECT_EQ(8080, [&] {
        for (auto& f : found)
            if (f.ip == "192.168.1.102") return static_cast<int>(f.port);
        return 0;
    }());
}

TEST_F(DiscoveryTest, BasicSearchAloneHearsEveryCameraAndExtendedAloneOnlyNewModels) {
    ASSERT_EQ(0, KPLPRClient_StartFindDeviceEx(&Collector::onEx, &c_));
    ASSERT_TRUE(waitUntil([&] { return c_.count() >= 11; }));
    settle();
    EXPECT_EQ(11u, c_.count());
    for (const Found& f : c_.all()) EXPECT_FALSE(f.extended);
    ASSERT_EQ(0, KpLPRClient_StopFindDevice());

    Collector v2;
    ASSERT_EQ(0, KPLPRClient_StartFindDeviceV2(&Collector::onV2, &v2));
    ASSERT_TRUE(waitUntil([&] { return v2.count() >= 10; }));
    settle();
    EXPECT_EQ(10u, v2.count()) << "the older model does not answer the extended search";
    EXPECT_EQ(0u, v2.perIp().count("192.168.1.105"));
}

// Each registration sends its own probe, so a second registration that comes after the first
// replies still finds every camera: in either order, with the replies arriving at once.
TEST_F(DiscoveryTest, SecondRegistrationAfterTheFirstRepliesStillFindsEveryCamera) {
    ASSERT_EQ(0, RuDAVADO_SetTiming("discovery_spread", 0));
    const auto extendedIps = [](const std::vector<Found>& found, bool extended) {
        std::map<std::string, int> m;
        for (const Found& f : found)
            if (f.extended == extended) ++m[f.ip];
        return m;
    };

    // Extended first: the older model is found by the basic search registered 2 ms later, and
    // nobody is reported twice.
    ASSERT_EQ(0, KPLPRClient_StartFindDeviceV2(&Collector::onV2, &c_));
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
    ASSERT_EQ(0, KPLPRClient_StartFindDeviceEx(&Collector::onEx, &c_));
    ASSERT_TRUE(waitUntil([&] { return c_.count() >= 11; })) << c_.count();
    settle();
    EXPECT_EQ(11u, c_.count());
    EXPECT_EQ((std::map<std::string, int>{{"192.168.1.105", 1}}), extendedIps(c_.all(), false));
    EXPECT_EQ(10u, extendedIps(c_.all(), true).size());
    ASSERT_EQ(0, KpLPRClient_StopFindDevice());

    // Basic first: the newer models, already heard through the basic search, still arrive
    // through the extended one with firmware, MAC and start-up time.
    Collector c2;
    ASSERT_EQ(0, KPLPRClient_StartFindDeviceEx(&Collector::onEx, &c2));
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
    ASSERT_EQ(0, KPLPRClient_StartFindDeviceV2(&Collector::onV2, &c2));
    ASSERT_TRUE(waitUntil([&] { return extendedIps(c2.all(), true).size() >= 10; }));
    settle();
    const auto extended = extendedIps(c2.all(), true);
    EXPECT_EQ(10u, extended.size());
    for (const auto& entry : extended) EXPECT_EQ(1, entry.second) << entry.first;
    EXPECT_EQ(0u, extended.count("192.168.1.105"));
    EXPECT_EQ(1, extendedIps(c2.all(), false)["192.168.1.105"]);
    for (const Found& f : c2.all()) {
        if (f.extended) {
            EXPECT_EQ(state(camera(f.ip.c_str())).firmware, f.firmware) << f.ip;
        }
    }
    ASSERT_EQ(0, KpLPRClient_StopFindDevice());

    // Registered back to back, as a program does, with answers due at once: each camera once.
    Collector c3;
    ASSERT_EQ(0, KPLPRClient_StartFindDeviceEx(&Collector::onEx, &c3));
    ASSERT_EQ(0, KPLPRClient_StartFindDeviceV2(&Collector::onV2, &c3));
    ASSERT_TRUE(waitUntil([&] { return c3.count() >= 11; }));
    settle();
    EXPECT_EQ(11u, c3.count());
    EXPECT_EQ(11u, c3.perIp().size());
}

TEST_F(DiscoveryTest, RefusesANullCallback) {
    EXPECT_EQ(-1, KPLPRClient_StartFindDeviceEx(nullptr, nullptr));
    EXPECT_EQ(-1, KPLPRClient_StartFindDeviceV2(nullptr, nullptr));
    EXPECT_EQ(KPLPRC_ERR_PARAMETER, KpLPRClient_GetLastError());
}

TEST_F(DiscoveryTest, RepliesAreSpreadOverTheConfiguredWhile) {
    ASSERT_EQ(0, RuDAVADO_SetTiming("discovery_spread", 200000));  // 200 ms at the test scale
    startBoth();
    ASSERT_TRUE(waitUntil([&] { return c_.count() >= 11; }));
    auto found = c_.all();
    auto first = found.front().when, last = found.front().when;
    for (auto& f : found) {
        first = std::min(first, f.when);
        last = std::max(last, f.when);
    }
    EXPECT_GT(last - first, std::chrono::milliseconds(40));
}

TEST_F(DiscoveryTest, CameraComingBackWhileSearchingIsReportedAgain) {
    startBoth();
    ASSERT_TRUE(waitUntil([&] { return c_.count() >= 11; }));
    settle();
    ASSERT_EQ(0, RuDAVADO_SetPower(camera("192.168.1.104"), 1));
    ASSERT_TRUE(waitUntil([&] { return c_.perIp()["192.168.1.104"] == 1; }));

    KPLPRC_HANDLE h = open("192.168.1.100");
    ASSERT_NE(nullptr, h);
    ASSERT_EQ(0, KpLPRClient_RebootDevice(h));
    ASSERT_TRUE(waitUntil([&] { return c_.perIp()["192.168.1.100"] == 2; }));
    settle();
    EXPECT_EQ(13u, c_.count());

    // A new start of the same kind is a new probe: everybody answers again.
    ASSERT_EQ(0, KPLPRClient_StartFindDeviceV2(&Collector::onV2, &c_));
    ASSERT_TRUE(waitUntil([&] { return c_.count() >= 13 + 11; }));
}

void KPLPRC_CALL stopFromInside(const char*, const char*, unsigned short, unsigned short, unsigned int,
                                unsigned int, const char*, const char*, void* user) {
    static_cast<std::atomic<int>*>(user)->fetch_add(1);
    KpLPRClient_StopFindDevice();
}

TEST_F(DiscoveryTest, StopFromInsideACallbackEndsTheSearch) {
    std::atomic<int> calls{0};
    ASSERT_EQ(0, KPLPRClient_StartFindDeviceEx(&stopFromInside, &calls));
    ASSERT_TRUE(waitUntil([&] { return calls.load() >= 1; }));
    settle();
    EXPECT_EQ(1, calls.load());
}

TEST_F(DiscoveryTest, NoCallbackAfterStopReturnsWhileReportsFlow) {
    // Replies keep arriving through the whole loop.
    ASSERT_EQ(0, RuDAVADO_SetTiming("discovery_spread", 5000));
    c_.slow_us = 200;
    size_t reports_seen = 0;
    // No reply comes sooner than a network round trip (20 ms): the stops fall on both sides.
    for (int i = 0; i < 200; ++i) {
        c_.stopped.store(false);
        startBoth();
        std::this_thread::sleep_for(std::chrono::microseconds((i * 397) % 30000));
        ASSERT_EQ(0, KpLPRClient_StopFindDevice());
        c_.stopped.store(true);
        reports_seen = c_.count();
    }
    settle();
    EXPECT_EQ(0, c_.late.load());
    EXPECT_EQ(reports_seen, c_.count());
    EXPECT_GT(reports_seen, 0u) << "the loop must overlap with reports to prove anything";
}

}  // namespace
