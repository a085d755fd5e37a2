// What each place that starts threads does when the system refuses one: a clean failure, said
// in the log or to the caller, never an abort.
#include <gtest/gtest.h>

#include <future>
#include <memory>
#include <vector>

#include "deviceconnectionmanager.h"
#include "factory_test_support.h"
#include "thread_refusal.h"
#include "worker.h"

using namespace factory_test;
using factory::DeviceConnectionManager;
using factory::Worker;
using test::ThreadRefusal;

TEST(ThreadRefusalTest, WorkerStartFailsAndPostsFailWhenItsFirstThreadIsRefused) {
    LogCapture log;
    Worker::Options options;
    options.name = "refused worker";
    Worker worker(options);
    // Jobs handed to a refused start go unrun, and let go of what they hold.
    auto held = std::make_shared<int>(0);
    {
        ThreadRefusal refuse;
        EXPECT_FALSE(worker.Start());
        EXPECT_FALSE(worker.Start({[held] { ++*held; }}));
    }
    EXPECT_EQ(1, held.use_count());
    EXPECT_FALSE(worker.Running());
    EXPECT_FALSE(worker.Post([] {}));
    EXPECT_EQ(2u, log.matching("refused worker: thread 1 of 1 refused").size());
    // A later start, with threads available again, works, and runs the jobs it was given first.
    std::vector<int> order;
    ASSERT_TRUE(worker.Start({[&order] { order.push_back(1); }, [&order] { order.push_back(2); }}));
    std::promise<void> ran;
    ASSERT_TRUE(worker.Post([&] {
        order.push_back(3);
        ran.set_value();
    }));
    EXPECT_EQ(std::future_status::ready, ran.get_future().wait_for(std::chrono::seconds(30)));
    worker.Stop();
    EXPECT_EQ((std::vector<int>{1, 2, 3}), order);
    EXPECT_EQ(0, *held);
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

TEST(ThreadRefusalTest, ComposerWithoutAWorkerFailsTheCameraWithTheReason) {
    LoadDefaultNetwork();
    auto deal = std::make_shared<factory::dealmodule>();
    {
        ThreadRefusal refuse;
        EXPECT_FALSE(deal->InitModules(1));
    }
    EXPECT_FALSE(deal->worker_running());
    ReportLog log;
    deal->Reboot(kPlateIp, 80, kUser, kPassword, log.callback());
    ASSERT_TRUE(log.waitFinal());
    EXPECT_EQ((std::vector<Report>{{false, factory::dealmodule::kNoThread}}), log.reports());
    EXPECT_EQ(0, CameraState(CameraNumber(kPlateIp)).sessions);
    EXPECT_FALSE(deal->PostJob([] {}));
}

// With no thread at all the manager still answers every add and removal; with the worker but no
// login thread, the logins fail as for a camera that does not answer.
TEST(ThreadRefusalTest, ConnectionManagerFailsItsLoginsCleanly) {
    LoadDefaultNetwork();
    for (long allowed : {0L, 1L}) {
        SCOPED_TRACE(testing::Message() << allowed << " thread(s) allowed");
        LogCapture log;
        DeviceConnectionManager manager;
        {
            ThreadRefusal refuse(allowed);
            EXPECT_FALSE(manager.Start());
        }
        std::promise<void> completed;
        manager.AddAndLogin(kPlateIp, 80, kUser, kPassword, [&completed] { completed.set_value(); });
        ASSERT_EQ(std::future_status::ready, completed.get_future().wait_for(std::chrono::seconds(30)));
        // The add ran inline or on the worker; the completion ran only after it.
        const std::shared_ptr<factory::DeviceConnection> connection = manager.Find(kPlateIp);
        ASSERT_NE(nullptr, connection);
        EXPECT_EQ(nullptr, connection->GetSdkHandle());
        EXPECT_EQ(0, CameraState(CameraNumber(kPlateIp)).sessions);
        EXPECT_EQ(1u, log.matching("connection manager logins: thread 1 of 16 refused").size());
        manager.Stop();
    }
}
