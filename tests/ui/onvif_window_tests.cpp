// The real window on the camera library's ONVIF backend. Run by
// tests/rudavado_onvif/test_window_end_to_end.py inside a network namespace with 20 simulated
// devices at 192.168.1.10-29; that script checks the devices' side. Skips anywhere else.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QDir>
#include <QLabel>
#include <QTableView>
#include <QTemporaryDir>
#include <memory>
#include <string>
#include <vector>

#include "RuDAVADO.h"
#include "device_table_widget.h"
#include "main_widget.h"
#include "ui_test_support.h"
#include "update_widget.h"

namespace {

std::vector<std::string> addresses(int first, int count) {
    std::vector<std::string> out;
    for (int i = 0; i < count; ++i) out.push_back("192.168.1." + std::to_string(first + i));
    return out;
}

}  // namespace

TEST(OnvifWindow, TwentyDevicesThroughEveryOperation) {
    if (qgetenv("RUDAVADO_BACKEND") != "onvif" || qgetenv("KP_ONVIF_FIRMWARE").isEmpty()) {
        GTEST_SKIP() << "run by test_window_end_to_end.py against simulated ONVIF devices";
    }
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString old_dir = QDir::currentPath();
    QDir::setCurrent(dir.path());
    auto window = std::make_unique<MainWidget>();
    window->show();
    DeviceTableWidgetBase* list = window->searchList();
    DeviceTableWidgetBase* table = list;

    window->onRefreshClick();
    ASSERT_TRUE(waitFor([&] { return table->rowCount() == 20; }, 30000)) << table->rowCount() << " rows";

    auto tickOnly = [&](const std::vector<std::string>& ips) {
        for (int row = 0; row < table->rowCount(); ++row) table->setRowCheckState(row, Qt::Unchecked);
        for (const std::string& ip : ips) {
            int row = -1;
            ASSERT_TRUE(list->findRowByIp(ip, row)) << ip;
            table->setRowCheckState(row, Qt::Checked);
        }
    };
    // Each row is followed by its status cell, which stays with the row while the list changes.
    auto finals = [&](const std::vector<std::string>& ips, const QString& text) {
        std::vector<UpdateWidget*> cells;
        for (const std::string& ip : ips) {
            int row = -1;
            list->findRowByIp(ip, row);
            cells.push_back(list->statusCell(row));
        }
        for (size_t i = 0; i < ips.size(); ++i) {
            EXPECT_TRUE(waitFor([&] { return cells[i]->statusLabel()->text() == text; }, 60000))
                << ips[i] << ": " << cells[i]->statusLabel()->text().toStdString() << " instead of "
                << text.toStdString();
        }
    };
    // A restarted device takes a moment to answer again; the next batch waits for it, as a
    // technician would.
    auto answering = [&](const std::vector<std::string>& ips) {
        for (const std::string& ip : ips) {
            EXPECT_TRUE(waitFor(
                [&] {
                    KPLPRC_HWINFO_EX info;
                    return KpLPRClient_GetHwInfoEx(ip.c_str(), 80, &info) == 0;
                },
                60000))
                << ip << " does not answer";
        }
    };
    const QString ok = QStringLiteral("设置成功"), failed = QStringLiteral("设置失败");

    const std::vector<std::string> all = addresses(10, 20);
    tickOnly(all);
    window->onButtonRebootClicked();
    finals(all, ok);
    answering(all);
    window->onButtonTimeClicked();
    finals(all, ok);

    tickOnly(addresses(10, 3));
    window->onButtonSetPasswordClicked(QStringLiteral("Kp@2024"));
    finals(addresses(10, 3), ok);

    // Logged in by the batches above, so the address change has a login to use.
    tickOnly(addresses(13, 3));
    window->onButtonNetworkClicked(QStringLiteral("192.168.1.100"), 80, QStringLiteral("255.255.255.0"),
                                   QStringLiteral("192.168.1.1"));
    finals(addresses(13, 3), ok);

    tickOnly(addresses(16, 2));
    window->onButtonFactoryClicked(0);
    finals(addresses(16, 2), ok);
    answering(addresses(18, 2));

    tickOnly(addresses(18, 2));
    window->onButtonUpdateClicked(QString::fromLocal8Bit(qgetenv("KP_ONVIF_FIRMWARE")));
    finals(addresses(18, 2), QStringLiteral("升级成功"));

    // ONVIF has no parameter files of the library's format: the row ends failed.
    QFile config(dir.path() + "/x.cfg");
    ASSERT_TRUE(config.open(QIODevice::WriteOnly));
    config.write("[group]\nitem=1\n");
    config.close();
    tickOnly(addresses(20, 1));
    window->onButtonIpcClicked(config.fileName());
    finals(addresses(20, 1), failed);

    window.reset();
    QDir::setCurrent(old_dir);
}
