// Moves a frameless window while the left button drags anywhere on it.
#pragma once

#include <QPoint>

class QMouseEvent;
class QWidget;

class WindowDrag {
public:
    void press(const QWidget* window, const QMouseEvent* event);
    void move(QWidget* window, const QMouseEvent* event) const;
    void release() { pressed_ = false; }

private:
    bool pressed_ = false;
    QPoint offset_;
};
