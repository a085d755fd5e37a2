// How the search list's costs grow with its size: for 1,000, 10,000 and 40,000 cameras (unless
// given), the user-interface thread's processor time to insert every camera's report (handed to
// the slot in random order, as replies arrive, then the events that follow until the list is
// drawn) and to empty the full list as a refresh does (the stop, then the events that follow).
// The list sits in a shown window with the program's style sheet. Each size runs KP_BENCH_ROUNDS
// times (5); the figures are the median with the lowest and highest run.
//
//   search_list_growth_benchmark [cameras...]
#include <RuDAVADO.h>
#include <fcntl.h>
#include <time.h>
#include <unistd.h>

#include <QApplication>
#include <QVBoxLayout>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "device_table_widget.h"
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

double cpuMs(clockid_t clock) {
    timespec t{};
    clock_gettime(clock, &t);
    return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

struct Spread {
    double median, low, high;
};

Spread spread(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return {values[values.size() / 2], values.front(), values.back()};
}

std::vector<DeviceInfo> reports(int cameras) {
    std::vector<DeviceInfo> out;
    for (int i = 0; i < cameras; ++i) {
        const int host = 10 + i;
        DeviceInfo info;
        info.ip_addr = "10.20." + std::to_string(host / 250) + "." + std::to_string(host % 250 + 1);
        info.port = 80;
        info.netmask = "255.255.0.0";
        info.gateway = "10.20.0.1";
        info.firmware_version = "3.2.1.15";
        info.serial_high = 0x4B500003;
        info.serial_low = 0x20000 + static_cast<unsigned>(i);
        char mac[18];
        std::snprintf(mac, sizeof mac, "00:1A:03:%02X:%02X:%02X", (i >> 16) & 255, (i >> 8) & 255, i & 255);
        info.mac_addr = mac;
        info.boot_time = "2026-12-04 20:41:56";
        info.lens_code = i % 7;
        out.push_back(info);
    }
    std::mt19937 rng(7);
    std::shuffle(out.begin(), out.end(), rng);
    return out;
}

}  // namespace

int main(int argc, char** argv) {
    if (qgetenv("QT_QPA_PLATFORM").isEmpty()) qputenv("QT_QPA_PLATFORM", "offscreen");
    Q_INIT_RESOURCE(resources);
    QApplication app(argc, argv);
    applyStyle(app);
    std::vector<int> sizes;
    for (int i = 1; i < argc; ++i) sizes.push_back(std::max(1, std::atoi(argv[i])));
    if (sizes.empty()) sizes = {1000, 10000, 40000};
    const int rounds = qEnvironmentVariableIsSet("KP_BENCH_ROUNDS")
                           ? std::max(1, qEnvironmentVariableIntValue("KP_BENCH_ROUNDS"))
                           : 5;
    if (KpLPRClient_Setup() != 0) {
        std::fprintf(stderr, "cannot set up the library\n");
        return 1;
    }

    QWidget window;
    auto* list = new DeviceTableWidget(&window, std::make_shared<UiJobQueue>());
    auto* layout = new QVBoxLayout(&window);
    layout->addWidget(list);
    window.resize(1400, 800);
    window.show();
    QApplication::processEvents();

    // Medians with [lowest-highest] run. Insertion: the slot calls per row, then the events that
    // follow (layout, cells of the rows in view, paint). Clearing: the stop alone, the stop with
    // the events that follow, and the whole process's time for it (the rows' freeing included).
    std::printf("%8s  %-20s  %-21s  %-20s  %-20s  %s\n", "rows", "insert us/row", "then events ms", "stop ms",
                "stop+events ms", "process ms");
    for (const int cameras : sizes) {
        const std::vector<DeviceInfo> all = reports(cameras);
        std::vector<double> insert_us, insert_events_ms, stop_ms, clear_ui_ms, clear_process_ms;
        for (int round = 0; round < rounds; ++round) {
            QuietStdout quiet;
            const double start = cpuMs(CLOCK_THREAD_CPUTIME_ID);
            for (const DeviceInfo& info : all) list->slotFindDevice(info);
            const double inserted = cpuMs(CLOCK_THREAD_CPUTIME_ID);
            QApplication::processEvents();
            insert_us.push_back((inserted - start) * 1e3 / cameras);
            insert_events_ms.push_back(cpuMs(CLOCK_THREAD_CPUTIME_ID) - inserted);
            if (list->shownRowCount() != cameras) {
                std::fprintf(stderr, "%d rows for %d cameras\n", list->shownRowCount(), cameras);
                return 1;
            }
            const double ui_start = cpuMs(CLOCK_THREAD_CPUTIME_ID);
            const double process_start = cpuMs(CLOCK_PROCESS_CPUTIME_ID);
            list->StopFindDevice();
            stop_ms.push_back(cpuMs(CLOCK_THREAD_CPUTIME_ID) - ui_start);
            QApplication::processEvents();
            clear_ui_ms.push_back(cpuMs(CLOCK_THREAD_CPUTIME_ID) - ui_start);
            // The rows freed off the user-interface thread: wait for them so the next round starts
            // clean and their cost is counted for the process.
            usleep(200000);
            clear_process_ms.push_back(cpuMs(CLOCK_PROCESS_CPUTIME_ID) - process_start);
        }
        const Spread insert = spread(insert_us), events = spread(insert_events_ms), stop = spread(stop_ms),
                     clear = spread(clear_ui_ms), process = spread(clear_process_ms);
        std::printf(
            "%8d  %6.2f [%5.2f-%5.2f]  %7.1f [%5.1f-%5.1f]  %6.1f [%5.1f-%5.1f]  %6.1f [%5.1f-%5.1f]  "
            "%7.1f\n",
            cameras, insert.median, insert.low, insert.high, events.median, events.low, events.high,
            stop.median, stop.low, stop.high, clear.median, clear.low, clear.high, process.median);
        std::fflush(stdout);
    }
    KpLPRClient_Cleanup();
    return 0;
}
