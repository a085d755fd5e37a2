// The local list's connection manager against the simulated cameras: logins and their details,
// the reconnect pass, removal, the pause flag, and that lookups and completion jobs never wait
// on each other.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <future>
#include <mutex>
#include <set>
#include <thread>

#include "deviceconnectionmanager.h"
#include "factory_test_support.h"
#include "kp_platform.h"

using namespace factory_test;
using factory::DeviceConnectionManager;

namespace {

constexpr auto kGenerous = std::chrono::seconds(20);

// Counts completions and reconnect announcements, and waits for them.
class Events {
public:
    DeviceConnectionManager::Job completion() {
        return [this] {
            std::lock_guard<std::mutex> guard(lock_);
            ++completions_;
            changed_.notify_all();
        };
    }
    void reconnected(const std::string& ip) {
        std::lock_guard<std::mutex> guard(lock_);
        reconnected_.insert(ip);
        changed_.notify_all();
    }
    bool waitCompletions(int count) {
        std::unique_lock<std::mutex> guard(lock_);
        return changed_.wait_for(guard, kGenerous, [&] { return completions_ >= count; });
    }
    bool waitReconnected(const std::string& ip) {
        std::unique_lock<std::mutex> guard(lock_);
        return changed_.wait_for(guard, kGenerous, [&] { return reconnected_.count(ip) > 0; });
    }
    int completions() {
        std::lock_guard<std::mutex> guard(lock_);
        return completions_;
    }

private:
    std::mutex lock_;
    std::condition_variable changed_;
    int completions_ = 0;
    std::set<std::string> reconnected_;
};

class ConnectionManagerTest : public ::testing::Test {
protected:
    void SetUp() override {
        LoadDefaultNetwork();
        manager_.SetReconnectCallback([this](const std::string& ip) { events_.reconnected(ip); });
    }
    void TearDown() override {
        manager_.Stop();
        RuDAVADO_SetTiming("connect_timeout", -1);
        RuDAVADO_ClearFaults();
    }

    Events events_;
    DeviceConnectionManager manager_;
};

}  // namespace

TEST_F(ConnectionManagerTest, LoginReadsDetailsAndASecondAddOnlyRunsItsCompletion) {
    manager_.Start();
    manager_.AddAndLogin(kPlateIp, 80, kUser, kPassword, events_.completion());
    ASSERT_TRUE(events_.waitCompletions(1));

    auto connection = manager_.Find(kPlateIp);
    ASSERT_NE(connection, nullptr);
    ASSERT_NE(connection->GetSdkHandle(), nullptr);
    const RuDAVADO_CameraState camera = CameraState(CameraNumber(kPlateIp));
    EXPECT_EQ(connection->GetMacText(), camera.mac);
    EXPECT_FALSE(connection->GetSerialText().empty());
    EXPECT_EQ(connection->GetFirmwareVersion(), camera.firmware);
    EXPECT_EQ(connection->GetNetmask(), camera.netmask);
    EXPECT_EQ(connection->GetGateway(), camera.gateway);
    EXPECT_EQ(manager_.IpOfHandle(connection->GetSdkHandle()), kPlateIp);
    EXPECT_EQ(manager_.IpOfHandle(reinterpret_cast<KPLPRC_HANDLE>(0x7fff1234)), "");
    EXPECT_EQ(manager_.Find("192.168.1.250"), nullptr);

    // The address is known: no second login, the old data stays.
    manager_.AddAndLogin(kPlateIp, 80, kUser, "wrong", events_.completion());
    ASSERT_TRUE(events_.waitCompletions(2));
    EXPECT_EQ(manager_.Find(kPlateIp), connection);
    EXPECT_EQ(connection->GetPassword(), kPassword);
    EXPECT_EQ(CameraState(CameraNumber(kPlateIp)).sessions, 1);
}

TEST_F(ConnectionManagerTest, CameraOfflineAtItsFirstAddIsLoggedInByTheNextReconnectPass) {
    const char* offline_ip = "192.168.1.104";
    manager_.Start();
    manager_.AddAndLogin(offline_ip, 80, kUser, kPassword, events_.completion());
    ASSERT_TRUE(events_.waitCompletions(1));
    EXPECT_EQ(manager_.Find(offline_ip)->GetSdkHandle(), nullptr);

    ASSERT_EQ(RuDAVADO_SetPower(CameraNumber(offline_ip), 1), 0);
    ASSERT_TRUE(events_.waitReconnected(offline_ip));
    EXPECT_NE(manager_.Find(offline_ip)->GetSdkHandle(), nullptr);
    EXPECT_FALSE(manager_.Find(offline_ip)->GetMacText().empty());
}

TEST_F(ConnectionManagerTest, RemovalDropsTheConnectionWhateverItsState) {
    manager_.Start();
    manager_.AddAndLogin(kPlateIp, 80, kUser, kPassword, events_.completion());
    manager_.AddAndLogin("192.168.1.104", 80, kUser, kPassword, events_.completion());  // offline: no session
    manager_.AddAndLogin(kFaceIp, 80, kUser, kPassword, events_.completion());
    ASSERT_TRUE(events_.waitCompletions(3));
    ASSERT_EQ(CameraState(CameraNumber(kPlateIp)).sessions, 1);
    const auto first = manager_.Find(kPlateIp);

    // A refused logout and a connection without a session are removed all the same.
    ASSERT_EQ(RuDAVADO_FailNext("KpLPRClient_Close", CameraNumber(kPlateIp), 1), 0);
    manager_.Remove(kPlateIp);
    manager_.Remove("192.168.1.104");
    manager_.Remove(kFaceIp);
    manager_.AddAndLogin(kPlateIp, 80, kUser, kPassword, events_.completion());  // ordered after the removal
    ASSERT_TRUE(events_.waitCompletions(4));
    EXPECT_EQ(manager_.Find("192.168.1.104"), nullptr);
    EXPECT_EQ(manager_.Find(kFaceIp), nullptr);
    EXPECT_EQ(CameraState(CameraNumber(kFaceIp)).sessions, 0);

    // Re-adding logs in afresh instead of finding the old entry.
    auto again = manager_.Find(kPlateIp);
    ASSERT_NE(again, nullptr);
    EXPECT_NE(again, first);
    EXPECT_NE(again->GetSdkHandle(), nullptr);
}

TEST_F(ConnectionManagerTest, PausedManagerRunsNoJobAndNoReconnectPass) {
    const char* offline_ip = "192.168.1.104";
    manager_.Start();
    manager_.AddAndLogin(offline_ip, 80, kUser, kPassword, events_.completion());
    ASSERT_TRUE(events_.waitCompletions(1));

    manager_.SetPaused(true);
    ASSERT_EQ(RuDAVADO_SetPower(CameraNumber(offline_ip), 1), 0);
    manager_.AddAndLogin(kPlateIp, 80, kUser, kPassword, events_.completion());
    // Several reconnect intervals and a boot at the test's time scale.
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_EQ(events_.completions(), 1);
    EXPECT_EQ(manager_.Find(kPlateIp), nullptr);
    EXPECT_EQ(manager_.Find(offline_ip)->GetSdkHandle(), nullptr);

    manager_.SetPaused(false);
    ASSERT_TRUE(events_.waitCompletions(2));
    ASSERT_TRUE(events_.waitReconnected(offline_ip));
}

TEST_F(ConnectionManagerTest, LookupsDoNotWaitForALoginInProgress) {
    manager_.Start();
    manager_.AddAndLogin(kPlateIp, 80, kUser, kPassword, events_.completion());
    ASSERT_TRUE(events_.waitCompletions(1));
    const KPLPRC_HANDLE handle = manager_.Find(kPlateIp)->GetSdkHandle();

    // An address nobody answers: its login waits for the whole connect time-out (1 s).
    ASSERT_EQ(RuDAVADO_SetTiming("connect_timeout", 1000.0 / kp::timeScale()), 0);
    manager_.AddAndLogin("10.9.9.9", 80, kUser, kPassword, events_.completion());
    std::this_thread::sleep_for(std::chrono::milliseconds(200));

    EXPECT_NE(manager_.Find(kPlateIp), nullptr);
    EXPECT_EQ(manager_.IpOfHandle(handle), kPlateIp);
    EXPECT_EQ(events_.completions(), 1) << "the lookups waited for the login";
    ASSERT_TRUE(events_.waitCompletions(2));
}

TEST_F(ConnectionManagerTest, CompletionJobMayWaitForAThreadThatLooksUpConnections) {
    // The local list's completion posts to the UI queue, which may wait for the UI thread while
    // that thread looks a connection up.
    std::promise<bool> looked_up;
    manager_.Start();
    manager_.AddAndLogin(kPlateIp, 80, kUser, kPassword, [&] {
        auto lookup = std::async(std::launch::async, [&] { return manager_.Find(kPlateIp) != nullptr; });
        const bool done = lookup.wait_for(std::chrono::seconds(5)) == std::future_status::ready;
        looked_up.set_value(done && lookup.get());
        if (!done) lookup.wait();  // let the lookup end before the test does
    });
    auto result = looked_up.get_future();
    ASSERT_EQ(result.wait_for(kGenerous), std::future_status::ready);
    EXPECT_TRUE(result.get()) << "the completion job ran under the map lock";
}
