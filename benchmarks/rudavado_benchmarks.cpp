// Camera library figures, at time scale 1:
//   BM_Discovery1000: a search of the generated 1,000-camera scenario with the reply spread off,
//                     from the start until the last report has arrived.
//   BM_TimeGet:       KpLPRClient_GetDateTime from 32 threads, each on its own session to its own
//                     camera; the argument is the per-call latency in ms (0: the library's own
//                     cost, 2: the default latency of a camera on the LAN).
//   BM_Load20000:     loading a generated 20,000-camera scenario file (read, parse, checks);
//                     runs last, as it replaces the network.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>

#include "RuDAVADO.h"
#include "RuDAVADO_control.h"

namespace {

std::string g_big_scenario;
std::string g_huge_scenario;

struct Counter {
    std::mutex mu;
    std::condition_variable cv;
    int reports = 0;
    void add() {
        std::lock_guard<std::mutex> lk(mu);
        if (++reports >= 1000) cv.notify_all();
    }
};

void KPLPRC_CALL onEx(const char*, const char*, unsigned short, unsigned short, unsigned int, unsigned int,
                      const char*, const char*, void* user) {
    static_cast<Counter*>(user)->add();
}

void KPLPRC_CALL onV2(const char*, const char*, unsigned short, unsigned short, unsigned int, unsigned int,
                      const char*, const char*, int, const char*, int, const char*, const char*, void* user) {
    static_cast<Counter*>(user)->add();
}

void BM_Discovery1000(benchmark::State& state) {
    if (RuDAVADO_CameraCount() != 1000) {
        state.SkipWithError("no 1,000-camera scenario");
        return;
    }
    RuDAVADO_SetTiming("discovery_spread", 0);
    for (auto _ : state) {
        Counter counter;
        KPLPRClient_StartFindDeviceEx(&onEx, &counter);
        KPLPRClient_StartFindDeviceV2(&onV2, &counter);
        {
            std::unique_lock<std::mutex> lk(counter.mu);
            counter.cv.wait(lk, [&] { return counter.reports >= 1000; });
        }
        KpLPRClient_StopFindDevice();
    }
    state.counters["reports_per_s"] =
        benchmark::Counter(1000.0 * static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_Discovery1000)->Unit(benchmark::kMillisecond)->UseRealTime();

std::atomic<int> g_next_camera{0};

void BM_TimeGet(benchmark::State& state) {
    if (state.thread_index() == 0) RuDAVADO_SetTiming("call", static_cast<double>(state.range(0)));
    const int cam = g_next_camera.fetch_add(1) % RuDAVADO_CameraCount();
    RuDAVADO_CameraState cs;
    RuDAVADO_GetCameraState(cam, &cs);
    KPLPRC_HANDLE h = KpLPRClient_Open(cs.ip, cs.port, cs.user, cs.password);
    if (h == nullptr) {
        state.SkipWithError("login failed");
        return;
    }
    KPLPRC_DATETIME t;
    for (auto _ : state) {
        if (KpLPRClient_GetDateTime(h, &t) != 0) state.SkipWithError("call failed");
        benchmark::DoNotOptimize(t);
    }
    KpLPRClient_Close(h);
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_TimeGet)->Arg(0)->Arg(2)->Threads(32)->UseRealTime();

void BM_Load20000(benchmark::State& state) {
    for (auto _ : state) {
        if (RuDAVADO_LoadScenarioFile(g_huge_scenario.c_str()) != 0) {
            state.SkipWithError(RuDAVADO_LastLoadError());
            return;
        }
    }
    state.counters["cameras"] = RuDAVADO_CameraCount();
}
BENCHMARK(BM_Load20000)->Unit(benchmark::kMillisecond)->UseRealTime();

std::string generateScenario(int count, const char* extra) {
    char tmpl[] = "/tmp/rudavado_bench_XXXXXX";
    const int fd = mkstemp(tmpl);
    if (fd >= 0) close(fd);
    const std::string cmd = std::string("/usr/bin/python3 '") + RUDAVADO_SOURCE_DIR +
                            "/tools/make_scenario.py' --count " + std::to_string(count) + " " + extra +
                            " > '" + tmpl + "'";
    if (std::system(cmd.c_str()) != 0) std::fprintf(stderr, "scenario generator failed\n");
    return tmpl;
}

}  // namespace

int main(int argc, char** argv) {
    RuDAVADO_SetTimeScale(1.0);
    g_big_scenario = generateScenario(1000, "--max-sessions 64");
    g_huge_scenario = generateScenario(20000, "");
    // The discovery and call benchmarks run on the generated 1,000-camera network.
    if (RuDAVADO_LoadScenarioFile(g_big_scenario.c_str()) != 0) {
        std::fprintf(stderr, "%s\n", RuDAVADO_LastLoadError());
    }
    KpLPRClient_Setup();
    ::benchmark::Initialize(&argc, argv);
    ::benchmark::RunSpecifiedBenchmarks();
    ::benchmark::Shutdown();
    KpLPRClient_Cleanup();
    std::remove(g_big_scenario.c_str());
    std::remove(g_huge_scenario.c_str());
    return 0;
}
