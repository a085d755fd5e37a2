// The shared job worker's own guarantees; the composer's tests cover order and the full ring.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <memory>
#include <thread>

#include "job_worker.h"

using factory::JobWorker;
using namespace std::chrono_literals;

TEST(JobWorkerTest, TickRunsInTheFirstCycleThenEveryPeriodButNotWhilePaused) {
    JobWorker worker;
    std::atomic<int> ticks{0};
    auto drain = [&worker] {
        std::promise<void> done;
        worker.Post([&done] { done.set_value(); });
        return done.get_future().wait_for(30s) == std::future_status::ready;
    };
    ASSERT_TRUE(worker.Start([&] { ++ticks; }, 1ms));
    ASSERT_TRUE(drain());
    ASSERT_TRUE(drain());  // the first cycle's tick runs after that cycle's job
    worker.SetPaused(true);
    int paused_at = ticks.load();
    std::this_thread::sleep_for(50ms);
    EXPECT_LE(ticks.load(), paused_at + 1);  // at most the one under way when paused
    worker.SetPaused(false);
    for (int i = 0; i < 3000 && ticks.load() < paused_at + 5; ++i) std::this_thread::sleep_for(10ms);
    EXPECT_GE(ticks.load(), paused_at + 5);
    worker.Stop();
}

TEST(JobWorkerTest, DestroyedWhileAJobRunsReturnsWithoutWaiting) {
    std::promise<void> started;
    std::promise<void> gate;
    auto finished = std::make_shared<std::atomic<bool>>(false);
    {
        JobWorker worker;
        ASSERT_TRUE(worker.Start());
        worker.Post([&started, open = gate.get_future().share(), finished] {
            started.set_value();
            open.wait();
            *finished = true;
        });
        started.get_future().wait();
    }
    EXPECT_FALSE(finished->load());
    gate.set_value();
}
