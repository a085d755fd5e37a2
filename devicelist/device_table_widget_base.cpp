#include "device_table_widget_base.h"

#include <windows.h>

#include <QHeaderView>
#include <QTableView>
#include <QVBoxLayout>
#include <algorithm>
#include <cstdio>
#include <functional>
#include <utility>

#include "btn_tools_widget.h"
#include "index_widget_table.h"
#include "logging.h"
#include "message_dialog.h"
#include "qtable_header_view.h"
#include "xlsbook/workbook_file.h"

namespace {

constexpr int kRowHeight = 24;
// Roles of the status item (column 1), apart from the first cell's roles.
constexpr int kRoleStatus = Qt::UserRole + 16;
constexpr int kRoleStatusValue = Qt::UserRole + 17;
// Set when the row's status cell is shown greyed; absent means enabled.
constexpr int kRoleStatusDisabled = Qt::UserRole + 18;
// A number that names the row for as long as it exists, given on request (rowToken).
constexpr int kRoleRowToken = Qt::UserRole + 19;
// Why the row has its status; absent when nothing needs saying.
constexpr int kRoleStatusReason = Qt::UserRole + 20;
// The MAC ("00:1A:2B:3C:4D:5E") and start-up time ("2026-12-04 08:00:00") columns are wide
// enough for their whole text; the port column gives up what they take. The status column has
// room for a failure's reason after the status ("升级失败 设备登陆失败"); the lens code (one digit),
// the version, the gateway and the mask give up what it takes.
constexpr int kColumnWidths[kDeviceColumnCount] = {40, 190, 50, 90, 140, 90, 130, 150, 120, 115, 115, 120};

bool isDottedIpv4(const std::string& ip) {
    int parts = 0;
    size_t pos = 0;
    while (true) {
        const size_t dot = ip.find('.', pos);
        const std::string piece = ip.substr(pos, dot == std::string::npos ? std::string::npos : dot - pos);
        if (piece.empty() || piece.size() > 3) return false;
        for (char c : piece)
            if (c < '0' || c > '9') return false;
        if (std::stoi(piece) > 255) return false;
        ++parts;
        if (dot == std::string::npos) break;
        pos = dot + 1;
    }
    return parts == 4;
}

// The text columns a record fills, in the table's order; a new row and a camera that answers
// again both take them from here.
void forEachTextColumn(const DeviceInfo& info, const QString& column2_text,
                       const std::function<void(int, const QString&)>& set) {
    set(kColumnLensOrLogin, column2_text);
    set(kColumnFirmware, QString::fromStdString(info.firmware_version));
    set(kColumnSerial, serialNumberText(info.serial_high, info.serial_low));
    set(kColumnPort, QString::number(info.port));
    set(kColumnMac, QString::fromStdString(info.mac_addr));
    set(kColumnBootTime, QString::fromStdString(info.boot_time));
    set(kColumnIp, QString::fromStdString(info.ip_addr));
    set(kColumnGateway, QString::fromStdString(info.gateway));
    set(kColumnNetmask, QString::fromStdString(info.netmask));
}

}  // namespace

DeviceTableWidgetBase::DeviceTableWidgetBase(QWidget* parent, UiJobQueuePtr ui_job_queue)
    : QWidget(parent), parent_widget_(parent), ui_job_queue_(std::move(ui_job_queue)) {
    registerDeviceMetaTypes();

    table_view_ = new IndexWidgetTable(this);
    table_view_->setObjectName("table_widget");
    table_view_->setStyleSheet(UpdateWidget::tableStyleSheet());
    model_ = new DeviceTableModel(table_view_);
    table_view_->setModel(model_);
    followRowsForIpIndex();

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(table_view_);
    layout->setContentsMargins(5, 0, 0, 0);
    layout->setSpacing(0);
}

DeviceTableWidgetBase::~DeviceTableWidgetBase() {
    // The table outlives this part of the object while the widget base deletes its children.
    disconnect(table_view_, nullptr, this, nullptr);
}

void DeviceTableWidgetBase::initTable(const QString& column2_header) {
    header_view_ = new QTableHeaderView(table_view_);
    table_view_->setHorizontalHeader(header_view_);
    model_->setHeaderTexts({"", QStringLiteral("状态"), column2_header, QStringLiteral("固件版本"),
                            QStringLiteral("序列号"), QStringLiteral("端口"), "MAC",
                            QStringLiteral("启动时间"), "IP", QStringLiteral("网关"),
                            QStringLiteral("子网掩码"), QStringLiteral("操作")});
    for (int column = 0; column < kDeviceColumnCount; ++column)
        table_view_->setColumnWidth(column, kColumnWidths[column]);

    table_view_->setSelectionBehavior(QAbstractItemView::SelectRows);
    table_view_->setSelectionMode(QAbstractItemView::SingleSelection);
    table_view_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table_view_->setAlternatingRowColors(true);
    table_view_->setSortingEnabled(false);
    table_view_->verticalHeader()->setVisible(false);
    // The style's minimum row height can exceed 24 with larger fonts.
    table_view_->verticalHeader()->setMinimumSectionSize(kRowHeight);
    table_view_->verticalHeader()->setDefaultSectionSize(kRowHeight);
    header_view_->setSortIndicatorShown(true);
    header_view_->setSortIndicator(kColumnStatus, Qt::DescendingOrder);
    header_view_->setSectionsClickable(true);

    connect(header_view_, &QTableHeaderView::stateChanged, this,
            &DeviceTableWidgetBase::slotHeaderStateChanged);
    connect(table_view_, &QTableView::clicked, this, &DeviceTableWidgetBase::slotItemClicked);
    connect(static_cast<IndexWidgetTable*>(table_view_), &IndexWidgetTable::viewRowsChanged, this,
            &DeviceTableWidgetBase::createCellsInView);
}

void DeviceTableWidgetBase::insertRow(int row, const DeviceInfo& info, const QString& column2_text,
                                      bool with_login_roles, std::uint64_t key) {
    auto content = std::make_unique<DeviceRow>();
    content->key = key;
    content->roles.reserve(with_login_roles ? 8 : 6);
    auto set = [&](int role, const QVariant& value) {
        content->roles.push_back({kColumnCheck, role, value});
    };
    set(kRoleNetmask, QString::fromStdString(info.netmask));
    set(kRoleGateway, QString::fromStdString(info.gateway));
    set(kRoleSerialHigh, static_cast<uint>(info.serial_high));
    set(kRoleSerialLow, static_cast<uint>(info.serial_low));
    if (with_login_roles) {
        set(kRoleUserName, QString::fromStdString(info.user_name));
        set(kRolePassword, QString::fromStdString(info.pass_word));
    }
    // No text in the status column: the status cell draws over it.
    content->roles.push_back({kColumnStatus, kRoleStatus, static_cast<int>(DEVICE_STATUS_IDLE)});
    content->roles.push_back({kColumnStatus, kRoleStatusValue, 0});
    forEachTextColumn(info, column2_text, [&](int column, const QString& text) {
        content->text[static_cast<size_t>(column)] = text;
    });
    model_->insertRow(row, std::move(content));
}

void DeviceTableWidgetBase::removeRow(int row) { model_->removeRow(row); }

std::uint64_t DeviceTableWidgetBase::rowKey(int row) const {
    const DeviceRow* content = model_->row(row);
    return content ? content->key : 0;
}

int DeviceTableWidgetBase::rowCount() const { return model_->rowCount(); }

QString DeviceTableWidgetBase::cellText(int row, int column) const {
    const DeviceRow* content = model_->row(row);
    if (!content || column < 0 || column >= kDeviceColumnCount) return QString();
    return content->text[static_cast<size_t>(column)];
}

QVariant DeviceTableWidgetBase::cellData(int row, int column, int role) const {
    return model_->data(model_->index(row, column), role);
}

void DeviceTableWidgetBase::setCellText(int row, int column, const QString& text) {
    model_->setCellValue(row, column, Qt::DisplayRole, text);
}

bool DeviceTableWidgetBase::setCellData(int row, int column, int role, const QVariant& value) {
    return model_->setCellValue(row, column, role, value);
}

Qt::CheckState DeviceTableWidgetBase::rowCheckState(int row) const {
    const DeviceRow* content = model_->row(row);
    return content ? content->check : Qt::Unchecked;
}

BtnToolsWidget* DeviceTableWidgetBase::attachTools(int row, const DeviceInfo& record) {
    auto* tools = new BtnToolsWidget();
    tools->setDeviceInfo(record);
    connect(tools, &BtnToolsWidget::signalButtonIeClicked, this, &DeviceTableWidgetBase::slotOpenWebPage);
    connect(tools, &BtnToolsWidget::signalButtonVideoClicked, this, &DeviceTableWidgetBase::slotOpenVideo);
    table_view_->setIndexWidget(model_->index(row, kColumnTools), tools);
    return tools;
}

void DeviceTableWidgetBase::refreshRow(int row, const DeviceInfo& info, const QString& column2_text) {
    if (!model_->row(row)) return;
    setCellData(row, kColumnCheck, kRoleNetmask, QString::fromStdString(info.netmask));
    setCellData(row, kColumnCheck, kRoleGateway, QString::fromStdString(info.gateway));
    forEachTextColumn(info, column2_text,
                      [&](int column, const QString& text) { setCellText(row, column, text); });
    // The buttons would otherwise still open the old address.
    if (auto* tools =
            qobject_cast<BtnToolsWidget*>(table_view_->indexWidget(model_->index(row, kColumnTools))))
        tools->setDeviceInfo(toolsRecord(row));
}

void DeviceTableWidgetBase::moveRow(int from, int to, std::uint64_t key) {
    if (!model_->row(from)) return;
    model_->moveRow(from, to, key);
}

bool DeviceTableWidgetBase::isRowShown(int row) const { return !table_view_->isRowHidden(row); }

UpdateWidget* DeviceTableWidgetBase::existingStatusCell(int row) const {
    return qobject_cast<UpdateWidget*>(table_view_->indexWidget(model_->index(row, kColumnStatus)));
}

UpdateWidget* DeviceTableWidgetBase::statusCell(int row) const {
    UpdateWidget* cell = existingStatusCell(row);
    const DeviceRow* content = model_->row(row);
    if (cell || !content) return cell;
    cell = new UpdateWidget();
    cell->slotSetStatus(rowStatus(row), content->value(kColumnStatus, kRoleStatusValue).toInt());
    cell->setReason(content->value(kColumnStatus, kRoleStatusReason).toString());
    if (content->value(kColumnStatus, kRoleStatusDisabled).toBool()) cell->setEnabled(false);
    table_view_->setIndexWidget(model_->index(row, kColumnStatus), cell);
    return cell;
}

quint64 DeviceTableWidgetBase::rowToken(int row) {
    DeviceRow* content = model_->row(row);
    if (!content) return 0;
    quint64 token = content->value(kColumnStatus, kRoleRowToken).toULongLong();
    if (token != 0) return token;
    token = ++last_row_token_;
    // Nothing the view shows: no need to tell it.
    content->setValue(kColumnStatus, kRoleRowToken, token);
    return token;
}

int DeviceTableWidgetBase::rowOfToken(quint64 token, int hint) const {
    auto holds = [&](int row) {
        const DeviceRow* content = model_->row(row);
        return content && content->value(kColumnStatus, kRoleRowToken).toULongLong() == token;
    };
    const int rows = rowCount();
    if (token == 0) return -1;
    if (hint >= 0 && hint < rows && holds(hint)) return hint;
    for (int row = 0; row < rows; ++row) {
        if (holds(row)) return row;
    }
    return -1;
}

void DeviceTableWidgetBase::setStatusCellEnabled(int row, bool enabled) {
    if (!setCellData(row, kColumnStatus, kRoleStatusDisabled, enabled ? QVariant() : QVariant(true))) return;
    if (UpdateWidget* cell = existingStatusCell(row)) cell->setEnabled(enabled);
}

BtnToolsWidget* DeviceTableWidgetBase::toolsCell(int row) const {
    auto* tools = qobject_cast<BtnToolsWidget*>(table_view_->indexWidget(model_->index(row, kColumnTools)));
    if (tools || row < 0 || row >= rowCount()) return tools;
    // Making a cell changes no row: it only shows what the row holds.
    return const_cast<DeviceTableWidgetBase*>(this)->attachTools(row, toolsRecord(row));
}

DeviceInfo DeviceTableWidgetBase::toolsRecord(int row) const {
    DeviceInfo record = deviceInfoFromRow(model_, row);
    record.row = 0;
    return record;
}

DeviceStatus DeviceTableWidgetBase::rowStatus(int row) const {
    const DeviceRow* content = model_->row(row);
    return content ? static_cast<DeviceStatus>(content->value(kColumnStatus, kRoleStatus).toInt())
                   : DEVICE_STATUS_IDLE;
}

bool DeviceTableWidgetBase::storeRowStatus(int row, DeviceStatus status, int value) {
    DeviceRow* content = model_->row(row);
    if (!content) return false;
    // The status cell shows it; the model's copy is for cells made later, counts and filters.
    content->setValue(kColumnStatus, kRoleStatus, static_cast<int>(status));
    content->setValue(kColumnStatus, kRoleStatusValue, value);
    content->setValue(kColumnStatus, kRoleStatusReason, QVariant());
    return true;
}

void DeviceTableWidgetBase::setRowReason(int row, const QString& reason) {
    if (!setCellData(row, kColumnStatus, kRoleStatusReason, reason.isEmpty() ? QVariant() : QVariant(reason)))
        return;
    if (UpdateWidget* cell = existingStatusCell(row)) cell->setReason(reason);
}

QString DeviceTableWidgetBase::rowReason(int row) const {
    const DeviceRow* content = model_->row(row);
    return content ? content->value(kColumnStatus, kRoleStatusReason).toString() : QString();
}

void DeviceTableWidgetBase::createCellsInView() {
    // Making a cell lays the view out again, which lands here once more.
    if (creating_cells_ || !table_view_->isVisible()) return;
    creating_cells_ = true;
    const int rows = rowCount();
    const int height = table_view_->viewport()->height();
    for (int row = std::max(0, table_view_->rowAt(0)); row < rows; ++row) {
        if (table_view_->isRowHidden(row)) continue;
        if (table_view_->rowViewportPosition(row) > height) break;
        statusCell(row);
        toolsCell(row);
    }
    creating_cells_ = false;
}

std::vector<DeviceInfo>& DeviceTableWidgetBase::getSelectedDevices() {
    selected_devices_.clear();
    for (int row = 0; row < rowCount(); ++row) {
        if (rowCheckState(row) == Qt::Checked && isRowShown(row))
            selected_devices_.push_back(deviceInfoFromRow(model_, row));
    }
    return selected_devices_;
}

void DeviceTableWidgetBase::clearDevices() { model_->takeAll(); }

DeviceTableModel::Rows DeviceTableWidgetBase::takeAllRows() { return model_->takeAll(); }

void DeviceTableWidgetBase::followRowsForIpIndex() {
    const auto drop = [this] {
        ip_rows_valid_ = false;
        ip_rows_.clear();
    };
    connect(model_, &QAbstractItemModel::rowsInserted, this,
            [this, drop](const QModelIndex&, int first, int last) {
                if (!ip_rows_valid_) return;
                if (last != rowCount() - 1) return drop();  // the rows after them moved
                for (int row = first; row <= last; ++row) {
                    const QString ip = cellText(row, kColumnIp);
                    if (!ip_rows_.contains(ip)) ip_rows_.insert(ip, row);
                }
            });
    connect(model_, &QAbstractItemModel::rowsRemoved, this, drop);
    connect(model_, &QAbstractItemModel::rowsMoved, this, drop);
    connect(model_, &QAbstractItemModel::modelReset, this, drop);
    connect(model_, &QAbstractItemModel::layoutChanged, this, drop);
    connect(model_, &QAbstractItemModel::dataChanged, this,
            [drop](const QModelIndex& from, const QModelIndex& to, const QVector<int>& roles) {
                const bool text =
                    roles.isEmpty() || roles.contains(Qt::DisplayRole) || roles.contains(Qt::EditRole);
                if (text && from.column() <= kColumnIp && kColumnIp <= to.column()) drop();
            });
}

bool DeviceTableWidgetBase::findRowByIp(const std::string& ip, int& row) const {
    if (!ip_rows_valid_) {
        ip_rows_.clear();
        ip_rows_.reserve(rowCount());
        for (int r = 0; r < rowCount(); ++r) {
            const QString text = cellText(r, kColumnIp);
            if (!ip_rows_.contains(text)) ip_rows_.insert(text, r);
        }
        ip_rows_valid_ = true;
    }
    const auto found = ip_rows_.constFind(QString::fromStdString(ip));
    if (found == ip_rows_.constEnd()) return false;
    row = found.value();
    return true;
}

int DeviceTableWidgetBase::checkedRowCount() const {
    int count = 0;
    for (int row = 0; row < rowCount(); ++row) {
        if (rowCheckState(row) == Qt::Checked && isRowShown(row)) ++count;
    }
    return count;
}

bool DeviceTableWidgetBase::exportShownRows(const std::string& path) const {
    xlsbook::WorkbookFile book;
    xlsbook::WorksheetView* sheet = book.add_worksheet("sheet_1");
    if (!sheet) return false;
    // The check box and the tool buttons hold nothing to export.
    constexpr int kFirst = kColumnStatus;
    constexpr int kLast = kColumnNetmask;
    auto put = [&](size_t row, int column, const QString& text) {
        if (xlsbook::CellValue* cell = sheet->cell(row, static_cast<size_t>(column - kFirst)))
            cell->set_text(text.toUtf8().toStdString());
    };
    for (int column = kFirst; column <= kLast; ++column) put(0, column, model_->headerText(column));
    size_t out = 1;
    for (int row = 0; row < rowCount(); ++row) {
        if (!isRowShown(row)) continue;
        put(out, kColumnStatus, deviceStatusText(rowStatus(row)));
        for (int column = kColumnStatus + 1; column <= kLast; ++column)
            put(out, column, cellText(row, column));
        ++out;
    }
    return book.save_as(path);
}

int DeviceTableWidgetBase::shownRowCount() const {
    int count = 0;
    for (int row = 0; row < rowCount(); ++row) {
        if (isRowShown(row)) ++count;
    }
    return count;
}

void DeviceTableWidgetBase::updateCounts() {
    emit signalsSelectedChange(checkedRowCount());
    emit signalsDeviceNumChange(shownRowCount());
}

void DeviceTableWidgetBase::checkAll() {
    for (int row = 0; row < rowCount(); ++row) {
        if (isRowShown(row)) setRowCheckState(row, Qt::Checked);
    }
    emit signalsSelectedChange(checkedRowCount());
}

void DeviceTableWidgetBase::clearAll() {
    for (int row = 0; row < rowCount(); ++row) setRowCheckState(row, Qt::Unchecked);
    emit signalsSelectedChange(0);
}

void DeviceTableWidgetBase::untickRow(int row) { setRowCheckState(row, Qt::Unchecked); }

void DeviceTableWidgetBase::setRowCheckState(int row, Qt::CheckState state) {
    model_->setCheckState(row, state);
}

void DeviceTableWidgetBase::slotHeaderStateChanged(Qt::CheckState cs) {
    if (cs != Qt::Unchecked)
        checkAll();
    else
        clearAll();
}

void DeviceTableWidgetBase::slotItemClicked() { emit signalsSelectedChange(checkedRowCount()); }

std::string DeviceTableWidgetBase::webPageUrl(const DeviceInfo& device_info) {
    if (!isDottedIpv4(device_info.ip_addr) || device_info.port <= 0 || device_info.port > 65535)
        return std::string();
    char url[128] = {0};
    if (device_info.port == 80)
        std::snprintf(url, sizeof(url), "http://%s/", device_info.ip_addr.c_str());
    else
        std::snprintf(url, sizeof(url), "http://%s:%d/", device_info.ip_addr.c_str(), device_info.port);
    return url;
}

void DeviceTableWidgetBase::slotOpenWebPage(DeviceInfo* device_info) {
    if (!device_info) return;
    const std::string url = webPageUrl(*device_info);
    if (url.empty()) {
        KPES_LOG(kpes::LS_WARNING) << "web page not opened, address "
                                   << kpes::escape_controls(device_info->ip_addr) << " port "
                                   << device_info->port;
        return;
    }
    const HINSTANCE started =
        ShellExecuteA(nullptr, "open", "iexplore.exe", url.c_str(), nullptr, SW_SHOWNORMAL);
    // Values up to 32 are failures: without a word the button would look dead.
    if (reinterpret_cast<intptr_t>(started) <= 32) {
        KPES_LOG(kpes::LS_WARNING) << "no browser started for " << url;
        auto* dialog = new MessageDialog(
            this, QStringLiteral("提示信息"),
            QStringLiteral("无法打开网页，请在浏览器中访问 %1").arg(QString::fromStdString(url)));
        dialog->setAttribute(Qt::WA_DeleteOnClose);
        dialog->exec();
    }
}

void DeviceTableWidgetBase::slotOpenVideo(DeviceInfo* device_info) {
    if (device_info) emit signalOpenVideo(*device_info);
}
