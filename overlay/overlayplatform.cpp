#include "overlay/overlayplatform.h"

#include "overlay/capture/capturechain.h"
#include "overlay/capture/captureprobe.h"
#include "overlay/capture/kwinscreenshotcapture.h"
#ifdef KAVRI_CAPTURE_PIPEWIRE
#include "overlay/capture/mutterlivesource.h"
#endif
#include "overlay/capture/mutterscreencastcapture.h"
#include "overlay/capture/portalscreenshotcapture.h"
#include "overlay/livesource.h"
#include "overlay/overlaywindowsystem.h"
#include "overlay/screencapture.h"
#include "overlay/wayland/layeroverlay.h"

#ifdef KAVRI_OVERLAY_X11
#include "overlay/x11/x11connection.h"
#include "overlay/x11/x11overlaysystem.h"
#endif
#ifdef KAVRI_CAPTURE_X11LIVE
#include "overlay/x11/x11livesource.h"
#endif
#ifdef KAVRI_OVERLAY_WAYLAND
#include "overlay/wayland/waylandclient.h"
#endif
#ifdef KAVRI_LIVE_KWIN
#include "overlay/wayland/kwinlivesource.h"
#endif
#ifdef KAVRI_DISPLAY_XCB
#include "overlay/x11/x11displayprobe.h"
#endif
#ifdef KAVRI_DISPLAY_WAYLAND
#include "overlay/wayland/waylanddisplayprobe.h"
#endif

#include <QGuiApplication>

namespace {

// Platforms that composite every window (and the offscreen one used for testing): translucent
// pixels blend, so the window never needs clipping.
class CompositedWindowSystem final : public OverlayWindowSystem
{
public:
    bool isCompositing() override { return true; }
    void setShownRegion(QWidget *, const QRegion &) override {}
    void sync() override {}
    void waitForRedrawBeneath() override {}
    void setPointerHidden(bool) override {}
    void keepAbove(QWidget *) override {}
};

} // namespace

OverlayPlatform::OverlayPlatform() = default;
OverlayPlatform::OverlayPlatform(OverlayPlatform &&) noexcept = default;
OverlayPlatform &OverlayPlatform::operator=(OverlayPlatform &&) noexcept = default;
OverlayPlatform::~OverlayPlatform() = default;

OverlayPlatform OverlayPlatform::detect()
{
    OverlayPlatform platform;
    const QString qpa = QGuiApplication::platformName();
    platform.m_xcb = qpa == QLatin1String("xcb");
#ifdef KAVRI_OVERLAY_X11
    if (platform.m_xcb)
        platform.m_x11 = X11Connection::open();
#endif
#ifdef KAVRI_OVERLAY_WAYLAND
    // On a window system of Qt's own only: an offscreen overlay never meets the session's
    // compositor. wl_display_connect falls back to "wayland-0" without WAYLAND_DISPLAY: only
    // a Wayland session counts.
    if ((platform.m_xcb || qpa.startsWith(QLatin1String("wayland"))) &&
        !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY")) {
        if (std::unique_ptr<WaylandClient> client = WaylandClient::connectToDisplay()) {
            platform.m_waylandGlobals = client->globals();
            if (qgetenv("KAVRI_OVERLAY_ROUTE") != "xwayland")
                platform.m_layer = LayerOverlay::connectIfOffered(std::move(client));
        }
    }
#endif
    return platform;
}

SessionOffer OverlayPlatform::offer(bool layerOverlay) const
{
    SessionOffer offer;
    offer.xcb = m_xcb;
    offer.wayland = !m_waylandGlobals.isEmpty();
    offer.layerOverlay = layerOverlay;
    offer.screencopy = m_waylandGlobals.contains(QStringLiteral("zwlr_screencopy_manager_v1"));
#ifdef KAVRI_LIVE_KWIN
    offer.kwinWindowCast = KWinLiveSource::offeredBy(m_waylandGlobals);
    offer.kwinRefused = KWinLiveSource::refusedBy(m_waylandGlobals);
#endif
    if (offer.wayland) {
        offer.busRoutes = recommendedCaptureRoutes(probeCaptureOffer(),
                                                   MutterScreenCastCapture::builtWithPipeWire());
    }
    return offer;
}

Qt::WindowFlags OverlayPlatform::windowFlags() const
{
    // Input passes through the window and the window never takes the keyboard focus from the
    // presentation.
    Qt::WindowFlags flags = Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint |
                            Qt::WindowTransparentForInput | Qt::WindowDoesNotAcceptFocus;
    // An X11 window manager stacks a focused full-screen window (the presentation) above
    // every "stay on top" window, wraps managed windows in frames that catch clicks, and may
    // hand them the focus. Unmanaged, the overlay stays above and out of the way.
    if (m_xcb)
        flags |= Qt::BypassWindowManagerHint;
    return flags;
}

std::unique_ptr<OverlayWindowSystem> OverlayPlatform::makeWindowSystem() const
{
#ifdef KAVRI_OVERLAY_X11
    if (std::unique_ptr<OverlayWindowSystem> x11 = X11OverlaySystem::open(m_x11))
        return x11;
#endif
    return std::make_unique<CompositedWindowSystem>();
}

std::unique_ptr<LayerOverlay> OverlayPlatform::takeLayerOverlay()
{
    return std::move(m_layer);
}

std::unique_ptr<LiveSource> OverlayPlatform::makeLiveSource() const
{
#ifdef KAVRI_LIVE_KWIN
    if (std::unique_ptr<LiveSource> kwin = KWinLiveSource::open(m_waylandGlobals))
        return kwin;
    // Where KWin withholds it there is no window cast of GNOME's either.
    if (KWinLiveSource::refusedBy(m_waylandGlobals))
        return std::make_unique<NoLiveSource>();
#endif
#ifdef KAVRI_CAPTURE_PIPEWIRE
    // XWayland: the X server sees only X windows. GNOME casts the window beneath; elsewhere
    // the cast is missing and the lens keeps the picture of the key press.
    // (GNOME offers no layer-shell: where it is offered the overlay draws on layer surfaces.)
    if (m_xcb && !m_waylandGlobals.isEmpty() &&
        !m_waylandGlobals.contains(QStringLiteral("zwlr_layer_shell_v1")))
        return std::make_unique<MutterLiveSource>();
#endif
#ifdef KAVRI_CAPTURE_X11LIVE
    if (m_x11)
        return std::make_unique<X11LiveSource>(m_x11);
#endif
    return std::make_unique<NoLiveSource>();
}

std::unique_ptr<ScreenCapture> OverlayPlatform::makeCapture(CaptureRoute route, LayerOverlay *layer)
{
    switch (route) {
    case CaptureRoute::WlrScreencopy:
        return layer ? layer->makeCapture() : nullptr;
    case CaptureRoute::GnomeScreencast:
        return std::make_unique<MutterScreenCastCapture>();
    case CaptureRoute::KWinScreenshot:
        return std::make_unique<KWinScreenShotCapture>();
    case CaptureRoute::Portal:
        return std::make_unique<PortalScreenshotCapture>();
    case CaptureRoute::X11:
        break;
    }
    return nullptr;
}

std::unique_ptr<ScreenCapture> OverlayPlatform::makeCaptureChain(QList<CaptureRoute> *routes,
                                                                 LayerOverlay *layer)
{
    std::vector<std::unique_ptr<ScreenCapture>> built;
    QList<CaptureRoute> used;
    for (const CaptureRoute route : *routes) {
        if (std::unique_ptr<ScreenCapture> capture = makeCapture(route, layer)) {
            built.push_back(std::move(capture));
            used << route;
        }
    }
    *routes = used;
    if (built.empty())
        return nullptr;
    return std::make_unique<CaptureChain>(std::move(built));
}

std::optional<bool> OverlayPlatform::displayAnswers(Display system, const QByteArray &display)
{
    switch (system) {
    case Display::X11:
#ifdef KAVRI_DISPLAY_XCB
        return X11DisplayProbe::answers(display);
#else
        break;
#endif
    case Display::Wayland:
#ifdef KAVRI_DISPLAY_WAYLAND
        return WaylandDisplayProbe::answers();
#else
        break;
#endif
    }
    Q_UNUSED(display)
    return std::nullopt;
}

void OverlayPlatform::releaseDisplayProbes()
{
#ifdef KAVRI_DISPLAY_XCB
    X11DisplayProbe::release();
#endif
}
