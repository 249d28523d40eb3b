#include "overlay/overlaywindowsystem.h"

#ifdef KAVRI_OVERLAY_X11
#include "overlay/x11/x11overlaysystem.h"
#endif

#include <QGuiApplication>
#include <QString>

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

std::unique_ptr<OverlayWindowSystem> OverlayWindowSystem::forCurrentPlatform()
{
#ifdef KAVRI_OVERLAY_X11
    if (QGuiApplication::platformName() == QLatin1String("xcb")) {
        if (std::unique_ptr<OverlayWindowSystem> x11 = X11OverlaySystem::open())
            return x11;
    }
#endif
    return std::make_unique<CompositedWindowSystem>();
}

Qt::WindowFlags OverlayWindowSystem::overlayWindowFlags()
{
    // Input passes through the window and the window never takes the keyboard focus from the
    // presentation.
    Qt::WindowFlags flags = Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint |
                            Qt::WindowTransparentForInput | Qt::WindowDoesNotAcceptFocus;
    // An X11 window manager stacks a focused full-screen window (the presentation) above
    // every "stay on top" window, wraps managed windows in frames that catch clicks, and may
    // hand them the focus. Unmanaged, the overlay stays above and out of the way.
    if (QGuiApplication::platformName() == QLatin1String("xcb"))
        flags |= Qt::BypassWindowManagerHint;
    return flags;
}
