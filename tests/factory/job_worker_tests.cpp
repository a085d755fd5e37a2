// The shared job worker: order, pause, the periodic tick and where it may be destroyed.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "job_worker.h"

using factory::JobWorker;
using namespace std::chrono_literals;

namespace {

// Posts a job and waits until the worker has run everything posted before it.
bool Drain(JobWorker& worker) {
    std::promise<void> done;
    worker.Post([&done] { done.set_value(); });
    return done.get_future().wait_for(30s) == std::future_status::ready;
}

}  // namespace

TEST(JobWorkerTest, PausedWorkerRunsNothingThenEverythingInOrder) {
    JobWorker worker;
    std::atomic<int> ticks{0};
    ASSERT_TRUE(worker.Start([&] { ++ticks; }, 1h));
    ASSERT_TRUE(Drain(worker));
    ASSERT_TRUE(Drain(worker));
    EXPECT_EQ(1, ticks.load());  // the first cycle runs the tick, after that cycle's job

    worker.SetPaused(true);
    std::vector<int> order;  // written by the worker only
    for (int i = 0; i < JobWorker::kSlots - 1; ++i) worker.Post([&order, i] { order.push_back(i); });
    std::promise<void> posted;
    std::thread poster([&] {
        worker.Post([&order] { order.push_back(63); });
        posted.set_value();
    });
    auto posted_future = posted.get_future();
    EXPECT_EQ(std::future_status::timeout, posted_future.wait_for(100ms));
    EXPECT_EQ(JobWorker::kSlots - 1, worker.Pending());
    EXPECT_TRUE(order.empty());

    worker.SetPaused(false);
    poster.join();
    ASSERT_TRUE(Drain(worker));
    worker.Stop();
    ASSERT_EQ(64u, order.size());
    for (int i = 0; i < 64; ++i) EXPECT_EQ(i, order[i]);
    EXPECT_EQ(1, ticks.load());
}

TEST(JobWorkerTest, TickRepeatsEveryPeriodWithoutPosts) {
    JobWorker worker;
    std::mutex lock;
    std::condition_variable changed;
    int ticks = 0;
    ASSERT_TRUE(worker.Start(
        [&] {
            std::lock_guard<std::mutex> guard(lock);
            ++ticks;
            changed.notify_all();
        },
        5ms));
    std::unique_lock<std::mutex> guard(lock);
    EXPECT_TRUE(changed.wait_for(guard, 30s, [&] { return ticks >= 3; }));
    guard.unlock();
    worker.Stop();
}

TEST(JobWorkerTest, DestroyedByItsOwnJobOrWhileAJobRuns) {
    // The last reference goes with a job's closure, on the worker thread itself.
    std::promise<void> released;
    {
        auto worker = std::make_shared<JobWorker>();
        ASSERT_TRUE(worker->Start());
        std::shared_ptr<void> notify(nullptr, [&released](void*) { released.set_value(); });
        worker->Post([worker, notify] {});
    }
    EXPECT_EQ(std::future_status::ready, released.get_future().wait_for(30s));

    // Destroyed on another thread while a job runs: returns without waiting for the job.
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
