#include "qtable_header_view.h"

#include <QMouseEvent>
#include <QPainter>
#include <QStyleOptionButton>

QTableHeaderView::QTableHeaderView(QWidget* parent) : QHeaderView(Qt::Horizontal, parent) {
    setMouseTracking(true);
    setHighlightSections(true);
    setStretchLastSection(true);
    setSectionsClickable(true);
}

void QTableHeaderView::paintSection(QPainter* painter, const QRect& rect, int logicalIndex) const {
    painter->save();
    QHeaderView::paintSection(painter, rect, logicalIndex);
    painter->restore();
    if (logicalIndex != 0) return;

    QStyleOptionButton option;
    option.initFrom(this);
    const int w = style()->pixelMetric(QStyle::PM_IndicatorWidth, &option, this);
    const int h = style()->pixelMetric(QStyle::PM_IndicatorHeight, &option, this);
    option.rect = QRect(rect.x() + (rect.width() - w) / 2, rect.y() + (rect.height() - h) / 2, w, h);
    option.state = QStyle::State_Enabled | (checked_ ? QStyle::State_On : QStyle::State_Off);
    if (hover_) option.state |= QStyle::State_MouseOver;
    style()->drawPrimitive(QStyle::PE_IndicatorCheckBox, &option, painter, this);
}

void QTableHeaderView::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton && logicalIndexAt(event->pos()) == 0) {
        pressed_ = true;
        return;
    }
    QHeaderView::mousePressEvent(event);
}

void QTableHeaderView::mouseReleaseEvent(QMouseEvent* event) {
    if (pressed_) {
        pressed_ = false;
        checked_ = !checked_;
        updateSection(0);
        emit stateChanged(checked_ ? Qt::Checked : Qt::Unchecked);
        return;
    }
    QHeaderView::mouseReleaseEvent(event);
}

void QTableHeaderView::mouseMoveEvent(QMouseEvent* event) {
    setHover(logicalIndexAt(event->pos()) == 0);
    QHeaderView::mouseMoveEvent(event);
}

void QTableHeaderView::leaveEvent(QEvent* event) {
    setHover(false);
    QHeaderView::leaveEvent(event);
}

void QTableHeaderView::setHover(bool hover) {
    if (hover_ == hover) return;
    hover_ = hover;
    updateSection(0);
}
