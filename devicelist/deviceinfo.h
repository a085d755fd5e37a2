// The record of one camera as the device lists know it, the status of the operation running on
// one row, and the tables that go with them. Both types travel through queued signals between
// threads, so they are registered meta-types (registerDeviceMetaTypes).
#pragma once

#include <QMetaType>
#include <QString>
#include <cstdint>
#include <string>

class QTableWidget;

struct DeviceInfo {
    std::string device_name;
    std::string ip_addr;
    std::string netmask;
    std::string gateway;
    std::string user_name;
    std::string pass_word;
    std::string spare_text1;
    std::string spare_text2;
    int32_t port = 0;
    int32_t port2 = 0;
    uint32_t serial_low = 0;
    uint32_t serial_high = 0;
    int32_t row = 0;
    int32_t find_value = 0;
    std::string firmware_version;
    int32_t lens_code = 0;
    std::string mac_addr;
    std::string boot_time;
    int32_t spare_value = 0;
};

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
};

constexpr int kDeviceStatusCount = 11;

// Display texts indexed by DeviceStatus.
extern const char* const g_device_status_text[kDeviceStatusCount];
extern const char* const g_lens_name[7];
extern const char* const g_device_kind_name[2];

enum class DeviceStatusClass { Idle, InProgress, Success, Failure };

// Idle and success are shown green, failure red; in-progress rows show the progress bar.
DeviceStatusClass deviceStatusClass(int status);

// The text of a status value; an empty text for a value outside the table.
QString deviceStatusText(int status);

// Roles under which a row's first (check-box) cell keeps the fields without a column.
enum DeviceRowRole {
    kRoleNetmask = 256,
    kRoleGateway = 257,
    kRoleSerialHigh = 258,
    kRoleSerialLow = 259,
    kRoleUserName = 260,
    kRolePassword = 261,
};

// Columns shared by both device tables.
enum DeviceColumn {
    kColumnCheck = 0,
    kColumnStatus = 1,
    kColumnLensOrLogin = 2,
    kColumnFirmware = 3,
    kColumnSerial = 4,
    kColumnPort = 5,
    kColumnMac = 6,
    kColumnBootTime = 7,
    kColumnIp = 8,
    kColumnGateway = 9,
    kColumnNetmask = 10,
    kColumnTools = 11,
    kDeviceColumnCount = 12,
};

// "%08x-%08x" of (serial_high, serial_low).
QString serialNumberText(uint32_t serial_high, uint32_t serial_low);

// A record from a discovery report. The basic report leaves the extended fields empty or 0:
// pass null texts and 0 for them.
DeviceInfo deviceInfoFromReport(const char* name, const char* ip, uint16_t port, uint16_t port2,
                                uint32_t serial_low, uint32_t serial_high, const char* netmask,
                                const char* gateway, int32_t find_value = 0,
                                const char* firmware_version = nullptr, int32_t lens_code = 0,
                                const char* mac_addr = nullptr, const char* boot_time = nullptr);

// A record from row `row` of a device table: address, port, mask, gateway and the roles of the
// first cell; firmware, MAC, boot time and lens code are not collected.
DeviceInfo deviceInfoFromRow(const QTableWidget* table, int row);

// Registers "DeviceInfo", "DeviceStatus" and "Qt::CheckState"; safe to call more than once.
void registerDeviceMetaTypes();

Q_DECLARE_METATYPE(DeviceInfo)
Q_DECLARE_METATYPE(DeviceStatus)
