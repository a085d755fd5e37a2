#include "deviceconnectionmanager.h"

#include <system_error>
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
    for (int i = 0; i < kLoginThreads; ++i) {
        try {
            login_threads_.emplace_back(&DeviceConnectionManager::LoginLoop, this);
        } catch (const std::system_error&) {
            break;  // fewer login threads only make the logins slower
        }
    }
}

void DeviceConnectionManager::Stop() {
    std::unique_ptr<std::thread> worker;
    std::vector<std::thread> login_threads;
    {
        std::lock_guard<std::mutex> guard(worker_lock_);
        stop_ = true;
        worker = std::move(worker_);
        login_threads.swap(login_threads_);
    }
    wake_.notify_all();
    login_wake_.notify_all();
    if (worker && worker->joinable()) worker->join();
    for (std::thread& thread : login_threads) thread.join();
    std::lock_guard<std::mutex> guard(worker_lock_);
    stop_ = false;
}

void DeviceConnectionManager::SetPaused(bool paused) {
    {
        std::lock_guard<std::mutex> guard(worker_lock_);
        paused_ = paused;
    }
    wake_.notify_all();
    login_wake_.notify_all();
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

void DeviceConnectionManager::Refresh(const std::string& ip, Job completion) {
    const std::shared_ptr<DeviceConnection> connection = Find(ip);
    if (!connection) return;
    {
        std::lock_guard<std::mutex> guard(worker_lock_);
        logins_.push_back({connection, std::move(completion), true});
    }
    login_wake_.notify_one();
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
    // Sleeps until there is a job or the next reconnect pass is due; an idle manager with
    // hundreds of connections wakes about once a minute.
    while (!stop_) {
        if (!paused_ && (!jobs_.empty() || Clock::now() >= next_pass_)) break;
        if (paused_)
            wake_.wait(guard);
        else
            wake_.wait_until(guard, next_pass_);
    }
    if (stop_) return false;

    if (!jobs_.empty()) {
        Job job = std::move(jobs_.front());
        jobs_.pop_front();
        guard.unlock();
        if (job) job();
        job = nullptr;
        guard.lock();
        return true;
    }
    next_pass_ = Clock::now() + ReconnectInterval();
    guard.unlock();
    ReconnectPass();
    guard.lock();
    return true;
}

void DeviceConnectionManager::LoginLoop() {
    std::unique_lock<std::mutex> guard(worker_lock_);
    while (true) {
        login_wake_.wait(guard, [this] { return stop_ || (!paused_ && !logins_.empty()); });
        if (stop_) return;
        PendingLogin login = std::move(logins_.front());
        logins_.pop_front();
        logging_in_.insert(login.connection);
        guard.unlock();
        const std::shared_ptr<DeviceConnection> connection = login.connection;
        RunLogin(std::move(login));
        guard.lock();
        logging_in_.erase(connection);
    }
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
    {
        std::lock_guard<std::mutex> guard(worker_lock_);
        logins_.push_back({std::move(created), std::move(completion), false});
    }
    login_wake_.notify_one();
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
    {
        std::lock_guard<std::mutex> guard(worker_lock_);
        std::set<std::shared_ptr<DeviceConnection>> queued(logging_in_);
        for (const PendingLogin& login : logins_) queued.insert(login.connection);
        for (auto& connection : offline) {
            if (queued.count(connection) == 0) logins_.push_back({std::move(connection), nullptr, false});
        }
    }
    login_wake_.notify_all();
}

void DeviceConnectionManager::RunLogin(PendingLogin login) {
    // A connection removed while its login waited is not logged in any more.
    const bool listed = Find(login.connection->GetIp()) == login.connection;
    if (login.refresh_only) {
        // A camera that dropped again meanwhile keeps its state; its own notice follows.
        if (listed && login.connection->Refresh() && login.completion) login.completion();
        return;
    }
    bool ok = false;
    if (listed) ok = login.connection->Login();
    // A removal that ran beside the login found no session to close; this one must not stay.
    if (listed && Find(login.connection->GetIp()) != login.connection) {
        login.connection->Close();
        ok = false;
    }
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
