// Windows builds: the real system headers, with the few calls that the time scale and the test
// captures of kp_platform.h steer routed through this layer, as the Linux stand-ins do. It is
// included ahead of every source that links kp_platform (see platform/CMakeLists.txt), so the
// code calls the Windows names unchanged.
#pragma once

#include <windows.h>
// After <windows.h>, which they need.
#include <mmsystem.h>
#include <shellapi.h>

// Sleep scaled by the process time scale.
void kpScaledSleep(DWORD milliseconds);
// The debugger channel, also handed to the capture a test installed.
void kpOutputDebugString(LPCSTR text);
// timeGetTime plus the offset a test set.
DWORD kpTimeGetTime();
// ShellExecuteA, or the hook a test installed instead.
HINSTANCE kpShellExecute(HWND hwnd, LPCSTR operation, LPCSTR file, LPCSTR parameters, LPCSTR directory,
                         INT show);

#define Sleep(milliseconds) kpScaledSleep(milliseconds)
#define OutputDebugStringA(text) kpOutputDebugString(text)
#define timeGetTime() kpTimeGetTime()
#define ShellExecuteA(hwnd, operation, file, parameters, directory, show) \
    kpShellExecute(hwnd, operation, file, parameters, directory, show)
