// The dispatch slots of MainWidget: each turns a confirmed panel into one device job per ticked
// device of the visible list and returns at once. Reports come back through RowReporter.
#include <QDateTime>
#include <QFile>
#include <QLineEdit>
#include <QPointer>
#include <QStackedLayout>
#include <QTextCodec>
#include <cstdio>
#include <cstring>
#include <tuple>

#include "batch_report.h"
#include "batch_verify.h"
#include "config_export_name.h"
#include "databasemanager.h"
#include "dealmodule.h"
#include "device_table_widget.h"
#include "devicebasemodule.h"
#include "edit_device_table_widget.h"
#include "ipv4.h"
#include "logging.h"
#include "main_widget.h"
#include "right_output_widget.h"
#include "row_reporter.h"

namespace {

using Deal = std::shared_ptr<factory::dealmodule>;

// The device library takes file paths in the system's code page 936, which is GBK (GB2312
// lacks characters that names of folders and files use).
std::string toGbk(const QString& path) {
    const QByteArray utf8 = path.toUtf8();
    QTextCodec* gbk = QTextCodec::codecForName("GBK");
    if (!gbk) return std::string(utf8.constData());
    const QByteArray encoded = gbk->fromUnicode(QString::fromUtf8(utf8));
    return std::string(encoded.constData());  // up to the first NUL
}

// The batch's report beside the device list; a batch without one still runs. `failed` runs,
// on any thread, when the report cannot be started or a save of it fails.
std::shared_ptr<report::BatchReport> startReport(const char* operation, const std::string& arguments,
                                                 const std::function<void()>& failed) {
    auto batch = report::BatchReport::Start(report::ReportsFolderBesideDeviceList(), operation, arguments);
    if (!batch) {
        KPES_LOG(kpes::LS_WARNING) << "batch runs without a report: " << operation;
        failed();
    } else {
        batch->OnSaveFailed(failed);
    }
    return batch;
}

RowReporter::ReportRow reportRow(const std::shared_ptr<report::BatchReport>& batch,
                                 const DeviceInfo& device) {
    if (!batch) return {};
    // Cameras added by address alone have no serial number yet.
    const bool serial_known = device.serial_high != 0 || device.serial_low != 0;
    const std::string serial =
        serial_known ? serialNumberText(device.serial_high, device.serial_low).toStdString() : std::string();
    return {batch, batch->AddCamera(device.ip_addr, serial)};
}

std::string utf8(const QString& text) { return text.toUtf8().toStdString(); }

}  // namespace

std::function<void()> MainWidget::reportFailure() {
    std::weak_ptr<UiJobQueue> queue = ui_job_queue_;
    QPointer<MainWidget> self(this);
    return [queue, self] {
        if (const UiJobQueuePtr live = queue.lock())
            live->postJob([self] {
                if (self) self->showNotice(QString::fromUtf8(kReportFailed));
            });
    };
}

MainWidget::Login MainWidget::loginFor(const DeviceInfo& device) const {
    if (page_stack_->currentIndex() != 0) return {device.user_name, device.pass_word};
    return {user_edit_->text().toUtf8().toStdString(), password_edit_->text().toUtf8().toStdString()};
}

void MainWidget::dispatch(int status_at_start, RowReporter::Kind kind, const char* operation,
                          const std::string& arguments, const StartJob& start) {
    DeviceTableWidgetBase* list = visibleList();
    const std::vector<DeviceInfo> devices = list->getSelectedDevices();
    if (devices.empty()) return;
    const std::shared_ptr<report::BatchReport> batch = startReport(operation, arguments, reportFailure());
    size_t started = 0;
    for (; started < devices.size(); ++started) {
        const DeviceInfo& device = devices[started];
        Deal deal = std::make_shared<factory::dealmodule>();
        // The devices after one that cannot be started are left alone; those before keep running.
        if (!deal->InitModules(1)) break;
        start(deal, device, static_cast<int>(started), loginFor(device),
              RowReporter(ui_job_queue_, list, device.row, deal, kind, reportRow(batch, device)));
    }
    // Every job is posted before the rows are restyled, so the last camera does not wait for the
    // first rows' repolish. Reports run on this thread after the slot returns, so each row still
    // shows its start status before any report.
    if (status_at_start < 0) return;
    for (size_t i = 0; i < started; ++i)
        list->setRowStatus(devices[i].row, static_cast<DeviceStatus>(status_at_start), 0);
}

void MainWidget::onButtonUpdateClicked(QString path) {
    std::fputs("1:update \n", stdout);
    const std::string firmware = toGbk(path);
    // The package's header is read with this system's file names, not the library's code page.
    const std::string package = QFile::encodeName(path).toStdString();
    dispatch(-1, RowReporter::Kind::Upgrade, "upgrade", utf8(path),
             [&](const Deal& deal, const DeviceInfo& device, int, const Login& login,
                 const RowReporter& reporter) {
                 const RowReporter::ReportRow& row = reporter.reportRow();
                 if (row.report) {
                     const factory::dealmodule::LoginData camera{device.ip_addr, device.port, login.user,
                                                                 login.password};
                     auto before = std::make_shared<std::string>();
                     // On the same worker before the upgrade: the version the upgrade replaces.
                     deal->PostJob([camera, before, row] {
                         std::string why;
                         factory::ReadFirmwareVersion(camera, before.get(), &why);
                         row.report->SetFirmware(row.id, *before, std::string());
                     });
                     reporter.setVerification([camera, package, before, row] {
                         std::string after;
                         const factory::Verification verification =
                             factory::VerifyUpgrade(camera, package, *before, &after);
                         row.report->SetFirmware(row.id, *before, after);
                         return verification.text;
                     });
                 }
                 deal->Upgrade(device.ip_addr, device.port, login.user, login.password, firmware,
                               reporter.progress(), reporter.upgradeProgress());
             });
}

void MainWidget::onButtonIpcClicked(QString path) {
    std::fputs("1:update \n", stdout);
    const std::string file = toGbk(path);
    dispatch(-1, RowReporter::Kind::Setting, "import_config", utf8(path),
             [&](const Deal& deal, const DeviceInfo& device, int, const Login& login,
                 const RowReporter& reporter) {
                 deal->ImportParam(device.ip_addr, device.port, login.user, login.password, file,
                                   reporter.progress());
             });
}

void MainWidget::onButtonSetPasswordClicked(QString password) {
    const std::string new_password = password.toUtf8().toStdString();
    // The new password stays out of the report.
    // A local-list camera that took the password is logged in with it from now on.
    QPointer<EditDeviceTableWidget> local = visibleList() == local_list_ ? local_list_ : nullptr;
    std::weak_ptr<UiJobQueue> queue = ui_job_queue_;
    dispatch(DEVICE_STATUS_SETTING, RowReporter::Kind::Setting, "password", std::string(),
             [&](const Deal& deal, const DeviceInfo& device, int, const Login& login,
                 const RowReporter& reporter) {
                 auto progress = reporter.progress();
                 if (local) {
                     progress = [progress, local, queue, ip = device.ip_addr, new_password](
                                    bool ok, const std::string& text) {
                         const UiJobQueuePtr live = queue.lock();
                         if (ok && text == factory::devicebasemodule::kPasswordSet && live)
                             live->postJob([local, ip, new_password] {
                                 if (local) local->passwordChanged(ip, new_password);
                             });
                         return progress(ok, text);
                     };
                 }
                 deal->SetPassword(device.ip_addr, device.port, login.user, login.password, new_password,
                                   progress);
             });
}

void MainWidget::onButtonNetworkClicked(QString ip, int port, QString mask, QString geteway) {
    Q_UNUSED(port);  // the address change keeps each camera's port
    const std::string gateway = geteway.toUtf8().toStdString();
    const std::string netmask = mask.toUtf8().toStdString();
    DeviceTableWidgetBase* list = visibleList();
    const std::string arguments = "ip=" + utf8(ip) + " mask=" + netmask + " gateway=" + gateway;
    uint32_t first = 0;
    if (!factory::ParseIpv4(ip.toUtf8().toStdString(), &first)) {
        // An incomplete address would send cameras to addresses nobody typed.
        const std::vector<DeviceInfo> devices = list->getSelectedDevices();
        const std::shared_ptr<report::BatchReport> batch =
            devices.empty() ? nullptr : startReport("network", arguments, reportFailure());
        for (const DeviceInfo& device : devices) {
            list->setRowStatus(device.row, DEVICE_STATUS_SET_FAILED, 0);
            const RowReporter::ReportRow row = reportRow(batch, device);
            if (row.report) row.report->Finish(row.id, g_device_status_text[DEVICE_STATUS_SET_FAILED], "");
        }
        return;
    }
    dispatch(DEVICE_STATUS_SETTING, RowReporter::Kind::Setting, "network", arguments,
             [&](const Deal& deal, const DeviceInfo& device, int index, const Login& login,
                 const RowReporter& reporter) {
                 uint32_t address = 0;
                 if (!factory::AddIpv4(first, static_cast<uint32_t>(index), &address)) {
                     // Past 255.255.255.255 there is no next address to give.
                     reporter.progress()(false, std::string());
                     return;
                 }
                 if (reporter.reportRow().report) {
                     // The camera should answer at its new address to the login its row used.
                     const factory::dealmodule::LoginData moved{factory::FormatIpv4(address), device.port,
                                                                login.user, login.password};
                     reporter.setVerification([moved] { return factory::VerifyAddress(moved).text; });
                 }
                 deal->PostJob([deal, serial_high = device.serial_high, serial_low = device.serial_low,
                                address = factory::FormatIpv4(address), gateway, netmask,
                                progress = reporter.progress()] {
                     deal->ModifyIpJob(serial_high, serial_low, address, gateway, netmask, progress);
                 });
             });
}

void MainWidget::onButtonFactoryClicked(int index) {
    const std::string kind = index == 0 ? "partial" : index == 1 ? "full" : std::to_string(index);
    dispatch(DEVICE_STATUS_SETTING, RowReporter::Kind::Setting, "restore", kind,
             [&](const Deal& deal, const DeviceInfo& device, int, const Login& login,
                 const RowReporter& reporter) {
                 deal->Restore(device.ip_addr, device.port, login.user, login.password,
                               static_cast<unsigned>(index), reporter.progress());
             });
}

void MainWidget::onButtonTimeClicked() {
    dispatch(DEVICE_STATUS_SETTING, RowReporter::Kind::Setting, "time", std::string(),
             [&](const Deal& deal, const DeviceInfo& device, int, const Login& login,
                 const RowReporter& reporter) {
                 deal->SetTime(device.ip_addr, device.port, login.user, login.password, reporter.progress());
             });
}

void MainWidget::onButtonRebootClicked() {
    // The rows show "设置中" once every job is posted, as for the other settings.
    dispatch(DEVICE_STATUS_SETTING, RowReporter::Kind::Setting, "reboot", std::string(),
             [&](const Deal& deal, const DeviceInfo& device, int, const Login& login,
                 const RowReporter& reporter) {
                 KPES_LOG(kpes::LS_WARNING)
                     << "开始重启设备: " << kpes::escape_controls(device.ip_addr) << "index:" << device.row;
                 deal->Reboot(device.ip_addr, device.port, login.user, login.password, reporter.progress());
             });
}

void MainWidget::onButtonUserUploadClick(bool enable_logo, QString path_logo, bool enable_bg, QString path_bg,
                                         bool enable_css, QString path_css) {
    const std::string logo = toGbk(path_logo);
    const std::string bg = toGbk(path_bg);
    const std::string css = toGbk(path_css);
    std::string arguments;
    for (const auto& [enabled, name, file] :
         {std::make_tuple(enable_logo, "logo", path_logo), std::make_tuple(enable_bg, "background", path_bg),
          std::make_tuple(enable_css, "css", path_css)}) {
        if (enabled) arguments += (arguments.empty() ? "" : " ") + std::string(name) + "=" + utf8(file);
    }
    dispatch(DEVICE_STATUS_SETTING, RowReporter::Kind::Setting, "upload", arguments,
             [&](const Deal& deal, const DeviceInfo& device, int, const Login& login,
                 const RowReporter& reporter) {
                 deal->Upload(device.ip_addr, device.port, login.user, login.password, enable_logo, logo,
                              enable_bg, bg, enable_css, css, reporter.progress());
             });
}

// ---- Configuration export -----------------------------------------------------------------------

std::string MainWidget::exportFileName(const std::string& ip, int year, int month, int day, int hour,
                                       int minute, int second) {
    return factory::ConfigExportFileName(ip, year, month, day, hour, minute, second);
}

void MainWidget::onOutputConfigClick() {
    const std::vector<DeviceInfo> devices = visibleList()->getSelectedDevices();
    if (devices.empty()) return showMessage(QStringLiteral("请选择待修改的设备!"));
    if (devices.size() > 1) return showMessage(QStringLiteral("请选择待1台修改的设备!"));

    const DeviceInfo& device = devices.front();
    Deal deal = std::make_shared<factory::dealmodule>();
    if (!deal->InitModules(1)) return;
    const Login login = loginFor(device);
    RowReporter reporter(ui_job_queue_, visibleList(), device.row, deal, RowReporter::Kind::Export);
    std::unique_ptr<KP_PARAM_IMPORT_ABILITY_V2> ability;
    deal->ReadAbility(
        device.ip_addr, device.port, login.user, login.password,
        [&](int, const KP_PARAM_IMPORT_ABILITY_V2& record) {
            ability.reset(new KP_PARAM_IMPORT_ABILITY_V2(record));
        },
        reporter.progress());
    // The read ran on this thread and has logged out; a refused read reported its failure.
    if (ability) {
        auto* panel = new RightOutputWidget(this);
        connect(panel, &RightOutputWidget::signalButtonSetupClicked, this,
                &MainWidget::onButtonOutputConifgclicked);
        runPanel(panel,
                 [panel, &ability](int width, int height) { panel->setupPanel(width, height, *ability); });
    }
    deal->StopWorker();
}

void MainWidget::onButtonOutputConifgclicked(const KP_PARAM_IMPORT_ABILITY_V2& ability) {
    DeviceTableWidgetBase* list = visibleList();
    const std::vector<DeviceInfo> devices = list->getSelectedDevices();
    // The user can untick every row while the export panel is open.
    if (devices.empty()) return;
    const DeviceInfo& device = devices.front();

    const QDateTime now = QDateTime::currentDateTime();
    const std::string file =
        exportFileName(device.ip_addr, now.date().year(), now.date().month(), now.date().day(),
                       now.time().hour(), now.time().minute(), now.time().second());
    std::printf("szFilePath:%s\n", file.c_str());
    if (file.empty()) {
        // Not an address: no file is named after what the camera reported.
        KPES_LOG(kpes::LS_WARNING) << "configuration not exported, address "
                                   << kpes::escape_controls(device.ip_addr);
        list->setRowStatus(device.row, DEVICE_STATUS_EXPORT_FAILED, 0);
        return;
    }

    std::memcpy(export_selection_.get(), &ability, sizeof(KP_PARAM_IMPORT_ABILITY_V2));
    Deal deal = std::make_shared<factory::dealmodule>();
    if (!deal->InitModules(1)) return;
    list->setRowStatus(device.row, DEVICE_STATUS_EXPORTING, 0);
    const Login login = loginFor(device);
    // The job reads its own copy: a later export may change the window's selection while this
    // one still runs.
    auto selection = std::make_shared<const KP_PARAM_IMPORT_ABILITY_V2>(*export_selection_);
    RowReporter reporter(ui_job_queue_, list, device.row, deal, RowReporter::Kind::Export,
                         reportRow(startReport("export_config", file, reportFailure()), device));
    deal->ExportParam(device.ip_addr, device.port, login.user, login.password, selection.get(), file,
                      [selection, progress = reporter.progress()](bool ok, const std::string& text) {
                          return progress(ok, text);
                      });
}

void MainWidget::onButtonOutputClick(QString file) {
    // A failed export would otherwise look like a done one; a done one needs no word.
    if (!factory::databasemanager::instance()->save_as(file.toUtf8().toStdString()))
        showMessage(QStringLiteral("导出列表失败!"));
}
