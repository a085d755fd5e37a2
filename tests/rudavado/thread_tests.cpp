// Many threads, many sessions: every call is safe to make from any thread at any time.
#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <thread>

#include "rudavado_test_support.h"

using rdvtest::kPassword;
using rdvtest::kUser;
using rdvtest::NetworkTest;
using rdvtest::waitUntil;

namespace {

std::string cameras(int count, int max_sessions) {
    std::string json = "{\"cameras\": [";
    for (int i = 0; i < count; ++i) {
        if (i) json += ",";
        json += "{\"model\": \"" + std::string(i % 3 == 2 ? "KP-FACE-F2" : "KP-LPR-V3") +
                "\", \"ip\": \"10.1." + std::to_string(i / 200) + "." + std::to_string(i % 200 + 2) +
                "\", \"max_sessions\": " + std::to_string(max_sessions) + "}";
    }
    return json + "]}";
}

class ThreadTest : public NetworkTest {};

TEST_F(ThreadTest, TwoHundredFiftySixSessionsOnSixtyFourCamerasFromThirtyTwoThreads) {
    ASSERT_EQ(0, RuDAVADO_LoadScenarioText(cameras(64, 4).c_str()));
    constexpr int kThreads = 32, kPerThread = 8;
    std::atomic<int> failures{0};
    std::atomic<int> opened{0};
    std::atomic<bool> go{false}, all_open{false};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            while (!go.load()) std::this_thread::yield();
            std::vector<KPLPRC_HANDLE> mine;
            for (int k = 0; k < kPerThread; ++k) {
                const int cam = (t * kPerThread + k) % 64;
                const std::string ip = "10.1.0." + std::to_string(cam + 2);
                KPLPRC_HANDLE h = KpLPRClient_Open(ip.c_str(), 80, kUser, kPassword);
                if (h == nullptr) {
                    failures.fetch_add(1);
                    continue;
                }
                mine.push_back(h);
                opened.fetch_add(1);
            }
            while (!all_open.load() && failures.load() == 0) std::this_thread::yield();
            for (int round = 0; round < 20; ++round) {
                for (KPLPRC_HANDLE h : mine) {
                    KPLPRC_DATETIME dt{};
                    char version[KPLPRC_SYSTEM_VERSION_LEN];
                    KPLPRC_NET_CONFIG net;
                    bool ok = KpLPRClient_GetDateTime(h, &dt) == 0 && KpLPRClient_SetDateTime(h, &dt) == 0 &&
                              KpLPRClient_GetSystemVersion(h, version) == 0 &&
                              KpLPRClient_GetNetConfig(h, &net) == 0 &&
                              KpLPRClient_SetIoOutput(h, 0, round % 4, round % 2) == 0;
                    if (round % 10 == 0) {
                        const int play = KpLPRClient_StartRealPlay(h, nullptr);
                        ok = ok && play >= 0 && KpLPRClient_StopRealPlay(play) == 0;
                    }
                    if (round == 5) {
                        auto rec = std::make_unique<KP_PARAM_IMPORT_ABILITY_V2>();
                        ok = ok && KpLPRClient_GetConfig(h, KP_GET_IMPORT_PARAM_ABILITY_EX, 0, rec.get(),
                                                         sizeof *rec) == 0;
                    }
                    if (!ok) failures.fetch_add(1);
                }
            }
            for (KPLPRC_HANDLE h : mine) {
                if (KpLPRClient_Close(h) != 0) failures.fetch_add(1);
            }
        });
    }
    // Bystanders: a search started and stopped over and over, and state reads.
    std::atomic<bool> done{false};
    std::thread searcher([&] {
        auto ex = [](const char*, const char*, unsigned short, unsigned short, unsigned int, unsigned int,
                     const char*, const char*, void*) {};
        while (!done.load()) {
            KPLPRClient_StartFindDeviceEx(ex, nullptr);
            std::this_thread::sleep_for(std::chrono::microseconds(300));
            KpLPRClient_StopFindDevice();
        }
    });
    std::thread watcher([&] {
        RuDAVADO_CameraState s;
        while (!done.load()) {
            for (int i = 0; i < 64; ++i) RuDAVADO_GetCameraState(i, &s);
        }
    });

    go.store(true);
    ASSERT_TRUE(waitUntil([&] { return opened.load() + failures.load() >= kThreads * kPerThread; }, 60000));
    int sessions = 0;
    for (int i = 0; i < 64; ++i) sessions += state(i).sessions;
    EXPECT_EQ(256, sessions);
    all_open.store(true);
    for (auto& t : threads) t.join();
    done.store(true);
    searcher.join();
    watcher.join();
    EXPECT_EQ(0, failures.load());
    for (int i = 0; i < 64; ++i) EXPECT_EQ(0, state(i).sessions) << i;
}

TEST_F(ThreadTest, RestartsNotifiesAndClosesOverlap) {
    ASSERT_EQ(0, RuDAVADO_LoadScenarioText(cameras(8, 64).c_str()));
    ASSERT_EQ(0, RuDAVADO_SetTiming("boot", 2000));
    std::atomic<bool> done{false};
    std::vector<std::thread> users;
    for (int t = 0; t < 8; ++t) {
        users.emplace_back([&, t] {
            int i = 0;
            while (!done.load()) {
                const std::string ip = "10.1.0." + std::to_string((t + i++) % 8 + 2);
                KPLPRC_HANDLE h = KpLPRClient_Open(ip.c_str(), 80, kUser, kPassword);
                if (h == nullptr) continue;
                KPLPRC_DATETIME dt{};
                KpLPRClient_GetDateTime(h, &dt);
                const int play = KpLPRClient_StartRealPlay(h, nullptr);
                if (i % 3 == 0) KpLPRClient_RebootDevice(h);
                if (play >= 0 && i % 2 == 0) KpLPRClient_StopRealPlay(play);
                KpLPRClient_Close(h);
            }
        });
    }
    std::thread power([&] {
        int i = 0;
        while (!done.load()) {
            RuDAVADO_SetPower(i % 8, 0);
            RuDAVADO_SetLinked((i + 3) % 8, i % 2);
            RuDAVADO_SetPower(i % 8, 1);
            ++i;
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
    });
    std::thread notifier([&] {
        while (!done.load()) {
            KPLPRClient_SetCommonNotifyCallBack(&rdvtest::NotifyLog::callback, &notes_);
            KPLPRClient_SetCommonNotifyCallBack(nullptr, nullptr);
        }
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(400));
    done.store(true);
    for (auto& t : users) t.join();
    power.join();
    notifier.join();
    for (int i = 0; i < 8; ++i) {
        RuDAVADO_SetLinked(i, 1);
        RuDAVADO_SetPower(i, 1);
    }
    for (int i = 0; i < 8; ++i) {
        ASSERT_TRUE(waitUntil([&] { return online(i); })) << i;
        EXPECT_EQ(0, state(i).sessions);
        EXPECT_EQ(0, state(i).plays);
    }
}

}  // namespace

namespace {

TEST_F(ThreadTest, CleanupWhileCallsRunLeavesNoSessionOrVideoBehind) {
    std::atomic<bool> done{false};
    std::vector<std::thread> users;
    for (int t = 0; t < 6; ++t) {
        users.emplace_back([&, t] {
            const std::string ip = "192.168.1.10" + std::to_string(t % 3);
            while (!done.load()) {
                KPLPRC_HANDLE h = KpLPRClient_Open(ip.c_str(), 80, kUser, kPassword);
                if (h == nullptr) continue;
                KpLPRClient_StartRealPlay(h, nullptr);  // left running on purpose
            }
        });
    }
    for (int i = 0; i < 20; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        ASSERT_EQ(0, KpLPRClient_Cleanup());
        ASSERT_EQ(0, KpLPRClient_Setup());
    }
    done.store(true);
    for (auto& t : users) t.join();
    ASSERT_EQ(0, KpLPRClient_Cleanup());
    for (int i = 0; i < RuDAVADO_CameraCount(); ++i) {
        EXPECT_EQ(0, state(i).sessions) << i;
        EXPECT_EQ(0, state(i).plays) << i;
    }
    ASSERT_EQ(0, KpLPRClient_Setup());
}

}  // namespace
