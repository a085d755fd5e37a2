#include "update_widget.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QStyle>
#include <QVariant>
#include <algorithm>

namespace {
constexpr char kColorProperty[] = "statusColor";
}  // namespace

QString UpdateWidget::tableStyleSheet() {
    const QString bar = QString(
                            "QProgressBar{font:%1pt;background:%2;max-height:%3px;border-radius:%4px;"
                            "text-align:center;border:1px solid %2;}")
                            .arg(9)
                            .arg("#d5dae6")
                            .arg(8)
                            .arg(5);
    const QString chunk =
        QString("QProgressBar:chunk{border-radius:%2px;background-color:%1;}").arg("#15a4fa").arg(5);
    const QString label =
        "QLabel[statusColor=\"green\"]{color:green;}"
        "QLabel[statusColor=\"blue\"]{color:blue;}"
        "QLabel[statusColor=\"red\"]{color:red;}";
    return bar + chunk + label;
}

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

    slotSetStatus(DEVICE_STATUS_IDLE, 0);
}

QString UpdateWidget::statusColor() const { return label_->property(kColorProperty).toString(); }

void UpdateWidget::setStatusColor(const char* color) {
    if (label_->property(kColorProperty).toString() == QLatin1String(color)) return;
    label_->setProperty(kColorProperty, color);
    // A property selector is matched at polish time only.
    label_->style()->unpolish(label_);
    label_->style()->polish(label_);
}

void UpdateWidget::slotSetStatus(DeviceStatus status, int value) {
    status_ = status;
    label_->setText(deviceStatusText(status));
    switch (deviceStatusClass(status)) {
        case DeviceStatusClass::InProgress:
            // A progress bar ignores values outside its range; keep the last word visible.
            progress_bar_->setValue(std::clamp(value, 0, 100));
            progress_bar_->setVisible(true);
            setStatusColor("blue");
            break;
        case DeviceStatusClass::Idle:
        case DeviceStatusClass::Success:
            progress_bar_->setVisible(false);
            progress_bar_->setValue(0);
            setStatusColor("green");
            break;
        case DeviceStatusClass::Failure:
            progress_bar_->setVisible(false);
            progress_bar_->setValue(0);
            setStatusColor("red");
            break;
    }
}
