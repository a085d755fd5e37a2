// Moves a frameless window while the mouse drags on one of its widgets.
//
// WindowDrag::install(handle) watches `handle` (a dialog, or a title bar) through an event
// filter and moves handle->window(). Every press starts a drag that `starts` accepts (by default
// the left button); the widget still gets its mouse events as before.
#pragma once

#include <QObject>
#include <QPoint>
#include <functional>

class QMouseEvent;
class QWidget;

class WindowDrag : public QObject {
public:
    using StartRule = std::function<bool(const QMouseEvent* press)>;

    // The filter is a child of `handle` and goes with it.
    static WindowDrag* install(QWidget* handle, StartRule starts = StartRule());

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    WindowDrag(QWidget* handle, StartRule starts);

    StartRule starts_;
    bool pressed_ = false;
    // The press's global position minus the window's top-left corner.
    QPoint offset_;
};
