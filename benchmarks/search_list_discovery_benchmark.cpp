// Discovers a network of many cameras (1,000 unless given) into the search list, shown in a
// window, and prints for each round the time from the start of discovery until the last row is
// in and the longest stretch the user-interface thread was busy without coming back to its
// event loop (measured between passes of a zero-interval timer, which fires once per pass).
//
//   search_list_discovery_benchmark [cameras] [rounds]
//
// Runs at the real time scale unless KP_TIME_SCALE says otherwise; the library spreads the
// replies of one search over its "discovery_spread" (800 ms), so that is the floor of the first
// figure.
#include <RuDAVADO.h>
#include <RuDAVADO_control.h>
#include <fcntl.h>
#include <unistd.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTableWidget>
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

}  // namespace

int main(int argc, char** argv) {
    if (qgetenv("QT_QPA_PLATFORM").isEmpty()) qputenv("QT_QPA_PLATFORM", "offscreen");
    Q_INIT_RESOURCE(resources);
    QApplication app(argc, argv);
    const int cameras = argc > 1 ? std::max(1, std::atoi(argv[1])) : 1000;
    const int rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 3;

    if (KpLPRClient_Setup() != 0 || RuDAVADO_LoadScenarioText(manyCamerasScenario(cameras).c_str()) != 0) {
        std::fprintf(stderr, "cannot set up the simulated network: %s\n", RuDAVADO_LastLoadError());
        return 1;
    }

    QWidget window;
    auto* list = new DeviceTableWidget(&window, std::make_shared<UiJobQueue>());
    auto* layout = new QVBoxLayout(&window);
    layout->addWidget(list);
    window.resize(1400, 800);
    window.show();
    QApplication::processEvents();

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
        {
            QuietStdout quiet;
            all.start();
            for (const DeviceInfo& info : reports) {
                QElapsedTimer one;
                one.start();
                list->slotFindDevice(info);
                slowest = std::max(slowest, one.nsecsElapsed());
            }
        }
        const qint64 total = all.nsecsElapsed();
        QElapsedTimer paint;
        paint.start();
        QApplication::processEvents();
        std::printf(
            "direct insertion of %d rows: %.1f ms, %.3f ms a row, slowest row %.3f ms, "
            "first paint after %.1f ms\n",
            cameras, total / 1e6, total / 1e6 / cameras, slowest / 1e6, paint.nsecsElapsed() / 1e6);
        QuietStdout quiet;
        list->clearDevices();
    }

    std::printf("search list discovery: %d cameras, discovery_spread %.0f ms, time scale %s\n", cameras,
                RuDAVADO_GetTiming("discovery_spread"),
                qEnvironmentVariableIsSet("KP_TIME_SCALE") ? qgetenv("KP_TIME_SCALE").constData() : "1");
    std::printf("%-6s %12s %12s %10s %8s\n", "round", "last row ms", "longest ms", "passes", "rows");

    for (int round = 1; round <= rounds; ++round) {
        QElapsedTimer clock;
        qint64 last_pass = 0;
        qint64 longest = 0;
        qint64 last_row_at = -1;
        long passes = 0;

        QEventLoop loop;
        QTimer heartbeat;
        heartbeat.setInterval(0);
        QObject::connect(&heartbeat, &QTimer::timeout, [&] {
            const qint64 now = clock.nsecsElapsed();
            longest = std::max(longest, now - last_pass);
            last_pass = now;
            ++passes;
        });
        const QMetaObject::Connection counting =
            QObject::connect(list, &DeviceTableWidgetBase::signalsDeviceNumChange, [&](int rows) {
                if (rows >= cameras && last_row_at < 0) {
                    last_row_at = clock.nsecsElapsed();
                    loop.quit();
                }
            });
        QTimer::singleShot(30000, &loop, &QEventLoop::quit);

        {
            QuietStdout quiet;
            list->StopFindDevice();
            QApplication::processEvents();
            clock.start();
            heartbeat.start();
            list->StartFindDevice();
            last_pass = clock.nsecsElapsed();
            loop.exec();
            heartbeat.stop();
            // The pass that inserted the last row counts too.
            longest = std::max(longest, clock.nsecsElapsed() - last_pass);
        }
        QObject::disconnect(counting);

        std::printf("%-6d %12.1f %12.2f %10ld %8d\n", round, last_row_at < 0 ? -1.0 : last_row_at / 1e6,
                    longest / 1e6, passes, list->tableWidget()->rowCount());
        std::fflush(stdout);
    }

    {
        // What one pass of the event loop pays for showing the filled list.
        QElapsedTimer paint;
        paint.start();
        const int repaints = 20;
        for (int i = 0; i < repaints; ++i) window.repaint();
        std::printf("repaint of the window with %d rows: %.2f ms\n", list->tableWidget()->rowCount(),
                    paint.nsecsElapsed() / 1e6 / repaints);
    }

    {
        QuietStdout quiet;
        list->StopFindDevice();
    }
    KpLPRClient_Cleanup();
    return 0;
}
