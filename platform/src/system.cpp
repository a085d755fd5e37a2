// Clock, sleeping, debugger channel, standard error, browser, Winsock, folders, critical sections.
#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>
#include <windows.h>

#include <QDesktopServices>
#include <QString>
#include <QUrl>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>

#include "kp_platform.h"

namespace {

double readTimeScaleFromEnvironment() {
    const char* text = std::getenv("KP_TIME_SCALE");
    if (!text || !*text) return 1.0;
    char* end = nullptr;
    double value = std::strtod(text, &end);
    if (end == text || !(value > 0.0)) return 1.0;
    return value;
}

std::atomic<double>& timeScaleValue() {
    static std::atomic<double> scale{readTimeScaleFromEnvironment()};
    return scale;
}

std::atomic<unsigned int> g_clockOffset{0};

std::mutex g_hookLock;
kp::ShellExecuteHook g_shellHook;
kp::DebugOutputCapture g_debugCapture;

std::string slashes(const char* path) {
    std::string out(path ? path : "");
    for (char& c : out)
        if (c == '\\') c = '/';
    return out;
}

}  // namespace

namespace kp {

double timeScale() { return timeScaleValue().load(); }

void setTimeScale(double scale) {
    if (scale > 0.0) timeScaleValue().store(scale);
}

long long scaledMicroseconds(double milliseconds) {
    return static_cast<long long>(milliseconds * 1000.0 * timeScale());
}

void setShellExecuteHook(ShellExecuteHook hook) {
    std::lock_guard<std::mutex> guard(g_hookLock);
    g_shellHook = std::move(hook);
}

void setDebugOutputCapture(DebugOutputCapture capture) {
    std::lock_guard<std::mutex> guard(g_hookLock);
    g_debugCapture = std::move(capture);
}

void setTimeGetTimeOffset(unsigned int offset) { g_clockOffset.store(offset); }

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
        std::lock_guard<std::mutex> guard(g_hookLock);
        capture = g_debugCapture;
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

HINSTANCE ShellExecuteA(HWND, LPCSTR lpOperation, LPCSTR lpFile, LPCSTR lpParameters, LPCSTR, int) {
    const std::string operation = lpOperation ? lpOperation : "";
    const std::string file = lpFile ? lpFile : "";
    const std::string parameters = lpParameters ? lpParameters : "";
    kp::ShellExecuteHook hook;
    {
        std::lock_guard<std::mutex> guard(g_hookLock);
        hook = g_shellHook;
    }
    // Like the real call, a value above 32 means success.
    HINSTANCE ok = reinterpret_cast<HINSTANCE>(static_cast<intptr_t>(33));
    if (hook) {
        hook(operation, file, parameters);
        return ok;
    }
    // A browser named as the program (e.g. "iexplore.exe") opens its parameter: the desktop's
    // default browser stands in for it.
    const bool browser =
        !parameters.empty() && file.size() > 4 && file.compare(file.size() - 4, 4, ".exe") == 0;
    const QString target = QString::fromUtf8((browser ? parameters : file).c_str());
    QUrl url = QUrl::fromUserInput(target);
    if (!url.isValid() || !QDesktopServices::openUrl(url))
        return reinterpret_cast<HINSTANCE>(static_cast<intptr_t>(2));  // ERROR_FILE_NOT_FOUND
    return ok;
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
