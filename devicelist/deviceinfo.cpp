#include "deviceinfo.h"

#include <QTableWidget>

const char* const g_device_status_text[kDeviceStatusCount] = {
    "空闲",     "正在升级", "升级成功", "升级失败", "升级取消", "正在导出",
    "导出成功", "导出失败", "正在设置", "设置成功", "设置失败",
};

const char* const g_lens_name[7] = {
    "非定焦镜头",   "4mm定焦镜头",  "6mm定焦镜头",   "8mm定焦镜头",
    "12mm定焦镜头", "16mm定焦镜头", "2.8mm定焦镜头",
};

const char* const g_device_kind_name[2] = {"车牌识别", "人脸识别"};

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

QString deviceStatusText(int status) {
    if (status < 0 || status >= kDeviceStatusCount) return QString();
    return QString::fromUtf8(g_device_status_text[status]);
}

QString serialNumberText(uint32_t serial_high, uint32_t serial_low) {
    return QString::asprintf("%08x-%08x", serial_high, serial_low);
}

namespace {
std::string text(const char* s) { return s ? std::string(s) : std::string(); }
}  // namespace

DeviceInfo deviceInfoFromReport(const char* name, const char* ip, uint16_t port, uint16_t port2,
                                uint32_t serial_low, uint32_t serial_high, const char* netmask,
                                const char* gateway, int32_t find_value, const char* firmware_version,
                                int32_t lens_code, const char* mac_addr, const char* boot_time) {
    DeviceInfo info;
    info.device_name = text(name);
    info.ip_addr = text(ip);
    info.port = port;
    info.port2 = port2;
    info.serial_low = serial_low;
    info.serial_high = serial_high;
    info.netmask = text(netmask);
    info.gateway = text(gateway);
    info.find_value = find_value;
    info.firmware_version = text(firmware_version);
    info.lens_code = lens_code;
    info.mac_addr = text(mac_addr);
    info.boot_time = text(boot_time);
    return info;
}

DeviceInfo deviceInfoFromRow(const QTableWidget* table, int row) {
    DeviceInfo info;
    auto cellText = [&](int column) {
        const QTableWidgetItem* item = table->item(row, column);
        return item ? item->text() : QString();
    };
    const std::string ip = cellText(kColumnIp).toStdString();
    info.device_name = ip;
    info.ip_addr = ip;
    info.port = cellText(kColumnPort).toInt();  // 0 when the cell is not a number
    info.netmask = cellText(kColumnNetmask).toStdString();
    info.gateway = cellText(kColumnGateway).toStdString();
    if (const QTableWidgetItem* first = table->item(row, kColumnCheck)) {
        info.serial_high = first->data(kRoleSerialHigh).toUInt();
        info.serial_low = first->data(kRoleSerialLow).toUInt();
        info.user_name = first->data(kRoleUserName).toString().toStdString();
        info.pass_word = first->data(kRolePassword).toString().toStdString();
    }
    info.row = row;
    return info;
}

void registerDeviceMetaTypes() {
    qRegisterMetaType<DeviceInfo>("DeviceInfo");
    qRegisterMetaType<DeviceStatus>("DeviceStatus");
    qRegisterMetaType<Qt::CheckState>("Qt::CheckState");
}
