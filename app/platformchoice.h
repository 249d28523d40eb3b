#pragma once

#include <QByteArray>
#include <QStringList>

// Qt's Wayland backend (Qt 5's, and Qt 6's as used here) cannot keep the overlay above other
// windows, cover the whole screen or capture it. On a Wayland session that also runs
// XWayland, Kavri therefore asks for the X11 (xcb) backend, unless the user has chosen a
// platform: QT_QPA_PLATFORM or -platform.
namespace PlatformChoice {

// What the session's environment says of the window system, as it is now (QT_QPA_PLATFORM
// included, once preferXWayland() set it). Read here only, before the application object
// exists; the overlay asks its own questions later (OverlayPlatform).
struct Environment
{
    QByteArray qpaPlatform;     // QT_QPA_PLATFORM
    QByteArray sessionType;     // XDG_SESSION_TYPE
    QByteArray display;         // DISPLAY
    QByteArray waylandDisplay;  // WAYLAND_DISPLAY
    bool waylandSocket = false; // WAYLAND_SOCKET hands Qt a connection
};
Environment environment();

// The decision alone, from the environment values and the command-line arguments
// (arguments[0] is the program name).
bool shouldUseXcb(const QByteArray &waylandDisplay, const QByteArray &display,
                  const QByteArray &qpaPlatform, const QStringList &arguments);

// Reads the environment and the raw arguments and, when shouldUseXcb says so, sets
// QT_QPA_PLATFORM=xcb. Must run before the QApplication is constructed. True when it did.
bool preferXWayland(int argc, char **argv);

} // namespace PlatformChoice
