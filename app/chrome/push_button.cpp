#include "push_button.h"

#include <QMouseEvent>
#include <QPainter>

PushButton::PushButton(QWidget* parent) : QPushButton(parent) {}

void PushButton::setPicName(const QString& pic_name) {
    pic_name_ = pic_name;
    // Both images are loaded here once rather than on every paint.
    normal_pixmap_ = QPixmap(pic_name_);
    hover_pixmap_ = QPixmap(pic_name_ + "_hover");
    setFixedSize(normal_pixmap_.size());
    update();
}

void PushButton::enterEvent(QEvent*) {
    status_ = ENTER;
    setCursor(Qt::ArrowCursor);
    update();
}

void PushButton::leaveEvent(QEvent*) {
    status_ = NORMAL;
    update();
}

void PushButton::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) {
        mouse_press_ = true;
        status_ = PRESS;
        update();
    }
}

void PushButton::mouseReleaseEvent(QMouseEvent* event) {
    if (mouse_press_ && rect().contains(event->pos())) {
        mouse_press_ = false;
        status_ = ENTER;
        update();
        emit clicked();
        return;
    }
    // A release outside never clicks, and the next release must follow a new press.
    mouse_press_ = false;
}

void PushButton::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const QPixmap& pixmap = status_ == ENTER ? hover_pixmap_ : normal_pixmap_;
    painter.drawPixmap(rect(), pixmap);
}
