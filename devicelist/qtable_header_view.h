// Horizontal header whose first section is a check box that ticks or clears every row. The box
// keeps its own state: ticking rows one by one does not change it, and the next click toggles
// from the header's state.
#pragma once

#include <QHeaderView>

class QTableHeaderView : public QHeaderView {
    Q_OBJECT

public:
    explicit QTableHeaderView(QWidget* parent = nullptr);

    bool isChecked() const { return checked_; }
    bool isHover() const { return hover_; }

Q_SIGNALS:
    void stateChanged(Qt::CheckState cs);

protected:
    void paintSection(QPainter* painter, const QRect& rect, int logicalIndex) const override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    void setHover(bool hover);

    bool pressed_ = false;
    bool checked_ = false;
    bool hover_ = false;
};
