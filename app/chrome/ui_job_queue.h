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
// Jobs wait in a ring of 64 slots (63 usable); when it is full they wait behind it in an
// unbounded list, in posting order. A producer never waits for the user-interface thread: the
// library posts while it holds its own locks, and the user-interface thread may be waiting for
// one of them (stopping discovery, joining a login).
//
// close() starts the owner's shutdown: jobs posted afterwards are destroyed at once on the
// poster's thread, and the waiting ones are never run.
#pragma once

#include <windows.h>

#include <atomic>
#include <deque>
#include <memory>
#include <mutex>

#include "job_ring.h"

using UiJob = factory::JobRing::Job;

constexpr UINT kUiJobMessage = WM_USER + 1;

class UiJobQueue {
public:
    static constexpr int kSlotCount = factory::JobRing::kSlots;

    explicit UiJobQueue(HWND owner = nullptr);
    ~UiJobQueue();

    UiJobQueue(const UiJobQueue&) = delete;
    UiJobQueue& operator=(const UiJobQueue&) = delete;

    // The window that receives the wake-up message; null posts none (tests drive the queue).
    // Jobs already waiting when an owner is set are announced to it.
    void setOwner(HWND owner);
    HWND owner() const;

    // Any thread; never waits for the consumer. Stores the job, then wakes the owner. False
    // (and the job destroyed here) once the queue is closed.
    bool postJob(UiJob job);

    // User-interface thread only. Runs every waiting job in posting order, including jobs
    // posted while it runs. Runs nothing once closed.
    void runQueuedJobs();

    // Refuses every later post and drops the waiting jobs; any thread, idempotent.
    void close();
    bool closed() const;

    // Jobs waiting right now (a snapshot).
    int pendingCount() const;

private:
    // Moves the jobs that overflowed into the ring while it has room; under overflow_lock_.
    void refillRingLocked();

    factory::JobRing ring_;
    // Guards the overflow list and the closed flag. Never held while a job runs or is destroyed.
    mutable std::mutex overflow_lock_;
    std::deque<UiJob> overflow_;
    std::atomic<bool> closed_{false};
    std::atomic<HWND> owner_;
};

using UiJobQueuePtr = std::shared_ptr<UiJobQueue>;
