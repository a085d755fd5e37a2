#include "index_widget_table.h"

IndexWidgetTable::IndexWidgetTable(QWidget* parent) : QTableWidget(parent) {}

void IndexWidgetTable::rowsInserted(const QModelIndex& parent, int start, int end) {
    // A hidden view keeps the stock behaviour (it fetches more rows later); a visible one
    // leaves the cell widgets to the delayed layout the insertion has scheduled.
    if (!isVisible()) QTableWidget::rowsInserted(parent, start, end);
}

void IndexWidgetTable::updateGeometries() {
    QTableWidget::updateGeometries();
    emit viewRowsChanged();
}

void IndexWidgetTable::scrollContentsBy(int dx, int dy) {
    QTableWidget::scrollContentsBy(dx, dy);
    if (dy != 0) emit viewRowsChanged();
}
