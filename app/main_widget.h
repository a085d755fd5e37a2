// The one top-level window. It owns the queue through which other threads hand work back to
// the user-interface thread, and runs that queue from its native-event hook.
#pragma once

#include <QWidget>

#include "ui_job_queue.h"

class MainWidget : public QWidget {
    Q_OBJECT

public:
    explicit MainWidget(QWidget* parent = nullptr);
    ~MainWidget() override;

    const UiJobQueuePtr& jobQueue() const { return ui_job_queue_; }

protected:
    bool nativeEvent(const QByteArray& eventType, void* message, long* result) override;

private:
    UiJobQueuePtr ui_job_queue_;
    HWND hwnd_ = nullptr;
};
