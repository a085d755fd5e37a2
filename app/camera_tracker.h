// Which cameras of one batch have not ended yet, for the window: a camera still in a batch is
// not started a second time, and closing the window knows how many cameras still run.
//
//   auto cameras = std::make_shared<CameraTracker>(rows_observer, ips);
//   batch::Batch::Create(operation, arguments, targets, policy, cameras, report)->Start();
//   if (cameras->holds("192.168.1.100")) ...   // any thread
//
// Every observer call goes on to `next`, after the tracker has counted it.
#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <unordered_set>
#include <vector>

#include "batch.h"

class CameraTracker : public batch::Observer {
public:
    // `ips[i]`: the address of camera i.
    CameraTracker(std::shared_ptr<batch::Observer> next, std::vector<std::string> ips);

    // Any thread.
    bool holds(const std::string& ip) const;  // the camera has not ended in this batch
    int running() const;                      // started, not ended
    int waiting() const;                      // not started yet
    bool ended() const;                       // the batch's last call has come

    void OnStart(int camera) override;
    void OnStep(int camera, bool ok, const std::string& text) override;
    void OnUpgradeProgress(int camera, DeviceStatus status, int percent) override;
    void OnFinish(int camera, const batch::Final& final) override;
    void OnEnd(int succeeded, int failed) override;

private:
    const std::shared_ptr<batch::Observer> next_;
    const std::vector<std::string> ips_;
    mutable std::mutex mutex_;
    std::unordered_multiset<std::string> pending_;
    std::vector<char> started_;  // per camera: it started and has not ended
    int running_ = 0;
    bool ended_ = false;
};
