// The whole main window started on a stored list of many cameras (5,000 unless given), some of
// which never answer (500 unless given; each login of one waits for the whole connect time-out).
// The list is written with the device store into a temporary folder, which becomes the working
// directory, as the program finds it at start. Prints, counted from the start of main():
//   - when the window was shown (its first pass of the event loop after show()),
//   - when every stored camera had its row in the local list,
//   - when every row showed its login result, and the login results per second until then,
//   - the longest stretch the user-interface thread was busy without coming back to its event
//     loop (between passes of a zero-interval timer) during the first seconds (30 unless given),
//     in wall time and in that thread's CPU time; the load average is printed alongside.
//
//   main_window_local_list_benchmark [cameras (5000)] [silent (500)] [observed seconds (30)]
//
// Runs at the real time scale unless KP_TIME_SCALE says otherwise. With KP_SHOW_LOCAL_LIST=1 the
// local list's page is opened right after the window is shown, so its rows are painted.
#include <RuDAVADO.h>
#include <RuDAVADO_control.h>
#include <fcntl.h>
#include <unistd.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTableWidget>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <string>

#include "databasemanager.h"
#include "edit_device_table_widget.h"
#include "main_widget.h"
#include "search_list_scenario.h"
#include "stored_cameras.h"

namespace {

qint64 threadCpuNanoseconds() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<qint64>(now.tv_sec) * 1000000000 + now.tv_nsec;
}

}  // namespace

int main(int argc, char** argv) {
    QElapsedTimer clock;
    clock.start();
    if (qgetenv("QT_QPA_PLATFORM").isEmpty()) qputenv("QT_QPA_PLATFORM", "offscreen");
    Q_INIT_RESOURCE(resources);
    QApplication app(argc, argv);
    const int cameras = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5000;
    const int silent = argc > 2 ? std::clamp(std::atoi(argv[2]), 0, cameras) : 500;
    const int observed_seconds = argc > 3 ? std::max(1, std::atoi(argv[3])) : 30;
    const bool show_local_list = qgetenv("KP_SHOW_LOCAL_LIST") == "1";

    const std::filesystem::path dir = setUpStoredSite("kp_main_window_list_bench", cameras, silent);
    if (dir.empty()) return 1;
    // The window reads the file, as at a real start.
    factory::databasemanager::instance()->clear_cache();
    const qint64 store_written = clock.nsecsElapsed();

    // The heartbeat runs from before the window is built, so the construction is a stretch too.
    const qint64 observe_until = store_written + static_cast<qint64>(observed_seconds) * 1000000000;
    qint64 last_pass = store_written;
    qint64 last_pass_cpu = threadCpuNanoseconds();
    qint64 longest = 0;
    qint64 longest_at = 0;
    qint64 longest_cpu = 0;
    int over_100ms = 0;
    QTimer heartbeat;
    heartbeat.setInterval(0);
    QObject::connect(&heartbeat, &QTimer::timeout, [&] {
        const qint64 now = clock.nsecsElapsed();
        const qint64 now_cpu = threadCpuNanoseconds();
        if (now - last_pass > longest) {
            longest = now - last_pass;
            longest_at = last_pass;
        }
        longest_cpu = std::max(longest_cpu, now_cpu - last_pass_cpu);
        if (now - last_pass > 100000000) ++over_100ms;
        last_pass = now;
        last_pass_cpu = now_cpu;
        if (now > observe_until) heartbeat.stop();
    });
    heartbeat.start();

    QuietOutput* quiet = new QuietOutput();
    auto* window = new MainWidget();
    window->show();
    qint64 shown_at = -1;
    QTimer::singleShot(0, [&] { shown_at = clock.nsecsElapsed(); });
    if (show_local_list) window->slotPage2Clicked();

    QTableWidget* table = window->localList()->tableWidget();
    const QString logging_in = QString::fromUtf8(EditDeviceTableWidget::kLoggingIn);
    const QString online = QString::fromUtf8(EditDeviceTableWidget::kOnline);
    qint64 listed_at = -1;
    qint64 final_at = -1;
    int online_rows = 0;
    int scanned = 0;  // rows known to be final: results arrive roughly in list order
    QEventLoop loop;
    QTimer check;
    check.setInterval(50);
    QObject::connect(&check, &QTimer::timeout, [&] {
        if (listed_at < 0 && table->rowCount() == cameras) listed_at = clock.nsecsElapsed();
        if (listed_at < 0) return;
        while (scanned < cameras && table->item(scanned, kColumnLensOrLogin)->text() != logging_in) ++scanned;
        if (scanned < cameras) return;
        for (int row = 0; row < cameras; ++row) {
            const QString state = table->item(row, kColumnLensOrLogin)->text();
            if (state == logging_in) return;
            if (state == online) ++online_rows;
        }
        final_at = clock.nsecsElapsed();
        loop.quit();
    });
    check.start();
    QTimer::singleShot(20 * 60 * 1000, &loop, &QEventLoop::quit);
    loop.exec();
    check.stop();
    // The observed span may outlast the logins.
    while (heartbeat.isActive()) QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    delete window;
    delete quiet;

    double load[3] = {0, 0, 0};
    getloadavg(load, 3);
    std::printf(
        "main window on %d stored cameras, %d never answer; time scale %s; load average %.2f %.2f %.2f\n",
        cameras, silent, qgetenv("KP_TIME_SCALE").isEmpty() ? "1" : qgetenv("KP_TIME_SCALE").constData(),
        load[0], load[1], load[2]);
    std::printf("store written at %.3f s (not part of the start)\n", store_written / 1e9);
    std::printf("window shown %.3f s after the store was written\n", (shown_at - store_written) / 1e9);
    if (listed_at < 0) {
        std::printf("NOT ALL LISTED after 20 minutes: %d rows\n", table->rowCount());
        return 2;
    }
    std::printf("all %d rows listed %.3f s after the store was written\n", cameras,
                (listed_at - store_written) / 1e9);
    if (final_at < 0) {
        std::printf("NOT FINAL after 20 minutes\n");
        return 2;
    }
    const double final_s = (final_at - store_written) / 1e9;
    std::printf(
        "every login result shown %.1f s after the store was written: %d online; %.0f results per second\n",
        final_s, online_rows, cameras / final_s);
    std::printf(
        "first %d s: longest busy stretch %.1f ms (from %.3f s), longest in CPU time %.1f ms, %d over 100 "
        "ms\n",
        observed_seconds, longest / 1e6, (longest_at - store_written) / 1e9, longest_cpu / 1e6, over_100ms);
    std::filesystem::current_path(dir.parent_path());
    std::filesystem::remove_all(dir);
    return 0;
}
