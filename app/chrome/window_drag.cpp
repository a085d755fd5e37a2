#include "window_drag.h"

#include <QMouseEvent>
#include <QWidget>

WindowDrag* WindowDrag::install(QWidget* handle, StartRule starts) {
    auto* drag = new WindowDrag(handle, std::move(starts));
    handle->installEventFilter(drag);
    return drag;
}

WindowDrag::WindowDrag(QWidget* handle, StartRule starts) : QObject(handle), starts_(std::move(starts)) {
    if (!starts_) starts_ = [](const QMouseEvent* press) { return press->button() == Qt::LeftButton; };
}

bool WindowDrag::eventFilter(QObject* watched, QEvent* event) {
    QWidget* window = static_cast<QWidget*>(watched)->window();
    switch (event->type()) {
        case QEvent::MouseButtonPress: {
            const auto* press = static_cast<QMouseEvent*>(event);
            if (starts_(press)) {
                pressed_ = true;
                offset_ = press->globalPos() - window->pos();
            }
            break;
        }
        case QEvent::MouseMove:
            if (pressed_) window->move(static_cast<QMouseEvent*>(event)->globalPos() - offset_);
            break;
        case QEvent::MouseButtonRelease:
            pressed_ = false;
            break;
        default:
            break;
    }
    return false;
}
