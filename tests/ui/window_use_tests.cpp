// The window as a technician uses it: its size on a small screen, maximise and restore on the
// frameless window, counters and the status filter, the time entry, adding found cameras to the
// local list, the list exports, the row buttons' hover and their failure message, the toolkit's
// language.
#include <RuDAVADO_control.h>
#include <kp_platform.h>

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QScreen>
#include <QTableView>
#include <QTest>
#include <QTimer>
#include <QTranslator>
#include <QWindow>

#include "btn_tools_widget.h"
#include "device_dialog.h"
#include "device_table_widget.h"
#include "edit_device_table_widget.h"
#include "main_window_fixture.h"
#include "message_dialog.h"
#include "nav_button.h"
#include "push_button.h"
#include "right_device_list_widget.h"
#include "right_reboot_widget.h"
#include "right_time_widget.h"
#include "style_sheet.h"
#include "test_device.h"
#include "title_widget.h"
#include "toolkit_translation.h"
#include "xlsbook/workbook_file.h"

namespace {

// Runs `action`, which opens a modal widget of type T; `use` acts on it once it is shown.
template <typename T>
bool whileOpen(const std::function<void()>& action, const std::function<void(T*)>& use) {
    bool seen = false;
    QTimer poll;
    poll.setInterval(5);
    QObject::connect(&poll, &QTimer::timeout, [&] {
        for (QWidget* widget : QApplication::topLevelWidgets()) {
            T* found = qobject_cast<T*>(widget);
            if (!found || !found->isVisible() || seen) continue;
            seen = true;
            poll.stop();
            use(found);
            return;
        }
    });
    poll.start();
    action();
    return seen;
}

QRect availableArea(QWidget* window) { return window->windowHandle()->screen()->availableGeometry(); }

}  // namespace

TEST(WindowGeometry, KeepsItsSizeWhereItFitsAndTheAvailableAreaOtherwise) {
    struct Case {
        QRect available;
        QRect expected;
    } cases[] = {
        {QRect(0, 0, 1920, 1040), QRect(260, 95, 1400, 850)},
        {QRect(0, 0, 1400, 850), QRect(0, 0, 1400, 850)},
        // A laptop with a task bar at the bottom, and one at the left.
        {QRect(0, 0, 1366, 728), QRect(0, 0, 1366, 728)},
        {QRect(60, 0, 1306, 768), QRect(60, 0, 1306, 768)},
        // Wide but low: only the height is cut.
        {QRect(100, 50, 2560, 700), QRect(680, 50, 1400, 700)},
    };
    for (const Case& c : cases)
        EXPECT_EQ(MainWidget::fitWindowGeometry(QSize(1400, 850), c.available), c.expected)
            << c.available.width();
}

TEST_F(MainWindowTest, WindowFitsItsScreenAndMaximisesAndRestoresFromTheTitleBar) {
    ASSERT_TRUE(waitFor([&] { return window_->windowHandle() && window_->isVisible(); }));
    const QRect available = availableArea(window_.get());
    const QRect normal = window_->geometry();
    EXPECT_TRUE(available.contains(window_->frameGeometry())) << normal.width() << "x" << normal.height();
    TitleWidget* title = window_->titleWidget();
    const QRect close_button(title->buttonClose()->mapToGlobal(QPoint(0, 0)), title->buttonClose()->size());
    EXPECT_TRUE(available.contains(close_button));

    // The maximise button fills the available area exactly; restore brings the window back.
    title->buttonMax()->click();
    ASSERT_TRUE(waitFor([&] { return window_->geometry() == available; }, 2000)) << window_->geometry().x();
    EXPECT_TRUE(title->buttonMax()->isHidden());
    EXPECT_FALSE(title->buttonRestore()->isHidden());
    title->buttonRestore()->click();
    ASSERT_TRUE(waitFor([&] { return window_->geometry() == normal; }, 2000));

    // A double click on the title does the same, both ways.
    QTest::mouseDClick(title, Qt::LeftButton, Qt::NoModifier, QPoint(title->width() / 2, 10));
    EXPECT_TRUE(waitFor([&] { return window_->geometry() == available; }, 2000));
    QTest::mouseDClick(title, Qt::LeftButton, Qt::NoModifier, QPoint(title->width() / 2, 10));
    EXPECT_TRUE(waitFor([&] { return window_->geometry() == normal; }, 2000));

    // A panel opens inside the window, at its right edge, whole.
    fillSearchList();
    tick(window_->searchList(), {0});
    QRect panel_geometry;
    EXPECT_TRUE(whileOpen<RightRebootWidget>([&] { window_->onRestartClick(); },
                                             [&](RightRebootWidget* panel) {
                                                 panel_geometry = panel->frameGeometry();
                                                 panel->headerButton()->click();
                                             }));
    EXPECT_TRUE(window_->frameGeometry().contains(panel_geometry));
    EXPECT_TRUE(available.contains(panel_geometry));
}

TEST_F(MainWindowTest, FilterUnticksWhatItHidesAndCountersCountTheShownPage) {
    fillSearchList();
    DeviceTableWidget* search = window_->searchList();
    const int rows = search->rowCount();
    ASSERT_GE(rows, 4);
    window_->slotPage1Clicked();
    tick(search, {0, 1, 2});
    search->setRowStatus(1, DEVICE_STATUS_UPDATE_FAILED, 0);
    search->setRowStatus(3, DEVICE_STATUS_SET_SUCCESS, 0);

    // Every status a row is in can be chosen, besides the fixed entries.
    search->updateStatusMenu();
    QStringList offered;
    for (QAction* action : search->statusMenu()->actions())
        if (action->isVisible()) offered << action->text();
    for (const char* text : {"全部", "升级成功", "升级失败", "导出成功", "导出失败", "空闲", "设置成功"})
        EXPECT_TRUE(offered.contains(QString::fromUtf8(text))) << text;
    EXPECT_FALSE(offered.contains(QStringLiteral("升级中")));

    search->setStatusFilter(DEVICE_STATUS_UPDATE_FAILED);
    EXPECT_EQ(window_->selectedLabel()->text(), "1");
    EXPECT_EQ(window_->deviceTotalLabel()->text(), "1");
    // Back to every row: the cameras hidden meanwhile are not ticked behind the user's back.
    search->setStatusFilter(-1);
    EXPECT_EQ(search->checkedRowCount(), 1);
    ASSERT_EQ(search->getSelectedDevices().size(), 1u);
    EXPECT_EQ(search->getSelectedDevices().front().row, 1);
    EXPECT_EQ(window_->selectedLabel()->text(), "1");
    EXPECT_EQ(window_->deviceTotalLabel()->text(), QString::number(rows));

    // The local page counts its own rows while the search goes on behind it.
    EditDeviceTableWidget* local = window_->localList();
    local->slotAddDeviceInfo("192.168.1.101", 80, "admin", kPassword);
    local->slotAddDeviceInfo("192.168.1.103", 80, "admin", kPassword);
    window_->slotPage2Clicked();
    EXPECT_EQ(window_->deviceTotalLabel()->text(), "2");
    search->slotFindDevice(device("10.0.0.9"));
    EXPECT_EQ(search->rowCount(), rows + 1);
    EXPECT_EQ(window_->deviceTotalLabel()->text(), "2");
    EXPECT_EQ(window_->selectedLabel()->text(), "0");
    window_->slotPage1Clicked();
    EXPECT_EQ(window_->deviceTotalLabel()->text(), QString::number(rows + 1));
}

TEST_F(MainWindowTest, TimeEntrySetsTheTickedCamerasClocks) {
    NavButton* time_button = window_->navButtons().at(5);
    EXPECT_EQ(time_button->text(), QStringLiteral("校时"));
    EXPECT_TRUE(time_button->isEnabled());
    EXPECT_FALSE(window_->navButtons().at(6)->isEnabled()) << "ONVIF stays greyed";

    fillSearchList();
    DeviceTableWidgetBase* list = window_->searchList();
    const int row = rowOf(list, "192.168.1.101");
    tick(list, {row});
    EXPECT_TRUE(whileOpen<RightTimeWidget>([&] { time_button->click(); },
                                           [&](RightTimeWidget* panel) {
                                               panel->findChild<NavButton*>("panelConfirmButton")->click();
                                               panel->headerButton()->click();
                                           }));
    EXPECT_TRUE(waitForStatus(list, row, QStringLiteral("设置成功")));
}

TEST_F(MainWindowTest, TickedFoundCamerasJoinTheLocalListWithTheLoginGiven) {
    fillSearchList();
    DeviceTableWidgetBase* search = window_->searchList();
    EditDeviceTableWidget* local = window_->localList();
    EXPECT_TRUE(modalTexts([&] {
                    window_->addToLocalButton()->click();
                }).contains(QStringLiteral("请选择待修改的设备!")));

    const int a = rowOf(search, "192.168.1.101");
    const int b = rowOf(search, "192.168.1.102");
    tick(search, {a, b});
    window_->passwordEdit()->setText("bar-password");
    QString asked;
    auto answer = [&](const QString& password) {
        return [&asked, password](DeviceDialog* dialog) {
            QLineEdit* edit = dialog->findChild<QLineEdit*>("passwordEdit");
            asked = edit->text();
            EXPECT_FALSE(dialog->findChild<QLineEdit*>("ipEdit")->isVisible());
            edit->setText(password);
            dialog->findChild<QPushButton*>("okButton")->click();
        };
    };
    // The summary that follows the login is read and closed.
    QString summary;
    QTimer closer;
    closer.setInterval(5);
    QObject::connect(&closer, &QTimer::timeout, [&] {
        for (QWidget* widget : QApplication::topLevelWidgets()) {
            auto* message = qobject_cast<MessageDialog*>(widget);
            if (!message || !message->isVisible()) continue;
            QStringList parts;
            for (QLabel* label : message->findChildren<QLabel*>()) parts << label->text();
            summary = parts.join("|");
            message->close();
        }
    });
    closer.start();
    EXPECT_TRUE(whileOpen<DeviceDialog>([&] { window_->addToLocalButton()->click(); }, answer(kPassword)));
    EXPECT_EQ(asked, "bar-password") << "the login bar's password is offered";
    EXPECT_TRUE(summary.contains(QStringLiteral("已添加2台设备到本地列表"))) << summary.toStdString();
    DeviceTableWidgetBase* table = local;
    ASSERT_EQ(table->rowCount(), 2);
    for (const char* ip : {"192.168.1.101", "192.168.1.102"}) {
        const int row = rowOf(local, ip);
        ASSERT_GE(row, 0) << ip;
        EXPECT_EQ(table->cellData(row, kColumnCheck, kRolePassword).toString(), kPassword);
        EXPECT_EQ(table->cellText(row, kColumnPort), search->cellText(rowOf(search, ip), kColumnPort));
    }

    // Again: nothing is listed twice.
    EXPECT_TRUE(whileOpen<DeviceDialog>([&] { window_->addToLocalButton()->click(); }, answer("other")));
    EXPECT_EQ(table->rowCount(), 2);
    EXPECT_TRUE(summary.contains(QStringLiteral("2台已在本地列表中"))) << summary.toStdString();
}

TEST_F(MainWindowTest, SearchPageListExportWritesTheShownSearchRowsAndAddsTheExtension) {
    fillSearchList();
    DeviceTableWidget* search = window_->searchList();
    search->setRowStatus(0, DEVICE_STATUS_UPDATE_FAILED, 0);
    search->setRowStatus(2, DEVICE_STATUS_UPDATE_FAILED, 0);
    search->setStatusFilter(DEVICE_STATUS_UPDATE_FAILED);
    const QString base = dir_.filePath("found");
    EXPECT_TRUE(whileOpen<RightDeviceListWidget>([&] { window_->onOutputClick(); },
                                                 [&](RightDeviceListWidget* panel) {
                                                     panel->pathEdit()->setText(base);
                                                     panel->startButton()->click();
                                                     panel->headerButton()->click();
                                                 }));
    xlsbook::WorkbookFile book;
    ASSERT_TRUE(book.load((base + ".xls").toStdString()));
    xlsbook::WorksheetView* sheet = book.find_worksheet("sheet_1");
    ASSERT_NE(sheet, nullptr);
    EXPECT_EQ(sheet->total_rows(), 3u);
    EXPECT_EQ(sheet->find_cell(0, 7)->get_text(), "IP");
    EXPECT_EQ(sheet->find_cell(1, 0)->get_text(), "升级失败");
    EXPECT_EQ(QString::fromStdString(sheet->find_cell(2, 7)->get_text()), search->cellText(2, kColumnIp));

    // A name with an extension keeps it; an unwritable place says so.
    EXPECT_TRUE(modalTexts([&] {
                    window_->onSearchListOutput(dir_.filePath("missing/x.xls"));
                }).contains(QStringLiteral("导出列表失败!")));
}

TEST(RightDeviceListWidget, AddsTheWorkbookExtensionOnlyWhenTheNameHasNone) {
    RightDeviceListWidget panel;
    panel.setupPanel(400, 600);
    struct Case {
        const char* typed;
        const char* sent;
    } cases[] = {{"list", "list.xls"},     {"out/list", "out/list.xls"},   {"list.xls", "list.xls"},
                 {"list.XLS", "list.XLS"}, {"v1.2/list", "v1.2/list.xls"}, {"", ""}};
    for (const Case& c : cases) {
        QString sent = "<none>";
        auto connection = QObject::connect(&panel, &RightDeviceListWidget::signalButtonSaveClicked,
                                           [&](const QString& file) { sent = file; });
        panel.pathEdit()->setText(QString::fromUtf8(c.typed));
        panel.startButton()->click();
        QObject::disconnect(connection);
        EXPECT_EQ(sent, QString::fromUtf8(c.sent)) << c.typed;
    }
}

TEST_F(MainWindowTest, WebButtonSaysSoWhenNoBrowserStarts) {
    fillSearchList();
    DeviceTableWidgetBase* search = window_->searchList();
    kp::setShellExecuteHook([](const std::string&, const std::string&, const std::string&) { return false; });
    const QString texts = modalTexts([&] { search->toolsCell(0)->ieButton()->click(); });
    kp::setShellExecuteHook(nullptr);
    EXPECT_TRUE(texts.contains(QStringLiteral("无法打开网页"))) << texts.toStdString();
    EXPECT_TRUE(texts.contains("http://")) << texts.toStdString();
}

TEST(RowButtons, HoverShowsTheirWhiteIconsOnColour) {
    QString sheet;
    ASSERT_TRUE(readStyleSheet(":/qss/flatwhite.css", &sheet));
    QWidget holder;
    holder.setStyleSheet(sheet);
    auto* tools = new BtnToolsWidget(&holder);
    holder.show();
    for (NavButton* button : {tools->ieButton(), tools->videoButton()}) {
        button->ensurePolished();
        const QColor hover = button->getHoverBgColor();
        EXPECT_EQ(hover.alpha(), 255) << button->objectName().toStdString();
        EXPECT_NE(hover, QColor(Qt::white)) << button->objectName().toStdString();
    }
}

TEST(ToolkitTranslation, TheFileChooserSpeaksChinese) {
    QTranslator* translator = installToolkitTranslation(*QCoreApplication::instance());
    ASSERT_NE(translator, nullptr) << "qttranslations5-l10n is installed by scripts/install-deps.sh";
    const QString look_in = QCoreApplication::translate("QFileDialog", "Look in:");
    QCoreApplication::removeTranslator(translator);
    delete translator;
    EXPECT_NE(look_in, "Look in:");
    EXPECT_EQ(QCoreApplication::translate("QFileDialog", "Look in:"), "Look in:");
}
