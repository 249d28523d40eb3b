#include "app/overlayroute.h"

namespace OverlayRoute {

Choice choose(const SessionOffer &offer)
{
    Choice choice;
    if (!offer.wayland) {
        choice.overlay = offer.xcb ? Overlay::X11 : Overlay::Unsupported;
        if (offer.xcb)
            choice.captures << QStringLiteral("x11");
        return choice;
    }
    const bool layerShell = offer.layerShellBuilt && offer.forced != "xwayland" &&
                            offer.globals.contains(QStringLiteral("zwlr_layer_shell_v1"));
    if (layerShell)
        choice.overlay = Overlay::LayerShell;
    else
        choice.overlay = offer.xcb ? Overlay::XWayland : Overlay::Unsupported;
    if (choice.overlay == Overlay::Unsupported)
        return choice;
    // Screencopy rides on the layer overlay's own connection. The screen cast answers without
    // a dialog and without the flash a portal screenshot may give; the portal is the route
    // every other desktop offers.
    if (layerShell && offer.globals.contains(QStringLiteral("zwlr_screencopy_manager_v1")))
        choice.captures << QStringLiteral("wlr-screencopy");
    if (offer.mutterScreenCast && offer.screenCastBuilt)
        choice.captures << QStringLiteral("gnome-screencast");
    if (offer.portalScreenshot)
        choice.captures << QStringLiteral("portal");
    return choice;
}

QString Choice::line() const
{
    QString where;
    switch (overlay) {
    case Overlay::X11:
        where = QStringLiteral("X11 windows");
        break;
    case Overlay::XWayland:
        where = QStringLiteral("XWayland windows");
        break;
    case Overlay::LayerShell:
        where = QStringLiteral("Wayland layer-shell surfaces");
        break;
    case Overlay::Unsupported:
        return QStringLiteral("Kavri: overlay: none (no X server and no layer-shell on this "
                              "session); the effects cannot be shown");
    }
    const QString lens =
        captures.isEmpty()
            ? QStringLiteral("magnifier off (the session offers no way to "
                             "capture the screen)")
            : QStringLiteral("magnifier capture: ") + captures.join(QLatin1String(", then "));
    return QStringLiteral("Kavri: overlay: ") + where + QStringLiteral("; ") + lens;
}

} // namespace OverlayRoute
