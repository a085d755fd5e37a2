// How one device job of a batch reports to its row. Every report the row has to show becomes a
// UI job (run on the user-interface thread through the window's UiJobQueue) that sets the row's
// status; the final report's UI job also stops the job's worker and releases the job there.
//
//   auto deal = std::make_shared<factory::dealmodule>();
//   RowReporter reporter(queue, list, device.row, deal, RowReporter::Kind::Setting);
//   deal->Reboot(ip, port, user, password, reporter.progress());
//
// A successful intermediate step is dropped before anything is posted; every failure and the
// final "完成" end the job. The callbacks keep the job alive until that final UI job has run.
//
// The row is followed by its token (DeviceTableWidgetBase::rowToken), not its index: discovery
// keeps inserting rows while a batch runs (a restarted camera answers again), and a refresh
// empties the list. A report whose row is gone is dropped.
#pragma once

#include <QPointer>
#include <memory>
#include <string>

#include "dealmodule.h"
#include "device_table_widget_base.h"
#include "deviceinfo.h"
#include "ui_job_queue.h"
#include "update_widget.h"

class RowReporter {
public:
    // Which pair of final statuses the row gets.
    enum class Kind {
        Setting,  // "设置成功" / "设置失败"
        Export,   // "导出成功" / "导出失败"
        Upgrade,  // "升级成功" when the text is "完成", else "升级失败"
    };

    RowReporter(UiJobQueuePtr queue, DeviceTableWidgetBase* list, int row,
                std::shared_ptr<factory::dealmodule> deal, Kind kind);

    factory::dealmodule::ProgressCallback progress() const;
    factory::dealmodule::UpgradeProgressCallback upgradeProgress() const;

    static DeviceStatus finalStatus(Kind kind, bool ok, const std::string& text);
    static DeviceStatus upgradeStatus(int state);

private:
    struct Target {
        UiJobQueuePtr queue;
        QPointer<DeviceTableWidgetBase> list;
        quint64 token;
        int row;
        Kind kind;
        // User-interface thread: the row's status through the list, if the row is still there.
        void setStatus(DeviceStatus status, int value) const;
    };
    std::shared_ptr<const Target> target_;
    std::shared_ptr<factory::dealmodule> deal_;
};
