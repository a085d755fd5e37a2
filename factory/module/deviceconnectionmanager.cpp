#include "deviceconnectionmanager.h"

#include <algorithm>
#include <utility>
#include <vector>

#include "kp_platform.h"

namespace factory {

namespace {

std::chrono::microseconds ReconnectInterval() {
    return std::chrono::microseconds(kp::scaledMicroseconds(DeviceConnectionManager::kReconnectIntervalMs));
}

}  // namespace

DeviceConnectionManager::DeviceConnectionManager() = default;

DeviceConnectionManager::~DeviceConnectionManager() { Stop(); }

void DeviceConnectionManager::Start() {
    std::lock_guard<std::mutex> guard(worker_lock_);
    if (worker_) return;
    stop_ = false;
    next_pass_ = Clock::now();
    worker_ = std::make_unique<std::thread>(&DeviceConnectionManager::WorkerLoop, this);
}

void DeviceConnectionManager::Stop() {
    std::unique_ptr<std::thread> worker;
    {
        std::lock_guard<std::mutex> guard(worker_lock_);
        stop_ = true;
        worker = std::move(worker_);
    }
    wake_.notify_all();
    if (worker && worker->joinable()) worker->join();
    std::lock_guard<std::mutex> guard(worker_lock_);
    stop_ = false;
}

void DeviceConnectionManager::SetPaused(bool paused) {
    {
        std::lock_guard<std::mutex> guard(worker_lock_);
        paused_ = paused;
    }
    wake_.notify_all();
}

void DeviceConnectionManager::SetReconnectCallback(ReconnectCallback callback) {
    std::lock_guard<std::mutex> guard(worker_lock_);
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
    std::lock_guard<std::mutex> guard(worker_lock_);
    jobs_.push_back(std::move(job));
    wake_.notify_one();
}

void DeviceConnectionManager::WorkerLoop() {
    std::unique_lock<std::mutex> guard(worker_lock_);
    while (RunOneStep(guard)) {
    }
}

bool DeviceConnectionManager::RunOneStep(std::unique_lock<std::mutex>& guard) {
    // Sleeps until there is work or the next reconnect pass is due; an idle manager with
    // hundreds of connections wakes about once a minute.
    while (!stop_) {
        if (!paused_ && (!jobs_.empty() || !logins_.empty() || Clock::now() >= next_pass_)) break;
        if (paused_)
            wake_.wait(guard);
        else
            wake_.wait_until(guard, next_pass_);
    }
    if (stop_) return false;

    // Posted jobs first: they are cheap, and a removal must not wait behind slow logins.
    if (!jobs_.empty()) {
        Job job = std::move(jobs_.front());
        jobs_.pop_front();
        guard.unlock();
        if (job) job();
        job = nullptr;
        guard.lock();
        return true;
    }
    if (Clock::now() >= next_pass_) {
        next_pass_ = Clock::now() + ReconnectInterval();
        guard.unlock();
        ReconnectPass();
        guard.lock();
        return true;
    }
    PendingLogin login = std::move(logins_.front());
    logins_.pop_front();
    guard.unlock();
    RunLogin(std::move(login));
    guard.lock();
    return true;
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
    std::lock_guard<std::mutex> guard(worker_lock_);
    logins_.push_back({std::move(created), std::move(completion)});
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
    // keeping the entry would keep a deleted camera logged in.
    removed->Close();
}

void DeviceConnectionManager::ReconnectPass() {
    std::vector<std::shared_ptr<DeviceConnection>> offline;
    {
        std::lock_guard<std::mutex> guard(lock_);
        for (const auto& entry : connections_) {
            if (entry.second->GetSdkHandle() == nullptr) offline.push_back(entry.second);
        }
    }
    std::lock_guard<std::mutex> guard(worker_lock_);
    for (auto& connection : offline) {
        const bool queued = std::any_of(logins_.begin(), logins_.end(), [&](const PendingLogin& login) {
            return login.connection == connection;
        });
        if (!queued) logins_.push_back({std::move(connection), nullptr});
    }
}

void DeviceConnectionManager::RunLogin(PendingLogin login) {
    // A connection removed while its login waited is not logged in any more.
    const bool listed = Find(login.connection->GetIp()) == login.connection;
    bool ok = false;
    if (listed) ok = login.connection->Login();
    if (login.completion) {
        login.completion();
    } else if (ok) {
        ReconnectCallback callback;
        {
            std::lock_guard<std::mutex> guard(worker_lock_);
            callback = reconnect_callback_;
        }
        if (callback) callback(login.connection->GetIp());
    }
}

}  // namespace factory
