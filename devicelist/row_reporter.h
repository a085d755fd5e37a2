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
//
// With a batch report, every report (the dropped steps too) is also a step of the camera's row
// there, and the final one ends that row with the status text the row gets, after the check set
// by setVerification has run on the worker thread.
#pragma once

#include <QPointer>
#include <functional>
#include <memory>
#include <string>

#include "batch_report.h"
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

    // The batch's report and the camera's row in it; no report when `report` is null.
    struct ReportRow {
        std::shared_ptr<report::BatchReport> report;
        int id;  // meaningful only with a report
    };
    // Runs on the worker thread when the final report is a success, before the row's final UI
    // job is posted (that job joins the worker); returns the report's verification text.
    using Verification = std::function<std::string()>;

    RowReporter(UiJobQueuePtr queue, DeviceTableWidgetBase* list, int row,
                std::shared_ptr<factory::dealmodule> deal, Kind kind, ReportRow report_row = ReportRow());

    factory::dealmodule::ProgressCallback progress() const;
    factory::dealmodule::UpgradeProgressCallback upgradeProgress() const;

    const ReportRow& reportRow() const { return log_->row; }
    // Shared with the callbacks already handed out; set it before the job is posted. Without a
    // report there is nothing to verify for, and it is never run.
    void setVerification(Verification verify) const { log_->verify = std::move(verify); }

    static DeviceStatus finalStatus(Kind kind, bool ok, const std::string& text);
    static DeviceStatus upgradeStatus(int state);

private:
    struct Target {
        // Weak: a UI job still waiting in the queue when the window goes holds this target, and
        // a strong reference would keep the queue, and every job in it, alive for ever.
        std::weak_ptr<UiJobQueue> queue;
        QPointer<DeviceTableWidgetBase> list;
        quint64 token;
        int row;
        Kind kind;
        // User-interface thread: the row's status through the list, if the row is still there.
        void setStatus(DeviceStatus status, int value) const;
    };
    // Held by the worker's callbacks only, never by a UI job: the report's last reference then
    // goes on a worker thread, and its final save never holds up the user-interface thread.
    struct Log {
        ReportRow row;
        Verification verify;
        int last_upgrade_status = -1;  // worker thread only
    };
    std::shared_ptr<const Target> target_;
    std::shared_ptr<factory::dealmodule> deal_;
    std::shared_ptr<Log> log_;
};
