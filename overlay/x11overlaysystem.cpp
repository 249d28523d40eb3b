#include "overlay/x11overlaysystem.h"

#include <QByteArray>
#include <QRect>
#include <QWidget>

#include <vector>

// Xlib last: its macros (None, Bool, Status, ...) clash with Qt's names.
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/shape.h>

namespace {

constexpr qint64 CompositorRecheckMs = 250;

// Xlib's default error handler ends the process. A request on a window that the X server
// has already destroyed (the overlay is going away) must not take the program down.
int ignoreXError(Display *, XErrorEvent *)
{
    return 0;
}

} // namespace

std::unique_ptr<X11OverlaySystem> X11OverlaySystem::open()
{
    Display *display = XOpenDisplay(nullptr);
    if (!display)
        return nullptr;
    int eventBase = 0;
    int errorBase = 0;
    if (!XShapeQueryExtension(display, &eventBase, &errorBase)) {
        XCloseDisplay(display);
        return nullptr;
    }
    XSetErrorHandler(ignoreXError);
    return std::unique_ptr<X11OverlaySystem>(new X11OverlaySystem(display));
}

X11OverlaySystem::X11OverlaySystem(Display *display) : m_display(display)
{
    const QByteArray name = "_NET_WM_CM_S" + QByteArray::number(DefaultScreen(display));
    m_compositorSelection = XInternAtom(display, name.constData(), False);
}

X11OverlaySystem::~X11OverlaySystem()
{
    XCloseDisplay(m_display);
}

bool X11OverlaySystem::isCompositing()
{
    if (!m_compositorChecked.isValid() || m_compositorChecked.elapsed() >= CompositorRecheckMs) {
        m_compositing = XGetSelectionOwner(m_display, m_compositorSelection) != 0;
        m_compositorChecked.start();
    }
    return m_compositing;
}

void X11OverlaySystem::setShownRegion(QWidget *window, const QRegion &region)
{
    const Window id = static_cast<Window>(window->winId());
    if (region.rectCount() == 1 && region.boundingRect().contains(window->rect())) {
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
}
