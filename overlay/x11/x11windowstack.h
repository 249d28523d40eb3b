#pragma once

#include "overlay/x11/x11livearea.h"

#include <QRect>

#include <functional>
#include <map>
#include <vector>

struct _XDisplay;
union _XEvent;

// The root window's children as the server stacks them, for the live lens: listed bottom to
// top with what reading them needs, and kept up to date from the events of the root's
// substructure, which the lens selects. Maps, unmaps, moves and restacks of known windows are
// taken from the events themselves: under churn the windows beneath change every frame, and a
// round trip per window would stall the program. The rest (windows come, go or restack
// against one not listed) has them listed again. Also the overlay's own windows and the frames
// a window manager put them in, which the lens leaves out.
//
// Not responsible for which of them the lens reads (X11LiveArea::windowsBeneath) nor for
// reading them (X11ImageReader).
class X11WindowStack final
{
public:
    X11WindowStack(_XDisplay *display, unsigned long root);

    // Lists the windows again where an event could not be applied since the last listing, and
    // the overlay's frames where they may have changed. True when it asked anything.
    bool refresh();
    // An event of the root window's substructure: true when it changed the stack (applied at
    // once, or by the next refresh()).
    bool handleEvent(const _XEvent &event);
    // Everything is listed again by the next refresh().
    void invalidate() { m_stale = true; }

    // The overlay's windows (as given to the live lens).
    void setOwn(const std::vector<unsigned long> &own);
    const std::vector<unsigned long> &ownTopLevels() const { return m_ownTopLevels; }

    const std::vector<X11LiveArea::StackedWindow> &windows() const { return m_stack; }
    // The root window's size, asked with the stack.
    QRect rootRect() const { return m_rootRect; }
    // The window's visual (Visual*), null for a window not listed.
    void *visualOf(unsigned long window) const;

private:
    void listWindows();
    // The Visual* of a visual id, asked of Xlib's own list once.
    void *visualFor(unsigned long visualId);
    void resolveOwnTopLevels();
    // Adds the root's child that holds `own` to the top levels, asking upwards from `from`
    // (`own` or one of its ancestors); nothing where `own` is a child of the root itself.
    void resolveTopLevel(unsigned long own, unsigned long from);
    // Applies `change` to a window of the stack known now; false where it is not known (or
    // the stack is to be listed again anyway).
    bool updateKnown(unsigned long window,
                     const std::function<void(X11LiveArea::StackedWindow &)> &change);
    // Puts `window` just above `sibling` (0: at the bottom) in the stack known now, as the
    // server restacked it; false where either is not known (the stack is to be listed again).
    bool restack(unsigned long window, unsigned long sibling);

    _XDisplay *m_display = nullptr;
    unsigned long m_root = 0;
    QRect m_rootRect;
    bool m_stale = true;
    bool m_ownStale = true;           // the overlay's top-level frames are to be asked again
    std::vector<unsigned long> m_own; // as given
    std::vector<unsigned long> m_ownTopLevels; // their ancestors among the root's children

    struct Known
    {
        X11LiveArea::StackedWindow window;
        void *visual = nullptr; // Visual*
    };
    std::map<unsigned long, Known> m_known; // forgotten when the server reports a change
    std::map<unsigned long, void *> m_visuals;
    std::vector<X11LiveArea::StackedWindow> m_stack;
};
