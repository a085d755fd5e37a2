// The dispatch slots of MainWidget: each turns a confirmed panel into one batch over the ticked
// devices of the visible list and returns at once. Reports come back through RowReporter.
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QPointer>
#include <QStackedLayout>
#include <QTextCodec>
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <tuple>

#include "batch.h"
#include "batch_report.h"
#include "camera_tracker.h"
#include "config_export_name.h"
#include "databasemanager.h"
#include "dealmodule.h"
#include "device_table_widget.h"
#include "devicebasemodule.h"
#include "edit_device_table_widget.h"
#include "kp_platform.h"
#include "logging.h"
#include "main_widget.h"
#include "right_output_widget.h"
#include "row_reporter.h"

namespace {

// The device library takes file paths in the system's code page 936, which is GBK (GB2312
// lacks characters that names of folders and files use).
std::string toGbk(const QString& path) {
    const QByteArray utf8 = path.toUtf8();
    QTextCodec* gbk = QTextCodec::codecForName("GBK");
    if (!gbk) return std::string(utf8.constData());
    const QByteArray encoded = gbk->fromUnicode(QTextCodec::codecForName("utf-8")->toUnicode(utf8));
    return std::string(encoded.constData());  // up to the first NUL
}

std::string utf8(const QString& text) { return text.toUtf8().toStdString(); }

// A local-list camera that took a new password is logged in with it from now on: its row, the
// stored list and its connection follow. Everything else goes on to the rows.
class PasswordFollower : public batch::Observer {
public:
    PasswordFollower(std::shared_ptr<batch::Observer> rows, UiJobQueuePtr queue, EditDeviceTableWidget* local,
                     std::vector<std::string> ips, std::string password)
        : rows_(std::move(rows)),
          queue_(queue),
          local_(local),
          ips_(std::move(ips)),
          password_(std::move(password)) {}

    void OnStart(int camera) override { rows_->OnStart(camera); }
    void OnStep(int camera, bool ok, const std::string& text) override {
        const UiJobQueuePtr live = queue_.lock();
        if (ok && text == factory::devicebasemodule::kPasswordSet && live) {
            live->postJob([local = local_, ip = ips_[camera], password = password_] {
                if (local) local->passwordChanged(ip, password);
            });
        }
        rows_->OnStep(camera, ok, text);
    }
    void OnUpgradeProgress(int camera, DeviceStatus status, int percent) override {
        rows_->OnUpgradeProgress(camera, status, percent);
    }
    void OnFinish(int camera, const batch::Final& final) override { rows_->OnFinish(camera, final); }
    void OnEnd(int succeeded, int failed) override { rows_->OnEnd(succeeded, failed); }

private:
    std::shared_ptr<batch::Observer> rows_;
    std::weak_ptr<UiJobQueue> queue_;
    QPointer<EditDeviceTableWidget> local_;
    std::vector<std::string> ips_;
    std::string password_;
};

// A configuration export says where its file went once the camera has written it: the file
// lands in a folder the user may not look at otherwise.
class ExportTeller : public batch::Observer {
public:
    ExportTeller(std::shared_ptr<batch::Observer> rows, UiJobQueuePtr queue, std::function<void()> tell)
        : rows_(std::move(rows)), queue_(queue), tell_(std::move(tell)) {}

    void OnStart(int camera) override { rows_->OnStart(camera); }
    void OnStep(int camera, bool ok, const std::string& text) override { rows_->OnStep(camera, ok, text); }
    void OnFinish(int camera, const batch::Final& final) override {
        rows_->OnFinish(camera, final);
        const UiJobQueuePtr live = queue_.lock();
        if (final.ok && live) live->postJob(tell_);
    }
    void OnEnd(int succeeded, int failed) override { rows_->OnEnd(succeeded, failed); }

private:
    std::shared_ptr<batch::Observer> rows_;
    std::weak_ptr<UiJobQueue> queue_;
    std::function<void()> tell_;
};

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

const char* const MainWidget::kSkippedRunning = "已跳过%1台正在运行的设备";
const char* const MainWidget::kConfirmReboot = "确定重启%1台设备吗？";
const char* const MainWidget::kConfirmFullRestore = "确定将%1台设备全部恢复参数吗？";

int MainWidget::dropBusy(std::vector<DeviceInfo>& devices) const {
    const size_t before = devices.size();
    devices.erase(std::remove_if(devices.begin(), devices.end(),
                                 [this](const DeviceInfo& device) {
                                     for (const RunningBatch& entry : running_batches_)
                                         if (entry.cameras->holds(device.ip_addr)) return true;
                                     return false;
                                 }),
                  devices.end());
    return static_cast<int>(before - devices.size());
}

bool MainWidget::confirmTicked(const char* question) {
    std::vector<DeviceInfo> devices = visibleList()->getSelectedDevices();
    dropBusy(devices);
    if (devices.empty()) return true;  // nothing to reach: the dispatch says why
    return ask(QString::fromUtf8(question).arg(devices.size()));
}

void MainWidget::dispatch(batch::Operation operation, batch::Arguments arguments, batch::Policy policy,
                          std::vector<DeviceInfo> devices) {
    if (closing_) return;  // the navigation row is greyed while a close waits
    DeviceTableWidgetBase* list = visibleList();
    if (devices.empty()) devices = list->getSelectedDevices();
    if (devices.empty()) return;
    // A second start on a camera that still runs (a double click on a panel that stays open)
    // would run two operations on one camera at once.
    const int skipped = dropBusy(devices);
    const QString skipped_text = QString::fromUtf8(kSkippedRunning).arg(skipped);
    if (devices.empty()) return showNotice(skipped_text);
    std::vector<batch::Target> targets;
    std::vector<int> rows;
    targets.reserve(devices.size());
    rows.reserve(devices.size());
    for (const DeviceInfo& device : devices) {
        const Login login = loginFor(device);
        targets.push_back(batch::Target{device.ip_addr, device.port, login.user, login.password,
                                        device.serial_high, device.serial_low});
        rows.push_back(device.row);
    }
    // A batch without a report still runs.
    auto report = report::BatchReport::Start(report::ReportsFolderBesideDeviceList(),
                                             batch::ReportName(operation), arguments.report_arguments);
    if (!report) {
        KPES_LOG(kpes::LS_WARNING) << "batch runs without a report: " << batch::ReportName(operation);
        reportFailure()();
    } else {
        report->OnSaveFailed(reportFailure());
    }
    QPointer<MainWidget> self(this);
    auto observer =
        std::make_shared<RowReporter>(ui_job_queue_, list, rows, batch::KindOf(operation), [self] {
            if (self) self->batchEnded();
        });
    std::vector<std::string> ips;
    ips.reserve(targets.size());
    for (const batch::Target& target : targets) ips.push_back(target.ip);
    std::shared_ptr<batch::Observer> rows_observer = observer;
    if (operation == batch::Operation::Password && list == local_list_) {
        rows_observer = std::make_shared<PasswordFollower>(observer, ui_job_queue_, local_list_, ips,
                                                           arguments.new_password);
    }
    if (operation == batch::Operation::ExportConfig) {
        // The report's arguments hold the file's path as the user reads it.
        const QString text =
            QStringLiteral("配置已导出到 %1").arg(QString::fromStdString(arguments.report_arguments));
        rows_observer = std::make_shared<ExportTeller>(rows_observer, ui_job_queue_, [self, text] {
            if (self) self->showNotice(text);
        });
    }
    auto cameras = std::make_shared<CameraTracker>(std::move(rows_observer), std::move(ips));
    auto run =
        batch::Batch::Create(operation, std::move(arguments), std::move(targets), policy, cameras, report);
    running_batches_.push_back(RunningBatch{run, std::move(report), cameras, operation});
    button_stop_->show();
    // The cameras are started from the batch's own thread: the slot returns at once, with the
    // rows of the cameras started showing it.
    run->Start();
    observer->showStarted();
    if (skipped > 0) showNotice(skipped_text);
}

void MainWidget::stopBatches() {
    for (const RunningBatch& entry : running_batches_) entry.run->Stop();
}

bool MainWidget::anyBatchRunning() const {
    for (const RunningBatch& entry : running_batches_)
        if (!entry.cameras->ended()) return true;
    return false;
}

void MainWidget::batchEnded() {
    // The tracker has seen the batch's last call before the window hears of its end; the batch
    // itself may still be a moment from its end.
    auto ended = std::stable_partition(running_batches_.begin(), running_batches_.end(),
                                       [](const RunningBatch& entry) { return !entry.cameras->ended(); });
    ended_reports_.erase(
        std::remove_if(ended_reports_.begin(), ended_reports_.end(),
                       [](const std::weak_ptr<report::BatchReport>& report) { return report.expired(); }),
        ended_reports_.end());
    for (auto it = ended; it != running_batches_.end(); ++it) {
        if (!it->report) continue;
        // The process ends right after a waiting close: every row goes to disk first.
        if (closing_) it->report->Flush();
        ended_reports_.push_back(it->report);
    }
    std::vector<RunningBatch> gone(std::make_move_iterator(ended),
                                   std::make_move_iterator(running_batches_.end()));
    running_batches_.erase(ended, running_batches_.end());
    // The last references to an ended batch wait for its report's last save and join its
    // threads, tens of milliseconds on a busy machine: not on this thread. Should the system
    // refuse the thread, the refused job drops them here.
    if (!gone.empty() && batch_chores_.Start())
        batch_chores_.Post([gone = std::move(gone)]() mutable { gone.clear(); });
    if (running_batches_.empty()) button_stop_->hide();
    if (closing_) {
        showClosingWait();
        if (running_batches_.empty()) close();
    }
}

void MainWidget::prepareForBatchOf(int rows) {
    // A batch asks for its cameras and 16 threads more; the system sizes its table in powers of
    // two, so only a new power of two is worth a request. Growing the table waits for every
    // processor to pass a quiescent point (15-35 ms here), and a batch that starts meanwhile
    // waits for it: while a list fills, one request takes whatever size is wanted when it runs.
    const int threads = rows + 16;
    int buckets = 16;
    while (buckets < threads && buckets < (1 << 16)) buckets *= 2;
    if (buckets <= thread_readiness_->wanted.load()) return;
    thread_readiness_->wanted.store(buckets);
    if (thread_readiness_->posted.exchange(true)) return;
    const bool posted = batch_chores_.Start() && batch_chores_.Post([readiness = thread_readiness_] {
        readiness->posted.store(false);
        kp::prepareForThreads(readiness->wanted.load());
    });
    // Refused: the batch's start does it, as it would anyway.
    if (!posted) thread_readiness_->posted.store(false);
}

void MainWidget::onButtonUpdateClicked(QString path) { startUpgrade(path, batch::Policy()); }

void MainWidget::startUpgrade(const QString& path, const batch::Policy& policy) {
    std::fputs("1:update \n", stdout);
    batch::Arguments arguments;
    arguments.file = toGbk(path);
    // The package's header is read with this system's file names, not the library's code page.
    arguments.package = QFile::encodeName(path).toStdString();
    arguments.report_arguments = utf8(path);
    dispatch(batch::Operation::Upgrade, std::move(arguments), policy);
}

void MainWidget::onButtonIpcClicked(QString path) {
    std::fputs("1:update \n", stdout);
    batch::Arguments arguments;
    arguments.file = toGbk(path);
    arguments.report_arguments = utf8(path);
    dispatch(batch::Operation::ImportConfig, std::move(arguments));
}

void MainWidget::onButtonSetPasswordClicked(QString password) {
    batch::Arguments arguments;
    // The new password stays out of the report.
    arguments.new_password = password.toUtf8().toStdString();
    dispatch(batch::Operation::Password, std::move(arguments));
}

void MainWidget::onButtonNetworkClicked(QString ip, int port, QString mask, QString geteway) {
    Q_UNUSED(port);  // the address change keeps each camera's port
    batch::Arguments arguments;
    arguments.first_ip = utf8(ip);
    arguments.mask = utf8(mask);
    arguments.gateway = utf8(geteway);
    arguments.report_arguments =
        "ip=" + arguments.first_ip + " mask=" + arguments.mask + " gateway=" + arguments.gateway;
    dispatch(batch::Operation::Network, std::move(arguments));
}

void MainWidget::onButtonFactoryClicked(int index) {
    batch::Arguments arguments;
    arguments.restore_kind = static_cast<unsigned>(index);
    arguments.report_arguments = index == 0 ? "partial" : index == 1 ? "full" : std::to_string(index);
    dispatch(batch::Operation::Restore, std::move(arguments));
}

void MainWidget::onButtonTimeClicked() { dispatch(batch::Operation::Time, batch::Arguments()); }

void MainWidget::onButtonRebootClicked() { dispatch(batch::Operation::Reboot, batch::Arguments()); }

void MainWidget::onButtonUserUploadClick(bool enable_logo, QString path_logo, bool enable_bg, QString path_bg,
                                         bool enable_css, QString path_css) {
    batch::Arguments arguments;
    if (enable_logo) arguments.logo = toGbk(path_logo);
    if (enable_bg) arguments.bg = toGbk(path_bg);
    if (enable_css) arguments.css = toGbk(path_css);
    for (const auto& [enabled, name, file] :
         {std::make_tuple(enable_logo, "logo", path_logo), std::make_tuple(enable_bg, "background", path_bg),
          std::make_tuple(enable_css, "css", path_css)}) {
        if (enabled) {
            std::string& text = arguments.report_arguments;
            text += (text.empty() ? "" : " ") + std::string(name) + "=" + utf8(file);
        }
    }
    dispatch(batch::Operation::Upload, std::move(arguments));
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
    auto deal = std::make_shared<factory::dealmodule>();
    if (!deal->InitModules(1)) return;
    const Login login = loginFor(device);
    DeviceTableWidgetBase* list = visibleList();
    const quint64 token = list->rowToken(device.row);
    std::unique_ptr<KP_PARAM_IMPORT_ABILITY_V2> ability;
    deal->ReadAbility(
        device.ip_addr, device.port, login.user, login.password,
        [&](int, const KP_PARAM_IMPORT_ABILITY_V2& record) {
            ability.reset(new KP_PARAM_IMPORT_ABILITY_V2(record));
        },
        // On this thread: a refused read shows on the row at once.
        [list, token, row = device.row](bool ok, const std::string& text) {
            if (!batch::EndsCamera(ok, text) || ok) return true;
            const int current = list->rowOfToken(token, row);
            if (current >= 0)
                list->setRowStatus(current, batch::FinalStatus(batch::ResultKind::Export, ok, text), 0);
            return false;
        });
    // The read ran on this thread and has logged out; a refused read reported its failure.
    if (ability) {
        auto* panel = new RightOutputWidget(this);
        // The folder first: the export reads it.
        connect(panel, &RightOutputWidget::signalButtonSetupClicked, this,
                [this, panel] { export_folder_ = panel->folder(); });
        connect(panel, &RightOutputWidget::signalButtonSetupClicked, this,
                &MainWidget::onButtonOutputConifgclicked);
        const QString folder =
            QDir::toNativeSeparators(export_folder_.isEmpty() ? QDir::currentPath() : export_folder_);
        runPanel(panel, [panel, &ability, &folder](int width, int height) {
            panel->setupPanel(width, height, *ability);
            panel->setFolder(folder);
        });
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
    const std::string name =
        exportFileName(device.ip_addr, now.date().year(), now.date().month(), now.date().day(),
                       now.time().hour(), now.time().minute(), now.time().second());
    std::printf("szFilePath:%s\n", name.c_str());
    if (name.empty()) {
        // Not an address: no file is named after what the camera reported.
        KPES_LOG(kpes::LS_WARNING) << "configuration not exported, address "
                                   << kpes::escape_controls(device.ip_addr);
        list->setRowStatus(device.row, DEVICE_STATUS_EXPORT_FAILED, 0);
        return;
    }

    // A folder that is not there would fail on the camera's side with nothing but "导出失败".
    const QDir folder(export_folder_.isEmpty() ? QDir::currentPath()
                                               : QDir::fromNativeSeparators(export_folder_));
    if (!folder.exists() && !QDir().mkpath(folder.path()))
        return showMessage(QStringLiteral("无法创建文件夹 %1").arg(QDir::toNativeSeparators(folder.path())));
    const QString file = QDir::toNativeSeparators(folder.absoluteFilePath(QString::fromStdString(name)));

    std::memcpy(export_selection_.get(), &ability, sizeof(KP_PARAM_IMPORT_ABILITY_V2));
    batch::Arguments arguments;
    arguments.export_file = toGbk(file);
    // The job reads its own copy: a later export may change the window's selection while this
    // one still runs.
    arguments.selection = std::make_shared<const KP_PARAM_IMPORT_ABILITY_V2>(*export_selection_);
    arguments.report_arguments = utf8(file);
    dispatch(batch::Operation::ExportConfig, std::move(arguments), batch::Policy(), {device});
}

void MainWidget::onButtonOutputClick(QString file) {
    // A failed export would otherwise look like a done one; a done one needs no word.
    if (!factory::databasemanager::instance()->save_as(file.toUtf8().toStdString()))
        showMessage(QStringLiteral("导出列表失败!"));
}
