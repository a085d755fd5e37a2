#include "worker.h"

#include <condition_variable>
#include <deque>
#include <mutex>
#include <system_error>
#include <utility>

#include "logging.h"

namespace factory {

namespace {

using Clock = std::chrono::steady_clock;

// The worker whose thread this is: its posts never wait for room, since nobody else would make it.
thread_local const void* current_worker = nullptr;

}  // namespace

// Shared by the Worker and each thread it started, so that a thread never outlives what it reads.
struct Worker::State {
    explicit State(Options options) : options(std::move(options)) {}

    const Options options;
    mutable std::mutex lock;           // guards everything below
    std::condition_variable wake;      // the threads: a job, a pass due, an unpause or a stop
    std::condition_variable not_full;  // posters waiting for room
    std::deque<Job> jobs;
    bool paused = false;
    // Each Start runs threads of the current generation; Stop and Release move on to the next.
    unsigned long long generation = 0;
    int threads = 0;  // threads of the current generation
    // Steps (jobs or passes) under way on threads of the current generation, and on older ones:
    // a new generation takes nothing while an older one's step runs.
    int busy = 0;
    int busy_before = 0;
    bool pass_running = false;
    bool woken_during_pass = false;  // a Wake while the pass ran: it runs again at once
    Clock::time_point next_pass;
};

Worker::Worker() : Worker(Options()) {}

Worker::Worker(Options options) : state_(std::make_shared<State>(std::move(options))) {}

Worker::~Worker() {
    Release();
    Clear();
}

bool Worker::Start() { return Start(std::vector<Job>()); }

bool Worker::Start(std::vector<Job> first) {
    if (!threads_.empty()) {
        if (Running()) {
            for (Job& job : first) Post(std::move(job));
            return true;
        }
        Stop();  // retired: joined before the new ones start
    }
    const bool queued = !first.empty();
    const int wanted = state_->options.threads > 0 ? state_->options.threads : 1;
    unsigned long long generation = 0;
    {
        std::lock_guard<std::mutex> guard(state_->lock);
        generation = state_->generation;
        // Set before the threads start, so that their own first jobs may post again.
        state_->threads = wanted;
        state_->next_pass = Clock::now();
        for (Job& job : first) state_->jobs.push_back(std::move(job));
    }
    for (int i = 0; i < wanted; ++i) {
        try {
            threads_.emplace_back(&Worker::Loop, state_, generation);
        } catch (const std::system_error& error) {
            KPES_LOG(kpes::LS_ERROR) << state_->options.name << ": thread " << i + 1 << " of " << wanted
                                     << " refused (" << error.what() << ")";
            break;
        }
    }
    {
        std::lock_guard<std::mutex> guard(state_->lock);
        state_->threads = static_cast<int>(threads_.size());
    }
    if (threads_.empty()) {
        // With no thread, posters waiting for room give up, and no job waits for one.
        state_->not_full.notify_all();
        if (queued) Clear();
    }
    return !threads_.empty();
}

void Worker::NextGeneration() {
    {
        std::lock_guard<std::mutex> guard(state_->lock);
        ++state_->generation;
        state_->threads = 0;
        state_->busy_before += state_->busy;
        state_->busy = 0;
    }
    state_->wake.notify_all();
    state_->not_full.notify_all();
}

void Worker::Retire() { NextGeneration(); }

void Worker::Release() {
    NextGeneration();
    for (std::thread& thread : threads_) thread.detach();
    threads_.clear();
}

void Worker::Stop() {
    if (threads_.empty()) return;
    for (const std::thread& thread : threads_) {
        if (thread.get_id() == std::this_thread::get_id()) {
            // Joining itself would deadlock; the threads end after their current steps.
            Release();
            return;
        }
    }
    std::vector<std::thread> threads;
    threads.swap(threads_);
    Release();  // detaches nothing: the threads were taken above
    for (std::thread& thread : threads) thread.join();
}

bool Worker::Running() const {
    std::lock_guard<std::mutex> guard(state_->lock);
    return state_->threads > 0;
}

int Worker::Threads() const {
    std::lock_guard<std::mutex> guard(state_->lock);
    return state_->threads;
}

bool Worker::Post(Job job) {
    {
        std::unique_lock<std::mutex> guard(state_->lock);
        const size_t capacity = state_->options.capacity;
        if (capacity > 0 && current_worker != state_.get()) {
            state_->not_full.wait(guard,
                                  [&] { return state_->threads == 0 || state_->jobs.size() < capacity; });
        }
        if (state_->threads == 0) {
            guard.unlock();
            job = nullptr;  // what it holds goes here, outside the lock
            return false;
        }
        state_->jobs.push_back(std::move(job));
    }
    state_->wake.notify_one();
    return true;
}

void Worker::Wake() {
    {
        std::lock_guard<std::mutex> guard(state_->lock);
        state_->next_pass = Clock::now();
        if (state_->pass_running) state_->woken_during_pass = true;
    }
    state_->wake.notify_all();
}

void Worker::SetPaused(bool paused) {
    {
        std::lock_guard<std::mutex> guard(state_->lock);
        state_->paused = paused;
    }
    state_->wake.notify_all();
}

void Worker::Clear() {
    std::deque<Job> dropped;
    {
        std::lock_guard<std::mutex> guard(state_->lock);
        dropped.swap(state_->jobs);
    }
    state_->not_full.notify_all();
    // Destroyed outside the lock and oldest first: what a job holds may post again or release the
    // worker's owner.
    while (!dropped.empty()) dropped.pop_front();
}

size_t Worker::Pending() const {
    std::lock_guard<std::mutex> guard(state_->lock);
    return state_->jobs.size();
}

void Worker::Loop(const std::shared_ptr<State>& shared, unsigned long long generation) {
    // The thread keeps its own reference: the Worker may go while a job runs.
    const std::shared_ptr<State> state = shared;
    State& s = *state;
    current_worker = state.get();
    std::unique_lock<std::mutex> guard(s.lock);
    while (s.generation == generation) {
        if (s.paused || s.busy_before > 0) {
            s.wake.wait(guard);
            continue;
        }
        Job step;
        bool is_pass = false;
        if (!s.jobs.empty()) {
            step = std::move(s.jobs.front());
            s.jobs.pop_front();
            s.not_full.notify_one();
        } else if (s.options.pass && !s.pass_running && Clock::now() >= s.next_pass) {
            step = s.options.pass;
            is_pass = true;
            s.pass_running = true;
        } else {
            if (s.options.pass && !s.pass_running && s.next_pass != Clock::time_point::max()) {
                s.wake.wait_until(guard, s.next_pass);
            } else {
                s.wake.wait(guard);
            }
            continue;
        }
        ++s.busy;
        guard.unlock();
        if (step) step();
        // The closure may hold the last reference to the worker's owner; it goes here, on this
        // thread, which reads only `state` afterwards.
        step = nullptr;
        guard.lock();
        if (is_pass) {
            s.pass_running = false;
            s.next_pass = s.woken_during_pass                          ? Clock::now()
                          : s.options.period > Clock::duration::zero() ? Clock::now() + s.options.period
                                                                       : Clock::time_point::max();
            s.woken_during_pass = false;
        }
        if (s.generation == generation) {
            --s.busy;
        } else if (--s.busy_before == 0) {
            s.wake.notify_all();
        }
    }
    current_worker = nullptr;
}

}  // namespace factory
