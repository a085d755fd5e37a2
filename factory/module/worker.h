// Threads that run posted jobs: one thread (jobs in posting order, never overlapping) or a pool
// of N, with an unbounded queue or a bounded one, and optionally a periodic pass.
//
//   factory::Worker::Options options;
//   options.name = "report writer";
//   options.threads = 1;                 // N: jobs run side by side, up to N at a time
//   options.capacity = 63;               // 0: unbounded; else Post waits while that many wait
//   options.pass = [] { ... };           // optional: runs at Start, then once every `period`
//   options.period = std::chrono::seconds(60);
//   factory::Worker worker(options);
//   if (!worker.Start()) { /* the system refused a thread: fail the caller's work, cleanly */ }
//   worker.Post([self = shared_from_this()] { self->Work(); });
//   ...
//   worker.Stop();                       // after the current jobs; joins
//
// Nothing here throws when the system refuses a thread: Start returns false (and logs), a pool
// runs with the threads it got, and Post returns false while no thread runs, so a caller never
// waits for a thread that does not exist.
//
// A job must hold what it uses: the threads share only the worker's own state, so destroying a
// Worker never waits for a job and never joins, even on one of its threads inside a job's
// closure. An owner whose jobs capture `this` calls Stop before it goes.
#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace factory {

class Worker {
public:
    using Job = std::function<void()>;

    struct Options {
        std::string name = "worker";  // for the log
        int threads = 1;
        // 0: Post never waits. Otherwise Post waits while `capacity` jobs wait, except on one of
        // the worker's own threads, which cannot wait for itself.
        size_t capacity = 0;
        // Runs (never while paused, never beside itself) on a free thread in the first cycle after
        // Start and then `period` after its previous run ended (with no period, again only after
        // Start or Wake); a job waiting goes first.
        Job pass;
        std::chrono::steady_clock::duration period = std::chrono::seconds(0);
    };

    Worker();  // one thread, unbounded, no pass
    explicit Worker(Options options);
    // Tells the threads to end without waiting for them; jobs not yet taken are destroyed unrun.
    ~Worker();

    Worker(const Worker&) = delete;
    Worker& operator=(const Worker&) = delete;

    // Starts the threads; true at once when running already. False (logged) when the system
    // refuses the first thread; a pool refused later threads runs with fewer (logged).
    bool Start();
    // As Start, with `first` queued ahead of any later post: a new thread finds its work at once
    // instead of waiting for a post to wake it. When the system refuses the first thread, the
    // jobs queued (`first` among them) are destroyed unrun.
    bool Start(std::vector<Job> first);
    // Ends the threads after their current job or pass and joins them; jobs not yet taken wait
    // for the next Start. Called on one of the worker's threads it returns at once; the threads
    // end after their current step, and a worker started meanwhile takes its first job only
    // once those steps have returned.
    void Stop();
    // Any thread, even one of the worker's own inside a job: the threads end after their current
    // step, on their own, as Stop would, but stay to be joined by the next Stop (or Start), which
    // then finds them gone. Posts fail from now on.
    void Retire();
    bool Running() const;
    // Threads running now (fewer than asked when the system refused some).
    int Threads() const;

    // Any thread. Queues a job and returns true; false (the job destroyed unrun) while no thread
    // runs, including when the worker stops while this post waits for room.
    bool Post(Job job);
    // Makes the periodic pass due now.
    void Wake();
    // While paused no job is taken and no pass runs; a job under way finishes.
    void SetPaused(bool paused);
    // Destroys the jobs not yet taken, on the calling thread.
    void Clear();
    // Jobs not yet taken (a snapshot).
    size_t Pending() const;

private:
    struct State;
    static void Loop(const std::shared_ptr<State>& state, unsigned long long generation);
    // Moves on to the next generation; the current threads end after their step.
    void NextGeneration();
    // NextGeneration, and the threads are let go without a join.
    void Release();

    std::shared_ptr<State> state_;
    std::vector<std::thread> threads_;
};

}  // namespace factory
