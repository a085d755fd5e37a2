// The window while batches run: closing asks first and never cuts a running upgrade off, a second
// start leaves out the cameras still running, and a reboot or a full restore is confirmed.
#include <RuDAVADO_control.h>

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QTableView>
#include <QTimer>
#include <map>

#include "../report_rows.h"
#include "device_table_widget.h"
#include "kp_platform.h"
#include "main_window_fixture.h"
#include "message_dialog.h"
#include "nav_button.h"
#include "right_factory_widget.h"
#include "right_reboot_widget.h"
#include "right_update_widget.h"
#include "test_device.h"
#include "title_widget.h"

namespace {

const char kNewVersion[] = "3.2.2.0";

// Runs `action`, answers the question it asks with "是" (`yes`) or "否", and returns the
// question's text; empty when none was asked.
QString answerQuestion(const std::function<void()>& action, bool yes) {
    QString text;
    bool answered = false;
    QTimer poll;
    poll.setInterval(5);
    QObject::connect(&poll, &QTimer::timeout, [&] {
        auto* dialog = qobject_cast<MessageDialog*>(QApplication::activeModalWidget());
        if (!dialog || answered) return;
        answered = true;
        text = dialog->findChild<QLabel*>("textLabel")->text();
        dialog->findChild<QPushButton*>(yes ? "firstButton" : "secondButton")->click();
    });
    poll.start();
    action();
    waitFor([&] { return answered; }, 200);
    return text;
}

// Runs `open`, which opens a panel modally, hands the panel to `use` and returns whether it opened.
template <typename Panel>
bool withPanel(const std::function<void()>& open, const std::function<void(Panel*)>& use) {
    bool seen = false;
    QTimer poll;
    poll.setInterval(5);
    QObject::connect(&poll, &QTimer::timeout, [&] {
        auto* panel = qobject_cast<Panel*>(QApplication::activeModalWidget());
        if (!panel || seen) return;
        seen = true;
        use(panel);
    });
    poll.start();
    open();
    return seen;
}

// The texts of the notices shown, wherever they hang; closes them.
QStringList takeNotices() {
    QStringList texts;
    for (QWidget* widget : QApplication::allWidgets())
        if (auto* dialog = qobject_cast<MessageDialog*>(widget); dialog && dialog->isVisible()) {
            texts << dialog->findChild<QLabel*>("textLabel")->text();
            dialog->close();
        }
    return texts;
}

RuDAVADO_CameraState cameraState(const std::string& ip) {
    RuDAVADO_CameraState state{};
    RuDAVADO_GetCameraState(RuDAVADO_FindCamera(ip.c_str()), &state);
    return state;
}

std::string cameraIp(int i) { return "10.0.0." + std::to_string(i + 1); }

enum Column { kAddress = 0, kSteps = 6, kFinal = 7, kVerification = 10 };

}  // namespace

class WindowCloseTest : public MainWindowTest {
protected:
    void SetUp() override {
        MainWindowTest::SetUp();
        QProcess make;
        make.start("/usr/bin/python3", {KP_MAKE_FIRMWARE, dir_.path() + "/firmware"});
        ASSERT_TRUE(make.waitForFinished(60000));
        ASSERT_EQ(make.exitCode(), 0);
        firmware_ = dir_.path() + "/firmware/KP-LPR-V3_" + kNewVersion + ".bin";
    }
    void TearDown() override {
        RuDAVADO_SetTiming("upgrade", -1);
        MainWindowTest::TearDown();
    }

    // `count` cameras of one model, all found and ticked on the search page.
    void tickCameras(int count) {
        std::string json = "{\"cameras\": [";
        for (int i = 0; i < count; ++i)
            json += std::string(i ? "," : "") + "{\"model\": \"KP-LPR-V3\", \"ip\": \"" + cameraIp(i) +
                    "\", \"serial_low\": " + std::to_string(5000 + i) + "}";
        ASSERT_EQ(RuDAVADO_LoadScenarioText((json + "]}").c_str()), 0) << RuDAVADO_LastLoadError();
        // Long enough for a close to come in mid-write.
        ASSERT_EQ(RuDAVADO_SetTiming("upgrade", 1200.0 / kp::timeScale()), 0);
        fillSearchList();
        window_->passwordEdit()->setText(kPassword);
        std::vector<int> rows;
        for (int i = 0; i < count; ++i) rows.push_back(rowOf(window_->searchList(), cameraIp(i)));
        tick(window_->searchList(), rows);
    }
    bool waitForUpgrading(int count) {
        return waitFor([&] {
            int upgrading = 0;
            for (int row = 0; row < window_->searchList()->rowCount(); ++row)
                upgrading += window_->searchList()->rowStatus(row) == DEVICE_STATUS_UPDATING;
            return upgrading == count;
        });
    }
    QStringList reports() const {
        return QDir(dir_.path() + "/reports").entryList({"*.xls"}, QDir::Files, QDir::Name);
    }
    // The report's rows by address, the header left out.
    std::map<std::string, std::vector<std::string>> reportRows(const QString& name) const {
        std::map<std::string, std::vector<std::string>> rows;
        const kptest::ReportRows all =
            kptest::LoadReportRows((dir_.path() + "/reports/" + name).toStdString());
        for (size_t r = 1; r < all.size(); ++r) rows[all[r][kAddress]] = all[r];
        return rows;
    }
    void clickClose() { window_->titleWidget()->findChild<QAbstractButton*>("ButtonClose")->click(); }

    QString firmware_;
};

TEST_F(WindowCloseTest, InsistingOnCloseMidUpgradeWaitsForTheRunningAndGivesEveryCameraItsRow) {
    constexpr int kCameras = 5;
    tickCameras(kCameras);
    window_->startUpgrade(firmware_, batch::Policy{2, 0, 0});
    ASSERT_TRUE(waitForUpgrading(2));

    const QString question = answerQuestion([&] { clickClose(); }, true);
    EXPECT_EQ(question, QStringLiteral("2台设备正在运行，3台尚未开始。\n关闭前将等待运行中的设备完成，\n"
                                       "不再启动新的设备。确定关闭吗？"));
    // The window stays, saying why, until the running upgrades have ended.
    EXPECT_TRUE(window_->isVisible());
    EXPECT_TRUE(window_->closingLabel()->isVisible());
    EXPECT_TRUE(window_->closingLabel()->text().startsWith(QStringLiteral("正在等待升级完成…")))
        << window_->closingLabel()->text().toStdString();
    EXPECT_FALSE(window_->navButtons().front()->isEnabled());
    ASSERT_TRUE(waitFor([&] { return !window_->isVisible(); }));

    // What is on disk the moment the window goes.
    ASSERT_EQ(reports().size(), 1);
    const auto rows = reportRows(reports().front());
    ASSERT_EQ(rows.size(), static_cast<size_t>(kCameras));
    int upgraded = 0;
    for (int i = 0; i < kCameras; ++i) {
        SCOPED_TRACE(cameraIp(i));
        const std::vector<std::string>& row = rows.at(cameraIp(i));
        if (row[kFinal] == "升级成功") {
            ++upgraded;
            EXPECT_EQ(row[kVerification], "verified");
            EXPECT_STREQ(cameraState(cameraIp(i)).firmware, kNewVersion);
        } else {
            EXPECT_EQ(row[kFinal], "未开始");
            EXPECT_NE(row[kSteps].find(batch::kReasonInterrupted), std::string::npos) << row[kSteps];
            EXPECT_STRNE(cameraState(cameraIp(i)).firmware, kNewVersion);
        }
    }
    EXPECT_EQ(upgraded, 2);
}

TEST_F(WindowCloseTest, AnsweringNoKeepsTheBatchGoingAndAClosedBatchClosesAtOnce) {
    constexpr int kCameras = 3;
    tickCameras(kCameras);
    window_->startUpgrade(firmware_, batch::Policy{1, 0, 0});
    ASSERT_TRUE(waitForUpgrading(1));

    EXPECT_TRUE(answerQuestion([&] { clickClose(); }, false)
                    .startsWith(QStringLiteral("1台设备正在运行，2台尚未开始。")));
    EXPECT_TRUE(window_->isVisible());
    EXPECT_FALSE(window_->closingLabel()->isVisible());
    for (int i = 0; i < kCameras; ++i)
        EXPECT_TRUE(waitForStatus(window_->searchList(), rowOf(window_->searchList(), cameraIp(i)),
                                  QStringLiteral("升级成功")));
    ASSERT_TRUE(waitFor([&] { return !window_->stopButton()->isVisible(); }));

    // Nothing runs any more: the window closes without a question.
    EXPECT_TRUE(answerQuestion([&] { clickClose(); }, false).isEmpty());
    EXPECT_FALSE(window_->isVisible());
}

TEST_F(WindowCloseTest, ADoubleClickOnStartUpgradesEachCameraOnceAndSaysHowManyWereSkipped) {
    constexpr int kCameras = 3;
    tickCameras(kCameras);
    DeviceTableWidget* search = window_->searchList();
    // The third camera is ticked only for the second start.
    search->setRowCheckState(rowOf(search, cameraIp(2)), Qt::Unchecked);
    QStringList first, second, third;
    ASSERT_TRUE(withPanel<RightUpdateWidget>([&] { window_->onUpdateClick(); },
                                             [&](RightUpdateWidget* panel) {
                                                 panel->pathEdit()->setText(firmware_);
                                                 panel->startButton()->click();
                                                 first = takeNotices();
                                                 panel->startButton()->click();
                                                 second = takeNotices();
                                                 tick(search, {rowOf(search, cameraIp(2))});
                                                 panel->startButton()->click();
                                                 third = takeNotices();
                                                 panel->close();
                                             }));

    const QStringList skipped_two = {QStringLiteral("已跳过2台正在运行的设备")};
    EXPECT_EQ(first, QStringList());
    EXPECT_EQ(second, skipped_two);
    EXPECT_EQ(third, skipped_two);
    for (int i = 0; i < kCameras; ++i)
        EXPECT_TRUE(waitForStatus(search, rowOf(search, cameraIp(i)), QStringLiteral("升级成功")));
    ASSERT_TRUE(waitFor([&] { return !window_->stopButton()->isVisible(); }));
    // One upgrade, and so one restart, per camera; two batches, the second of the third camera.
    for (int i = 0; i < kCameras; ++i) EXPECT_EQ(cameraState(cameraIp(i)).boots, 1) << cameraIp(i);
    // A report's last save follows the batch's end on the window's disposer.
    size_t rows = 0;
    EXPECT_TRUE(waitFor([&] {
        rows = 0;
        for (const QString& name : reports()) rows += reportRows(name).size();
        return rows == static_cast<size_t>(kCameras);
    })) << rows;
    EXPECT_EQ(reports().size(), 2);
}

TEST_F(WindowCloseTest, RebootAndFullRestoreAskFirstNamingHowManyCameras) {
    struct Case {
        const char* name;
        void (MainWidget::*open)();
        int restore;       // the restore panel's choice; -1 for the reboot panel
        QString question;  // empty: runs without one
    };
    const Case cases[] = {
        {"reboot", &MainWidget::onRestartClick, -1, QStringLiteral("确定重启3台设备吗？")},
        {"full restore", &MainWidget::onRecoveryClick, 1, QStringLiteral("确定将3台设备全部恢复参数吗？")},
        {"partial restore", &MainWidget::onRecoveryClick, 0, QString()},
    };
    tickCameras(3);
    DeviceTableWidget* search = window_->searchList();
    // Confirms the panel of `c`; the question it asks is answered with `yes`.
    auto confirm = [&](const Case& c, bool yes) {
        QString question;
        EXPECT_TRUE(withPanel<RightConfigWidget>(
            [&] { (window_.get()->*c.open)(); },
            [&](RightConfigWidget* panel) {
                question = answerQuestion(
                    [&] {
                        if (auto* restore = qobject_cast<RightFactoryWidget*>(panel)) {
                            (c.restore == 1 ? restore->fullButton() : restore->partButton())
                                ->setChecked(true);
                            restore->slotButtonSetupClicked();
                        } else {
                            qobject_cast<RightRebootWidget*>(panel)->slotButtonSetupClicked();
                        }
                    },
                    yes);
                panel->close();
            }));
        return question;
    };
    for (const Case& c : {cases[0], cases[1]}) {
        SCOPED_TRACE(c.name);
        const QStringList before = reports();
        EXPECT_EQ(confirm(c, false), c.question);
        // "否" touches nothing: no report, no status, no camera.
        EXPECT_EQ(reports(), before);
        EXPECT_FALSE(window_->stopButton()->isVisible());
        for (int i = 0; i < 3; ++i) {
            EXPECT_EQ(statusText(search, rowOf(search, cameraIp(i))), QStringLiteral("空闲"));
            EXPECT_EQ(cameraState(cameraIp(i)).boots, 0);
        }
    }
    // "是" runs it on every ticked camera; a partial restore asks nothing.
    for (const Case& c : {cases[0], cases[2]}) {
        SCOPED_TRACE(c.name);
        const QStringList before = reports();
        EXPECT_EQ(confirm(c, true), c.question);
        EXPECT_NE(reports(), before);
        for (int i = 0; i < 3; ++i)
            EXPECT_TRUE(waitForStatus(search, rowOf(search, cameraIp(i)), QStringLiteral("设置成功")));
        ASSERT_TRUE(waitFor([&] { return !window_->stopButton()->isVisible(); }));
        // The next case logs in again: the restarted cameras have to be back first.
        for (int i = 0; i < 3; ++i)
            EXPECT_TRUE(waitFor([&] { return cameraState(cameraIp(i)).state == RUDAVADO_STATE_ONLINE; }));
    }
}
