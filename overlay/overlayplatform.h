#pragma once

#include "overlay/capture/captureroute.h"

#include <QByteArray>
#include <QList>
#include <QStringList>
#include <Qt>

#include <memory>
#include <optional>

class LayerOverlay;
class LiveSource;
class OverlayWindowSystem;
class ScreenCapture;
class X11Connection;

// What the session offers the overlay, as found at start.
struct SessionOffer
{
    bool wayland = false;          // a Wayland compositor answered on WAYLAND_DISPLAY
    bool xcb = false;              // Qt runs on an X server (XWayland when `wayland` is set)
    bool layerOverlay = false;     // the overlay's own layer-shell connection is up
    bool screencopy = false;       // the compositor offers zwlr_screencopy_manager_v1
    QList<CaptureRoute> busRoutes; // capture routes of the session bus, best first
    bool kwinWindowCast = false;   // KWin offers its window list and screen cast (live lens)
    bool kwinRefused = false;      // KWin withholds both from this program
};

// Which session the overlay runs in, asked once at start (detect()) by whoever builds the
// overlay, and the one place that builds the platform's pieces: the window system, the layer
// overlay, the capture routes and the live picture. Nothing else in the program asks which
// session this is; the choice between what it offers is the caller's.
//
// On an X server it holds the overlay's one X connection, which the window system and the
// live lens share. On a Wayland session it connects once to the compositor: the connection
// becomes the layer overlay's where the compositor offers layer-shell, and goes otherwise.
class OverlayPlatform final
{
public:
    enum class Display { X11, Wayland };
    // Before Qt opens it: whether the X server `display` (empty: the default one), or the
    // Wayland compositor of WAYLAND_DISPLAY, accepts a connection. None where the program was
    // built without that window system's client library: Qt is left to try.
    static std::optional<bool> displayAnswers(Display system, const QByteArray &display);
    // Closes what displayAnswers() kept open, once Qt has its own connection.
    static void releaseDisplayProbes();

    // Reads Qt's platform and the session's environment: WAYLAND_DISPLAY, and
    // KAVRI_OVERLAY_ROUTE=xwayland, which keeps the overlay in X windows on a Wayland session.
    static OverlayPlatform detect();
    // Qt's windows alone, composited, with no live picture and no layer overlay (tests).
    OverlayPlatform();
    OverlayPlatform(OverlayPlatform &&) noexcept;
    OverlayPlatform &operator=(OverlayPlatform &&) noexcept;
    ~OverlayPlatform();

    // What the session offers; `layerOverlay`: whether the overlay draws on layer surfaces.
    // Asks the session bus (see probeCaptureOffer) on a Wayland session.
    SessionOffer offer(bool layerOverlay) const;

    // The window flags of an overlay window: a frameless tool window above the others that
    // takes neither input nor the focus.
    Qt::WindowFlags windowFlags() const;
    // X11 on an X server (built with Xlib), otherwise one that reports compositing and leaves
    // the windows alone, as on platforms that composite every window.
    std::unique_ptr<OverlayWindowSystem> makeWindowSystem() const;
    // The overlay on the compositor's layer surfaces, or null (no layer-shell, X windows
    // asked for, or a build without wayland-client). Handed out once.
    std::unique_ptr<LayerOverlay> takeLayerOverlay();
    // The live picture for the lens (X11 under a compositing manager), or one that has none.
    std::unique_ptr<LiveSource> makeLiveSource() const;
    // The route `route`, or null where it cannot be built here. `layer`: the layer overlay,
    // whose connection screencopy uses.
    static std::unique_ptr<ScreenCapture> makeCapture(CaptureRoute route, LayerOverlay *layer);
    // The routes of `routes` that can be built, tried in that order (CaptureChain); null
    // where none can. `routes` keeps those built.
    static std::unique_ptr<ScreenCapture> makeCaptureChain(QList<CaptureRoute> *routes,
                                                           LayerOverlay *layer);
    // The interface names of the globals the Wayland compositor offers; empty without one.
    QStringList waylandGlobals() const { return m_waylandGlobals; }

private:
    bool m_xcb = false;
    QStringList m_waylandGlobals;
    std::shared_ptr<X11Connection> m_x11;
    std::unique_ptr<LayerOverlay> m_layer;
};
