#pragma once

#include "overlay/overlayplatform.h"

#include <QList>
#include <QString>

class ScreenWidget;

// How the overlay reaches the screen and how the magnifier gets its picture, chosen once at
// start from what the session offers (OverlayPlatform). On X11 the overlay is a set of X
// windows and the magnifier reads the screen from the X server. On Wayland:
// - where the compositor offers layer-shell (sway, Hyprland, KDE Plasma), the overlay draws
//   on layer surfaces of its own Wayland connection;
// - elsewhere (GNOME) it stays an XWayland window, unmapped while it shows nothing;
// and the picture has to come from the compositor, since the X server of XWayland sees only
// X windows: screencopy on the overlay's connection, GNOME's screen cast or the desktop
// portal, best first.
namespace OverlayRoute {

enum class Overlay { X11, XWayland, LayerShell, Unsupported };
// Where the lens's live picture comes from; elsewhere it shows the picture of the key press.
enum class Live {
    None,
    X11,             // the X server, where a compositing manager runs
    GnomeWindowCast, // GNOME's cast of the focused window (XWayland)
    KWinWindowCast,  // KWin's cast of the window under the lens (layer-shell)
    KWinRefused,     // KWin withholds its window list and screen cast from this program
};

using SessionOffer = ::SessionOffer;

struct Choice
{
    Overlay overlay = Overlay::X11;
    // Capture routes to try in order.
    QList<CaptureRoute> captures;
    Live live = Live::None;

    // The one line printed on standard error at start.
    QString line() const;
};

Choice choose(const SessionOffer &offer);

// Asks `platform` what the session offers, gives `overlay` the capture routes chosen (or
// tells it the magnifier cannot work) and prints the choice once on standard error.
Choice setUp(ScreenWidget *overlay, const OverlayPlatform &platform);

} // namespace OverlayRoute
