#include "play_wnd_widget.h"

#include <QCloseEvent>
#include <QLabel>
#include <QVBoxLayout>

#include "dealmodule.h"
#include "kp_native_window.h"

namespace {

constexpr int kVideoWidth = 720;
constexpr int kVideoHeight = 576;

}  // namespace

PlayWndWidget::PlayWndWidget(QWidget* parent, const DeviceInfo& device, const std::string& user,
                             const std::string& password)
    : QDialog(parent), device_(device), user_(user), password_(password) {
    setWindowFlags(windowFlags() | Qt::WindowCloseButtonHint);
    setFixedSize(kVideoWidth, kVideoHeight);

    video_label_ = new QLabel(this);
    video_label_->setStyleSheet("background-color:black");
    video_label_->setFixedSize(kVideoWidth, kVideoHeight);
    // The library draws into the label's own native window.
    video_label_->setAttribute(Qt::WA_NativeWindow);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(video_label_, 0, Qt::AlignCenter);

    composer_ = std::make_shared<factory::dealmodule>();
    ui_job_queue_ = std::make_shared<UiJobQueue>();
    hwnd_ = reinterpret_cast<HWND>(winId());
    kp::registerNativeWindow(hwnd_, this, [this](MSG& msg) {
        long result = 0;
        nativeEvent("windows_generic_MSG", &msg, &result);
    });
    ui_job_queue_->setOwner(hwnd_);

    startPreview();
}

PlayWndWidget::~PlayWndWidget() {
    // A window torn down without being closed still ends its video and session.
    stopPreview();
    ui_job_queue_->setOwner(nullptr);
    kp::unregisterNativeWindow(hwnd_);
    ui_job_queue_.reset();
    composer_.reset();
}

void PlayWndWidget::Open(QWidget* parent, const DeviceInfo& device, const std::string& user,
                         const std::string& password) {
    auto* window = new PlayWndWidget(parent, device, user, password);
    window->exec();
    delete window;
}

void PlayWndWidget::startPreview() {
    if (!composer_->InitModules(1)) {
        // No worker thread: the reason stands where the picture would, instead of a black window.
        video_label_->setStyleSheet("background-color:black; color:white");
        video_label_->setAlignment(Qt::AlignCenter);
        video_label_->setText(QString::fromUtf8(factory::dealmodule::kNoThread));
        return;
    }
    std::weak_ptr<UiJobQueue> queue = ui_job_queue_;
    const HWND video = reinterpret_cast<HWND>(video_label_->winId());
    composer_->StartVideo(device_.ip_addr, device_.port, user_, password_, video,
                          [this, queue](bool, const std::string& text) {
                              if (text.empty()) return true;
                              // Only the window's own thread may stop the worker; a window that is
                              // gone runs no job, and its stop job ends with the composer.
                              if (UiJobQueuePtr live = queue.lock()) {
                                  live->postJob([this] {
                                      // Once closing, the stop job may still wait behind this
                                      // report: stopping now would leave it queued for ever.
                                      if (!closing_) composer_->StopWorker();
                                  });
                              }
                              return true;
                          });
}

void PlayWndWidget::stopPreview() {
    if (closing_) return;
    closing_ = true;
    // Starts a fresh worker when the start's report has stopped the last one. Without one, the
    // composer closes the session (and with it the video) when the window lets it go.
    if (!composer_->InitModules(1)) return;
    ++stop_jobs_posted_;
    composer_->StopVideo(device_.ip_addr, device_.port, user_, password_, nullptr);
}

void PlayWndWidget::done(int result) {
    // Escape and reject() end the dialog without a close event.
    stopPreview();
    QDialog::done(result);
}

void PlayWndWidget::closeEvent(QCloseEvent* event) {
    stopPreview();
    QDialog::closeEvent(event);
}

bool PlayWndWidget::nativeEvent(const QByteArray& eventType, void* message, long* result) {
    if (eventType == "windows_generic_MSG" && static_cast<MSG*>(message)->message == kUiJobMessage) {
        ui_job_queue_->runQueuedJobs();
        return false;
    }
    return QDialog::nativeEvent(eventType, message, result);
}
