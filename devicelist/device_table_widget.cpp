#include "device_table_widget.h"

#include <QActionGroup>
#include <QHeaderView>
#include <QLabel>
#include <QLayout>
#include <QMenu>
#include <QMetaObject>
#include <QTableView>
#include <QTimer>
#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string_view>

#include "btn_tools_widget.h"
#include "ipv4.h"
#include "kp_memory.h"
#include "logging.h"
#include "qtable_header_view.h"
#include "sdkbase.h"

namespace {

void debugLine(const char* text) {
    std::fputs(text, stdout);
    std::fflush(stdout);
}

void KPLPRC_CALL findDeviceCallbackEx(const char* device_name, const char* ip, unsigned short port,
                                      unsigned short port2, unsigned int serial_low, unsigned int serial_high,
                                      const char* netmask, const char* gateway, void* user_data) {
    if (!user_data) return;
    static_cast<DeviceTableWidget*>(user_data)->OnFindDevice(
        deviceInfoFromReport(device_name, ip, port, port2, serial_low, serial_high, netmask, gateway));
}

void KPLPRC_CALL findDeviceCallbackV2(const char* device_name, const char* ip, unsigned short port,
                                      unsigned short port2, unsigned int serial_low, unsigned int serial_high,
                                      const char* netmask, const char* gateway, int find_value,
                                      const char* firmware_version, int lens_code, const char* mac,
                                      const char* boot_time, void* user_data) {
    if (!user_data) return;
    static_cast<DeviceTableWidget*>(user_data)->OnFindDevice(
        deviceInfoFromReport(device_name, ip, port, port2, serial_low, serial_high, netmask, gateway,
                             find_value, firmware_version, lens_code, mac, boot_time));
}

// Addresses of another shape than a dotted quad sort after every well-formed one.
constexpr std::uint64_t kMalformedKey = std::uint64_t{1} << 32;

// Time the list may spend on rows before it lets the event loop run again.
constexpr qint64 kPassBudgetMs = 15;

struct StatusMenuEntry {
    const char* text;
    int status;
};

const StatusMenuEntry kStatusMenu[] = {
    {"全部", -1},
    {"升级成功", DEVICE_STATUS_UPDATE_SUCCESS},
    {"升级失败", DEVICE_STATUS_UPDATE_FAILED},
    {"导出成功", DEVICE_STATUS_EXPORT_SUCCESS},
    {"导出失败", DEVICE_STATUS_EXPORT_FAILED},
    // Every other way a batch can fail, so that the failed cameras of any batch can be shown,
    // ticked and tried again.
    {"升级取消", DEVICE_STATUS_UPDATE_CANCEL},
    {"设置失败", DEVICE_STATUS_SET_FAILED},
    {"未开始", DEVICE_STATUS_NOT_STARTED},
};

// Offered only while a row is in them.
const DeviceStatus kOccasionalStatuses[] = {DEVICE_STATUS_IDLE, DEVICE_STATUS_UPDATING,
                                            DEVICE_STATUS_EXPORTING, DEVICE_STATUS_SETTING,
                                            DEVICE_STATUS_SET_SUCCESS};

}  // namespace

DeviceTableWidget::DeviceTableWidget(QWidget* parent, UiJobQueuePtr ui_job_queue)
    : DeviceTableWidgetBase(parent, std::move(ui_job_queue)) {
    initTable(QStringLiteral("焦距"));

    status_menu_ = new QMenu(this);
    status_actions_ = new QActionGroup(this);
    for (const StatusMenuEntry& entry : kStatusMenu) {
        QAction* action = status_menu_->addAction(QString::fromUtf8(entry.text));
        action->setCheckable(true);
        action->setChecked(entry.status == -1);
        action->setData(entry.status);
        status_actions_->addAction(action);
        const int status = entry.status;
        connect(action, &QAction::triggered, this, [this, status] { setStatusFilter(status); });
    }
    for (DeviceStatus status : kOccasionalStatuses) {
        QAction* action = status_menu_->addAction(deviceStatusText(status));
        action->setCheckable(true);
        action->setData(static_cast<int>(status));
        action->setVisible(false);
        status_actions_->addAction(action);
        occasional_actions_.push_back(action);
        connect(action, &QAction::triggered, this, [this, status] { setStatusFilter(status); });
    }
    connect(headerView(), &QHeaderView::sectionClicked, this, &DeviceTableWidget::slotHeaderSectionClicked);

    full_notice_ = new QLabel(QStringLiteral("列表已满 %1 台，其余设备未列出").arg(kMaxRows), this);
    full_notice_->setObjectName("full_notice");
    full_notice_->setStyleSheet("color:red;");
    full_notice_->hide();
    layout()->addWidget(full_notice_);

    pass_timer_ = new QTimer(this);
    pass_timer_->setSingleShot(true);
    pass_timer_->setInterval(0);
    connect(pass_timer_, &QTimer::timeout, this, &DeviceTableWidget::insertPendingDevices);
}

DeviceTableWidget::~DeviceTableWidget() {
    // The parent may be half torn down: a count sent now could reach its deleted labels.
    tearing_down_ = true;
    StopFindDevice();
}

void DeviceTableWidget::StartFindDevice() {
    // Open before the callbacks are registered: a camera that answers at once would otherwise
    // be reported into a closed inbox and never listed.
    {
        std::lock_guard<std::mutex> lock(inbox_lock_);
        inbox_open_ = true;
    }
    // The extended search first: a newer camera answers the first probe it hears, and one that
    // heard the basic probe first would also be reported without its MAC, as a second camera.
    // A failed registration is logged by the wrapper; the other search still runs.
    factory::SDK_StartFindDeviceV2(findDeviceCallbackV2, this);
    factory::SDK_StartFindDeviceEx(findDeviceCallbackEx, this);
}

void DeviceTableWidget::StopFindDevice() {
    debugLine("StopFindDevice\n");
    clearDevices();
    debugLine("StopFindDevice1\n");
    {
        std::lock_guard<std::mutex> lock(inbox_lock_);
        inbox_open_ = false;
        inbox_.clear();
    }
    ++search_number_;
    factory::SDK_StopFindDevice();
    // Reports still queued are dropped on arrival and were never counted for the next search.
    reports_in_flight_ = 0;
    debugLine("StopFindDevice2\n");
}

void DeviceTableWidget::OnFindDevice(const DeviceInfo& info) {
    emit signalsFindDevice(info);
    bool wake = false;
    {
        std::lock_guard<std::mutex> lock(inbox_lock_);
        if (!inbox_open_) return;
        ++reports_in_flight_;
        wake = inbox_.empty();
        inbox_.push_back(info);
    }
    // One wake-up per batch; it carries nothing, so nothing of ours crosses in the toolkit's queue.
    if (wake) QMetaObject::invokeMethod(this, "takeReports", Qt::QueuedConnection);
    debugLine("OnFindDevice\n");
}

void DeviceTableWidget::takeReports() {
    std::vector<DeviceInfo> reports;
    {
        std::lock_guard<std::mutex> lock(inbox_lock_);
        reports.swap(inbox_);
    }
    const int search = search_number_;
    for (DeviceInfo& info : reports) {
        if (search != search_number_) return;
        slotFindDevice(std::move(info));
    }
}

std::uint64_t DeviceTableWidget::orderKey(const std::string& ip) {
    std::uint32_t value = 0;
    return factory::ParseIpv4(ip, &value) ? value : kMalformedKey;
}

bool DeviceTableWidget::ipLessThan(const QString& a, const QString& b) {
    return orderKey(a.toStdString()) < orderKey(b.toStdString());
}

size_t DeviceTableWidget::CameraIdHash::operator()(const CameraId& id) const {
    return std::hash<std::uint64_t>()(id.serial * 0x9E3779B97F4A7C15ull ^ id.mac);
}

DeviceTableWidget::CameraId DeviceTableWidget::cameraId(std::uint32_t serial_high, std::uint32_t serial_low,
                                                        const std::string& mac) {
    CameraId id;
    id.serial = (std::uint64_t{serial_high} << 32) | serial_low;
    // "00:1A:2B:3C:4D:5E" as its 48 bits; any other text by its hash, kept apart by the top bit.
    std::uint64_t bits = 0;
    int digits = 0;
    bool well_formed = mac.size() == 17;
    for (size_t i = 0; well_formed && i < mac.size(); ++i) {
        const char c = mac[i];
        if (i % 3 == 2) {
            well_formed = c == ':' || c == '-';
            continue;
        }
        const int value = std::isdigit(static_cast<unsigned char>(c)) ? c - '0'
                          : std::isxdigit(static_cast<unsigned char>(c))
                              ? std::tolower(static_cast<unsigned char>(c)) - 'a' + 10
                              : -1;
        well_formed = value >= 0;
        bits = (bits << 4) | static_cast<std::uint64_t>(value);
        ++digits;
    }
    if (well_formed && digits == 12)
        id.mac = bits;
    else if (!mac.empty())
        id.mac = std::hash<std::string>()(mac) | (std::uint64_t{1} << 63);
    return id;
}

DeviceTableWidget::CameraId DeviceTableWidget::rowCameraId(int row) const {
    const DeviceRow* content = tableModel()->row(row);
    if (!content) return CameraId();
    return cameraId(content->value(kColumnCheck, kRoleSerialHigh).toUInt(),
                    content->value(kColumnCheck, kRoleSerialLow).toUInt(),
                    content->text[kColumnMac].toStdString());
}

int DeviceTableWidget::insertionRow(std::uint64_t key) const { return tableModel()->upperBound(key); }

int DeviceTableWidget::firstRowFrom(std::uint64_t key) const { return tableModel()->lowerBound(key); }

int DeviceTableWidget::rowOfCamera(const CameraId& id) const {
    if (id.serial == 0) return -1;
    const auto found = camera_keys_.find(id);
    if (found == camera_keys_.end()) return -1;
    const int end = insertionRow(found->second);
    for (int row = firstRowFrom(found->second); row < end; ++row) {
        if (rowCameraId(row) == id) return row;
    }
    return -1;
}

void DeviceTableWidget::slotFindDevice(DeviceInfo info) {
    debugLine("slotFindDevice\n");
    const bool more_queued = reports_in_flight_.fetch_sub(1) > 1;
    if (reports_in_flight_ < 0) reports_in_flight_ = 0;  // a call that no report announced

    // A camera already listed takes no further row.
    const bool listed = camera_keys_.count(cameraId(info.serial_high, info.serial_low, info.mac_addr)) != 0;
    if (!listed && rowCount() + static_cast<int>(pending_reports_.size()) >= kMaxRows) {
        noteListFull();
        return;
    }
    if (!pass_clock_.isValid()) {
        pass_clock_.start();
        pass_timer_->start();
    }
    if (pending_reports_.empty() && (!more_queued || pass_clock_.elapsed() < kPassBudgetMs)) {
        insertDevice(info);
        return;
    }
    pending_reports_.push_back(std::move(info));
}

void DeviceTableWidget::insertPendingDevices() {
    pass_clock_.start();
    while (!pending_reports_.empty() && pass_clock_.elapsed() < kPassBudgetMs) {
        insertDevice(pending_reports_.front());
        pending_reports_.pop_front();
    }
    if (pending_reports_.empty())
        pass_clock_.invalidate();
    else
        pass_timer_->start();
}

void DeviceTableWidget::insertDevice(const DeviceInfo& info) {
    const std::uint64_t key = orderKey(info.ip_addr);
    const CameraId id = cameraId(info.serial_high, info.serial_low, info.mac_addr);
    const int listed = rowOfCamera(id);
    if (listed >= 0) {
        updateDevice(listed, info, key);
        return;
    }
    const int row = insertionRow(key);
    if (id.serial != 0) camera_keys_[id] = key;
    // The tool widget is made with the row's cells when the row comes into view.
    insertRow(row, info, QString::number(info.lens_code), false, key);
    applyFilterToRow(row);

    // Counting the shown rows one by one would make every insertion cost as much as the list.
    emit signalsDeviceNumChange(rowCount() - hidden_rows_);
}

void DeviceTableWidget::updateDevice(int row, const DeviceInfo& info, std::uint64_t key) {
    if (key != rowKey(row)) {
        // A new address: the row goes where a new row with it would go among the others.
        int to = insertionRow(key);
        if (row < to) --to;
        // The row comes back shown; the filter decides again below.
        if (tableView()->isRowHidden(row)) --hidden_rows_;
        moveRow(row, to, key);
        row = to;
        camera_keys_[cameraId(info.serial_high, info.serial_low, info.mac_addr)] = key;
    }
    refreshRow(row, info, QString::number(info.lens_code));
    applyFilterToRow(row);
}

void DeviceTableWidget::noteListFull() {
    if (full_noted_) return;
    full_noted_ = true;
    KPES_LOG(kpes::LS_WARNING) << "search list full at " << kMaxRows << " rows, further replies dropped";
    full_notice_->show();
}

void DeviceTableWidget::clearDevices() {
    const bool had_ticked = checkedRowCount() > 0;
    pending_reports_.clear();
    pass_timer_->stop();
    pass_clock_.invalidate();
    auto camera_keys = std::make_shared<decltype(camera_keys_)>();
    camera_keys->swap(camera_keys_);
    hidden_rows_ = 0;
    full_noted_ = false;
    full_notice_->hide();
    if (tearing_down_) {
        DeviceTableWidgetBase::clearDevices();
    } else {
        // Ten thousand rows take tens of thousands of blocks: they are freed on another thread
        // once off the list.
        auto rows = std::make_shared<DeviceTableModel::Rows>(takeAllRows());
        if (!rows->empty()) {
            if (!disposer_) disposer_ = std::make_unique<factory::Worker>();
            // Without a thread the rows go here, on this thread, as the job is let go.
            if (disposer_->Start()) {
                disposer_->Post([rows, camera_keys] {
                    rows->clear();
                    camera_keys->clear();
                    // Otherwise the window's next large allocation sorts out every block freed here.
                    kp::settleFreedMemory();
                });
            }
        }
    }
    // Fresh rows are idle; a filter left on would hide the whole new search.
    applyStatusFilter(-1);
    if (had_ticked && !tearing_down_) emit signalsSelectedChange(0);
}

void DeviceTableWidget::setRowStatus(int row, DeviceStatus status, int value) {
    emitStatusToRow(this, &DeviceTableWidget::signalsUpdataStatus, row, status, value);
    applyFilterToRow(row);
}

void DeviceTableWidget::setStatusFilter(int status) {
    if (status == status_filter_) return;
    applyStatusFilter(status);
    updateCounts();
}

void DeviceTableWidget::applyStatusFilter(int status) {
    status_filter_ = status;
    QString shown_status;
    for (QAction* action : status_actions_->actions()) {
        action->setChecked(action->data().toInt() == status);
        if (action->isChecked() && status >= 0) shown_status = action->text();
    }
    // Hidden rows are easy to forget: the column's header names the filter while one is on.
    mutableModel()->setHeaderText(
        kColumnStatus,
        shown_status.isEmpty() ? QStringLiteral("状态") : QStringLiteral("状态: %1").arg(shown_status),
        shown_status.isEmpty() ? QBrush() : QBrush(QColor(0x1E, 0x90, 0xFF)));
    for (int row = 0; row < rowCount(); ++row) applyFilterToRow(row);
}

void DeviceTableWidget::applyFilterToRow(int row) {
    if (!tableModel()->row(row)) return;
    const bool shown = status_filter_ < 0 || rowStatus(row) == status_filter_;
    if (tableView()->isRowHidden(row) == !shown) return;
    tableView()->setRowHidden(row, !shown);
    hidden_rows_ += shown ? -1 : 1;
    // A tick the user cannot see would come back with the row and reach a camera by surprise.
    if (!shown) untickRow(row);
}

void DeviceTableWidget::slotHeaderSectionClicked(int logical_index) {
    if (logical_index != kColumnStatus) return;
    updateStatusMenu();
    QHeaderView* header = headerView();
    const QPoint point(tableView()->columnWidth(kColumnCheck), header->height());
    status_menu_->popup(header->mapToGlobal(point));
}

void DeviceTableWidget::updateStatusMenu() {
    bool present[kDeviceStatusCount] = {};
    for (int row = 0; row < rowCount(); ++row) {
        const int status = rowStatus(row);
        if (status >= 0 && status < kDeviceStatusCount) present[status] = true;
    }
    for (QAction* action : occasional_actions_) {
        const int status = action->data().toInt();
        action->setVisible(present[status] || status == status_filter_);
    }
}
