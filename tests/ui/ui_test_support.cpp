#include "ui_test_support.h"

#include <kp_platform.h>

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QThread>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>

bool waitFor(const std::function<bool()>& done, int timeout_ms) {
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > timeout_ms) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QThread::msleep(1);
    }
    return true;
}

int threadCount() { return QDir("/proc/self/task").entryList(QDir::Dirs | QDir::NoDotAndDotDot).size(); }

CapturedLog::CapturedLog() {
    kp::setDebugOutputCapture([this](const char* text) {
        std::lock_guard<std::mutex> lock(mutex_);
        lines_.emplace_back(text);
    });
}

CapturedLog::~CapturedLog() { kp::setDebugOutputCapture(nullptr); }

int CapturedLog::count(const std::string& text) const {
    std::lock_guard<std::mutex> lock(mutex_);
    return static_cast<int>(std::count_if(lines_.begin(), lines_.end(), [&](const std::string& line) {
        return line.find(text) != std::string::npos;
    }));
}

HangWatchdog::HangWatchdog(std::string scene, int seconds)
    : thread_([this, scene = std::move(scene), seconds] {
          std::unique_lock<std::mutex> guard(lock_);
          if (disarmed_.wait_for(guard, std::chrono::seconds(seconds), [this] { return done_; })) return;
          std::fprintf(stderr, "HANG: %s did not finish within %d s\n", scene.c_str(), seconds);
          std::fflush(stderr);
          std::abort();
      }) {}

HangWatchdog::~HangWatchdog() {
    {
        std::lock_guard<std::mutex> guard(lock_);
        done_ = true;
    }
    disarmed_.notify_all();
    thread_.join();
}
