#pragma once

struct xcb_connection_t;

// The program's connection to its display, shared by the display's files in platform/.
namespace kelvor::platform {

// The X11 connection, or null on another platform. The offscreen platform answers for X11
// too, with no connection.
xcb_connection_t* x11_connection();

// Whether the program runs on a Wayland compositor.
bool on_wayland();

} // namespace kelvor::platform
