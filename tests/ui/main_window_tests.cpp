// The main window: selection checks and their messages, the navigation row, pages and counters,
// and a panel opened at the right edge whose confirmation reaches the ticked cameras.
#include <RuDAVADO_control.h>

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QTableView>
#include <QTimer>

#include "device_table_widget.h"
#include "edit_device_table_widget.h"
#include "main_window_fixture.h"
#include "message_dialog.h"
#include "nav_button.h"
#include "right_factory_widget.h"
#include "right_reboot_widget.h"
#include "test_device.h"
#include "title_widget.h"
#include "xlsbook/workbook_file.h"

namespace {

const QString kSelectDevice = QStringLiteral("请选择待修改的设备!");
const QString kSelectOne = QStringLiteral("请选择待1台修改的设备!");

}  // namespace

TEST_F(MainWindowTest, EveryPanelEntryButListExportRefusesAnEmptySelection) {
    const std::vector<NavButton*>& buttons = window_->navButtons();
    ASSERT_EQ(buttons.size(), 10u);
    // "ONVIF" is greyed with its "_ban" icon; a click on it does nothing.
    EXPECT_FALSE(buttons[6]->isEnabled());
    EXPECT_FALSE(buttons[6]->getIconDisable().isNull());
    EXPECT_TRUE(modalTexts([&] { buttons[6]->click(); }).isEmpty());
    EXPECT_TRUE(modalTexts([&] { buttons[5]->click(); }).contains(kSelectDevice)) << "校时 asks for cameras";
    // Every entry with a panel, called directly (disabled entries work as well when called).
    void (MainWidget::*entries[])() = {&MainWidget::onUpdateClick,  &MainWidget::onIpcClick,
                                       &MainWidget::onNetworkClick, &MainWidget::onOutputConfigClick,
                                       &MainWidget::onTimeClick,    &MainWidget::onRecoveryClick,
                                       &MainWidget::onRestartClick, &MainWidget::onUserUploadClick};
    for (auto entry : entries) {
        const QString texts = modalTexts([&] { (window_.get()->*entry)(); });
        EXPECT_TRUE(texts.contains(QStringLiteral("提示信息"))) << texts.toStdString();
        EXPECT_TRUE(texts.contains(kSelectDevice)) << texts.toStdString();
    }
    EXPECT_FALSE(modalTexts([&] { window_->onOutputClick(); }).contains(kSelectDevice));
    EXPECT_TRUE(modalTexts([&] { window_->slotEditDevice(); }).contains(kSelectDevice));
    EXPECT_TRUE(modalTexts([&] { window_->slotDelDevice(); }).contains(kSelectDevice));
}

TEST_F(MainWindowTest, ConfigurationExportNeedsExactlyOneTickedDevice) {
    fillSearchList();
    DeviceTableWidgetBase* list = window_->searchList();
    tick(list, {0, 1});
    EXPECT_TRUE(modalTexts([&] { window_->onOutputConfigClick(); }).contains(kSelectOne));
    EXPECT_EQ(statusText(list, 0), QStringLiteral("空闲"));
}

TEST_F(MainWindowTest, PagesAndCountersFollowTheShownList) {
    fillSearchList();
    DeviceTableWidgetBase* search = window_->searchList();
    tick(search, {0, 2, 3});
    window_->slotPage2Clicked();
    EXPECT_EQ(window_->currentPage(), 1);
    EXPECT_TRUE(window_->localPageButton()->isChecked());
    EXPECT_FALSE(window_->searchPageButton()->isChecked());
    EXPECT_EQ(window_->selectedLabel()->text(), "0");
    window_->slotPage1Clicked();
    EXPECT_EQ(window_->selectedLabel()->text(), "3");
    EXPECT_EQ(window_->deviceTotalLabel()->text(), QString::number(search->rowCount()));

    // A refresh shows 0 and 0 until the search list reports again.
    RuDAVADO_SetTiming("discovery_spread", 1e9);
    window_->onRefreshClick();
    EXPECT_EQ(window_->deviceTotalLabel()->text(), "0");
    EXPECT_EQ(window_->selectedLabel()->text(), "0");
}

TEST_F(MainWindowTest, RebootPanelSitsAtTheRightEdgeAndItsConfirmationReachesTheTickedRows) {
    fillSearchList();
    DeviceTableWidgetBase* list = window_->searchList();
    // The login bar as a fresh window fills it in: the cameras' factory password.
    EXPECT_EQ(window_->passwordEdit()->text(), kPassword);
    const int row = rowOf(list, "192.168.1.101");
    tick(list, {row});
    const int boots = [&] {
        RuDAVADO_CameraState state;
        RuDAVADO_GetCameraState(RuDAVADO_FindCamera("192.168.1.101"), &state);
        return state.boots;
    }();

    QRect geometry;
    bool closed_signal = false;
    QTimer poll;
    poll.setInterval(5);
    QObject::connect(&poll, &QTimer::timeout, [&] {
        RightRebootWidget* panel = nullptr;
        for (QWidget* widget : QApplication::topLevelWidgets())
            if (widget->isVisible() && qobject_cast<RightRebootWidget*>(widget))
                panel = qobject_cast<RightRebootWidget*>(widget);
        if (!panel) return;
        poll.stop();
        geometry = panel->geometry();
        QObject::connect(panel, &RightConfigWidget::signalsClose, [&] { closed_signal = true; });
        // The reboot asks first; "是" goes on.
        QTimer answer;
        answer.setInterval(5);
        QObject::connect(&answer, &QTimer::timeout, [&] {
            if (auto* question = qobject_cast<MessageDialog*>(QApplication::activeModalWidget()))
                question->findChild<QPushButton*>("firstButton")->click();
        });
        answer.start();
        panel->findChild<NavButton*>("panelConfirmButton")->click();
        answer.stop();
        // Confirming leaves the panel open; only its header button closes it.
        EXPECT_TRUE(panel->isVisible());
        panel->headerButton()->click();
    });
    poll.start();
    window_->onRestartClick();

    EXPECT_TRUE(closed_signal);
    const int title_height = window_->titleWidget()->height();
    EXPECT_EQ(geometry.size(), QSize(400, window_->height() - title_height));
    EXPECT_EQ(geometry.topLeft(), window_->mapToGlobal(QPoint(window_->width() - 400, title_height)));
    ASSERT_TRUE(waitForStatus(list, row, QStringLiteral("设置成功")));
    EXPECT_TRUE(waitFor([&] {
        RuDAVADO_CameraState state;
        RuDAVADO_GetCameraState(RuDAVADO_FindCamera("192.168.1.101"), &state);
        return state.boots == boots + 1;
    }));
}

TEST(RightFactoryWidget, EmitsPartialByDefaultAndFullOnceChosen) {
    RightFactoryWidget panel;
    panel.setupPanel(400, 800);
    QSignalSpy spy(&panel, &RightFactoryWidget::signalButtonSetupClicked);
    panel.slotButtonSetupClicked();
    panel.fullButton()->click();
    panel.slotButtonSetupClicked();
    panel.slotButtonSetupClicked();
    ASSERT_EQ(spy.count(), 3);
    EXPECT_EQ(spy.at(0).at(0).toInt(), 0);
    EXPECT_EQ(spy.at(1).at(0).toInt(), 1);
    EXPECT_EQ(spy.at(2).at(0).toInt(), 1);
}

TEST_F(MainWindowTest, LocalToolsActOnExactlyOneTickedRow) {
    EditDeviceTableWidget* local = window_->localList();
    local->slotAddDeviceInfo("192.168.1.101", 80, kUser, kPassword);
    local->slotAddDeviceInfo("192.168.1.103", 80, "admin", "Kp@2024");
    window_->slotPage2Clicked();
    tick(local, {0, 1});
    EXPECT_TRUE(modalTexts([&] { window_->slotDelDevice(); }).contains(kSelectOne));
    EXPECT_EQ(local->rowCount(), 2);

    local->setRowCheckState(0, Qt::Unchecked);
    window_->slotDelDevice();
    ASSERT_EQ(local->rowCount(), 1);
    EXPECT_EQ(local->cellText(0, kColumnIp), "192.168.1.101");
}

TEST_F(MainWindowTest, DeviceListExportWritesTheStoredCamerasAndSaysWhenItCannot) {
    EditDeviceTableWidget* local = window_->localList();
    local->slotAddDeviceInfo("192.168.1.101", 80, "admin", "admin");
    local->slotAddDeviceInfo("192.168.1.103", 80, "admin", "Kp@2024");
    const QString copy = dir_.filePath("copy.xls");
    EXPECT_TRUE(modalTexts([&] { window_->onButtonOutputClick(copy); }).isEmpty());
    xlsbook::WorkbookFile book;
    ASSERT_TRUE(book.load(copy.toStdString()));
    ASSERT_NE(book.find_worksheet("sheet_1"), nullptr);
    EXPECT_EQ(book.find_worksheet("sheet_1")->find_cell(2, 0)->get_text(), "192.168.1.103");

    // A folder that does not exist: the export fails, and the user is told.
    EXPECT_TRUE(modalTexts([&] {
                    window_->onButtonOutputClick(dir_.filePath("missing/copy.xls"));
                }).contains(QStringLiteral("导出列表失败!")));
}
