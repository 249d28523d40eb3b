#pragma once

#include "overlay/overlaywindowsystem.h"

#include <QElapsedTimer>

#include <memory>

struct _XDisplay;

// The overlay's X11 needs, served through a connection of its own to the X server that Qt
// talks to: whether a compositing manager runs (it owns the selection _NET_WM_CM_S<screen>),
// and the window's bounding shape, which limits the pixels the server shows.
class X11OverlaySystem final : public OverlayWindowSystem
{
public:
    // Null when no X display can be opened or the server lacks the shape extension.
    static std::unique_ptr<X11OverlaySystem> open();
    ~X11OverlaySystem() override;

    X11OverlaySystem(const X11OverlaySystem &) = delete;
    X11OverlaySystem &operator=(const X11OverlaySystem &) = delete;

    bool isCompositing() override;
    void setShownRegion(QWidget *window, const QRegion &region) override;

private:
    explicit X11OverlaySystem(_XDisplay *display);

    _XDisplay *m_display = nullptr;
    unsigned long m_compositorSelection = 0;
    bool m_compositing = false;
    // The answer is asked again at most every few frames: a compositing manager may start or
    // stop while the program runs, but asking on every frame would cost a round trip each.
    QElapsedTimer m_compositorChecked;
};
