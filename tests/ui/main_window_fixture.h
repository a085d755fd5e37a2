// The real main window on the simulated camera network, at a small time scale, in a working
// folder of its own (the window opens its device store and writes exports there).
#pragma once

#include <gtest/gtest.h>

#include <QString>
#include <QTemporaryDir>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "main_widget.h"
#include "test_time_scale.h"
#include "ui_test_support.h"

class DeviceTableWidgetBase;

class MainWindowTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Refreshes the search list and waits until every camera that is on has its row.
    void fillSearchList();
    static void tick(DeviceTableWidgetBase* list, const std::vector<int>& rows);
    static int rowOf(DeviceTableWidgetBase* list, const std::string& ip);
    static QString statusText(DeviceTableWidgetBase* list, int row);
    // Waits until the row shows `text`; false on time-out.
    static bool waitForStatus(DeviceTableWidgetBase* list, int row, const QString& text);
    // Runs `action`, which is expected to open a modal dialog; returns the texts of the dialog's
    // labels joined by "|" and closes it. Empty when no dialog opened.
    static QString modalTexts(const std::function<void()>& action);

    std::unique_ptr<MainWidget> window_;
    QTemporaryDir dir_;

private:
    QString old_dir_;
    std::optional<ScopedTimeScale> time_scale_;
};
