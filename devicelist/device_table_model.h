// The rows of a device list, held by the list itself rather than as one item object per cell: a
// row is a few texts and values in one allocation, rows are kept in a vector of pointers, so an
// insertion in the middle moves one pointer per row after it, and emptying the list hands the
// whole storage to the caller in one swap (to be freed wherever the caller likes).
//
// The view reads it as any table model: the display text per column, the check state of
// column 0, and the roles a list keeps on a cell (DeviceRowRole and the lists' own roles).
#pragma once

#include <QAbstractTableModel>
#include <QBrush>
#include <QString>
#include <QVariant>
#include <array>
#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

#include "deviceinfo.h"

struct DeviceRow {
    struct CellRole {
        int column;
        int role;
        QVariant value;
    };

    std::array<QString, kDeviceColumnCount> text;
    // The values of other roles, each on its cell; a row has a handful.
    std::vector<CellRole> roles;
    Qt::CheckState check = Qt::Unchecked;
    // What the list orders its rows by, computed once when the row went in.
    std::uint64_t key = 0;

    QVariant value(int column, int role) const;
    // An invalid value takes the role off the cell.
    void setValue(int column, int role, const QVariant& value);
};

// Owns its rows, in blocks of a few hundred: an insertion in the middle moves the rows after it
// within its block only, and the blocks' first rows are counted in a small array. Each block
// also keeps its rows' keys side by side, so that finding a key's place reads a few cache lines
// rather than one row per step.
class DeviceRows {
public:
    DeviceRows() = default;
    DeviceRows(DeviceRows&& other) noexcept { swap(other); }
    DeviceRows& operator=(DeviceRows&& other) noexcept;
    DeviceRows(const DeviceRows&) = delete;
    DeviceRows& operator=(const DeviceRows&) = delete;
    ~DeviceRows() { clear(); }

    size_t size() const { return size_; }
    bool empty() const { return size_ == 0; }
    // `at` < size().
    DeviceRow* operator[](size_t at) const;
    void insert(size_t at, std::unique_ptr<DeviceRow> row);
    std::unique_ptr<DeviceRow> take(size_t at);
    void clear();
    void swap(DeviceRows& other) noexcept;
    // For rows in key order: the first row with a key above `key`, or not below it.
    size_t upperBound(std::uint64_t key) const;
    size_t lowerBound(std::uint64_t key) const;

private:
    struct Block {
        std::vector<std::uint64_t> keys;
        std::vector<DeviceRow*> rows;
    };
    // The block holding row `at` and the row's place in it.
    std::pair<size_t, size_t> locate(size_t at) const;
    template <typename Before>
    size_t bound(std::uint64_t key, Before before) const;

    std::vector<Block> blocks_;
    // The index of each block's first row.
    std::vector<size_t> starts_;
    size_t size_ = 0;
};

class DeviceTableModel : public QAbstractTableModel {
    Q_OBJECT

public:
    using Rows = DeviceRows;

    explicit DeviceTableModel(QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role) override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

    // Null for a row that does not exist. A change made through the row itself is not shown:
    // what the view shows goes through setCellValue or setCheckState.
    const DeviceRow* row(int row) const;
    DeviceRow* row(int row);
    void insertRow(int row, std::unique_ptr<DeviceRow> content);
    void removeRow(int row);
    // Moves the row to `to`, an index among the other rows, with `key` as its new key, as a
    // removal and an insertion.
    void moveRow(int from, int to, std::uint64_t key);
    // For rows in key order: the first row with a key above `key`, or not below it.
    int upperBound(std::uint64_t key) const { return static_cast<int>(rows_.upperBound(key)); }
    int lowerBound(std::uint64_t key) const { return static_cast<int>(rows_.lowerBound(key)); }
    // Every row off the model; the model is empty after it.
    Rows takeAll();

    // Changes a cell and tells the view; false when the row does not exist.
    bool setCellValue(int row, int column, int role, const QVariant& value);
    void setCheckState(int row, Qt::CheckState state);

    void setHeaderTexts(const QStringList& texts);
    QString headerText(int column) const;
    void setHeaderText(int column, const QString& text, const QBrush& foreground);

private:
    DeviceRows rows_;
    std::array<QString, kDeviceColumnCount> header_texts_;
    std::array<QBrush, kDeviceColumnCount> header_foregrounds_;
};
