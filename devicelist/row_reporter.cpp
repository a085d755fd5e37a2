#include "row_reporter.h"

#include <QCoreApplication>
#include <QTableWidget>
#include <QTimer>

namespace {

const char kDone[] = "完成";

}  // namespace

RowReporter::RowReporter(UiJobQueuePtr queue, DeviceTableWidgetBase* list, int row,
                         std::shared_ptr<factory::dealmodule> deal, Kind kind)
    : target_(std::make_shared<const Target>(
          Target{std::move(queue), list, list ? list->statusCell(row) : nullptr, row, kind})),
      deal_(std::move(deal)) {}

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
    return [target = target_, deal = deal_](bool ok, const std::string& text) {
        if (ok && text != kDone) return true;
        const DeviceStatus status = finalStatus(target->kind, ok, text);
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
    // Only the target: holding the job here as well would add nothing to what progress() holds.
    return [target = target_](int state, int percent) {
        const DeviceStatus status = upgradeStatus(state);
        target->queue->postJob([target, status, percent] { target->setStatus(status, percent); });
    };
}
