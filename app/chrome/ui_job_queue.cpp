#include "ui_job_queue.h"

#include <utility>

UiJobQueue::UiJobQueue(HWND owner) : owner_(owner), consumer_thread_(std::this_thread::get_id()) {}

void UiJobQueue::setOwner(HWND owner) {
    owner_.store(owner);
    // Jobs posted before there was an owner woke nobody; a producer that batches its jobs (the
    // local list's login results) posts no second message while its first job waits.
    if (owner && pendingCount() > 0) PostMessageA(owner, kUiJobMessage, 0, 0);
}

HWND UiJobQueue::owner() const { return owner_.load(); }

void UiJobQueue::postJob(UiJob job) {
    if (std::this_thread::get_id() == consumer_thread_) {
        // Waiting for room here would wait for this very thread: run the waiting jobs instead.
        while (!ring_.TryPush(job)) runQueuedJobs();
    } else {
        ring_.Push(std::move(job));
    }
    if (HWND window = owner_.load()) PostMessageA(window, kUiJobMessage, 0, 0);
}

void UiJobQueue::runQueuedJobs() {
    UiJob job;
    while (ring_.TryPop(job)) {
        if (job) job();
        job = nullptr;
    }
}

int UiJobQueue::pendingCount() const { return ring_.Size(); }
