// Helpers of the device-operation tests: log capture, report recording, scenarios and files
// for the simulated cameras.
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
    LogCapture() { kpes::add_log_sink(this, kpes::LS_VERBOSE); }
    ~LogCapture() override { kpes::remove_log_sink(this); }
    long write(const char* data, size_t size) override;
    std::vector<std::string> lines();
    // The lines containing `text`, with their source position cut off.
    std::vector<std::string> matching(const std::string& text);

private:
    std::mutex lock_;
    std::vector<std::string> lines_;
};

using Report = std::pair<bool, std::string>;

// A job's step reports. A final report is what a row shows: a failure or "完成".
class ReportLog {
public:
    factory::dealmodule::ProgressCallback callback();
    bool waitFinal(std::chrono::milliseconds timeout = std::chrono::seconds(60));
    std::vector<Report> reports();
    int finals();

private:
    std::mutex lock_;
    std::condition_variable changed_;
    std::vector<Report> reports_;
    int finals_ = 0;
};

// The built-in scenario, default timings, no faults.
void LoadDefaultNetwork();
// `count` cameras of `model` at CameraIp(0..count-1), login kUser / kPassword.
void LoadNetwork(int count, const std::string& model);
std::string CameraIp(int index);
RuDAVADO_CameraState CameraState(int camera);
inline int CameraNumber(const std::string& ip) { return RuDAVADO_FindCamera(ip.c_str()); }

// A temporary folder, removed with its files.
class TempDir {
public:
    TempDir();
    ~TempDir();
    std::string path(const std::string& name) const { return dir_ + "/" + name; }
    std::string write(const std::string& name, const std::string& content) const;

private:
    std::string dir_;
};

// A firmware package for `family`; a damaged one fails its image checksum.
std::string FirmwarePackage(const std::string& family, const std::string& version, bool damaged = false);
// A 1x1 PNG, which face cameras accept as logo or background.
std::string PngImage();

// Cameras of the built-in scenario.
constexpr const char* kPlateIp = "192.168.1.100";
constexpr const char* kOtherPasswordIp = "192.168.1.103";
constexpr const char* kFaceIp = "192.168.1.110";
constexpr const char* kUser = "admin";
constexpr const char* kPassword = "tolvi";  // the factory default
constexpr const char* kPlateFamily = "KP-LPR-V3";
constexpr const char* kFaceFamily = "KP-FACE-F2";

}  // namespace factory_test
