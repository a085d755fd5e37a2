// The floor under a batch that gives every camera a thread: N threads started as a fan-out (each
// starts the next two, as the batch does), each only sleeping as long as one camera's job takes,
// against one such thread. Whatever this ratio is on a machine, no batch of N cameras beats it.
//   thread_floor_bench THREADS [SECONDS]   prints "THREADS SECONDS_TAKEN"
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <thread>

namespace {

int g_threads = 0;
std::chrono::duration<double> g_sleep{2.0};
std::atomic<int> g_ended{0};
std::mutex g_lock;
std::condition_variable g_all_ended;

void run(int index) {
    for (int child = 2 * index + 1; child <= 2 * index + 2 && child < g_threads; ++child)
        std::thread(run, child).detach();
    std::this_thread::sleep_for(g_sleep);
    if (g_ended.fetch_add(1) + 1 == g_threads) {
        std::lock_guard<std::mutex> guard(g_lock);
        g_all_ended.notify_all();
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2 || std::atoi(argv[1]) < 1) {
        std::fprintf(stderr, "usage: thread_floor_bench THREADS [SECONDS]\n");
        return 2;
    }
    g_threads = std::atoi(argv[1]);
    if (argc > 2) g_sleep = std::chrono::duration<double>(std::atof(argv[2]));
    const auto start = std::chrono::steady_clock::now();
    std::thread(run, 0).detach();
    std::unique_lock<std::mutex> guard(g_lock);
    g_all_ended.wait(guard, [] { return g_ended.load() == g_threads; });
    std::printf("%d %.3f\n", g_threads,
                std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    return 0;
}
