// The frameless window's title bar: logo, title, minimise / restore / maximise / close. It drags
// its window, swaps maximise and restore on a double click, and keeps the window's normal
// geometry for the restore.
#pragma once

#include <QColor>
#include <QPoint>
#include <QSize>
#include <QString>
#include <QWidget>

class QLabel;
class QTimer;
class PushButton;

class TitleWidget : public QWidget {
    Q_OBJECT

public:
    explicit TitleWidget(QWidget* parent = nullptr);

    void setTitleContent(const QString& title_content);
    QString titleContent() const { return title_content_; }

    // Written by the window's maximise slot, read back by its restore slot.
    void saveRestoreInfo(const QPoint& point, const QSize& size);
    void getRestoreInfo(QPoint& point, QSize& size) const;

    void setBackgroundColor(const QColor& color);
    QColor backgroundColor() const { return background_color_; }
    void setWindowBorderWidth(int border_width);
    void setNoFill(bool no_fill);
    // 1 enables the double-click swap and keeps a maximised window from being dragged.
    void setButtonType(int button_type);

    // Starts (interval > 0) or stops the rolling title.
    void setTitleRoll(int interval_ms);

    PushButton* buttonMin() const { return button_min_; }
    PushButton* buttonRestore() const { return button_restore_; }
    PushButton* buttonMax() const { return button_max_; }
    PushButton* buttonClose() const { return button_close_; }
    QLabel* titleLabel() const { return title_label_; }

Q_SIGNALS:
    void signalButtonMinClicked();
    void signalButtonRestoreClicked();
    void signalButtonMaxClicked();
    void signalButtonCloseClicked();

private Q_SLOTS:
    void onButtonMinClicked();
    void onButtonRestoreClicked();
    void onButtonMaxClicked();
    void onButtonCloseClicked();
    void onRollTitle();

protected:
    void paintEvent(QPaintEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;

private:
    void loadStyleSheet(const QString& sheet_name);

    QLabel* icon_label_ = nullptr;
    QLabel* title_label_ = nullptr;
    PushButton* button_min_ = nullptr;
    PushButton* button_restore_ = nullptr;
    PushButton* button_max_ = nullptr;
    PushButton* button_close_ = nullptr;

    QPoint restore_pos_;
    QSize restore_size_;
    QColor background_color_{100, 100, 100};
    QTimer* title_roll_timer_ = nullptr;
    QString title_content_;
    int button_type_ = 1;
    int window_border_width_ = 0;
    bool no_fill_ = false;
};
