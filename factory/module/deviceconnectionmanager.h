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
// order. The logins they queue run on a small pool of login threads (kLoginThreads), in queue
// order, several at a time: a camera that never answers holds one login thread for the whole
// connect time-out, and a site's dead cameras would otherwise hold up every login behind them.
// One camera still has at most one login or logout at a time (its connection's session lock),
// and a connection is never queued twice. About once a minute the worker queues a login for
// every connection that has no session. Find and IpOfHandle may be called on any thread and
// never wait for a login: the map lock is held only to look up or change the map, never across
// a network call or a completion job.
//
// Posted jobs are cheap and are not held up by logins, so a removal or an add never waits behind
// fifty connect time-outs. Posted jobs wait in an unbounded queue, not a fixed ring: the poster
// is the user-interface thread, and a full ring would stop it for as long as a login runs.
//
// The worker and the login threads are two factory::Worker. When the system refuses them, Start
// says so and the manager still answers: an add made without a worker runs on the caller's
// thread, and a login that no login thread can take fails at once (its completion runs, the
// connection stays without a session, as after a camera that did not answer).
//
// A completion job runs on a login thread after its login attempt (whatever the outcome) with no
// lock held, so it may post to a queue that waits for a thread which calls Find; completion jobs
// of different cameras may run at the same time. Logins made by the reconnect pass have no
// completion job; a successful one is announced through the reconnect callback, since the
// library reports nothing for a fresh login. A connection removed while its login ran is closed
// again by that login.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>

#include "RuDAVADO.h"
#include "deviceconnection.h"
#include "worker.h"

namespace factory {

class DeviceConnectionManager {
public:
    using Job = std::function<void()>;
    using ReconnectCallback = std::function<void(const std::string& ip)>;

    // Between reconnect passes, in milliseconds at time scale 1.
    static constexpr double kReconnectIntervalMs = 60000.0;
    // Logins in progress at most: each mostly waits on the network.
    static constexpr int kLoginThreads = 16;

    DeviceConnectionManager();
    // Stops a worker still running; jobs not yet run are dropped. Sessions stay open.
    ~DeviceConnectionManager();

    DeviceConnectionManager(const DeviceConnectionManager&) = delete;
    DeviceConnectionManager& operator=(const DeviceConnectionManager&) = delete;

    // Starts the worker and the login threads; the first reconnect pass runs at once. False
    // (logged) when the system refused the worker or every login thread; what did start runs.
    bool Start();
    // Ends the worker and the login threads after their current step and joins them.
    void Stop();
    // While paused the manager runs no job, starts no login and runs no reconnect pass.
    void SetPaused(bool paused);

    // Creates the address's connection and logs it in, unless the address already has one;
    // `completion` runs afterwards in both cases. Never waits for the worker.
    bool AddAndLogin(const std::string& ip, int port, const std::string& user_name,
                     const std::string& password, Job completion);
    // Drops the address's connection, whatever its state, closing its session if it has one.
    bool Remove(const std::string& ip);

    // Reads the details of the address's connection again on a login thread, over the session
    // it has; `completion` runs when they were read. Never waits.
    void Refresh(const std::string& ip, Job completion);

    std::shared_ptr<DeviceConnection> Find(const std::string& ip) const;
    // The address of the first connection (in address order) whose handle is `handle`.
    std::string IpOfHandle(KPLPRC_HANDLE handle) const;

    // Runs on a login thread after a reconnect-pass login that succeeded. Set before Start.
    void SetReconnectCallback(ReconnectCallback callback);

private:
    // Runs `job` on the worker, or on the calling thread when no worker runs.
    void PostJob(Job job);

    void AddJob(const std::string& ip, int port, const std::string& user_name, const std::string& password,
                Job completion);
    void RemoveJob(const std::string& ip);
    void ReconnectPass();
    // Queues a login unless the connection has one queued or running; the completion runs at
    // once when no login thread can take it.
    void QueueLogin(std::shared_ptr<DeviceConnection> connection, Job completion);
    void RunLogin(const std::shared_ptr<DeviceConnection>& connection, const Job& completion);

    // Guards `queued_` and the callback.
    std::mutex login_lock_;
    // Connections with a login queued or running: one camera never has two.
    std::set<std::shared_ptr<DeviceConnection>> queued_;
    ReconnectCallback reconnect_callback_;

    // Guards the map only; held for lookups and changes, never across a login.
    mutable std::mutex lock_;
    std::map<std::string, std::shared_ptr<DeviceConnection>> connections_;

    // Last, so that they go (and their jobs with them) before what the jobs use.
    Worker worker_;
    Worker logins_;
};

}  // namespace factory
