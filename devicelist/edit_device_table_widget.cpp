#include "edit_device_table_widget.h"

#include <QElapsedTimer>
#include <QHeaderView>
#include <QStyledItemDelegate>
#include <QTableView>
#include <QTimer>
#include <atomic>
#include <mutex>
#include <set>
#include <utility>
#include <vector>

#include "btn_tools_widget.h"
#include "databasemanager.h"
#include "device_dialog.h"
#include "deviceconnectionmanager.h"
#include "logging.h"
#include "message_dialog.h"
#include "qtable_header_view.h"
#include "sdkbase.h"

const char* const EditDeviceTableWidget::kLoggingIn = "登录中";
const char* const EditDeviceTableWidget::kOnline = "上线";
const char* const EditDeviceTableWidget::kOffline = "掉线";
const char* const EditDeviceTableWidget::kSaveFailed = "设备列表保存失败!";

namespace {

// Time the list may spend adding stored rows before it lets the event loop run again.
constexpr qint64 kLoadSliceMs = 15;

// The list whose notice callback is registered; a list being destroyed unregisters only its own.
std::atomic<EditDeviceTableWidget*> g_notified_list{nullptr};

void KPLPRC_CALL commonNotifyCallback(KPLPRC_HANDLE handle, void* user_data, KP_LPRC_COMMON_NOTIFY notify,
                                      int /*reserved*/) {
    if (!user_data) return;
    static_cast<EditDeviceTableWidget*>(user_data)->OnCommonNotify(handle, notify);
}

// The store converts its texts from and to the system's ANSI code page, not UTF-8.
std::string toStoreText(const QString& text) { return text.toLocal8Bit().toStdString(); }
std::string fromStoreText(const std::string& text) {
    return QString::fromLocal8Bit(text.c_str()).toStdString();
}

factory::devicedatamanager storedRecord(const QString& ip, int port, const QString& user_name,
                                        const QString& pass_word) {
    factory::devicedatamanager record;
    record.set_ip(toStoreText(ip));
    record.set_port(static_cast<unsigned int>(port));
    record.set_user_name(toStoreText(user_name));
    record.set_password(toStoreText(pass_word));
    return record;
}

factory::devicedatamanager storedRecord(const DeviceInfo& info) {
    return storedRecord(QString::fromStdString(info.ip_addr), info.port,
                        QString::fromStdString(info.user_name), QString::fromStdString(info.pass_word));
}

DeviceInfo loginRecord(const QString& ip, int port, const QString& user_name, const QString& pass_word) {
    DeviceInfo info;
    info.ip_addr = ip.toStdString();
    info.port = port;
    info.user_name = user_name.toStdString();
    info.pass_word = pass_word.toStdString();
    return info;
}

// Why a camera is offline, on the login-state cell: the text stays "掉线", the reason follows it.
constexpr int kRoleLoginReason = Qt::UserRole + 32;

class LoginStateDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

protected:
    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override {
        QStyledItemDelegate::initStyleOption(option, index);
        const QString reason = index.data(kRoleLoginReason).toString();
        if (!reason.isEmpty()) option->text += QStringLiteral(" ") + reason;
    }
};

// A short reason for the cell and a sentence for its tooltip; empty when the library gave none
// (a session the camera dropped).
std::pair<QString, QString> loginFailure(int error) {
    switch (error) {
        case KPLPRC_ERR_NONE:
            return {};
        case KPLPRC_ERR_AUTH:
            return {QStringLiteral("密码错误"), QStringLiteral("登录被拒绝：用户名或密码错误")};
        case KPLPRC_ERR_TIMEOUT:
            return {QStringLiteral("无应答"), QStringLiteral("设备无应答：请检查设备电源、网线和地址")};
        case KPLPRC_ERR_REFUSED:
            return {QStringLiteral("端口错误"), QStringLiteral("设备有应答，但该端口不通：请检查端口")};
        case KPLPRC_ERR_TOO_MANY_SESSIONS:
            return {QStringLiteral("连接数已满"), QStringLiteral("设备的连接数已满：请关闭其他客户端")};
        case KPLPRC_ERR_BUSY:
            return {QStringLiteral("设备忙"), QStringLiteral("设备正在升级或重启")};
        default:
            return {QStringLiteral("登录失败"), QStringLiteral("登录失败（错误码 %1）").arg(error)};
    }
}

}  // namespace

// Login-state changes on their way to the user-interface thread, in arrival order. Only the
// change that finds it empty asks for a job to be posted.
class LoginStateMailbox {
public:
    using Change = std::pair<KP_LPRC_COMMON_NOTIFY, std::string>;

    // True when the caller has to post the job that takes the changes.
    bool add(KP_LPRC_COMMON_NOTIFY notify, const std::string& ip) {
        std::lock_guard<std::mutex> guard(lock_);
        changes_.emplace_back(notify, ip);
        if (job_posted_) return false;
        job_posted_ = true;
        return true;
    }
    std::vector<Change> take() {
        std::lock_guard<std::mutex> guard(lock_);
        job_posted_ = false;
        std::vector<Change> changes;
        changes.swap(changes_);
        return changes;
    }

private:
    std::mutex lock_;
    std::vector<Change> changes_;
    bool job_posted_ = false;
};

EditDeviceTableWidget::EditDeviceTableWidget(QWidget* parent, UiJobQueuePtr ui_job_queue)
    : DeviceTableWidgetBase(parent, std::move(ui_job_queue)),
      manager_(std::make_shared<factory::DeviceConnectionManager>()),
      mailbox_(std::make_shared<LoginStateMailbox>()),
      alive_(std::make_shared<int>(0)) {
    // The library says nothing about a fresh login, so a camera that the reconnect pass brought
    // back would otherwise stay "掉线".
    manager_->SetReconnectCallback(
        [this](const std::string& ip) { postLoginState(KP_LPRC_NOTIFY_ONLINE, ip); });
    manager_->Start();

    initTable(QStringLiteral("登录状态"));
    tableView()->setItemDelegateForColumn(kColumnLensOrLogin, new LoginStateDelegate(tableView()));
    // Room for "掉线" and its reason; a version number needs less than the firmware column had.
    tableView()->setColumnWidth(kColumnLensOrLogin, 100);
    tableView()->setColumnWidth(kColumnFirmware, 80);
    connect(this, &EditDeviceTableWidget::signalsChangeDeviceStatus, this,
            &EditDeviceTableWidget::slotChangeDeviceStatus);

    g_notified_list = this;
    factory::SDK_SetCommonNotifyCallBack(commonNotifyCallback, this);

    if (factory::databasemanager* store = factory::databasemanager::instance()) {
        std::set<std::string> listed;
        for (const auto& entry : store->load_all()) {
            const factory::devicedatamanager& record = entry.second;
            DeviceInfo info;
            info.ip_addr = fromStoreText(record.get_ip());
            info.port = static_cast<int>(record.get_port());
            info.user_name = fromStoreText(record.get_user_name());
            info.pass_word = fromStoreText(record.get_password());
            // A list edited by hand may name an address twice; one connection serves one row.
            if (!listed.insert(info.ip_addr).second) {
                KPES_LOG(kpes::LS_WARNING)
                    << "stored device listed twice, loaded once: " << kpes::escape_controls(info.ip_addr);
                continue;
            }
            stored_rows_.push_back(std::move(info));
        }
    }
    load_timer_ = new QTimer(this);
    load_timer_->setSingleShot(true);
    load_timer_->setInterval(0);
    connect(load_timer_, &QTimer::timeout, this, [this] { addStoredRows(false); });
    addStoredRows(false);
}

void EditDeviceTableWidget::addStoredRows(bool all) {
    QElapsedTimer slice;
    slice.start();
    while (!stored_rows_.empty() && (all || slice.elapsed() < kLoadSliceMs)) {
        addRow(stored_rows_.front());
        stored_rows_.pop_front();
    }
    if (stored_rows_.empty())
        load_timer_->stop();
    else
        load_timer_->start();
}

EditDeviceTableWidget::~EditDeviceTableWidget() {
    // The callback reaches this list and its manager: no notice may run once they are gone.
    EditDeviceTableWidget* self = this;
    if (g_notified_list.compare_exchange_strong(self, nullptr))
        KPLPRClient_SetCommonNotifyCallBack(nullptr, nullptr);
    manager_->Stop();
    alive_.reset();
}

void EditDeviceTableWidget::setRowStatus(int row, DeviceStatus status, int value) {
    emitStatusToRow(this, &EditDeviceTableWidget::signalsUpdataStatus, row, status, value);
}

DeviceInfo EditDeviceTableWidget::toolsRecord(int row) const {
    // The record addRow had: the address, the port and the login, nothing the login read.
    DeviceInfo record;
    record.ip_addr = cellText(row, kColumnIp).toStdString();
    record.port = cellText(row, kColumnPort).toInt();
    record.user_name = cellData(row, kColumnCheck, kRoleUserName).toString().toStdString();
    record.pass_word = cellData(row, kColumnCheck, kRolePassword).toString().toStdString();
    return record;
}

void EditDeviceTableWidget::addRow(const DeviceInfo& info) {
    const int row = rowCount();
    insertRow(row, info, QString::fromUtf8(kLoggingIn), true);
    // The status cell and the tool buttons are made when the row is first shown: thousands of
    // stored cameras would otherwise cost two widgets each before the list is complete.
    setStatusCellEnabled(row, false);
    emit signalsDeviceNumChange(rowCount());
    logIn(info);
}

void EditDeviceTableWidget::logIn(const DeviceInfo& info) {
    // Runs on the manager's thread; the state handler decides by the connection's handle.
    const std::string ip = info.ip_addr;
    manager_->AddAndLogin(info.ip_addr, info.port, info.user_name, info.pass_word,
                          [this, ip] { postLoginState(KP_LPRC_NOTIFY_ONLINE, ip); });
}

void EditDeviceTableWidget::postLoginState(KP_LPRC_COMMON_NOTIFY notify, const std::string& ip) {
    if (!mailbox_->add(notify, ip)) return;
    std::weak_ptr<int> alive = alive_;
    std::shared_ptr<LoginStateMailbox> mailbox = mailbox_;
    uiJobQueue()->postJob([this, alive, mailbox] {
        for (const LoginStateMailbox::Change& change : mailbox->take()) {
            if (alive.expired()) return;
            emit signalsChangeDeviceStatus(change.first, change.second);
        }
    });
}

void EditDeviceTableWidget::OnCommonNotify(KPLPRC_HANDLE handle, KP_LPRC_COMMON_NOTIFY notify) {
    const std::string ip = manager_->IpOfHandle(handle);
    postLoginState(notify, ip);
    // A camera back from a restart may run other firmware: the row shows what it runs now.
    if (notify == KP_LPRC_NOTIFY_ONLINE && !ip.empty())
        manager_->Refresh(ip, [this, ip] { postLoginState(KP_LPRC_NOTIFY_ONLINE, ip); });
}

void EditDeviceTableWidget::slotChangeDeviceStatus(KP_LPRC_COMMON_NOTIFY notify, std::string ip_addr) {
    const std::shared_ptr<factory::DeviceConnection> connection = manager_->Find(ip_addr);
    if (!connection) return;
    int row = -1;
    if (!findRowByIp(ip_addr, row)) return;
    const bool online = connection->GetSdkHandle() != nullptr && notify == KP_LPRC_NOTIFY_ONLINE;
    const std::pair<QString, QString> failure =
        online ? std::pair<QString, QString>() : loginFailure(connection->GetLoginError());
    setCellText(row, kColumnLensOrLogin, online ? kOnline : kOffline);
    setCellData(row, kColumnLensOrLogin, kRoleLoginReason,
                failure.first.isEmpty() ? QVariant() : QVariant(failure.first));
    setCellData(row, kColumnLensOrLogin, Qt::ToolTipRole,
                failure.second.isEmpty() ? QVariant() : QVariant(failure.second));
    if (online) {
        setCellText(row, kColumnFirmware, connection->GetFirmwareVersion());
        setCellText(row, kColumnSerial, connection->GetSerialText());
        setCellText(row, kColumnMac, connection->GetMacText());
        setCellText(row, kColumnGateway, connection->GetGateway());
        setCellText(row, kColumnNetmask, connection->GetNetmask());
        // The address change names a camera by its serial words.
        unsigned int high = 0;
        unsigned int low = 0;
        if (connection->GetSerialWords(high, low)) {
            setCellData(row, kColumnCheck, kRoleSerialHigh, high);
            setCellData(row, kColumnCheck, kRoleSerialLow, low);
        }
    }
}

QString EditDeviceTableWidget::loginReason(int row) const {
    return cellData(row, kColumnLensOrLogin, kRoleLoginReason).toString();
}

void EditDeviceTableWidget::setCellText(int row, int column, const std::string& text) {
    DeviceTableWidgetBase::setCellText(row, column, QString::fromStdString(text));
}

void EditDeviceTableWidget::showMessage(const QString& text) {
    auto* dialog = new MessageDialog(this, QStringLiteral("提示信息"), text);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->exec();
}

void EditDeviceTableWidget::showDuplicateMessage() { showMessage(QStringLiteral("设备已经添加!")); }

bool EditDeviceTableWidget::saveStore(const std::function<void(factory::databasemanager&)>& change,
                                      const std::function<void(factory::databasemanager&)>& undo) {
    factory::databasemanager* store = factory::databasemanager::instance();
    if (!store) return true;
    change(*store);
    if (store->save()) return true;
    // The table and the file must not part: a change that did not reach the disk is taken back.
    undo(*store);
    showMessage(QString::fromUtf8(kSaveFailed));
    return false;
}

void EditDeviceTableWidget::setRowLogin(int row, const std::string& user_name, const std::string& pass_word) {
    setCellData(row, kColumnCheck, kRoleUserName, QString::fromStdString(user_name));
    setCellData(row, kColumnCheck, kRolePassword, QString::fromStdString(pass_word));
    // A tool cell made earlier holds its own copy: the preview must log in as the row does now.
    if (auto* tools =
            qobject_cast<BtnToolsWidget*>(tableView()->indexWidget(tableModel()->index(row, kColumnTools)))) {
        DeviceInfo record = tools->deviceInfo();
        record.user_name = user_name;
        record.pass_word = pass_word;
        tools->setDeviceInfo(record);
    }
}

void EditDeviceTableWidget::passwordChanged(const std::string& ip, const std::string& pass_word) {
    addStoredRows(true);
    int row = -1;
    if (!findRowByIp(ip, row)) return;
    DeviceInfo info = toolsRecord(row);
    info.pass_word = pass_word;
    // The camera has the new password whatever the disk says: the row, the connection and the
    // store follow it (the next save that works writes it), and a failed save is said.
    saveStore([&](factory::databasemanager& store) { store.update_device(ip, storedRecord(info)); },
              [](factory::databasemanager&) {});
    setRowLogin(row, info.user_name, info.pass_word);
    manager_->Remove(ip);
    logIn(info);
}

void EditDeviceTableWidget::slotAddDeviceInfo(QString ip, int port, QString user_name, QString pass_word) {
    addStoredRows(true);
    int row = -1;
    if (findRowByIp(ip.toStdString(), row)) {
        showDuplicateMessage();
        return;
    }
    const factory::devicedatamanager record = storedRecord(ip, port, user_name, pass_word);
    if (!saveStore([&](factory::databasemanager& store) { store.add_device(record); },
                   [&](factory::databasemanager& store) { store.delete_device(record.get_ip()); }))
        return;
    addRow(loginRecord(ip, port, user_name, pass_word));
}

int EditDeviceTableWidget::addDevices(const std::vector<DeviceInfo>& devices, const QString& user_name,
                                      const QString& pass_word) {
    addStoredRows(true);
    factory::databasemanager* store = factory::databasemanager::instance();
    int added = 0;
    for (const DeviceInfo& device : devices) {
        int row = -1;
        if (findRowByIp(device.ip_addr, row)) continue;
        const QString ip = QString::fromStdString(device.ip_addr);
        addRow(loginRecord(ip, device.port, user_name, pass_word));
        if (store) store->add_device(storedRecord(ip, device.port, user_name, pass_word));
        ++added;
    }
    if (store && added > 0) store->save();
    return added;
}

void EditDeviceTableWidget::editDevice(const std::string& ip) {
    addStoredRows(true);
    edit_row_ = -1;
    int row = -1;
    if (!findRowByIp(ip, row)) return;
    edit_row_ = row;

    auto* dialog = new DeviceDialog(this, QStringLiteral("编辑设备"));
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->fillFields(cellText(row, kColumnIp), cellText(row, kColumnPort).toInt(),
                       cellData(row, kColumnCheck, kRoleUserName).toString(),
                       cellData(row, kColumnCheck, kRolePassword).toString());
    connect(dialog, &DeviceDialog::signalSaveDeviceInfo, this,
            &EditDeviceTableWidget::slotSaveEditDeviceInfo);
    dialog->exec();
    // The row index is only good while the dialog is open.
    edit_row_ = -1;
}

void EditDeviceTableWidget::slotSaveEditDeviceInfo(QString ip, int port, QString user_name,
                                                   QString pass_word) {
    const int row = edit_row_;
    if (row < 0 || row >= rowCount()) return;
    int other = -1;
    if (findRowByIp(ip.toStdString(), other) && other != row) {
        showDuplicateMessage();
        return;
    }
    // A tool cell not made yet is made later from the row as it will be.
    auto* tools =
        qobject_cast<BtnToolsWidget*>(tableView()->indexWidget(tableModel()->index(row, kColumnTools)));
    const DeviceInfo old_info = toolsRecord(row);
    const std::string old_ip = old_info.ip_addr;
    const DeviceInfo info = loginRecord(ip, port, user_name, pass_word);
    if (!saveStore([&](factory::databasemanager& store) { store.update_device(old_ip, storedRecord(info)); },
                   [&](factory::databasemanager& store) {
                       store.update_device(info.ip_addr, storedRecord(old_info));
                   }))
        return;

    setCellData(row, kColumnCheck, kRoleNetmask, QString());
    setCellData(row, kColumnCheck, kRoleGateway, QString());
    setCellData(row, kColumnCheck, kRoleSerialHigh, 0u);
    setCellData(row, kColumnCheck, kRoleSerialLow, 0u);
    setRowLogin(row, info.user_name, info.pass_word);
    setRowStatus(row, DEVICE_STATUS_IDLE, 0);
    setStatusCellEnabled(row, true);
    setCellText(row, kColumnLensOrLogin, kLoggingIn);
    setCellData(row, kColumnLensOrLogin, kRoleLoginReason, QVariant());
    setCellData(row, kColumnLensOrLogin, Qt::ToolTipRole, QVariant());
    setCellText(row, kColumnPort, std::to_string(port));
    setCellText(row, kColumnIp, info.ip_addr);
    // The row's buttons open the camera it now names.
    if (tools) {
        DeviceInfo record = tools->deviceInfo();
        record.ip_addr = info.ip_addr;
        record.device_name = info.ip_addr;
        record.port = port;
        tools->setDeviceInfo(record);
    }

    // A kept connection would keep logging in with the old address or password.
    manager_->Remove(old_ip);
    logIn(info);
}

void EditDeviceTableWidget::deleteDevice(const std::string& ip) {
    addStoredRows(true);
    int row = -1;
    const bool listed = findRowByIp(ip, row);
    const DeviceInfo old_info = listed ? toolsRecord(row) : DeviceInfo();
    if (!saveStore(
            [&](factory::databasemanager& store) {
                store.delete_device(toStoreText(QString::fromStdString(ip)));
            },
            [&](factory::databasemanager& store) {
                if (listed) store.add_device(storedRecord(old_info));
            }))
        return;
    if (listed) {
        removeRow(row);
        updateCounts();
    }
    manager_->Remove(ip);
}
