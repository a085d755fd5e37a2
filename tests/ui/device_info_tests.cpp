#include <gtest/gtest.h>

#include <QTableWidget>

#include "deviceinfo.h"
#include "test_device.h"

TEST(DeviceInfo, StatusTextsAndClasses) {
    const char* expected[] = {"空闲",     "正在升级", "升级成功", "升级失败", "升级取消", "正在导出",
                              "导出成功", "导出失败", "正在设置", "设置成功", "设置失败", "未开始"};
    for (int i = 0; i < kDeviceStatusCount; ++i)
        EXPECT_EQ(deviceStatusText(i), QString::fromUtf8(expected[i]));
    EXPECT_TRUE(deviceStatusText(12).isEmpty());
    EXPECT_TRUE(deviceStatusText(-1).isEmpty());

    EXPECT_EQ(deviceStatusClass(DEVICE_STATUS_UPDATE_CANCEL), DeviceStatusClass::Failure);
    for (int s : {1, 5, 8}) EXPECT_EQ(deviceStatusClass(s), DeviceStatusClass::InProgress);
    for (int s : {2, 6, 9}) EXPECT_EQ(deviceStatusClass(s), DeviceStatusClass::Success);
    for (int s : {3, 4, 7, 10, 11, 42}) EXPECT_EQ(deviceStatusClass(s), DeviceStatusClass::Failure);
    EXPECT_EQ(deviceStatusClass(0), DeviceStatusClass::Idle);
}

TEST(DeviceInfo, SerialNumberIsHighHalfFirstInLowerCaseHex) {
    EXPECT_EQ(serialNumberText(171, 1), "000000ab-00000001");
    EXPECT_EQ(serialNumberText(0xDEADBEEF, 0xFFFFFFFF), "deadbeef-ffffffff");
}

TEST(DeviceInfo, FromDiscoveryReport) {
    DeviceInfo basic =
        deviceInfoFromReport("cam", "10.0.0.7", 8080, 65535, 1, 2, "255.255.255.0", "10.0.0.1");
    EXPECT_EQ(basic.device_name, "cam");
    EXPECT_EQ(basic.ip_addr, "10.0.0.7");
    EXPECT_EQ(basic.port, 8080);
    EXPECT_EQ(basic.port2, 65535) << "unsigned 16-bit, not sign-extended";
    EXPECT_EQ(basic.serial_low, 1u);
    EXPECT_EQ(basic.serial_high, 2u);
    EXPECT_EQ(basic.netmask, "255.255.255.0");
    EXPECT_EQ(basic.gateway, "10.0.0.1");
    EXPECT_TRUE(basic.firmware_version.empty());
    EXPECT_EQ(basic.lens_code, 0);

    DeviceInfo ext = deviceInfoFromReport("n", "1.2.3.4", 80, 0, 5, 6, "m", "g", 9, "V2.1", 3,
                                          "00:11:22:33:44:55", "2026-12-01 08:00:00");
    EXPECT_EQ(ext.find_value, 9);
    EXPECT_EQ(ext.firmware_version, "V2.1");
    EXPECT_EQ(ext.lens_code, 3);
    EXPECT_EQ(ext.mac_addr, "00:11:22:33:44:55");
    EXPECT_EQ(ext.boot_time, "2026-12-01 08:00:00");
    EXPECT_TRUE(ext.user_name.empty());
}

TEST(DeviceInfo, FromTableRow) {
    QTableWidget table(2, kDeviceColumnCount);
    auto* first = new QTableWidgetItem;
    first->setData(kRoleSerialHigh, 171u);
    first->setData(kRoleSerialLow, 1u);
    first->setData(kRoleUserName, QString::fromUtf8("管理员"));
    first->setData(kRolePassword, "secret");
    table.setItem(1, kColumnCheck, first);
    table.setItem(1, kColumnIp, new QTableWidgetItem("192.168.1.20"));
    table.setItem(1, kColumnPort, new QTableWidgetItem("80a"));
    table.setItem(1, kColumnNetmask, new QTableWidgetItem("255.255.0.0"));
    table.setItem(1, kColumnGateway, new QTableWidgetItem("192.168.1.1"));
    table.setItem(1, kColumnFirmware, new QTableWidgetItem("V9"));

    DeviceInfo info = deviceInfoFromRow(table.model(), 1);
    EXPECT_EQ(info.device_name, "192.168.1.20");
    EXPECT_EQ(info.ip_addr, "192.168.1.20");
    EXPECT_EQ(info.port, 0) << "a port cell that is not a number";
    EXPECT_EQ(info.netmask, "255.255.0.0");
    EXPECT_EQ(info.gateway, "192.168.1.1");
    EXPECT_EQ(info.serial_high, 171u);
    EXPECT_EQ(info.serial_low, 1u);
    EXPECT_EQ(info.user_name, "管理员");
    EXPECT_EQ(info.pass_word, "secret");
    EXPECT_EQ(info.row, 1);
    EXPECT_TRUE(info.firmware_version.empty()) << "not collected from rows";

    // A search-list row has no login roles.
    table.setItem(0, kColumnCheck, new QTableWidgetItem);
    table.setItem(0, kColumnPort, new QTableWidgetItem("8080"));
    DeviceInfo search = deviceInfoFromRow(table.model(), 0);
    EXPECT_TRUE(search.user_name.empty());
    EXPECT_TRUE(search.pass_word.empty());
    EXPECT_EQ(search.port, 8080);
}

TEST(DeviceInfo, MetaTypesAreRegisteredUnderTheirNames) {
    registerDeviceMetaTypes();
    EXPECT_NE(QMetaType::type("DeviceInfo"), 0);
    EXPECT_NE(QMetaType::type("DeviceStatus"), 0);
    EXPECT_NE(QMetaType::type("Qt::CheckState"), 0);
    QVariant v = QVariant::fromValue(device("1.1.1.1"));
    EXPECT_EQ(v.value<DeviceInfo>().ip_addr, "1.1.1.1");
}

TEST(DeviceInfo, NameTables) {
    EXPECT_STREQ(g_lens_name[0], "非定焦镜头");
    EXPECT_STREQ(g_lens_name[6], "2.8mm定焦镜头");
    EXPECT_STREQ(g_device_kind_name[0], "车牌识别");
    EXPECT_STREQ(g_device_kind_name[1], "人脸识别");
}
