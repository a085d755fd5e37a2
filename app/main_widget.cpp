#include "main_widget.h"

#include <QDebug>

#include "kp_native_window.h"

MainWidget::MainWidget(QWidget* parent) : QWidget(parent) {
    ui_job_queue_ = std::make_shared<UiJobQueue>();
    qDebug() << "开始打印";

    setWindowFlags(Qt::FramelessWindowHint | Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowMaximizeButtonHint);
    setAttribute(Qt::WA_StyledBackground, true);  // so the sheet paints the plain window too
    setMouseTracking(true);
    setAcceptDrops(true);
    setMinimumSize(1360, 760);
    setFixedSize(1400, 850);

    hwnd_ = reinterpret_cast<HWND>(winId());
    kp::registerNativeWindow(hwnd_, this, [this](MSG& msg) {
        long result = 0;
        nativeEvent("windows_generic_MSG", &msg, &result);
    });
    ui_job_queue_->setOwner(hwnd_);
}

MainWidget::~MainWidget() {
    ui_job_queue_->setOwner(nullptr);
    kp::unregisterNativeWindow(hwnd_);
}

bool MainWidget::nativeEvent(const QByteArray& eventType, void* message, long* result) {
    if (eventType == "windows_generic_MSG" && static_cast<MSG*>(message)->message == kUiJobMessage) {
        ui_job_queue_->runQueuedJobs();
        return false;  // let default processing go on
    }
    return QWidget::nativeEvent(eventType, message, result);
}
