// Shared helpers of the device-operation tests: log capture, report recording, scenarios and
// test files for the simulated cameras.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "RuDAVADO.h"
#include "RuDAVADO_control.h"
#include "dealmodule.h"
#include "logging.h"

namespace factory_test {

// Every log line written while it exists, whatever the severity.
class LogCapture : public kpes::log_sink {
public:
    LogCapture();
    ~LogCapture() override;
    long write(const char* data, size_t size) override;

    std::vector<std::string> lines();
    // Lines that contain `text`.
    std::vector<std::string> matching(const std::string& text);

private:
    std::mutex lock_;
    std::string pending_;
    std::vector<std::string> lines_;
};

using Report = std::pair<bool, std::string>;

// Records a job's step reports; "final" means what the batch dispatch forwards to a row: a
// failure or "完成".
class ReportLog {
public:
    factory::dealmodule::ProgressCallback callback();
    // Waits until `count` final reports arrived; false on time-out.
    bool waitFinal(int count = 1, std::chrono::milliseconds timeout = std::chrono::seconds(20));
    std::vector<Report> reports();
    int finals();

private:
    std::mutex lock_;
    std::condition_variable changed_;
    std::vector<Report> reports_;
    int finals_ = 0;
};

// Upgrade-progress callback recorder.
class UpgradeLog {
public:
    factory::dealmodule::UpgradeProgressCallback callback();
    std::vector<std::pair<int, int>> calls();

private:
    std::mutex lock_;
    std::vector<std::pair<int, int>> calls_;
};

// Loads the built-in scenario with default timings and no faults.
void LoadDefaultNetwork();
// Loads a scenario of `count` cameras of `model` at 10.0.x.y, user admin / password admin.
void LoadNetwork(int count, const std::string& model);
std::string CameraIp(int index);
RuDAVADO_CameraState CameraState(int camera);
int CameraNumber(const std::string& ip);

// A file under the test's temporary folder, removed by the caller's TempDir.
class TempDir {
public:
    TempDir();
    ~TempDir();
    std::string path(const std::string& name) const;
    std::string write(const std::string& name, const std::string& content) const;

private:
    std::string dir_;
};

// A firmware package for `family`; a damaged one has an image that fails its checksum.
std::string FirmwarePackage(const std::string& family, const std::string& version, bool damaged = false);
// The smallest PNG the cameras accept.
std::string PngImage();

// Default cameras (the built-in scenario).
constexpr const char* kPlateIp = "192.168.1.100";
constexpr const char* kOtherPasswordIp = "192.168.1.103";
constexpr const char* kOfflineIp = "192.168.1.104";
constexpr const char* kFaceIp = "192.168.1.110";
constexpr const char* kUser = "admin";
constexpr const char* kPassword = "admin";
constexpr const char* kPlateFamily = "KP-LPR-V3";
constexpr const char* kFaceFamily = "KP-FACE-F2";

}  // namespace factory_test
