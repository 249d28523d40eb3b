#pragma once

#include <QString>
#include <QStringList>

class ScreenWidget;

// How the overlay reaches the screen and how the magnifier gets its picture, found once at
// start from what the session offers. On X11 the overlay is a set of X windows and the
// magnifier reads the screen from the X server. On Wayland:
// - where the compositor offers layer-shell (sway, Hyprland, KDE Plasma), the overlay draws
//   on layer surfaces of its own Wayland connection (ScreenWidget connects it by itself);
// - elsewhere (GNOME) it stays an XWayland window, unmapped while it shows nothing;
// and the picture has to come from the compositor, since the X server of XWayland sees only
// X windows: screencopy on the overlay's connection, GNOME's screen cast or the desktop
// portal, best first.
namespace OverlayRoute {

enum class Overlay { X11, XWayland, LayerShell, Unsupported };

// What the session offers, as found at start.
struct SessionOffer
{
    bool wayland = false;      // a Wayland compositor answered on WAYLAND_DISPLAY
    bool xcb = false;          // Qt runs on an X server (XWayland when `wayland` is set)
    bool layerOverlay = false; // the overlay's own layer-shell connection is up
    bool screencopy = false;   // the compositor offers zwlr_screencopy_manager_v1
    QStringList busRoutes;     // capture routes of the session bus, best first
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

// Finds what the session offers, gives `overlay` the capture routes chosen (or tells it the
// magnifier cannot work) and prints the choice once on standard error.
Choice setUp(ScreenWidget *overlay);

} // namespace OverlayRoute
