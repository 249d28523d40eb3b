#include "app/overlayroute.h"

#include "app/applog.h"

#include "overlay/capture/capturechain.h"
#include "overlay/capture/captureprobe.h"
#include "overlay/capture/kwinscreenshotcapture.h"
#include "overlay/capture/mutterscreencastcapture.h"
#include "overlay/capture/portalscreenshotcapture.h"
#include "overlay/wayland/layeroverlay.h"
#include "overlay/screencapture.h"
#include "overlay/screenwidget.h"

#include <QGuiApplication>

#include <memory>
#include <vector>

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
        choice.captures << QStringLiteral("x11");
        break;
    case Overlay::LayerShell:
        if (offer.screencopy)
            choice.captures << QStringLiteral("wlr-screencopy");
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
            : QStringLiteral("magnifier capture: ") + captures.join(QLatin1String(", then "));
    return QStringLiteral("Kavri: overlay: ") + where + QStringLiteral("; ") + lens;
}

namespace {

std::unique_ptr<ScreenCapture> makeRoute(const QString &name, ScreenWidget *overlay)
{
    if (name == QLatin1String("wlr-screencopy"))
        return overlay->layerOverlay() ? overlay->layerOverlay()->makeCapture() : nullptr;
    if (name == QLatin1String("gnome-screencast"))
        return std::make_unique<MutterScreenCastCapture>();
    if (name == QLatin1String("kwin-screenshot"))
        return std::make_unique<KWinScreenShotCapture>();
    if (name == QLatin1String("portal"))
        return std::make_unique<PortalScreenshotCapture>();
    return nullptr;
}

} // namespace

Choice setUp(ScreenWidget *overlay)
{
    SessionOffer offer;
    offer.xcb = QGuiApplication::platformName() == QLatin1String("xcb");
    const QStringList globals = LayerOverlay::waylandGlobals();
    offer.wayland = !globals.isEmpty();
    offer.layerOverlay = overlay->layerOverlay() != nullptr;
    offer.screencopy = globals.contains(QStringLiteral("zwlr_screencopy_manager_v1"));
    if (offer.wayland) {
        offer.busRoutes = recommendedCaptureRoutes(probeCaptureOffer(),
                                                   MutterScreenCastCapture::builtWithPipeWire());
    }
    Choice choice = choose(offer);

    // On X11 the overlay reads the screen itself, at once.
    if (choice.overlay != Overlay::X11) {
        std::vector<std::unique_ptr<ScreenCapture>> routes;
        QStringList used;
        for (const QString &name : choice.captures) {
            if (std::unique_ptr<ScreenCapture> route = makeRoute(name, overlay)) {
                routes.push_back(std::move(route));
                used << name;
            }
        }
        choice.captures = used;
        if (routes.empty()) {
            overlay->setMagnifierAvailable(
                false, QStringLiteral("this desktop offers Kavri no way to take a picture of "
                                      "the screen"));
        } else {
            overlay->setScreenCapture(std::make_unique<CaptureChain>(std::move(routes)));
        }
    }
    qCInfo(lcApp, "%s", qPrintable(choice.line()));
    return choice;
}

} // namespace OverlayRoute
