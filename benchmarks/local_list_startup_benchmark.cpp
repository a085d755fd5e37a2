// Starts the local list on a stored list of many cameras (500 unless given), some of which never
// answer (50 unless given; every login of one waits for the whole connect time-out), and prints
// the time until every row shows its login result, the longest stretch the user-interface
// thread was busy without coming back to its event loop (between passes of a zero-interval
// timer), and then the process's CPU use while the list sits idle with its connections.
//
//   local_list_startup_benchmark [cameras] [silent] [idle_seconds]
//
// Runs at the real time scale unless KP_TIME_SCALE says otherwise. The stored list is written
// to a temporary folder, which becomes the working directory.
#include <RuDAVADO.h>
#include <RuDAVADO_control.h>
#include <kp_native_window.h>
#include <unistd.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTableView>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "databasemanager.h"
#include "edit_device_table_widget.h"
#include "search_list_scenario.h"
#include "stored_cameras.h"

namespace {

qint64 threadCpuNanoseconds() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<qint64>(now.tv_sec) * 1000000000 + now.tv_nsec;
}

double processCpuSeconds() {
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

}  // namespace

int main(int argc, char** argv) {
    if (qgetenv("QT_QPA_PLATFORM").isEmpty()) qputenv("QT_QPA_PLATFORM", "offscreen");
    Q_INIT_RESOURCE(resources);
    QApplication app(argc, argv);
    const int cameras = argc > 1 ? std::max(1, std::atoi(argv[1])) : 500;
    const int silent = argc > 2 ? std::clamp(std::atoi(argv[2]), 0, cameras) : 50;
    const int idle_seconds = argc > 3 ? std::max(1, std::atoi(argv[3])) : 20;

    if (KpLPRClient_Setup() != 0) {
        std::fprintf(stderr, "cannot set up the camera library\n");
        return 1;
    }
    const std::filesystem::path dir = setUpStoredSite("kp_local_list_bench", cameras, silent);
    if (dir.empty()) return 1;

    // The main window's part: a queue run from the window's wake-up message.
    QWidget window;
    auto queue = std::make_shared<UiJobQueue>();
    const HWND hwnd = reinterpret_cast<HWND>(window.winId());
    qint64 longest_queue_pass = 0;
    kp::registerNativeWindow(hwnd, &window, [queue, &longest_queue_pass](MSG& msg) {
        if (msg.message != kUiJobMessage) return;
        QElapsedTimer pass;
        pass.start();
        queue->runQueuedJobs();
        longest_queue_pass = std::max(longest_queue_pass, pass.nsecsElapsed());
    });
    queue->setOwner(hwnd);
    auto* layout = new QVBoxLayout(&window);
    window.resize(1400, 800);
    window.show();
    QApplication::processEvents();

    std::printf(
        "local list start-up: %d stored cameras, %d never answer, connect_timeout %.0f ms, login %.0f ms\n",
        cameras, silent, RuDAVADO_GetTiming("connect_timeout"), RuDAVADO_GetTiming("login"));

    const qint64 start_cpu = threadCpuNanoseconds();
    QElapsedTimer clock;
    clock.start();
    EditDeviceTableWidget* list = new EditDeviceTableWidget(&window, queue);
    const qint64 built = clock.nsecsElapsed();
    layout->addWidget(list);

    // The construction is the first busy stretch.
    qint64 last_pass = 0;
    qint64 longest = 0;
    // The same stretches in CPU time of the user-interface thread: on a loaded machine a
    // stretch also holds the time the thread waited for a core.
    qint64 last_pass_cpu = start_cpu;
    qint64 longest_cpu = 0;
    std::vector<std::pair<qint64, qint64>> long_stretches;  // over 50 ms: start, end
    QTimer heartbeat;
    heartbeat.setInterval(0);
    QObject::connect(&heartbeat, &QTimer::timeout, [&] {
        const qint64 now = clock.nsecsElapsed();
        const qint64 now_cpu = threadCpuNanoseconds();
        longest = std::max(longest, now - last_pass);
        longest_cpu = std::max(longest_cpu, now_cpu - last_pass_cpu);
        if (now - last_pass > 50'000'000) long_stretches.push_back({last_pass, now});
        last_pass = now;
        last_pass_cpu = now_cpu;
    });
    heartbeat.start();

    const QString logging_in = QString::fromUtf8(EditDeviceTableWidget::kLoggingIn);
    const QString online = QString::fromUtf8(EditDeviceTableWidget::kOnline);
    int online_rows = 0;
    int offline_rows = 0;
    qint64 all_final_at = -1;
    QEventLoop loop;
    QTimer check;
    check.setInterval(50);
    QObject::connect(&check, &QTimer::timeout, [&] {
        DeviceTableWidgetBase* table = list;
        int on = 0;
        int pending = 0;
        for (int row = 0; row < table->rowCount(); ++row) {
            const QString state = table->cellText(row, kColumnLensOrLogin);
            if (state == logging_in)
                ++pending;
            else if (state == online)
                ++on;
        }
        if (pending == 0 && table->rowCount() == cameras) {
            all_final_at = clock.nsecsElapsed();
            online_rows = on;
            offline_rows = table->rowCount() - on;
            loop.quit();
        }
    });
    check.start();
    QTimer::singleShot(15 * 60 * 1000, &loop, &QEventLoop::quit);
    loop.exec();
    check.stop();

    std::printf("list constructed in %.1f ms\n", built / 1e6);
    if (all_final_at < 0) {
        std::printf("NOT FINAL after 15 minutes\n");
        return 2;
    }
    std::printf("every row final after %.1f s: %d \"%s\", %d \"%s\"\n", all_final_at / 1e9, online_rows,
                EditDeviceTableWidget::kOnline, offline_rows, EditDeviceTableWidget::kOffline);
    std::printf("longest busy stretch of the user-interface thread (the construction included): %.1f ms\n",
                longest / 1e6);
    std::printf("  longest in CPU time of that thread: %.1f ms\n", longest_cpu / 1e6);
    std::printf("  of which the longest run of the window's job queue: %.1f ms\n", longest_queue_pass / 1e6);
    for (const auto& [start, end] : long_stretches)
        std::printf("  over 50 ms: %.1f ms from %.3f s\n", (end - start) / 1e6, start / 1e9);

    // Idle: every answering camera logged in; the reconnect pass still retries the silent ones.
    heartbeat.stop();
    const double cpu_before = processCpuSeconds();
    QElapsedTimer idle;
    idle.start();
    QEventLoop idle_loop;
    QTimer::singleShot(idle_seconds * 1000, &idle_loop, &QEventLoop::quit);
    idle_loop.exec();
    const double cpu = processCpuSeconds() - cpu_before;
    const double wall = idle.nsecsElapsed() / 1e9;
    std::printf("idle for %.1f s with %d connections: process CPU %.3f s = %.2f %% of one core\n", wall,
                cameras, cpu, 100.0 * cpu / wall);

    delete list;
    queue->setOwner(nullptr);
    kp::unregisterNativeWindow(hwnd);
    KpLPRClient_Cleanup();
    std::filesystem::current_path(dir.parent_path());
    std::filesystem::remove_all(dir);
    return 0;
}
