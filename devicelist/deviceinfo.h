// What the device lists add to the record of one camera (discovery_record.h) and to the status
// of the operation running on its row (batch_status.h): names, columns, roles. Both types travel
// through queued signals between threads, so they are registered meta-types
// (registerDeviceMetaTypes).
#pragma once

#include <QMetaType>
#include <QString>
#include <cstdint>
#include <string>

#include "batch_status.h"
#include "discovery_record.h"

class QAbstractItemModel;

extern const char* const g_lens_name[7];
extern const char* const g_device_kind_name[2];

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

// A record from row `row` of a device table: address, port, mask, gateway and the roles of the
// first cell; firmware, MAC, boot time and lens code are not collected.
DeviceInfo deviceInfoFromRow(const QAbstractItemModel* table, int row);

// Registers "DeviceInfo", "DeviceStatus" and "Qt::CheckState"; safe to call more than once.
void registerDeviceMetaTypes();

Q_DECLARE_METATYPE(DeviceInfo)
Q_DECLARE_METATYPE(DeviceStatus)
