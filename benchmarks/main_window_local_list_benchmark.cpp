// The whole main window started on a stored list of many cameras (5,000 unless given), some of
// which never answer (500 unless given; each login of one waits for the whole connect time-out).
// The list is written with the device store into a temporary folder, and the network into a
// scenario file there; the benchmark then starts itself again in that folder with the scenario
// named by RUDAVADO_SCENARIO, as the program is started at a site. Prints, counted from that
// start (before the process is loaded, so it includes the loading, the application's set-up and
// the library reading its scenario):
//   - when the window was shown (its first pass of the event loop after show()),
//   - when every stored camera had its row in the local list,
//   - when every row showed its login result, and the login results per second until then,
//   - the longest stretch the user-interface thread was busy without coming back to its event
//     loop (between passes of a zero-interval timer) during the first seconds (30 unless given),
//     in wall time and in that thread's CPU time; the load average is printed alongside.
//
//   main_window_local_list_benchmark [cameras (5000)] [silent (500)] [observed seconds (30)]
//
// With KP_BENCH_START_ONLY=1 it ends once the window is shown, after printing how long that took
// and the UI thread's CPU time from the constructor's start to then.
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
#include <QTableView>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <string>

#include "databasemanager.h"
#include "edit_device_table_widget.h"
#include "main_widget.h"
#include "search_list_scenario.h"
#include "stored_cameras.h"
#include "style_sheet.h"

namespace {

qint64 threadCpuNanoseconds() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<qint64>(now.tv_sec) * 1000000000 + now.tv_nsec;
}

qint64 monotonicNanoseconds() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<qint64>(now.tv_sec) * 1000000000 + now.tv_nsec;
}

constexpr const char* kStartVariable = "KP_BENCH_PROCESS_START_NS";

// Writes the site and starts this program again in it; returns only when that fails.
int startAtSite(char** argv, int cameras, int silent) {
    const std::filesystem::path dir = setUpStoredSite("kp_main_window_list_bench", cameras, silent);
    if (dir.empty()) return 1;
    const std::filesystem::path scenario = dir / "scenario.json";
    std::FILE* file = std::fopen(scenario.c_str(), "wb");
    const std::string text = manyCamerasScenario(cameras - silent);
    if (file == nullptr || std::fwrite(text.data(), 1, text.size(), file) != text.size() ||
        std::fclose(file) != 0) {
        std::fprintf(stderr, "cannot write %s\n", scenario.c_str());
        return 1;
    }
    setenv("RUDAVADO_SCENARIO", scenario.c_str(), 1);
    setenv(kStartVariable, std::to_string(monotonicNanoseconds()).c_str(), 1);
    // By the name it was started with when that is a path, so that a tool wrapping the process
    // (a profiler) follows it.
    execv(std::strchr(argv[0], '/') != nullptr ? argv[0] : "/proc/self/exe", argv);
    std::perror("execv");
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    const int cameras = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5000;
    const int silent = argc > 2 ? std::clamp(std::atoi(argv[2]), 0, cameras) : 500;
    const int observed_seconds = argc > 3 ? std::max(1, std::atoi(argv[3])) : 30;
    const char* start_text = std::getenv(kStartVariable);
    if (start_text == nullptr) return startAtSite(argv, cameras, silent);
    const qint64 process_start = std::atoll(start_text);
    struct SinceStart {
        qint64 start;
        qint64 nsecsElapsed() const { return monotonicNanoseconds() - start; }
    } clock{process_start};

    if (qgetenv("QT_QPA_PLATFORM").isEmpty()) qputenv("QT_QPA_PLATFORM", "offscreen");
    Q_INIT_RESOURCE(resources);
    QApplication app(argc, argv);
    // The program's own style sheet, as main() applies it.
    applyStyle(app);
    const bool show_local_list = qgetenv("KP_SHOW_LOCAL_LIST") == "1";
    const std::filesystem::path dir = std::filesystem::current_path();
    const qint64 started = 0;

    // The heartbeat runs from before the window is built, so the construction is a stretch too.
    const qint64 observe_until = started + static_cast<qint64>(observed_seconds) * 1000000000;
    // Stretches count from here: the process start before is one stretch of its own.
    qint64 last_pass = clock.nsecsElapsed();
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
    const qint64 construct_start = clock.nsecsElapsed();
    const qint64 construct_start_cpu = threadCpuNanoseconds();
    auto* window = new MainWidget();
    const qint64 constructed_at = clock.nsecsElapsed();
    window->show();
    qint64 shown_at = -1;
    qint64 shown_cpu = 0;
    QTimer::singleShot(0, [&] {
        shown_at = clock.nsecsElapsed();
        shown_cpu = threadCpuNanoseconds() - construct_start_cpu;
    });
    if (qgetenv("KP_BENCH_START_ONLY") == "1") {
        while (shown_at < 0) QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
        delete window;
        delete quiet;
        std::printf(
            "window shown %.1f ms after the process started; constructor %.1f ms, ui cpu from the "
            "constructor to the first pass %.1f ms\n",
            shown_at / 1e6, (constructed_at - construct_start) / 1e6, shown_cpu / 1e6);
        std::filesystem::current_path(dir.parent_path());
        std::filesystem::remove_all(dir);
        return 0;
    }
    if (show_local_list) window->slotPage2Clicked();

    DeviceTableWidgetBase* table = window->localList();
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
        while (scanned < cameras && table->cellText(scanned, kColumnLensOrLogin) != logging_in) ++scanned;
        if (scanned < cameras) return;
        for (int row = 0; row < cameras; ++row) {
            const QString state = table->cellText(row, kColumnLensOrLogin);
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
    std::printf("window shown %.3f s after the process started (constructor %.1f ms)\n",
                (shown_at - started) / 1e9, (constructed_at - construct_start) / 1e6);
    if (listed_at < 0) {
        std::printf("NOT ALL LISTED after 20 minutes: %d rows\n", table->rowCount());
        return 2;
    }
    std::printf("all %d rows listed %.3f s after the process started\n", cameras,
                (listed_at - started) / 1e9);
    if (final_at < 0) {
        std::printf("NOT FINAL after 20 minutes\n");
        return 2;
    }
    const double final_s = (final_at - started) / 1e9;
    std::printf(
        "every login result shown %.1f s after the process started: %d online; %.0f results per second\n",
        final_s, online_rows, cameras / final_s);
    std::printf(
        "first %d s: longest busy stretch %.1f ms (from %.3f s), longest in CPU time %.1f ms, %d over 100 "
        "ms\n",
        observed_seconds, longest / 1e6, (longest_at - started) / 1e9, longest_cpu / 1e6, over_100ms);
    std::filesystem::current_path(dir.parent_path());
    std::filesystem::remove_all(dir);
    return 0;
}
