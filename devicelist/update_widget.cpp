#include "update_widget.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPalette>
#include <QProgressBar>
#include <QStyle>
#include <QTextDocument>
#include <QVariant>
#include <algorithm>

namespace {

constexpr char kColorProperty[] = "statusColor";

// The status text. A QLabel takes its text colour from the style sheet each time it paints, so a
// new colour would need a repolish of the label, about 0.1 ms each: a 256-camera batch restyles
// 256 rows at once. This one paints with its palette, which the style sheet's colour selector
// fills at the first polish and setStatusColor keeps up to date afterwards.
class StatusLabel : public QLabel {
public:
    using QLabel::QLabel;

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.setPen(palette().color(QPalette::WindowText));
        painter.drawText(contentsRect(), static_cast<int>(alignment()), text());
    }
};

// The reason after the status: as much as the cell has room for, then "…".
class ReasonLabel : public QLabel {
public:
    using QLabel::QLabel;

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.setPen(palette().color(QPalette::WindowText));
        const QRect area = contentsRect();
        painter.drawText(area, static_cast<int>(alignment()),
                         fontMetrics().elidedText(text(), Qt::ElideRight, area.width()));
    }
};

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
        "QLabel[statusColor=\"red\"]{color:red;}"
        "QLabel#statusReason{color:#8a5a5a;font-size:11px;}";
    return bar + chunk + label;
}

UpdateWidget::UpdateWidget(QWidget* parent) : QWidget(parent) {
    label_ = new StatusLabel(this);
    reason_label_ = new ReasonLabel(this);
    reason_label_->setObjectName("statusReason");
    // Reasons carry text from the camera (its version, its error): never markup.
    reason_label_->setTextFormat(Qt::PlainText);
    reason_label_->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    reason_label_->setContentsMargins(4, 0, 0, 0);
    // Takes what the status text leaves, however long the reason.
    reason_label_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    reason_label_->setVisible(false);
    progress_bar_ = new QProgressBar(this);
    progress_bar_->setRange(0, 100);
    progress_bar_->setVisible(false);

    auto* layout = new QHBoxLayout(this);
    layout->addWidget(label_);
    layout->addWidget(reason_label_, 1);
    layout->addWidget(progress_bar_);
    layout->setContentsMargins(5, 0, 0, 0);
    layout->setSpacing(0);

    slotSetStatus(DEVICE_STATUS_IDLE, 0);
}

QString UpdateWidget::statusColor() const { return label_->property(kColorProperty).toString(); }

void UpdateWidget::setStatusColor(const char* color) {
    if (label_->property(kColorProperty).toString() == QLatin1String(color)) return;
    label_->setProperty(kColorProperty, color);
    // Before its first polish the selector gives the label its colour; after it, the palette does.
    if (!label_->testAttribute(Qt::WA_WState_Polished)) return;
    QPalette palette = label_->palette();
    palette.setColor(QPalette::WindowText, QColor(QLatin1String(color)));
    label_->setPalette(palette);
}

QString UpdateWidget::reason() const { return reason_label_->text(); }

void UpdateWidget::setReason(const QString& reason) {
    reason_label_->setText(reason);
    reason_label_->setVisible(!reason.isEmpty());
    const QString tip = reason.isEmpty() ? QString() : label_->text() + QStringLiteral("：") + reason;
    // A tooltip that looks like markup is drawn as markup: escape it so it reads as sent.
    setToolTip(Qt::mightBeRichText(tip) ? Qt::convertFromPlainText(tip) : tip);
}

void UpdateWidget::slotSetStatus(DeviceStatus status, int value) {
    if (!reason_label_->text().isEmpty()) setReason(QString());
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
