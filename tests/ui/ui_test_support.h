// Helpers shared by the widget tests.
#pragma once

#include <functional>

// Runs the event loop until `done` holds; false when `timeout_ms` passed first (a hang guard).
bool waitFor(const std::function<bool()>& done, int timeout_ms = 20000);
// Threads of this process right now.
int threadCount();
