// One thread that runs posted jobs one after another, in posting order, and sleeps while it has
// nothing to do (a post, an unpause or a stop wakes it).
//
//   factory::JobWorker worker;
//   worker.Start();                                   // or Start(tick, period), below
//   worker.Post([self = shared_from_this()] { self->Work(); });
//   ...
//   worker.Stop();                                    // after the current job
//
// A job must hold what it uses (capture a shared_ptr): the thread itself only shares the
// worker's ring and flags, so destroying a JobWorker never waits for a job and never joins,
// even when it happens on the worker thread inside a job's closure.
//
// Jobs never overlap: a Start that follows a Stop made inside a job gets a new thread, which
// takes its first job only after the old thread's job has returned.
#pragma once

#include <chrono>
#include <memory>
#include <thread>

#include "job_ring.h"

namespace factory {

class JobWorker {
public:
    using Job = JobRing::Job;
    static constexpr int kSlots = JobRing::kSlots;

    JobWorker();
    // Tells the thread to end without waiting for it; jobs not yet taken are destroyed unrun.
    ~JobWorker();

    JobWorker(const JobWorker&) = delete;
    JobWorker& operator=(const JobWorker&) = delete;

    // Starts the thread; true at once when it runs already, false when the system refuses a
    // thread. With a `tick`, the worker also runs it (never while paused, never beside a job) in
    // its first cycle and then once every `period` (> 0), each time after that cycle's job.
    bool Start(Job tick = nullptr, std::chrono::milliseconds period = std::chrono::milliseconds(0));
    // Ends the thread after its current job; jobs not yet taken wait for the next Start. Joins
    // the thread, except when called on it (from a job), where it returns at once.
    void Stop();
    bool Running() const { return thread_.joinable(); }

    // Any thread. Queues a job; waits while 63 jobs wait (with no thread started, for ever).
    void Post(Job job);
    // While paused the worker takes no job and runs no tick.
    void SetPaused(bool paused);
    // Destroys the jobs not yet taken.
    void Clear();
    // Jobs not yet taken (a snapshot).
    int Pending() const;

private:
    struct State;
    static void Loop(std::shared_ptr<State> state, unsigned long long generation);
    // Stop without joining.
    void Release();

    std::shared_ptr<State> state_;
    std::thread thread_;
};

}  // namespace factory
