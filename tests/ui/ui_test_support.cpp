#include "ui_test_support.h"

#include <kp_platform.h>

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QThread>
#include <algorithm>

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
