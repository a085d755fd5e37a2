// Every batch of the real window writes its report: one row per started camera with the steps
// its row received, the row's final text and, for upgrades and address changes, whether the
// camera was seen running the change.
#include <RuDAVADO_control.h>

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QProcess>
#include <QStringList>
#include <QTimer>
#include <algorithm>
#include <map>
#include <set>

#include "device_table_widget.h"
#include "main_window_fixture.h"
#include "message_dialog.h"
#include "nav_button.h"
#include "right_network_widget.h"
#include "test_device.h"
#include "thread_refusal.h"
#include "update_widget.h"
#include "xlsbook/workbook_file.h"

namespace {

using Row = std::vector<std::string>;
enum Column {
    kAddress = 0,
    kOperation = 2,
    kSteps = 6,
    kFinal = 7,
    kBefore = 8,
    kAfter = 9,
    kVerification = 10
};

// The report's rows after its header, keyed by address; empty while the file cannot be read.
std::map<std::string, Row> ReportRows(const QString& path) {
    std::map<std::string, Row> rows;
    xlsbook::WorkbookFile book;
    if (!book.load(path.toStdString()) || book.worksheet_count() != 1) return rows;
    xlsbook::WorksheetView* sheet = book.worksheet(0);
    for (size_t r = 1; r < sheet->total_rows(); ++r) {
        Row row(11);
        for (size_t c = 0; c < row.size(); ++c) {
            const xlsbook::CellValue* cell = sheet->find_cell(r, c);
            if (!cell) continue;
            const std::u16string wide = cell->get_wide_text();
            row[c] = cell->kind() == xlsbook::CellValue::kWideString
                         ? QString::fromUtf16(wide.data(), static_cast<int>(wide.size())).toStdString()
                         : cell->get_text();
        }
        rows[row[kAddress]] = row;
    }
    return rows;
}

RuDAVADO_CameraState cameraState(int camera) {
    RuDAVADO_CameraState state{};
    RuDAVADO_GetCameraState(camera, &state);
    return state;
}

std::string cameraIp(int i) { return "10.0.0." + std::to_string(i + 1); }

}  // namespace

class BatchReportWindowTest : public MainWindowTest {
protected:
    QStringList reports() const {
        return QDir(dir_.path() + "/reports").entryList({"*.xls"}, QDir::Files, QDir::Name);
    }
    // The report a batch made (the one file that was not there before), once it holds `count`
    // cameras.
    std::map<std::string, Row> waitForReport(const QStringList& before, size_t count) {
        std::map<std::string, Row> rows;
        QString made;
        waitFor([&] {
            for (const QString& name : reports())
                if (!before.contains(name)) made = dir_.path() + "/reports/" + name;
            if (made.isEmpty()) return false;
            rows = ReportRows(made);
            return rows.size() == count;
        });
        EXPECT_EQ(rows.size(), count) << made.toStdString();
        return rows;
    }
};

TEST_F(BatchReportWindowTest, FiftyCamerasWithFailuresGiveOneRowEachAndTheFailedOnesCanBeRetried) {
    constexpr int kCameras = 50;
    const std::set<int> refused_time = {5, 6}, powered_off = {10}, wrong_password = {20};
    std::string json = "{\"cameras\": [";
    for (int i = 0; i < kCameras; ++i) {
        json += std::string(i ? "," : "") + "{\"model\": \"KP-LPR-V3\", \"ip\": \"" + cameraIp(i) +
                "\", \"serial_low\": " + std::to_string(7000 + i) +
                (wrong_password.count(i) ? ", \"password\": \"other\"" : "") + "}";
    }
    ASSERT_EQ(RuDAVADO_LoadScenarioText((json + "]}").c_str()), 0) << RuDAVADO_LastLoadError();
    fillSearchList();
    window_->passwordEdit()->setText(kPassword);
    for (int i : refused_time) ASSERT_EQ(RuDAVADO_FailNext("KpLPRClient_SetDateTime", i, 1), 0);
    for (int i : powered_off) ASSERT_EQ(RuDAVADO_SetPower(i, 0), 0);
    DeviceTableWidget* search = window_->searchList();
    std::vector<int> rows;
    for (int i = 0; i < kCameras; ++i) rows.push_back(rowOf(search, cameraIp(i)));
    tick(search, rows);

    QStringList before = reports();
    window_->onButtonTimeClicked();
    std::map<std::string, Row> report = waitForReport(before, kCameras);
    std::set<std::string> failed;
    for (int i = 0; i < kCameras; ++i) {
        const std::string ip = cameraIp(i);
        SCOPED_TRACE(ip);
        ASSERT_EQ(report.count(ip), 1u);
        const Row& row = report[ip];
        // The report holds what the row shows.
        ASSERT_TRUE(waitForStatus(search, rowOf(search, ip), QString::fromStdString(row[kFinal])));
        EXPECT_EQ(row[kOperation], "time");
        EXPECT_EQ(row[1], QString::asprintf("%08x-%08x", cameraState(i).serial_high, 7000 + i).toStdString());
        EXPECT_EQ(row[kVerification], "");
        if (refused_time.count(i)) {
            EXPECT_EQ(row[kSteps], "开始时间检查 | 设备登陆成功 设备型号 | ✗ 时间设置失败");
        } else if (powered_off.count(i) || wrong_password.count(i)) {
            EXPECT_EQ(row[kSteps], "开始时间检查 | ✗ 设备登陆失败");
        } else {
            EXPECT_EQ(row[kSteps], "开始时间检查 | 设备登陆成功 设备型号 | 时间设置成功 | 完成");
            EXPECT_EQ(row[kFinal], "设置成功");
            continue;
        }
        EXPECT_EQ(row[kFinal], "设置失败");
        failed.insert(ip);
    }
    ASSERT_EQ(failed.size(), 4u);

    // Show the failed rows, tick all: only they go again.
    RuDAVADO_ClearFaults();
    for (int i : powered_off) ASSERT_EQ(RuDAVADO_SetPower(i, 1), 0);
    ASSERT_TRUE(waitFor([&] { return cameraState(*powered_off.begin()).state == RUDAVADO_STATE_ONLINE; }));
    QAction* failures = nullptr;
    for (QAction* action : search->statusMenu()->actions())
        if (action->text() == QStringLiteral("设置失败")) failures = action;
    ASSERT_TRUE(failures);
    failures->trigger();
    search->checkAll();
    std::set<std::string> chosen;
    for (const DeviceInfo& device : search->getSelectedDevices()) chosen.insert(device.ip_addr);
    EXPECT_EQ(chosen, failed);

    before = reports();
    window_->onButtonTimeClicked();
    report = waitForReport(before, failed.size());
    for (const std::string& ip : failed) {
        ASSERT_EQ(report.count(ip), 1u) << ip;
        EXPECT_EQ(report[ip][kFinal], ip == cameraIp(*wrong_password.begin()) ? "设置失败" : "设置成功")
            << ip;
    }
}

TEST_F(BatchReportWindowTest, AnUpgradedCameraThatStillRunsTheOldVersionIsNotVerified) {
    QProcess make;
    make.start("/usr/bin/python3", {KP_MAKE_FIRMWARE, dir_.path() + "/firmware"});
    ASSERT_TRUE(make.waitForFinished(60000));
    ASSERT_EQ(make.exitCode(), 0);
    fillSearchList();
    window_->passwordEdit()->setText(kPassword);
    DeviceTableWidget* search = window_->searchList();
    const std::string good = "192.168.1.100", stale = "192.168.1.101";
    const std::string old_version = cameraState(RuDAVADO_FindCamera(stale.c_str())).firmware;
    // The restart that would start the new image is refused; the upgrade still ends in "完成".
    ASSERT_EQ(RuDAVADO_FailNext("KpLPRClient_RebootDevice", RuDAVADO_FindCamera(stale.c_str()), 1), 0);
    tick(search, {rowOf(search, good), rowOf(search, stale)});
    UpdateWidget* cells[] = {search->statusCell(rowOf(search, good)),
                             search->statusCell(rowOf(search, stale))};

    const QStringList before = reports();
    window_->onButtonUpdateClicked(dir_.path() + "/firmware/KP-LPR-V3_3.2.2.0.bin");
    std::map<std::string, Row> report = waitForReport(before, 2);
    // The camera that still runs the old version failed, on its row as in the report.
    EXPECT_TRUE(waitFor([&] { return cells[0]->statusLabel()->text() == QStringLiteral("升级成功"); }));
    EXPECT_TRUE(waitFor([&] { return cells[1]->statusLabel()->text() == QStringLiteral("升级失败"); }));
    EXPECT_EQ(report[good][kFinal], "升级成功");
    EXPECT_EQ(report[good][kBefore], old_version);
    EXPECT_EQ(report[good][kAfter], "3.2.2.0");
    EXPECT_EQ(report[good][kVerification], "verified");
    EXPECT_EQ(report[stale][kFinal], "升级失败");
    EXPECT_EQ(report[stale][kAfter], old_version);
    EXPECT_EQ(report[stale][kVerification], "not verified: runs " + old_version + " instead of 3.2.2.0");
    EXPECT_NE(report[stale][kSteps].find("完成"), std::string::npos) << report[stale][kSteps];
    // The row says it too, in its own language.
    EXPECT_EQ(search->rowReason(rowOf(search, stale)),
              QStringLiteral("未验证: 运行 %1 而非 3.2.2.0").arg(QString::fromStdString(old_version)));
    EXPECT_EQ(search->rowReason(rowOf(search, good)), QString());
}

TEST_F(BatchReportWindowTest, EachCameraOfAnAddressChangeGetsItsOwnAddressAsThePanelShowed) {
    fillSearchList();
    window_->passwordEdit()->setText(kPassword);
    DeviceTableWidget* search = window_->searchList();
    const std::vector<std::string> ips = {"192.168.1.100", "192.168.1.101", "192.168.1.106"};
    tick(search, {rowOf(search, ips[0]), rowOf(search, ips[1]), rowOf(search, ips[2])});

    // The panel shows what each camera will get before anything is sent.
    QString preview, tooltip, warning;
    QTimer poll;
    poll.setInterval(5);
    QObject::connect(&poll, &QTimer::timeout, [&] {
        auto* panel = qobject_cast<RightNetworkWidget*>(QApplication::activeModalWidget());
        if (!panel) return;
        poll.stop();
        panel->ipEdit()->setText("192.168.3.254");
        panel->maskEdit()->setText("255.255.255.0");
        warning = panel->warningLabel()->text();
        panel->ipEdit()->setText("192.168.3.50");
        panel->maskEdit()->setText("255.255.0.0");
        panel->gatewayEdit()->setText("192.168.0.1");
        preview = panel->previewLabel()->text();
        tooltip = panel->previewLabel()->toolTip();
        panel->confirmButton()->click();
        panel->headerButton()->click();
    });
    poll.start();
    const QStringList before = reports();
    window_->onNetworkClick();
    EXPECT_EQ(warning, QStringLiteral("注意: 192.168.3.255 是子网的广播地址"));
    EXPECT_EQ(preview, QStringLiteral("将分配 3 台设备:\n192.168.3.50 – 192.168.3.52"));
    EXPECT_TRUE(tooltip.contains(QStringLiteral("192.168.1.106 → 192.168.3.52"))) << tooltip.toStdString();

    std::map<std::string, Row> report = waitForReport(before, ips.size());
    for (size_t i = 0; i < ips.size(); ++i) {
        const Row& row = report[ips[i]];
        EXPECT_EQ(row[kFinal], "设置成功") << ips[i];
        EXPECT_EQ(row[3], "ip=192.168.3." + std::to_string(50 + i) + " mask=255.255.0.0 gateway=192.168.0.1");
        EXPECT_EQ(row[kVerification], "verified") << ips[i];
        EXPECT_STREQ(cameraState(RuDAVADO_FindCamera(("192.168.3." + std::to_string(50 + i)).c_str())).ip,
                     ("192.168.3." + std::to_string(50 + i)).c_str());
    }
}

TEST_F(BatchReportWindowTest, AFailedRowSaysWhyAsItsReportDoesUntilItsNextStatus) {
    QProcess make;
    make.start("/usr/bin/python3", {KP_MAKE_FIRMWARE, dir_.path() + "/firmware"});
    ASSERT_TRUE(make.waitForFinished(60000));
    ASSERT_EQ(make.exitCode(), 0);
    fillSearchList();
    window_->passwordEdit()->setText(kPassword);
    DeviceTableWidget* search = window_->searchList();
    // .103 has another password; .110 is a face camera, which takes no plate camera's package.
    const std::string good = "192.168.1.100", refused = "192.168.1.103", foreign = "192.168.1.110";
    tick(search, {rowOf(search, good), rowOf(search, refused), rowOf(search, foreign)});
    // One cell made before the batch, the others only when looked at after it.
    UpdateWidget* early = search->statusCell(rowOf(search, foreign));

    const QStringList before = reports();
    window_->onButtonUpdateClicked(dir_.path() + "/firmware/KP-LPR-V3_3.2.2.0.bin");
    std::map<std::string, Row> report = waitForReport(before, 3);
    std::set<QString> reasons;
    for (const std::string& ip : {refused, foreign}) {
        SCOPED_TRACE(ip);
        ASSERT_TRUE(
            waitFor([&] { return statusText(search, rowOf(search, ip)) == QStringLiteral("升级失败"); }));
        const int row = rowOf(search, ip);
        const std::string& steps = report[ip][kSteps];
        const size_t failed = steps.rfind("✗ ");
        ASSERT_NE(failed, std::string::npos) << steps;
        const QString reason = QString::fromStdString(steps.substr(failed + std::string("✗ ").size()));
        EXPECT_EQ(search->rowReason(row), reason);
        UpdateWidget* cell = search->statusCell(row);
        EXPECT_EQ(cell->reason(), reason);
        EXPECT_TRUE(cell->reasonLabel()->isVisibleTo(cell));
        EXPECT_EQ(cell->toolTip(), QStringLiteral("升级失败：") + reason);
        reasons.insert(reason);
    }
    EXPECT_EQ(reasons.size(), 2u);
    EXPECT_TRUE(waitForStatus(search, rowOf(search, good), QStringLiteral("升级成功")));
    EXPECT_EQ(search->rowReason(rowOf(search, good)), QString());

    // The next batch's status replaces the old failure and its reason.
    search->clearAll();
    tick(search, {rowOf(search, foreign)});
    window_->onButtonTimeClicked();
    // The upgraded camera's restart may add rows above: follow the cell, not a row number.
    EXPECT_TRUE(waitFor([&] { return early->statusLabel()->text() == QStringLiteral("设置成功"); }))
        << early->statusLabel()->text().toStdString();
    EXPECT_EQ(search->rowReason(rowOf(search, foreign)), QString());
    EXPECT_EQ(early->reason(), QString());
    EXPECT_TRUE(early->toolTip().isEmpty());
}

TEST_F(BatchReportWindowTest, ABatchWhoseReportCannotBeWrittenStillRuns) {
    // A file where the reports folder should be.
    QFile blocker(dir_.path() + "/reports");
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    fillSearchList();
    window_->passwordEdit()->setText(kPassword);
    DeviceTableWidget* search = window_->searchList();
    const int row = rowOf(search, "192.168.1.100");
    tick(search, {row});
    window_->onButtonTimeClicked();
    EXPECT_TRUE(waitForStatus(search, row, QStringLiteral("设置成功")));
    // The window says so; the batch did not wait for the message to be closed.
    MessageDialog* notice = nullptr;
    EXPECT_TRUE(waitFor([&] {
        for (MessageDialog* dialog : window_->findChildren<MessageDialog*>())
            if (dialog->isVisible() && dialog->findChild<QLabel*>("textLabel")->text() ==
                                           QString::fromUtf8(MainWidget::kReportFailed))
                notice = dialog;
        return notice != nullptr;
    }));
    if (notice) notice->close();
}

TEST_F(BatchReportWindowTest, StopMidUpgradeOfTwoHundredFinishesTheRunningStartsNoneAndReportsEveryCamera) {
    constexpr int kCameras = 200;
    QProcess make;
    make.start("/usr/bin/python3", {KP_MAKE_FIRMWARE, dir_.path() + "/firmware"});
    ASSERT_TRUE(make.waitForFinished(60000));
    ASSERT_EQ(make.exitCode(), 0);
    std::string json = "{\"cameras\": [";
    for (int i = 0; i < kCameras; ++i) {
        json += std::string(i ? "," : "") + "{\"model\": \"KP-LPR-V3\", \"ip\": \"" + cameraIp(i) +
                "\", \"serial_low\": " + std::to_string(9000 + i) + "}";
    }
    ASSERT_EQ(RuDAVADO_LoadScenarioText((json + "]}").c_str()), 0) << RuDAVADO_LastLoadError();
    fillSearchList();
    window_->passwordEdit()->setText(kPassword);
    DeviceTableWidget* search = window_->searchList();
    std::vector<int> rows;
    for (int i = 0; i < kCameras; ++i) rows.push_back(rowOf(search, cameraIp(i)));
    tick(search, rows);

    const QStringList before = reports();
    EXPECT_FALSE(window_->stopButton()->isVisible());
    window_->startUpgrade(dir_.path() + "/firmware/KP-LPR-V3_3.2.2.0.bin", batch::Policy{16, 0, 0});
    EXPECT_TRUE(window_->stopButton()->isVisible());
    ASSERT_TRUE(waitFor([&] {
        for (int row : rows)
            if (search->rowStatus(row) == DEVICE_STATUS_UPDATING) return true;
        return false;
    }));
    window_->stopButton()->click();
    std::map<std::string, Row> report = waitForReport(before, kCameras);
    ASSERT_TRUE(waitFor([&] { return !window_->stopButton()->isVisible(); }));

    int upgraded = 0;
    for (int i = 0; i < kCameras; ++i) {
        const std::string ip = cameraIp(i);
        SCOPED_TRACE(ip);
        const Row& row = report[ip];
        EXPECT_TRUE(waitForStatus(search, rowOf(search, ip), QString::fromStdString(row[kFinal])));
        for (int column : {kOperation, kFinal, kSteps}) EXPECT_FALSE(row[column].empty()) << column;
        if (row[kFinal] == "未开始") {
            EXPECT_NE(row[kSteps].find("已停止"), std::string::npos) << row[kSteps];
            EXPECT_STRNE(cameraState(i).firmware, "3.2.2.0");
            continue;
        }
        // Never cut off mid-write.
        ++upgraded;
        EXPECT_EQ(row[kFinal], "升级成功");
        EXPECT_EQ(row[kVerification], "verified");
    }
    EXPECT_GE(upgraded, 1);
    EXPECT_LT(upgraded, kCameras);
}

TEST_F(BatchReportWindowTest, ABatchWhoseReportWriterThreadIsRefusedStillRuns) {
    fillSearchList();
    window_->passwordEdit()->setText(kPassword);
    DeviceTableWidget* search = window_->searchList();
    const int row = rowOf(search, "192.168.1.100");
    tick(search, {row});
    const QStringList before = reports();
    {
        // The batch's first thread is its report's writer; the cameras' threads start after it.
        test::ThreadRefusal refuse(0, 1);
        window_->onButtonTimeClicked();
    }
    EXPECT_TRUE(waitForStatus(search, row, QStringLiteral("设置成功")));
    EXPECT_EQ(before, reports());
}
