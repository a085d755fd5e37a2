// How work done on other threads gets back to the user-interface thread.
//
// A producer on any thread calls postJob(job); the queue stores the job and posts the wake-up
// message WM_USER + 1 (both parameters 0) to its owning window, whose native-event hook calls
// runQueuedJobs() on the user-interface thread:
//
//   bool MainWidget::nativeEvent(const QByteArray& type, void* message, long* result) {
//       if (type == "windows_generic_MSG" && static_cast<MSG*>(message)->message == kUiJobMessage)
//           ui_job_queue_->runQueuedJobs();
//       return QWidget::nativeEvent(type, message, result);
//   }
//
// The ring has 64 slots and keeps one free, so at most 63 jobs wait; a producer that finds it
// full waits until the user-interface thread has run some. Nothing is ever dropped.
#pragma once

#include <windows.h>

#include <array>
#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

using UiJob = std::function<void()>;

constexpr UINT kUiJobMessage = WM_USER + 1;

class UiJobQueue {
public:
    static constexpr int kSlotCount = 64;

    // The thread that builds the queue is the consumer (user-interface) thread.
    explicit UiJobQueue(HWND owner = nullptr);

    UiJobQueue(const UiJobQueue&) = delete;
    UiJobQueue& operator=(const UiJobQueue&) = delete;

    // The window that receives the wake-up message; null posts none (tests drive the queue).
    void setOwner(HWND owner);
    HWND owner() const;

    // Any thread. Waits while the ring is full, stores the job, then wakes the owner.
    void postJob(UiJob job);

    // User-interface thread only. Runs every waiting job in posting order, including jobs
    // posted while it runs.
    void runQueuedJobs();

    // Jobs waiting right now (a snapshot).
    int pendingCount() const;

private:
    static int next(int index) { return (index + 1) % kSlotCount; }
    bool full() const;

    std::array<UiJob, kSlotCount> slots_;
    std::atomic<int> write_index_{0};
    std::atomic<int> read_index_{0};
    std::recursive_mutex producer_lock_;
    std::atomic<HWND> owner_;
    const std::thread::id consumer_thread_;
};

using UiJobQueuePtr = std::shared_ptr<UiJobQueue>;
