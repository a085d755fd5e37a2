#include "job_ring.h"

#include <utility>

namespace factory {

JobRing::JobRing() : slots_(new Job[kSlots]) {}

JobRing::~JobRing() = default;

void JobRing::Push(Job job) {
    std::unique_lock<std::mutex> guard(lock_);
    ++waiting_producers_;
    not_full_.wait(guard, [this] { return Next(write_) != read_; });
    --waiting_producers_;
    slots_[write_] = std::move(job);
    write_ = Next(write_);
}

bool JobRing::TryPush(Job& job) {
    std::lock_guard<std::mutex> guard(lock_);
    if (Next(write_) == read_) {
        return false;
    }
    slots_[write_] = std::move(job);
    write_ = Next(write_);
    return true;
}

bool JobRing::TryPop(Job& job) {
    bool wake = false;
    {
        std::lock_guard<std::mutex> guard(lock_);
        if (read_ == write_) {
            return false;
        }
        job = std::move(slots_[read_]);
        slots_[read_] = nullptr;
        read_ = Next(read_);
        wake = waiting_producers_ > 0;
    }
    if (wake) {
        // One slot came free, so one waiting producer can move on.
        not_full_.notify_one();
    }
    return true;
}

int JobRing::Size() const {
    std::lock_guard<std::mutex> guard(lock_);
    return (write_ - read_ + kSlots) % kSlots;
}

void JobRing::Clear() {
    Job job;
    while (TryPop(job)) {
        job = nullptr;
    }
}

}  // namespace factory
