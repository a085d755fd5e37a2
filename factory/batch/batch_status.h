// The statuses a camera goes through in a batch, their texts (what a row of the window, a line of
// the command line and a report's "final status" show), and the rules that turn a job's reports
// into them. The one table of those texts; everything that shows a status reads it from here.
#pragma once

#include <cstdint>
#include <string>

enum DeviceStatus : int32_t {
    DEVICE_STATUS_IDLE = 0,
    DEVICE_STATUS_UPDATING = 1,
    DEVICE_STATUS_UPDATE_SUCCESS = 2,
    DEVICE_STATUS_UPDATE_FAILED = 3,
    DEVICE_STATUS_UPDATE_CANCEL = 4,
    DEVICE_STATUS_EXPORTING = 5,
    DEVICE_STATUS_EXPORT_SUCCESS = 6,
    DEVICE_STATUS_EXPORT_FAILED = 7,
    DEVICE_STATUS_SETTING = 8,
    DEVICE_STATUS_SET_SUCCESS = 9,
    DEVICE_STATUS_SET_FAILED = 10,
    // The batch ended before this camera's turn (canary failed, failure limit, stop).
    DEVICE_STATUS_NOT_STARTED = 11,
};

constexpr int kDeviceStatusCount = 12;

// Display texts indexed by DeviceStatus.
extern const char* const g_device_status_text[kDeviceStatusCount];

enum class DeviceStatusClass { Idle, InProgress, Success, Failure };

// Idle and success are shown green, failure red; in-progress rows show the progress bar. A camera
// that never started did not get the change, so it counts with the failures.
DeviceStatusClass deviceStatusClass(int status);

namespace batch {

// The text a job's last report carries when it went through.
extern const char kDone[];

// Which pair of final statuses a camera gets.
enum class ResultKind {
    Setting,  // "设置成功" / "设置失败"
    Export,   // "导出成功" / "导出失败"
    Upgrade,  // "升级成功" when the final text is "完成", else "升级失败"
};

// A camera has ended with its first failure or with "完成".
inline bool EndsCamera(bool ok, const std::string& text) { return !ok || text == kDone; }

// The status of a camera whose job ended with (ok, text). An upgrade's "完成" is a success even
// when the logout after it failed.
DeviceStatus FinalStatus(ResultKind kind, bool ok, const std::string& text);
// The status the row shows while the camera runs; the upgrade shows its write instead (idle).
DeviceStatus RunningStatus(ResultKind kind);
// The status of an upgrade state as the device library reports it.
DeviceStatus UpgradeStatus(int state);
// The status's text; empty outside the table.
std::string StatusText(int status);

}  // namespace batch
