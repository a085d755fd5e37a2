// 256 job composers each rebooting one simulated camera, at time scale 1 with the default
// camera latencies, against one composer alone. Figures:
//   batch_over_single  wall time of the batch (first composer created .. last worker joined)
//                      divided by the median wall time of one device alone
//   heap_per_composer  heap bytes in use per composer once every job has reported
//   rss_per_composer   peak resident memory of the batch above the resident memory before it,
//                      per composer (thread stacks included)
//   idle_cpu_share     CPU time the process burns per wall second while 256 workers only wait
//                      for jobs, as a share of one core
#include <benchmark/benchmark.h>
#include <malloc.h>
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "RuDAVADO.h"
#include "RuDAVADO_control.h"
#include "dealmodule.h"
#include "kp_platform.h"
#include "plate_cameras.h"

namespace {

constexpr int kBatch = 256;
constexpr int kSingles = 7;

using Clock = std::chrono::steady_clock;

std::string CameraIp(int index) {
    return "10.2." + std::to_string(index / 250) + "." + std::to_string(index % 250 + 1);
}

double CpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

struct BatchResult {
    double wall_ms = 0;
    double dispatch_ms = 0;  // the creating loop alone
    double cpu_ms = 0;       // process CPU time of the batch
    int failures = 0;
    size_t heap_bytes = 0;  // heap in use once every job reported, composers still alive
};

// Runs a reboot on cameras [first, first + count) the way the batch dispatch does: create,
// initialise and post per device in one loop, then stop each worker after its final report.
BatchResult RebootBatch(int first, int count) {
    std::mutex lock;
    std::condition_variable changed;
    int remaining = count;
    int failures = 0;
    std::vector<std::shared_ptr<factory::dealmodule>> deals;
    deals.reserve(count);

    double cpu_start = CpuSeconds();
    auto start = Clock::now();
    for (int i = 0; i < count; ++i) {
        auto deal = std::make_shared<factory::dealmodule>();
        if (!deal->InitModules(1)) break;
        deal->Reboot(CameraIp(first + i), 80, "admin", "tolvi", [&](bool ok, const std::string& text) {
            if (ok && text != "完成") return true;
            std::lock_guard<std::mutex> guard(lock);
            if (!ok) ++failures;
            --remaining;
            changed.notify_all();
            return false;
        });
        deals.push_back(std::move(deal));
    }
    double dispatch_ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    {
        std::unique_lock<std::mutex> guard(lock);
        changed.wait(guard, [&] { return remaining <= count - static_cast<int>(deals.size()); });
    }
    BatchResult result;
    result.heap_bytes = mallinfo2().uordblks;
    result.dispatch_ms = dispatch_ms;
    for (auto& deal : deals) deal->StopWorker();
    result.wall_ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    result.cpu_ms = 1000.0 * (CpuSeconds() - cpu_start);
    result.failures = failures + (count - static_cast<int>(deals.size()));
    return result;
}

void BM_RebootBatch(benchmark::State& state) {
    for (auto _ : state) {
        if (!loadPlateCameras(kBatch + kSingles, CameraIp, 70000)) {
            state.SkipWithError(RuDAVADO_LastLoadError());
            return;
        }
        // Warm the library and the allocator on one camera first.
        RebootBatch(kBatch + kSingles - 1, 1);

        std::vector<double> singles;
        for (int i = 0; i < kSingles - 1; ++i) singles.push_back(RebootBatch(kBatch + i, 1).wall_ms);
        std::sort(singles.begin(), singles.end());
        double single_ms = singles[singles.size() / 2];

        size_t heap_before = mallinfo2().uordblks;
        long rss_before = statusKb("VmRSS:");
        std::ofstream("/proc/self/clear_refs") << "5";  // resets the peak (VmHWM)
        BatchResult batch = RebootBatch(0, kBatch);
        long rss_peak = statusKb("VmHWM:");

        // Workers that only wait: started, nothing posted.
        std::vector<std::shared_ptr<factory::dealmodule>> idle;
        for (int i = 0; i < kBatch; ++i) {
            idle.push_back(std::make_shared<factory::dealmodule>());
            idle.back()->InitModules(1);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        double cpu_start = CpuSeconds();
        auto idle_start = Clock::now();
        std::this_thread::sleep_for(std::chrono::seconds(2));
        double idle_cpu = CpuSeconds() - cpu_start;
        double idle_wall = std::chrono::duration<double>(Clock::now() - idle_start).count();
        for (auto& deal : idle) deal->StopWorker();

        state.SetIterationTime(batch.wall_ms / 1000.0);
        state.counters["single_ms"] = single_ms;
        state.counters["batch_ms"] = batch.wall_ms;
        state.counters["dispatch_ms"] = batch.dispatch_ms;
        state.counters["batch_cpu_ms"] = batch.cpu_ms;
        state.counters["batch_over_single"] = batch.wall_ms / single_ms;
        state.counters["failures"] = batch.failures;
        state.counters["heap_per_composer"] =
            static_cast<double>(batch.heap_bytes > heap_before ? batch.heap_bytes - heap_before : 0) / kBatch;
        state.counters["rss_per_composer"] = 1024.0 * std::max(0L, rss_peak - rss_before) / kBatch;
        state.counters["idle_cpu_share"] = idle_cpu / idle_wall;
        state.counters["composer_size"] = sizeof(factory::dealmodule);
    }
}

}  // namespace

BENCHMARK(BM_RebootBatch)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

int main(int argc, char** argv) {
    // Real waits and the default camera latencies.
    setenv("KP_TIME_SCALE", "1", 1);
    kp::setTimeScale(1.0);
    benchmark::Initialize(&argc, argv);
    KpLPRClient_Setup();
    benchmark::RunSpecifiedBenchmarks();
    KpLPRClient_Cleanup();
    benchmark::Shutdown();
    return 0;
}
