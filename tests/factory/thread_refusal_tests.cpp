// What each place that starts threads does when the system refuses one: a clean failure, said
// in the log or to the caller, never an abort.
#include <gtest/gtest.h>

#include <future>

#include "factory_test_support.h"
#include "thread_refusal.h"
#include "worker.h"

using factory::Worker;
using factory_test::LogCapture;
using test::ThreadRefusal;

TEST(ThreadRefusalTest, WorkerStartFailsAndPostsFailWhenItsFirstThreadIsRefused) {
    LogCapture log;
    Worker::Options options;
    options.name = "refused worker";
    Worker worker(options);
    {
        ThreadRefusal refuse;
        EXPECT_FALSE(worker.Start());
    }
    EXPECT_FALSE(worker.Running());
    EXPECT_FALSE(worker.Post([] {}));
    EXPECT_EQ(1u, log.matching("refused worker: thread 1 of 1 refused").size());
    // A later start, with threads available again, works.
    ASSERT_TRUE(worker.Start());
    std::promise<void> ran;
    ASSERT_TRUE(worker.Post([&ran] { ran.set_value(); }));
    EXPECT_EQ(std::future_status::ready, ran.get_future().wait_for(std::chrono::seconds(30)));
    worker.Stop();
}

TEST(ThreadRefusalTest, PoolRunsWithTheThreadsItGot) {
    Worker::Options options;
    options.threads = 4;
    Worker worker(options);
    {
        ThreadRefusal refuse(2);
        ASSERT_TRUE(worker.Start());
    }
    EXPECT_EQ(2, worker.Threads());
    std::promise<void> ran;
    ASSERT_TRUE(worker.Post([&ran] { ran.set_value(); }));
    EXPECT_EQ(std::future_status::ready, ran.get_future().wait_for(std::chrono::seconds(30)));
    worker.Stop();
}
