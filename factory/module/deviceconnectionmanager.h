// Keeps one logged-in connection per camera of the local list, keyed by the camera's address.
//
//   auto manager = std::make_shared<factory::DeviceConnectionManager>();
//   manager->Start();
//   manager->AddAndLogin(ip, port, user, password, [=] { /* hand the result to the UI */ });
//   if (auto connection = manager->Find(ip)) connection->GetSdkHandle();
//   ...
//   manager->Stop();
//
// AddAndLogin and Remove post jobs to the manager's worker thread, which runs them in posting
// order; logins and logouts run there too, one at a time. About once a minute the worker logs
// in again every connection that has no session. Find and IpOfHandle may be called on any
// thread and never wait for a login: the map lock is held only to look up or change the map,
// never across a network call or a completion job.
//
// The manager runs its own loop rather than a JobWorker because it has two kinds of work:
// posted jobs, which are cheap and go first, and the logins they queue, which may each wait
// seconds for a connect time-out, so that a removal or an add does not wait behind fifty of
// those. Posted jobs wait in an unbounded queue, not a fixed ring: the poster is the
// user-interface thread, and a full ring would stop it for as long as a login runs.
//
// A completion job runs on the worker after its login attempt (whatever the outcome) with no
// lock held, so it may post to a queue that waits for a thread which calls Find. Logins made by
// the reconnect pass have no completion job; a successful one is announced through the
// reconnect callback, since the library reports nothing for a fresh login.
#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "RuDAVADO.h"
#include "deviceconnection.h"

namespace factory {

class DeviceConnectionManager {
public:
    using Job = std::function<void()>;
    using ReconnectCallback = std::function<void(const std::string& ip)>;

    // Between reconnect passes, in milliseconds at time scale 1.
    static constexpr double kReconnectIntervalMs = 60000.0;

    DeviceConnectionManager();
    // Stops a worker still running; jobs not yet run are dropped. Sessions stay open.
    ~DeviceConnectionManager();

    DeviceConnectionManager(const DeviceConnectionManager&) = delete;
    DeviceConnectionManager& operator=(const DeviceConnectionManager&) = delete;

    // Starts the worker; the first reconnect pass runs at once.
    void Start();
    // Ends the worker after its current step and joins it.
    void Stop();
    // While paused the worker runs no job, no login and no reconnect pass.
    void SetPaused(bool paused);

    // Creates the address's connection and logs it in, unless the address already has one;
    // `completion` runs afterwards in both cases. Never waits for the worker.
    bool AddAndLogin(const std::string& ip, int port, const std::string& user_name,
                     const std::string& password, Job completion);
    // Drops the address's connection, whatever its state, closing its session if it has one.
    bool Remove(const std::string& ip);

    std::shared_ptr<DeviceConnection> Find(const std::string& ip) const;
    // The address of the first connection (in address order) whose handle is `handle`.
    std::string IpOfHandle(KPLPRC_HANDLE handle) const;

    // Runs on the worker after a reconnect-pass login that succeeded. Set before Start.
    void SetReconnectCallback(ReconnectCallback callback);

private:
    struct PendingLogin {
        std::shared_ptr<DeviceConnection> connection;
        Job completion;
    };
    using Clock = std::chrono::steady_clock;

    void WorkerLoop();
    // One step of the worker with `guard` held on entry; false once stopped.
    bool RunOneStep(std::unique_lock<std::mutex>& guard);
    void PostJob(Job job);

    void AddJob(const std::string& ip, int port, const std::string& user_name, const std::string& password,
                Job completion);
    void RemoveJob(const std::string& ip);
    void ReconnectPass();
    void RunLogin(PendingLogin login);

    // Guards the posted jobs, the pending logins and the flags.
    std::mutex worker_lock_;
    std::condition_variable wake_;
    bool stop_ = false;
    bool paused_ = false;
    Clock::time_point next_pass_;
    std::deque<Job> jobs_;
    std::deque<PendingLogin> logins_;
    std::unique_ptr<std::thread> worker_;
    ReconnectCallback reconnect_callback_;

    // Guards the map only; held for lookups and changes, never across a login.
    mutable std::mutex lock_;
    std::map<std::string, std::shared_ptr<DeviceConnection>> connections_;
};

}  // namespace factory
