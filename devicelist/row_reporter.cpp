#include "row_reporter.h"

#include <QRegularExpression>

RowReporter::RowReporter(UiJobQueuePtr queue, DeviceTableWidgetBase* list, const std::vector<int>& rows,
                         batch::ResultKind kind, std::function<void()> on_end)
    : queue_(std::move(queue)),
      running_status_(batch::RunningStatus(kind)),
      ui_thread_(QThread::currentThread()) {
    auto state = std::make_shared<Rows>();
    state->list = list;
    state->rows = rows;
    state->tokens.reserve(rows.size());
    for (int row : rows) state->tokens.push_back(list ? list->rowToken(row) : 0);
    state->on_end = std::move(on_end);
    rows_ = std::move(state);
}

void RowReporter::Rows::setStatus(int camera, DeviceStatus status, int value, const QString& reason) const {
    if (!list) return;
    const int current = list->rowOfToken(tokens[camera], rows[camera]);
    if (current < 0) return;
    list->setRowStatus(current, status, value);
    if (!reason.isEmpty()) list->setRowReason(current, reason);
}

void RowReporter::deliver(const Rows& rows, Mailbox& mailbox) {
    std::vector<Update> updates;
    bool ended = false;
    {
        std::lock_guard<std::mutex> guard(mailbox.lock);
        updates.swap(mailbox.updates);
        ended = mailbox.ended;
        mailbox.ended = false;
        mailbox.posted = false;
    }
    for (const Update& update : updates)
        rows.setStatus(update.camera, update.status, update.value, update.reason);
    // The batch ends after its cameras' last reports, which are set by now.
    if (ended && rows.on_end) rows.on_end();
}

void RowReporter::post(Update* update) {
    const UiJobQueuePtr queue = queue_.lock();
    if (!queue) return;  // the window is gone
    {
        std::lock_guard<std::mutex> guard(mailbox_->lock);
        if (update) {
            mailbox_->updates.push_back(std::move(*update));
        } else {
            mailbox_->ended = true;
        }
        if (mailbox_->posted) return;
        mailbox_->posted = true;
    }
    queue->postJob([rows = rows_, mailbox = mailbox_] { deliver(*rows, *mailbox); });
}

void RowReporter::post(int camera, DeviceStatus status, int value, const QString& reason) {
    Update update{camera, status, value, reason};
    post(&update);
}

QString RowReporter::rowReason(const batch::Final& final) {
    if (!final.reason.empty()) return QString::fromStdString(final.reason);
    // A success whose check found the change missing says so, not only the report, and in the
    // window's language: the report keeps the check's own words.
    const QString check = QString::fromStdString(final.verification);
    const QString kNotVerified = QStringLiteral("not verified: ");
    if (final.ok || !check.startsWith(kNotVerified)) return QString();
    const QString why = check.mid(kNotVerified.size());
    const QRegularExpression runs(QStringLiteral("^runs (\\S+) instead of (.+)$"));
    const QRegularExpression silent(QStringLiteral("^no camera answers at (\\S+)"));
    QString text = why;
    if (why.startsWith(QStringLiteral("the camera did not come back")))
        text = QStringLiteral("设备未重新上线");
    else if (why.startsWith(QStringLiteral("still runs ")))
        text = QStringLiteral("版本仍为 ") + why.mid(11);
    else if (const QRegularExpressionMatch match = runs.match(why); match.hasMatch())
        text = QStringLiteral("运行 %1 而非 %2")
                   .arg(match.captured(1),
                        match.captured(2).replace(QStringLiteral(" or "), QStringLiteral(" 或 ")));
    else if (const QRegularExpressionMatch match = silent.match(why); match.hasMatch())
        text = QStringLiteral("新地址 %1 无应答").arg(match.captured(1));
    return QStringLiteral("未验证: ") + text;
}

void RowReporter::OnStart(int camera) {
    if (running_status_ == DEVICE_STATUS_IDLE) return;
    if (QThread::currentThread() == ui_thread_) {
        started_.push_back(camera);
        return;
    }
    post(camera, running_status_, 0);
}

void RowReporter::showStarted() {
    for (int camera : started_) rows_->setStatus(camera, running_status_, 0);
    started_.clear();
}

void RowReporter::OnUpgradeProgress(int camera, DeviceStatus status, int percent) {
    post(camera, status, percent);
}

void RowReporter::OnFinish(int camera, const batch::Final& final) {
    post(camera, final.status, 0, rowReason(final));
}

void RowReporter::OnEnd(int, int) { post(nullptr); }
