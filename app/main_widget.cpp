#include "main_widget.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDebug>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QScreen>
#include <QSessionManager>
#include <QStackedLayout>
#include <QStringList>
#include <QTimer>
#include <QVBoxLayout>
#include <QWindow>
#include <algorithm>
#include <cstring>

#include "batch_report.h"
#include "camera_tracker.h"
#include "databasemanager.h"
#include "device_dialog.h"
#include "device_table_widget.h"
#include "edit_device_table_widget.h"
#include "kp_native_window.h"
#include "logging.h"
#include "message_dialog.h"
#include "nav_button.h"
#include "play_wnd_widget.h"
#include "right_device_list_widget.h"
#include "right_factory_widget.h"
#include "right_ipc_config_widget.h"
#include "right_network_widget.h"
#include "right_reboot_widget.h"
#include "right_time_widget.h"
#include "right_update_widget.h"
#include "right_user_upload_widget.h"
#include "title_widget.h"

const char* const MainWidget::kReportFailed = "批量报告写入失败!";

namespace {

const char kSelectDevice[] = "请选择待修改的设备!";
const char kSelectOneDevice[] = "请选择待1台修改的设备!";
constexpr int kPanelWidth = 400;
const QSize kPreferredSize(1400, 850);
const QSize kMinimumSize(640, 480);

struct NavEntry {
    const char* text;
    const char* image;
    bool enabled;
    void (MainWidget::*slot)();
};

const NavEntry kNavEntries[] = {
    {"固件升级", ":/base/update", true, &MainWidget::onUpdateClick},
    {"相机配置", ":/base/video", true, &MainWidget::onIpcClick},
    {"网络参数", ":/base/sliders", true, &MainWidget::onNetworkClick},
    {"导出配置", ":/base/files", true, &MainWidget::onOutputConfigClick},
    {"导出列表", ":/base/textindent", true, &MainWidget::onOutputClick},
    {"校时", ":/base/watch", true, &MainWidget::onTimeClick},
    {"ONVIF", ":/base/network", false, &MainWidget::onOnvifClick},
    {"恢复参数", ":/base/repeat", true, &MainWidget::onRecoveryClick},
    {"重启", ":/base/load", true, &MainWidget::onRestartClick},
    {"自定义上传", ":/base/load", true, &MainWidget::onUserUploadClick},
};

QLabel* boldCaption(const QString& text, int width, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setFixedSize(width, 30);
    label->setStyleSheet("font-weight: bold");
    return label;
}

}  // namespace

MainWidget::MainWidget(QWidget* parent)
    : QWidget(parent), export_selection_(new KP_PARAM_IMPORT_ABILITY_V2()) {
    // 1. Labels and edits, the device library, the queue, the store.
    device_num_label_ = boldCaption(QStringLiteral("设备总数："), 60, this);
    device_num_value_ = new QLabel("0", this);
    selected_num_label_ = boldCaption(QStringLiteral("选中设备数："), 80, this);
    selected_num_value_ = new QLabel("0", this);
    user_label_ = boldCaption(QStringLiteral("用户名："), 60, this);
    user_edit_ = new QLineEdit(this);
    password_label_ = boldCaption(QStringLiteral("密码："), 60, this);
    password_edit_ = new QLineEdit(this);
    if (const int code = KpLPRClient_Setup()) {
        KPES_LOG(kpes::LS_ERROR) << "KpLPRClient_Setup false: " << code;
    }
    ui_job_queue_ = std::make_shared<UiJobQueue>();
    factory::databasemanager::instance()->init();
    qDebug() << "开始打印";

    // 2. The window.
    setWindowFlags(Qt::FramelessWindowHint | Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowMaximizeButtonHint);
    setAttribute(Qt::WA_StyledBackground, true);  // so the sheet paints the plain window too
    setMouseTracking(true);
    setAcceptDrops(true);
    // The fixed-size buttons would hold the window wider than a small screen: the window follows
    // the screen instead and the rows clip.
    const QRect available = availableScreenArea();
    setMinimumSize(kMinimumSize.boundedTo(available.size()));
    setGeometry(fitWindowGeometry(kPreferredSize, available));

    // 3. Counters.
    device_num_value_->setFixedSize(30, 30);
    selected_num_value_->setFixedSize(30, 30);
    auto* counters = new QHBoxLayout();
    counters->addWidget(device_num_label_, 0, Qt::AlignVCenter);
    counters->addSpacing(10);
    counters->addWidget(device_num_value_, 0, Qt::AlignVCenter);
    counters->addSpacing(10);
    counters->addWidget(selected_num_label_, 0, Qt::AlignVCenter);
    counters->addSpacing(10);
    counters->addWidget(selected_num_value_, 0, Qt::AlignVCenter);
    counters->addStretch();
    // Top right, on both pages, and clear of the panels, which open below the navigation row.
    button_stop_ = createNavButton(QStringLiteral("停止"), QString(), 28, QSize(80, 30));
    button_stop_->hide();
    connect(button_stop_, &QAbstractButton::clicked, this, &MainWidget::stopBatches);
    closing_label_ = new QLabel(this);
    closing_label_->setStyleSheet("color: #15a4fa; font-weight: bold");
    closing_label_->hide();
    closing_timer_ = new QTimer(this);
    closing_timer_->setInterval(500);
    connect(closing_timer_, &QTimer::timeout, this, &MainWidget::showClosingWait);
    counters->addWidget(closing_label_, 0, Qt::AlignVCenter);
    counters->addSpacing(20);
    counters->addWidget(button_stop_, 0, Qt::AlignVCenter);
    counters->setSpacing(0);
    counters->setContentsMargins(0, 0, 0, 0);

    // 4. Navigation row.
    auto* nav_row = new QHBoxLayout();
    for (const NavEntry& entry : kNavEntries) {
        NavButton* button = createNavButton(QString::fromUtf8(entry.text), entry.image, 40, QSize(120, 30));
        button->setEnabled(entry.enabled);
        connect(button, &QAbstractButton::clicked, this, entry.slot);
        nav_buttons_.push_back(button);
        nav_row->addWidget(button, 0, Qt::AlignVCenter);
    }
    nav_row->setSpacing(10);
    nav_row->addStretch();
    nav_row->setContentsMargins(0, 0, 0, 0);

    // 5, 6. The pages.
    setupSearchPage();
    setupLocalPage();

    // 7. Page switch and the page stack.
    button_page1_ = createNavButton(QStringLiteral("搜索列表"), QString(), 20, QSize(80, 30));
    button_page2_ = createNavButton(QStringLiteral("本地列表"), QString(), 20, QSize(80, 30));
    for (NavButton* button : {button_page1_, button_page2_}) {
        button->setCheckable(true);
        button->setShowLine(false);
    }
    button_page1_->setChecked(true);
    connect(button_page1_, &QAbstractButton::clicked, this, &MainWidget::slotPage1Clicked);
    connect(button_page2_, &QAbstractButton::clicked, this, &MainWidget::slotPage2Clicked);
    page_stack_ = new QStackedLayout();
    page_stack_->addWidget(search_page_);
    page_stack_->addWidget(local_page_);
    auto* page_switch = new QHBoxLayout();
    page_switch->addWidget(button_page1_);
    page_switch->addWidget(button_page2_);
    page_switch->setSpacing(10);
    page_switch->addStretch();
    auto* pages = new QVBoxLayout();
    pages->addLayout(page_switch);
    pages->addLayout(page_stack_);
    pages->setContentsMargins(0, 0, 0, 0);

    // 8, 9. Title bar and the main layout.
    title_widget_ = new TitleWidget(this);
    auto* main_layout = new QVBoxLayout(this);
    main_layout->addWidget(title_widget_, 0, Qt::AlignTop);
    main_layout->addLayout(counters);
    main_layout->addLayout(nav_row);
    main_layout->addLayout(pages);
    main_layout->setStretch(0, 1);
    main_layout->setStretch(1, 1);
    main_layout->setStretch(2, 1);
    main_layout->setStretch(3, 20);
    main_layout->setSpacing(0);
    main_layout->setContentsMargins(0, 0, 0, 0);
    main_layout->setSizeConstraint(QLayout::SetNoConstraint);

    // 10. Connections.
    connect(title_widget_, &TitleWidget::signalButtonMinClicked, this, &MainWidget::onButtonMinClicked);
    connect(title_widget_, &TitleWidget::signalButtonRestoreClicked, this,
            &MainWidget::onButtonRestoreClicked);
    connect(title_widget_, &TitleWidget::signalButtonMaxClicked, this, &MainWidget::onButtonMaxClicked);
    connect(title_widget_, &TitleWidget::signalButtonCloseClicked, this, &MainWidget::onButtonCloseClicked);
    DeviceTableWidgetBase* lists[] = {device_table_widget_, local_list_};
    for (DeviceTableWidgetBase* list : lists) {
        // The search goes on behind the local page: only the shown page's list sets the counters.
        connect(list, &DeviceTableWidgetBase::signalsDeviceNumChange, this, [this, list](int count) {
            if (list == visibleList()) OnDeviceNumChange(count);
            prepareForBatchOf(count);
        });
        connect(list, &DeviceTableWidgetBase::signalsSelectedChange, this, [this, list](int count) {
            if (list == visibleList()) OnSelectedChange(count);
        });
        connect(list, &DeviceTableWidgetBase::signalOpenVideo, this, &MainWidget::slotOpenVideo);
    }

#ifndef QT_NO_SESSIONMANAGER
    // The session ending would cut running upgrades off: it is asked to wait, and the window asks
    // the user as its own close does. Where the session allows no say, the destructor still waits.
    connect(qApp, &QGuiApplication::commitDataRequest, this, [this](QSessionManager& manager) {
        if (!anyBatchRunning() || !manager.allowsInteraction()) return;
        manager.cancel();
        manager.release();
        QTimer::singleShot(0, this, [this] {
            showNormal();
            raise();
            activateWindow();
            close();
        });
    });
#endif

    hwnd_ = reinterpret_cast<HWND>(winId());
    kp::registerNativeWindow(hwnd_, this, [this](MSG& msg) {
        long result = 0;
        nativeEvent("windows_generic_MSG", &msg, &result);
    });
    ui_job_queue_->setOwner(hwnd_);
    // Started with the window, not at the first batch's end, so that a batch leaves no thread
    // behind; batchEnded tries again should the system refuse it now.
    batch_chores_.Start();
    prepareForBatchOf(std::max(device_table_widget_->rowCount(), local_list_->rowCount()));
}

MainWidget::~MainWidget() {
    // The lists still report their counts while they are destroyed, after the labels are gone.
    device_table_widget_->disconnect(this);
    local_list_->disconnect(this);
    // From here on nothing posts: a login or a notice ending now would otherwise wait for, or
    // leave behind, jobs that no one runs any more.
    ui_job_queue_->close();
    ui_job_queue_->setOwner(nullptr);
    kp::unregisterNativeWindow(hwnd_);
    // An exit that did not pass the close (the application told to quit): no camera starts any
    // more, a running upgrade is never cut off mid-write, and every camera gets its report row.
    for (const RunningBatch& entry : running_batches_) entry.run->Stop(batch::kReasonInterrupted);
    for (const RunningBatch& entry : running_batches_) {
        entry.run->Wait();
        if (entry.report) entry.report->Flush();
    }
    running_batches_.clear();
    // Ended batches still being let go finish their reports; those not yet taken go here.
    batch_chores_.Stop();
    batch_chores_.Clear();
    // The lists stop discovery, unregister the notice callback and end their logins, all calls
    // into the library, which must come before its Cleanup.
    delete device_table_widget_;
    device_table_widget_ = nullptr;
    delete local_list_;
    local_list_ = nullptr;
    factory::databasemanager::instance()->clear_cache();
    if (const int code = KpLPRClient_Cleanup()) {
        KPES_LOG(kpes::LS_ERROR) << "KpLPRClient_Cleanup false: " << code;
    } else {
        KPES_LOG(kpes::LS_ERROR) << "KpLPRClient_Cleanup OK";
    }
}

NavButton* MainWidget::createNavButton(const QString& text, const QString& image, int padding_left,
                                       const QSize& size) {
    auto* button = new NavButton(this);
    button->setText(text);
    button->setCheckable(false);
    button->setPaddingLeft(padding_left);
    button->setFixedSize(size);
    if (!image.isEmpty()) {
        button->setShowIcon(true);
        button->setIconSpace(10);
        button->setIconSize(QSize(16, 16));
        button->setIconNormal(QPixmap(image));
        button->setIconHover(QPixmap(image + "_hover"));
        button->setIconCheck(QPixmap(image + "_hover"));
        button->setIconDisable(QPixmap(image + "_ban"));
    }
    button->setNormalBgColor(QColor("#FFFFFF"));
    button->setHoverBgColor(QColor("#15a4fa"));
    button->setCheckBgColor(QColor("#15a4fa"));
    button->setDisableBgColor(QColor("#FFFFFF"));
    button->setNormalTextColor(QColor("#15a4fa"));
    button->setHoverTextColor(QColor("#FFFFFF"));
    button->setCheckTextColor(QColor("#FFFFFF"));
    button->setDisableTextColor(QColor("#cad2e2"));
    return button;
}

void MainWidget::setupSearchPage() {
    user_edit_->setFixedSize(70, 30);
    user_edit_->setText("admin");
    password_edit_->setFixedSize(70, 30);
    password_edit_->setText(QString::fromUtf8(DeviceDialog::kDefaultPassword));

    search_page_ = new QWidget(this);
    device_table_widget_ = new DeviceTableWidget(this, ui_job_queue_);
    button_refresh_ = createNavButton(QStringLiteral("刷新"), ":/base/refresh", 40, QSize(120, 30));
    connect(button_refresh_, &QAbstractButton::clicked, this, &MainWidget::onRefreshClick);
    button_add_to_local_ = createNavButton(QStringLiteral("添加到本地列表"), QString(), 20, QSize(120, 30));
    connect(button_add_to_local_, &QAbstractButton::clicked, this, &MainWidget::slotAddToLocalList);

    auto* login_bar = new QHBoxLayout();
    login_bar->addWidget(user_label_, 0, Qt::AlignVCenter);
    login_bar->addSpacing(10);
    login_bar->addWidget(user_edit_, 0, Qt::AlignVCenter);
    login_bar->addSpacing(10);
    login_bar->addWidget(password_label_, 0, Qt::AlignVCenter);
    login_bar->addSpacing(10);
    login_bar->addWidget(password_edit_, 0, Qt::AlignVCenter);
    login_bar->addSpacing(10);
    login_bar->addWidget(button_refresh_, 0, Qt::AlignVCenter);
    login_bar->addSpacing(10);
    login_bar->addWidget(button_add_to_local_, 0, Qt::AlignVCenter);
    login_bar->addStretch();

    search_page_layout_ = new QVBoxLayout(search_page_);
    search_page_layout_->addLayout(login_bar);
    search_page_layout_->addWidget(device_table_widget_);
}

void MainWidget::setupLocalPage() {
    local_page_ = new QWidget(this);
    button_add_ = createNavButton(QStringLiteral("添加设备"), QString(), 20, QSize(80, 30));
    button_edit_ = createNavButton(QStringLiteral("编辑设备"), QString(), 20, QSize(80, 30));
    button_del_ = createNavButton(QStringLiteral("删除设备"), QString(), 20, QSize(80, 30));
    auto* tools = new QHBoxLayout();
    for (NavButton* button : {button_add_, button_edit_, button_del_}) {
        button->setShowLine(false);
        tools->addWidget(button);
        tools->addSpacing(20);
    }
    tools->addStretch();
    connect(button_add_, &QAbstractButton::clicked, this, &MainWidget::slotAddDevice);
    connect(button_edit_, &QAbstractButton::clicked, this, &MainWidget::slotEditDevice);
    connect(button_del_, &QAbstractButton::clicked, this, &MainWidget::slotDelDevice);

    local_list_ = new EditDeviceTableWidget(this, ui_job_queue_);
    auto* list_row = new QHBoxLayout();
    list_row->addWidget(local_list_);

    local_page_layout_ = new QVBoxLayout(local_page_);
    local_page_layout_->addLayout(tools);
    local_page_layout_->addSpacing(10);
    local_page_layout_->addLayout(list_row);
}

int MainWidget::currentPage() const { return page_stack_->currentIndex(); }

DeviceTableWidgetBase* MainWidget::visibleList() const {
    if (page_stack_->currentIndex() != 0) return local_list_;
    return device_table_widget_;
}

void MainWidget::showMessage(const QString& text) {
    auto* dialog = new MessageDialog(this, QStringLiteral("提示信息"), text);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->exec();
}

void MainWidget::showNotice(const QString& text) {
    // Over an open panel the notice is the panel's, or the panel's modality would block it.
    QWidget* modal = QApplication::activeModalWidget();
    auto* dialog = new MessageDialog(modal ? modal : this, QStringLiteral("提示信息"), text);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->show();
}

bool MainWidget::ask(const QString& text) {
    auto* dialog = new MessageDialog(this, QStringLiteral("提示信息"), text, MessageDialog::KindQuestion);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    return dialog->exec() == QDialog::Accepted;
}

bool MainWidget::takeSelection(std::vector<DeviceInfo>& devices) {
    devices = visibleList()->getSelectedDevices();
    if (devices.empty()) {
        showMessage(QString::fromUtf8(kSelectDevice));
        return false;
    }
    return true;
}

void MainWidget::runPanel(RightConfigWidget* panel) {
    runPanel(panel, [panel](int width, int height) { panel->setupPanel(width, height); });
}

void MainWidget::runPanel(RightConfigWidget* panel, const std::function<void(int width, int height)>& setup) {
    panel->setAttribute(Qt::WA_DeleteOnClose);
    setup(kPanelWidth, height() - title_widget_->height());
    panel->move(mapToGlobal(QPoint(width() - kPanelWidth, title_widget_->height())));
    panel->exec();
}

// ---- Window buttons -----------------------------------------------------------------------------

void MainWidget::onButtonMinClicked() { showMinimized(); }

void MainWidget::onButtonRestoreClicked() {
    QPoint point;
    QSize size;
    title_widget_->getRestoreInfo(point, size);
    if (size.isEmpty()) return;
    setGeometry(QRect(point, size));
}

void MainWidget::onButtonMaxClicked() {
    title_widget_->saveRestoreInfo(pos(), size());
    // Exactly the available area: anything beyond it puts the close button off-screen.
    setGeometry(availableScreenArea());
}

QRect MainWidget::fitWindowGeometry(const QSize& preferred, const QRect& available) {
    const QSize size = preferred.boundedTo(available.size());
    return QRect(available.x() + (available.width() - size.width()) / 2,
                 available.y() + (available.height() - size.height()) / 2, size.width(), size.height());
}

QRect MainWidget::availableScreenArea() const {
    QScreen* screen = nullptr;
    if (const QWindow* handle = windowHandle()) screen = handle->screen();
    if (!screen) screen = QGuiApplication::screenAt(geometry().center());
    if (!screen) screen = QGuiApplication::primaryScreen();
    return screen ? screen->availableGeometry() : QRect(QPoint(0, 0), kPreferredSize);
}

void MainWidget::onButtonCloseClicked() { close(); }

void MainWidget::closeEvent(QCloseEvent* event) {
    if (!anyBatchRunning()) {
        // Batches whose end the window has not handled yet: the process ends after this.
        for (const RunningBatch& entry : running_batches_)
            if (entry.report) entry.report->Flush();
        for (const std::weak_ptr<report::BatchReport>& ended : ended_reports_)
            if (const auto report = ended.lock()) report->Flush();
        event->accept();
        return;
    }
    event->ignore();
    if (closing_ || asking_close_) return;  // already waiting, or asking
    int running = 0, waiting = 0;
    for (const RunningBatch& entry : running_batches_) {
        running += entry.cameras->running();
        waiting += entry.cameras->waiting();
    }
    QString text = QStringLiteral("%1台设备正在运行").arg(running);
    if (waiting > 0) text += QStringLiteral("，%1台尚未开始").arg(waiting);
    text += QStringLiteral("。\n关闭前将等待运行中的设备完成，\n不再启动新的设备。确定关闭吗？");
    asking_close_ = true;
    const bool insist = ask(text);
    asking_close_ = false;
    if (!insist) return;
    closing_ = true;
    for (const RunningBatch& entry : running_batches_) entry.run->Stop(batch::kReasonInterrupted);
    button_stop_->hide();
    // No new batch while the window waits to close.
    for (NavButton* button : nav_buttons_) button->setEnabled(false);
    showClosingWait();
    closing_label_->show();
    closing_timer_->start();
    // Closes at once when every batch ended while the question was open; not from inside this
    // close, which would ignore a second one.
    QTimer::singleShot(0, this, &MainWidget::batchEnded);
}

void MainWidget::showClosingWait() {
    bool upgrade = false;
    int left = 0;
    for (const RunningBatch& entry : running_batches_) {
        upgrade = upgrade || entry.operation == batch::Operation::Upgrade;
        left += entry.cameras->running() + entry.cameras->waiting();
    }
    closing_label_->setText(
        (upgrade ? QStringLiteral("正在等待升级完成…") : QStringLiteral("正在等待设备操作完成…")) +
        QStringLiteral("（还有%1台）").arg(left));
}

void MainWidget::onRefreshClick() {
    OnDeviceNumChange(0);
    OnSelectedChange(0);
    device_table_widget_->StopFindDevice();
    device_table_widget_->StartFindDevice();
}

// ---- Navigation entries -------------------------------------------------------------------------

void MainWidget::onUpdateClick() {
    std::vector<DeviceInfo> devices;
    if (!takeSelection(devices)) return;
    auto* panel = new RightUpdateWidget(this);
    connect(panel, &RightUpdateWidget::signalButtonUpdateClicked, this,
            [this, panel](QString path) { startUpgrade(path, panel->policy()); });
    runPanel(panel);
}

void MainWidget::onIpcClick() {
    std::vector<DeviceInfo> devices;
    if (!takeSelection(devices)) return;
    auto* panel = new RightIpcConfigWidget(this);
    connect(panel, &RightIpcConfigWidget::signalButtonUpdateClicked, this, &MainWidget::onButtonIpcClicked);
    connect(panel, &RightIpcConfigWidget::signalButtonSetPasswordClicked, this,
            &MainWidget::onButtonSetPasswordClicked);
    runPanel(panel);
}

void MainWidget::onNetworkClick() {
    std::vector<DeviceInfo> devices;
    if (!takeSelection(devices)) return;
    const DeviceInfo& first = devices.front();
    auto* panel = new RightNetworkWidget(this);
    connect(panel, &RightNetworkWidget::signalButtonUpdateClicked, this, &MainWidget::onButtonNetworkClicked);
    QStringList addresses;
    for (const DeviceInfo& device : devices) addresses << QString::fromStdString(device.ip_addr);
    runPanel(panel, [panel, &first, &addresses](int width, int height) {
        panel->setupPanel(width, height, QString::fromStdString(first.ip_addr), first.port,
                          QString::fromStdString(first.netmask), QString::fromStdString(first.gateway));
        panel->setCameras(addresses);
    });
}

void MainWidget::onOnvifClick() {}

// The list export needs no ticked device. The search page exports the rows it shows; the local
// page the stored list.
void MainWidget::onOutputClick() {
    auto* panel = new RightDeviceListWidget(this);
    if (currentPage() == 0)
        connect(panel, &RightDeviceListWidget::signalButtonSaveClicked, this,
                &MainWidget::onSearchListOutput);
    else
        connect(panel, &RightDeviceListWidget::signalButtonSaveClicked, this,
                &MainWidget::onButtonOutputClick);
    runPanel(panel);
}

void MainWidget::onSearchListOutput(QString file) {
    if (!device_table_widget_->exportShownRows(file.toUtf8().toStdString()))
        showMessage(QStringLiteral("导出列表失败!"));
}

void MainWidget::onTimeClick() {
    std::vector<DeviceInfo> devices;
    if (!takeSelection(devices)) return;
    auto* panel = new RightTimeWidget(this);
    connect(panel, &RightTimeWidget::signalButtonSetupClicked, this, &MainWidget::onButtonTimeClicked);
    runPanel(panel);
}

void MainWidget::onRecoveryClick() {
    std::vector<DeviceInfo> devices;
    if (!takeSelection(devices)) return;
    auto* panel = new RightFactoryWidget(this);
    // A full restore also resets the cameras' addresses and passwords.
    connect(panel, &RightFactoryWidget::signalButtonSetupClicked, this, [this](int index) {
        if (index != 1 || confirmTicked(kConfirmFullRestore)) onButtonFactoryClicked(index);
    });
    runPanel(panel);
}

void MainWidget::onRestartClick() {
    std::vector<DeviceInfo> devices;
    if (!takeSelection(devices)) return;
    auto* panel = new RightRebootWidget(this);
    connect(panel, &RightRebootWidget::signalButtonSetupClicked, this, [this] {
        if (confirmTicked(kConfirmReboot)) onButtonRebootClicked();
    });
    runPanel(panel);
}

void MainWidget::onUserUploadClick() {
    std::vector<DeviceInfo> devices;
    if (!takeSelection(devices)) return;
    auto* panel = new RightUserUploadWidget(this);
    connect(panel, &RightUserUploadWidget::signalButtonUpdateClicked, this,
            &MainWidget::onButtonUserUploadClick);
    runPanel(panel);
}

// ---- Counters and pages -------------------------------------------------------------------------

void MainWidget::OnDeviceNumChange(int totle_num) { device_num_value_->setText(QString::number(totle_num)); }

void MainWidget::OnSelectedChange(int select_num) {
    selected_num_value_->setText(QString::number(select_num));
}

void MainWidget::slotPage1Clicked() {
    page_stack_->setCurrentIndex(0);
    button_page1_->setChecked(true);
    button_page2_->setChecked(false);
    device_table_widget_->updateCounts();
}

void MainWidget::slotPage2Clicked() {
    page_stack_->setCurrentIndex(1);
    button_page1_->setChecked(false);
    button_page2_->setChecked(true);
    local_list_->updateCounts();
}

// ---- Local tools --------------------------------------------------------------------------------

void MainWidget::slotAddDevice() {
    auto* dialog = new DeviceDialog(local_list_, QStringLiteral("添加设备"));
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->fillFields("192.168.1.100", 80, "admin", QString::fromUtf8(DeviceDialog::kDefaultPassword));
    connect(dialog, &DeviceDialog::signalSaveDeviceInfo, local_list_,
            &EditDeviceTableWidget::slotAddDeviceInfo);
    dialog->exec();
}

void MainWidget::slotAddToLocalList() {
    const std::vector<DeviceInfo> devices = device_table_widget_->getSelectedDevices();
    if (devices.empty()) return showMessage(QString::fromUtf8(kSelectDevice));
    auto* dialog = new DeviceDialog(this, QStringLiteral("添加到本地列表"));
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->askLoginOnly(user_edit_->text(), password_edit_->text());
    int added = -1;
    connect(dialog, &DeviceDialog::signalSaveDeviceInfo, this,
            [&](const QString&, int, const QString& user, const QString& password) {
                added = local_list_->addDevices(devices, user, password);
            });
    dialog->exec();
    if (added < 0) return;
    const int skipped = static_cast<int>(devices.size()) - added;
    QString text = QStringLiteral("已添加%1台设备到本地列表").arg(added);
    if (skipped > 0) text += QStringLiteral("，%1台已在本地列表中").arg(skipped);
    showMessage(text);
}

void MainWidget::slotEditDevice() {
    const std::vector<DeviceInfo>& devices = local_list_->getSelectedDevices();
    if (devices.empty()) return showMessage(QString::fromUtf8(kSelectDevice));
    if (devices.size() > 1) return showMessage(QString::fromUtf8(kSelectOneDevice));
    local_list_->editDevice(devices.front().ip_addr);
}

void MainWidget::slotDelDevice() {
    const std::vector<DeviceInfo>& devices = local_list_->getSelectedDevices();
    if (devices.empty()) return showMessage(QString::fromUtf8(kSelectDevice));
    if (devices.size() > 1) return showMessage(QString::fromUtf8(kSelectOneDevice));
    local_list_->deleteDevice(devices.front().ip_addr);
}

// ---- Video preview ------------------------------------------------------------------------------

void MainWidget::slotOpenVideo(DeviceInfo device_info) {
    // A local-list camera keeps its own login; the login bar serves the search list.
    std::string user = device_info.user_name;
    std::string password = device_info.pass_word;
    if (user.empty()) {
        user = user_edit_->text().toUtf8().toStdString();
        password = password_edit_->text().toUtf8().toStdString();
    }
    PlayWndWidget::Open(this, device_info, user, password);
}

bool MainWidget::nativeEvent(const QByteArray& eventType, void* message, long* result) {
    if (eventType == "windows_generic_MSG" && static_cast<MSG*>(message)->message == kUiJobMessage) {
        ui_job_queue_->runQueuedJobs();
        return false;  // let default processing go on
    }
    return QWidget::nativeEvent(eventType, message, result);
}
