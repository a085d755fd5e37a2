// The local list's connection manager against the simulated cameras: logins and their details,
// the reconnect pass, removal, the pause flag, and that lookups and completion jobs never wait
// on each other.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <future>
#include <memory>
#include <thread>

#include "deviceconnectionmanager.h"
#include "factory_test_support.h"
#include "kp_platform.h"

using namespace factory_test;
using factory::DeviceConnectionManager;

namespace {

// Polls `done` for up to 20 s.
bool Eventually(const std::function<bool()>& done) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!done()) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

class ConnectionManagerTest : public ::testing::Test {
protected:
    void SetUp() override {
        LoadDefaultNetwork();
        manager_.SetReconnectCallback([this](const std::string& ip) {
            if (ip == "192.168.1.104") ++reconnected_;
        });
    }
    void TearDown() override {
        manager_.Stop();
        RuDAVADO_SetTiming("connect_timeout", -1);
        RuDAVADO_ClearFaults();
    }
    DeviceConnectionManager::Job completion() {
        return [this] { ++completions_; };
    }
    bool waitCompletions(int count) {
        return Eventually([&] { return completions_ >= count; });
    }

    std::atomic<int> completions_{0};
    std::atomic<int> reconnected_{0};  // of the offline camera
    DeviceConnectionManager manager_;
};

}  // namespace

TEST_F(ConnectionManagerTest, ASecondAddOfAnAddressOnlyRunsItsCompletion) {
    manager_.Start();
    manager_.AddAndLogin(kPlateIp, 80, kUser, kPassword, completion());
    ASSERT_TRUE(waitCompletions(1));

    auto connection = manager_.Find(kPlateIp);
    ASSERT_NE(connection, nullptr);
    ASSERT_NE(connection->GetSdkHandle(), nullptr);
    EXPECT_EQ(connection->GetGateway(), CameraState(CameraNumber(kPlateIp)).gateway);
    EXPECT_EQ(manager_.IpOfHandle(connection->GetSdkHandle()), kPlateIp);
    EXPECT_EQ(manager_.IpOfHandle(reinterpret_cast<KPLPRC_HANDLE>(0x7fff1234)), "");
    EXPECT_EQ(manager_.Find("192.168.1.250"), nullptr);

    // The address is known: no second login, the old data stays.
    manager_.AddAndLogin(kPlateIp, 80, kUser, "wrong", completion());
    ASSERT_TRUE(waitCompletions(2));
    EXPECT_EQ(manager_.Find(kPlateIp), connection);
    EXPECT_EQ(connection->GetPassword(), kPassword);
    EXPECT_EQ(CameraState(CameraNumber(kPlateIp)).sessions, 1);
}

TEST_F(ConnectionManagerTest, RemovalDropsTheConnectionWhateverItsState) {
    manager_.Start();
    manager_.AddAndLogin(kPlateIp, 80, kUser, kPassword, completion());
    manager_.AddAndLogin("192.168.1.104", 80, kUser, kPassword, completion());  // offline: no session
    ASSERT_TRUE(waitCompletions(2));
    ASSERT_EQ(CameraState(CameraNumber(kPlateIp)).sessions, 1);
    const auto first = manager_.Find(kPlateIp);

    // A refused logout and a connection without a session are removed all the same.
    ASSERT_EQ(RuDAVADO_FailNext("KpLPRClient_Close", CameraNumber(kPlateIp), 1), 0);
    manager_.Remove(kPlateIp);
    manager_.Remove("192.168.1.104");
    manager_.AddAndLogin(kPlateIp, 80, kUser, kPassword, completion());  // ordered after the removal
    ASSERT_TRUE(waitCompletions(3));
    EXPECT_EQ(manager_.Find("192.168.1.104"), nullptr);

    // Re-adding logs in afresh instead of finding the old entry.
    auto again = manager_.Find(kPlateIp);
    ASSERT_NE(again, nullptr);
    EXPECT_NE(again, first);
    EXPECT_NE(again->GetSdkHandle(), nullptr);
}

TEST_F(ConnectionManagerTest, ARemovalRefusedByTheCameraLeavesNoSessionBehind) {
    // Refused once: asked again at once. Refused twice: closed when the connection is let go.
    for (int refusals : {1, 2}) {
        SCOPED_TRACE(refusals);
        const int camera = CameraNumber(kPlateIp);
        manager_.Start();
        manager_.AddAndLogin(kPlateIp, 80, kUser, kPassword, completion());
        ASSERT_TRUE(waitCompletions(1));
        ASSERT_EQ(CameraState(camera).sessions, 1);

        ASSERT_EQ(RuDAVADO_FailNext("KpLPRClient_Close", camera, refusals), 0);
        manager_.Remove(kPlateIp);
        EXPECT_TRUE(Eventually([&] { return CameraState(camera).open_handles == 0; }));
        EXPECT_EQ(CameraState(camera).sessions, 0);
        EXPECT_EQ(manager_.Find(kPlateIp), nullptr);
        manager_.Stop();
        RuDAVADO_ClearFaults();
        completions_ = 0;
    }
}

// A camera offline at its first add is logged in by the next reconnect pass, unless paused.
TEST_F(ConnectionManagerTest, PausedManagerRunsNoJobAndNoReconnectPass) {
    const char* offline_ip = "192.168.1.104";
    manager_.Start();
    manager_.AddAndLogin(offline_ip, 80, kUser, kPassword, completion());
    ASSERT_TRUE(waitCompletions(1));

    manager_.SetPaused(true);
    ASSERT_EQ(RuDAVADO_SetPower(CameraNumber(offline_ip), 1), 0);
    manager_.AddAndLogin(kPlateIp, 80, kUser, kPassword, completion());
    // Several reconnect intervals and a boot at the test's time scale.
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_EQ(completions_.load(), 1);
    EXPECT_EQ(manager_.Find(kPlateIp), nullptr);
    EXPECT_EQ(manager_.Find(offline_ip)->GetSdkHandle(), nullptr);

    manager_.SetPaused(false);
    ASSERT_TRUE(waitCompletions(2));
    ASSERT_TRUE(Eventually([&] { return reconnected_ > 0; }));
    EXPECT_NE(manager_.Find(offline_ip)->GetSdkHandle(), nullptr);
    EXPECT_FALSE(manager_.Find(offline_ip)->GetMacText().empty());
}

TEST_F(ConnectionManagerTest, LookupsAndPostsDoNotWaitForALoginInProgress) {
    manager_.Start();
    manager_.AddAndLogin(kPlateIp, 80, kUser, kPassword, completion());
    ASSERT_TRUE(waitCompletions(1));
    const KPLPRC_HANDLE handle = manager_.Find(kPlateIp)->GetSdkHandle();

    // An address nobody answers: its login waits for the whole connect time-out (1 s).
    ASSERT_EQ(RuDAVADO_SetTiming("connect_timeout", 1000.0 / kp::timeScale()), 0);
    auto silent_done = std::make_shared<std::atomic<bool>>(false);
    manager_.AddAndLogin("10.9.9.9", 80, kUser, kPassword, [this, silent_done] {
        *silent_done = true;
        ++completions_;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(200));

    EXPECT_NE(manager_.Find(kPlateIp), nullptr);
    EXPECT_EQ(manager_.IpOfHandle(handle), kPlateIp);
    // More posts than a 64-slot ring holds.
    for (int i = 0; i < 100; ++i) manager_.AddAndLogin(kPlateIp, 80, kUser, kPassword, completion());
    EXPECT_FALSE(silent_done->load()) << "the lookups or posts waited for the login";
    ASSERT_TRUE(waitCompletions(102));
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
    ASSERT_EQ(result.wait_for(std::chrono::seconds(20)), std::future_status::ready);
    EXPECT_TRUE(result.get()) << "the completion job ran under the map lock";
}

// A camera that never answers holds one login for the whole connect time-out; the cameras
// queued behind it log in meanwhile.
TEST_F(ConnectionManagerTest, ASilentCameraDoesNotHoldUpTheLoginsBehindIt) {
    ASSERT_EQ(RuDAVADO_SetTiming("connect_timeout", 2000.0 / kp::timeScale()), 0);
    // Shared: the silent login ends after this body when an assertion returns early.
    auto silent_done = std::make_shared<std::atomic<bool>>(false);
    manager_.Start();
    manager_.AddAndLogin("10.9.9.9", 80, kUser, kPassword, [silent_done] { *silent_done = true; });
    manager_.AddAndLogin(kPlateIp, 80, kUser, kPassword, completion());
    ASSERT_TRUE(waitCompletions(1));
    EXPECT_FALSE(silent_done->load());
    EXPECT_NE(manager_.Find(kPlateIp)->GetSdkHandle(), nullptr);
}
