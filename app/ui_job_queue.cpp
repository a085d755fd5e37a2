#include "ui_job_queue.h"

UiJobQueue::UiJobQueue(HWND owner) : owner_(owner), consumer_thread_(std::this_thread::get_id()) {}

void UiJobQueue::setOwner(HWND owner) { owner_.store(owner); }

HWND UiJobQueue::owner() const { return owner_.load(); }

bool UiJobQueue::full() const {
    return next(write_index_.load(std::memory_order_relaxed)) == read_index_.load(std::memory_order_acquire);
}

void UiJobQueue::postJob(UiJob job) {
    {
        // Producers take turns; the consumer never takes this lock, so it can always drain.
        std::lock_guard<std::recursive_mutex> guard(producer_lock_);
        while (full()) {
            // A job that posts from the user-interface thread into a full ring would wait for
            // itself forever: drain here instead.
            if (std::this_thread::get_id() == consumer_thread_)
                runQueuedJobs();
            else
                std::this_thread::yield();
        }
        const int w = write_index_.load(std::memory_order_relaxed);
        slots_[w] = std::move(job);
        write_index_.store(next(w), std::memory_order_release);
    }
    if (HWND window = owner_.load()) PostMessageA(window, kUiJobMessage, 0, 0);
}

void UiJobQueue::runQueuedJobs() {
    int r = read_index_.load(std::memory_order_relaxed);
    while (r != write_index_.load(std::memory_order_acquire)) {
        UiJob job = std::move(slots_[r]);
        slots_[r] = nullptr;
        r = next(r);
        read_index_.store(r, std::memory_order_release);
        if (job) job();
        r = read_index_.load(std::memory_order_relaxed);  // a nested drain may have moved on
    }
}

int UiJobQueue::pendingCount() const {
    const int w = write_index_.load(std::memory_order_acquire);
    const int r = read_index_.load(std::memory_order_acquire);
    return (w - r + kSlotCount) % kSlotCount;
}
