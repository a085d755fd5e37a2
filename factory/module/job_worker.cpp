#include "job_worker.h"

#include <condition_variable>
#include <mutex>
#include <system_error>
#include <utility>

namespace factory {

// Shared by the JobWorker and each thread it started, so that a thread never outlives what it
// reads.
struct JobWorker::State {
    JobRing ring;
    std::mutex lock;  // guards the fields below; a waiting thread sleeps on `wake` under it
    std::condition_variable wake;
    bool paused = false;
    // Each Start runs a thread for the current generation; Stop moves on to the next one.
    unsigned long long generation = 0;
    Job tick;
    std::chrono::milliseconds period{0};
    // Held while a job or tick runs: a new thread waits here for the old one's last job.
    std::mutex run;
};

JobWorker::JobWorker() : state_(std::make_shared<State>()) {}

JobWorker::~JobWorker() {
    Release();
    state_->ring.Clear();
}

bool JobWorker::Start(Job tick, std::chrono::milliseconds period) {
    if (thread_.joinable()) {
        return true;
    }
    unsigned long long generation = 0;
    {
        std::lock_guard<std::mutex> guard(state_->lock);
        state_->tick = std::move(tick);
        state_->period = period;
        generation = state_->generation;
    }
    try {
        thread_ = std::thread(&JobWorker::Loop, state_, generation);
    } catch (const std::system_error&) {
        return false;
    }
    return true;
}

void JobWorker::Release() {
    {
        std::lock_guard<std::mutex> guard(state_->lock);
        ++state_->generation;
    }
    state_->wake.notify_all();
    if (thread_.joinable()) {
        thread_.detach();
    }
}

void JobWorker::Stop() {
    if (!thread_.joinable()) {
        return;
    }
    if (thread_.get_id() == std::this_thread::get_id()) {
        // Joining itself would deadlock; the loop ends when the calling job returns.
        Release();
        return;
    }
    {
        std::lock_guard<std::mutex> guard(state_->lock);
        ++state_->generation;
    }
    state_->wake.notify_all();
    thread_.join();
}

void JobWorker::Post(Job job) {
    state_->ring.Push(std::move(job));
    // Taking the lock orders the post before a waiting thread's next look at the ring.
    { std::lock_guard<std::mutex> guard(state_->lock); }
    state_->wake.notify_all();
}

void JobWorker::SetPaused(bool paused) {
    {
        std::lock_guard<std::mutex> guard(state_->lock);
        state_->paused = paused;
    }
    state_->wake.notify_all();
}

void JobWorker::Clear() { state_->ring.Clear(); }

int JobWorker::Pending() const { return state_->ring.Size(); }

void JobWorker::Loop(std::shared_ptr<State> state, unsigned long long generation) {
    using Clock = std::chrono::steady_clock;
    Clock::time_point next_tick = Clock::now();
    std::unique_lock<std::mutex> guard(state->lock);
    while (state->generation == generation) {
        bool ran = false;
        if (!state->paused) {
            Job job;
            if (state->ring.TryPop(job)) {
                guard.unlock();
                {
                    std::lock_guard<std::mutex> running(state->run);
                    job();
                    // The closure may hold the last reference to the worker's owner; it goes here,
                    // on this thread, which reads only `state` afterwards.
                    job = nullptr;
                }
                guard.lock();
                ran = true;
            }
            if (state->tick && Clock::now() >= next_tick && state->generation == generation &&
                !state->paused) {
                Job tick = state->tick;
                guard.unlock();
                {
                    std::lock_guard<std::mutex> running(state->run);
                    tick();
                }
                guard.lock();
                next_tick = Clock::now() + state->period;
            }
        }
        if (ran) {
            continue;
        }
        // An unpause must wake the loop even with nothing posted, since a tick may be due.
        const bool was_paused = state->paused;
        auto ready = [&] {
            return state->generation != generation || state->paused != was_paused ||
                   (!state->paused && state->ring.Size() > 0);
        };
        if (state->tick && !state->paused) {
            state->wake.wait_until(guard, next_tick, ready);
        } else {
            state->wake.wait(guard, ready);
        }
    }
}

}  // namespace factory
