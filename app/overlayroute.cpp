#include "app/overlayroute.h"

#include "app/applog.h"

#include "overlay/screencapture.h"
#include "overlay/screenwidget.h"

#include <memory>

namespace OverlayRoute {

Choice choose(const SessionOffer &offer)
{
    Choice choice;
    if (offer.layerOverlay)
        choice.overlay = Overlay::LayerShell;
    else if (offer.xcb)
        choice.overlay = offer.wayland ? Overlay::XWayland : Overlay::X11;
    else
        choice.overlay = Overlay::Unsupported;
    switch (choice.overlay) {
    case Overlay::X11:
        choice.captures << CaptureRoute::X11;
        choice.live = Live::X11;
        break;
    case Overlay::LayerShell:
        if (offer.screencopy)
            choice.captures << CaptureRoute::WlrScreencopy;
        choice.captures << offer.busRoutes;
        if (offer.kwinWindowCast)
            choice.live = Live::KWinWindowCast;
        else if (offer.kwinRefused)
            choice.live = Live::KWinRefused;
        break;
    case Overlay::XWayland:
        choice.captures << offer.busRoutes;
        // The same service and PipeWire as GNOME's screen cast of the monitor.
        if (offer.busRoutes.contains(CaptureRoute::GnomeScreencast))
            choice.live = Live::GnomeWindowCast;
        break;
    case Overlay::Unsupported:
        break;
    }
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
            ? QStringLiteral("magnifier off (the session offers no way to capture the screen)")
            : QStringLiteral("magnifier capture: ") +
                  captureRouteNames(captures).join(QLatin1String(", then "));
    QString live;
    switch (this->live) {
    case Live::None:
        live = QStringLiteral("none");
        break;
    case Live::X11:
        live = QStringLiteral("x11 (with a compositing manager)");
        break;
    case Live::GnomeWindowCast:
        live = QStringLiteral("gnome-window-cast");
        break;
    case Live::KWinWindowCast:
        live = QStringLiteral("kwin-window-cast");
        break;
    case Live::KWinRefused:
        live = QStringLiteral("none (KWin grants its window list and screen cast only to Kavri "
                              "installed with its desktop file)");
        break;
    }
    if (captures.isEmpty())
        return QStringLiteral("Kavri: overlay: ") + where + QStringLiteral("; ") + lens;
    return QStringLiteral("Kavri: overlay: ") + where + QStringLiteral("; ") + lens +
           QStringLiteral("; live lens: ") + live;
}

Choice setUp(ScreenWidget *overlay, const OverlayPlatform &platform)
{
    Choice choice = choose(platform.offer(overlay->layerOverlay() != nullptr));

    // On X11 the overlay reads the screen itself, at once.
    if (choice.overlay != Overlay::X11) {
        std::unique_ptr<ScreenCapture> chain =
            OverlayPlatform::makeCaptureChain(&choice.captures, overlay->layerOverlay());
        if (!chain) {
            overlay->setMagnifierAvailable(
                false, QStringLiteral("this desktop offers Kavri no way to take a picture of "
                                      "the screen"));
        } else {
            overlay->setScreenCapture(std::move(chain));
        }
    }
    qCInfo(lcApp, "%s", qPrintable(choice.line()));
    return choice;
}

} // namespace OverlayRoute
