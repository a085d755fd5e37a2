// 256 ticked cameras rebooted from the main window, against one camera alone. Prints per round:
// the time the confirm slot takes, the longest stretch the user-interface thread was busy while
// the rows reported, the batch's wall time divided by one camera's alone, and the memory each
// running job costs (the process's resident size at the batch's peak minus before it, divided by
// the cameras). The slot and the longest stretch are also given in the user-interface thread's own
// CPU time, since on a shared machine a stretch's wall time includes the time other processes held
// the core; the load average is printed alongside, and a summary of the rounds (median, range) at
// the end.
//
// The event loop runs as in the program, idle between events: a timer every millisecond checks
// the rows and measures the stretches (how late each of its ticks comes). Polling the loop in a
// busy loop instead would hold most of a core that the cameras' threads need.
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
#include <QEventLoop>
#include <QTableView>
#include <QThread>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <functional>
#include <string>

#include "device_table_widget.h"
#include "main_widget.h"
#include "nav_button.h"
#include "search_list_scenario.h"
#include "stored_cameras.h"
#include "style_sheet.h"
#include "update_widget.h"

namespace {

// Runs the event loop until `done` holds, checking it every millisecond and handing each check's
// lateness to `tick` (the stretch since the previous check, in ms). False after `seconds`.
bool runUntil(const std::function<bool()>& done, int seconds = 600,
              const std::function<void(double)>& tick = nullptr) {
    if (done()) return true;
    QEventLoop loop;
    QTimer check;
    check.setTimerType(Qt::PreciseTimer);
    check.setInterval(1);
    QElapsedTimer waited, since;
    waited.start();
    since.start();
    bool met = true;
    QObject::connect(&check, &QTimer::timeout, [&] {
        if (tick) tick(since.nsecsElapsed() / 1e6);
        since.restart();
        if (done()) return loop.quit();
        if (waited.elapsed() > seconds * 1000) {
            met = false;
            loop.quit();
        }
    });
    check.start();
    loop.exec();
    return met;
}

// The process's resident size in KiB, from /proc/self/statm. Read every millisecond during a
// batch: the file stays open, so that a reading costs no path lookup.
long residentKib() {
    static const int statm = open("/proc/self/statm", O_RDONLY | O_CLOEXEC);
    char text[128] = {0};
    if (statm < 0 || pread(statm, text, sizeof(text) - 1, 0) <= 0) return 0;
    long pages = 0, resident = 0;
    if (std::sscanf(text, "%ld %ld", &pages, &resident) != 2) return 0;
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
    double busy_at_ms = 0;  // when the longest stretch ended, from the click
    double busy_cpu_ms = 0;
    double wall_ms = 0;
    double end_ms = 0;  // from the last row's final status to the window's end of the batch
    long rss_before_kib = 0;
    long rss_peak_kib = 0;
};

// Reboots the ticked rows and waits until each of them shows its final status, then until the
// window has ended the batch (its stop button hidden); the stretches cover both.
Round rebootTicked(MainWidget& window, const std::vector<int>& rows) {
    DeviceTableWidgetBase* list = window.searchList();
    for (int row = 0; row < list->rowCount(); ++row) {
        list->setRowStatus(row, DEVICE_STATUS_IDLE, 0);
        list->setRowCheckState(row, Qt::Unchecked);
    }
    for (int row : rows) list->setRowCheckState(row, Qt::Checked);
    runUntil(allOnline);

    Round round;
    QElapsedTimer wall;
    round.rss_before_kib = residentKib();
    round.rss_peak_kib = round.rss_before_kib;
    const double slot_cpu = threadCpuMs();
    wall.start();
    window.onButtonRebootClicked();
    round.slot_ms = wall.nsecsElapsed() / 1e6;
    round.slot_cpu_ms = threadCpuMs() - slot_cpu;
    double pass_cpu = threadCpuMs();
    size_t first_open = 0;  // rows before it have their final status
    const auto tick = [&](double stretch_ms) {
        // A tick is late by as long as the thread was busy, or waiting for a core.
        const double cpu = threadCpuMs();
        if (stretch_ms > round.busy_ms) {
            round.busy_ms = stretch_ms;
            round.busy_at_ms = wall.nsecsElapsed() / 1e6;
        }
        round.busy_cpu_ms = std::max(round.busy_cpu_ms, cpu - pass_cpu);
        pass_cpu = cpu;
    };
    runUntil(
        [&] {
            round.rss_peak_kib = std::max(round.rss_peak_kib, residentKib());
            for (; first_open < rows.size(); ++first_open) {
                // The row's status as the list keeps it: asking for the cell would make a widget per row.
                const DeviceStatus status = list->rowStatus(rows[first_open]);
                if (status != DEVICE_STATUS_SET_SUCCESS && status != DEVICE_STATUS_SET_FAILED) return false;
            }
            return true;
        },
        600, tick);
    round.wall_ms = wall.nsecsElapsed() / 1e6;
    runUntil([&] { return !window.stopButton()->isVisible(); }, 60, tick);
    round.end_ms = wall.nsecsElapsed() / 1e6 - round.wall_ms;
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
    if (!runUntil([&] { return window.searchList()->rowCount() >= cameras; }, 60)) {
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
    double load_before[3] = {0, 0, 0};
    getloadavg(load_before, 3);
    std::vector<Round> singles, batches;
    for (int r = 0; r < rounds; ++r) {
        singles.push_back(rebootTicked(window, {0}));
        batches.push_back(rebootTicked(window, all));
    }
    delete quiet;

    double load[3] = {0, 0, 0};
    getloadavg(load, 3);
    if (listed != cameras) std::printf("discovery listed %d rows for %d cameras\n", listed, cameras);
    std::printf("time scale %.0f, %d cameras, load average %.2f before the rounds, %.2f %.2f %.2f after\n",
                scale, cameras, load_before[0], load[0], load[1], load[2]);
    for (int r = 0; r < rounds; ++r) {
        std::printf(
            "round %d: one camera %.0f ms; batch: confirm slot %.1f ms (cpu %.1f), longest busy stretch "
            "%.1f ms (ending %.0f ms after the click), longest cpu stretch %.1f ms, wall %.0f ms, ratio "
            "%.3f, the window's end %.1f ms later; "
            "resident +%.1f MiB = %.1f KiB "
            "per job\n",
            r + 1, singles[r].wall_ms, batches[r].slot_ms, batches[r].slot_cpu_ms, batches[r].busy_ms,
            batches[r].busy_at_ms, batches[r].busy_cpu_ms, batches[r].wall_ms,
            batches[r].wall_ms / singles[r].wall_ms, batches[r].end_ms,
            (batches[r].rss_peak_kib - batches[r].rss_before_kib) / 1024.0,
            static_cast<double>(batches[r].rss_peak_kib - batches[r].rss_before_kib) / cameras);
    }
    const auto summary = [&](const char* what, const std::function<double(int)>& value, const char* format) {
        std::vector<double> values;
        for (int r = 0; r < rounds; ++r) values.push_back(value(r));
        std::sort(values.begin(), values.end());
        const size_t n = values.size();
        const double median = n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
        const std::string line = std::string("%s: ") + format + " (" + format + "-" + format + ")\n";
        std::printf(line.c_str(), what, median, values.front(), values.back());
    };
    std::printf("median (min-max) of %d rounds:\n", rounds);
    summary(
        "ratio", [&](int r) { return batches[r].wall_ms / singles[r].wall_ms; }, "%.3f");
    summary(
        "longest busy stretch ms", [&](int r) { return batches[r].busy_ms; }, "%.1f");
    summary(
        "longest cpu stretch ms", [&](int r) { return batches[r].busy_cpu_ms; }, "%.1f");
    summary(
        "confirm slot cpu ms", [&](int r) { return batches[r].slot_cpu_ms; }, "%.1f");
    summary(
        "the window's end after the last row ms", [&](int r) { return batches[r].end_ms; }, "%.1f");
    summary(
        "confirm slot wall ms", [&](int r) { return batches[r].slot_ms; }, "%.1f");
    return 0;
}
