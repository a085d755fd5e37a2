// A table widget that places its cell widgets once per layout rather than once per inserted
// row. The stock view repositions every cell widget of the table on each row insertion, which
// makes filling a list of a thousand rows with two widgets each quadratic; the delayed layout
// that follows an insertion places them all anyway, before the next paint.
#pragma once

#include <QTableWidget>

class IndexWidgetTable : public QTableWidget {
    Q_OBJECT

public:
    explicit IndexWidgetTable(QWidget* parent = nullptr);

protected Q_SLOTS:
    void rowsInserted(const QModelIndex& parent, int start, int end) override;
};
