#include "index_widget_table.h"

IndexWidgetTable::IndexWidgetTable(QWidget* parent) : QTableView(parent) {}

void IndexWidgetTable::rowsInserted(const QModelIndex& parent, int start, int end) {
    // A hidden view keeps the stock behaviour (it fetches more rows later); a visible one
    // leaves the cell widgets to the delayed layout the insertion has scheduled.
    if (!isVisible()) QTableView::rowsInserted(parent, start, end);
}

void IndexWidgetTable::updateGeometries() {
    QTableView::updateGeometries();
    emit viewRowsChanged();
}

void IndexWidgetTable::scrollContentsBy(int dx, int dy) {
    QTableView::scrollContentsBy(dx, dy);
    if (dy != 0) emit viewRowsChanged();
}
