#include "row_reporter.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QPointer>
#include <QTableWidget>
#include <QTimer>
#include <deque>
#include <memory>

namespace {

const char kDone[] = "完成";

// Ended jobs whose worker still has to be joined; user-interface thread only. A batch's reports
// arrive together, and joining a thousand workers in one pass would hold the window for as long
// as their threads take to be scheduled out: each turn of the event loop joins a few
// milliseconds' worth.
class Reaper {
public:
    static void add(std::shared_ptr<factory::dealmodule> deal) {
        pending().push_back(std::move(deal));
        // The timer goes with the application object.
        static QPointer<QTimer> timer;
        if (!timer) {
            timer = new QTimer(QCoreApplication::instance());
            timer->setInterval(0);
            QObject::connect(timer, &QTimer::timeout, [] {
                if (joinSome()) timer->stop();
            });
        }
        if (!timer->isActive()) timer->start();
    }

private:
    static constexpr qint64 kSliceMs = 4;

    static std::deque<std::shared_ptr<factory::dealmodule>>& pending() {
        // Never destroyed: a job left at exit must not be released after the library is gone.
        static auto* deals = new std::deque<std::shared_ptr<factory::dealmodule>>();
        return *deals;
    }
    // True when none is left.
    static bool joinSome() {
        QElapsedTimer slice;
        slice.start();
        auto& deals = pending();
        while (!deals.empty() && slice.elapsed() < kSliceMs) {
            std::shared_ptr<factory::dealmodule> deal = std::move(deals.front());
            deals.pop_front();
            deal->StopWorker();
        }
        return deals.empty();
    }
};

}  // namespace

RowReporter::RowReporter(UiJobQueuePtr queue, DeviceTableWidgetBase* list, int row,
                         std::shared_ptr<factory::dealmodule> deal, Kind kind, ReportRow report_row)
    : target_(std::make_shared<const Target>(
          Target{std::move(queue), list, list ? list->rowToken(row) : 0, row, kind})),
      deal_(std::move(deal)),
      log_(std::make_shared<Log>(Log{std::move(report_row), nullptr, -1})) {}

void RowReporter::Target::setStatus(DeviceStatus status, int value) const {
    if (!list) return;
    const int current = list->rowOfToken(token, row);
    if (current < 0) return;
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
        const UiJobQueuePtr queue = target->queue.lock();
        if (!queue) return false;  // the window is gone
        queue->postJob([target, deal, status]() mutable {
            target->setStatus(status, 0);
            // The join comes at least one turn of the event loop later, when the worker has
            // left its job.
            Reaper::add(std::move(deal));
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
        if (const UiJobQueuePtr queue = target->queue.lock())
            queue->postJob([target, status, percent] { target->setStatus(status, percent); });
    };
}
