#include "device_table_model.h"

#include <algorithm>
#include <utility>

QVariant DeviceRow::value(int column, int role) const {
    for (const CellRole& entry : roles) {
        if (entry.column == column && entry.role == role) return entry.value;
    }
    return QVariant();
}

void DeviceRow::setValue(int column, int role, const QVariant& value) {
    for (auto it = roles.begin(); it != roles.end(); ++it) {
        if (it->column != column || it->role != role) continue;
        if (value.isValid())
            it->value = value;
        else
            roles.erase(it);
        return;
    }
    if (value.isValid()) roles.push_back({column, role, value});
}

namespace {

// A block splits in two halves when it passes twice this.
constexpr size_t kBlockRows = 256;

}  // namespace

DeviceRows& DeviceRows::operator=(DeviceRows&& other) noexcept {
    if (this != &other) {
        clear();
        swap(other);
    }
    return *this;
}

void DeviceRows::swap(DeviceRows& other) noexcept {
    blocks_.swap(other.blocks_);
    starts_.swap(other.starts_);
    std::swap(size_, other.size_);
}

std::pair<size_t, size_t> DeviceRows::locate(size_t at) const {
    const size_t block =
        static_cast<size_t>(std::upper_bound(starts_.begin(), starts_.end(), at) - starts_.begin()) - 1;
    return {block, at - starts_[block]};
}

DeviceRow* DeviceRows::operator[](size_t at) const {
    const std::pair<size_t, size_t> place = locate(at);
    return blocks_[place.first].rows[place.second];
}

void DeviceRows::insert(size_t at, std::unique_ptr<DeviceRow> row) {
    if (blocks_.empty()) {
        blocks_.emplace_back();
        starts_.push_back(0);
    }
    std::pair<size_t, size_t> place;
    if (at >= size_)
        place = {blocks_.size() - 1, blocks_.back().rows.size()};
    else
        place = locate(at);
    Block& block = blocks_[place.first];
    block.keys.insert(block.keys.begin() + static_cast<std::ptrdiff_t>(place.second), row->key);
    block.rows.insert(block.rows.begin() + static_cast<std::ptrdiff_t>(place.second), row.release());
    for (size_t later = place.first + 1; later < starts_.size(); ++later) ++starts_[later];
    ++size_;
    if (block.rows.size() <= 2 * kBlockRows) return;
    Block second;
    const auto half = static_cast<std::ptrdiff_t>(kBlockRows);
    second.keys.assign(block.keys.begin() + half, block.keys.end());
    second.rows.assign(block.rows.begin() + half, block.rows.end());
    block.keys.resize(kBlockRows);
    block.rows.resize(kBlockRows);
    const size_t second_start = starts_[place.first] + kBlockRows;
    blocks_.insert(blocks_.begin() + static_cast<std::ptrdiff_t>(place.first) + 1, std::move(second));
    starts_.insert(starts_.begin() + static_cast<std::ptrdiff_t>(place.first) + 1, second_start);
}

std::unique_ptr<DeviceRow> DeviceRows::take(size_t at) {
    const std::pair<size_t, size_t> place = locate(at);
    Block& block = blocks_[place.first];
    std::unique_ptr<DeviceRow> row(block.rows[place.second]);
    block.keys.erase(block.keys.begin() + static_cast<std::ptrdiff_t>(place.second));
    block.rows.erase(block.rows.begin() + static_cast<std::ptrdiff_t>(place.second));
    for (size_t later = place.first + 1; later < starts_.size(); ++later) --starts_[later];
    --size_;
    // The searches read each block's last key: no block stays empty.
    if (block.rows.empty()) {
        blocks_.erase(blocks_.begin() + static_cast<std::ptrdiff_t>(place.first));
        starts_.erase(starts_.begin() + static_cast<std::ptrdiff_t>(place.first));
    }
    return row;
}

void DeviceRows::clear() {
    for (Block& block : blocks_) {
        for (DeviceRow* row : block.rows) delete row;
    }
    blocks_.clear();
    starts_.clear();
    size_ = 0;
}

template <typename Before>
size_t DeviceRows::bound(std::uint64_t key, Before before) const {
    // The first block whose last key is not before `key` holds the place, if any block does.
    size_t low = 0;
    size_t high = blocks_.size();
    while (low < high) {
        const size_t middle = low + (high - low) / 2;
        if (before(blocks_[middle].keys.back(), key))
            low = middle + 1;
        else
            high = middle;
    }
    if (low == blocks_.size()) return size_;
    const std::vector<std::uint64_t>& keys = blocks_[low].keys;
    const auto in_block = std::partition_point(keys.begin(), keys.end(),
                                               [&](std::uint64_t other) { return before(other, key); });
    return starts_[low] + static_cast<size_t>(in_block - keys.begin());
}

size_t DeviceRows::upperBound(std::uint64_t key) const {
    return bound(key, [](std::uint64_t row_key, std::uint64_t wanted) { return row_key <= wanted; });
}

size_t DeviceRows::lowerBound(std::uint64_t key) const {
    return bound(key, [](std::uint64_t row_key, std::uint64_t wanted) { return row_key < wanted; });
}

DeviceTableModel::DeviceTableModel(QObject* parent) : QAbstractTableModel(parent) {}

int DeviceTableModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int DeviceTableModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : kDeviceColumnCount;
}

const DeviceRow* DeviceTableModel::row(int row) const {
    if (row < 0 || row >= static_cast<int>(rows_.size())) return nullptr;
    return rows_[static_cast<size_t>(row)];
}

DeviceRow* DeviceTableModel::row(int row) {
    return const_cast<DeviceRow*>(static_cast<const DeviceTableModel*>(this)->row(row));
}

QVariant DeviceTableModel::data(const QModelIndex& index, int role) const {
    const DeviceRow* content = row(index.row());
    if (!content || index.column() < 0 || index.column() >= kDeviceColumnCount) return QVariant();
    switch (role) {
        case Qt::DisplayRole:
        case Qt::EditRole:
            return content->text[static_cast<size_t>(index.column())];
        case Qt::CheckStateRole:
            return index.column() == kColumnCheck ? QVariant(static_cast<int>(content->check)) : QVariant();
        case Qt::TextAlignmentRole:
            return index.column() == kColumnCheck ? QVariant(static_cast<int>(Qt::AlignVCenter)) : QVariant();
        default:
            return content->value(index.column(), role);
    }
}

bool DeviceTableModel::setData(const QModelIndex& index, const QVariant& value, int role) {
    if (!row(index.row())) return false;
    // The view sets only the tick (a click or the space key); the texts are read-only to it.
    if (role != Qt::CheckStateRole || index.column() != kColumnCheck) return false;
    setCheckState(index.row(), static_cast<Qt::CheckState>(value.toInt()));
    return true;
}

Qt::ItemFlags DeviceTableModel::flags(const QModelIndex& index) const {
    if (!index.isValid()) return Qt::NoItemFlags;
    Qt::ItemFlags flags = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
    if (index.column() == kColumnCheck) flags |= Qt::ItemIsUserCheckable;
    return flags;
}

QVariant DeviceTableModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || section < 0 || section >= kDeviceColumnCount)
        return QAbstractTableModel::headerData(section, orientation, role);
    if (role == Qt::DisplayRole) return header_texts_[static_cast<size_t>(section)];
    if (role == Qt::ForegroundRole &&
        header_foregrounds_[static_cast<size_t>(section)].style() != Qt::NoBrush)
        return header_foregrounds_[static_cast<size_t>(section)];
    return QVariant();
}

void DeviceTableModel::insertRow(int row, std::unique_ptr<DeviceRow> content) {
    row = std::max(0, std::min(row, static_cast<int>(rows_.size())));
    beginInsertRows(QModelIndex(), row, row);
    rows_.insert(static_cast<size_t>(row), std::move(content));
    endInsertRows();
}

void DeviceTableModel::removeRow(int row) {
    if (!this->row(row)) return;
    beginRemoveRows(QModelIndex(), row, row);
    rows_.take(static_cast<size_t>(row));
    endRemoveRows();
}

void DeviceTableModel::moveRow(int from, int to, std::uint64_t key) {
    if (!row(from)) return;
    // A removal and an insertion rather than a move: the row's cell widgets go with the old place
    // and are made again for the new one, with what the row holds then.
    beginRemoveRows(QModelIndex(), from, from);
    std::unique_ptr<DeviceRow> content = rows_.take(static_cast<size_t>(from));
    content->key = key;
    endRemoveRows();
    insertRow(to, std::move(content));
}

DeviceRows DeviceTableModel::takeAll() {
    DeviceRows taken;
    beginResetModel();
    taken = std::move(rows_);
    endResetModel();
    return taken;
}

bool DeviceTableModel::setCellValue(int row, int column, int role, const QVariant& value) {
    if (!this->row(row) || column < 0 || column >= kDeviceColumnCount) return false;
    DeviceRow& content = *rows_[static_cast<size_t>(row)];
    if (role == Qt::DisplayRole || role == Qt::EditRole)
        content.text[static_cast<size_t>(column)] = value.toString();
    else
        content.setValue(column, role, value);
    const QModelIndex changed = index(row, column);
    emit dataChanged(changed, changed, {role});
    return true;
}

void DeviceTableModel::setCheckState(int row, Qt::CheckState state) {
    if (!this->row(row)) return;
    DeviceRow& content = *rows_[static_cast<size_t>(row)];
    if (content.check == state) return;
    content.check = state;
    const QModelIndex changed = index(row, kColumnCheck);
    emit dataChanged(changed, changed, {Qt::CheckStateRole});
}

void DeviceTableModel::setHeaderTexts(const QStringList& texts) {
    for (int column = 0; column < kDeviceColumnCount && column < texts.size(); ++column)
        header_texts_[static_cast<size_t>(column)] = texts[column];
    emit headerDataChanged(Qt::Horizontal, 0, kDeviceColumnCount - 1);
}

QString DeviceTableModel::headerText(int column) const {
    if (column < 0 || column >= kDeviceColumnCount) return QString();
    return header_texts_[static_cast<size_t>(column)];
}

void DeviceTableModel::setHeaderText(int column, const QString& text, const QBrush& foreground) {
    if (column < 0 || column >= kDeviceColumnCount) return;
    header_texts_[static_cast<size_t>(column)] = text;
    header_foregrounds_[static_cast<size_t>(column)] = foreground;
    emit headerDataChanged(Qt::Horizontal, column, column);
}
