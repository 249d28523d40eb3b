#pragma once

// Whether the window system Qt is about to connect to answers. Qt aborts when no platform it
// tries can be opened (SIGABRT, "Reinstalling the application may fix this problem"); Kavri
// rather says which display it could not open and ends with status 1.
//
// The platforms are Qt's: -platform, otherwise QT_QPA_PLATFORM, otherwise Wayland on a Wayland
// session (XDG_SESSION_TYPE) and X11, each name of a ';' list in turn. xcb is opened on
// -display or DISPLAY, Wayland on WAYLAND_DISPLAY (default wayland-0). Any other platform
// (offscreen, minimal, eglfs...) needs no display here and passes, as does a Wayland socket
// handed over in WAYLAND_SOCKET (it can be used once only, by Qt).
namespace DisplayCheck {

// True when one of the platforms answers or one needs no check. Otherwise prints
// "Kavri: cannot open the display ..." with what was tried on standard error and returns false.
// Call after the platform choice is made and before the application object exists.
bool canOpen(int argc, char **argv);

// Closes the connection canOpen() keeps open until the application object has its own.
void release();

} // namespace DisplayCheck
