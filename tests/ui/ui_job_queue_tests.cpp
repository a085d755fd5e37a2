#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QWidget>
#include <atomic>
#include <chrono>
#include <future>
#include <mutex>
#include <thread>
#include <vector>

#include "kp_native_window.h"
#include "main_widget.h"
#include "ui_job_queue.h"

namespace {

void pumpUntil(const std::function<bool()>& done, int timeout_ms = 10000) {
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    while (!done() && std::chrono::steady_clock::now() < end)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
}

}  // namespace

TEST(UiJobQueue, SeventyJobsPostedBeforeTheConsumerRunsAllRunInOrder) {
    UiJobQueue queue;
    std::vector<int> order;
    // Posted from another thread with no consumer running: none of the 70 waits for room.
    std::thread producer([&] {
        for (int i = 0; i < 70; ++i) EXPECT_TRUE(queue.postJob([&order, i] { order.push_back(i); }));
    });
    producer.join();
    EXPECT_EQ(queue.pendingCount(), 70);

    queue.runQueuedJobs();
    ASSERT_EQ(order.size(), 70u);
    for (int i = 0; i < 70; ++i) EXPECT_EQ(order[static_cast<size_t>(i)], i);
    EXPECT_EQ(queue.pendingCount(), 0);
}

TEST(UiJobQueue, OrderHoldsWhileTheRingRefillsFromTheOverflow) {
    // Jobs posted between two passes, while some still wait behind the ring, run after them.
    UiJobQueue queue;
    std::vector<int> order;
    int next = 0;
    auto post = [&](int count) {
        for (int i = 0; i < count; ++i, ++next) queue.postJob([&order, n = next] { order.push_back(n); });
    };
    post(100);
    queue.postJob([&] { post(10); });  // posted by a job, between ring and overflow jobs
    post(5);
    queue.runQueuedJobs();
    // The ten posted by the job come after the five posted before it ran.
    ASSERT_EQ(order.size(), 115u);
    for (int i = 0; i < 115; ++i) EXPECT_EQ(order[static_cast<size_t>(i)], i);
}

TEST(UiJobQueue, AClosedQueueRefusesPostsAndDropsWhatWaited) {
    UiJobQueue queue;
    std::atomic<int> destroyed{0};
    std::thread::id destroyed_on;
    int ran = 0;
    for (int i = 0; i < 100; ++i) queue.postJob([&ran] { ++ran; });
    queue.close();
    EXPECT_TRUE(queue.closed());
    EXPECT_EQ(queue.pendingCount(), 0);

    // Refused on the poster's own thread; what the job held is released there.
    std::thread::id poster;
    std::thread late([&] {
        poster = std::this_thread::get_id();
        std::shared_ptr<int> held(new int(0), [&](int* value) {
            destroyed_on = std::this_thread::get_id();
            ++destroyed;
            delete value;
        });
        EXPECT_FALSE(queue.postJob([held] {}));
        held.reset();
    });
    late.join();
    EXPECT_EQ(destroyed.load(), 1);
    EXPECT_EQ(destroyed_on, poster);
    queue.runQueuedJobs();
    EXPECT_EQ(ran, 0);
}

TEST(UiJobQueue, EightProducersLoseNothingAndKeepEachProducersOrder) {
    UiJobQueue queue;
    const int perProducer = 2000;
    std::vector<std::vector<int>> seen(8);
    std::atomic<int> done{0};
    std::vector<std::thread> producers;
    for (int t = 0; t < 8; ++t) {
        producers.emplace_back([&, t] {
            for (int i = 0; i < perProducer; ++i)
                queue.postJob([&seen, t, i] { seen[static_cast<size_t>(t)].push_back(i); });
            ++done;
        });
    }
    while (done.load() < 8) queue.runQueuedJobs();
    for (auto& p : producers) p.join();
    queue.runQueuedJobs();
    for (int t = 0; t < 8; ++t) {
        ASSERT_EQ(seen[static_cast<size_t>(t)].size(), static_cast<size_t>(perProducer)) << "producer " << t;
        for (int i = 0; i < perProducer; ++i)
            ASSERT_EQ(seen[static_cast<size_t>(t)][static_cast<size_t>(i)], i);
    }
}

TEST(UiJobQueue, JobPostedWhileDrainingRunsInTheSamePass) {
    UiJobQueue queue;
    std::vector<std::string> log;
    queue.postJob([&] {
        log.push_back("first");
        queue.postJob([&] { log.push_back("nested"); });
    });
    queue.postJob([&] { log.push_back("second"); });
    queue.runQueuedJobs();
    EXPECT_EQ(log, (std::vector<std::string>{"first", "second", "nested"}));
    queue.runQueuedJobs();  // a late wake-up finds nothing to do
    EXPECT_EQ(log.size(), 3u);
}

TEST(UiJobQueue, UiThreadPostingIntoAFullRingDoesNotHang) {
    UiJobQueue queue;
    int ran = 0;
    queue.postJob([&] {
        for (int i = 0; i < 200; ++i) queue.postJob([&] { ++ran; });
    });
    queue.runQueuedJobs();
    EXPECT_EQ(ran, 200);
    EXPECT_EQ(queue.pendingCount(), 0);
}

TEST(UiJobQueue, UiThreadAndAWorkerPostIntoAFullRing) {
    // The queue's own user-interface thread is a thread of this test, so that a deadlock fails
    // the test instead of hanging it.
    auto ran = std::make_shared<std::promise<int>>();
    std::thread ui([ran] {
        UiJobQueue queue;
        int count = 0;
        for (int i = 0; i < UiJobQueue::kSlotCount - 1; ++i) queue.postJob([&count] { ++count; });
        std::thread worker([&] { queue.postJob([&count] { ++count; }); });
        queue.postJob([&count] { ++count; });
        worker.join();
        queue.runQueuedJobs();
        ran->set_value(count);
    });
    auto result = ran->get_future();
    if (result.wait_for(std::chrono::seconds(20)) != std::future_status::ready) {
        ui.detach();
        FAIL() << "the user-interface thread is stuck in postJob";
    }
    ui.join();
    EXPECT_EQ(result.get(), UiJobQueue::kSlotCount + 1);
}

TEST(UiJobQueue, MainWindowRunsJobsFromWorkerThreadsOnTheUiThread) {
    MainWidget window;
    const auto uiThread = std::this_thread::get_id();
    std::atomic<int> ran{0};
    std::atomic<int> offThread{0};
    std::vector<std::thread> workers;
    for (int t = 0; t < 8; ++t) {
        workers.emplace_back([&] {
            for (int i = 0; i < 100; ++i)
                window.jobQueue()->postJob([&] {
                    if (std::this_thread::get_id() != uiThread) ++offThread;
                    ++ran;
                });
        });
    }
    pumpUntil([&] { return ran.load() == 800; });
    for (auto& w : workers) w.join();
    pumpUntil([&] { return ran.load() == 800; });
    EXPECT_EQ(ran.load(), 800);
    EXPECT_EQ(offThread.load(), 0);
}

// The local list starts its logins before the main window has given the queue its owner.
TEST(UiJobQueue, JobsPostedBeforeTheOwnerIsSetRunOnceItIs) {
    QWidget window;
    UiJobQueue queue;
    const HWND hwnd = reinterpret_cast<HWND>(window.winId());
    kp::registerNativeWindow(hwnd, &window, [&queue](MSG& msg) {
        if (msg.message == kUiJobMessage) queue.runQueuedJobs();
    });
    int ran = 0;
    queue.postJob([&] { ++ran; });
    queue.setOwner(hwnd);
    pumpUntil([&] { return ran == 1; });
    EXPECT_EQ(ran, 1);
    queue.setOwner(nullptr);
    kp::unregisterNativeWindow(hwnd);
}

TEST(UiJobQueue, PostingToAClosedWindowIsRefused) {
    HWND hwnd;
    UiJobQueuePtr queue;
    {
        MainWidget window;
        hwnd = reinterpret_cast<HWND>(window.winId());
        queue = window.jobQueue();
        EXPECT_TRUE(PostMessageA(hwnd, kUiJobMessage, 0, 0));
    }
    EXPECT_FALSE(PostMessageA(hwnd, kUiJobMessage, 0, 0));
    int ran = 0;
    queue->postJob([&] { ++ran; });  // the queue outlives the window; nothing is woken
    QCoreApplication::processEvents();
    EXPECT_EQ(ran, 0);
}
