// The local list: the cameras the user added by address, port, user name and password, kept in
// the device store between runs and logged in by the list's own connection manager.
//
// The main window builds it with its job queue, connects the device dialog's
// signalSaveDeviceInfo to slotAddDeviceInfo, and calls editDevice / deleteDevice for the one
// ticked row. Column 2 shows the login state: "登录中" until the camera's login result
// arrives, then "上线" or "掉线", kept up to date by the library's session notices.
//
// Stored cameras are added in slices of a few milliseconds with the event loop running in
// between, so that a list of hundreds does not freeze the window at start-up; every operation
// of the user first adds the rows still waiting.
//
// Work done on the manager's thread (login results) and on the library's thread (session
// notices) reaches the table only through jobs on the window's UiJobQueue. The changes are
// gathered so that the list has at most one job waiting there: with hundreds of cameras a
// producer would otherwise wait for room while the user-interface thread waits for it (closing
// the window joins the manager's thread). A job that runs after the list is gone does nothing.
#pragma once

#include <RuDAVADO.h>

#include <QString>
#include <deque>
#include <functional>
#include <memory>
#include <string>

#include "device_table_widget_base.h"

namespace factory {
class DeviceConnectionManager;
class databasemanager;
}  // namespace factory

class QTimer;
class LoginStateMailbox;

class EditDeviceTableWidget : public DeviceTableWidgetBase {
    Q_OBJECT

public:
    static const char* const kLoggingIn;   // "登录中"
    static const char* const kOnline;      // "上线"
    static const char* const kOffline;     // "掉线"
    static const char* const kSaveFailed;  // "设备列表保存失败!"

    // Loads the stored devices and starts logging them in.
    EditDeviceTableWidget(QWidget* parent, UiJobQueuePtr ui_job_queue);
    ~EditDeviceTableWidget() override;

    void setRowStatus(int row, DeviceStatus status, int value) override;

    // Opens the device dialog for the row of `ip`; saving it goes to slotSaveEditDeviceInfo.
    void editDevice(const std::string& ip);
    // Removes the row of `ip`, its connection and its stored record.
    void deleteDevice(const std::string& ip);
    // The camera of `ip` took a new password: its row, stored record and connection use it.
    void passwordChanged(const std::string& ip, const std::string& pass_word);

    const std::shared_ptr<factory::DeviceConnectionManager>& connectionManager() const { return manager_; }
    // Why the row's camera is "掉线" ("密码错误", "无应答" ...), shown after it; empty otherwise.
    QString loginReason(int row) const;

    // The library's session notice, on its thread; public so that the callback can reach it.
    void OnCommonNotify(KPLPRC_HANDLE handle, KP_LPRC_COMMON_NOTIFY notify);

Q_SIGNALS:
    void signalsUpdataStatus(DeviceStatus status, int value);
    void signalsChangeDeviceStatus(KP_LPRC_COMMON_NOTIFY notify, std::string ip_addr);

public Q_SLOTS:
    // Adds a camera unless its address is listed already ("设备已经添加!").
    void slotAddDeviceInfo(QString ip, int port, QString user_name, QString pass_word);
    // Adds each camera with this login, by its address and port, and saves the store once.
    // Cameras already listed are left as they are; returns how many were added.
    int addDevices(const std::vector<DeviceInfo>& devices, const QString& user_name,
                   const QString& pass_word);
    // Saves the row opened by editDevice with these values.
    void slotSaveEditDeviceInfo(QString ip, int port, QString user_name, QString pass_word);

private Q_SLOTS:
    void slotChangeDeviceStatus(KP_LPRC_COMMON_NOTIFY notify, std::string ip_addr);

protected:
    DeviceInfo toolsRecord(int row) const override;

private:
    void addRow(const DeviceInfo& info);
    // Adds stored rows for one time slice, or all of them; reschedules itself while some wait.
    void addStoredRows(bool all);
    void logIn(const DeviceInfo& info);
    // Hands a login-state change of `ip` to the user-interface thread; any thread.
    void postLoginState(KP_LPRC_COMMON_NOTIFY notify, const std::string& ip);
    void showMessage(const QString& text);
    void showDuplicateMessage();
    // Applies `change` to the store and saves it; when the save fails, applies `undo`, says so
    // and returns false, so that the table is left as the file is.
    bool saveStore(const std::function<void(factory::databasemanager&)>& change,
                   const std::function<void(factory::databasemanager&)>& undo);
    // The row's login roles and the tool cell's copy of them.
    void setRowLogin(int row, const std::string& user_name, const std::string& pass_word);
    void setCellText(int row, int column, const std::string& text);

    std::shared_ptr<factory::DeviceConnectionManager> manager_;
    int edit_row_ = -1;
    std::deque<DeviceInfo> stored_rows_;
    QTimer* load_timer_ = nullptr;
    std::shared_ptr<LoginStateMailbox> mailbox_;
    // Jobs hold it weakly: expired means the list is gone.
    std::shared_ptr<int> alive_;
};
