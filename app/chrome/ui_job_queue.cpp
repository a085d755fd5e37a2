#include "ui_job_queue.h"

#include <utility>

UiJobQueue::UiJobQueue(HWND owner) : owner_(owner) {}

UiJobQueue::~UiJobQueue() { close(); }

void UiJobQueue::setOwner(HWND owner) {
    owner_.store(owner);
    // Jobs posted before there was an owner woke nobody; a producer that batches its jobs (the
    // local list's login results) posts no second message while its first job waits.
    if (owner && pendingCount() > 0) PostMessageA(owner, kUiJobMessage, 0, 0);
}

HWND UiJobQueue::owner() const { return owner_.load(); }

bool UiJobQueue::postJob(UiJob job) {
    bool stored = false;
    {
        std::lock_guard<std::mutex> guard(overflow_lock_);
        if (!closed_.load()) {
            // Behind waiting overflow a job goes to the list too, so posting order holds.
            if (!overflow_.empty() || !ring_.TryPush(job)) overflow_.push_back(std::move(job));
            stored = true;
        }
    }
    if (!stored) {
        // What a refused job holds may post again or release its owner: not under the lock.
        job = nullptr;
        return false;
    }
    if (HWND window = owner_.load()) PostMessageA(window, kUiJobMessage, 0, 0);
    return true;
}

void UiJobQueue::refillRingLocked() {
    while (!overflow_.empty() && ring_.TryPush(overflow_.front())) overflow_.pop_front();
}

void UiJobQueue::runQueuedJobs() {
    UiJob job;
    while (!closed_.load()) {
        if (!ring_.TryPop(job)) {
            std::lock_guard<std::mutex> guard(overflow_lock_);
            if (overflow_.empty()) break;
            refillRingLocked();
            continue;
        }
        if (job) job();
        job = nullptr;
    }
}

void UiJobQueue::close() {
    std::deque<UiJob> dropped;
    {
        std::lock_guard<std::mutex> guard(overflow_lock_);
        closed_.store(true);
        dropped.swap(overflow_);
    }
    ring_.Clear();
    dropped.clear();
}

bool UiJobQueue::closed() const { return closed_.load(); }

int UiJobQueue::pendingCount() const {
    std::lock_guard<std::mutex> guard(overflow_lock_);
    return ring_.Size() + static_cast<int>(overflow_.size());
}
