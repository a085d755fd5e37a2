// An image-only button: the image named by setPicName, its "_hover" variant while the mouse is
// over it. It sizes itself to the image and clicks only when a left press is released inside.
#pragma once

#include <QPixmap>
#include <QPushButton>
#include <QString>

class PushButton : public QPushButton {
    Q_OBJECT

public:
    enum ButtonStatus { NORMAL = 0, ENTER = 1, PRESS = 2 };

    explicit PushButton(QWidget* parent = nullptr);

    void setPicName(const QString& pic_name);
    QString picName() const { return pic_name_; }
    int status() const { return status_; }

protected:
    void enterEvent(QEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    QString pic_name_;
    QPixmap normal_pixmap_;
    QPixmap hover_pixmap_;
    int status_ = NORMAL;
    bool mouse_press_ = false;
};
