// The window's observer of a batch: hands each camera's status over to the user-interface thread
// (through the window's UiJobQueue) and sets the camera's row there. Reports that arrive while
// the window has not yet taken the previous ones wait with them and are set in one pass: a
// thousand cameras ending at once cost their threads a push each, not a wake-up of the window
// each.
//
//   auto rows = std::make_shared<RowReporter>(queue, list, {device.row, ...}, kind, on_end);
//   batch::Batch::Create(operation, arguments, targets, policy, rows, report)->Start();
//
// Successful intermediate steps are not shown; a row shows its running status when its camera
// starts, the upgrade's status and percentage while it writes, and the final status with the
// reason of a failure (the step that failed, why the camera was not started, or the check after
// a success that found the change missing). A row is
// followed by its token (DeviceTableWidgetBase::rowToken), not its index: discovery keeps
// inserting rows while a batch runs, and a refresh empties the list. A report whose row is gone
// is dropped.
#pragma once

#include <QPointer>
#include <QString>
#include <QThread>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "batch.h"
#include "device_table_widget_base.h"
#include "ui_job_queue.h"

class RowReporter : public batch::Observer {
public:
    // `rows[i]`: the row of camera i. `on_end` runs on the user-interface thread after the
    // batch's last camera has ended.
    RowReporter(UiJobQueuePtr queue, DeviceTableWidgetBase* list, const std::vector<int>& rows,
                batch::ResultKind kind, std::function<void()> on_end = nullptr);

    // User-interface thread, right after the batch's Start: shows the running status of the
    // cameras Start started. Their rows are restyled after every camera has been handed to the
    // batch, so the last camera does not wait for the first rows' repolish.
    void showStarted();

    void OnStart(int camera) override;
    void OnUpgradeProgress(int camera, DeviceStatus status, int percent) override;
    void OnFinish(int camera, const batch::Final& final) override;
    void OnEnd(int succeeded, int failed) override;

    // What the row says after its final status; empty for a plain success.
    static QString rowReason(const batch::Final& final);

private:
    struct Rows {
        QPointer<DeviceTableWidgetBase> list;
        std::vector<quint64> tokens;
        std::vector<int> rows;
        std::function<void()> on_end;
        // User-interface thread: the row's status through the list, if the row is still there.
        void setStatus(int camera, DeviceStatus status, int value, const QString& reason = QString()) const;
    };
    struct Update {
        int camera;
        DeviceStatus status;
        int value;
        QString reason;
    };
    // Reports not yet set, in the order they came; `posted` while a job to set them waits in the
    // queue, so that the next report only joins them.
    struct Mailbox {
        std::mutex lock;
        std::vector<Update> updates;
        bool ended = false;
        bool posted = false;
    };
    // User-interface thread: sets the waiting reports, then runs the end if it has come.
    static void deliver(const Rows& rows, Mailbox& mailbox);
    // `update` null: the batch has ended.
    void post(Update* update);
    void post(int camera, DeviceStatus status, int value, const QString& reason = QString());

    // Weak: a UI job still waiting in the queue when the window goes holds the rows, and a
    // strong reference would keep the queue, and every job in it, alive for ever.
    std::weak_ptr<UiJobQueue> queue_;
    std::shared_ptr<const Rows> rows_;
    std::shared_ptr<Mailbox> mailbox_ = std::make_shared<Mailbox>();
    DeviceStatus running_status_;
    QThread* ui_thread_;
    std::vector<int> started_;  // user-interface thread only
};
