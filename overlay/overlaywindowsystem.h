#pragma once

#include "overlay/windowpresence.h"

#include <QObject>
#include <QRegion>

class QWidget;

// What the overlay needs from the window system beyond Qt: whether translucent pixels are
// blended with the desktop, and a way to limit the window to the pixels it really draws.
// On X11 without a compositing manager a translucent window is shown opaque (its transparent
// pixels come out black), so the overlay clips its window to what it draws instead.
class OverlayWindowSystem : public QObject
{
    Q_OBJECT

public:
    ~OverlayWindowSystem() override = default;

    // True when translucent pixels of the overlay blend with what lies beneath.
    virtual bool isCompositing() = 0;

    // Limits what the screen shows of `window` to `region` (the window's device pixels); a
    // region covering the whole window lifts the limit, an empty one shows nothing. The change
    // is in effect on the screen when the call returns.
    virtual void setShownRegion(QWidget *window, const QRegion &region) = 0;

    // Returns once the window system has received everything Qt drew or asked for so far.
    // Needed where the overlay must be off the screen before the screen is read, since Qt may
    // hold requests back until the event loop runs again.
    virtual void sync() = 0;

    // Called after the overlay cleared what it displayed and before the screen is captured.
    // An X server without compositing keeps no copy of covered pixels: the uncovered area
    // holds the overlay's old picture until the windows beneath redraw it, and a compositing
    // manager shows the cleared overlay only with its next frame. This gives them that time.
    virtual void waitForRedrawBeneath() = 0;

    // Hides or shows the mouse pointer over the overlay. A window that lets input through
    // does not own the pointer on X11, so the pointer shape set on the widget is not the one
    // the user sees there.
    virtual void setPointerHidden(bool hidden) = 0;

    // Keeps `window` above the other application windows, also above windows mapped after it
    // when no window manager (or one that ignores "stay on top") does so.
    virtual void keepAbove(QWidget *window) = 0;

    // `window` goes away (its screen left): stop looking after it.
    virtual void forgetWindow(QWidget *window) { Q_UNUSED(window) }

    using Presence = WindowPresence;
    // Where mapped windows that let input through are in the way of clicks and learn the
    // pointer position only over their own pixels (an X server that is a client of a Wayland
    // compositor), this unmaps idle windows and gives a window that follows the pointer the
    // pointer. Elsewhere it changes nothing: the windows stay mapped and let input through.
    virtual void setPresence(QWidget *window, Presence presence)
    {
        Q_UNUSED(window)
        Q_UNUSED(presence)
    }

    // False while the pointer position read from the window system may be an old one: under
    // XWayland from the moment the windows come up to follow the pointer until the position
    // the server reports changes (or a short while has passed: the pointer did not move);
    // pointerFound() follows the latter.
    virtual bool knowsPointer() { return true; }

    // True when pointerMoved() is emitted for every move of the pointer, wherever it is (on
    // X11: raw motion events of the XInput extension). The overlay then follows the pointer
    // from those events and spends nothing while the pointer stands still; otherwise it has
    // to sample the pointer position.
    virtual bool reportsPointerMotion() const { return false; }

signals:
    // A compositing manager started or stopped: what the window may show has to be redone.
    void compositingChanged();
    // The pointer position is up to date again (see knowsPointer()).
    void pointerFound();
    // The pointer moved (only where reportsPointerMotion()); read its position as usual.
    void pointerMoved();
};
