// Seams of the platform layer that Windows does not have: the process time scale and the
// captures that tests install in place of the browser and the debugger.
#pragma once

#include <functional>
#include <string>

namespace kp {

// Factor applied to Sleep and to the simulated cameras' durations. Read from KP_TIME_SCALE
// (a positive decimal number, default 1) the first time it is asked for.
double timeScale();
void setTimeScale(double scale);

// Scales a duration in milliseconds by the time scale, in microseconds.
long long scaledMicroseconds(double milliseconds);

// Receives every ShellExecuteA call instead of the desktop; an empty function restores it. The
// call succeeds when the hook returns true and fails (as when no program starts) otherwise.
using ShellExecuteHook =
    std::function<bool(const std::string& operation, const std::string& file, const std::string& parameters)>;
void setShellExecuteHook(ShellExecuteHook hook);

// Receives every OutputDebugStringA text; an empty function makes the channel silent again.
using DebugOutputCapture = std::function<void(const char* text)>;
void setDebugOutputCapture(DebugOutputCapture capture);

// Starts writing `length` bytes of an open file from `offset` to the disk and returns without
// waiting, so that a FlushFileBuffers after more writes has less left to wait for. Only a hint:
// false when the handle is no file it applies to. Windows writes back on its own: a no-op there.
bool startWriteBack(void* file, unsigned long long offset, unsigned long long length);

// Tells the system that about `threads` threads of the process may soon wait at once (a large
// batch), so that waking one does not walk the queues of the others: Linux gives a process a
// handful of wait queues by default, shared by all its threads. Only grows; a no-op on Windows
// and where the kernel has no such setting.
void prepareForThreads(int threads);

// Lowers the calling thread's scheduling priority below the process's other threads: for the
// many threads of a large batch, so that the few that serve them (the batch's own, the report's
// writer, the window's) are not starved. Leaves a thread lowered already (also by its creator)
// as it is; cannot be undone on the thread.
void lowerThreadPriority();

// True when users other than a file's owner have any access to it. Windows keeps access in
// lists that the user's own folders already limit: false there.
bool fileOpenToOthers(const std::string& path);

// Turns off (or back on) the echo of what is typed on standard input's terminal; false when
// standard input is no terminal. Safe in a stop routine (SetConsoleCtrlHandler), so that a
// program ended while asking for a password leaves the terminal echoing.
bool setInputEcho(bool on);

// Makes timeGetTime() return the real clock plus offset, so that tests can reach the wrap.
void setTimeGetTimeOffset(unsigned int offset);

}  // namespace kp
