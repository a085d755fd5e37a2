// The subset of the Windows API that the tool calls, for non-Windows builds.
// On Windows the system header is used instead and this folder is not on the include path.
#pragma once

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <cwchar>

typedef int BOOL;
typedef unsigned char BYTE;
typedef unsigned short WORD;
typedef uint32_t DWORD;
typedef uint32_t UINT;
typedef int32_t LONG;
typedef uintptr_t WPARAM;
typedef intptr_t LPARAM;
typedef intptr_t LRESULT;
typedef void* HANDLE;
typedef void* HWND;
typedef void* HINSTANCE;
typedef const char* LPCSTR;
typedef char* LPSTR;
typedef wchar_t* LPWSTR;
typedef const wchar_t* LPCWSTR;
typedef const void* LPCVOID;
typedef DWORD* LPDWORD;
typedef int errno_t;

#ifndef TRUE
#define TRUE 1
#endif
#ifndef FALSE
#define FALSE 0
#endif

#define WINAPI
#define CALLBACK
#define WM_USER 0x0400
#define SW_SHOWNORMAL 1
#define SW_SHOWMAXIMIZED 3
#define CP_ACP 0
#define CP_UTF8 65001
#define STD_ERROR_HANDLE ((DWORD)-12)
#define INVALID_HANDLE_VALUE ((HANDLE)(intptr_t)-1)
#define MAKEWORD(a, b) ((WORD)(((BYTE)(a)) | ((WORD)((BYTE)(b))) << 8))
#ifndef _TRUNCATE
#define _TRUNCATE ((size_t)-1)
#endif

struct POINT {
    LONG x;
    LONG y;
};

struct MSG {
    HWND hwnd;
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
    DWORD time;
    POINT pt;
};

// Posts the message to a window registered with kp::NativeWindowRegistry (kp_native_window.h).
// Thread-safe; a handle that is not (or no longer) registered returns FALSE.
BOOL PostMessageA(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam);

// Opens `lpParameters` (a URL) with the desktop's browser when lpFile names a browser,
// otherwise opens lpFile. A hook installed by kp::setShellExecuteHook receives it instead.
HINSTANCE ShellExecuteA(HWND hwnd, LPCSTR lpOperation, LPCSTR lpFile, LPCSTR lpParameters, LPCSTR lpDirectory,
                        int nShowCmd);

// Debugger channel: nothing happens unless a capture is installed (kp::setDebugOutputCapture).
void OutputDebugStringA(LPCSTR lpOutputString);

HANDLE GetStdHandle(DWORD nStdHandle);
BOOL WriteFile(HANDLE hFile, LPCVOID lpBuffer, DWORD nNumberOfBytesToWrite, LPDWORD lpNumberOfBytesWritten,
               void* lpOverlapped);

// Monotonic milliseconds, 32 bits, wrapping after about 49.7 days.
DWORD timeGetTime();

// Sleeps dwMilliseconds multiplied by the process time scale (KP_TIME_SCALE).
void Sleep(DWORD dwMilliseconds);

struct CRITICAL_SECTION {
    void* impl;
};
typedef CRITICAL_SECTION* LPCRITICAL_SECTION;
void InitializeCriticalSection(LPCRITICAL_SECTION cs);
void EnterCriticalSection(LPCRITICAL_SECTION cs);
void LeaveCriticalSection(LPCRITICAL_SECTION cs);
void DeleteCriticalSection(LPCRITICAL_SECTION cs);

// The system's byte strings are UTF-8 (the "ANSI code page" here); wide strings hold UTF-16
// code units, one per wchar_t, as on Windows. Returns the number of units written (or needed
// when cchWideChar is 0); 0 on failure, including a destination that is too small.
int MultiByteToWideChar(UINT CodePage, DWORD dwFlags, LPCSTR lpMultiByteStr, int cbMultiByte,
                        LPWSTR lpWideCharStr, int cchWideChar);
int WideCharToMultiByte(UINT CodePage, DWORD dwFlags, LPCWSTR lpWideCharStr, int cchWideChar,
                        LPSTR lpMultiByteStr, int cbMultiByte, LPCSTR lpDefaultChar, BOOL* lpUsedDefaultChar);

// Converts UTF-16 units to UTF-8. Never writes past sizeInBytes: when the result (with its
// terminator) does not fit, mbstr becomes "" and ERANGE is returned, unless count is _TRUNCATE.
errno_t wcstombs_s(size_t* pReturnValue, char* mbstr, size_t sizeInBytes, const wchar_t* wcstr, size_t count);

// Winsock start-up and clean-up: nothing to do on this system.
struct WSADATA {
    WORD wVersion;
    WORD wHighVersion;
};
typedef WSADATA* LPWSADATA;
int WSAStartup(WORD wVersionRequested, LPWSADATA lpWSAData);
int WSACleanup();

// "\\" and "/" both separate folders.
int _access(const char* path, int mode);
int _mkdir(const char* path);

// Files. Handles are descriptors; a file the program creates is readable and writable by its
// owner only (the device list holds passwords). Like Windows, CreateFileA refuses a folder
// (ERROR_ACCESS_DENIED) and never blocks on a named pipe. GetLastError reports the calling
// thread's last failure.
typedef int64_t LONGLONG;
typedef void* LPVOID;
typedef struct _SECURITY_ATTRIBUTES {
    DWORD nLength;
    LPVOID lpSecurityDescriptor;
    BOOL bInheritHandle;
} SECURITY_ATTRIBUTES, *PSECURITY_ATTRIBUTES, *LPSECURITY_ATTRIBUTES;
typedef struct _OVERLAPPED OVERLAPPED, *LPOVERLAPPED;
typedef union _LARGE_INTEGER {
    struct {
        DWORD LowPart;
        LONG HighPart;
    } u;
    LONGLONG QuadPart;
} LARGE_INTEGER, *PLARGE_INTEGER;
typedef struct _SYSTEMTIME {
    WORD wYear;
    WORD wMonth;
    WORD wDayOfWeek;
    WORD wDay;
    WORD wHour;
    WORD wMinute;
    WORD wSecond;
    WORD wMilliseconds;
} SYSTEMTIME, *PSYSTEMTIME, *LPSYSTEMTIME;

#define GENERIC_READ 0x80000000
#define GENERIC_WRITE 0x40000000
#define FILE_SHARE_READ 0x00000001
#define FILE_SHARE_WRITE 0x00000002
#define FILE_SHARE_DELETE 0x00000004
#define CREATE_NEW 1
#define CREATE_ALWAYS 2
#define OPEN_EXISTING 3
#define OPEN_ALWAYS 4
#define TRUNCATE_EXISTING 5
#define FILE_ATTRIBUTE_NORMAL 0x00000080
#define FILE_TYPE_UNKNOWN 0x0000
#define FILE_TYPE_DISK 0x0001
#define FILE_TYPE_CHAR 0x0002
#define FILE_TYPE_PIPE 0x0003
#define MOVEFILE_REPLACE_EXISTING 0x00000001
#define MOVEFILE_WRITE_THROUGH 0x00000008
#define ERROR_SUCCESS 0L
#define ERROR_FILE_NOT_FOUND 2L
#define ERROR_PATH_NOT_FOUND 3L
#define ERROR_ACCESS_DENIED 5L
#define ERROR_INVALID_HANDLE 6L
#define ERROR_NOT_ENOUGH_MEMORY 8L
#define ERROR_WRITE_FAULT 29L
#define ERROR_READ_FAULT 30L
#define ERROR_GEN_FAILURE 31L
#define ERROR_SHARING_VIOLATION 32L
#define ERROR_FILE_EXISTS 80L
#define ERROR_INVALID_PARAMETER 87L
#define ERROR_DISK_FULL 112L
#define ERROR_ALREADY_EXISTS 183L

HANDLE CreateFileA(LPCSTR lpFileName, DWORD dwDesiredAccess, DWORD dwShareMode,
                   LPSECURITY_ATTRIBUTES lpSecurityAttributes, DWORD dwCreationDisposition,
                   DWORD dwFlagsAndAttributes, HANDLE hTemplateFile);
BOOL ReadFile(HANDLE hFile, LPVOID lpBuffer, DWORD nNumberOfBytesToRead, LPDWORD lpNumberOfBytesRead,
              LPOVERLAPPED lpOverlapped);
DWORD GetFileType(HANDLE hFile);
BOOL GetFileSizeEx(HANDLE hFile, PLARGE_INTEGER lpFileSize);
#define FILE_BEGIN 0
#define FILE_CURRENT 1
#define FILE_END 2
// lseek.
BOOL SetFilePointerEx(HANDLE hFile, LARGE_INTEGER liDistanceToMove, PLARGE_INTEGER lpNewFilePointer,
                      DWORD dwMoveMethod);
// fsync.
BOOL FlushFileBuffers(HANDLE hFile);
BOOL CloseHandle(HANDLE hObject);
// rename; without MOVEFILE_REPLACE_EXISTING an existing target is refused (ERROR_ALREADY_EXISTS).
// MOVEFILE_WRITE_THROUGH also flushes the target's folder, so the move itself is on disk.
BOOL MoveFileExA(LPCSTR lpExistingFileName, LPCSTR lpNewFileName, DWORD dwFlags);
BOOL DeleteFileA(LPCSTR lpFileName);
DWORD GetLastError();
void SetLastError(DWORD dwErrCode);
// localtime_r of the current time.
void GetLocalTime(LPSYSTEMTIME lpSystemTime);
// The C run-time's local-time conversion: 0, or EINVAL (and `out` zeroed) for a null argument
// or a time the system cannot convert.
errno_t localtime_s(struct tm* out, const time_t* time);

#define CTRL_C_EVENT 0
#define CTRL_CLOSE_EVENT 2
typedef BOOL (*PHANDLER_ROUTINE)(DWORD dwCtrlType);
// SIGINT arrives as CTRL_C_EVENT, SIGTERM as CTRL_CLOSE_EVENT. The routine runs in the signal's
// context: it may only touch lock-free atomics and end the process (std::_Exit). One routine at
// a time; Add FALSE restores the default handling.
BOOL SetConsoleCtrlHandler(PHANDLER_ROUTINE HandlerRoutine, BOOL Add);
