#pragma once
// Small helpers over the X11 connection that Qt opened for this program. They
// return nothing useful (null, 0) where Qt is not running on X11 (offscreen,
// Wayland), and callers treat that as "this platform offers no such thing".

#include <xcb/xcb.h>

#include <QByteArray>

namespace wendral::x11 {

// The application's X connection, or null without one.
xcb_connection_t *connection();
// Interns an atom by name; XCB_ATOM_NONE on failure.
xcb_atom_t atom(xcb_connection_t *c, const QByteArray &name);
// The root window of the screen that holds window, or of the first screen when
// window is 0 or gone.
xcb_window_t rootOf(xcb_connection_t *c, xcb_window_t window = 0);
// Whether a window manager owns the WM_Sn selection of the screen with root.
bool windowManagerRunning(xcb_connection_t *c, xcb_window_t root);

} // namespace wendral::x11
