#include "window_drag.h"

#include <QMouseEvent>
#include <QWidget>

void WindowDrag::press(const QWidget* window, const QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) return;
    pressed_ = true;
    offset_ = event->globalPos() - window->pos();
}

void WindowDrag::move(QWidget* window, const QMouseEvent* event) const {
    if (pressed_) window->move(event->globalPos() - offset_);
}
