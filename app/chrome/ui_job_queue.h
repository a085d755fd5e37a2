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
// full waits until the user-interface thread has run some, and the user-interface thread itself
// runs the waiting jobs first. Nothing is ever dropped.
#pragma once

#include <windows.h>

#include <atomic>
#include <memory>
#include <thread>

#include "job_ring.h"

using UiJob = factory::JobRing::Job;

constexpr UINT kUiJobMessage = WM_USER + 1;

class UiJobQueue {
public:
    static constexpr int kSlotCount = factory::JobRing::kSlots;

    // The thread that builds the queue is the consumer (user-interface) thread.
    explicit UiJobQueue(HWND owner = nullptr);

    UiJobQueue(const UiJobQueue&) = delete;
    UiJobQueue& operator=(const UiJobQueue&) = delete;

    // The window that receives the wake-up message; null posts none (tests drive the queue).
    // Jobs already waiting when an owner is set are announced to it.
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
    factory::JobRing ring_;
    std::atomic<HWND> owner_;
    const std::thread::id consumer_thread_;
};

using UiJobQueuePtr = std::shared_ptr<UiJobQueue>;
