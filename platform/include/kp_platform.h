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

// Makes timeGetTime() return the real clock plus offset, so that tests can reach the wrap.
void setTimeGetTimeOffset(unsigned int offset);

}  // namespace kp
