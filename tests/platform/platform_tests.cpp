#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>
#include <windows.h>

#include <QCoreApplication>
#include <QObject>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <thread>
#include <vector>

#include "kp_native_window.h"
#include "kp_platform.h"

namespace {

QCoreApplication& app() {
    static int argc = 1;
    static char name[] = "kp_platform_tests";
    static char* argv[] = {name, nullptr};
    static QCoreApplication instance(argc, argv);
    return instance;
}

void pumpEvents() { QCoreApplication::processEvents(QEventLoop::AllEvents, 50); }

}  // namespace

TEST(PostMessage, MessagesFromEightThreadsArriveOnceEachOnTheOwningThread) {
    app();
    QObject window;
    HWND hwnd = reinterpret_cast<HWND>(static_cast<intptr_t>(0x1001));
    const auto uiThread = std::this_thread::get_id();
    std::vector<int> seen(8 * 500, 0);
    bool offThread = false;
    kp::registerNativeWindow(hwnd, &window, [&](MSG& msg) {
        EXPECT_EQ(msg.hwnd, hwnd);
        EXPECT_EQ(msg.message, static_cast<UINT>(WM_USER + 1));
        if (std::this_thread::get_id() != uiThread) offThread = true;
        seen[static_cast<size_t>(msg.wParam)]++;
    });

    std::vector<std::thread> producers;
    for (int t = 0; t < 8; ++t) {
        producers.emplace_back([t, hwnd] {
            for (int i = 0; i < 500; ++i)
                ASSERT_TRUE(PostMessageA(hwnd, WM_USER + 1, static_cast<WPARAM>(t * 500 + i), 0));
        });
    }
    for (auto& p : producers) p.join();
    pumpEvents();
    pumpEvents();

    EXPECT_FALSE(offThread);
    for (size_t i = 0; i < seen.size(); ++i) ASSERT_EQ(seen[i], 1) << "message " << i;
    kp::unregisterNativeWindow(hwnd);
}

TEST(PostMessage, WindowThatIsGoneIsRefusedAndQueuedMessagesAreDropped) {
    app();
    HWND hwnd = reinterpret_cast<HWND>(static_cast<intptr_t>(0x1002));
    EXPECT_FALSE(PostMessageA(hwnd, WM_USER + 1, 0, 0)) << "never registered";

    int calls = 0;
    {
        QObject window;
        kp::registerNativeWindow(hwnd, &window, [&](MSG&) { ++calls; });
        EXPECT_TRUE(PostMessageA(hwnd, WM_USER + 1, 0, 0));
        kp::unregisterNativeWindow(hwnd);  // before the message was delivered
    }
    pumpEvents();
    EXPECT_EQ(calls, 0);
    EXPECT_FALSE(PostMessageA(hwnd, WM_USER + 1, 0, 0));
}

TEST(PostMessage, HandlerMayUnregisterItsOwnWindow) {
    app();
    QObject window;
    HWND hwnd = reinterpret_cast<HWND>(static_cast<intptr_t>(0x1003));
    int calls = 0;
    kp::registerNativeWindow(hwnd, &window, [&](MSG&) {
        ++calls;
        kp::unregisterNativeWindow(hwnd);
    });
    PostMessageA(hwnd, WM_USER + 1, 0, 0);
    PostMessageA(hwnd, WM_USER + 1, 0, 0);
    pumpEvents();
    pumpEvents();
    EXPECT_EQ(calls, 1);
}

TEST(ShellExecute, HookReceivesTheBrowserRequest) {
    std::string op, file, params;
    kp::setShellExecuteHook([&](const std::string& o, const std::string& f, const std::string& p) {
        op = o;
        file = f;
        params = p;
        return true;
    });
    HINSTANCE r =
        ShellExecuteA(nullptr, "open", "iexplore.exe", "http://10.0.0.5:8080/", nullptr, SW_SHOWNORMAL);
    EXPECT_GT(reinterpret_cast<intptr_t>(r), 32);
    // A program that does not start is a failure the caller can tell.
    kp::setShellExecuteHook([](const std::string&, const std::string&, const std::string&) { return false; });
    r = ShellExecuteA(nullptr, "open", "iexplore.exe", "http://10.0.0.5:8080/", nullptr, SW_SHOWNORMAL);
    EXPECT_LE(reinterpret_cast<intptr_t>(r), 32);
    kp::setShellExecuteHook(nullptr);
    EXPECT_EQ(op, "open");
    EXPECT_EQ(file, "iexplore.exe");
    EXPECT_EQ(params, "http://10.0.0.5:8080/");
}

TEST(DebugChannel, SilentUnlessCaptured) {
    OutputDebugStringA("nobody hears this\n");
    std::string got;
    kp::setDebugOutputCapture([&](const char* text) { got += text; });
    OutputDebugStringA("line\n");
    kp::setDebugOutputCapture(nullptr);
    OutputDebugStringA("after\n");
    EXPECT_EQ(got, "line\n");
}

TEST(StandardError, HandleWritesToDescriptorTwoAndIsNullWhenClosed) {
    testing::internal::CaptureStderr();
    HANDLE h = GetStdHandle(STD_ERROR_HANDLE);
    ASSERT_NE(h, nullptr);
    DWORD written = 0;
    EXPECT_TRUE(WriteFile(h, "abc\n", 4, &written, nullptr));
    EXPECT_EQ(written, 4u);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "abc\n");

    int saved = dup(2);
    close(2);
    EXPECT_EQ(GetStdHandle(STD_ERROR_HANDLE), nullptr);
    dup2(saved, 2);
    close(saved);
    EXPECT_NE(GetStdHandle(STD_ERROR_HANDLE), nullptr);
}

TEST(Clock, TimeGetTimeIsMonotonicAndWrapsAt32Bits) {
    kp::setTimeGetTimeOffset(0);
    DWORD a = timeGetTime();
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    DWORD b = timeGetTime();
    EXPECT_GE(static_cast<DWORD>(b - a), 15u);

    // Put the clock 100 ms before the wrap: unsigned differences stay right across it.
    kp::setTimeGetTimeOffset(0u - timeGetTime() - 100u);
    DWORD before = timeGetTime();
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    DWORD after = timeGetTime();
    kp::setTimeGetTimeOffset(0);
    EXPECT_GT(before, 0xF0000000u);
    EXPECT_LT(after, 0x0FFFFFFFu);
    EXPECT_GE(static_cast<DWORD>(after - before), 190u);
}

TEST(Sleep, FollowsTheTimeScale) {
    const double saved = kp::timeScale();
    kp::setTimeScale(1e-8);
    auto t0 = std::chrono::steady_clock::now();
    Sleep(2000000000);  // 20 ms at this scale; unscaled it would outlast the test's time-out
    auto ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t0).count();
    kp::setTimeScale(saved);
    EXPECT_GE(ms, 19);
    EXPECT_EQ(kp::scaledMicroseconds(3), static_cast<long long>(3000 * saved));
}

// A batch's threads start one another: a thread started by a lowered one is not lowered again,
// and the caller's thread keeps its priority.
TEST(ThreadPriority, LowersTheCallingThreadOnlyAndOnlyOnce) {
    const int caller = getpriority(PRIO_PROCESS, 0);
    int lowered = caller, started_by_it = caller;
    std::thread([&] {
        kp::lowerThreadPriority();
        lowered = getpriority(PRIO_PROCESS, 0);
        std::thread([&] {
            kp::lowerThreadPriority();
            started_by_it = getpriority(PRIO_PROCESS, 0);
        }).join();
    }).join();
    EXPECT_EQ(getpriority(PRIO_PROCESS, 0), caller);
    // A process started at a low priority already keeps it.
    if (caller < 10) {
        EXPECT_GT(lowered, caller);
    }
    EXPECT_EQ(started_by_it, lowered);
}

TEST(CriticalSection, IsRecursiveAndExcludesOtherThreads) {
    CRITICAL_SECTION cs;
    InitializeCriticalSection(&cs);
    EnterCriticalSection(&cs);
    EnterCriticalSection(&cs);  // same thread again
    std::atomic<bool> entered{false};
    std::thread other([&] {
        EnterCriticalSection(&cs);
        entered = true;
        LeaveCriticalSection(&cs);
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    EXPECT_FALSE(entered.load());
    LeaveCriticalSection(&cs);
    LeaveCriticalSection(&cs);
    other.join();
    EXPECT_TRUE(entered.load());
    DeleteCriticalSection(&cs);
}

TEST(TextConversion, Utf8AndUtf16UnitsRoundTrip) {
    const char* text = "管理员 admin 😀";  // the emoji needs a surrogate pair
    int units = MultiByteToWideChar(CP_ACP, 0, text, -1, nullptr, 0);
    EXPECT_EQ(units, 3 + 1 + 5 + 1 + 2 + 1);
    std::vector<wchar_t> wide(static_cast<size_t>(units));
    ASSERT_EQ(MultiByteToWideChar(CP_ACP, 0, text, -1, wide.data(), units), units);
    EXPECT_EQ(wide[0], static_cast<wchar_t>(0x7BA1));
    EXPECT_EQ(wide[units - 1], 0);
    EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, text, -1, wide.data(), units - 1), 0) << "too small";

    char back[64];
    size_t converted = 0;
    ASSERT_EQ(wcstombs_s(&converted, back, sizeof back, wide.data(), _TRUNCATE), 0);
    EXPECT_STREQ(back, text);
    EXPECT_EQ(converted, std::strlen(text) + 1);
}

// Malformed input becomes U+FFFD per bad byte, as the Windows calls do without strict flags.
TEST(TextConversion, MalformedSequencesBecomeReplacementCharacters) {
    const char bad[] = "a\xC3(\xE7\xAE\xF0\x9F\x98z\xED\xA0\x80";  // cut, cut, cut, surrogate
    wchar_t wide[32];
    const int units = MultiByteToWideChar(CP_ACP, 0, bad, -1, wide, 32);
    const std::vector<wchar_t> expected = {'a',    0xFFFD, '(',    0xFFFD, 0xFFFD, 0xFFFD, 0xFFFD,
                                           0xFFFD, 'z',    0xFFFD, 0xFFFD, 0xFFFD, 0};
    EXPECT_EQ(std::vector<wchar_t>(wide, wide + units), expected);

    const wchar_t lone[] = {0xD83D, 'x', 0xDE00, 0};  // surrogates without their partners
    char utf8[16];
    ASSERT_EQ(WideCharToMultiByte(CP_ACP, 0, lone, -1, utf8, sizeof utf8, nullptr, nullptr), 8);
    EXPECT_STREQ(utf8, "\xEF\xBF\xBDx\xEF\xBF\xBD");
}

TEST(TextConversion, WcstombsNeverWritesPastItsBuffer) {
    const wchar_t wide[] = {0x7BA1, 0x7406, 0x5458, 0};  // 9 bytes in UTF-8
    char buffer[16];
    std::memset(buffer, 'x', sizeof buffer);
    size_t converted = 99;
    EXPECT_EQ(wcstombs_s(&converted, buffer, 9, wide, 3), ERANGE);  // needs 10 with the NUL
    EXPECT_EQ(buffer[0], 0);
    EXPECT_EQ(buffer[9], 'x');
    EXPECT_EQ(converted, 0u);

    // _TRUNCATE keeps whole characters only.
    EXPECT_EQ(wcstombs_s(&converted, buffer, 8, wide, _TRUNCATE), 80);
    EXPECT_EQ(std::strlen(buffer), 6u);
    EXPECT_EQ(buffer[7], 'x');

    EXPECT_EQ(wcstombs_s(&converted, buffer, sizeof buffer, wide, 3), 0);
    EXPECT_EQ(converted, 10u);
}

TEST(Folders, AccessAndMkdirTakeBothSeparators) {
    char pattern[] = "/tmp/kpplatformXXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    std::string base = pattern;
    std::string windowsStyle = base + "\\log_data";
    EXPECT_NE(_access(windowsStyle.c_str(), 0), 0);
    EXPECT_EQ(_mkdir(windowsStyle.c_str()), 0);
    EXPECT_EQ(_access((base + "/log_data").c_str(), 0), 0);
    EXPECT_NE(_mkdir(windowsStyle.c_str()), 0) << "exists already";
    rmdir((base + "/log_data").c_str());
    rmdir(base.c_str());
}

TEST(Winsock, StartAndCleanUpSucceed) {
    WSADATA data{};
    EXPECT_EQ(WSAStartup(MAKEWORD(1, 0), &data), 0);
    EXPECT_EQ(data.wVersion, MAKEWORD(1, 0));
    EXPECT_EQ(WSACleanup(), 0);
}

TEST(LocalTime, LocaltimeSConvertsAndRefusesNullArguments) {
    // 2026-12-08 09:30:00 UTC, read back in the zone the test sets.
    setenv("TZ", "UTC-8", 1);
    tzset();
    const time_t when = 1796722200;
    tm out{};
    ASSERT_EQ(0, localtime_s(&out, &when));
    EXPECT_EQ(126, out.tm_year);
    EXPECT_EQ(11, out.tm_mon);
    EXPECT_EQ(8, out.tm_mday);
    EXPECT_EQ(17, out.tm_hour);
    EXPECT_EQ(30, out.tm_min);

    out.tm_year = 5;
    EXPECT_EQ(EINVAL, localtime_s(&out, nullptr));
    EXPECT_EQ(0, out.tm_year);  // cleared, never half-filled
    EXPECT_EQ(EINVAL, localtime_s(nullptr, &when));
    unsetenv("TZ");
    tzset();
}
