#include "app/overlayroute.h"

#include "app/applog.h"

#include "overlay/screencapture.h"
#include "overlay/screenwidget.h"

#include <memory>

namespace OverlayRoute {

Choice choose(const SessionOffer &offer)
{
    Choice choice;
    choice.liveLens = offer.liveLens;
    if (offer.layerOverlay)
        choice.overlay = Overlay::LayerShell;
    else if (offer.xcb)
        choice.overlay = offer.wayland ? Overlay::XWayland : Overlay::X11;
    else
        choice.overlay = Overlay::Unsupported;
    switch (choice.overlay) {
    case Overlay::X11:
        choice.captures << CaptureRoute::X11;
        break;
    case Overlay::LayerShell:
        if (offer.screencopy)
            choice.captures << CaptureRoute::WlrScreencopy;
        choice.captures << offer.busRoutes;
        break;
    case Overlay::XWayland:
        choice.captures << offer.busRoutes;
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
    const QString live =
        liveLens.isEmpty() ? QString() : QStringLiteral("; live lens: ") + liveLens;
    return QStringLiteral("Kavri: overlay: ") + where + QStringLiteral("; ") + lens + live;
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
