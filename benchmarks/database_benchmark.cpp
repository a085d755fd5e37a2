// Saves or loads a device list (65,535 devices unless told) through the store manager and prints
// the time and the memory it took, as one JSON line:
//   kp_database_bench save FOLDER [DEVICES]   -> FOLDER/devicedatamanager.xls
//   kp_database_bench load FOLDER [DEVICES]
// Each phase runs in its own process so that its peak memory is its own. Beside a save it times
// one write+fsync of as many bytes, and the same bytes written the way a save must write them
// (a temporary file, fsync, rename, fsync of the folder): the floor of any safe save.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "databasemanager.h"

namespace {

constexpr int kMaxDevices = 65535;

long current_rss_kb() {
    long pages = 0, resident = 0;
    FILE* f = std::fopen("/proc/self/statm", "r");
    if (f) {
        if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2) resident = 0;
        std::fclose(f);
    }
    return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

long peak_rss_kb() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

// The same list the peer scripts build: unique addresses and passwords, every 7th user Chinese.
factory::devicedatamanager device(int i) {
    factory::devicedatamanager d;
    d.set_ip("10." + std::to_string(i / 65536) + "." + std::to_string((i / 256) % 256) + "." +
             std::to_string(i % 256));
    d.set_port(i % 2 ? 8000u : 80u);
    d.set_user_name(i % 7 == 0 ? "管理员" : "admin");
    d.set_password("Pw" + std::to_string((i * 7919) % 100003) + "-" + std::to_string(i));
    return d;
}

// Processor time of the process: steady under a loaded machine, where wall time is not.
double cpu_ms() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

// Time spent ready to run but waiting for a processor (Linux scheduler statistics): on a shared
// machine it is what stretches a save's processor time in wall time, beside waiting for the disk.
double run_queue_wait_ms() {
    unsigned long long on_cpu = 0, waiting = 0;
    if (FILE* f = std::fopen("/proc/self/schedstat", "r")) {
        if (std::fscanf(f, "%llu %llu", &on_cpu, &waiting) != 2) waiting = 0;
        std::fclose(f);
    }
    return waiting / 1e6;
}

// The process's kernel time and minor page faults so far: what a save costs beside its own code.
void kernel_side(double& sys_ms, long& faults) {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    sys_ms = usage.ru_stime.tv_sec * 1e3 + usage.ru_stime.tv_usec / 1e3;
    faults = usage.ru_minflt;
}

double ms_since(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

// One write and fsync of as many bytes into a new file beside the list: what any save costs.
// `waited`: its time waiting for a processor.
double write_and_fsync_ms(size_t bytes, double& waited) {
    const std::string data(bytes, 'x');
    const double wait_start = run_queue_wait_ms();
    const auto start = std::chrono::steady_clock::now();
    const int fd = ::open("write-fsync.bin", O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (fd < 0 || ::write(fd, data.data(), data.size()) != static_cast<ssize_t>(data.size()) ||
        ::fsync(fd) != 0)
        std::fprintf(stderr, "write+fsync failed\n");
    ::close(fd);
    const double ms = ms_since(start);
    waited = run_queue_wait_ms() - wait_start;
    std::remove("write-fsync.bin");
    return ms;
}

// The bytes of `path` written as a safe save writes them: what a save costs beyond building.
double safe_write_ms(const std::string& path) {
    std::string data;
    if (FILE* f = std::fopen(path.c_str(), "rb")) {
        char buffer[1 << 16];
        for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, f)) > 0;) data.append(buffer, n);
        std::fclose(f);
    }
    const auto start = std::chrono::steady_clock::now();
    const int fd = ::open(".floor.saving", O_WRONLY | O_CREAT | O_TRUNC, 0600);
    bool ok = fd >= 0 && ::write(fd, data.data(), data.size()) == static_cast<ssize_t>(data.size()) &&
              ::fsync(fd) == 0;
    ok = ::close(fd) == 0 && ok && std::rename(".floor.saving", "floor.bin") == 0;
    const int folder = ::open(".", O_RDONLY);
    ok = folder >= 0 && ::fsync(folder) == 0 && ok;
    ::close(folder);
    const double ms = ms_since(start);
    if (!ok) std::fprintf(stderr, "safe write failed\n");
    std::remove("floor.bin");
    return ms;
}

}  // namespace

int main(int argc, char** argv) {
    const int devices = argc == 4 ? std::atoi(argv[3]) : kMaxDevices;
    if ((argc != 3 && argc != 4) || devices < 1 || devices > kMaxDevices || ::chdir(argv[2]) != 0) {
        std::fprintf(stderr, "usage: %s save|load FOLDER [DEVICES, 1 to 65535]\n", argv[0]);
        return 2;
    }
    factory::databasemanager* db = factory::databasemanager::instance();
    const std::string mode = argv[1];
    if (mode == "save") {
        std::remove("devicedatamanager.xls");
        if (!db->init()) return 1;
        for (int i = 1; i <= devices; ++i)
            if (!db->add_device(device(i))) return 1;
        const long before = current_rss_kb();
        const auto start = std::chrono::steady_clock::now();
        const double cpu_start = cpu_ms(), wait_start = run_queue_wait_ms();
        double sys_start, sys_end;
        long faults_start, faults_end;
        kernel_side(sys_start, faults_start);
        if (!db->save()) return 1;
        const double ms = ms_since(start);
        const double cpu = cpu_ms() - cpu_start, waited = run_queue_wait_ms() - wait_start;
        kernel_side(sys_end, faults_end);
        struct stat st {};
        stat("devicedatamanager.xls", &st);
        double floor_waited = 0;
        const double floor_ms = write_and_fsync_ms(static_cast<size_t>(st.st_size), floor_waited);
        const double safe_ms = safe_write_ms("devicedatamanager.xls");
        std::printf(
            "{\"tool\": \"ours\", \"op\": \"save\", \"devices\": %d, \"ms\": %.1f, \"cpu_ms\": %.1f, "
            "\"rss_before_kb\": %ld, \"peak_kb\": %ld, \"file_bytes\": %lld, \"write_fsync_ms\": %.1f, "
            "\"x_write_fsync\": %.2f, \"safe_write_ms\": %.1f, \"run_queue_wait_ms\": %.1f, "
            "\"write_fsync_run_queue_wait_ms\": %.1f, \"sys_ms\": %.1f, \"page_faults\": %ld}\n",
            devices, ms, cpu, before, peak_rss_kb(), static_cast<long long>(st.st_size), floor_ms,
            ms / floor_ms, safe_ms, waited, floor_waited, sys_end - sys_start, faults_end - faults_start);
    } else if (mode == "load") {
        const long before = current_rss_kb();
        const auto start = std::chrono::steady_clock::now();
        const double cpu_start = cpu_ms(), wait_start = run_queue_wait_ms();
        double sys_start, sys_end;
        long faults_start, faults_end;
        kernel_side(sys_start, faults_start);
        if (!db->init()) return 1;
        const long opened_peak = peak_rss_kb(), opened = current_rss_kb();
        const double open_ms = cpu_ms() - cpu_start;
        const size_t count = db->load_all().size();
        const double ms = ms_since(start);
        const double cpu = cpu_ms() - cpu_start, waited = run_queue_wait_ms() - wait_start;
        kernel_side(sys_end, faults_end);
        if (std::getenv("KP_BENCH_PHASES"))
            std::fprintf(stderr, "open %.1f cpu ms, rss %ld kB, peak %ld kB; after load_all: rss %ld kB\n",
                         open_ms, opened, opened_peak, current_rss_kb());
        if (count != static_cast<size_t>(devices)) return 1;
        std::printf(
            "{\"tool\": \"ours\", \"op\": \"load\", \"devices\": %d, \"ms\": %.1f, \"cpu_ms\": %.1f, "
            "\"rss_before_kb\": %ld, \"peak_kb\": %ld, \"rows\": %zu, \"sys_ms\": %.1f, \"page_faults\": "
            "%ld, \"run_queue_wait_ms\": %.1f}\n",
            devices, ms, cpu, before, peak_rss_kb(), count, sys_end - sys_start, faults_end - faults_start,
            waited);
    } else {
        return 2;
    }
    return 0;
}
