// `kpdevicetool-cli run reboot` on many simulated cameras at once (10,000 unless given) against
// one camera alone, in process, at a time scale where one camera's reboot takes about 2 s.
//
//   cli_reboot_bench [cameras]
//
// Figures:
//   single_s           median wall time of `run reboot` on one camera (3 runs)
//   batch_s            wall time of `run reboot` on all cameras (report saved included)
//   batch_cpu_s        the process's CPU time during that run
//   batch_over_single  batch_s / single_s (target <= 1.10)
//   peak_rss_mb        the process's peak resident memory (VmHWM) after the batch
//   rss_before_mb      resident memory before the batch
#include <time.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "RuDAVADO.h"
#include "RuDAVADO_control.h"
#include "commands.h"
#include "ipv4.h"
#include "kp_platform.h"
#include "plate_cameras.h"

namespace {

// Cameras of the batch; the first command-line argument.
int g_cameras = 10000;
constexpr double kTargetSeconds = 2.0;
constexpr std::uint32_t kFirst = (10u << 24) | (3u << 16) | 1u;  // 10.3.0.1

using Clock = std::chrono::steady_clock;

double processCpuSeconds() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + t.tv_nsec / 1e9;
}

// Seconds of one `run reboot` on `targets`; -1 when a camera failed.
double TimeReboot(const std::string& targets, const std::string& reports) {
    std::ostringstream out, err;
    cli::Environment env;
    env.getenv = [](const char*) -> const char* { return nullptr; };
    const auto start = Clock::now();
    const int status = cli::RunCommandLine(
        {"run", "reboot", "--targets", targets, "--password", "tolvi", "--reports", reports}, out, err, env);
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    if (status != 0) {
        std::fprintf(stderr, "run reboot failed (%d):\n%s%s", status, out.str().c_str(), err.str().c_str());
        return -1;
    }
    return seconds;
}

double MedianSingle(const std::string& reports) {
    std::vector<double> times;
    for (int i = 0; i < 3; ++i) {
        loadPlateCameras(
            g_cameras, [](int i) { return factory::FormatIpv4(kFirst + i); }, 90000);
        times.push_back(TimeReboot(factory::FormatIpv4(kFirst), reports));
    }
    std::sort(times.begin(), times.end());
    return times[1];
}

}  // namespace

int main(int argc, char** argv) {
    if (argc > 1) g_cameras = std::max(1, std::atoi(argv[1]));
    const std::string reports = (std::filesystem::temp_directory_path() / "kp_cli_reboot_bench").string();
    KpLPRClient_Setup();
    kp::setTimeScale(1);
    RuDAVADO_SetTimeScale(1);
    if (!loadPlateCameras(
            g_cameras, [](int i) { return factory::FormatIpv4(kFirst + i); }, 90000))
        return 1;
    // One camera at scale 1 sets the scale at which it takes about 2 s.
    const double at_one = MedianSingle(reports);
    if (at_one <= 0) return 1;
    const double scale = kTargetSeconds / at_one;
    kp::setTimeScale(scale);
    RuDAVADO_SetTimeScale(scale);

    // A second pass: part of a run (the report's file) does not scale.
    double single = MedianSingle(reports);
    if (single <= 0) return 1;
    kp::setTimeScale(scale * kTargetSeconds / single);
    RuDAVADO_SetTimeScale(scale * kTargetSeconds / single);
    const double final_scale = scale * kTargetSeconds / single;
    single = MedianSingle(reports);
    loadPlateCameras(
        g_cameras, [](int i) { return factory::FormatIpv4(kFirst + i); }, 90000);
    const long rss_before = statusKb("VmRSS:");
    const double cpu_before = processCpuSeconds();
    const double batch =
        TimeReboot(factory::FormatIpv4(kFirst) + "-" + factory::FormatIpv4(kFirst + g_cameras - 1), reports);
    const double batch_cpu = processCpuSeconds() - cpu_before;
    const long peak = statusKb("VmHWM:");
    KpLPRClient_Cleanup();
    std::error_code ignored;
    std::filesystem::remove_all(reports, ignored);
    if (single <= 0 || batch <= 0) return 1;

    std::printf("time_scale         %.1f\n", final_scale);
    std::printf("single_s           %.3f\n", single);
    std::printf("batch_s            %.3f   (%d cameras)\n", batch, g_cameras);
    std::printf("batch_cpu_s        %.3f   (%.1f us a camera)\n", batch_cpu, batch_cpu * 1e6 / g_cameras);
    std::printf("batch_over_single  %.3f   (target <= 1.10)\n", batch / single);
    std::printf("rss_before_mb      %.1f\n", rss_before / 1024.0);
    std::printf("peak_rss_mb        %.1f\n", peak / 1024.0);
    return 0;
}
