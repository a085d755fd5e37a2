// The search list's table behaviour without the device library: rows are fed through
// slotFindDevice as the discovery hand-off would.
#include <gtest/gtest.h>
#include <kp_platform.h>

#include <QApplication>
#include <QImage>
#include <QLabel>
#include <QMenu>
#include <QProgressBar>
#include <QSignalSpy>
#include <QTableView>
#include <QTest>
#include <algorithm>
#include <cstdint>
#include <memory>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "btn_tools_widget.h"
#include "device_table_widget.h"
#include "nav_button.h"
#include "qtable_header_view.h"
#include "test_device.h"
#include "ui_test_support.h"
#include "update_widget.h"

namespace {

// The colour the status text is painted in: its most saturated pixel (the glyphs' full-coverage
// pixels), so a colour that the palette holds but the painting ignores is caught.
QColor textColor(UpdateWidget* cell) {
    const QImage image = cell->statusLabel()->grab().toImage();
    QColor best;
    int best_saturation = -1;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QColor c = image.pixelColor(x, y);
            const int saturation =
                std::max({c.red(), c.green(), c.blue()}) - std::min({c.red(), c.green(), c.blue()});
            if (saturation > best_saturation) {
                best_saturation = saturation;
                best = QColor(c.red(), c.green(), c.blue());
            }
        }
    }
    return best;
}

class SearchListTest : public ::testing::Test {
protected:
    void SetUp() override { list.resize(1400, 600); }

    QTableView* table() { return list.tableView(); }
    QModelIndex index(int row, int column) { return table()->model()->index(row, column); }
    QString cell(int row, int column) { return list.cellText(row, column); }
    std::vector<std::string> ips() {
        std::vector<std::string> out;
        for (int row = 0; row < list.rowCount(); ++row) out.push_back(cell(row, kColumnIp).toStdString());
        return out;
    }
    void tick(int row, bool on = true) { list.setRowCheckState(row, on ? Qt::Checked : Qt::Unchecked); }
    void clickHeaderSection(int section) {
        QHeaderView* header = list.headerView();
        const QPoint at(header->sectionViewportPosition(section) + 5, header->height() / 2);
        QTest::mouseClick(header->viewport(), Qt::LeftButton, Qt::NoModifier, at);
    }

    DeviceTableWidget list{nullptr, std::make_shared<UiJobQueue>()};
};

// A window like the main one: its counter label is created before the list, so the label is
// deleted first when the window goes, and its slot writes the selected count into the label.
class CounterWindow : public QWidget {
public:
    CounterWindow(const bool& closing, int& late_updates) {
        auto* counter = new QLabel(this);
        list = new DeviceTableWidget(this, std::make_shared<UiJobQueue>());
        connect(list, &DeviceTableWidgetBase::signalsSelectedChange, this, [&, counter](int select_num) {
            if (closing) ++late_updates;
            counter->setText(QString::number(select_num));
        });
    }

    DeviceTableWidget* list;
};

}  // namespace

TEST_F(SearchListTest, ARowIsFilledFromAReport) {
    QSignalSpy count(&list, &DeviceTableWidgetBase::signalsDeviceNumChange);
    list.slotFindDevice(device("192.168.1.64", 8080));
    ASSERT_EQ(list.rowCount(), 1);
    EXPECT_EQ(count.takeLast()[0].toInt(), 1);
    EXPECT_EQ(table()->rowHeight(0), 24);

    const QModelIndex check = index(0, 0);
    EXPECT_EQ(check.data(Qt::CheckStateRole).toInt(), Qt::Unchecked);
    EXPECT_TRUE(check.flags() & Qt::ItemIsUserCheckable);
    EXPECT_TRUE(check.data().toString().isEmpty());
    EXPECT_EQ(check.data(kRoleNetmask).toString(), "255.255.255.0");
    EXPECT_EQ(check.data(kRoleSerialHigh).toUInt(), 171u);
    EXPECT_FALSE(check.data(kRoleUserName).isValid());
    EXPECT_EQ(cell(0, 2), "2");
    EXPECT_EQ(cell(0, 4), "000000ab-00000001");
    EXPECT_EQ(cell(0, 5), "8080");
    EXPECT_EQ(cell(0, 8), "192.168.1.64");
    EXPECT_EQ(cell(0, 10), "255.255.255.0");

    ASSERT_NE(list.statusCell(0), nullptr);
    EXPECT_EQ(list.statusCell(0)->statusLabel()->text(), QStringLiteral("空闲"));
    BtnToolsWidget* tools = list.toolsCell(0);
    ASSERT_NE(tools, nullptr);
    EXPECT_EQ(tools->deviceInfo().ip_addr, "192.168.1.64");
    EXPECT_EQ(tools->deviceInfo().device_name, "192.168.1.64");
    EXPECT_EQ(tools->deviceInfo().port, 8080);
    EXPECT_EQ(tools->deviceInfo().serial_high, 171u);
    EXPECT_TRUE(tools->deviceInfo().firmware_version.empty());

    // A search-list row carries no login.
    tick(0);
    const std::vector<DeviceInfo>& selected = list.getSelectedDevices();
    ASSERT_EQ(selected.size(), 1u);
    EXPECT_TRUE(selected[0].user_name.empty());
    EXPECT_TRUE(selected[0].pass_word.empty());
    EXPECT_EQ(selected[0].port, 8080);
}

TEST_F(SearchListTest, RowsAreInNumericIpOrder) {
    for (const char* ip : {"192.168.1.20", "192.168.1.3", "10.0.0.1"}) list.slotFindDevice(device(ip));
    EXPECT_EQ(ips(), (std::vector<std::string>{"10.0.0.1", "192.168.1.3", "192.168.1.20"}));

    // A three-part address goes after every row, and so does one that arrives after it with
    // the same shape; a well-formed address still goes before them.
    list.slotFindDevice(device("1.2.3"));
    list.slotFindDevice(device("1.2.3.x"));
    list.slotFindDevice(device("192.168.1.100"));
    list.slotFindDevice(device("1..2.3"));
    list.slotFindDevice(device("9.9.9.9"));
    EXPECT_EQ(ips(), (std::vector<std::string>{"9.9.9.9", "10.0.0.1", "192.168.1.3", "192.168.1.20",
                                               "192.168.1.100", "1.2.3", "1.2.3.x", "1..2.3"}));
}

TEST_F(SearchListTest, DuplicateAddressesStayInArrivalOrder) {
    list.slotFindDevice(device("192.168.1.5", 80, 1));
    list.slotFindDevice(device("192.168.1.9", 80, 2));
    list.slotFindDevice(device("192.168.1.5", 80, 3));
    list.slotFindDevice(device("192.168.1.5", 80, 4));
    ASSERT_EQ(list.rowCount(), 4);
    EXPECT_EQ(list.cellData(0, 0, kRoleSerialLow).toUInt(), 1u);
    EXPECT_EQ(list.cellData(1, 0, kRoleSerialLow).toUInt(), 3u);
    EXPECT_EQ(list.cellData(2, 0, kRoleSerialLow).toUInt(), 4u);
    EXPECT_EQ(cell(3, kColumnIp), "192.168.1.9");

    int row = -1;
    EXPECT_TRUE(list.findRowByIp("192.168.1.5", row));
    EXPECT_EQ(row, 0);
    EXPECT_TRUE(list.findRowByIp("192.168.1.9", row));
    EXPECT_EQ(row, 3);
    EXPECT_FALSE(list.findRowByIp("192.168.1.50", row));
    EXPECT_FALSE(list.findRowByIp("192.168.1.", row));
}

// The lookup keeps an index of the addresses: after each kind of row change it must name the
// same row as reading the rows from the top.
TEST_F(SearchListTest, FindRowByIpFollowsInsertionsMovesAndRemovals) {
    const auto agrees = [&](const char* step) {
        for (const char* ip : {"10.0.0.1", "10.0.0.5", "10.0.0.9", "10.0.0.20", "10.0.0.99"}) {
            int first = -1;
            for (int row = list.rowCount() - 1; row >= 0; --row)
                if (cell(row, kColumnIp) == ip) first = row;
            int found = -1;
            EXPECT_EQ(list.findRowByIp(ip, found), first >= 0) << step << " " << ip;
            if (first >= 0) {
                EXPECT_EQ(found, first) << step << " " << ip;
            }
        }
    };
    for (const char* ip : {"10.0.0.5", "10.0.0.9"}) list.slotFindDevice(device(ip));
    agrees("filled");
    list.slotFindDevice(device("10.0.0.1"));  // before the others
    agrees("inserted before");
    list.slotFindDevice(device("10.0.0.20"));  // at the end
    agrees("added at the end");
    DeviceInfo moved = device("10.0.0.5");
    moved.ip_addr = "10.0.0.99";
    list.slotFindDevice(moved);  // the same camera from a new address
    agrees("moved");
    list.clearDevices();
    agrees("cleared");
}

// The same serial number and MAC is the same camera wherever it answers from; anything less is
// another camera with a row of its own.
TEST_F(SearchListTest, ACameraAnsweringAgainUpdatesItsRowAndKeepsItsTickAndResult) {
    list.show();
    for (const char* ip : {"10.0.0.1", "10.0.0.5", "10.0.0.9"}) list.slotFindDevice(device(ip));
    tick(1);
    list.setRowStatus(1, DEVICE_STATUS_UPDATE_SUCCESS, 100);
    const quint64 token = list.rowToken(1);
    ASSERT_EQ(list.toolsCell(0)->deviceInfo().port, 80);

    DeviceInfo upgraded = device("10.0.0.5");
    upgraded.firmware_version = "3.2.2.0";
    upgraded.boot_time = "2026-12-08 10:00:00";
    list.slotFindDevice(upgraded);
    ASSERT_EQ(list.rowCount(), 3);
    EXPECT_EQ(cell(1, kColumnFirmware), "3.2.2.0");
    EXPECT_EQ(cell(1, kColumnBootTime), "2026-12-08 10:00:00");

    // A new address past another row, the MAC in lower case.
    DeviceInfo moved = upgraded;
    moved.ip_addr = "10.0.0.20";
    moved.port = 8080;
    moved.mac_addr = QString::fromStdString(moved.mac_addr).toLower().toStdString();
    list.slotFindDevice(moved);
    EXPECT_EQ(ips(), (std::vector<std::string>{"10.0.0.1", "10.0.0.9", "10.0.0.20"}));
    EXPECT_EQ(list.rowOfToken(token, 1), 2);
    EXPECT_EQ(list.statusCell(2)->statusLabel()->text(), QStringLiteral("升级成功"));
    EXPECT_EQ(list.rowCheckState(2), Qt::Checked);
    EXPECT_EQ(list.toolsCell(2)->deviceInfo().ip_addr, "10.0.0.20");
    EXPECT_EQ(list.getSelectedDevices().at(0).port, 8080);
    // A tool widget made before the report opens the new port.
    DeviceInfo first = device("10.0.0.1", 8081);
    list.slotFindDevice(first);
    EXPECT_EQ(list.toolsCell(0)->deviceInfo().port, 8081);

    DeviceInfo other_mac = device("10.0.0.9");
    other_mac.mac_addr = "00:1A:00:00:00:01";
    DeviceInfo no_serial = device("10.0.0.9");
    no_serial.serial_high = no_serial.serial_low = 0;
    for (const DeviceInfo& info : {other_mac, no_serial, no_serial}) list.slotFindDevice(info);
    EXPECT_EQ(list.rowCount(), 6);
}

TEST(DeviceRows, InsertionsAndRemovalsAcrossBlocksKeepOrderAndBounds) {
    // Sizes around one block and around several splits; removals that empty whole blocks.
    for (const int count : {1, 511, 513, 3000}) {
        std::mt19937 rng(static_cast<unsigned>(count));
        DeviceRows rows;
        std::vector<std::uint64_t> expected;  // keys in row order
        for (int i = 0; i < count; ++i) {
            const std::uint64_t key = rng() % 997;
            const auto at = static_cast<size_t>(std::upper_bound(expected.begin(), expected.end(), key) -
                                                expected.begin());
            auto row = std::make_unique<DeviceRow>();
            row->key = key;
            ASSERT_EQ(rows.upperBound(key), at) << count << " rows, key " << key;
            rows.insert(at, std::move(row));
            expected.insert(expected.begin() + static_cast<std::ptrdiff_t>(at), key);
        }
        for (int i = 0; i < count / 2; ++i) {
            const size_t at = rng() % expected.size();
            ASSERT_EQ(rows.take(at)->key, expected[at]);
            expected.erase(expected.begin() + static_cast<std::ptrdiff_t>(at));
        }
        ASSERT_EQ(rows.size(), expected.size());
        for (size_t at = 0; at < expected.size(); ++at) ASSERT_EQ(rows[at]->key, expected[at]) << at;
        for (const std::uint64_t key : {std::uint64_t{0}, std::uint64_t{500}, std::uint64_t{2000}}) {
            EXPECT_EQ(rows.lowerBound(key),
                      static_cast<size_t>(std::lower_bound(expected.begin(), expected.end(), key) -
                                          expected.begin()));
        }
    }
}

TEST(IpOrdering, ComparisonRules) {
    EXPECT_TRUE(DeviceTableWidget::ipLessThan("192.168.1.3", "192.168.1.20"));
    EXPECT_FALSE(DeviceTableWidget::ipLessThan("192.168.1.20", "192.168.1.3"));
    EXPECT_FALSE(DeviceTableWidget::ipLessThan("10.0.0.1", "10.0.0.1"));
    EXPECT_TRUE(DeviceTableWidget::ipLessThan("9.255.255.255", "10.0.0.0"));
    // Malformed: after every well-formed address, unordered among themselves.
    EXPECT_TRUE(DeviceTableWidget::ipLessThan("255.255.255.255", "1.2.3"));
    EXPECT_FALSE(DeviceTableWidget::ipLessThan("1.2.3", "255.255.255.255"));
    EXPECT_FALSE(DeviceTableWidget::ipLessThan("1.2.3", "1.2.3.4.5"));
    EXPECT_FALSE(DeviceTableWidget::ipLessThan("1.2.3.4.5", "1.2.3"));
    EXPECT_FALSE(DeviceTableWidget::ipLessThan("1.2.3.99999999999", "1.2.3.4"));
    EXPECT_FALSE(DeviceTableWidget::ipLessThan("1.2.3.-1", "1.2.3.4"));
    EXPECT_FALSE(DeviceTableWidget::ipLessThan("", "1.2.3.4"));
    EXPECT_TRUE(DeviceTableWidget::ipLessThan("1.2.3.4", ""));
}

TEST_F(SearchListTest, HeaderTogglesFromItsOwnState) {
    QSignalSpy selected(&list, &DeviceTableWidgetBase::signalsSelectedChange);
    list.show();

    // On an empty table the header still answers, with nothing ticked.
    clickHeaderSection(0);
    ASSERT_EQ(selected.count(), 1);
    EXPECT_EQ(selected.takeLast()[0].toInt(), 0);
    EXPECT_TRUE(list.headerView()->isChecked());
    clickHeaderSection(0);
    EXPECT_EQ(selected.takeLast()[0].toInt(), 0);
    EXPECT_FALSE(list.headerView()->isChecked());

    for (const char* ip : {"10.0.0.1", "10.0.0.2", "10.0.0.3"}) list.slotFindDevice(device(ip));
    // Ticking every row by hand leaves the header's box alone ...
    tick(0);
    tick(1);
    tick(2);
    EXPECT_FALSE(list.headerView()->isChecked());
    // ... so the next header click ticks all (again) rather than clearing.
    selected.clear();
    clickHeaderSection(0);
    EXPECT_TRUE(list.headerView()->isChecked());
    EXPECT_EQ(selected.takeLast()[0].toInt(), 3);
    EXPECT_EQ(list.checkedRowCount(), 3);

    tick(1, false);
    clickHeaderSection(0);
    EXPECT_FALSE(list.headerView()->isChecked());
    EXPECT_EQ(selected.takeLast()[0].toInt(), 0);
    EXPECT_EQ(list.checkedRowCount(), 0);
    EXPECT_TRUE(list.getSelectedDevices().empty());
}

TEST_F(SearchListTest, ItemClickCountsTickedRowsOnly) {
    for (const char* ip : {"10.0.0.1", "10.0.0.2", "10.0.0.3"}) list.slotFindDevice(device(ip));
    list.show();
    QSignalSpy selected(&list, &DeviceTableWidgetBase::signalsSelectedChange);
    QSignalSpy total(&list, &DeviceTableWidgetBase::signalsDeviceNumChange);
    tick(0);
    tick(2);
    const QRect rect = table()->visualRect(index(1, kColumnIp));
    QTest::mouseClick(table()->viewport(), Qt::LeftButton, Qt::NoModifier, rect.center());
    ASSERT_EQ(selected.count(), 1);
    EXPECT_EQ(selected[0][0].toInt(), 2);
    EXPECT_EQ(total.count(), 0);

    const std::vector<DeviceInfo>& devices = list.getSelectedDevices();
    ASSERT_EQ(devices.size(), 2u);
    EXPECT_EQ(devices[0].row, 0);
    EXPECT_EQ(devices[1].row, 2);
    EXPECT_EQ(devices[1].ip_addr, "10.0.0.3");

    list.updateCounts();
    EXPECT_EQ(selected.takeLast()[0].toInt(), 2);
    EXPECT_EQ(total.takeLast()[0].toInt(), 3);
}

TEST_F(SearchListTest, StatusCellClassesAndOneRowOnly) {
    list.slotFindDevice(device("10.0.0.1"));
    list.slotFindDevice(device("10.0.0.2"));
    UpdateWidget* first = list.statusCell(0);
    UpdateWidget* second = list.statusCell(1);
    EXPECT_TRUE(first->progressBar()->isHidden());
    EXPECT_EQ(textColor(first), QColor("green"));
    EXPECT_TRUE(table()->styleSheet().startsWith(
        "QProgressBar{font:9pt;background:#d5dae6;max-height:8px;border-radius:5px;"
        "text-align:center;border:1px solid #d5dae6;}"
        "QProgressBar:chunk{border-radius:5px;background-color:#15a4fa;}"));

    list.setRowStatus(0, DEVICE_STATUS_EXPORTING, 40);
    EXPECT_EQ(first->statusLabel()->text(), QStringLiteral("正在导出"));
    EXPECT_EQ(textColor(first), QColor("blue"));
    EXPECT_FALSE(first->progressBar()->isHidden());
    EXPECT_EQ(first->progressBar()->value(), 40);
    EXPECT_EQ(second->statusLabel()->text(), QStringLiteral("空闲"));

    list.setRowStatus(0, DEVICE_STATUS_UPDATE_CANCEL, 40);
    EXPECT_EQ(first->statusLabel()->text(), QStringLiteral("升级取消"));
    EXPECT_EQ(textColor(first), QColor("red"));
    EXPECT_TRUE(first->progressBar()->isHidden());
    EXPECT_EQ(first->progressBar()->value(), 0);

    const std::vector<std::tuple<DeviceStatus, const char*>> classes = {
        {DEVICE_STATUS_UPDATE_SUCCESS, "green"}, {DEVICE_STATUS_EXPORT_SUCCESS, "green"},
        {DEVICE_STATUS_SET_SUCCESS, "green"},    {DEVICE_STATUS_UPDATE_FAILED, "red"},
        {DEVICE_STATUS_EXPORT_FAILED, "red"},    {DEVICE_STATUS_SET_FAILED, "red"},
        {DEVICE_STATUS_UPDATING, "blue"},        {DEVICE_STATUS_SETTING, "blue"},
    };
    for (const auto& [status, color] : classes) {
        list.setRowStatus(1, status, 70);
        EXPECT_EQ(textColor(second), QColor(color)) << status;
        EXPECT_EQ(second->progressBar()->isHidden(), QString(color) != "blue") << status;
    }

    // An out-of-range percentage still moves the bar; a row without a cell is left alone.
    list.setRowStatus(1, DEVICE_STATUS_UPDATING, 250);
    EXPECT_EQ(second->progressBar()->value(), 100);
    list.setRowStatus(7, DEVICE_STATUS_UPDATING, 10);
    list.setRowStatus(-1, DEVICE_STATUS_UPDATING, 10);
    // The status signal is connected only while it is delivered.
    emit list.signalsUpdataStatus(DEVICE_STATUS_SET_FAILED, 0);
    EXPECT_EQ(first->statusLabel()->text(), QStringLiteral("升级取消"));
    EXPECT_EQ(second->statusLabel()->text(), QStringLiteral("正在升级"));
}

// A long list makes the cells of the rows in view only; a row's status waits in the model for
// its cell, the filter reads it there, and ticking rows that others were inserted above keeps
// each row's own data.
TEST_F(SearchListTest, CellsAreMadeForRowsInViewAndShowTheStatusTheRowAlreadyHas) {
    const int rows = 300;
    list.resize(1400, 300);
    // Filled while its page is away, as when the other list is shown.
    list.show();
    QApplication::processEvents();
    list.hide();
    // Each new row goes on top, so every earlier row moves down.
    for (int i = rows - 1; i >= 0; --i)
        list.slotFindDevice(device("10.0." + std::to_string(i / 250) + "." + std::to_string(i % 250 + 1), 80,
                                   static_cast<uint32_t>(i)));
    auto settle = [] {
        for (int i = 0; i < 5; ++i) QApplication::processEvents();
    };
    settle();
    list.show();
    settle();
    ASSERT_EQ(list.rowCount(), rows);
    EXPECT_NE(list.existingStatusCell(0), nullptr);
    EXPECT_NE(table()->indexWidget(index(0, kColumnTools)), nullptr);
    const int last = rows - 1;
    EXPECT_EQ(list.existingStatusCell(last), nullptr);
    EXPECT_EQ(table()->indexWidget(index(last, kColumnTools)), nullptr);

    list.setRowStatus(last, DEVICE_STATUS_UPDATE_FAILED, 0);
    list.setRowStatus(last - 1, DEVICE_STATUS_EXPORTING, 40);
    EXPECT_EQ(list.existingStatusCell(last), nullptr);
    EXPECT_EQ(list.rowStatus(last), DEVICE_STATUS_UPDATE_FAILED);
    UpdateWidget* exporting = list.statusCell(last - 1);
    ASSERT_NE(exporting, nullptr);
    EXPECT_EQ(exporting->statusLabel()->text(), QStringLiteral("正在导出"));
    EXPECT_EQ(exporting->progressBar()->value(), 40);

    // Filtered, the one failed row comes into view with its cell in red.
    list.setStatusFilter(DEVICE_STATUS_UPDATE_FAILED);
    settle();
    UpdateWidget* failed = list.existingStatusCell(last);
    ASSERT_NE(failed, nullptr);
    EXPECT_EQ(failed->statusLabel()->text(), QStringLiteral("升级失败"));
    EXPECT_EQ(textColor(failed), QColor("red"));
    EXPECT_NE(table()->indexWidget(index(last, kColumnTools)), nullptr);
    // The header says a filter is on, and which.
    EXPECT_EQ(table()->model()->headerData(kColumnStatus, Qt::Horizontal).toString(),
              QStringLiteral("状态: 升级失败"));

    list.setStatusFilter(-1);
    settle();
    EXPECT_EQ(table()->model()->headerData(kColumnStatus, Qt::Horizontal).toString(), QStringLiteral("状态"));
    table()->scrollToBottom();
    settle();
    const int near_end = last - 5;
    ASSERT_NE(table()->indexWidget(index(near_end, kColumnTools)), nullptr);
    EXPECT_EQ(list.toolsCell(near_end)->deviceInfo().ip_addr, cell(near_end, kColumnIp).toStdString());
    EXPECT_EQ(list.toolsCell(near_end)->deviceInfo().serial_low, static_cast<uint32_t>(near_end));

    list.checkAll();
    const std::vector<DeviceInfo>& selected = list.getSelectedDevices();
    ASSERT_EQ(selected.size(), static_cast<size_t>(rows));
    for (int row = 0; row < rows; ++row) {
        EXPECT_EQ(selected[row].ip_addr, cell(row, kColumnIp).toStdString());
        EXPECT_EQ(selected[row].serial_low, static_cast<uint32_t>(row));
    }
    list.clearAll();
    EXPECT_EQ(list.checkedRowCount(), 0);
}

TEST_F(SearchListTest, WebPageButtonOpensTheCameraAddress) {
    std::vector<std::tuple<std::string, std::string, std::string>> opened;
    kp::setShellExecuteHook([&](const std::string& op, const std::string& file, const std::string& params) {
        opened.emplace_back(op, file, params);
        return true;
    });

    list.slotFindDevice(device("192.168.1.64", 80));
    list.slotFindDevice(device("192.168.1.65", 8080));
    list.show();
    QTest::mouseClick(list.toolsCell(0)->ieButton(), Qt::LeftButton);
    QTest::mouseClick(list.toolsCell(1)->ieButton(), Qt::LeftButton);
    // The video window is not there yet: its button opens nothing.
    QTest::mouseClick(list.toolsCell(1)->videoButton(), Qt::LeftButton);
    kp::setShellExecuteHook(nullptr);

    ASSERT_EQ(opened.size(), 2u);
    EXPECT_EQ(opened[0], std::make_tuple(std::string("open"), std::string("iexplore.exe"),
                                         std::string("http://192.168.1.64/")));
    EXPECT_EQ(std::get<2>(opened[1]), "http://192.168.1.65:8080/");
}

TEST(WebPageUrl, OnlyWellFormedAddressesReachTheShell) {
    DeviceInfo info = device("10.1.2.3");
    EXPECT_EQ(DeviceTableWidgetBase::webPageUrl(info), "http://10.1.2.3/");
    info.port = 65535;
    EXPECT_EQ(DeviceTableWidgetBase::webPageUrl(info), "http://10.1.2.3:65535/");
    for (int bad_port : {0, -80, 65536}) {
        info.port = bad_port;
        EXPECT_EQ(DeviceTableWidgetBase::webPageUrl(info), "") << bad_port;
    }
    info.port = 80;
    const std::string too_long(300, '1');
    for (const std::string& bad_ip :
         {std::string("10.1.2.3 -new-window file:///etc/passwd"), std::string("10.1.2.3\""),
          std::string("1.2.3"), std::string("256.1.1.1"), std::string("a.b.c.d"), std::string(), too_long}) {
        info.ip_addr = bad_ip;
        EXPECT_EQ(DeviceTableWidgetBase::webPageUrl(info), "") << bad_ip;
    }
}

TEST_F(SearchListTest, StatusMenuFiltersRowsAndOperationsSeeOnlyShownRows) {
    for (const char* ip : {"10.0.0.1", "10.0.0.2", "10.0.0.3", "10.0.0.4"}) list.slotFindDevice(device(ip));
    list.setRowStatus(1, DEVICE_STATUS_UPDATE_SUCCESS, 0);
    list.setRowStatus(3, DEVICE_STATUS_UPDATE_SUCCESS, 0);
    list.setRowStatus(2, DEVICE_STATUS_UPDATE_FAILED, 0);
    list.show();

    // A click on another section opens nothing; the "状态" section opens the menu.
    clickHeaderSection(kColumnFirmware);
    EXPECT_FALSE(list.statusMenu()->isVisible());
    clickHeaderSection(kColumnStatus);
    EXPECT_TRUE(list.statusMenu()->isVisible());
    QList<QAction*> entries = list.statusMenu()->actions();
    QStringList shown;
    for (QAction* entry : entries)
        if (entry->isVisible()) shown << entry->text();
    // The fixed entries, and the idle rows' status because rows are idle.
    ASSERT_EQ(shown.size(), 9) << shown.join(",").toStdString();
    EXPECT_EQ(shown[8], QStringLiteral("空闲"));
    EXPECT_EQ(entries[0]->text(), QStringLiteral("全部"));
    EXPECT_EQ(entries[4]->text(), QStringLiteral("导出失败"));
    // Every failure a batch can end in can be shown, so the failed cameras can be tried again.
    EXPECT_EQ(entries[5]->text(), QStringLiteral("升级取消"));
    EXPECT_EQ(entries[6]->text(), QStringLiteral("设置失败"));
    EXPECT_EQ(entries[7]->text(), QStringLiteral("未开始"));
    list.statusMenu()->hide();

    // Row 0 was ticked before the filter hid it.
    tick(0);
    entries[1]->trigger();  // 升级成功
    EXPECT_TRUE(table()->isRowHidden(0));
    EXPECT_FALSE(table()->isRowHidden(1));
    EXPECT_TRUE(table()->isRowHidden(2));
    EXPECT_FALSE(table()->isRowHidden(3));

    QSignalSpy selected(&list, &DeviceTableWidgetBase::signalsSelectedChange);
    list.checkAll();
    EXPECT_EQ(selected.takeLast()[0].toInt(), 2);
    EXPECT_EQ(list.rowCheckState(2), Qt::Unchecked);
    std::vector<std::string> chosen;
    for (const DeviceInfo& d : list.getSelectedDevices()) chosen.push_back(d.ip_addr);
    EXPECT_EQ(chosen, (std::vector<std::string>{"10.0.0.2", "10.0.0.4"}));

    // A row that reaches the filtered status comes into view; one that leaves it goes.
    list.setRowStatus(0, DEVICE_STATUS_UPDATE_SUCCESS, 0);
    EXPECT_FALSE(table()->isRowHidden(0));
    list.setRowStatus(3, DEVICE_STATUS_UPDATING, 5);
    EXPECT_TRUE(table()->isRowHidden(3));
    // New rows are idle and stay out of view under this filter.
    list.slotFindDevice(device("10.0.0.9"));
    EXPECT_TRUE(table()->isRowHidden(4));

    entries[2]->trigger();                            // 升级失败
    EXPECT_EQ(list.getSelectedDevices().size(), 0u);  // row 2 is shown but not ticked
    entries[0]->trigger();                            // 全部
    for (int row = 0; row < list.rowCount(); ++row) EXPECT_FALSE(table()->isRowHidden(row));
    // Each ticked row was hidden by one filter or the other, which unticked it: no tick the user
    // could not see comes back.
    EXPECT_EQ(list.getSelectedDevices().size(), 0u);

    // Emptying the list drops the filter, so a new search is not hidden.
    entries[3]->trigger();
    list.clearDevices();
    EXPECT_EQ(list.statusFilter(), -1);
    EXPECT_TRUE(entries[0]->isChecked());
    list.slotFindDevice(device("10.0.0.1"));
    EXPECT_FALSE(table()->isRowHidden(0));
}

TEST(SearchListTeardown, ClosingTheWindowSendsNoCountToItsDeletedLabel) {
    bool closing = false;
    int late_updates = 0;
    auto* window = new CounterWindow(closing, late_updates);
    DeviceTableWidget* list = window->list;
    list->slotFindDevice(device("10.0.0.1"));
    list->slotFindDevice(device("10.0.0.2"));
    list->setRowStatus(0, DEVICE_STATUS_UPDATE_SUCCESS, 0);
    list->setRowCheckState(0, Qt::Checked);
    list->setStatusFilter(DEVICE_STATUS_UPDATE_SUCCESS);
    // Both a ticked row and a filter are left for the destructor to clear.
    closing = true;
    delete window;
    EXPECT_EQ(late_updates, 0);
}

TEST_F(SearchListTest, ClearDevicesEmptiesEverythingAndSendsTheCountOnlyWhenTickedRowsGo) {
    QSignalSpy selected(&list, &DeviceTableWidgetBase::signalsSelectedChange);
    for (const char* ip : {"10.0.0.1", "10.0.0.2"}) list.slotFindDevice(device(ip));
    tick(0);
    list.clearDevices();
    EXPECT_EQ(list.rowCount(), 0);
    EXPECT_TRUE(list.getSelectedDevices().empty());
    int row = -1;
    EXPECT_FALSE(list.findRowByIp("10.0.0.1", row));
    ASSERT_EQ(selected.count(), 1);
    EXPECT_EQ(selected[0][0].toInt(), 0);

    list.slotFindDevice(device("10.0.0.1"));
    list.setStatusFilter(-1);
    list.clearDevices();
    EXPECT_EQ(selected.count(), 1) << "nothing was ticked, and the filter did not change";
}

TEST_F(SearchListTest, AReplyFloodStopsAtTheCapAndSaysSoOncePerSearch) {
    CapturedLog log;
    auto fullLines = [&] { return log.count("search list full"); };
    list.show();
    QSignalSpy counts(&list, &DeviceTableWidgetBase::signalsDeviceNumChange);
    const int cap = DeviceTableWidget::kMaxRows;
    // Made-up replies, each from an address of its own.
    auto flood = [&](int from, int count) {
        for (int i = from; i < from + count; ++i) {
            const std::uint32_t host = 0x0A000000u + static_cast<std::uint32_t>(i);
            list.slotFindDevice(device(std::to_string(host >> 24) + "." + std::to_string((host >> 16) & 255) +
                                       "." + std::to_string((host >> 8) & 255) + "." +
                                       std::to_string(host & 255)));
        }
    };
    flood(0, cap - 1);
    EXPECT_FALSE(list.fullNotice()->isVisible());
    EXPECT_EQ(fullLines(), 0);
    flood(cap - 1, 1);
    ASSERT_EQ(list.rowCount(), cap);
    EXPECT_FALSE(list.fullNotice()->isVisible()) << "the last row that fits drops nothing";

    flood(cap, 3);
    EXPECT_EQ(list.rowCount(), cap);
    EXPECT_EQ(counts.count(), cap) << "a dropped reply sends no count";
    EXPECT_TRUE(list.fullNotice()->isVisible());
    EXPECT_EQ(fullLines(), 1);
    // The rows kept are the replies that came first.
    EXPECT_EQ(cell(0, kColumnIp), "10.0.0.0");
    EXPECT_EQ(cell(cap - 1, kColumnIp), "10.0.255.254");

    // A refresh starts a new search: room again, and a new full list says so again.
    list.clearDevices();
    EXPECT_FALSE(list.fullNotice()->isVisible());
    list.slotFindDevice(device("10.1.0.1"));
    EXPECT_EQ(list.rowCount(), 1);
    flood(0, cap);
    EXPECT_EQ(list.rowCount(), cap);
    EXPECT_EQ(fullLines(), 2);
}

TEST_F(SearchListTest, RefreshOfAFullListLeavesNothingOfTheOldRows) {
    list.show();
    for (int round = 0; round < 3; ++round) {
        for (int i = 0; i < 500; ++i) {
            DeviceInfo info = device("10.1." + std::to_string(i / 250) + "." + std::to_string(i % 250 + 1),
                                     80, static_cast<uint32_t>(round * 1000 + i));
            list.slotFindDevice(info);
        }
        ASSERT_EQ(list.rowCount(), 500);
        tick(7);
        ASSERT_NE(list.statusCell(3), nullptr);
        list.setRowStatus(3, DEVICE_STATUS_UPDATE_SUCCESS, 100);
        // The rows of this round only, each with its own record.
        EXPECT_EQ(list.cellData(0, kColumnCheck, kRoleSerialLow).toUInt(), static_cast<uint>(round * 1000));
        EXPECT_EQ(list.getSelectedDevices().size(), 1u);
        list.clearDevices();
        EXPECT_EQ(list.rowCount(), 0);
        EXPECT_TRUE(list.getSelectedDevices().empty());
        QApplication::processEvents();
    }
    list.slotFindDevice(device("10.9.9.9"));
    EXPECT_EQ(list.rowStatus(0), DEVICE_STATUS_IDLE) << "a new row starts idle";
    EXPECT_EQ(list.toolsCell(0)->deviceInfo().ip_addr, "10.9.9.9");
}
