// The local list against the simulated cameras: start-up from the store, add, edit and delete
// with their duplicate checks, and the login-state column following logins and session notices.
#include <RuDAVADO.h>
#include <RuDAVADO_control.h>
#include <gtest/gtest.h>
#include <kp_native_window.h>
#include <kp_platform.h>
#include <unistd.h>

#include <QApplication>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QTableView>
#include <QThread>
#include <QTimer>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>

#include "../log_lines.h"
#include "btn_tools_widget.h"
#include "databasemanager.h"
#include "deviceconnectionmanager.h"
#include "edit_device_table_widget.h"
#include "test_device.h"
#include "test_time_scale.h"
#include "ui_test_support.h"

namespace {

const char* const kPlateIp = "192.168.1.100";
const char* const kSecondIp = "192.168.1.101";
const char* const kOtherPasswordIp = "192.168.1.103";
const char* const kOfflineIp = "192.168.1.104";

// A window that owns a job queue and runs it on its wake-up message, as the main window does.
class QueueWindow : public QWidget {
public:
    QueueWindow() : queue_(std::make_shared<UiJobQueue>()) {
        hwnd_ = reinterpret_cast<HWND>(winId());
        kp::registerNativeWindow(hwnd_, this, [this](MSG& msg) {
            if (msg.message == kUiJobMessage) queue_->runQueuedJobs();
        });
        queue_->setOwner(hwnd_);
    }
    ~QueueWindow() override {
        queue_->setOwner(nullptr);
        kp::unregisterNativeWindow(hwnd_);
    }
    const UiJobQueuePtr& queue() const { return queue_; }

private:
    UiJobQueuePtr queue_;
    HWND hwnd_ = nullptr;
};

// Hands the next modal dialog to `answer` once it is shown.
void answerNextModal(std::function<void(QWidget*)> answer) {
    auto* timer = new QTimer();
    timer->setInterval(5);
    QObject::connect(timer, &QTimer::timeout, [timer, answer] {
        QWidget* dialog = QApplication::activeModalWidget();
        if (!dialog) return;
        timer->stop();
        timer->deleteLater();
        answer(dialog);
    });
    timer->start();
}

// Closes the next message box and records its text.
void closeNextMessage(QString* text) {
    answerNextModal([text](QWidget* dialog) {
        if (auto* label = dialog->findChild<QLabel*>("textLabel")) *text = label->text();
        dialog->close();
    });
}

// Fills the next device dialog and confirms it.
void saveNextDeviceDialog(const QString& ip, int port, const QString& user, const QString& password) {
    answerNextModal([=](QWidget* dialog) {
        dialog->findChild<QLineEdit*>("ipEdit")->setText(ip);
        dialog->findChild<QLineEdit*>("portEdit")->setText(QString::number(port));
        dialog->findChild<QLineEdit*>("userEdit")->setText(user);
        dialog->findChild<QLineEdit*>("passwordEdit")->setText(password);
        QMetaObject::invokeMethod(dialog, "slotSaveDeviceInfo");
    });
}

class LocalListTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { ASSERT_EQ(KpLPRClient_Setup(), 0); }

    void SetUp() override {
        time_scale_.emplace(0.001);
        RuDAVADO_ClearFaults();
        ASSERT_EQ(RuDAVADO_LoadDefaultScenario(), 0);

        old_dir_ = std::filesystem::current_path();
        dir_ = std::filesystem::temp_directory_path() / ("kp_local_list_" + std::to_string(::getpid()));
        std::filesystem::create_directories(dir_);
        std::filesystem::current_path(dir_);
        ASSERT_TRUE(store()->init());
    }

    void TearDown() override {
        list_.reset();
        std::filesystem::current_path(old_dir_);
        std::filesystem::remove_all(dir_);
        RuDAVADO_ClearFaults();
        RuDAVADO_SetTiming("login", -1);
        time_scale_.reset();
    }

    static factory::databasemanager* store() { return factory::databasemanager::instance(); }

    void storeDevice(const std::string& ip, const std::string& password = kPassword) {
        factory::devicedatamanager record;
        record.set_ip(ip);
        record.set_port(80);
        record.set_user_name("admin");
        record.set_password(password);
        ASSERT_TRUE(store()->add_device(record));
        ASSERT_TRUE(store()->save());
    }

    std::vector<std::string> storedIps() {
        std::vector<std::string> ips;
        for (const auto& entry : store()->load_all()) ips.push_back(entry.second.get_ip());
        return ips;
    }

    void createList() { list_ = std::make_unique<EditDeviceTableWidget>(&window_, window_.queue()); }

    QString cell(int row, int column) const { return list_->cellText(row, column); }
    QString loginState(const std::string& ip) const {
        int row = -1;
        return list_->findRowByIp(ip, row) ? cell(row, kColumnLensOrLogin) : QString("(no row)");
    }
    bool waitState(const std::string& ip, const char* state) {
        return waitFor([&] { return loginState(ip) == QString::fromUtf8(state); });
    }
    int rowCount() const { return list_->rowCount(); }
    static int sessions(const char* ip) {
        RuDAVADO_CameraState camera;
        return RuDAVADO_GetCameraState(RuDAVADO_FindCamera(ip), &camera) == 0 ? camera.sessions : -1;
    }

    std::optional<ScopedTimeScale> time_scale_;
    std::filesystem::path old_dir_;
    std::filesystem::path dir_;
    QueueWindow window_;
    std::unique_ptr<EditDeviceTableWidget> list_;
};

const char* kLoggingIn = EditDeviceTableWidget::kLoggingIn;
const char* kOnline = EditDeviceTableWidget::kOnline;
const char* kOffline = EditDeviceTableWidget::kOffline;

}  // namespace

TEST_F(LocalListTest, StoredCamerasShowLoggingInUntilTheirLoginResult) {
    storeDevice(kPlateIp);
    storeDevice(kOfflineIp);
    storeDevice(kOtherPasswordIp);  // stored with the wrong password
    // Slow logins, so that every row is in before the first result.
    ASSERT_EQ(RuDAVADO_SetTiming("login", 300.0 / kp::timeScale()), 0);
    createList();

    ASSERT_TRUE(waitFor([&] { return rowCount() == 3; }));
    for (int row = 0; row < 3; ++row) EXPECT_EQ(cell(row, kColumnLensOrLogin), QString::fromUtf8(kLoggingIn));

    ASSERT_TRUE(waitState(kPlateIp, kOnline));
    ASSERT_TRUE(waitState(kOfflineIp, kOffline));
    ASSERT_TRUE(waitState(kOtherPasswordIp, kOffline));
    // Both are "掉线"; the row tells a refused password from a camera that does not answer.
    auto reason = [&](const std::string& ip) {
        int row = -1;
        return list_->findRowByIp(ip, row) ? list_->loginReason(row) : QStringLiteral("no row");
    };
    EXPECT_EQ(reason(kOfflineIp), QStringLiteral("无应答"));
    EXPECT_EQ(reason(kOtherPasswordIp), QStringLiteral("密码错误"));
    EXPECT_EQ(reason(kPlateIp), QString());
    RuDAVADO_CameraState camera;
    ASSERT_EQ(RuDAVADO_GetCameraState(RuDAVADO_FindCamera(kPlateIp), &camera), 0);
    EXPECT_EQ(cell(0, kColumnFirmware), QString(camera.firmware));
    EXPECT_EQ(cell(0, kColumnMac), QString(camera.mac));
    EXPECT_EQ(cell(0, kColumnGateway), QString(camera.gateway));
}

TEST_F(LocalListTest, DuplicateAddressesAreRefusedOnAddAndEdit) {
    createList();
    list_->slotAddDeviceInfo(kPlateIp, 80, kUser, kPassword);
    list_->slotAddDeviceInfo(kSecondIp, 80, kUser, kPassword);
    ASSERT_EQ(rowCount(), 2);
    EXPECT_EQ(storedIps(), (std::vector<std::string>{kPlateIp, kSecondIp}));

    QString message;
    closeNextMessage(&message);
    list_->slotAddDeviceInfo(kPlateIp, 8080, "other", "other");
    EXPECT_EQ(message, QString("设备已经添加!"));
    EXPECT_EQ(rowCount(), 2);
    EXPECT_EQ(storedIps().size(), 2u);

    // Editing the second row to the first row's address changes nothing.
    message.clear();
    saveNextDeviceDialog(kPlateIp, 81, "admin", "x");
    closeNextMessage(&message);
    list_->editDevice(kSecondIp);
    EXPECT_EQ(message, QString("设备已经添加!"));
    EXPECT_EQ(cell(1, kColumnIp), QString(kSecondIp));
    EXPECT_EQ(cell(1, kColumnPort), QString("80"));

    // Its own unchanged address is no duplicate.
    ASSERT_TRUE(waitState(kSecondIp, kOnline));
    message.clear();
    saveNextDeviceDialog(kSecondIp, 80, kUser, kPassword);
    list_->editDevice(kSecondIp);
    EXPECT_TRUE(message.isEmpty());
    EXPECT_EQ(loginState(kSecondIp), QString::fromUtf8(kLoggingIn));
    EXPECT_TRUE(waitState(kSecondIp, kOnline));
}

TEST_F(LocalListTest, EditLogsInWithTheNewDataAndDeleteDropsTheCameraWhateverItsState) {
    storeDevice(kOtherPasswordIp);  // wrong password
    storeDevice(kPlateIp);
    storeDevice(kOfflineIp);
    createList();
    ASSERT_TRUE(waitState(kOtherPasswordIp, kOffline));
    ASSERT_TRUE(waitState(kPlateIp, kOnline));
    ASSERT_TRUE(waitState(kOfflineIp, kOffline));

    saveNextDeviceDialog(kOtherPasswordIp, 80, "admin", "Kp@2024");
    list_->editDevice(kOtherPasswordIp);
    EXPECT_TRUE(waitState(kOtherPasswordIp, kOnline));
    int edited = -1;
    ASSERT_TRUE(list_->findRowByIp(kOtherPasswordIp, edited));
    EXPECT_EQ(list_->loginReason(edited), QString());
    EXPECT_EQ(list_->connectionManager()->Find(kOtherPasswordIp)->GetPassword(), "Kp@2024");
    EXPECT_EQ(store()->load_all().begin()->second.get_password(), "Kp@2024");

    // A new address: the old one is no longer logged in.
    saveNextDeviceDialog(kSecondIp, 80, kUser, kPassword);
    list_->editDevice(kPlateIp);
    EXPECT_TRUE(waitState(kSecondIp, kOnline));
    EXPECT_TRUE(waitFor([&] { return list_->connectionManager()->Find(kPlateIp) == nullptr; }));
    EXPECT_EQ(sessions(kPlateIp), 0);
    EXPECT_EQ(storedIps(), (std::vector<std::string>{kOtherPasswordIp, kSecondIp, kOfflineIp}));

    // One camera never logged in, one logged in: both lose row, connection and record.
    list_->deleteDevice(kOfflineIp);
    list_->deleteDevice(kSecondIp);
    EXPECT_EQ(rowCount(), 1);
    EXPECT_EQ(storedIps(), (std::vector<std::string>{kOtherPasswordIp}));
    EXPECT_TRUE(waitFor([&] {
        return !list_->connectionManager()->Find(kOfflineIp) && !list_->connectionManager()->Find(kSecondIp);
    }));
    // The session is closed after the connection left the map.
    EXPECT_TRUE(waitFor([&] { return sessions(kSecondIp) == 0; }));
}

TEST_F(LocalListTest, LoginStateFollowsTheCameraWithoutUserAction) {
    storeDevice(kPlateIp);
    storeDevice(kOfflineIp);
    createList();
    ASSERT_TRUE(waitState(kPlateIp, kOnline));
    ASSERT_TRUE(waitState(kOfflineIp, kOffline));

    // A notice for a session nobody owns changes no row.
    list_->OnCommonNotify(reinterpret_cast<KPLPRC_HANDLE>(0x7fff1234), KP_LPRC_NOTIFY_OFFLINE);
    QCoreApplication::processEvents();
    EXPECT_EQ(loginState(kPlateIp), QString::fromUtf8(kOnline));

    // A rebooted camera drops its session and the library brings it back.
    const int plate = RuDAVADO_FindCamera(kPlateIp);
    ASSERT_EQ(RuDAVADO_SetPower(plate, 0), 0);
    EXPECT_TRUE(waitState(kPlateIp, kOffline));
    ASSERT_EQ(RuDAVADO_SetPower(plate, 1), 0);
    EXPECT_TRUE(waitState(kPlateIp, kOnline));

    // A camera offline at its first login comes online at the next reconnect pass.
    ASSERT_EQ(RuDAVADO_SetPower(RuDAVADO_FindCamera(kOfflineIp), 1), 0);
    EXPECT_TRUE(waitState(kOfflineIp, kOnline));
}

TEST_F(LocalListTest, ManyStoredCamerasWithAFullJobQueueDoNotDeadlock) {
    // More results than the window's queue holds, while the user-interface thread is busy:
    // login results wait for the queue as the state handler looks connections up.
    std::string json = "{\"cameras\": [";
    for (int i = 0; i < 100; ++i) {
        const std::string ip = "10.1.0." + std::to_string(i + 1);
        json += std::string(i ? "," : "") + "{\"model\": \"KP-LPR-V3\", \"ip\": \"" + ip + "\"}";
        storeDevice(ip);
    }
    ASSERT_EQ(RuDAVADO_LoadScenarioText((json + "]}").c_str()), 0);

    HangWatchdog watchdog("a hundred stored cameras logging in while the job queue is full", 120);
    // Other producers keep the window's queue full.
    std::thread filler([this] {
        for (int i = 0; i < 300; ++i) window_.queue()->postJob([] { QThread::usleep(100); });
    });
    createList();
    QThread::msleep(300);
    EXPECT_TRUE(waitFor([&] {
        if (rowCount() < 100) return false;
        for (int row = 0; row < rowCount(); ++row)
            if (cell(row, kColumnLensOrLogin) != QString::fromUtf8(kOnline)) return false;
        return true;
    }));
    filler.join();
}

TEST_F(LocalListTest, TheRowsLoginFollowsEveryEditAndTheLoginKeepsTheSerialWords) {
    storeDevice(kOtherPasswordIp);  // wrong password
    createList();
    ASSERT_TRUE(waitState(kOtherPasswordIp, kOffline));
    // The row is shown: its tool cell exists before the edit.
    BtnToolsWidget* tools = list_->toolsCell(0);
    ASSERT_NE(tools, nullptr);

    saveNextDeviceDialog(kOtherPasswordIp, 80, "admin", "Kp@2024");
    list_->editDevice(kOtherPasswordIp);
    ASSERT_TRUE(waitState(kOtherPasswordIp, kOnline));
    // The preview logs in with what the tool cell holds.
    EXPECT_EQ(list_->toolsCell(0)->deviceInfo().pass_word, "Kp@2024");
    EXPECT_EQ(list_->toolsCell(0)->deviceInfo().user_name, "admin");

    // The address change names the camera by the serial words the login read.
    RuDAVADO_CameraState camera;
    ASSERT_EQ(RuDAVADO_GetCameraState(RuDAVADO_FindCamera(kOtherPasswordIp), &camera), 0);
    list_->setRowCheckState(0, Qt::Checked);
    const std::vector<DeviceInfo> selected = list_->getSelectedDevices();
    ASSERT_EQ(selected.size(), 1u);
    EXPECT_EQ(selected[0].serial_high, camera.serial_high);
    EXPECT_EQ(selected[0].serial_low, camera.serial_low);
    EXPECT_NE(camera.serial_low, 0u);

    // A password the camera took elsewhere (a local batch) reaches the row, the file and the
    // connection.
    list_->passwordChanged(kOtherPasswordIp, "Kp@2025");
    EXPECT_EQ(list_->toolsCell(0)->deviceInfo().pass_word, "Kp@2025");
    EXPECT_EQ(store()->load_all().begin()->second.get_password(), "Kp@2025");
    EXPECT_TRUE(waitFor([&] {
        auto connection = list_->connectionManager()->Find(kOtherPasswordIp);
        return connection && connection->GetPassword() == "Kp@2025";
    }));
}

TEST_F(LocalListTest, AnAddressStoredTwiceIsLoadedOnce) {
    storeDevice(kPlateIp);
    storeDevice(kSecondIp);
    storeDevice(kPlateIp, "other");  // a list edited by hand
    LogLines log;
    createList();
    ASSERT_TRUE(waitFor([&] { return rowCount() == 2; }));
    EXPECT_TRUE(waitState(kPlateIp, kOnline));
    EXPECT_TRUE(waitState(kSecondIp, kOnline));
    EXPECT_EQ(rowCount(), 2);
    int logged = 0;
    for (const std::string& line : log.lines())
        if (line.find("listed twice") != std::string::npos && line.find(kPlateIp) != std::string::npos)
            ++logged;
    EXPECT_EQ(logged, 1);
}

TEST_F(LocalListTest, AFailedSaveIsSaidAndLeavesTableAndFileInStep) {
    storeDevice(kPlateIp);
    createList();
    ASSERT_TRUE(waitState(kPlateIp, kOnline));
    // A folder where the file should be: the save's last step, the move over it, fails.
    const std::filesystem::path file = dir_ / "devicedatamanager.xls";
    const std::filesystem::path kept = dir_ / "kept.xls";
    std::filesystem::rename(file, kept);
    std::filesystem::create_directory(file);

    const QString failed = QString::fromUtf8(EditDeviceTableWidget::kSaveFailed);
    QString message;
    closeNextMessage(&message);
    list_->slotAddDeviceInfo(kSecondIp, 80, kUser, kPassword);
    EXPECT_EQ(message, failed);
    EXPECT_EQ(rowCount(), 1);

    message.clear();
    saveNextDeviceDialog(kPlateIp, 8080, kUser, kPassword);
    closeNextMessage(&message);
    list_->editDevice(kPlateIp);
    EXPECT_EQ(message, failed);
    EXPECT_EQ(cell(0, kColumnPort), QString("80"));

    message.clear();
    closeNextMessage(&message);
    list_->deleteDevice(kPlateIp);
    EXPECT_EQ(message, failed);
    EXPECT_EQ(rowCount(), 1);

    // The disk takes saves again: the store still holds exactly the one camera the table shows.
    std::filesystem::remove(file);
    std::filesystem::rename(kept, file);
    list_->slotAddDeviceInfo(kSecondIp, 80, kUser, kPassword);
    EXPECT_EQ(rowCount(), 2);
    store()->clear_cache();
    ASSERT_TRUE(store()->init());
    EXPECT_EQ(storedIps(), (std::vector<std::string>{kPlateIp, kSecondIp}));
    EXPECT_EQ(store()->load_all().begin()->second.get_port(), 80u);
}
