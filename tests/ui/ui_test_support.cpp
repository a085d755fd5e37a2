#include "ui_test_support.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QThread>
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
