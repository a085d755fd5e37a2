#include "deviceconnectionmanager.h"

#include <utility>
#include <vector>

#include "kp_platform.h"

namespace factory {

namespace {

std::chrono::microseconds ReconnectInterval() {
    return std::chrono::microseconds(kp::scaledMicroseconds(DeviceConnectionManager::kReconnectIntervalMs));
}

// Posted jobs wait in an unbounded queue: the poster is the user-interface thread.
Worker::Options WorkerOptions(Worker::Job reconnect_pass) {
    Worker::Options options;
    options.name = "connection manager";
    options.pass = std::move(reconnect_pass);
    options.period = ReconnectInterval();
    return options;
}

Worker::Options LoginOptions() {
    Worker::Options options;
    options.name = "connection manager logins";
    options.threads = DeviceConnectionManager::kLoginThreads;
    return options;
}

}  // namespace

DeviceConnectionManager::DeviceConnectionManager()
    : worker_(WorkerOptions([this] { ReconnectPass(); })), logins_(LoginOptions()) {}

DeviceConnectionManager::~DeviceConnectionManager() { Stop(); }

bool DeviceConnectionManager::Start() {
    // Each starts on its own: logins without the worker still serve adds made inline, and the
    // worker without login threads still keeps the map.
    const bool worker = worker_.Start();
    const bool logins = logins_.Start();
    return worker && logins;
}

void DeviceConnectionManager::Stop() {
    worker_.Stop();
    logins_.Stop();
}

void DeviceConnectionManager::SetPaused(bool paused) {
    worker_.SetPaused(paused);
    logins_.SetPaused(paused);
}

void DeviceConnectionManager::SetReconnectCallback(ReconnectCallback callback) {
    std::lock_guard<std::mutex> guard(login_lock_);
    reconnect_callback_ = std::move(callback);
}

bool DeviceConnectionManager::AddAndLogin(const std::string& ip, int port, const std::string& user_name,
                                          const std::string& password, Job completion) {
    PostJob([this, ip, port, user_name, password, completion = std::move(completion)]() mutable {
        AddJob(ip, port, user_name, password, std::move(completion));
    });
    return true;
}

bool DeviceConnectionManager::Remove(const std::string& ip) {
    PostJob([this, ip] { RemoveJob(ip); });
    return true;
}

void DeviceConnectionManager::Refresh(const std::string& ip, Job completion) {
    const std::shared_ptr<DeviceConnection> connection = Find(ip);
    if (!connection) return;
    // Reads the details again on a login thread, no new session. A camera that dropped again
    // meanwhile keeps its state; its own notice follows.
    logins_.Post([this, connection, completion = std::move(completion)] {
        if (Find(connection->GetIp()) == connection && connection->Refresh() && completion) completion();
    });
}

std::shared_ptr<DeviceConnection> DeviceConnectionManager::Find(const std::string& ip) const {
    std::lock_guard<std::mutex> guard(lock_);
    auto it = connections_.find(ip);
    return it == connections_.end() ? nullptr : it->second;
}

std::string DeviceConnectionManager::IpOfHandle(KPLPRC_HANDLE handle) const {
    std::lock_guard<std::mutex> guard(lock_);
    for (const auto& [ip, connection] : connections_) {
        if (connection->GetSdkHandle() == handle) return ip;
    }
    return std::string();
}

void DeviceConnectionManager::PostJob(Job job) {
    Job kept = job;
    if (worker_.Post(std::move(job))) return;
    // No worker (refused, or stopped): a row left waiting for an add that never runs would stay
    // "logging in" for ever, so the job runs here. Adds only queue a login; a removal's logout
    // is the one network call, and a connection that never got a login thread has no session.
    kept();
}

void DeviceConnectionManager::AddJob(const std::string& ip, int port, const std::string& user_name,
                                     const std::string& password, Job completion) {
    std::shared_ptr<DeviceConnection> created;
    {
        std::lock_guard<std::mutex> guard(lock_);
        if (connections_.find(ip) == connections_.end()) {
            created = std::make_shared<DeviceConnection>(ip, port, user_name, password);
            connections_.emplace(ip, created);
        }
    }
    if (!created) {
        // An address already listed keeps its connection and login data.
        if (completion) completion();
        return;
    }
    QueueLogin(std::move(created), std::move(completion));
}

void DeviceConnectionManager::RemoveJob(const std::string& ip) {
    std::shared_ptr<DeviceConnection> removed;
    {
        std::lock_guard<std::mutex> guard(lock_);
        auto it = connections_.find(ip);
        if (it == connections_.end()) return;
        removed = std::move(it->second);
        connections_.erase(it);
    }
    // Out of the map whatever happens here: a failed close is logged by the wrapper, and
    // keeping the entry would keep a deleted camera logged in. A refused logout is asked once
    // more, and the connection closes what is still open when its last holder lets it go: each
    // session left open counts against the camera's few.
    if (!removed->Close()) removed->Close();
}

void DeviceConnectionManager::ReconnectPass() {
    std::vector<std::shared_ptr<DeviceConnection>> offline;
    {
        std::lock_guard<std::mutex> guard(lock_);
        for (const auto& entry : connections_) {
            if (entry.second->GetSdkHandle() == nullptr) offline.push_back(entry.second);
        }
    }
    for (auto& connection : offline) QueueLogin(std::move(connection), nullptr);
}

void DeviceConnectionManager::QueueLogin(std::shared_ptr<DeviceConnection> connection, Job completion) {
    bool fresh = false;
    {
        std::lock_guard<std::mutex> guard(login_lock_);
        fresh = queued_.insert(connection).second;
    }
    if (!fresh) {
        // Only the reconnect pass meets a connection queued already, and it has no completion.
        if (completion) completion();
        return;
    }
    const bool posted = logins_.Post([this, connection, completion] {
        RunLogin(connection, completion);
        std::lock_guard<std::mutex> guard(login_lock_);
        queued_.erase(connection);
    });
    if (posted) return;
    {
        std::lock_guard<std::mutex> guard(login_lock_);
        queued_.erase(connection);
    }
    // No login thread: the login fails as if the camera did not answer; the next pass tries again.
    if (completion) completion();
}

void DeviceConnectionManager::RunLogin(const std::shared_ptr<DeviceConnection>& connection,
                                       const Job& completion) {
    // A connection removed while its login waited is not logged in any more.
    const bool listed = Find(connection->GetIp()) == connection;
    bool ok = false;
    if (listed) ok = connection->Login();
    // A removal that ran beside the login found no session to close; this one must not stay.
    if (listed && Find(connection->GetIp()) != connection) {
        connection->Close();
        ok = false;
    }
    if (completion) {
        completion();
    } else if (ok) {
        ReconnectCallback callback;
        {
            std::lock_guard<std::mutex> guard(login_lock_);
            callback = reconnect_callback_;
        }
        if (callback) callback(connection->GetIp());
    }
}

}  // namespace factory
