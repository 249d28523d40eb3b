#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

// How the overlay reaches the screen and how the magnifier gets its picture, chosen once at
// start from what the session offers. On X11 the overlay is a set of X windows and the
// magnifier reads the screen from the X server. On Wayland:
// - where the compositor offers layer-shell (sway, Hyprland, KDE Plasma), the overlay draws
//   on layer surfaces of its own Wayland connection, above every window and out of the way
//   of input while it shows nothing;
// - elsewhere (GNOME) it stays an XWayland window, hidden while it shows nothing;
// and the picture comes from the compositor: screencopy, GNOME's screen cast or the desktop
// portal, in that order of preference, since the X server of XWayland only sees X windows.
namespace OverlayRoute {

enum class Overlay { X11, XWayland, LayerShell, Unsupported };

// What the session offers, as found at start.
struct SessionOffer
{
    bool wayland = false; // a Wayland compositor answered on WAYLAND_DISPLAY
    bool xcb = false;     // Qt runs on an X server (XWayland when `wayland` is set)
    QStringList globals;  // the compositor's global interfaces
    bool layerShellBuilt = false;
    bool portalScreenshot = false; // org.freedesktop.portal.Screenshot on the session bus
    bool mutterScreenCast = false; // org.gnome.Mutter.ScreenCast on the session bus
    bool screenCastBuilt = false;  // built with PipeWire
    QByteArray forced;             // KAVRI_OVERLAY_ROUTE: "xwayland" keeps the X windows
};

struct Choice
{
    Overlay overlay = Overlay::X11;
    // Capture routes to try in order: "x11", "wlr-screencopy", "gnome-screencast", "portal".
    QStringList captures;

    // The one line printed on standard error at start.
    QString line() const;
};

Choice choose(const SessionOffer &offer);

} // namespace OverlayRoute
