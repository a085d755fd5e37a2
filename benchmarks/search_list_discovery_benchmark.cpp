// Discovers networks of many cameras (1,000, 5,000 and 10,000 unless given) into the search
// list, shown in a window, and prints for each round the time from the start of discovery until
// the last row is in, the longest stretch the user-interface thread was busy without coming back
// to its event loop (measured between passes of a zero-interval timer, which fires once per
// pass), as wall time and as that thread's CPU time, and the thread's CPU time for the whole
// round. The last line compares the largest network with the smallest.
//
//   search_list_discovery_benchmark [cameras...]
//
// Runs at the real time scale unless KP_TIME_SCALE says otherwise; the library spreads the
// replies of one search over its "discovery_spread" (800 ms), so that is the floor of the first
// figure. KP_BENCH_ROUNDS sets the rounds per network (2).
#include <RuDAVADO.h>
#include <RuDAVADO_control.h>
#include <fcntl.h>
#include <time.h>
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
#include <random>
#include <string>
#include <vector>

#include "device_table_widget.h"
#include "search_list_scenario.h"
#include "style_sheet.h"

namespace {

// The list writes a debug line per report; keep them out of the figures.
class QuietStdout {
public:
    QuietStdout() {
        std::fflush(stdout);
        saved_ = dup(1);
        const int null_fd = open("/dev/null", O_WRONLY);
        dup2(null_fd, 1);
        close(null_fd);
    }
    ~QuietStdout() {
        std::fflush(stdout);
        dup2(saved_, 1);
        close(saved_);
    }

private:
    int saved_;
};

qint64 threadCpuNs() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<qint64>(t.tv_sec) * 1000000000 + t.tv_nsec;
}

struct Round {
    qint64 last_row_ns = -1;
    qint64 longest_ns = 0;
    qint64 longest_cpu_ns = 0;
    qint64 cpu_ns = 0;
    long passes = 0;
    int rows = 0;
};

}  // namespace

int main(int argc, char** argv) {
    if (qgetenv("QT_QPA_PLATFORM").isEmpty()) qputenv("QT_QPA_PLATFORM", "offscreen");
    Q_INIT_RESOURCE(resources);
    QApplication app(argc, argv);
    // The program's own style sheet: painting and polishing with it cost the UI thread more.
    applyStyle(app);
    std::vector<int> sizes;
    for (int i = 1; i < argc; ++i) sizes.push_back(std::max(1, std::atoi(argv[i])));
    if (sizes.empty()) sizes = {1000, 5000, 10000};
    const int rounds = qEnvironmentVariableIsSet("KP_BENCH_ROUNDS")
                           ? std::max(1, qEnvironmentVariableIntValue("KP_BENCH_ROUNDS"))
                           : 2;

    if (KpLPRClient_Setup() != 0) {
        std::fprintf(stderr, "cannot set up the simulated network\n");
        return 1;
    }

    QWidget window;
    auto* list = new DeviceTableWidget(&window, std::make_shared<UiJobQueue>());
    auto* layout = new QVBoxLayout(&window);
    layout->addWidget(list);
    window.resize(1400, 800);
    window.show();
    QApplication::processEvents();

    // The best round of each network, for the comparison at the end.
    std::vector<Round> best;
    for (const int cameras : sizes) {
        if (RuDAVADO_LoadScenarioText(manyCamerasScenario(cameras).c_str()) != 0) {
            std::fprintf(stderr, "cannot load the simulated network: %s\n", RuDAVADO_LastLoadError());
            return 1;
        }
        {
            // The cost of one row on its own: the same reports handed straight to the slot.
            std::vector<DeviceInfo> reports;
            for (int i = 0; i < cameras; ++i) {
                const int host = 10 + i;
                DeviceInfo info;
                info.ip_addr = "10.20." + std::to_string(host / 250) + "." + std::to_string(host % 250 + 1);
                info.port = 80;
                info.netmask = "255.255.0.0";
                info.gateway = "10.20.0.1";
                info.firmware_version = "3.2.1.15";
                info.mac_addr = "00:1A:03:00:03:E9";
                info.boot_time = "2026-12-04 20:41:56";
                reports.push_back(info);
            }
            // Reports arrive in no particular order.
            std::mt19937 shuffle_rng(7);
            std::shuffle(reports.begin(), reports.end(), shuffle_rng);
            qint64 slowest = 0;
            QElapsedTimer all;
            qint64 insert_cpu = 0;
            {
                QuietStdout quiet;
                all.start();
                const qint64 cpu_start = threadCpuNs();
                for (const DeviceInfo& info : reports) {
                    QElapsedTimer one;
                    one.start();
                    list->slotFindDevice(info);
                    slowest = std::max(slowest, one.nsecsElapsed());
                }
                insert_cpu = threadCpuNs() - cpu_start;
            }
            const qint64 total = all.nsecsElapsed();
            QElapsedTimer paint;
            paint.start();
            QApplication::processEvents();
            std::printf(
                "direct insertion of %d rows: %.1f ms, %.3f ms a row, slowest row %.3f ms, "
                "first paint after %.1f ms; ui cpu %.1f ms = %.2f us a row\n",
                cameras, total / 1e6, total / 1e6 / cameras, slowest / 1e6, paint.nsecsElapsed() / 1e6,
                insert_cpu / 1e6, insert_cpu / 1e3 / cameras);
            qint64 clear_cpu = 0;
            {
                QuietStdout quiet;
                const qint64 clear_start = threadCpuNs();
                list->clearDevices();
                clear_cpu = threadCpuNs() - clear_start;
                QApplication::processEvents();
            }
            std::printf("clearing %d rows: ui cpu %.1f ms\n", cameras, clear_cpu / 1e6);
        }

        std::printf("search list discovery: %d cameras, discovery_spread %.0f ms, time scale %s\n", cameras,
                    RuDAVADO_GetTiming("discovery_spread"),
                    qEnvironmentVariableIsSet("KP_TIME_SCALE") ? qgetenv("KP_TIME_SCALE").constData() : "1");
        // The UI thread repaints while the replies come in, so its CPU time follows the reply
        // spread as much as the rows; the CPU per row says what a row costs.
        std::printf("%-6s %12s %12s %12s %12s %10s %8s %8s\n", "round", "last row ms", "longest ms",
                    "longest cpu", "ui cpu ms", "cpu/row us", "passes", "rows");

        Round best_round;
        for (int round = 1; round <= rounds; ++round) {
            Round r;
            QElapsedTimer clock;
            qint64 last_pass = 0;
            qint64 last_pass_cpu = 0;
            qint64 cpu_start = 0;

            QEventLoop loop;
            QTimer heartbeat;
            heartbeat.setInterval(0);
            QObject::connect(&heartbeat, &QTimer::timeout, [&] {
                const qint64 now = clock.nsecsElapsed();
                const qint64 cpu = threadCpuNs();
                r.longest_ns = std::max(r.longest_ns, now - last_pass);
                r.longest_cpu_ns = std::max(r.longest_cpu_ns, cpu - last_pass_cpu);
                last_pass = now;
                last_pass_cpu = cpu;
                ++r.passes;
            });
            const QMetaObject::Connection counting =
                QObject::connect(list, &DeviceTableWidgetBase::signalsDeviceNumChange, [&](int rows) {
                    if (rows >= cameras && r.last_row_ns < 0) {
                        r.last_row_ns = clock.nsecsElapsed();
                        loop.quit();
                    }
                });
            QTimer::singleShot(120000, &loop, &QEventLoop::quit);

            {
                QuietStdout quiet;
                list->StopFindDevice();
                QApplication::processEvents();
                clock.start();
                cpu_start = threadCpuNs();
                heartbeat.start();
                list->StartFindDevice();
                last_pass = clock.nsecsElapsed();
                last_pass_cpu = threadCpuNs();
                loop.exec();
                heartbeat.stop();
                // The pass that inserted the last row counts too.
                r.longest_ns = std::max(r.longest_ns, clock.nsecsElapsed() - last_pass);
                r.longest_cpu_ns = std::max(r.longest_cpu_ns, threadCpuNs() - last_pass_cpu);
                r.cpu_ns = threadCpuNs() - cpu_start;
            }
            QObject::disconnect(counting);
            r.rows = list->rowCount();

            std::printf("%-6d %12.1f %12.2f %12.2f %12.1f %10.2f %8ld %8d\n", round,
                        r.last_row_ns < 0 ? -1.0 : r.last_row_ns / 1e6, r.longest_ns / 1e6,
                        r.longest_cpu_ns / 1e6, r.cpu_ns / 1e6, r.rows > 0 ? r.cpu_ns / 1e3 / r.rows : 0.0,
                        r.passes, r.rows);
            std::fflush(stdout);
            if (round == 1 || r.cpu_ns < best_round.cpu_ns) best_round = r;
        }
        best.push_back(best_round);

        {
            // What one pass of the event loop pays for showing the filled list.
            QElapsedTimer paint;
            paint.start();
            const int repaints = 20;
            for (int i = 0; i < repaints; ++i) window.repaint();
            std::printf("repaint of the window with %d rows: %.2f ms\n", list->rowCount(),
                        paint.nsecsElapsed() / 1e6 / repaints);
        }
        {
            // Ticking every row and clearing the list are one stretch each.
            QElapsedTimer tick;
            tick.start();
            list->checkAll();
            const qint64 tick_ns = tick.nsecsElapsed();
            QElapsedTimer filter;
            filter.start();
            list->setStatusFilter(DEVICE_STATUS_UPDATE_SUCCESS);
            QApplication::processEvents();
            list->setStatusFilter(-1);
            QApplication::processEvents();
            const qint64 filter_ns = filter.nsecsElapsed();
            // A batch reports each row's status on its own.
            QElapsedTimer status;
            status.start();
            for (int row = 0; row < list->rowCount(); ++row)
                list->setRowStatus(row, DEVICE_STATUS_UPDATING, 50);
            // The repaint the statuses asked for belongs to them, not to the clearing below.
            QApplication::processEvents();
            const qint64 status_ns = status.nsecsElapsed();
            QElapsedTimer clear;
            clear.start();
            qint64 clear_cpu = 0;
            qint64 stop_cpu = 0;
            {
                QuietStdout quiet;
                const qint64 cpu_start = threadCpuNs();
                list->StopFindDevice();
                stop_cpu = threadCpuNs() - cpu_start;
                QApplication::processEvents();
                clear_cpu = threadCpuNs() - cpu_start;
            }
            const qint64 clear_ns = clear.nsecsElapsed();
            std::printf(
                "check all %.1f ms, filter on and off %.1f ms, status of every row %.1f ms, "
                "stop and clear %.1f ms (ui cpu %.1f ms, of which the stop %.1f ms)\n",
                tick_ns / 1e6, filter_ns / 1e6, status_ns / 1e6, clear_ns / 1e6, clear_cpu / 1e6,
                stop_cpu / 1e6);
        }
    }

    if (best.size() > 1 && best.front().cpu_ns > 0) {
        std::printf("ui cpu of %d cameras / %d cameras: %.1fx\n", sizes.back(), sizes.front(),
                    static_cast<double>(best.back().cpu_ns) / best.front().cpu_ns);
    }

    KpLPRClient_Cleanup();
    return 0;
}
