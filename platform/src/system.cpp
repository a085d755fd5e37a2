// Clock, sleeping, debugger channel, standard error, Winsock, folders, critical sections.
#include <fcntl.h>
#include <malloc.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>
#include <windows.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>

#include "kp_memory.h"
#include "kp_platform.h"

namespace {

std::atomic<unsigned int> g_clockOffset{0};

// Never destroyed: log lines reach the debugger channel until the process is gone, also from
// threads still running while static objects are destroyed at exit.
struct DebugChannel {
    std::mutex lock;
    kp::DebugOutputCapture capture;
};
DebugChannel& debugChannel() {
    static DebugChannel* channel = new DebugChannel;
    return *channel;
}

std::string slashes(const char* path) {
    std::string out(path ? path : "");
    for (char& c : out)
        if (c == '\\') c = '/';
    return out;
}

}  // namespace

namespace kp {

void setDebugOutputCapture(DebugOutputCapture capture) {
    std::lock_guard<std::mutex> guard(debugChannel().lock);
    debugChannel().capture = std::move(capture);
}

void setTimeGetTimeOffset(unsigned int offset) { g_clockOffset.store(offset); }

void prepareForThreads(int threads) {
    // The process's own futex hash (Linux 6.17 on): sized for the processors, not the threads,
    // so with thousands of camera threads blocked every wake-up walks a chain of hundreds.
    constexpr int kFutexHash = 78, kFutexHashSetSlots = 1, kFutexHashGetSlots = 2;
    constexpr long kMostSlots = 1 << 16;
    static std::mutex lock;
    long slots = 16;
    while (slots < threads && slots < kMostSlots) slots *= 2;
    std::lock_guard<std::mutex> guard(lock);
    const int current = ::prctl(kFutexHash, kFutexHashGetSlots, 0, 0, 0);
    // -1: no such setting; 0: the system-wide table, of the same few hundred chains.
    if (current < 0 || current >= slots) return;
    ::prctl(kFutexHash, kFutexHashSetSlots, slots, 0, 0);
}

bool setInputEcho(bool on) {
    // tcgetattr and tcsetattr are async-signal-safe.
    struct termios mode {};
    if (::tcgetattr(STDIN_FILENO, &mode) != 0) return false;
    if (on) {
        mode.c_lflag |= ECHO;
    } else {
        mode.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    }
    return ::tcsetattr(STDIN_FILENO, on ? TCSANOW : TCSAFLUSH, &mode) == 0;
}

}  // namespace kp

DWORD timeGetTime() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    uint64_t ms = static_cast<uint64_t>(ts.tv_sec) * 1000u + static_cast<uint64_t>(ts.tv_nsec) / 1000000u;
    return static_cast<DWORD>(ms) + g_clockOffset.load();
}

void Sleep(DWORD dwMilliseconds) {
    if (dwMilliseconds == 0) {
        std::this_thread::yield();
        return;
    }
    std::this_thread::sleep_for(std::chrono::microseconds(kp::scaledMicroseconds(dwMilliseconds)));
}

void OutputDebugStringA(LPCSTR lpOutputString) {
    kp::DebugOutputCapture capture;
    {
        std::lock_guard<std::mutex> guard(debugChannel().lock);
        capture = debugChannel().capture;
    }
    if (capture) capture(lpOutputString ? lpOutputString : "");
}

HANDLE GetStdHandle(DWORD nStdHandle) {
    if (nStdHandle != STD_ERROR_HANDLE) return nullptr;
    if (fcntl(STDERR_FILENO, F_GETFD) == -1) return nullptr;
    // The descriptor plus one, so that descriptor 2 is never a null handle.
    return reinterpret_cast<HANDLE>(static_cast<intptr_t>(STDERR_FILENO + 1));
}

BOOL WriteFile(HANDLE hFile, LPCVOID lpBuffer, DWORD nNumberOfBytesToWrite, LPDWORD lpNumberOfBytesWritten,
               void*) {
    if (lpNumberOfBytesWritten) *lpNumberOfBytesWritten = 0;
    intptr_t fd = reinterpret_cast<intptr_t>(hFile) - 1;
    if (hFile == nullptr || hFile == INVALID_HANDLE_VALUE || fd < 0) return FALSE;
    ssize_t n = ::write(static_cast<int>(fd), lpBuffer, nNumberOfBytesToWrite);
    if (n < 0) return FALSE;
    if (lpNumberOfBytesWritten) *lpNumberOfBytesWritten = static_cast<DWORD>(n);
    return static_cast<DWORD>(n) == nNumberOfBytesToWrite ? TRUE : FALSE;
}

int WSAStartup(WORD wVersionRequested, LPWSADATA lpWSAData) {
    if (lpWSAData) {
        lpWSAData->wVersion = wVersionRequested;
        lpWSAData->wHighVersion = MAKEWORD(2, 2);
    }
    return 0;
}

int WSACleanup() { return 0; }

int _access(const char* path, int mode) { return ::access(slashes(path).c_str(), mode); }

int _mkdir(const char* path) { return ::mkdir(slashes(path).c_str(), 0755); }

void InitializeCriticalSection(LPCRITICAL_SECTION cs) { cs->impl = new std::recursive_mutex; }

void EnterCriticalSection(LPCRITICAL_SECTION cs) { static_cast<std::recursive_mutex*>(cs->impl)->lock(); }

void LeaveCriticalSection(LPCRITICAL_SECTION cs) { static_cast<std::recursive_mutex*>(cs->impl)->unlock(); }

void DeleteCriticalSection(LPCRITICAL_SECTION cs) {
    delete static_cast<std::recursive_mutex*>(cs->impl);
    cs->impl = nullptr;
}

namespace {
std::atomic<PHANDLER_ROUTINE> g_ctrlHandler{nullptr};

void onStopSignal(int signal) {
    const PHANDLER_ROUTINE routine = g_ctrlHandler.load();
    if (routine) routine(signal == SIGINT ? CTRL_C_EVENT : CTRL_CLOSE_EVENT);
}
}  // namespace

BOOL SetConsoleCtrlHandler(PHANDLER_ROUTINE HandlerRoutine, BOOL Add) {
    g_ctrlHandler.store(Add ? HandlerRoutine : nullptr);
    struct sigaction action {};
    action.sa_handler = Add ? onStopSignal : SIG_DFL;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    return sigaction(SIGINT, &action, nullptr) == 0 && sigaction(SIGTERM, &action, nullptr) == 0;
}

namespace kp {

void settleFreedMemory() { ::malloc_trim(0); }

namespace {

constexpr size_t kLargePage = size_t{2} << 20;

size_t pageSize() {
    static const size_t size = static_cast<size_t>(::sysconf(_SC_PAGESIZE));
    return size;
}

size_t roundUp(size_t n, size_t to) { return (n + to - 1) / to * to; }

}  // namespace

void* reserveLargeBlock(size_t bytes) {
    const size_t length = roundUp(bytes == 0 ? 1 : bytes, pageSize());
    if (length < kLargePage) {
        void* block = ::mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        return block == MAP_FAILED ? nullptr : block;
    }
    // Large pages need a block that starts on a large-page boundary: a little more is reserved
    // and what lies outside the aligned part given back.
    const size_t padded = length + kLargePage - pageSize();
    void* raw = ::mmap(nullptr, padded, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (raw == MAP_FAILED) return nullptr;
    const uintptr_t first = reinterpret_cast<uintptr_t>(raw);
    const uintptr_t start = roundUp(first, kLargePage);
    if (start > first) ::munmap(raw, start - first);
    if (padded - (start - first) > length)
        ::munmap(reinterpret_cast<void*>(start + length), padded - (start - first) - length);
    // Only a hint: without large pages the block is still ordinary memory.
    ::madvise(reinterpret_cast<void*>(start), length / kLargePage * kLargePage, MADV_HUGEPAGE);
    return reinterpret_cast<void*>(start);
}

void releaseLargeBlock(void* block, size_t bytes) {
    if (block) ::munmap(block, roundUp(bytes == 0 ? 1 : bytes, pageSize()));
}

void discardLargeBlockPart(void* from, size_t bytes) {
    const uintptr_t begin = roundUp(reinterpret_cast<uintptr_t>(from), pageSize());
    const uintptr_t end = (reinterpret_cast<uintptr_t>(from) + bytes) / pageSize() * pageSize();
    if (end > begin) ::madvise(reinterpret_cast<void*>(begin), end - begin, MADV_DONTNEED);
}

}  // namespace kp
