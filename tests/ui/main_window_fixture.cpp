#include "main_window_fixture.h"

#include <RuDAVADO_control.h>
#include <kp_platform.h>

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QLabel>
#include <QTableView>
#include <QThread>
#include <QTimer>
#include <set>

#include "device_table_widget.h"
#include "update_widget.h"

void MainWindowTest::SetUp() {
    time_scale_.emplace(0.001);
    ASSERT_TRUE(dir_.isValid());
    old_dir_ = QDir::currentPath();
    QDir::setCurrent(dir_.path());
    window_ = std::make_unique<MainWidget>();
    ASSERT_EQ(RuDAVADO_LoadDefaultScenario(), 0);
    window_->show();
}

void MainWindowTest::TearDown() {
    window_.reset();
    QDir::setCurrent(old_dir_);
    time_scale_.reset();
}

void MainWindowTest::fillSearchList() {
    std::set<QString> online;
    for (int i = 0; i < RuDAVADO_CameraCount(); ++i) {
        RuDAVADO_CameraState state;
        if (RuDAVADO_GetCameraState(i, &state) == 0 && state.state == RUDAVADO_STATE_ONLINE)
            online.insert(QString::fromLatin1(state.ip));
    }
    // One report per camera and search: the search list has one row per camera online.
    window_->onRefreshClick();
    DeviceTableWidgetBase* table = window_->searchList();
    ASSERT_TRUE(waitFor([&] { return table->rowCount() == static_cast<int>(online.size()); }))
        << table->rowCount() << " rows for " << online.size() << " cameras";
}

void MainWindowTest::tick(DeviceTableWidgetBase* list, const std::vector<int>& rows) {
    for (int row : rows) list->setRowCheckState(row, Qt::Checked);
}

int MainWindowTest::rowOf(DeviceTableWidgetBase* list, const std::string& ip) {
    int row = -1;
    return list->findRowByIp(ip, row) ? row : -1;
}

QString MainWindowTest::statusText(DeviceTableWidgetBase* list, int row) {
    UpdateWidget* cell = list->statusCell(row);
    return cell ? cell->statusLabel()->text() : QString();
}

bool MainWindowTest::waitForStatus(DeviceTableWidgetBase* list, int row, const QString& text) {
    return waitFor([&] { return statusText(list, row) == text; });
}

QString MainWindowTest::modalTexts(const std::function<void()>& action) {
    QString texts;
    bool opened = false;
    QTimer poll;
    poll.setInterval(5);
    QObject::connect(&poll, &QTimer::timeout, [&] {
        QWidget* modal = QApplication::activeModalWidget();
        if (!modal || opened) return;
        opened = true;
        QStringList parts;
        for (QLabel* label : modal->findChildren<QLabel*>())
            if (!label->text().isEmpty()) parts << label->text();
        texts = parts.join("|");
        modal->close();
    });
    poll.start();
    action();
    // A dialog that never opened leaves nothing to close; give a late one a moment.
    waitFor([&] { return opened; }, 200);
    return texts;
}
