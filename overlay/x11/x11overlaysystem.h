#pragma once

#include "overlay/overlaywindowsystem.h"
#include "overlay/x11/x11connection.h"

#include <memory>
#include <utility>
#include <vector>

// The overlay's X11 needs, served through the overlay's connection (X11Connection) to the X
// server that Qt talks to: whether a compositing manager runs (it owns the selection
// _NET_WM_CM_S<screen>; the XFixes extension reports when that owner changes), the window's
// bounding shape, which limits the pixels the server shows, hiding the pointer (XFixes; the server
// shows it again by itself should the program end without doing so), and keeping the window on top.
//
// An X server that is itself a client of a Wayland compositor (XWayland) cannot pass the
// empty input shape of a mapped window on reliably, and tells its clients where the pointer
// is only while it is over one of their windows. There the overlay's windows are unmapped
// while they draw nothing, and hold the pointer while they draw an effect that follows it.
//
// Pointer motion comes as raw motion events of the XInput 2 extension, selected on the root
// window: the server sends them for every move of a pointing device (XTest's included),
// whichever window is under the pointer, and nothing while the pointer stands still. XWayland
// sends them only while the pointer is over one of its own windows, so there they are not
// used.
class X11OverlaySystem final : public OverlayWindowSystem, private X11EventClient
{
public:
    // Null when the server lacks the shape extension.
    static std::unique_ptr<X11OverlaySystem> open(std::shared_ptr<X11Connection> connection);
    ~X11OverlaySystem() override;

    X11OverlaySystem(const X11OverlaySystem &) = delete;
    X11OverlaySystem &operator=(const X11OverlaySystem &) = delete;

    bool isCompositing() override;
    void setShownRegion(QWidget *window, const QRegion &region) override;
    void sync() override;
    void waitForRedrawBeneath() override;
    void setPointerHidden(bool hidden) override;
    void keepAbove(QWidget *window) override;
    void forgetWindow(QWidget *window) override;
    void setPresence(QWidget *window, Presence presence) override;
    bool knowsPointer() override;
    bool reportsPointerMotion() const override { return m_xinputOpcode != 0; }

private:
    explicit X11OverlaySystem(std::shared_ptr<X11Connection> connection);
    void applyPresence(unsigned long window, Presence presence);
    // Every event the connection read: windows to raise, raw motion.
    void handleEvent(const _XEvent &event) override;
    // After requests that wait for an answer, pointerMoved() is sent from the event loop,
    // not from within the request; after a read of the socket, at once.
    void eventsHandled(bool fromSocket) override;
    void onCompositorChanged(bool running);
    void selectPointerMotion();
    void reportPointerMotion();

    const std::shared_ptr<X11Connection> m_connection;
    _XDisplay *const m_display;
    int m_xinputOpcode = 0; // major opcode of XInput 2, 0 while raw motion is not selected
    // Raw motion read and not yet reported: however many events one read brings, the
    // overlay is told once.
    bool m_pointerMoved = false;
    bool m_motionReportQueued = false;
    // Read since the last batch ended: an application window came up or moved in the stack.
    bool m_raise = false;
    bool m_compositing = false;
    bool m_pointerHidden = false;
    // The overlay's windows, raised when others come up.
    std::vector<unsigned long> m_keptAbove;
    bool isKeptAbove(unsigned long window) const;
    bool m_xwayland = false;
    bool m_pointerKnown = true;
    // Where the server had the pointer when the windows came up to follow it.
    int m_oldPointerX = 0;
    int m_oldPointerY = 0;
    bool queryPointer(int *x, int *y);
    // Counts the times the windows came up to follow the pointer, so that a late fallback
    // timer of an earlier time does nothing.
    int m_pointerSearch = 0;
    void findPointer();
    // What each window was last asked to be (XWayland only).
    std::vector<std::pair<unsigned long, Presence>> m_presence;
    Presence presenceOf(unsigned long window) const;
};
