#include "title_widget.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QTimer>

#include "push_button.h"
#include "style_sheet.h"
#include "window_drag.h"

namespace {

// The rolling title advances one character per tick; all title bars share the position.
int g_roll_index = 0;

void setUpButton(PushButton* button, const char* object_name, const char* image, const QString& tool_tip) {
    button->setObjectName(object_name);
    button->setPicName(image);
    button->setFixedSize(20, 20);
    button->setToolTip(tool_tip);
}

}  // namespace

TitleWidget::TitleWidget(QWidget* parent) : QWidget(parent) {
    setFixedHeight(30);
    setWindowFlags(Qt::FramelessWindowHint);

    icon_label_ = new QLabel(this);
    icon_label_->setPixmap(QPixmap(":/base/logo"));
    icon_label_->setFixedSize(120, 30);

    title_label_ = new QLabel(this);
    title_label_->setObjectName("TitleContent");
    title_label_->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);

    button_min_ = new PushButton(this);
    button_restore_ = new PushButton(this);
    button_max_ = new PushButton(this);
    button_close_ = new PushButton(this);
    setUpButton(button_min_, "ButtonMin", ":/title/min", QStringLiteral("最小化"));
    setUpButton(button_restore_, "ButtonRestore", ":/title/restore", QStringLiteral("还原"));
    setUpButton(button_max_, "ButtonMax", ":/title/max", QStringLiteral("最大化"));
    setUpButton(button_close_, "ButtonClose", ":/title/close", QStringLiteral("关闭"));
    // The window starts in its normal size, so only one of maximise / restore is offered.
    button_restore_->setVisible(false);

    auto* layout = new QHBoxLayout(this);
    layout->addWidget(icon_label_);
    layout->addWidget(title_label_);
    layout->addWidget(button_min_);
    layout->addWidget(button_restore_);
    layout->addWidget(button_max_);
    layout->addWidget(button_close_);
    layout->setContentsMargins(5, 0, 0, 0);
    layout->setSpacing(0);

    title_roll_timer_ = new QTimer(this);
    connect(title_roll_timer_, &QTimer::timeout, this, &TitleWidget::onRollTitle);

    connect(button_min_, &PushButton::clicked, this, &TitleWidget::onButtonMinClicked);
    connect(button_restore_, &PushButton::clicked, this, &TitleWidget::onButtonRestoreClicked);
    connect(button_max_, &PushButton::clicked, this, &TitleWidget::onButtonMaxClicked);
    connect(button_close_, &PushButton::clicked, this, &TitleWidget::onButtonCloseClicked);

    loadStyleSheet("lightblue");

    // Any button drags, except that a maximised window stays where it is.
    WindowDrag::install(this,
                        [this](const QMouseEvent*) { return button_type_ != 1 || !button_max_->isHidden(); });
}

void TitleWidget::loadStyleSheet(const QString& sheet_name) {
    QString sheet;
    if (readStyleSheet(":/qss/" + sheet_name + ".css", &sheet)) setStyleSheet(sheet);
}

void TitleWidget::setTitleContent(const QString& title_content) {
    title_content_ = title_content;
    title_label_->setText(title_content_);
}

void TitleWidget::saveRestoreInfo(const QPoint& point, const QSize& size) {
    restore_pos_ = point;
    restore_size_ = size;
}

void TitleWidget::getRestoreInfo(QPoint& point, QSize& size) const {
    point = restore_pos_;
    size = restore_size_;
}

void TitleWidget::setBackgroundColor(const QColor& color) {
    background_color_ = color;
    update();
}

void TitleWidget::setWindowBorderWidth(int border_width) {
    window_border_width_ = border_width;
    update();
}

void TitleWidget::setNoFill(bool no_fill) {
    no_fill_ = no_fill;
    update();
}

void TitleWidget::setButtonType(int button_type) { button_type_ = button_type; }

void TitleWidget::setTitleRoll(int interval_ms) {
    if (interval_ms > 0) {
        title_roll_timer_->start(interval_ms);
    } else {
        title_roll_timer_->stop();
        title_label_->setText(title_content_);
    }
}

void TitleWidget::onRollTitle() {
    const int length = title_content_.length();
    if (g_roll_index > length) g_roll_index = 0;
    title_label_->setText(title_content_.mid(g_roll_index));
    ++g_roll_index;
}

void TitleWidget::onButtonMinClicked() { emit signalButtonMinClicked(); }

void TitleWidget::onButtonRestoreClicked() {
    button_restore_->setVisible(false);
    button_max_->setVisible(true);
    emit signalButtonRestoreClicked();
}

void TitleWidget::onButtonMaxClicked() {
    button_max_->setVisible(false);
    button_restore_->setVisible(true);
    emit signalButtonMaxClicked();
}

void TitleWidget::onButtonCloseClicked() { emit signalButtonCloseClicked(); }

void TitleWidget::paintEvent(QPaintEvent* event) {
    if (!no_fill_) {
        QPainter painter(this);
        QPainterPath path;
        path.setFillRule(Qt::WindingFill);
        path.addRoundedRect(QRectF(rect()), 3, 3);
        painter.setRenderHint(QPainter::Antialiasing, true);
        painter.fillPath(path, QBrush(background_color_));
    }

    // The bar follows its window's width; a bar without a parent keeps its own.
    if (QWidget* parent = parentWidget()) {
        const int wanted = parent->width() - window_border_width_;
        if (width() != wanted && wanted > 0) setFixedWidth(wanted);
    }
    QWidget::paintEvent(event);
}

void TitleWidget::mouseDoubleClickEvent(QMouseEvent* event) {
    if (button_type_ == 1) {
        if (!button_max_->isHidden())
            onButtonMaxClicked();
        else
            onButtonRestoreClicked();
    }
    QWidget::mouseDoubleClickEvent(event);
}
