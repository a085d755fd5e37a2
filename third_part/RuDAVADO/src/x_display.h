// X11 connections of the library's drawing threads. Xlib reports errors through one process-wide
// handler: errors on the library's own connections (a window closed while its video still runs)
// are noted for the calling thread and only stop the drawing; anybody else's go to the handler
// that was installed before ours.
#pragma once

#if defined(RUDAVADO_HAVE_X11)
#include <X11/Xlib.h>

namespace rudavado {

// A connection to the default display, or null when none is reachable.
Display* openDisplay();
void closeDisplay(Display* display);
// The calling thread's note of an X error on one of our connections.
void clearXError();
bool hadXError();

}  // namespace rudavado
#endif
