// A ring of 64 job slots, allocated once, that any number of threads fill and one thread
// empties, in posting order. One slot always stays free, so at most 63 jobs wait.
//
//   factory::JobRing ring;
//   ring.Push([] { ... });              // producer, any thread: waits while 63 jobs wait
//   factory::JobRing::Job job;
//   while (ring.TryPop(job)) job();     // consumer
//
// A short lock guards the slots and indexes. Nobody holds it while waiting for room or while a
// job runs, so the consumer can always drain and a running job may post to its own ring.
#pragma once

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>

namespace factory {

class JobRing {
public:
    using Job = std::function<void()>;

    static constexpr int kSlots = 64;
    static constexpr int kCapacity = kSlots - 1;

    JobRing();
    ~JobRing();

    JobRing(const JobRing&) = delete;
    JobRing& operator=(const JobRing&) = delete;

    // Any thread. While the ring is full, waits until the consumer takes a job; never drops one.
    // A consumer must not call it on a full ring (it would wait for itself): use TryPush.
    void Push(Job job);
    // Any thread. Stores the job and returns true; on a full ring returns false at once and
    // leaves `job` as it was.
    bool TryPush(Job& job);
    // Consumer. Moves the oldest job into `job` and empties its slot; false when none waits.
    bool TryPop(Job& job);
    // Jobs waiting right now (a snapshot).
    int Size() const;
    // Destroys the waiting jobs, oldest first. Each is destroyed outside the lock, since what a
    // job holds may post again or release the ring's owner.
    void Clear();

private:
    static int Next(int index) { return (index + 1) % kSlots; }

    mutable std::mutex lock_;
    std::condition_variable not_full_;
    int waiting_producers_ = 0;
    int write_ = 0;  // next slot to fill
    int read_ = 0;   // next slot to run
    std::unique_ptr<Job[]> slots_;
};

}  // namespace factory
