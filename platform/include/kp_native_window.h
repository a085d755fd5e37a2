// Delivery of posted window messages to a window's native-event hook on non-Windows builds.
//
// A window registers its native handle when it is built and unregisters it before it is
// destroyed. PostMessageA on any thread then queues the message to the window's thread, where
// the handler runs; typically the handler forwards it to the window's own
// nativeEvent("windows_generic_MSG", &msg, &result), so the hook code is the same on Windows.
#pragma once

#include <windows.h>

#include <functional>

class QObject;

namespace kp {

using NativeMessageHandler = std::function<void(MSG& msg)>;

// `context` decides the thread the handler runs on (its thread affinity). Registering a handle
// again replaces the earlier registration.
void registerNativeWindow(HWND hwnd, QObject* context, NativeMessageHandler handler);

// After this returns no handler of `hwnd` runs any more, including messages already posted.
// Must be called on the context's thread.
void unregisterNativeWindow(HWND hwnd);

}  // namespace kp
