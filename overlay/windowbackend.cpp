#include "overlay/windowbackend.h"

#include "overlay/overlaysurface.h"
#include "overlay/overlaywindowsystem.h"

#include <QEvent>
#include <QGuiApplication>
#include <QScreen>

#include <algorithm>

namespace {

bool isClick(const QEvent *event)
{
    return event->type() == QEvent::MouseButtonPress || event->type() == QEvent::MouseButtonRelease;
}

bool isKey(const QEvent *event)
{
    return event->type() == QEvent::KeyPress || event->type() == QEvent::KeyRelease;
}

} // namespace

WindowBackend::WindowBackend(OverlaySurface *primary, const OverlayFrame *frame)
    : m_primary(primary), m_frame(frame)
{
    m_primary->installEventFilter(this);
}

WindowBackend::~WindowBackend()
{
    for (const auto &surface : m_others)
        forget(surface.get());
    m_others.clear();
}

void WindowBackend::setWindowSystem(std::unique_ptr<OverlayWindowSystem> windowSystem)
{
    m_windowSystem = std::move(windowSystem);
    for (OverlaySurface *surface : surfaces())
        surface->shownRegionKnown = false;
    if (!m_windowSystem)
        return;
    connect(m_windowSystem.get(), &OverlayWindowSystem::compositingChanged, this, [this] {
        for (OverlaySurface *surface : surfaces())
            surface->shownRegionKnown = false;
        emit frameStale();
    });
    connect(m_windowSystem.get(), &OverlayWindowSystem::pointerFound, this,
            &WindowBackend::frameStale);
    connect(m_windowSystem.get(), &OverlayWindowSystem::pointerMoved, this,
            &WindowBackend::pointerMoved);
}

std::vector<OverlaySurface *> WindowBackend::surfaces() const
{
    std::vector<OverlaySurface *> all{m_primary};
    for (const auto &surface : m_others)
        all.push_back(surface.get());
    return all;
}

void WindowBackend::start()
{
    // Mapped with the first frame, once the window system knows what the window shows, so
    // that a desktop without compositing is not blacked out even for a moment.
    m_primary->createOn(QGuiApplication::primaryScreen());
    m_started = true;
    if (m_windowSystem)
        m_windowSystem->keepAbove(m_primary);
    // showFullScreen() without its activateWindow(): the overlay must not take the focus.
    m_primary->setWindowState(m_primary->windowState() | Qt::WindowFullScreen);
    m_unmapped.push_back(m_primary);
}

void WindowBackend::hide()
{
    for (OverlaySurface *surface : surfaces())
        surface->setVisible(false);
    m_started = false;
}

void WindowBackend::forget(OverlaySurface *surface)
{
    if (m_windowSystem)
        m_windowSystem->forgetWindow(surface);
}

void WindowBackend::followScreens(QScreen *leaving)
{
    if (leaving) {
        for (auto it = m_others.begin(); it != m_others.end(); ++it) {
            if ((*it)->coveredScreen() == leaving) {
                forget(it->get());
                m_unmapped.erase(std::remove(m_unmapped.begin(), m_unmapped.end(), it->get()),
                                 m_unmapped.end());
                m_others.erase(it);
                break;
            }
        }
    }
    QScreen *primary = QGuiApplication::primaryScreen();
    if (!primary || !m_started)
        return;
    const QList<QScreen *> screens = QGuiApplication::screens();
    // The primary window starts on the primary screen and stays on its screen while that
    // screen is there, also when another becomes the primary one: moving it would only trade
    // its place, and perhaps its pixel ratio, with another overlay window.
    QScreen *own = m_primary->coveredScreen();
    if (!own || !screens.contains(own))
        m_primary->cover(primary);
    else if (m_primary->geometry() != own->geometry())
        m_primary->cover(own);
    own = m_primary->coveredScreen();

    // Windows of screens that left or that the primary window took over go.
    for (auto it = m_others.begin(); it != m_others.end();) {
        QScreen *screen = (*it)->coveredScreen();
        if (!screen || screen == own || !screens.contains(screen)) {
            forget(it->get());
            m_unmapped.erase(std::remove(m_unmapped.begin(), m_unmapped.end(), it->get()),
                             m_unmapped.end());
            it = m_others.erase(it);
        } else {
            ++it;
        }
    }
    std::vector<OverlaySurface *> added;
    for (QScreen *screen : screens) {
        if (screen == own)
            continue;
        if (OverlaySurface *surface = surfaceOn(screen)) {
            if (surface->geometry() != screen->geometry())
                surface->cover(screen);
            continue;
        }
        auto surface = std::make_unique<OverlaySurface>(nullptr, m_frame, m_primary->windowFlags());
        surface->createOn(screen);
        surface->installEventFilter(this);
        if (m_windowSystem)
            m_windowSystem->keepAbove(surface.get());
        added.push_back(surface.get());
        m_others.push_back(std::move(surface));
    }
    for (OverlaySurface *surface : surfaces()) {
        surface->shownRegionKnown = false;
        surface->update();
    }
    // Mapped once the controller has planned the frame for the new screens (show()).
    for (OverlaySurface *surface : added) {
        surface->setWindowState(surface->windowState() | Qt::WindowFullScreen);
        m_unmapped.push_back(surface);
    }
}

OverlaySurface *WindowBackend::surfaceOn(QScreen *screen) const
{
    if (!screen)
        return nullptr;
    for (OverlaySurface *surface : surfaces()) {
        if (surface->coveredScreen() == screen)
            return surface;
    }
    return nullptr;
}

void WindowBackend::show(const Shown &shown)
{
    if (!m_started)
        return;
    applyPointerShape(shown.plan.pointerShape);
    applyShownRegions(shown);
    applyPresence(shown);
    for (OverlaySurface *surface : surfaces()) {
        const int index = int(shown.screens.indexOf(surface->coveredScreen()));
        if (index < 0)
            continue;
        const QRegion region =
            FramePlanner::repaintRegion(shown.before, shown.plan, index, surface->rect(),
                                        shown.onlyPointerMoved, shown.pictureRefreshed);
        if (region.isEmpty())
            continue;
        if (shown.now)
            surface->repaint(region);
        else
            surface->update(region);
    }
    // Windows added for new screens are mapped now that the window system knows what they
    // show.
    for (OverlaySurface *surface : m_unmapped) {
        if (surfaceOn(surface->coveredScreen()) == surface)
            surface->setVisible(true);
    }
    m_unmapped.clear();
}

void WindowBackend::applyShownRegions(const Shown &shown)
{
    if (!m_windowSystem)
        return;
    forEachCreated(shown, [this](OverlaySurface *surface, const QRegion &region,
                                 OverlayWindowSystem::Presence) {
        if (surface->shownRegionKnown && region == surface->shownRegion)
            return;
        m_windowSystem->setShownRegion(surface, region);
        surface->shownRegion = region;
        surface->shownRegionKnown = true;
    });
}

void WindowBackend::applyPointerShape(FramePlanner::PointerShape pointer)
{
    Qt::CursorShape shape = Qt::ArrowCursor;
    switch (pointer) {
    case FramePlanner::PointerShape::Unchanged:
        return;
    case FramePlanner::PointerShape::Arrow:
        shape = Qt::ArrowCursor;
        break;
    case FramePlanner::PointerShape::Hidden:
        shape = Qt::BlankCursor;
        break;
    }
    for (OverlaySurface *surface : surfaces()) {
        if (!surface->testAttribute(Qt::WA_SetCursor) || surface->cursor().shape() != shape)
            surface->setCursor(shape);
    }
    // A window that lets input through does not own the pointer on X11.
    if (m_windowSystem)
        m_windowSystem->setPointerHidden(shape == Qt::BlankCursor);
}

void WindowBackend::applyPresence(const Shown &shown)
{
    if (!m_windowSystem)
        return;
    forEachCreated(shown, [this](OverlaySurface *surface, const QRegion &,
                                 OverlayWindowSystem::Presence presence) {
        m_windowSystem->setPresence(surface, presence);
    });
}

void WindowBackend::forEachCreated(
    const Shown &shown,
    const std::function<void(OverlaySurface *, const QRegion &, OverlayWindowSystem::Presence)>
        &apply) const
{
    // Windows not created yet get theirs when they are; a window of a screen the plan did not
    // cover waits for the next plan.
    for (OverlaySurface *surface : surfaces()) {
        const int index = int(shown.screens.indexOf(surface->coveredScreen()));
        if (index < 0 || !surface->testAttribute(Qt::WA_WState_Created))
            continue;
        apply(surface, shown.plan.shownRegion[std::size_t(index)],
              shown.plan.presence[std::size_t(index)]);
    }
}

void WindowBackend::settle(bool redrawBeneath)
{
    if (!m_windowSystem)
        return;
    m_windowSystem->sync();
    if (redrawBeneath)
        m_windowSystem->waitForRedrawBeneath();
}

bool WindowBackend::isCompositing() const
{
    return !m_windowSystem || m_windowSystem->isCompositing();
}

bool WindowBackend::knowsPointer() const
{
    return !m_windowSystem || m_windowSystem->knowsPointer();
}

bool WindowBackend::reportsPointerMotion() const
{
    return m_windowSystem && m_windowSystem->reportsPointerMotion();
}

bool WindowBackend::eventFilter(QObject *watched, QEvent *event)
{
    if (watched->isWidgetType()) {
        if (isClick(event))
            emit clicked();
        else if (isKey(event))
            emit keyed();
        else if (event->type() == QEvent::MouseMove)
            emit pointerMoved();
    }
    return OverlayBackend::eventFilter(watched, event);
}
