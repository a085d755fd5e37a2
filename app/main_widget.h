// The one top-level window: title bar, counters, the navigation row, the search page with its
// login bar and the local page with its tools. Each navigation entry opens a right-hand panel
// for the ticked devices of the visible list; confirming the panel runs one of the dispatch
// slots (main_widget_dispatch.cpp), which hand one batch to the batch engine and return.
//
// The window owns the queue through which other threads hand work back to the user-interface
// thread, and runs that queue from its native-event hook.
#pragma once

#include <QRect>
#include <QString>
#include <QWidget>
#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "RuDAVADO.h"
#include "batch.h"
#include "deviceinfo.h"
#include "row_reporter.h"
#include "ui_job_queue.h"

class CameraTracker;
class QCloseEvent;
class QHBoxLayout;
class QLabel;
class QLineEdit;
class QStackedLayout;
class QTimer;
class QVBoxLayout;
class DeviceTableWidget;
class DeviceTableWidgetBase;
class EditDeviceTableWidget;
class NavButton;
class RightConfigWidget;
class TitleWidget;
namespace report {
class BatchReport;
}

class MainWidget : public QWidget {
    Q_OBJECT

public:
    explicit MainWidget(QWidget* parent = nullptr);
    ~MainWidget() override;

    const UiJobQueuePtr& jobQueue() const { return ui_job_queue_; }

    // For tests and the screenshot: the parts a person sees.
    TitleWidget* titleWidget() const { return title_widget_; }
    DeviceTableWidget* searchList() const { return device_table_widget_; }
    EditDeviceTableWidget* localList() const { return local_list_; }
    const std::vector<NavButton*>& navButtons() const { return nav_buttons_; }
    NavButton* refreshButton() const { return button_refresh_; }
    NavButton* addToLocalButton() const { return button_add_to_local_; }
    // "停止": shown while a batch runs; stops every running batch.
    NavButton* stopButton() const { return button_stop_; }
    // "正在等待升级完成…": shown while a close waits for the running cameras.
    QLabel* closingLabel() const { return closing_label_; }
    NavButton* searchPageButton() const { return button_page1_; }
    NavButton* localPageButton() const { return button_page2_; }
    QLineEdit* userEdit() const { return user_edit_; }
    QLineEdit* passwordEdit() const { return password_edit_; }
    QLabel* deviceTotalLabel() const { return device_num_value_; }
    QLabel* selectedLabel() const { return selected_num_value_; }
    int currentPage() const;
    const KP_PARAM_IMPORT_ABILITY_V2& exportSelection() const { return *export_selection_; }

    // `preferred` where it fits in `available`, otherwise cut to it; centred in `available`.
    static QRect fitWindowGeometry(const QSize& preferred, const QRect& available);

    static const char* const kReportFailed;  // "批量报告写入失败!"
    // "%1": how many ticked cameras were left out because a batch still holds them.
    static const char* const kSkippedRunning;
    // "%1": the cameras a reboot or a full restore is about to reach.
    static const char* const kConfirmReboot;
    static const char* const kConfirmFullRestore;

    // "<ip>_<YYYYMMDDhhmmss>.cfg", the name of a configuration export in the folder its panel
    // names (the working folder unless the user chose another).
    static std::string exportFileName(const std::string& ip, int year, int month, int day, int hour,
                                      int minute, int second);

public Q_SLOTS:
    void onButtonMinClicked();
    void onButtonRestoreClicked();
    void onButtonMaxClicked();
    void onButtonCloseClicked();
    void onRefreshClick();
    void onUpdateClick();
    void onIpcClick();
    void onNetworkClick();
    void onOutputConfigClick();
    void onOnvifClick();
    void onOutputClick();
    void onTimeClick();
    void onRecoveryClick();
    void onRestartClick();
    void onUserUploadClick();

    // Dispatch slots (main_widget_dispatch.cpp).
    void onButtonUpdateClicked(QString path);
    // The upgrade with the panel's staged rollout.
    void startUpgrade(const QString& path, const batch::Policy& policy);
    // No camera of a running batch starts any more; running ones end as they would.
    void stopBatches();
    void onButtonIpcClicked(QString path);
    void onButtonSetPasswordClicked(QString password);
    void onButtonNetworkClicked(QString ip, int port, QString mask, QString geteway);
    void onButtonFactoryClicked(int index);
    void onButtonOutputConifgclicked(const KP_PARAM_IMPORT_ABILITY_V2& ability);
    void onButtonTimeClicked();
    void onButtonRebootClicked();
    void onButtonUserUploadClick(bool enable_logo, QString path_logo, bool enable_bg, QString path_bg,
                                 bool enable_css, QString path_css);
    void onButtonOutputClick(QString file);
    // The search page's list export: the rows and columns the search list shows.
    void onSearchListOutput(QString file);

    void OnDeviceNumChange(int totle_num);
    void OnSelectedChange(int select_num);
    void slotPage1Clicked();
    void slotPage2Clicked();
    void slotAddDevice();
    // The ticked search-list cameras join the local list, with the login bar's login (the user
    // may change it first).
    void slotAddToLocalList();
    void slotEditDevice();
    void slotDelDevice();
    // A row's video button: the preview logs in with the device's own login when its record
    // carries one (local list), with the login bar's otherwise.
    void slotOpenVideo(DeviceInfo device_info);

protected:
    // While a batch runs, closing asks first; if the user insists, no camera starts any more and
    // the window stays, showing the wait, until the running cameras have ended and every camera
    // has its report row. Title bar, Alt+F4 and the system's close all come here.
    void closeEvent(QCloseEvent* event) override;
    bool nativeEvent(const QByteArray& eventType, void* message, long* result) override;

private:
    void setupSearchPage();
    void setupLocalPage();
    NavButton* createNavButton(const QString& text, const QString& image, int padding_left,
                               const QSize& size);
    void showMessage(const QString& text);
    // The usable area (no task bar) of the screen the window is on.
    QRect availableScreenArea() const;
    // The same message without waiting for it to be closed: a batch goes on meanwhile.
    void showNotice(const QString& text);
    // A question with "是" and "否"; true for "是".
    bool ask(const QString& text);
    // Says in the window, from any thread, that a batch's report could not be written.
    std::function<void()> reportFailure();

    // The list every operation works on: the local list unless the search page is shown.
    DeviceTableWidgetBase* visibleList() const;
    // The visible list's ticked devices; shows "请选择待修改的设备!" and returns false when none.
    bool takeSelection(std::vector<DeviceInfo>& devices);
    // Sizes the panel to the device area, places it at the window's right edge below the title
    // bar and runs it modally; the panel is deleted when it closes.
    void runPanel(RightConfigWidget* panel);
    // The same with a panel-specific setup, given the width and height.
    void runPanel(RightConfigWidget* panel, const std::function<void(int width, int height)>& setup);

    // Dispatch helpers (main_widget_dispatch.cpp).
    struct Login {
        std::string user;
        std::string password;
    };
    Login loginFor(const DeviceInfo& device) const;
    // One batch over the ticked devices of the visible list (or `devices`), in list order, each
    // with its login; its rows follow it through a RowReporter and its report is named after the
    // operation. Returns once the batch is handed to its thread.
    // Cameras a running batch still holds are left out; the window says how many.
    void dispatch(batch::Operation operation, batch::Arguments arguments,
                  batch::Policy policy = batch::Policy(),
                  std::vector<DeviceInfo> devices = std::vector<DeviceInfo>());
    // Asks `question`, its "%1" the ticked cameras a dispatch would reach; true for "是".
    bool confirmTicked(const char* question);
    // Takes out of `devices` the cameras a running batch has not ended yet; returns how many.
    int dropBusy(std::vector<DeviceInfo>& devices) const;
    // A list has `rows` rows: readies the process, on another thread, for a batch with a thread
    // per row. Done at the batch's start instead, it holds this thread and every camera for tens
    // of milliseconds each time the batches grow.
    void prepareForBatchOf(int rows);
    // A batch has ended: forget it, and hide "停止" when none runs; a waiting close goes on.
    void batchEnded();
    bool anyBatchRunning() const;
    // Closing: the running cameras' count on the waiting label.
    void showClosingWait();

    TitleWidget* title_widget_ = nullptr;
    DeviceTableWidget* device_table_widget_ = nullptr;
    EditDeviceTableWidget* local_list_ = nullptr;
    NavButton* button_add_ = nullptr;
    NavButton* button_edit_ = nullptr;
    NavButton* button_del_ = nullptr;
    NavButton* button_page1_ = nullptr;
    NavButton* button_page2_ = nullptr;
    QVBoxLayout* search_page_layout_ = nullptr;
    QVBoxLayout* local_page_layout_ = nullptr;
    QWidget* search_page_ = nullptr;
    QWidget* local_page_ = nullptr;
    QStackedLayout* page_stack_ = nullptr;
    QLabel* device_num_label_ = nullptr;
    QLabel* device_num_value_ = nullptr;
    QLabel* selected_num_label_ = nullptr;
    QLabel* selected_num_value_ = nullptr;
    QLabel* user_label_ = nullptr;
    QLineEdit* user_edit_ = nullptr;
    QLabel* password_label_ = nullptr;
    QLineEdit* password_edit_ = nullptr;
    NavButton* button_refresh_ = nullptr;
    NavButton* button_add_to_local_ = nullptr;
    NavButton* button_stop_ = nullptr;
    std::vector<NavButton*> nav_buttons_;
    struct RunningBatch {
        std::shared_ptr<batch::Batch> run;
        std::shared_ptr<report::BatchReport> report;
        std::shared_ptr<CameraTracker> cameras;
        batch::Operation operation;
    };
    std::vector<RunningBatch> running_batches_;
    // Reports of ended batches that may still be saving their last rows.
    std::vector<std::weak_ptr<report::BatchReport>> ended_reports_;
    // Where ended batches are let go (see batchEnded) and the process is readied for a batch's
    // threads (prepareForBatchOf); drained before the library's cleanup.
    factory::Worker batch_chores_;
    // The most camera threads the process is to be readied for, and whether a request for it
    // waits on the chores thread.
    struct ThreadReadiness {
        std::atomic<int> wanted{0};
        std::atomic<bool> posted{false};
    };
    std::shared_ptr<ThreadReadiness> thread_readiness_ = std::make_shared<ThreadReadiness>();
    // The user chose to close while batches ran: the window waits for them.
    bool closing_ = false;
    bool asking_close_ = false;
    QLabel* closing_label_ = nullptr;
    QTimer* closing_timer_ = nullptr;
    UiJobQueuePtr ui_job_queue_;
    // Where the last configuration export went; the working folder until one is chosen.
    QString export_folder_;
    // 827,716 bytes; on the heap so that the window object stays small.
    std::unique_ptr<KP_PARAM_IMPORT_ABILITY_V2> export_selection_;
    HWND hwnd_ = nullptr;
};
