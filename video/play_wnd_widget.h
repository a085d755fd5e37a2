// The live video of one camera in a modal 720 x 576 window. The camera library draws into the
// native window of the black label. The window drives a job composer of its own: a start job when
// it opens, one stop job when it closes; their reports come back through the window's own job
// queue and message 1025, where the composer's worker is stopped.
//
//   PlayWndWidget::Open(main_window, device, user, password);   // returns when closed
//
// The stop job runs after the window has gone: it holds the composer, which the window releases
// as it goes.
#pragma once

#include <windows.h>

#include <QDialog>
#include <memory>
#include <string>

#include "deviceinfo.h"
#include "ui_job_queue.h"

class QLabel;

namespace factory {
class dealmodule;
}

class PlayWndWidget : public QDialog {
    Q_OBJECT

public:
    // Builds the window and posts the start job with the login it is given.
    PlayWndWidget(QWidget* parent, const DeviceInfo& device, const std::string& user,
                  const std::string& password);
    ~PlayWndWidget() override;

    // Builds the window, runs it modally and deletes it once closed.
    static void Open(QWidget* parent, const DeviceInfo& device, const std::string& user,
                     const std::string& password);

    QLabel* videoLabel() const { return video_label_; }
    const std::shared_ptr<factory::dealmodule>& composer() const { return composer_; }
    const UiJobQueuePtr& jobQueue() const { return ui_job_queue_; }
    // Stop jobs posted so far: one at most, however the window is closed.
    int stopJobsPosted() const { return stop_jobs_posted_; }

public Q_SLOTS:
    void done(int result) override;

protected:
    void closeEvent(QCloseEvent* event) override;
    bool nativeEvent(const QByteArray& eventType, void* message, long* result) override;

private:
    void startPreview();
    void stopPreview();

    DeviceInfo device_;
    std::string user_;
    std::string password_;
    QLabel* video_label_ = nullptr;
    std::shared_ptr<factory::dealmodule> composer_;
    UiJobQueuePtr ui_job_queue_;
    HWND hwnd_ = nullptr;
    bool closing_ = false;
    int stop_jobs_posted_ = 0;
};
