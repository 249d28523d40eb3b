#include "overlay/capture/x11livelens.h"

#include "overlay/x11overlaysystem.h"

#include <QPainter>

#include <algorithm>
#include <cstdint>
#include <iterator>
#include <cstring>
#include <sys/ipc.h>
#include <sys/shm.h>

// Xlib last: its macros (None, Bool, Status, ...) clash with Qt's names.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XShm.h>
#include <X11/extensions/Xdamage.h>
#include <X11/extensions/Xfixes.h>

namespace {

// One frame of a 60 Hz display: changes beneath closer together than this share a picture.
constexpr int FrameMs = 16;

// Windows vanish between the moment they are listed and the moment they are read; the
// requests on them fail then, and Xlib's default handler would end the process.
int ignoreXError(Display *, XErrorEvent *)
{
    return 0;
}

// Set by trapXError while a request whose failure matters is checked (attaching shared memory).
bool trappedXError = false;
int trapXError(Display *, XErrorEvent *)
{
    trappedXError = true;
    return 0;
}

// Only 32 bits per pixel in the machine's byte order, red-green-blue from the top byte down,
// which is what 24- and 32-bit TrueColor windows are on every X server in use.
bool readable(const XImage *image)
{
    const int hostOrder = Q_BYTE_ORDER == Q_LITTLE_ENDIAN ? LSBFirst : MSBFirst;
    return image->bits_per_pixel == 32 && image->byte_order == hostOrder &&
           image->red_mask == 0xff0000 && image->green_mask == 0xff00 && image->blue_mask == 0xff;
}

// Puts a window's pixels into the picture at `at`: opaque ones as they are, those of a window
// with an alpha channel (premultiplied, as compositors take them) over what is there.
void paintImage(QImage &picture, const XImage *image, QPoint at, bool blend)
{
    for (int y = 0; y < image->height; ++y) {
        const auto *src =
            reinterpret_cast<const uint32_t *>(image->data + y * image->bytes_per_line);
        auto *dst = reinterpret_cast<uint32_t *>(picture.scanLine(at.y() + y)) + at.x();
        if (!blend) {
            for (int x = 0; x < image->width; ++x)
                dst[x] = src[x] | 0xff000000u;
            continue;
        }
        for (int x = 0; x < image->width; ++x) {
            const uint32_t s = src[x];
            const uint32_t a = s >> 24;
            if (a == 0xff) {
                dst[x] = s;
            } else if (a != 0) {
                const uint32_t d = dst[x];
                uint32_t out = 0xff000000u;
                for (int shift = 0; shift < 24; shift += 8) {
                    const uint32_t sc = (s >> shift) & 0xff;
                    const uint32_t dc = (d >> shift) & 0xff;
                    out |= std::min<uint32_t>(255, sc + (dc * (255 - a) + 127) / 255) << shift;
                }
                dst[x] = out;
            }
        }
    }
}

} // namespace

std::unique_ptr<X11LiveLens> X11LiveLens::open(const QByteArray &displayName)
{
    Display *display = XOpenDisplay(displayName.isEmpty() ? nullptr : displayName.constData());
    if (!display)
        return nullptr;
    int damageEventBase = 0;
    int fixesEventBase = 0;
    int errorBase = 0;
    int major = 0;
    int minor = 0;
    const int screen = DefaultScreen(display);
    const Visual *visual = DefaultVisual(display, screen);
    // XFixes (version 2) tells when the compositing manager's selection changes hands.
    if (!XDamageQueryExtension(display, &damageEventBase, &errorBase) ||
        !XDamageQueryVersion(display, &major, &minor) ||
        !XFixesQueryExtension(display, &fixesEventBase, &errorBase) ||
        !XFixesQueryVersion(display, &major, &minor) || major < 2 ||
        DefaultDepth(display, screen) < 24 || visual->red_mask != 0xff0000 ||
        visual->green_mask != 0xff00 || visual->blue_mask != 0xff ||
        X11OverlaySystem::serverIsXWayland(display)) {
        XCloseDisplay(display);
        return nullptr;
    }
    XSetErrorHandler(ignoreXError);
    const bool shm = XShmQueryExtension(display);
    return std::unique_ptr<X11LiveLens>(
        new X11LiveLens(display, damageEventBase, fixesEventBase, shm));
}

X11LiveLens::X11LiveLens(Display *display, int damageEventBase, int fixesEventBase, bool shm)
    : m_display(display), m_damageEventBase(damageEventBase), m_fixesEventBase(fixesEventBase),
      m_root(DefaultRootWindow(display)), m_shmOffered(shm)
{
    const QByteArray name = "_NET_WM_CM_S" + QByteArray::number(DefaultScreen(display));
    m_compositorSelection = XInternAtom(display, name.constData(), False);
    m_rootPixmapAtom = XInternAtom(display, "_XROOTPMAP_ID", False);
    m_frameTimer.setSingleShot(true);
    m_frameTimer.setTimerType(Qt::PreciseTimer);
    connect(&m_frameTimer, &QTimer::timeout, this, &X11LiveLens::frame);
    m_events = std::make_unique<QSocketNotifier>(ConnectionNumber(display), QSocketNotifier::Read);
    connect(m_events.get(), &QSocketNotifier::activated, this, &X11LiveLens::handleEvents);
}

X11LiveLens::~X11LiveLens()
{
    stop();
    m_events.reset();
    XCloseDisplay(m_display);
}

bool X11LiveLens::isLive()
{
    const bool owned = XGetSelectionOwner(m_display, m_compositorSelection) != 0;
    handleEvents();
    return owned;
}

bool X11LiveLens::start(const QRect &area, const std::vector<unsigned long> &ownWindows)
{
    if (m_running)
        stop();
    if (!isLive())
        return false;
    m_running = true;
    m_area = area;
    m_own = ownWindows;
    // Told when windows come, go, move or restack, when the screen is resized, when the
    // desktop's background changes and when the compositing manager goes.
    XSelectInput(m_display, m_root,
                 StructureNotifyMask | SubstructureNotifyMask | PropertyChangeMask);
    XFixesSelectSelectionInput(m_display, m_root, m_compositorSelection,
                               XFixesSetSelectionOwnerNotifyMask |
                                   XFixesSelectionWindowDestroyNotifyMask |
                                   XFixesSelectionClientCloseNotifyMask);
    m_stackStale = true;
    m_ownStale = true;
    m_recompose = true;
    frame();
    return m_running;
}

void X11LiveLens::setArea(const QRect &area)
{
    if (area == m_area)
        return;
    m_area = area;
    if (!m_running)
        return;
    m_pickStale = true;
    m_recompose = true;
    m_frameTimer.stop();
    frame();
}

void X11LiveLens::stop()
{
    if (!m_running)
        return;
    m_running = false;
    m_frameTimer.stop();
    XSelectInput(m_display, m_root, NoEventMask);
    XFixesSelectSelectionInput(m_display, m_root, m_compositorSelection, 0);
    clearDamage();
    releaseSharedMemory();
    m_known.clear();
    m_stack.clear();
    m_pick = X11LiveArea::Pick();
    m_damagedWithin = false;
    m_rootPixmapKnown = false;
    // Whatever the server sent before it took the deselection is read and dropped.
    XSync(m_display, False);
    handleEvents();
}

std::optional<QPoint> X11LiveLens::rootPosition(unsigned long window)
{
    int x = 0;
    int y = 0;
    ::Window child = 0;
    if (!XTranslateCoordinates(m_display, window, m_root, 0, 0, &x, &y, &child))
        return std::nullopt;
    return QPoint(x, y);
}

void X11LiveLens::handleEvents()
{
    // Also called after requests that wait for an answer: Xlib may have read events into its
    // queue then, and the socket would not report them again.
    bool compositorGone = false;
    while (XPending(m_display) > 0) {
        XEvent event;
        XNextEvent(m_display, &event);
        if (!m_running)
            continue;
        // Maps, unmaps and moves of known windows are taken from the events themselves: under
        // churn the windows beneath change every frame, and a round trip per window would
        // stall the program. The rest (windows come, go or restack) asks for the list again.
        unsigned long changedWindow = 0;
        switch (event.type) {
        case MapNotify:
            if (!updateKnown(event.xmap.window,
                             [](X11LiveArea::StackedWindow &w) { w.viewable = true; }))
                changedWindow = event.xmap.window;
            break;
        case UnmapNotify:
            if (!updateKnown(event.xunmap.window,
                             [](X11LiveArea::StackedWindow &w) { w.viewable = false; }))
                changedWindow = event.xunmap.window;
            break;
        case ConfigureNotify: {
            const XConfigureEvent &c = event.xconfigure;
            const QRect geometry(c.x + c.border_width, c.y + c.border_width, c.width, c.height);
            if (c.window == m_root || !restack(c.window, c.above) ||
                !updateKnown(c.window, [&](X11LiveArea::StackedWindow &w) { w.geometry = geometry; }))
                changedWindow = c.window;
            break;
        }
        case CirculateNotify:
            changedWindow = event.xcirculate.window;
            break;
        case GravityNotify:
            changedWindow = event.xgravity.window;
            break;
        case CreateNotify:
            changedWindow = event.xcreatewindow.window;
            break;
        case DestroyNotify:
            changedWindow = event.xdestroywindow.window;
            break;
        case ReparentNotify:
            // A window manager framing the overlay's windows: their top-level frames change.
            changedWindow = event.xreparent.window;
            m_ownStale = true;
            break;
        case PropertyNotify:
            if (event.xproperty.atom == m_rootPixmapAtom) {
                m_rootPixmapKnown = false;
                if (m_pick.background) {
                    m_recompose = true;
                    scheduleFrame();
                }
            }
            break;
        default:
            if (event.type == m_damageEventBase + XDamageNotify) {
                // Each drawing reports its own rectangle: whether it touched the area needs
                // no question to the server.
                const auto *notify = reinterpret_cast<const XDamageNotifyEvent *>(&event);
                const auto picked =
                    std::find_if(m_pick.windows.begin(), m_pick.windows.end(),
                                 [&](const auto &w) { return w.id == notify->drawable; });
                if (picked != m_pick.windows.end() &&
                    QRect(picked->geometry.x() + notify->area.x,
                          picked->geometry.y() + notify->area.y, notify->area.width,
                          notify->area.height)
                        .intersects(m_area)) {
                    m_damagedWithin = true;
                    scheduleFrame();
                }
            } else if (event.type == m_fixesEventBase + XFixesSelectionNotify) {
                const auto *notify = reinterpret_cast<const XFixesSelectionNotifyEvent *>(&event);
                const bool owned =
                    notify->subtype == XFixesSetSelectionOwnerNotify && notify->owner != 0;
                // A new compositing manager that replaces the old one redirects the windows
                // again: they are listed afresh.
                compositorGone = compositorGone || !owned;
                m_stackStale = true;
                scheduleFrame();
            }
            break;
        }
        if (changedWindow != 0) {
            m_known.erase(changedWindow);
            m_stackStale = true;
            scheduleFrame();
        }
    }
    if (compositorGone && m_running) {
        stop();
        emit liveChanged();
    }
}

void X11LiveLens::scheduleFrame()
{
    if (!m_running || m_frameTimer.isActive())
        return;
    const qint64 since = m_sinceFrame.isValid() ? m_sinceFrame.elapsed() : FrameMs;
    m_frameTimer.start(static_cast<int>(std::max<qint64>(0, FrameMs - since)));
}

void X11LiveLens::frame()
{
    if (!m_running)
        return;
    m_sinceFrame.start();
    bool compose = m_recompose || m_picture.isNull();
    if (m_stackStale) {
        refreshStack();
        m_pickStale = true;
    }
    if (m_ownStale) {
        resolveOwnTopLevels();
        m_pickStale = true;
    }
    if (m_pickStale) {
        const X11LiveArea::Pick before = m_pick;
        pickWindows();
        const auto same = [](const X11LiveArea::StackedWindow &a,
                             const X11LiveArea::StackedWindow &b) {
            return a.id == b.id && a.geometry == b.geometry && a.depth == b.depth;
        };
        compose = compose || before.background != m_pick.background ||
                  !std::equal(before.windows.begin(), before.windows.end(), m_pick.windows.begin(),
                              m_pick.windows.end(), same);
    }
    compose = compose || m_damagedWithin;
    m_damagedWithin = false;
    m_recompose = false;
    if (compose) {
        const QImage before = m_picture;
        composePicture();
        // A window that drew the same pixels again (a caret's blink, a paused video's
        // repaint) changes nothing in the lens.
        if (m_picture != before || m_picture.offset() != before.offset())
            emit changed();
    }
    handleEvents();
}

void X11LiveLens::refreshStack()
{
    m_stackStale = false;
    Window root = 0;
    Window parent = 0;
    Window *children = nullptr;
    unsigned int count = 0;
    m_stack.clear();
    if (!XQueryTree(m_display, m_root, &root, &parent, &children, &count))
        return;
    // Windows reach beyond the root's edges; only what lies on it can be read.
    int x = 0;
    int y = 0;
    unsigned int width = 0;
    unsigned int height = 0;
    unsigned int border = 0;
    unsigned int depth = 0;
    if (XGetGeometry(m_display, m_root, &root, &x, &y, &width, &height, &border, &depth))
        m_rootRect = QRect(0, 0, static_cast<int>(width), static_cast<int>(height));
    std::map<unsigned long, Known> known;
    for (unsigned int i = 0; i < count; ++i) {
        const Window id = children[i];
        auto it = m_known.find(id);
        if (it == m_known.end()) {
            XWindowAttributes attributes;
            if (!XGetWindowAttributes(m_display, id, &attributes))
                continue; // gone since it was listed
            Known entry;
            entry.window.id = id;
            entry.window.inputOutput = attributes.c_class == InputOutput;
            entry.window.viewable = attributes.map_state == IsViewable;
            entry.window.geometry =
                QRect(attributes.x + attributes.border_width,
                      attributes.y + attributes.border_width, attributes.width, attributes.height);
            entry.window.depth = attributes.depth;
            entry.visual = attributes.visual;
            it = m_known.emplace(id, entry).first;
        }
        known.emplace(id, it->second);
        m_stack.push_back(it->second.window);
    }
    if (children)
        XFree(children);
    m_known.swap(known);
}

void X11LiveLens::resolveOwnTopLevels()
{
    // A window manager puts managed windows into frames of its own: the frame is what the
    // root's list holds, and what shows the overlay.
    m_ownStale = false;
    m_ownTopLevels = m_own;
    for (const unsigned long own : m_own) {
        Window window = own;
        for (int depth = 0; depth < 16; ++depth) {
            Window root = 0;
            Window parent = 0;
            Window *children = nullptr;
            unsigned int count = 0;
            if (!XQueryTree(m_display, window, &root, &parent, &children, &count))
                break;
            if (children)
                XFree(children);
            if (parent == 0 || parent == root) {
                if (window != own)
                    m_ownTopLevels.push_back(window);
                break;
            }
            window = parent;
        }
    }
}

bool X11LiveLens::updateKnown(unsigned long window,
                              const std::function<void(X11LiveArea::StackedWindow &)> &change)
{
    const auto known = m_known.find(window);
    const auto stacked = std::find_if(m_stack.begin(), m_stack.end(),
                                      [window](const auto &w) { return w.id == window; });
    if (m_stackStale || known == m_known.end() || stacked == m_stack.end())
        return false;
    change(known->second.window);
    *stacked = known->second.window;
    m_pickStale = true;
    scheduleFrame();
    return true;
}

bool X11LiveLens::restack(unsigned long window, unsigned long sibling)
{
    const auto byId = [](unsigned long id) {
        return [id](const X11LiveArea::StackedWindow &w) { return w.id == id; };
    };
    auto stacked = std::find_if(m_stack.begin(), m_stack.end(), byId(window));
    if (m_stackStale || stacked == m_stack.end())
        return false;
    // The bottom window has no sibling beneath it.
    if (stacked == m_stack.begin() ? sibling == 0 : std::prev(stacked)->id == sibling)
        return true;
    const X11LiveArea::StackedWindow moved = *stacked;
    m_stack.erase(stacked);
    auto beneath = sibling == 0 ? m_stack.begin()
                                : std::find_if(m_stack.begin(), m_stack.end(), byId(sibling));
    if (beneath == m_stack.end())
        return false; // a sibling this list does not hold: listed again
    m_stack.insert(sibling == 0 ? beneath : std::next(beneath), moved);
    m_pickStale = true;
    scheduleFrame();
    return true;
}

void X11LiveLens::pickWindows()
{
    m_pickStale = false;
    m_pick = X11LiveArea::windowsBeneath(m_stack, m_ownTopLevels, m_area);
    // Damage objects for the windows that make the picture, and no others.
    for (auto it = m_damage.begin(); it != m_damage.end();) {
        const bool picked = std::any_of(m_pick.windows.begin(), m_pick.windows.end(),
                                        [&](const auto &w) { return w.id == it->first; });
        if (picked) {
            ++it;
        } else {
            XDamageDestroy(m_display, it->second);
            it = m_damage.erase(it);
        }
    }
    for (const X11LiveArea::StackedWindow &window : m_pick.windows) {
        if (m_damage.count(window.id) == 0)
            m_damage.emplace(window.id,
                             XDamageCreate(m_display, window.id, XDamageReportRawRectangles));
    }
}

void X11LiveLens::composePicture()
{
    QImage picture(m_area.size().expandedTo(QSize(0, 0)), QImage::Format_RGB32);
    if (!picture.isNull()) {
        picture.fill(Qt::black);
        ensureSharedMemory(m_area.width() * m_area.height() * 4);
        if (m_pick.background)
            readBackground(picture);
        for (const X11LiveArea::StackedWindow &window : m_pick.windows)
            readInto(picture, window);
    }
    picture.setOffset(m_area.topLeft());
    m_picture = picture;
}

void X11LiveLens::readInto(QImage &picture, const X11LiveArea::StackedWindow &window)
{
    const QRect part = window.geometry.intersected(m_area).intersected(m_rootRect);
    const auto known = m_known.find(window.id);
    if (part.isEmpty() || known == m_known.end())
        return;
    const QPoint inWindow = part.topLeft() - window.geometry.topLeft();
    const QPoint inPicture = part.topLeft() - m_area.topLeft();
    const bool blend = window.depth == 32;
    auto *visual = static_cast<Visual *>(known->second.visual);
    if (m_shmInfo) {
        auto *info = static_cast<XShmSegmentInfo *>(m_shmInfo);
        XImage *image = XShmCreateImage(
            m_display, visual, static_cast<unsigned int>(window.depth), ZPixmap, nullptr, info,
            static_cast<unsigned int>(part.width()), static_cast<unsigned int>(part.height()));
        if (!image)
            return;
        image->data = info->shmaddr;
        if (image->bytes_per_line * image->height <= m_shmBytes &&
            XShmGetImage(m_display, window.id, image, inWindow.x(), inWindow.y(), AllPlanes) &&
            readable(image))
            paintImage(picture, image, inPicture, blend);
        image->data = nullptr; // the segment is not XImage's to free
        XDestroyImage(image);
        return;
    }
    // Fails (null) when the window went or shrank since it was listed.
    XImage *image = XGetImage(m_display, window.id, inWindow.x(), inWindow.y(),
                              static_cast<unsigned int>(part.width()),
                              static_cast<unsigned int>(part.height()), AllPlanes, ZPixmap);
    if (!image)
        return;
    if (readable(image))
        paintImage(picture, image, inPicture, blend);
    XDestroyImage(image);
}

void X11LiveLens::setBackdrop(const QPixmap &picture, QPoint origin)
{
    m_backdrop = picture;
    m_backdropOrigin = origin;
    if (m_running && m_pick.background) {
        m_recompose = true;
        scheduleFrame();
    }
}

void X11LiveLens::readBackground(QImage &picture)
{
    if (readRootPixmap(picture) || m_backdrop.isNull())
        return;
    const QRect part = QRect(m_backdropOrigin, m_backdrop.size()).intersected(m_area);
    if (part.isEmpty())
        return;
    // Pixel for pixel: the piece's own ratio would shrink it on the picture.
    QPixmap piece = m_backdrop.copy(part.translated(-m_backdropOrigin));
    piece.setDevicePixelRatio(1.0);
    QPainter painter(&picture);
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    painter.drawPixmap(part.topLeft() - m_area.topLeft(), piece);
}

bool X11LiveLens::readRootPixmap(QImage &picture)
{
    // Asked once while the lens runs, and again when the desktop publishes another.
    if (!m_rootPixmapKnown) {
        m_rootPixmapKnown = true;
        m_rootPixmap = findRootPixmap(&m_rootPixmapSize);
    }
    const QRect part = QRect(QPoint(0, 0), m_rootPixmapSize).intersected(m_area);
    if (m_rootPixmap == 0)
        return false;
    if (part.isEmpty())
        return true;
    XImage *image = XGetImage(m_display, m_rootPixmap, part.x(), part.y(),
                              static_cast<unsigned int>(part.width()),
                              static_cast<unsigned int>(part.height()), AllPlanes, ZPixmap);
    if (!image) {
        m_rootPixmapKnown = false; // freed since: asked again next time
        return false;
    }
    if (readable(image))
        paintImage(picture, image, part.topLeft() - m_area.topLeft(), false);
    XDestroyImage(image);
    return true;
}

unsigned long X11LiveLens::findRootPixmap(QSize *size)
{
    Atom type = 0;
    int format = 0;
    unsigned long count = 0;
    unsigned long after = 0;
    unsigned char *data = nullptr;
    if (XGetWindowProperty(m_display, m_root, m_rootPixmapAtom, 0, 1, False, XA_PIXMAP, &type,
                           &format, &count, &after, &data) != Success ||
        !data)
        return 0;
    const Pixmap pixmap = count == 1 && format == 32 ? *reinterpret_cast<Pixmap *>(data) : 0;
    XFree(data);
    Window root = 0;
    int x = 0;
    int y = 0;
    unsigned int width = 0;
    unsigned int height = 0;
    unsigned int border = 0;
    unsigned int depth = 0;
    if (pixmap == 0 ||
        !XGetGeometry(m_display, pixmap, &root, &x, &y, &width, &height, &border, &depth))
        return 0;
    *size = QSize(static_cast<int>(width), static_cast<int>(height));
    return pixmap;
}

bool X11LiveLens::ensureSharedMemory(int bytes)
{
    if (!m_shmOffered || !m_shmAllowed || bytes <= 0)
        return false;
    if (m_shmInfo && bytes <= m_shmBytes)
        return true;
    releaseSharedMemory();
    const int id = shmget(IPC_PRIVATE, static_cast<size_t>(bytes), IPC_CREAT | 0600);
    if (id < 0)
        return false;
    void *address = shmat(id, nullptr, 0);
    if (address == reinterpret_cast<void *>(-1)) {
        shmctl(id, IPC_RMID, nullptr);
        return false;
    }
    auto *info = new XShmSegmentInfo{};
    info->shmid = id;
    info->shmaddr = static_cast<char *>(address);
    info->readOnly = False;
    // A server on another machine, or one that may not attach this user's memory, refuses:
    // then the pictures come through the connection.
    XSync(m_display, False);
    trappedXError = false;
    XErrorHandler previous = XSetErrorHandler(trapXError);
    XShmAttach(m_display, info);
    XSync(m_display, False);
    XSetErrorHandler(previous);
    // Removed as soon as both sides hold it: it goes with this process, however that ends.
    shmctl(id, IPC_RMID, nullptr);
    if (trappedXError) {
        shmdt(address);
        delete info;
        m_shmOffered = false;
        return false;
    }
    m_shmInfo = info;
    m_shmAddress = address;
    m_shmId = id;
    m_shmBytes = bytes;
    return true;
}

void X11LiveLens::releaseSharedMemory()
{
    if (!m_shmInfo)
        return;
    auto *info = static_cast<XShmSegmentInfo *>(m_shmInfo);
    XShmDetach(m_display, info);
    XSync(m_display, False);
    shmdt(m_shmAddress);
    delete info;
    m_shmInfo = nullptr;
    m_shmAddress = nullptr;
    m_shmId = -1;
    m_shmBytes = 0;
}

void X11LiveLens::clearDamage()
{
    for (const auto &entry : m_damage)
        XDamageDestroy(m_display, entry.second);
    m_damage.clear();
}
