// What the platform layer adds to Windows: the process time scale and the captures that tests
// install in place of the browser and the debugger (kp_platform.h), and the routed calls of
// kp_windows_seams.h. This file itself calls the real functions.
#include <windows.h>
// After <windows.h>, which they need.
#include <mmsystem.h>
#include <shellapi.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>

#include "kp_memory.h"
#include "kp_platform.h"

namespace {

std::atomic<unsigned int> g_clockOffset{0};

std::mutex g_hookLock;
kp::ShellExecuteHook g_shellHook;
kp::DebugOutputCapture g_debugCapture;

}  // namespace

namespace kp {

void setShellExecuteHook(ShellExecuteHook hook) {
    std::lock_guard<std::mutex> guard(g_hookLock);
    g_shellHook = std::move(hook);
}

void setDebugOutputCapture(DebugOutputCapture capture) {
    std::lock_guard<std::mutex> guard(g_hookLock);
    g_debugCapture = std::move(capture);
}

void setTimeGetTimeOffset(unsigned int offset) { g_clockOffset.store(offset); }

bool startWriteBack(void*, unsigned long long, unsigned long long) { return true; }

void prepareForThreads(int) {}

bool fileOpenToOthers(const std::string&) { return false; }

bool setInputEcho(bool on) {
    const HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    DWORD mode = 0;
    if (input == INVALID_HANDLE_VALUE || !GetConsoleMode(input, &mode)) return false;
    return SetConsoleMode(input, on ? (mode | ENABLE_ECHO_INPUT) : (mode & ~DWORD(ENABLE_ECHO_INPUT))) != 0;
}

}  // namespace kp

void kpScaledSleep(DWORD milliseconds) {
    if (milliseconds == 0 || kp::timeScale() == 1.0) {
        Sleep(milliseconds);
        return;
    }
    std::this_thread::sleep_for(std::chrono::microseconds(kp::scaledMicroseconds(milliseconds)));
}

void kpOutputDebugString(LPCSTR text) {
    OutputDebugStringA(text);
    kp::DebugOutputCapture capture;
    {
        std::lock_guard<std::mutex> guard(g_hookLock);
        capture = g_debugCapture;
    }
    if (capture) capture(text ? text : "");
}

DWORD kpTimeGetTime() { return timeGetTime() + g_clockOffset.load(); }

HINSTANCE kpShellExecute(HWND hwnd, LPCSTR operation, LPCSTR file, LPCSTR parameters, LPCSTR directory,
                         INT show) {
    kp::ShellExecuteHook hook;
    {
        std::lock_guard<std::mutex> guard(g_hookLock);
        hook = g_shellHook;
    }
    if (!hook) return ShellExecuteA(hwnd, operation, file, parameters, directory, show);
    const bool started = hook(operation ? operation : "", file ? file : "", parameters ? parameters : "");
    // Like the real call, a value above 32 means success; 2 is "file not found".
    return reinterpret_cast<HINSTANCE>(static_cast<intptr_t>(started ? 33 : 2));
}

namespace kp {

void settleFreedMemory() {}

// Large pages need a privilege that users do not hold: ordinary pages, committed on first touch.
void* reserveLargeBlock(size_t bytes) {
    return VirtualAlloc(nullptr, bytes == 0 ? 1 : bytes, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
}

void releaseLargeBlock(void* block, size_t) {
    if (block) VirtualFree(block, 0, MEM_RELEASE);
}

void discardLargeBlockPart(void* from, size_t bytes) {
    SYSTEM_INFO info;
    GetSystemInfo(&info);
    const uintptr_t page = info.dwPageSize;
    const uintptr_t begin = (reinterpret_cast<uintptr_t>(from) + page - 1) / page * page;
    const uintptr_t end = (reinterpret_cast<uintptr_t>(from) + bytes) / page * page;
    if (end > begin) VirtualFree(reinterpret_cast<void*>(begin), end - begin, MEM_DECOMMIT);
}

}  // namespace kp
