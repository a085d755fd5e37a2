#include "camera_tracker.h"

CameraTracker::CameraTracker(std::shared_ptr<batch::Observer> next, std::vector<std::string> ips)
    : next_(std::move(next)),
      ips_(std::move(ips)),
      pending_(ips_.begin(), ips_.end()),
      started_(ips_.size(), 0) {}

bool CameraTracker::holds(const std::string& ip) const {
    std::lock_guard<std::mutex> lock(mutex_);
    return pending_.count(ip) != 0;
}

int CameraTracker::running() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return running_;
}

int CameraTracker::waiting() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return static_cast<int>(pending_.size()) - running_;
}

bool CameraTracker::ended() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return ended_;
}

void CameraTracker::OnStart(int camera) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        started_[camera] = 1;
        ++running_;
    }
    next_->OnStart(camera);
}

void CameraTracker::OnStep(int camera, bool ok, const std::string& text) { next_->OnStep(camera, ok, text); }

void CameraTracker::OnUpgradeProgress(int camera, DeviceStatus status, int percent) {
    next_->OnUpgradeProgress(camera, status, percent);
}

void CameraTracker::OnFinish(int camera, const batch::Final& final) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        const auto it = pending_.find(ips_[camera]);
        if (it != pending_.end()) pending_.erase(it);
        // A camera the batch did not start ends without having started.
        if (started_[camera]) {
            started_[camera] = 0;
            --running_;
        }
    }
    next_->OnFinish(camera, final);
}

void CameraTracker::OnEnd(int succeeded, int failed) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        ended_ = true;
    }
    next_->OnEnd(succeeded, failed);
}
