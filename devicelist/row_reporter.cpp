#include "row_reporter.h"

#include <QCoreApplication>
#include <QTableWidget>
#include <QTimer>

namespace {

const char kDone[] = "完成";

}  // namespace

RowReporter::RowReporter(UiJobQueuePtr queue, DeviceTableWidgetBase* list, int row,
                         std::shared_ptr<factory::dealmodule> deal, Kind kind, ReportRow report_row)
    : target_(std::make_shared<const Target>(
          Target{std::move(queue), list, list ? list->statusCell(row) : nullptr, row, kind})),
      deal_(std::move(deal)),
      log_(std::make_shared<Log>(Log{std::move(report_row), nullptr, -1})) {}

void RowReporter::Target::setStatus(DeviceStatus status, int value) const {
    if (!list || !cell) return;
    int current = row;
    if (list->existingStatusCell(current) != cell) {
        const int rows = list->tableWidget()->rowCount();
        for (current = 0; current < rows && list->existingStatusCell(current) != cell; ++current) {
        }
        if (current == rows) return;
    }
    list->setRowStatus(current, status, value);
}

DeviceStatus RowReporter::finalStatus(Kind kind, bool ok, const std::string& text) {
    switch (kind) {
        case Kind::Export:
            return ok ? DEVICE_STATUS_EXPORT_SUCCESS : DEVICE_STATUS_EXPORT_FAILED;
        case Kind::Upgrade:
            return text == kDone ? DEVICE_STATUS_UPDATE_SUCCESS : DEVICE_STATUS_UPDATE_FAILED;
        case Kind::Setting:
        default:
            return ok ? DEVICE_STATUS_SET_SUCCESS : DEVICE_STATUS_SET_FAILED;
    }
}

DeviceStatus RowReporter::upgradeStatus(int state) {
    switch (state) {
        case 2:
            return DEVICE_STATUS_UPDATING;
        case 1:
        case 4:
            return DEVICE_STATUS_UPDATE_SUCCESS;
        case 3:
            return DEVICE_STATUS_UPDATE_CANCEL;
        case -1:
            return DEVICE_STATUS_UPDATE_FAILED;
        default:
            return DEVICE_STATUS_IDLE;
    }
}

factory::dealmodule::ProgressCallback RowReporter::progress() const {
    return [target = target_, deal = deal_, log = log_](bool ok, const std::string& text) {
        report::BatchReport* report = log->row.report.get();
        if (report) report->Step(log->row.id, ok, text);
        if (ok && text != kDone) return true;
        const DeviceStatus status = finalStatus(target->kind, ok, text);
        if (report) {
            const bool success = deviceStatusClass(status) == DeviceStatusClass::Success;
            const std::string verification = success && log->verify ? log->verify() : std::string();
            report->Finish(log->row.id, g_device_status_text[status], verification);
        }
        target->queue->postJob([target, deal, status]() mutable {
            target->setStatus(status, 0);
            // The join comes one turn of the event loop later: by then the worker has left its
            // job, so a batch whose reports arrive together does not hold the window up while
            // hundreds of threads are scheduled out one by one.
            QTimer::singleShot(0, QCoreApplication::instance(), [deal]() mutable {
                deal->StopWorker();
                deal.reset();
            });
        });
        return false;
    };
}

factory::dealmodule::UpgradeProgressCallback RowReporter::upgradeProgress() const {
    // No job: holding it here as well would add nothing to what progress() holds.
    return [target = target_, log = log_](int state, int percent) {
        const DeviceStatus status = upgradeStatus(state);
        // The report keeps each change of status, not every percentage of the write.
        if (log->row.report && log->last_upgrade_status != status) {
            log->last_upgrade_status = status;
            log->row.report->Step(
                log->row.id, deviceStatusClass(status) != DeviceStatusClass::Failure,
                std::string(g_device_status_text[status]) + " " + std::to_string(percent) + "%");
        }
        target->queue->postJob([target, status, percent] { target->setStatus(status, percent); });
    };
}
