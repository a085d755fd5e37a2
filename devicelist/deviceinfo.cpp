#include "deviceinfo.h"

#include <QAbstractItemModel>

const char* const g_lens_name[7] = {
    "非定焦镜头",   "4mm定焦镜头",  "6mm定焦镜头",   "8mm定焦镜头",
    "12mm定焦镜头", "16mm定焦镜头", "2.8mm定焦镜头",
};

const char* const g_device_kind_name[2] = {"车牌识别", "人脸识别"};

QString deviceStatusText(int status) {
    if (status < 0 || status >= kDeviceStatusCount) return QString();
    return QString::fromUtf8(g_device_status_text[status]);
}

QString serialNumberText(uint32_t serial_high, uint32_t serial_low) {
    return QString::fromStdString(factory::SerialNumberText(serial_high, serial_low));
}

DeviceInfo deviceInfoFromRow(const QAbstractItemModel* table, int row) {
    DeviceInfo info;
    auto cellText = [&](int column) { return table->index(row, column).data().toString(); };
    const std::string ip = cellText(kColumnIp).toStdString();
    info.device_name = ip;
    info.ip_addr = ip;
    info.port = cellText(kColumnPort).toInt();  // 0 when the cell is not a number
    info.netmask = cellText(kColumnNetmask).toStdString();
    info.gateway = cellText(kColumnGateway).toStdString();
    const QModelIndex first = table->index(row, kColumnCheck);
    info.serial_high = first.data(kRoleSerialHigh).toUInt();
    info.serial_low = first.data(kRoleSerialLow).toUInt();
    info.user_name = first.data(kRoleUserName).toString().toStdString();
    info.pass_word = first.data(kRolePassword).toString().toStdString();
    info.row = row;
    return info;
}

void registerDeviceMetaTypes() {
    qRegisterMetaType<DeviceInfo>("DeviceInfo");
    qRegisterMetaType<DeviceStatus>("DeviceStatus");
    qRegisterMetaType<Qt::CheckState>("Qt::CheckState");
}
