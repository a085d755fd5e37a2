// Batch dispatch from the real window to the simulated cameras: every operation of the
// navigation row on ticked rows of both pages, each row ending in its final status.
#include <RuDAVADO_control.h>

#include <QApplication>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QProgressBar>
#include <QRegularExpression>
#include <QTableView>
#include <QTimer>
#include <algorithm>
#include <cstdint>
#include <functional>
#include <map>
#include <set>
#include <sstream>
#include <thread>

#include "btn_tools_widget.h"
#include "commands.h"
#include "device_table_widget.h"
#include "deviceconnectionmanager.h"
#include "edit_device_table_widget.h"
#include "ipv4.h"
#include "main_window_fixture.h"
#include "nav_button.h"
#include "right_output_widget.h"
#include "row_reporter.h"
#include "test_device.h"
#include "update_widget.h"

namespace {

const QString kSetOk = QStringLiteral("设置成功");
const QString kSetFailed = QStringLiteral("设置失败");

RuDAVADO_CameraState cameraState(const std::string& ip) {
    RuDAVADO_CameraState state{};
    RuDAVADO_GetCameraState(RuDAVADO_FindCamera(ip.c_str()), &state);
    return state;
}

// Runs the simulated cameras' firmware maker with `arguments`; true when it succeeded.
bool makeFirmware(const QStringList& arguments) {
    QProcess make;
    make.start("/usr/bin/python3", QStringList{KP_MAKE_FIRMWARE} + arguments);
    return make.waitForFinished(60000) && make.exitStatus() == QProcess::NormalExit && make.exitCode() == 0;
}

bool waitOnline(const std::string& ip) {
    return waitFor([&] { return cameraState(ip).state == RUDAVADO_STATE_ONLINE; });
}

}  // namespace

class DispatchTest : public MainWindowTest {
protected:
    void SetUp() override {
        MainWindowTest::SetUp();
        fillSearchList();
        search_ = window_->searchList();
        window_->passwordEdit()->setText(kPassword);
    }

    int searchRow(const std::string& ip) { return rowOf(search_, ip); }

    DeviceTableWidgetBase* search_ = nullptr;
};

TEST_F(DispatchTest, UpgradeOfTwoSearchRowsRisesThenSucceedsAndLeavesNoThreadBehind) {
    ASSERT_TRUE(makeFirmware({dir_.path() + "/firmware"}));
    // Long enough at this time scale for several progress reports, and a restart long enough to
    // be seen at 50 % on a loaded machine yet shorter than the job's wait for the camera.
    RuDAVADO_SetTiming("upgrade", 400.0 / 0.001);
    RuDAVADO_SetTiming("boot", 60.0 / 0.001);

    const std::vector<int> rows = {searchRow("192.168.1.100"), searchRow("192.168.1.101")};
    tick(search_, rows);
    const std::vector<UpdateWidget*> cells = {search_->statusCell(rows[0]), search_->statusCell(rows[1])};
    const int threads = threadCount();
    // Every percentage a row shows while upgrading, however fast the reports come.
    std::map<UpdateWidget*, std::vector<int>> percents;
    for (UpdateWidget* cell : cells)
        QObject::connect(cell->progressBar(), &QProgressBar::valueChanged, cell,
                         [&percents, cell](int value) {
                             if (cell->status() == DEVICE_STATUS_UPDATING) percents[cell].push_back(value);
                         });
    window_->onButtonUpdateClicked(dir_.path() + "/firmware/KP-LPR-V3_3.2.2.0.bin");
    // A camera found meanwhile moves every row down; the reports follow their rows.
    DeviceInfo found;
    found.ip_addr = "10.0.0.1";
    window_->searchList()->slotFindDevice(found);

    ASSERT_TRUE(waitFor([&] {
        int done = 0;
        for (UpdateWidget* cell : cells)
            if (cell->statusLabel()->text() == QStringLiteral("升级成功")) ++done;
        return done == static_cast<int>(cells.size());
    })) << cells[0]->statusLabel()->text().toStdString()
        << " " << cells[1]->statusLabel()->text().toStdString();
    for (UpdateWidget* cell : cells) {
        // The write rises; after it the restart shows 50 % until the camera is back.
        const std::vector<int>& seen = percents[cell];
        ASSERT_GE(seen.size(), 3u);
        EXPECT_TRUE(std::is_sorted(seen.begin(), seen.end() - 1));
        EXPECT_EQ(seen.back(), 50);
    }
    EXPECT_EQ(statusText(search_, 0), QStringLiteral("空闲"));
    // The workers were joined on the user-interface thread and the jobs released.
    EXPECT_TRUE(waitFor([&] { return threadCount() <= threads; }, 5000)) << threadCount() << " > " << threads;
    EXPECT_TRUE(waitFor([&] { return std::string(cameraState("192.168.1.100").firmware) == "3.2.2.0"; }))
        << cameraState("192.168.1.100").firmware;
}

TEST_F(DispatchTest, EveryOperationEndsInItsFinalStatusOnBothPages) {
    const std::string plate = "192.168.1.100", face = "192.168.1.110";
    tick(search_, {searchRow(plate), searchRow(face)});
    UpdateWidget* untouched = search_->statusCell(searchRow("192.168.1.101"));
    // Rows are followed by their cells: a restarted camera is found again and gets a new row.
    std::map<std::pair<DeviceTableWidgetBase*, std::string>, UpdateWidget*> cells;
    auto finals = [&](DeviceTableWidgetBase* list, const std::vector<std::string>& ips, const QString& text) {
        for (const std::string& ip : ips) {
            UpdateWidget*& cell = cells[{list, ip}];
            if (!cell) cell = list->statusCell(rowOf(list, ip));
            EXPECT_TRUE(waitFor([&] { return cell->statusLabel()->text() == text; }))
                << ip << " " << text.toStdString();
            EXPECT_TRUE(waitOnline(ip));
        }
    };

    // Wrong login: the failure is the final status.
    window_->passwordEdit()->setText("wrong");
    window_->onButtonTimeClicked();
    finals(search_, {plate, face}, kSetFailed);
    window_->passwordEdit()->setText(kPassword);

    window_->onButtonTimeClicked();
    finals(search_, {plate, face}, kSetOk);
    window_->onButtonFactoryClicked(0);
    finals(search_, {plate, face}, kSetOk);
    window_->onButtonRebootClicked();
    finals(search_, {plate, face}, kSetOk);
    window_->onButtonSetPasswordClicked("admin2");
    finals(search_, {plate, face}, kSetOk);
    EXPECT_STREQ(cameraState(plate).password, "admin2");
    window_->passwordEdit()->setText("admin2");

    // Uploads reach face cameras only.
    QFile png(dir_.path() + "/logo.png");
    ASSERT_TRUE(png.open(QIODevice::WriteOnly));
    png.write(
        QByteArray::fromHex("89504e470d0a1a0a0000000d4948445200000001000000010806000000"
                            "1f15c4890000000d49444154789c63f8cfc0f01f0005000"
                            "1ff89993d1d0000000049454e44ae426082"));
    png.close();
    window_->onButtonUserUploadClick(true, png.fileName(), false, QString(), false, QString());
    finals(search_, {face}, kSetOk);
    finals(search_, {plate}, kSetFailed);
    EXPECT_EQ(cameraState(face).uploads, 1);

    // The local page: each row logs in with its own credentials whatever the login bar holds.
    EditDeviceTableWidget* local = window_->localList();
    local->slotAddDeviceInfo("192.168.1.101", 80, kUser, kPassword);
    local->slotAddDeviceInfo("192.168.1.103", 80, "admin", "Kp@2024");
    window_->slotPage2Clicked();
    window_->userEdit()->setText("nobody");
    window_->passwordEdit()->setText("wrong");
    tick(local, {rowOf(local, "192.168.1.101"), rowOf(local, "192.168.1.103")});
    for (auto operation : {&MainWidget::onButtonTimeClicked, &MainWidget::onButtonRebootClicked}) {
        (window_.get()->*operation)();
        finals(local, {"192.168.1.101", "192.168.1.103"}, kSetOk);
    }
    window_->onButtonFactoryClicked(1);
    finals(local, {"192.168.1.101", "192.168.1.103"}, kSetOk);
    // The search rows were not touched by the local page's batches.
    EXPECT_EQ(untouched->statusLabel()->text(), QStringLiteral("空闲"));
}

TEST_F(DispatchTest, ConsecutiveAddressesCarryIntoTheNextOctetInListOrder) {
    const std::vector<std::string> ips = {"192.168.1.100", "192.168.1.101", "192.168.1.102"};
    std::vector<unsigned> serials;
    for (const std::string& ip : ips) {
        tick(search_, {searchRow(ip)});
        serials.push_back(cameraState(ip).serial_low);
    }

    // An incomplete first address reaches no camera.
    window_->onButtonNetworkClicked("192.168.1.", 80, "255.255.0.0", "192.168.0.1");
    for (const std::string& ip : ips) {
        EXPECT_TRUE(waitForStatus(search_, searchRow(ip), kSetFailed));
        EXPECT_STREQ(cameraState(ip).ip, ip.c_str());
    }

    // The rows move to the new addresses when the cameras answer there: follow them.
    std::vector<quint64> tokens;
    for (const std::string& ip : ips) tokens.push_back(search_->rowToken(searchRow(ip)));
    window_->onButtonNetworkClicked("192.168.1.254", 80, "255.255.0.0", "192.168.0.1");
    for (quint64 token : tokens) {
        ASSERT_TRUE(waitFor([&] {
            const int row = search_->rowOfToken(token, -1);
            return row >= 0 && statusText(search_, row) == kSetOk;
        }));
    }
    const char* expected[] = {"192.168.1.254", "192.168.1.255", "192.168.2.0"};
    for (size_t i = 0; i < ips.size(); ++i) {
        const RuDAVADO_CameraState state = cameraState(expected[i]);
        EXPECT_EQ(state.serial_low, serials[i]) << expected[i];
        EXPECT_STREQ(state.netmask, "255.255.0.0");
    }
}

// Every restart makes a camera answer discovery again: it keeps its one row, which shows what
// the camera tells now beside the batch's result.
TEST_F(DispatchTest, CamerasThatComeBackKeepTheirOneRowWithNewDetailsAndTheResult) {
    ASSERT_TRUE(makeFirmware({dir_.path() + "/firmware"}));
    DeviceTableWidgetBase* table = search_;
    const int rows = table->rowCount();
    std::vector<std::string> ips = {"192.168.1.100", "192.168.1.101", "192.168.1.106"};
    std::vector<QString> serials;
    for (const std::string& ip : ips) {
        tick(search_, {searchRow(ip)});
        serials.push_back(table->cellText(searchRow(ip), kColumnSerial));
    }
    auto text = [&](const std::string& ip, int column) {
        const int row = searchRow(ip);
        return row < 0 ? QString() : table->cellText(row, column);
    };
    // Each camera's row, found by address, shows `status` and passes `check`; no other row is added.
    auto settle = [&](const QString& status, const std::function<bool(size_t)>& check) {
        return waitFor([&] {
            if (table->rowCount() != rows) return false;
            for (size_t i = 0; i < ips.size(); ++i) {
                const int row = searchRow(ips[i]);
                if (row < 0 || statusText(search_, row) != status ||
                    text(ips[i], kColumnSerial) != serials[i] || !check(i))
                    return false;
            }
            return true;
        });
    };

    window_->onButtonUpdateClicked(dir_.path() + "/firmware/KP-LPR-V3_3.2.2.0.bin");
    EXPECT_TRUE(settle(QStringLiteral("升级成功"),
                       [&](size_t i) { return text(ips[i], kColumnFirmware) == "3.2.2.0"; }))
        << table->rowCount() << " rows for " << rows << " cameras";

    // A row reads 升级成功 while its camera's job still checks the new version: the next batch
    // would skip a camera still held by this one.
    ASSERT_TRUE(waitFor([&] { return !window_->stopButton()->isVisible(); }));
    // A start time can read the same to the second: the rows forget theirs, the answers bring them.
    for (const std::string& ip : ips) {
        ASSERT_TRUE(waitOnline(ip));
        table->setCellText(searchRow(ip), kColumnBootTime, QString());
    }
    window_->onButtonRebootClicked();
    EXPECT_TRUE(settle(kSetOk, [&](size_t i) { return !text(ips[i], kColumnBootTime).isEmpty(); }))
        << table->rowCount() << " rows for " << rows << " cameras";

    ASSERT_TRUE(waitFor([&] { return !window_->stopButton()->isVisible(); }));
    for (const std::string& ip : ips) ASSERT_TRUE(waitOnline(ip));
    window_->onButtonNetworkClicked("192.168.1.200", 80, "255.255.255.0", "192.168.1.1");
    ips = {"192.168.1.200", "192.168.1.201", "192.168.1.202"};
    EXPECT_TRUE(settle(kSetOk, [&](size_t) { return true; }))
        << table->rowCount() << " rows for " << rows << " cameras";
    // The moved rows stand where their new addresses go.
    std::vector<std::uint32_t> order;
    std::uint32_t value = 0;
    for (int row = 0; row < table->rowCount(); ++row) {
        ASSERT_TRUE(factory::ParseIpv4(table->cellText(row, kColumnIp).toStdString(), &value));
        order.push_back(value);
    }
    EXPECT_TRUE(std::is_sorted(order.begin(), order.end()));
    EXPECT_EQ(search_->toolsCell(searchRow("192.168.1.201"))->deviceInfo().ip_addr, "192.168.1.201");
}

TEST_F(DispatchTest, ConfigurationExportWritesItsFileThatImportReadsBack) {
    EXPECT_EQ(MainWidget::exportFileName("192.168.1.100", 2024, 3, 5, 7, 8, 9),
              "192.168.1.100_20240305070809.cfg");

    const int row = searchRow("192.168.1.100");
    tick(search_, {row});
    // Reads the camera's parameter groups and opens the export panel on them: confirm it as it is.
    QTimer poll;
    poll.setInterval(5);
    QObject::connect(&poll, &QTimer::timeout, [&] {
        auto* panel = qobject_cast<RightOutputWidget*>(QApplication::activeModalWidget());
        if (!panel) return;
        poll.stop();
        panel->confirmButton()->click();
        panel->headerButton()->click();
    });
    poll.start();
    window_->onOutputConfigClick();
    ASSERT_GT(window_->exportSelection().group_count, 0);
    ASSERT_TRUE(waitForStatus(search_, row, QStringLiteral("导出成功")));
    const QStringList files = QDir(dir_.path()).entryList({"*.cfg"});
    ASSERT_EQ(files.size(), 1);
    EXPECT_TRUE(QRegularExpression("^192\\.168\\.1\\.100_\\d{14}\\.cfg$").match(files.front()).hasMatch())
        << files.front().toStdString();

    ASSERT_TRUE(waitOnline("192.168.1.100"));
    const QString cfg = dir_.path() + "/" + files.front();
    window_->onButtonIpcClicked(cfg);
    EXPECT_TRUE(waitForStatus(search_, row, kSetOk));

    // The command line names its reports as the window does.
    ASSERT_TRUE(waitOnline("192.168.1.100"));
    std::ostringstream out, err;
    cli::Environment env;
    env.getenv = [](const char*) -> const char* { return nullptr; };
    EXPECT_EQ(cli::RunCommandLine({"run", "import", "--targets", "192.168.1.100", "--password", kPassword,
                                   "--file", cfg.toStdString()},
                                  out, err, env),
              cli::kExitOk)
        << out.str() << err.str();
    std::map<std::string, int> names;
    for (const QString& report : QDir(dir_.path() + "/reports").entryList({"*.xls"}))
        ++names[QRegularExpression("^(.*)_\\d{8}_\\d{6}").match(report).captured(1).toStdString()];
    EXPECT_EQ(names, (std::map<std::string, int>{{"export_config", 1}, {"import_config", 2}}));
}

// The user can untick the only row while the export panel is open.
TEST_F(DispatchTest, ConfigurationExportWithEveryRowUntickedDoesNothing) {
    KP_PARAM_IMPORT_ABILITY_V2 ability{};
    window_->onButtonOutputConifgclicked(ability);
    EXPECT_TRUE(QDir(dir_.path()).entryList({"*.cfg"}).isEmpty());
    for (int row = 0; row < search_->rowCount(); ++row)
        EXPECT_EQ(statusText(search_, row), QStringLiteral("空闲"));
}

TEST(RowReporter, ShowsOnlyStartWriteAndEndAndRunsItsEndOnTheWindowThread) {
    auto queue = std::make_shared<UiJobQueue>();
    bool ended = false;
    RowReporter reporter(queue, nullptr, {0}, batch::ResultKind::Upgrade, [&] { ended = true; });
    reporter.OnStart(0);  // an upgrade's row waits for its write
    reporter.OnStep(0, true, "设备登陆成功 设备型号");
    EXPECT_EQ(queue->pendingCount(), 0);
    reporter.OnUpgradeProgress(0, DEVICE_STATUS_UPDATING, 40);
    reporter.OnFinish(0, batch::Final());
    reporter.OnEnd(1, 0);
    EXPECT_EQ(queue->pendingCount(), 1);  // one pass sets them all
    EXPECT_FALSE(ended);
    queue->runQueuedJobs();
    EXPECT_TRUE(ended);
    // A report after that pass needs a pass of its own.
    reporter.OnFinish(0, batch::Final());
    EXPECT_EQ(queue->pendingCount(), 1);
    queue->runQueuedJobs();

    // "正在设置" as soon as the camera starts: at once on this thread, through the queue from others.
    RowReporter setting(queue, nullptr, {0}, batch::ResultKind::Setting);
    setting.OnStart(0);
    EXPECT_EQ(queue->pendingCount(), 0);
    setting.showStarted();
    std::thread([&] { setting.OnStart(0); }).join();
    EXPECT_EQ(queue->pendingCount(), 1);
    queue->runQueuedJobs();
}

TEST_F(DispatchTest, LocalPageBatchesFollowWhatTheCamerasTook) {
    ASSERT_TRUE(makeFirmware({dir_.path() + "/firmware"}));
    RuDAVADO_SetTiming("upgrade", 100.0 / 0.001);
    RuDAVADO_SetTiming("boot", 60.0 / 0.001);

    EditDeviceTableWidget* local = window_->localList();
    const std::string ip = "192.168.1.101";
    local->slotAddDeviceInfo(QString::fromStdString(ip), 80, kUser, kPassword);
    window_->slotPage2Clicked();
    const QString online = QString::fromUtf8(EditDeviceTableWidget::kOnline);
    auto loginState = [&] { return local->cellText(rowOf(local, ip), kColumnLensOrLogin); };
    ASSERT_TRUE(waitFor([&] { return loginState() == online; }));
    tick(local, {rowOf(local, ip)});

    // The firmware column shows what the camera runs once it is back from the upgrade.
    window_->onButtonUpdateClicked(dir_.path() + "/firmware/KP-LPR-V3_3.2.2.0.bin");
    ASSERT_TRUE(waitForStatus(local, rowOf(local, ip), QStringLiteral("升级成功")));
    EXPECT_TRUE(waitFor([&] { return local->cellText(rowOf(local, ip), kColumnFirmware) == "3.2.2.0"; }))
        << local->cellText(rowOf(local, ip), kColumnFirmware).toStdString();
    ASSERT_TRUE(waitFor([&] { return loginState() == online; }));
    ASSERT_TRUE(waitFor([&] { return !window_->stopButton()->isVisible(); }));

    // A new password: later batches and the connection's next login use it.
    window_->onButtonSetPasswordClicked("Kp@2030");
    ASSERT_TRUE(waitForStatus(local, rowOf(local, ip), kSetOk));
    EXPECT_STREQ(cameraState(ip).password, "Kp@2030");
    EXPECT_TRUE(waitFor([&] {
        auto connection = local->connectionManager()->Find(ip);
        return connection && connection->GetPassword() == "Kp@2030" && connection->GetSdkHandle() != nullptr;
    }));
    window_->onButtonTimeClicked();
    EXPECT_TRUE(waitForStatus(local, rowOf(local, ip), kSetOk));
    ASSERT_TRUE(waitFor([&] { return loginState() == online; }));

    // The address change names the camera by the serial words its login read.
    const int camera = RuDAVADO_FindCamera(ip.c_str());
    window_->onButtonNetworkClicked("192.168.1.200", 80, "255.255.255.0", "192.168.1.1");
    EXPECT_TRUE(waitForStatus(local, rowOf(local, ip), kSetOk));
    EXPECT_EQ(RuDAVADO_FindCamera("192.168.1.200"), camera);
}

TEST_F(DispatchTest, FilePathsReachTheLibraryInCodePage936) {
    // "堃" is in GBK but not in GB2312.
    const QString folder = dir_.path() + QStringLiteral("/固件堃");
    ASSERT_TRUE(QDir().mkpath(folder));
    ASSERT_TRUE(makeFirmware({"--family", "KP-LPR-V3", "--version", "3.2.2.0", folder + "/v3.bin"}));
    RuDAVADO_SetTiming("upgrade", 50.0 / 0.001);
    RuDAVADO_SetTiming("boot", 30.0 / 0.001);
    const int row = searchRow("192.168.1.100");
    tick(search_, {row});
    window_->onButtonUpdateClicked(folder + "/v3.bin");
    EXPECT_TRUE(waitForStatus(search_, row, QStringLiteral("升级成功")));
}

TEST(ConfigExportFileName, IsBuiltFromAParsedAddressOrRefused) {
    const struct {
        const char* ip;
        const char* name;
    } cases[] = {
        {"192.168.1.100", "192.168.1.100_20240305070809.cfg"},
        {"255.255.255.255", "255.255.255.255_20240305070809.cfg"},
        {"", ""},
        {"../../etc/passwd", ""},
        {"192.168.1.100/../../x", ""},
        {"192.168.1.100\n", ""},
        {"cam-with-a-name-longer-than-the-old-sixty-four-byte-buffer-held", ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(MainWidget::exportFileName(c.ip, 2024, 3, 5, 7, 8, 9), c.name) << c.ip;
}
