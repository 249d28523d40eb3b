#include "overlay/x11/x11overlaysystem.h"

#include <QByteArray>
#include <QCursor>
#include <QGuiApplication>
#include <QRect>
#include <QScreen>
#include <QThread>
#include <QTimer>
#include <QWidget>

#include <algorithm>
#include <vector>

// Xlib last: its macros (None, Bool, Status, ...) clash with Qt's names.
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/Xfixes.h>
#include <X11/extensions/shape.h>
#ifdef KAVRI_OVERLAY_XINPUT2
#include <X11/extensions/XInput2.h>
#endif

namespace {

// A few frames of a 60 Hz display: long enough for the windows beneath to answer their
// expose events and for a compositing manager to draw its next frame.
constexpr unsigned long RedrawBeneathMs = 60;

// How long the windows that came up to follow the pointer wait for the server's pointer
// position to change before they trust it (the pointer may not have moved since the server
// last knew it). Under mutter 43 the server learnt the new position 40 to 110 ms after mapping.
constexpr int PointerSearchMs = 200;

} // namespace

std::unique_ptr<X11OverlaySystem> X11OverlaySystem::open(std::shared_ptr<X11Connection> connection)
{
    int shapeEventBase = 0;
    int errorBase = 0;
    if (!connection || !XShapeQueryExtension(connection->display(), &shapeEventBase, &errorBase))
        return nullptr;
    return std::unique_ptr<X11OverlaySystem>(new X11OverlaySystem(std::move(connection)));
}

X11OverlaySystem::X11OverlaySystem(std::shared_ptr<X11Connection> connection)
    : m_connection(std::move(connection)), m_display(m_connection->display()),
      m_xwayland(m_connection->isXWayland())
{
    m_connection->addClient(this);
    connect(m_connection.get(), &X11Connection::compositorChanged, this,
            &X11OverlaySystem::onCompositorChanged);
    if (!m_xwayland)
        selectPointerMotion();
    m_compositing = m_connection->isCompositing();
    m_connection->handleEvents();
}

void X11OverlaySystem::selectPointerMotion()
{
#ifdef KAVRI_OVERLAY_XINPUT2
    int opcode = 0;
    int eventBase = 0;
    int errorBase = 0;
    if (!XQueryExtension(m_display, "XInputExtension", &opcode, &eventBase, &errorBase))
        return;
    // Raw events are XInput 2.0; a client that announces 2.1 or later also gets them while
    // another client has grabbed the pointer (a drag, an open menu).
    int major = 2;
    int minor = 2;
    if (XIQueryVersion(m_display, &major, &minor) != Success || major < 2)
        return;
    unsigned char bits[XIMaskLen(XI_LASTEVENT)] = {};
    XISetMask(bits, XI_RawMotion);
    XIEventMask mask;
    mask.deviceid = XIAllMasterDevices;
    mask.mask_len = sizeof bits;
    mask.mask = bits;
    if (XISelectEvents(m_display, DefaultRootWindow(m_display), &mask, 1) != Success)
        return;
    m_xinputOpcode = opcode;
#endif
}

X11OverlaySystem::~X11OverlaySystem()
{
    m_connection->removeClient(this);
}

bool X11OverlaySystem::isCompositing()
{
    return m_compositing;
}

void X11OverlaySystem::setShownRegion(QWidget *window, const QRegion &region)
{
    // effectiveWinId(), not winId(): asking for the id must not make the widget native.
    const Window id = static_cast<Window>(window->effectiveWinId());
    if (id == 0)
        return;
    const QRect deviceRect(QPoint(0, 0), window->size() * window->devicePixelRatioF());
    if (region.rectCount() == 1 && region.boundingRect().contains(deviceRect)) {
        XShapeCombineMask(m_display, id, ShapeBounding, 0, 0, 0, ShapeSet);
    } else {
        std::vector<XRectangle> rects;
        rects.reserve(static_cast<size_t>(region.rectCount()));
        for (const QRect &r : region) {
            rects.push_back({static_cast<short>(r.x()), static_cast<short>(r.y()),
                             static_cast<unsigned short>(r.width()),
                             static_cast<unsigned short>(r.height())});
        }
        XShapeCombineRectangles(m_display, id, ShapeBounding, 0, 0, rects.data(),
                                static_cast<int>(rects.size()), ShapeSet, Unsorted);
    }
    // Wait until the server has applied the shape, so that pixels Qt sends next land in it.
    XSync(m_display, False);
    m_connection->handleEvents();
}

void X11OverlaySystem::sync()
{
    // Qt buffers its X requests until the event loop runs. Qt offers no public call to push
    // them out, but any request that waits for the server's answer does, and the answer comes
    // only after the server has handled everything sent before. Asking where the pointer is
    // is the cheapest such request.
    QCursor::pos();
}

void X11OverlaySystem::waitForRedrawBeneath()
{
    QThread::msleep(RedrawBeneathMs);
}

void X11OverlaySystem::setPointerHidden(bool hidden)
{
    // The server counts hide requests per client: keep them balanced.
    if (hidden == m_pointerHidden)
        return;
    if (hidden)
        XFixesHideCursor(m_display, DefaultRootWindow(m_display));
    else
        XFixesShowCursor(m_display, DefaultRootWindow(m_display));
    XFlush(m_display);
    m_pointerHidden = hidden;
}

void X11OverlaySystem::keepAbove(QWidget *window)
{
    const Window id = static_cast<Window>(window->effectiveWinId());
    if (id == 0 || isKeptAbove(id))
        return;
    m_keptAbove.push_back(id);
    // Told of every window that is mapped or restacked at the top level. Qt maps the window
    // through a connection of its own, and the server orders nothing between two clients'
    // requests: until the server has taken this selection, a map sent by Qt could pass
    // unseen, and an idle window would stay on the screen, holding the pointer on XWayland.
    // So the selection is in effect before this returns, and before Qt is asked to map.
    m_connection->selectRootInput(this, SubstructureNotifyMask);
    XSync(m_display, False);
    m_connection->handleEvents();
}

void X11OverlaySystem::forgetWindow(QWidget *window)
{
    const Window id = static_cast<Window>(window->effectiveWinId());
    m_keptAbove.erase(std::remove(m_keptAbove.begin(), m_keptAbove.end(), id), m_keptAbove.end());
    m_presence.erase(std::remove_if(m_presence.begin(), m_presence.end(),
                                    [id](const auto &entry) { return entry.first == id; }),
                     m_presence.end());
}

void X11OverlaySystem::setPresence(QWidget *window, Presence presence)
{
    // A plain X server honours the empty input shape: the windows stay as they are.
    if (!m_xwayland)
        return;
    const Window id = static_cast<Window>(window->effectiveWinId());
    if (id == 0)
        return;
    const auto known = std::find_if(m_presence.begin(), m_presence.end(),
                                    [id](const auto &entry) { return entry.first == id; });
    if (known != m_presence.end()) {
        if (known->second == presence)
            return;
        known->second = presence;
    } else {
        m_presence.emplace_back(id, presence);
    }
    applyPresence(id, presence);
    // In effect when this returns, like the shown region: a capture that follows sees the
    // desktop, and the pixels Qt sends next land in a mapped window.
    XSync(m_display, False);
    m_connection->handleEvents();
}

void X11OverlaySystem::applyPresence(unsigned long window, Presence presence)
{
    if (presence == Presence::Idle) {
        XUnmapWindow(m_display, window);
        return;
    }
    // The input shape first, so the window never comes up in the way of clicks it should pass.
    if (presence == Presence::FollowingPointer) {
        XShapeCombineMask(m_display, window, ShapeInput, 0, 0, 0, ShapeSet);
        findPointer();
    } else {
        XShapeCombineRectangles(m_display, window, ShapeInput, 0, 0, nullptr, 0, ShapeSet,
                                Unsorted);
    }
    // Override-redirect: mapping it gives it neither the focus nor a window manager's frame.
    XMapRaised(m_display, window);
}

void X11OverlaySystem::findPointer()
{
    // While the windows were unmapped the server did not follow the pointer over the
    // compositor's own windows: the position it has is where the pointer last left one of
    // its windows, until the compositor tells it the pointer entered one of the overlay's.
    if (!m_pointerKnown || !queryPointer(&m_oldPointerX, &m_oldPointerY))
        return;
    m_pointerKnown = false;
    const int search = ++m_pointerSearch;
    QTimer::singleShot(PointerSearchMs, this, [this, search] {
        if (search != m_pointerSearch || m_pointerKnown)
            return;
        m_pointerKnown = true;
        emit pointerFound();
    });
}

bool X11OverlaySystem::knowsPointer()
{
    if (m_pointerKnown)
        return true;
    int x = 0;
    int y = 0;
    if (!queryPointer(&x, &y) || x != m_oldPointerX || y != m_oldPointerY) {
        m_pointerKnown = true;
        ++m_pointerSearch;
    }
    return m_pointerKnown;
}

bool X11OverlaySystem::queryPointer(int *x, int *y)
{
    Window root = 0;
    Window child = 0;
    int windowX = 0;
    int windowY = 0;
    unsigned int buttons = 0;
    return XQueryPointer(m_display, DefaultRootWindow(m_display), &root, &child, x, y, &windowX,
                         &windowY, &buttons);
}

X11OverlaySystem::Presence X11OverlaySystem::presenceOf(unsigned long window) const
{
    const auto known = std::find_if(m_presence.begin(), m_presence.end(),
                                    [window](const auto &entry) { return entry.first == window; });
    return known != m_presence.end() ? known->second : Presence::Shown;
}

bool X11OverlaySystem::isKeptAbove(unsigned long window) const
{
    return std::find(m_keptAbove.begin(), m_keptAbove.end(), window) != m_keptAbove.end();
}

void X11OverlaySystem::reportPointerMotion()
{
    if (!m_pointerMoved)
        return;
    m_pointerMoved = false;
    emit pointerMoved();
}

void X11OverlaySystem::onCompositorChanged(bool running)
{
    if (running == m_compositing)
        return;
    m_compositing = running;
    emit compositingChanged();
}

void X11OverlaySystem::handleEvent(const XEvent &event)
{
    // An application window came up or moved in the stack: go back on top. Windows that
    // bypass the window manager (menus, tooltips, screen lockers) are left above.
    if (event.type == MapNotify) {
        // Qt maps its windows when they are shown; an idle one goes again at once.
        if (m_xwayland && isKeptAbove(event.xmap.window) &&
            presenceOf(event.xmap.window) == Presence::Idle) {
            XUnmapWindow(m_display, event.xmap.window);
            XFlush(m_display);
        }
        m_raise = m_raise || (!isKeptAbove(event.xmap.window) && !event.xmap.override_redirect);
    } else if (event.type == ConfigureNotify) {
        m_raise = m_raise ||
                  (!isKeptAbove(event.xconfigure.window) && !event.xconfigure.override_redirect);
    } else if (event.type == CirculateNotify) {
        m_raise = m_raise || !isKeptAbove(event.xcirculate.window);
    } else if (event.type == GenericEvent && event.xcookie.extension == m_xinputOpcode &&
               m_xinputOpcode != 0) {
        // Only that it moved matters: the event's data is left unread (Xlib drops it).
        m_pointerMoved = true;
    }
}

void X11OverlaySystem::eventsHandled(bool fromSocket)
{
    if (fromSocket) {
        reportPointerMotion();
    } else if (m_pointerMoved && !m_motionReportQueued) {
        // Read while a request waited for its answer: the overlay may be amid a frame, so it
        // is told from the event loop.
        m_motionReportQueued = true;
        QMetaObject::invokeMethod(
            this,
            [this] {
                m_motionReportQueued = false;
                reportPointerMotion();
            },
            Qt::QueuedConnection);
    }
    if (m_raise && !m_keptAbove.empty()) {
        for (const Window id : m_keptAbove)
            XRaiseWindow(m_display, id);
        XFlush(m_display);
    }
    m_raise = false;
}
