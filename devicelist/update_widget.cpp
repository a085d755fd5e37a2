#include "update_widget.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>

#include <algorithm>

UpdateWidget::UpdateWidget(QWidget* parent) : QWidget(parent) {
    label_ = new QLabel(this);
    progress_bar_ = new QProgressBar(this);
    progress_bar_->setRange(0, 100);
    progress_bar_->setVisible(false);

    auto* layout = new QHBoxLayout(this);
    layout->addWidget(label_);
    layout->addWidget(progress_bar_);
    layout->setContentsMargins(5, 0, 0, 0);
    layout->setSpacing(0);

    const QString bar =
        QString("QProgressBar{font:%1pt;background:%2;max-height:%3px;border-radius:%4px;"
                "text-align:center;border:1px solid %2;}")
            .arg(9)
            .arg("#d5dae6")
            .arg(8)
            .arg(5);
    const QString chunk =
        QString("QProgressBar:chunk{border-radius:%2px;background-color:%1;}").arg("#15a4fa").arg(5);
    setStyleSheet(bar + chunk);

    slotSetStatus(DEVICE_STATUS_IDLE, 0);
}

void UpdateWidget::slotSetStatus(DeviceStatus status, int value) {
    status_ = status;
    label_->setText(deviceStatusText(status));
    switch (deviceStatusClass(status)) {
        case DeviceStatusClass::InProgress:
            // A progress bar ignores values outside its range; keep the last word visible.
            progress_bar_->setValue(std::clamp(value, 0, 100));
            progress_bar_->setVisible(true);
            label_->setStyleSheet("color:blue;");
            break;
        case DeviceStatusClass::Idle:
        case DeviceStatusClass::Success:
            progress_bar_->setVisible(false);
            progress_bar_->setValue(0);
            label_->setStyleSheet("color:green;");
            break;
        case DeviceStatusClass::Failure:
            progress_bar_->setVisible(false);
            progress_bar_->setValue(0);
            label_->setStyleSheet("color:red;");
            break;
    }
}
