#include "overlay/x11/x11livelens.h"

#include <algorithm>

// Xlib last: its macros (None, Bool, Status, ...) clash with Qt's names.
#include <X11/Xlib.h>
#include <X11/extensions/XShm.h>
#include <X11/extensions/Xdamage.h>
#include <X11/extensions/Xfixes.h>

namespace {

// One frame of a 60 Hz display: changes beneath closer together than this share a picture.
constexpr int FrameMs = 16;

} // namespace

std::unique_ptr<X11LiveLens> X11LiveLens::open(const QByteArray &displayName)
{
    return open(X11Connection::open(displayName));
}

std::unique_ptr<X11LiveLens> X11LiveLens::open(std::shared_ptr<X11Connection> connection)
{
    if (!connection || connection->isXWayland())
        return nullptr;
    Display *display = connection->display();
    int damageEventBase = 0;
    int errorBase = 0;
    int major = 0;
    int minor = 0;
    const int screen = DefaultScreen(display);
    const Visual *visual = DefaultVisual(display, screen);
    // XFixes (version 2) tells when the compositing manager's selection changes hands.
    if (!XDamageQueryExtension(display, &damageEventBase, &errorBase) ||
        !XDamageQueryVersion(display, &major, &minor) ||
        !XFixesQueryVersion(display, &major, &minor) || major < 2 ||
        DefaultDepth(display, screen) < 24 || visual->red_mask != 0xff0000 ||
        visual->green_mask != 0xff00 || visual->blue_mask != 0xff)
        return nullptr;
    const bool shm = XShmQueryExtension(display);
    return std::unique_ptr<X11LiveLens>(
        new X11LiveLens(std::move(connection), damageEventBase, shm));
}

X11LiveLens::X11LiveLens(std::shared_ptr<X11Connection> connection, int damageEventBase, bool shm)
    : m_connection(std::move(connection)), m_display(m_connection->display()),
      m_damageEventBase(damageEventBase), m_stack(m_display, m_connection->root()),
      m_reader(m_display, m_connection->root(), shm)
{
    m_frameTimer.setSingleShot(true);
    m_frameTimer.setTimerType(Qt::PreciseTimer);
    connect(&m_frameTimer, &QTimer::timeout, this, &X11LiveLens::frame);
    m_connection->addClient(this);
    connect(m_connection.get(), &X11Connection::compositorChanged, this,
            &X11LiveLens::onCompositorChanged);
}

X11LiveLens::~X11LiveLens()
{
    stop();
    m_connection->removeClient(this);
}

bool X11LiveLens::isLive()
{
    // The connection follows the compositing manager's selection from its events: no
    // question to a server that may be busy compositing.
    m_connection->handleEvents();
    return m_connection->isCompositing();
}

bool X11LiveLens::start(const QRect &area, const std::vector<unsigned long> &ownWindows)
{
    if (m_running)
        stop();
    if (!isLive())
        return false;
    m_running = true;
    m_area = area;
    m_stack.setOwn(ownWindows);
    // Told when windows come, go, move or restack, when the screen is resized, when the
    // desktop's background changes and when the compositing manager goes.
    m_connection->selectRootInput(this, StructureNotifyMask | SubstructureNotifyMask |
                                            PropertyChangeMask);
    // Its answer comes with the window list's.
    m_reader.askRootPixmap();
    m_pickStale = true;
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
    // The window stack stays known from the windows' comings and goings (the overlay's
    // window system is told of them anyway): the next press asks the server for none of it.
    m_connection->selectRootInput(this, StructureNotifyMask | SubstructureNotifyMask);
    clearDamage();
    // The shared memory stays for the next press (one segment of the lens's size, gone with
    // the lens): attaching it costs two round trips.
    m_pick = X11LiveArea::Pick();
    m_damagedWithin = false;
    m_reader.forgetRootPixmap();
    // Events the server sent before it took the deselection are dropped when they come.
    XFlush(m_display);
}

std::optional<QPoint> X11LiveLens::rootPosition(unsigned long window)
{
    int x = 0;
    int y = 0;
    ::Window child = 0;
    if (!XTranslateCoordinates(m_display, window, m_connection->root(), 0, 0, &x, &y, &child))
        return std::nullopt;
    return QPoint(x, y);
}

void X11LiveLens::handleEvent(const XEvent &event)
{
    if (!m_running) {
        m_stack.handleEvent(event);
        return;
    }
    if (m_stack.handleEvent(event)) {
        m_pickStale = true;
        scheduleFrame();
    } else if (event.type == PropertyNotify) {
        if (event.xproperty.atom == m_reader.rootPixmapAtom()) {
            m_reader.forgetRootPixmap();
            if (m_pick.background) {
                m_recompose = true;
                scheduleFrame();
            }
        }
    } else if (event.type == m_damageEventBase + XDamageNotify) {
        // Each drawing reports its own rectangle: whether it touched the area needs no
        // question to the server.
        const auto *notify = reinterpret_cast<const XDamageNotifyEvent *>(&event);
        const auto picked = std::find_if(m_pick.windows.begin(), m_pick.windows.end(),
                                         [&](const auto &w) { return w.id == notify->drawable; });
        if (picked != m_pick.windows.end() &&
            QRect(picked->geometry.x() + notify->area.x, picked->geometry.y() + notify->area.y,
                  notify->area.width, notify->area.height)
                .intersects(m_area)) {
            m_damagedWithin = true;
            scheduleFrame();
        }
    }
}

void X11LiveLens::onCompositorChanged(bool running)
{
    if (!m_running)
        return;
    if (!running) {
        stop();
        emit liveChanged();
        return;
    }
    // A new compositing manager that replaces the old one redirects the windows again: they
    // are listed afresh.
    m_stack.invalidate();
    scheduleFrame();
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
    if (m_stack.refresh())
        m_pickStale = true;
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
    m_connection->handleEvents();
}

void X11LiveLens::pickWindows()
{
    m_pickStale = false;
    m_pick = X11LiveArea::windowsBeneath(m_stack.windows(), m_stack.ownTopLevels(), m_area);
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
        m_reader.prepare(m_area.width() * m_area.height() * 4);
        if (m_pick.background)
            m_reader.readBackground(picture, m_area);
        const QRect onRoot = m_area.intersected(m_stack.rootRect());
        for (const X11LiveArea::StackedWindow &window : m_pick.windows) {
            m_reader.readWindow(picture, m_area.topLeft(), window, m_stack.visualOf(window.id),
                                window.geometry.intersected(onRoot));
        }
    }
    picture.setOffset(m_area.topLeft());
    m_picture = picture;
}

void X11LiveLens::setBackdrop(const QPixmap &picture, QPoint origin)
{
    m_reader.setBackdrop(picture, origin);
    if (m_running && m_pick.background) {
        m_recompose = true;
        scheduleFrame();
    }
}

void X11LiveLens::clearDamage()
{
    for (const auto &entry : m_damage)
        XDamageDestroy(m_display, entry.second);
    m_damage.clear();
}
