// A table view that places its cell widgets once per layout rather than once per inserted
// row, and says when the rows in view may have changed, so that the list can make the cell
// widgets of those rows only. The stock view repositions every cell widget of the table on each
// row insertion; the delayed layout that follows an insertion places them anyway, before the
// next paint.
#pragma once

#include <QTableView>

class IndexWidgetTable : public QTableView {
    Q_OBJECT

public:
    explicit IndexWidgetTable(QWidget* parent = nullptr);

Q_SIGNALS:
    // After a layout or a scroll.
    void viewRowsChanged();

protected:
    void updateGeometries() override;
    void scrollContentsBy(int dx, int dy) override;

protected Q_SLOTS:
    void rowsInserted(const QModelIndex& parent, int start, int end) override;
};
