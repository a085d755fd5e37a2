#include "x_display.h"

#if defined(RUDAVADO_HAVE_X11)
#include <mutex>
#include <set>

namespace rudavado {
namespace {

// Recursive: closing a display flushes it, which may report an error on the closing thread.
std::recursive_mutex g_displays_mu;
std::set<Display*> g_displays;
XErrorHandler g_previous_handler = nullptr;
thread_local bool t_x_error = false;

int onXError(Display* display, XErrorEvent* event) {
    {
        std::lock_guard<std::recursive_mutex> lk(g_displays_mu);
        if (g_displays.count(display) != 0) {
            t_x_error = true;
            return 0;
        }
    }
    return g_previous_handler != nullptr ? g_previous_handler(display, event) : 0;
}

}  // namespace

Display* openDisplay() {
    static std::once_flag once;
    std::call_once(once, [] { g_previous_handler = XSetErrorHandler(onXError); });
    std::lock_guard<std::recursive_mutex> lk(g_displays_mu);
    Display* d = XOpenDisplay(nullptr);
    if (d != nullptr) g_displays.insert(d);
    return d;
}

void closeDisplay(Display* d) {
    std::lock_guard<std::recursive_mutex> lk(g_displays_mu);
    XCloseDisplay(d);
    g_displays.erase(d);
}

void clearXError() { t_x_error = false; }
bool hadXError() { return t_x_error; }

}  // namespace rudavado
#endif
