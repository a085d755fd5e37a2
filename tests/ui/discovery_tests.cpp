// Discovery hand-off: reports emitted on a foreign thread become rows on the user-interface
// thread, and nothing of a stopped search reaches the list.
#include <RuDAVADO.h>
#include <RuDAVADO_control.h>
#include <gtest/gtest.h>
#include <kp_platform.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTableView>
#include <QThread>
#include <algorithm>
#include <atomic>
#include <functional>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "device_table_widget.h"
#include "sdkbase.h"
#include "test_device.h"
#include "ui_test_support.h"

namespace {

void pumpEvents(int ms) {
    QElapsedTimer timer;
    timer.start();
    do {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QThread::msleep(1);
    } while (timer.elapsed() < ms);
}

std::vector<std::string> tableIps(const DeviceTableWidgetBase* table) {
    std::vector<std::string> ips;
    for (int row = 0; row < table->rowCount(); ++row)
        ips.push_back(table->cellText(row, kColumnIp).toStdString());
    return ips;
}

// The addresses discovery should report: every camera that is on.
std::multiset<std::string> onlineCameraIps() {
    std::multiset<std::string> ips;
    for (int i = 0; i < RuDAVADO_CameraCount(); ++i) {
        RuDAVADO_CameraState state;
        if (RuDAVADO_GetCameraState(i, &state) == 0 && state.state == RUDAVADO_STATE_ONLINE)
            ips.insert(state.ip);
    }
    return ips;
}

int rowsWithPrefix(const DeviceTableWidgetBase* table, const QString& prefix) {
    int count = 0;
    for (int row = 0; row < table->rowCount(); ++row)
        if (table->cellText(row, kColumnIp).startsWith(prefix)) ++count;
    return count;
}

}  // namespace

// Reports use addresses from a documentation range that no simulated camera has.
TEST(DiscoveryHandOff, ReportsQueuedBeforeAStopNeverReachTheList) {
    DeviceTableWidget list(nullptr, std::make_shared<UiJobQueue>());
    DeviceTableWidgetBase* table = &list;

    list.StartFindDevice();
    std::thread library_thread([&] {
        for (int i = 0; i < 40; ++i) list.OnFindDevice(device("203.0.113." + std::to_string(i)));
    });
    library_thread.join();
    // Other work queued for the list among the reports belongs to no search.
    int other_calls = 0;
    QMetaObject::invokeMethod(
        &list, [&] { ++other_calls; }, Qt::QueuedConnection);
    // All 40 reports wait in the event queue; the user refreshes before they are delivered.
    list.StopFindDevice();
    EXPECT_EQ(table->rowCount(), 0);
    pumpEvents(20);
    EXPECT_EQ(rowsWithPrefix(table, "203.0.113."), 0);
    EXPECT_EQ(other_calls, 1);

    list.StartFindDevice();
    pumpEvents(20);
    EXPECT_EQ(rowsWithPrefix(table, "203.0.113."), 0);
    list.StopFindDevice();
}

TEST(DiscoveryHandOff, ASecondStartDoesNotDoubleReports) {
    DeviceTableWidget list(nullptr, std::make_shared<UiJobQueue>());
    list.StartFindDevice();
    list.StartFindDevice();
    std::thread library_thread([&] { list.OnFindDevice(device("203.0.113.7")); });
    library_thread.join();
    pumpEvents(20);
    EXPECT_EQ(rowsWithPrefix(&list, "203.0.113."), 1);
    list.StopFindDevice();
    EXPECT_EQ(list.rowCount(), 0);
}

TEST(DiscoveryHandOff, ABacklogOfReportsIsInsertedCompletelyAndInOrder) {
    DeviceTableWidget list(nullptr, std::make_shared<UiJobQueue>());
    DeviceTableWidgetBase* table = &list;
    list.resize(1000, 400);
    list.show();
    list.StartFindDevice();

    // 300 reports at once, in descending order, the last ten repeating an address.
    std::thread library_thread([&] {
        for (int i = 299; i >= 0; --i) {
            DeviceInfo info = device("203.0.113." + std::to_string(i < 290 ? i : 7));
            info.serial_low = static_cast<uint32_t>(1000 + i);
            list.OnFindDevice(info);
        }
    });
    library_thread.join();
    // The library may be running too (when its tests ran first); its cameras mix in.
    ASSERT_TRUE(waitFor([&] { return rowsWithPrefix(table, "203.0.113.") == 300; }, 20000))
        << table->rowCount();
    pumpEvents(20);
    ASSERT_EQ(rowsWithPrefix(table, "203.0.113."), 300);
    for (int row = 1; row < table->rowCount(); ++row)
        ASSERT_FALSE(DeviceTableWidget::ipLessThan(table->cellText(row, kColumnIp),
                                                   table->cellText(row - 1, kColumnIp)))
            << row;
    // 203.0.113.7 came ten times first (serials 1299 down to 1290), then once more (1007).
    int row = -1;
    ASSERT_TRUE(list.findRowByIp("203.0.113.7", row));
    for (int k = 0; k < 10; ++k)
        EXPECT_EQ(table->cellData(row + k, kColumnCheck, kRoleSerialLow).toUInt(),
                  static_cast<uint32_t>(1299 - k))
            << k;
    EXPECT_EQ(table->cellData(row + 10, kColumnCheck, kRoleSerialLow).toUInt(), 1007u);
    EXPECT_EQ(table->cellText(row + 11, kColumnIp), "203.0.113.8");

    // A stop in the middle of a backlog leaves nothing behind.
    library_thread = std::thread([&] {
        for (int i = 0; i < 200; ++i) list.OnFindDevice(device("198.51.100." + std::to_string(i)));
    });
    library_thread.join();
    QCoreApplication::processEvents();
    list.StopFindDevice();
    EXPECT_EQ(table->rowCount(), 0);
    pumpEvents(50);
    EXPECT_EQ(table->rowCount(), 0);
}

// Against the simulated cameras of the default scenario.
class LanDiscoveryTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { ASSERT_EQ(KpLPRClient_Setup(), 0); }

    void SetUp() override {
        ASSERT_EQ(RuDAVADO_LoadDefaultScenario(), 0);
        expected = onlineCameraIps();
        ASSERT_GT(expected.size(), 5u);
    }

    void TearDown() override {
        list.StopFindDevice();
        RuDAVADO_SetTiming("discovery_spread", -1);
    }

    bool waitForAll() {
        return waitFor([&] { return table->rowCount() >= int(expected.size()); }, 10000);
    }

    DeviceTableWidget list{nullptr, std::make_shared<UiJobQueue>()};
    DeviceTableWidgetBase* table = &list;
    std::multiset<std::string> expected;
};

TEST_F(LanDiscoveryTest, ReportsFromTheLibraryThreadBecomeOrderedRowsOnTheUiThread) {
    std::mutex mutex;
    std::set<std::thread::id> report_threads;
    std::set<std::thread::id> row_threads;
    QObject::connect(
        &list, &DeviceTableWidget::signalsFindDevice, &list,
        [&](DeviceInfo) {
            std::lock_guard<std::mutex> lock(mutex);
            report_threads.insert(std::this_thread::get_id());
        },
        Qt::DirectConnection);
    QObject::connect(&list, &DeviceTableWidgetBase::signalsDeviceNumChange, &list,
                     [&](int) { row_threads.insert(std::this_thread::get_id()); });

    list.StartFindDevice();
    ASSERT_TRUE(waitForAll()) << table->rowCount() << " of " << expected.size();
    pumpEvents(30);  // nothing beyond one report per camera

    const std::vector<std::string> ips = tableIps(table);
    EXPECT_EQ(std::multiset<std::string>(ips.begin(), ips.end()), expected);
    for (size_t i = 1; i < ips.size(); ++i)
        EXPECT_FALSE(
            DeviceTableWidget::ipLessThan(QString::fromStdString(ips[i]), QString::fromStdString(ips[i - 1])))
            << ips[i - 1] << " before " << ips[i];

    {
        std::lock_guard<std::mutex> lock(mutex);
        ASSERT_FALSE(report_threads.empty());
        EXPECT_EQ(report_threads.count(std::this_thread::get_id()), 0u);
    }
    EXPECT_EQ(row_threads, std::set<std::thread::id>{std::this_thread::get_id()});

    // An extended report fills firmware, MAC and start-up time; a basic one leaves all three
    // empty and the lens 0. The older model only ever answers with the basic report (a newer
    // one may too when it answers before the extended search is registered).
    int extended_rows = 0;
    for (int r = 0; r < table->rowCount(); ++r) {
        const bool firmware = !table->cellText(r, kColumnFirmware).isEmpty();
        EXPECT_EQ(firmware, !table->cellText(r, kColumnMac).isEmpty()) << r;
        EXPECT_EQ(firmware, !table->cellText(r, kColumnBootTime).isEmpty()) << r;
        if (firmware)
            ++extended_rows;
        else
            EXPECT_EQ(table->cellText(r, kColumnLensOrLogin), "0") << r;
    }
    EXPECT_GT(extended_rows, 0);
    int row = -1;
    ASSERT_TRUE(list.findRowByIp("192.168.1.105", row));
    EXPECT_TRUE(table->cellText(row, kColumnFirmware).isEmpty());
    ASSERT_TRUE(list.findRowByIp("192.168.1.102", row));
    EXPECT_EQ(table->cellText(row, kColumnPort), "8080");
    EXPECT_FALSE(list.findRowByIp("192.168.1.104", row));  // switched off
}

TEST_F(LanDiscoveryTest, CamerasThatAnswerAtOnceAreListedOnce) {
    // Without a spread the first replies come while StartFindDevice is still running, between
    // the registrations of the two searches.
    ASSERT_EQ(RuDAVADO_SetTiming("discovery_spread", 0), 0);
    for (int round = 0; round < 5; ++round) {
        list.StopFindDevice();
        list.StartFindDevice();
        ASSERT_TRUE(waitForAll()) << "round " << round << ": " << table->rowCount() << " of "
                                  << expected.size();
        pumpEvents(20);
        const std::vector<std::string> ips = tableIps(table);
        ASSERT_EQ(std::multiset<std::string>(ips.begin(), ips.end()), expected) << "round " << round;
    }
}

TEST_F(LanDiscoveryTest, AFailedRegistrationIsLoggedAndTheOtherSearchStillLists) {
    CapturedLog log;
    ASSERT_EQ(RuDAVADO_FailNext("KPLPRClient_StartFindDeviceEx", -1, 1), 0);
    list.StartFindDevice();
    // Only the basic search failed: every camera with the extended report is listed, the
    // older model (basic report only) is not.
    expected.erase("192.168.1.105");
    ASSERT_TRUE(waitForAll()) << table->rowCount() << " of " << expected.size();
    pumpEvents(30);
    RuDAVADO_ClearFaults();

    const std::vector<std::string> ips = tableIps(table);
    EXPECT_EQ(std::multiset<std::string>(ips.begin(), ips.end()), expected);
    EXPECT_GE(log.count("KPLPRClient_StartFindDeviceEx false: -1"), 1);
}

TEST_F(LanDiscoveryTest, RefreshEmptiesAndRebuildsTheList) {
    list.StartFindDevice();
    ASSERT_TRUE(waitForAll());

    table->setRowCheckState(0, Qt::Checked);
    QSignalSpy counts(&list, &DeviceTableWidgetBase::signalsSelectedChange);
    list.StopFindDevice();
    EXPECT_EQ(table->rowCount(), 0);
    ASSERT_FALSE(counts.isEmpty());
    EXPECT_EQ(counts.last()[0].toInt(), 0);
    list.StartFindDevice();
    EXPECT_EQ(table->rowCount(), 0);
    ASSERT_TRUE(waitForAll());
    pumpEvents(30);
    const std::vector<std::string> ips = tableIps(table);
    EXPECT_EQ(std::multiset<std::string>(ips.begin(), ips.end()), expected);
}

TEST_F(LanDiscoveryTest, NoReportReachesTheListAfterStopWhileReportsFlow) {
    // Spread the replies of each search over 30 ms so that every stop cuts into a flowing
    // search (the library scales its timings by the process time scale).
    ASSERT_EQ(RuDAVADO_SetTiming("discovery_spread", 30.0 / kp::timeScale()), 0);
    for (int round = 0; round < 60; ++round) {
        list.StartFindDevice();
        pumpEvents(round % 5);
        list.StopFindDevice();
        ASSERT_EQ(table->rowCount(), 0) << "round " << round;
        // A report of the stopped search must not arrive later either.
        QCoreApplication::processEvents();
        ASSERT_EQ(table->rowCount(), 0) << "round " << round;
    }
    pumpEvents(50);
    EXPECT_EQ(table->rowCount(), 0);

    // The search after the loop holds each camera exactly once.
    list.StartFindDevice();
    ASSERT_TRUE(waitForAll()) << table->rowCount() << " of " << expected.size();
    pumpEvents(60);
    const std::vector<std::string> ips = tableIps(table);
    EXPECT_EQ(std::multiset<std::string>(ips.begin(), ips.end()), expected);
}

TEST_F(LanDiscoveryTest, TheWrapperStopEndsBothSearches) {
    std::atomic<int> reports{0};
    QObject::connect(
        &list, &DeviceTableWidget::signalsFindDevice, &list, [&](DeviceInfo) { ++reports; },
        Qt::DirectConnection);
    ASSERT_EQ(RuDAVADO_SetTiming("discovery_spread", 30.0 / kp::timeScale()),
              0);  // still answering at the stop
    list.StartFindDevice();
    ASSERT_TRUE(waitFor([&] { return reports > 0; }, 10000));
    EXPECT_TRUE(factory::SDK_StopFindDevice());
    const int stopped_at = reports;
    pumpEvents(30);
    EXPECT_EQ(reports, stopped_at);
}
