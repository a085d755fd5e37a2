// The worker/queue primitive: every job runs once, in order on one thread, within the bound,
// across stops and pauses; the periodic pass; a worker going while its job runs.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <future>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "worker.h"

using factory::Worker;
using namespace std::chrono_literals;

namespace {

// A count that tests wait on.
class Counter {
public:
    void add() {
        std::lock_guard<std::mutex> guard(lock_);
        ++count_;
        changed_.notify_all();
    }
    bool waitFor(int count, std::chrono::seconds timeout = 30s) {
        std::unique_lock<std::mutex> guard(lock_);
        return changed_.wait_for(guard, timeout, [&] { return count_ >= count; });
    }
    int value() {
        std::lock_guard<std::mutex> guard(lock_);
        return count_;
    }

private:
    std::mutex lock_;
    std::condition_variable changed_;
    int count_ = 0;
};

Worker::Options Make(int threads, size_t capacity) {
    Worker::Options options;
    options.name = "test worker";
    options.threads = threads;
    options.capacity = capacity;
    return options;
}

#ifndef _WIN32
// Tells when its thread ends (namespace scope: made in each thread that uses it). Not on Windows:
// its thread library runs a thread_local's destructor after freeing the storage.
struct ThreadEnd {
    std::promise<void>* ended = nullptr;
    ~ThreadEnd() {
        if (ended) ended->set_value();
    }
};
thread_local ThreadEnd thread_end;
#endif

bool Drain(Worker& worker) {
    std::promise<void> done;
    if (!worker.Post([&done] { done.set_value(); })) return false;
    return done.get_future().wait_for(30s) == std::future_status::ready;
}

}  // namespace

TEST(WorkerTest, EveryJobRunsOnceWithinTheThreadsAndInOrderOnOneThread) {
    struct Case {
        int threads;
        size_t capacity;
        int producers;
    };
    const Case cases[] = {{1, 0, 1}, {1, 0, 8}, {1, 3, 8}, {4, 0, 8}, {4, 2, 8}, {16, 1, 4}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.threads << " threads, capacity " << c.capacity << ", "
                                        << c.producers << " producers");
        constexpr int kJobsEach = 200;
        Worker worker(Make(c.threads, c.capacity));
        ASSERT_TRUE(worker.Start());
        EXPECT_EQ(c.threads, worker.Threads());
        std::mutex lock;
        std::map<int, std::vector<int>> ran;  // producer -> its jobs, in the order they ran
        std::atomic<int> running{0};
        std::atomic<int> most{0};
        std::atomic<bool> over_bound{false};
        Counter done;
        std::vector<std::thread> producers;
        for (int p = 0; p < c.producers; ++p) {
            producers.emplace_back([&, p] {
                for (int i = 0; i < kJobsEach; ++i) {
                    ASSERT_TRUE(worker.Post([&, p, i] {
                        const int now = ++running;
                        int seen = most.load();
                        while (now > seen && !most.compare_exchange_weak(seen, now)) {
                        }
                        if (c.capacity > 0 && worker.Pending() > c.capacity) over_bound = true;
                        {
                            std::lock_guard<std::mutex> guard(lock);
                            ran[p].push_back(i);
                        }
                        --running;
                        done.add();
                    }));
                }
            });
        }
        for (std::thread& producer : producers) producer.join();
        ASSERT_TRUE(done.waitFor(c.producers * kJobsEach));
        worker.Stop();
        EXPECT_FALSE(worker.Running());
        EXPECT_LE(most.load(), c.threads);
        EXPECT_FALSE(over_bound.load());
        for (int p = 0; p < c.producers; ++p) {
            std::vector<int> jobs = ran[p];
            ASSERT_EQ(static_cast<size_t>(kJobsEach), jobs.size());
            if (c.threads > 1) std::sort(jobs.begin(), jobs.end());
            for (int i = 0; i < kJobsEach; ++i) ASSERT_EQ(i, jobs[i]);
        }
    }
}

TEST(WorkerTest, FullQueueHoldsItsProducersUntilRoomAndDropsNothing) {
    constexpr size_t kCapacity = 4;
    constexpr int kProducers = 8;
    constexpr int kJobsEach = 50;
    Worker worker(Make(1, kCapacity));
    ASSERT_TRUE(worker.Start());
    worker.SetPaused(true);
    std::atomic<int> posted{0};
    Counter done;
    std::vector<int> ran;  // the worker thread's alone
    std::vector<std::thread> producers;
    for (int p = 0; p < kProducers; ++p) {
        producers.emplace_back([&, p] {
            for (int i = 0; i < kJobsEach; ++i) {
                EXPECT_TRUE(worker.Post([&, p, i] {
                    ran.push_back(p * kJobsEach + i);
                    done.add();
                }));
                ++posted;
            }
        });
    }
    // Paused: the queue fills and every producer then waits in Post.
    while (worker.Pending() < kCapacity) std::this_thread::yield();
    EXPECT_EQ(kCapacity, worker.Pending());
    EXPECT_EQ(static_cast<int>(kCapacity), posted.load());
    worker.SetPaused(false);
    for (std::thread& producer : producers) producer.join();
    ASSERT_TRUE(done.waitFor(kProducers * kJobsEach));
    worker.Stop();
    std::vector<int> last(kProducers, -1);
    for (int job : ran) {
        const int p = job / kJobsEach;
        EXPECT_LT(last[p], job);  // each producer's jobs in its own order
        last[p] = job;
    }
    EXPECT_EQ(static_cast<size_t>(kProducers * kJobsEach), ran.size());
}

TEST(WorkerTest, JobPostedByItsOwnThreadOnAFullQueueIsQueued) {
    Worker worker(Make(1, 1));
    ASSERT_TRUE(worker.Start());
    Counter done;
    ASSERT_TRUE(worker.Post([&] {
        // The queue is full after the first post; waiting here would wait for itself.
        for (int i = 0; i < 3; ++i) EXPECT_TRUE(worker.Post([&] { done.add(); }));
    }));
    EXPECT_TRUE(done.waitFor(3));
    worker.Stop();
}

TEST(WorkerTest, StopKeepsQueuedJobsForTheNextStartAndRefusesPostsMeanwhile) {
    Worker worker(Make(1, 0));
    // Never started: nothing queues, and the job is let go at once.
    auto token = std::make_shared<int>(0);
    EXPECT_FALSE(worker.Post([token] { ++*token; }));
    EXPECT_EQ(1, token.use_count());

    ASSERT_TRUE(worker.Start());
    worker.SetPaused(true);
    std::vector<int> ran;
    for (int i = 0; i < 10; ++i) ASSERT_TRUE(worker.Post([&ran, i] { ran.push_back(i); }));
    worker.Stop();
    EXPECT_EQ(10u, worker.Pending());
    EXPECT_FALSE(worker.Post([token] { ++*token; }));
    EXPECT_EQ(1, token.use_count());

    worker.SetPaused(false);
    ASSERT_TRUE(worker.Start());
    ASSERT_TRUE(Drain(worker));
    worker.Stop();
    EXPECT_EQ((std::vector<int>{0, 1, 2, 3, 4, 5, 6, 7, 8, 9}), ran);
    EXPECT_EQ(0, *token);
}

// Retired from inside its job, the thread ends by itself (its thread-locals go) without a Stop;
// the Stop after it joins, and a Start after it runs the jobs left queued.
TEST(WorkerTest, RetiredInsideAJobEndsByItselfAndStaysJoinable) {
    std::promise<void> ended;
    std::promise<void> queued;  // the second job waits in the queue before the retire
    std::shared_future<void> second_queued = queued.get_future().share();
    Worker worker(Make(1, 0));
    ASSERT_TRUE(worker.Start());
    ASSERT_TRUE(worker.Post([&] {
        second_queued.wait();
#ifndef _WIN32
        thread_end.ended = &ended;
        worker.Retire();
#else
        worker.Retire();
        ended.set_value();  // the end of the job: Stop below joins the thread
#endif
    }));
    std::vector<int> ran;
    // Taken by no thread of the retired generation.
    ASSERT_TRUE(worker.Post([&ran] { ran.push_back(1); }));
    queued.set_value();
    EXPECT_EQ(std::future_status::ready, ended.get_future().wait_for(30s));
    EXPECT_FALSE(worker.Running());
    EXPECT_FALSE(worker.Post([&ran] { ran.push_back(2); }));
    worker.Stop();
    ASSERT_TRUE(worker.Start());
    ASSERT_TRUE(Drain(worker));
    worker.Stop();
    EXPECT_EQ(std::vector<int>{1}, ran);
}

TEST(WorkerTest, ProducerWaitingForRoomIsReleasedByStop) {
    Worker worker(Make(1, 1));
    ASSERT_TRUE(worker.Start());
    worker.SetPaused(true);
    ASSERT_TRUE(worker.Post([] {}));
    auto blocked = std::async(std::launch::async, [&] { return worker.Post([] {}); });
    EXPECT_EQ(std::future_status::timeout, blocked.wait_for(50ms));
    worker.Stop();
    ASSERT_EQ(std::future_status::ready, blocked.wait_for(30s));
    EXPECT_FALSE(blocked.get());
}

TEST(WorkerTest, PassRunsAtStartOnWakeAndEveryPeriodButNotWhilePaused) {
    Counter passes;
    Worker::Options options = Make(2, 0);
    options.pass = [&] { passes.add(); };
    options.period = std::chrono::hours(1);
    Worker worker(options);
    ASSERT_TRUE(worker.Start());
    ASSERT_TRUE(passes.waitFor(1));
    worker.Wake();
    ASSERT_TRUE(passes.waitFor(2));

    worker.SetPaused(true);
    worker.Wake();
    // A pool thread that runs nothing while paused also runs no pass.
    std::promise<void> job;
    ASSERT_TRUE(worker.Post([&job] { job.set_value(); }));
    auto job_done = job.get_future();
    EXPECT_EQ(std::future_status::timeout, job_done.wait_for(50ms));
    EXPECT_EQ(2, passes.value());
    worker.SetPaused(false);
    EXPECT_EQ(std::future_status::ready, job_done.wait_for(30s));
    ASSERT_TRUE(passes.waitFor(3));
    worker.Stop();

    Counter frequent;
    options.pass = [&] { frequent.add(); };
    options.period = 1ms;
    Worker often(options);
    ASSERT_TRUE(often.Start());
    EXPECT_TRUE(frequent.waitFor(5));
    often.Stop();
}

TEST(WorkerTest, DestroyedWhileAJobRunsReturnsWithoutWaiting) {
    std::promise<void> started;
    std::promise<void> gate;
    auto finished = std::make_shared<std::atomic<bool>>(false);
    {
        Worker worker;
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
