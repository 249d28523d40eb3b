#pragma once

#include "overlay/overlaybackend.h"
#include "overlay/overlaywindowsystem.h"

#include <functional>
#include <memory>
#include <vector>

class OverlaySurface;

// The overlay drawn in Qt's windows (X11, XWayland, offscreen): one OverlaySurface per
// screen, since a window has one pixel ratio and screens may differ. The window on the
// primary screen is handed in (the program's overlay widget); the others it creates, shows
// and keeps. Once shown they stay shown; an effect is off when they paint nothing (under
// XWayland the window system takes them off the screen then: OverlayWindowSystem::Presence).
class WindowBackend final : public OverlayBackend
{
    Q_OBJECT

public:
    WindowBackend(OverlaySurface *primary, const OverlayFrame *frame);
    ~WindowBackend() override;

    void setWindowSystem(std::unique_ptr<OverlayWindowSystem> windowSystem);
    bool isStarted() const { return m_started; }
    std::vector<OverlaySurface *> surfaces() const;
    // The window covering `screen`; null for none.
    OverlaySurface *surfaceOn(QScreen *screen) const;

    void start() override;
    void followScreens(QScreen *leaving = nullptr) override;
    void show(const Shown &shown) override;
    void hide() override;
    void settle(bool redrawBeneath) override;
    bool isCompositing() const override;
    bool knowsPointer() const override;
    bool reportsPointerMotion() const override;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void forget(OverlaySurface *surface);
    void applyPointerShape(FramePlanner::PointerShape shape);
    void applyShownRegions(const Shown &shown);
    void applyPresence(const Shown &shown);
    // Calls `apply` with each created window of a planned screen, its region and presence.
    void forEachCreated(const Shown &shown,
                        const std::function<void(OverlaySurface *, const QRegion &,
                                                 OverlayWindowSystem::Presence)> &apply) const;

    OverlaySurface *m_primary;
    const OverlayFrame *m_frame;
    std::unique_ptr<OverlayWindowSystem> m_windowSystem;
    std::vector<std::unique_ptr<OverlaySurface>> m_others;
    // Windows of new screens, mapped with the next frame.
    std::vector<OverlaySurface *> m_unmapped;
    bool m_started = false;
};
