#include "batch_status.h"

const char* const g_device_status_text[kDeviceStatusCount] = {
    "空闲",     "正在升级", "升级成功", "升级失败", "升级取消", "正在导出",
    "导出成功", "导出失败", "正在设置", "设置成功", "设置失败", "未开始",
};

DeviceStatusClass deviceStatusClass(int status) {
    switch (status) {
        case DEVICE_STATUS_IDLE:
            return DeviceStatusClass::Idle;
        case DEVICE_STATUS_UPDATING:
        case DEVICE_STATUS_EXPORTING:
        case DEVICE_STATUS_SETTING:
            return DeviceStatusClass::InProgress;
        case DEVICE_STATUS_UPDATE_SUCCESS:
        case DEVICE_STATUS_EXPORT_SUCCESS:
        case DEVICE_STATUS_SET_SUCCESS:
            return DeviceStatusClass::Success;
        default:
            return DeviceStatusClass::Failure;
    }
}

namespace batch {

const char kDone[] = "完成";

DeviceStatus FinalStatus(ResultKind kind, bool ok, const std::string& text) {
    switch (kind) {
        case ResultKind::Export:
            return ok ? DEVICE_STATUS_EXPORT_SUCCESS : DEVICE_STATUS_EXPORT_FAILED;
        case ResultKind::Upgrade:
            return text == kDone ? DEVICE_STATUS_UPDATE_SUCCESS : DEVICE_STATUS_UPDATE_FAILED;
        case ResultKind::Setting:
        default:
            return ok ? DEVICE_STATUS_SET_SUCCESS : DEVICE_STATUS_SET_FAILED;
    }
}

DeviceStatus RunningStatus(ResultKind kind) {
    switch (kind) {
        case ResultKind::Export:
            return DEVICE_STATUS_EXPORTING;
        case ResultKind::Upgrade:
            return DEVICE_STATUS_IDLE;
        case ResultKind::Setting:
        default:
            return DEVICE_STATUS_SETTING;
    }
}

DeviceStatus UpgradeStatus(int state) {
    switch (state) {
        case 2:
            return DEVICE_STATUS_UPDATING;
        case 1:
        case 4:
            return DEVICE_STATUS_UPDATE_SUCCESS;
        case 3:
            return DEVICE_STATUS_UPDATE_CANCEL;
        case -1:
            return DEVICE_STATUS_UPDATE_FAILED;
        default:
            return DEVICE_STATUS_IDLE;
    }
}

std::string StatusText(int status) {
    if (status < 0 || status >= kDeviceStatusCount) return std::string();
    return g_device_status_text[status];
}

}  // namespace batch
