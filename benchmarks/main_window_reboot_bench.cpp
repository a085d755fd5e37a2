// 256 ticked cameras rebooted from the main window, against one camera alone. Prints per round:
// the time the confirm slot takes, the longest stretch the user-interface thread was busy while
// the rows reported (between passes of a zero-interval timer, which fires once per pass), the
// batch's wall time divided by one camera's alone, and the memory each running job costs (the
// process's resident size at the batch's peak minus before it, divided by the cameras). The slot and the
// longest stretch are also given in the user-interface thread's own CPU time, since on a shared machine a
// stretch's wall time includes the time other processes held the core; the load average is printed alongside.
//
//   main_window_reboot_bench [cameras (256)] [time scale (80)] [rounds (3)]
//
// Runs in the working directory, where the window keeps its device store: start it in an empty
// folder.
//
// At the default time scale one camera's reboot (login, reboot, logout) takes about 2 s, so the
// ratio shows what running the jobs side by side costs.
#include <RuDAVADO.h>
#include <RuDAVADO_control.h>
#include <fcntl.h>
#include <kp_platform.h>
#include <unistd.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QTableView>
#include <QThread>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <functional>

#include "device_table_widget.h"
#include "main_widget.h"
#include "search_list_scenario.h"
#include "stored_cameras.h"
#include "style_sheet.h"
#include "update_widget.h"

namespace {

// False when `done` still fails after `seconds`.
bool pumpUntil(const std::function<bool()>& done, int seconds = 600) {
    QElapsedTimer waited;
    waited.start();
    while (!done()) {
        if (waited.elapsed() > seconds * 1000) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QThread::msleep(1);
    }
    return true;
}

// The process's resident size in KiB, from /proc/self/statm.
long residentKib() {
    long pages = 0, resident = 0;
    FILE* statm = std::fopen("/proc/self/statm", "r");
    if (!statm) return 0;
    if (std::fscanf(statm, "%ld %ld", &pages, &resident) != 2) resident = 0;
    std::fclose(statm);
    return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

bool allOnline() {
    for (int i = 0; i < RuDAVADO_CameraCount(); ++i) {
        RuDAVADO_CameraState state;
        if (RuDAVADO_GetCameraState(i, &state) != 0 || state.state != RUDAVADO_STATE_ONLINE) return false;
    }
    return true;
}

// The calling thread's own CPU time in milliseconds.
double threadCpuMs() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return now.tv_sec * 1e3 + now.tv_nsec / 1e6;
}

struct Round {
    double slot_ms = 0;
    double slot_cpu_ms = 0;
    double busy_ms = 0;
    double busy_cpu_ms = 0;
    double wall_ms = 0;
    long rss_before_kib = 0;
    long rss_peak_kib = 0;
};

// Reboots the ticked rows and waits until each of them shows its final status.
Round rebootTicked(MainWidget& window, const std::vector<int>& rows) {
    DeviceTableWidgetBase* list = window.searchList();
    for (int row = 0; row < list->rowCount(); ++row) {
        list->setRowStatus(row, DEVICE_STATUS_IDLE, 0);
        list->setRowCheckState(row, Qt::Unchecked);
    }
    for (int row : rows) list->setRowCheckState(row, Qt::Checked);
    pumpUntil(allOnline);

    Round round;
    QElapsedTimer wall, pass;
    double pass_cpu = 0;
    QTimer heartbeat;
    heartbeat.setInterval(0);
    QObject::connect(&heartbeat, &QTimer::timeout, [&] {
        const double cpu = threadCpuMs();
        round.busy_ms = std::max(round.busy_ms, pass.nsecsElapsed() / 1e6);
        round.busy_cpu_ms = std::max(round.busy_cpu_ms, cpu - pass_cpu);
        pass.restart();
        pass_cpu = cpu;
    });
    round.rss_before_kib = residentKib();
    round.rss_peak_kib = round.rss_before_kib;
    const double slot_cpu = threadCpuMs();
    wall.start();
    window.onButtonRebootClicked();
    round.slot_ms = wall.nsecsElapsed() / 1e6;
    round.slot_cpu_ms = threadCpuMs() - slot_cpu;
    pass.start();
    pass_cpu = threadCpuMs();
    heartbeat.start();
    pumpUntil([&] {
        round.rss_peak_kib = std::max(round.rss_peak_kib, residentKib());
        for (int row : rows) {
            // The row's status as the list keeps it: asking for the cell would make a widget per row.
            const DeviceStatus status = list->rowStatus(row);
            if (status != DEVICE_STATUS_SET_SUCCESS && status != DEVICE_STATUS_SET_FAILED) return false;
        }
        return true;
    });
    round.wall_ms = wall.nsecsElapsed() / 1e6;
    heartbeat.stop();
    return round;
}

}  // namespace

int main(int argc, char** argv) {
    if (qgetenv("QT_QPA_PLATFORM").isEmpty()) qputenv("QT_QPA_PLATFORM", "offscreen");
    Q_INIT_RESOURCE(resources);
    QApplication app(argc, argv);
    // The program's own style sheet: painting and polishing with it cost the UI thread more.
    applyStyle(app);
    const int cameras = argc > 1 ? std::max(1, std::atoi(argv[1])) : 256;
    const double scale = argc > 2 ? std::atof(argv[2]) : 80.0;
    const int rounds = argc > 3 ? std::max(1, std::atoi(argv[3])) : 3;
    kp::setTimeScale(scale);
    RuDAVADO_SetTimeScale(scale);

    QuietOutput* quiet = new QuietOutput();
    MainWidget window;
    window.show();
    RuDAVADO_LoadScenarioText(manyCamerasScenario(cameras).c_str());
    RuDAVADO_SetTiming("discovery_spread", 0);
    // A restart would otherwise keep the cameras away for minutes at this scale.
    RuDAVADO_SetTiming("boot", 1000.0 / scale);
    window.onRefreshClick();
    if (!pumpUntil([&] { return window.searchList()->rowCount() >= cameras; }, 60)) {
        const int rows = window.searchList()->rowCount();
        delete quiet;
        std::printf("discovery listed %d of %d cameras in 60 s\n", rows, cameras);
        return 2;
    }
    const int listed = window.searchList()->rowCount();
    // Cameras back from a restart would be found again and add rows.
    KpLPRClient_StopFindDevice();

    std::vector<int> all(cameras);
    for (int i = 0; i < cameras; ++i) all[i] = i;
    std::vector<Round> singles, batches;
    for (int r = 0; r < rounds; ++r) {
        singles.push_back(rebootTicked(window, {0}));
        batches.push_back(rebootTicked(window, all));
    }
    delete quiet;

    double load[3] = {0, 0, 0};
    getloadavg(load, 3);
    if (listed != cameras) std::printf("discovery listed %d rows for %d cameras\n", listed, cameras);
    std::printf("time scale %.0f, %d cameras, load average %.2f %.2f %.2f\n", scale, cameras, load[0],
                load[1], load[2]);
    for (int r = 0; r < rounds; ++r) {
        std::printf(
            "round %d: one camera %.0f ms; batch: confirm slot %.1f ms (cpu %.1f), longest busy stretch "
            "%.1f ms, longest cpu stretch %.1f ms, wall %.0f ms, ratio %.3f; resident +%.1f MiB = %.1f KiB "
            "per job\n",
            r + 1, singles[r].wall_ms, batches[r].slot_ms, batches[r].slot_cpu_ms, batches[r].busy_ms,
            batches[r].busy_cpu_ms, batches[r].wall_ms, batches[r].wall_ms / singles[r].wall_ms,
            (batches[r].rss_peak_kib - batches[r].rss_before_kib) / 1024.0,
            static_cast<double>(batches[r].rss_peak_kib - batches[r].rss_before_kib) / cameras);
    }
    return 0;
}
