#include "overlay/screenwidget.h"

#include "overlay/layeroverlay.h"
#include "overlay/overlaygeometry.h"
#include "overlay/overlaywindowsystem.h"
#include "overlay/screencapture.h"

#include <QCursor>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QScreen>
#include <QThread>

#include <algorithm>
#include <climits>

using OverlayGeometry::ModeTraits;
using OverlayGeometry::modeTraits;

namespace {

// How long a newly selected mode is shown before the overlay clears again.
constexpr int FlashMs = 600;

// The whole screen in its device pixels, their ratio set. Without a window the platform
// takes the area relative to the screen; -1 asks for all of it. Nothing is scaled.
QPixmap grabScreen(QScreen *screen)
{
    return screen->grabWindow(0, 0, 0, -1, -1);
}

// Blocks without running the event loop, like a busy wait would, but sleeps instead of
// spinning so the core stays free for the presentation.
void sleepWithoutSpinning(int milliseconds)
{
    QElapsedTimer timer;
    timer.start();
    for (qint64 left = milliseconds; left > 0; left = milliseconds - timer.elapsed())
        QThread::msleep(static_cast<unsigned long>(left));
}

bool isInput(const QEvent *event)
{
    switch (event->type()) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
        return true;
    default:
        return false;
    }
}

bool isClick(const QEvent *event)
{
    return event->type() == QEvent::MouseButtonPress || event->type() == QEvent::MouseButtonRelease;
}

} // namespace

ScreenWidget::ScreenWidget(QWidget *parent)
    : OverlaySurface(parent, &m_frame), m_pointerSource([this] {
          // Over native Wayland windows only the compositor knows where the pointer is.
          if (m_layerOverlay) {
              if (const std::optional<QPoint> pointer = m_layerOverlay->pointerPosition())
                  return *pointer;
          }
          return QCursor::pos();
      }),
      m_screenGrabber(grabScreen), m_flashWait(sleepWithoutSpinning)
{
    setWindowSystem(OverlayWindowSystem::forCurrentPlatform());
    m_followTimer.setTimerType(Qt::PreciseTimer);
    connect(&m_followTimer, &QTimer::timeout, this, &ScreenWidget::followPointer);
    connect(qApp, &QGuiApplication::primaryScreenChanged, this, &ScreenWidget::followScreens);
    connect(qApp, &QGuiApplication::screenAdded, this, &ScreenWidget::followScreens);
    connect(qApp, &QGuiApplication::screenRemoved, this, &ScreenWidget::forgetScreen);

    // On a window system of Qt's own only: an offscreen overlay never meets the session's
    // compositor.
    const QString platform = QGuiApplication::platformName();
    if (platform == QLatin1String("xcb") || platform.startsWith(QLatin1String("wayland")))
        m_layerOverlay = LayerOverlay::connectIfOffered();
    if (m_layerOverlay)
        useLayerOverlay();
    else
        showWindows();
}

void ScreenWidget::useLayerOverlay()
{
    connect(m_layerOverlay.get(), &LayerOverlay::pointerMoved, this, &ScreenWidget::followPointer);
    // A click on the overlay does what a click on its window does.
    connect(m_layerOverlay.get(), &LayerOverlay::pressed, this, [this] {
        QMouseEvent press(QEvent::MouseButtonPress, QPointF(), Qt::LeftButton, Qt::LeftButton,
                          Qt::NoModifier);
        takeInput(&press);
    });
    connect(m_layerOverlay.get(), &LayerOverlay::lost, this, [this] {
        // The windows take over (the compositor may have dropped only this connection).
        m_layerOverlay.release()->deleteLater();
        showWindows();
    });
    planFrame(Repaint::Whole);
}

void ScreenWidget::setVisible(bool visible)
{
    OverlaySurface::setVisible(visible && !m_layerOverlay);
}

void ScreenWidget::showWindows()
{
    // Limit the windows to what they show before they are mapped, so that a desktop without
    // compositing is not blacked out even for a moment.
    createOn(QGuiApplication::primaryScreen());
    m_windowsReady = true;
    followScreens();
    syncWindowSystem();
    if (m_windowSystem)
        m_windowSystem->keepAbove(this);
    // showFullScreen() without its activateWindow(): the overlay must not take the focus.
    setWindowState(windowState() | Qt::WindowFullScreen);
    setVisible(true);
}

ScreenWidget::~ScreenWidget()
{
    for (const auto &surface : m_others) {
        if (m_windowSystem)
            m_windowSystem->forgetWindow(surface.get());
    }
    m_others.clear();
}

void ScreenWidget::setPointerSource(PointerSource source)
{
    m_pointerSource = std::move(source);
}

void ScreenWidget::setScreenGrabber(ScreenGrabber grabber)
{
    m_screenGrabber = std::move(grabber);
}

void ScreenWidget::setFlashWait(BlockingWait wait)
{
    m_flashWait = std::move(wait);
}

void ScreenWidget::setWindowSystem(std::unique_ptr<OverlayWindowSystem> windowSystem)
{
    m_windowSystem = std::move(windowSystem);
    for (OverlaySurface *surface : surfaces())
        surface->shownRegionKnown = false;
    if (m_windowSystem) {
        connect(m_windowSystem.get(), &OverlayWindowSystem::compositingChanged, this, [this] {
            for (OverlaySurface *surface : surfaces())
                surface->shownRegionKnown = false;
            planFrame(Repaint::Whole);
        });
        connect(m_windowSystem.get(), &OverlayWindowSystem::pointerFound, this,
                [this] { planFrame(Repaint::Whole); });
    }
    if (m_windowsReady)
        planFrame(Repaint::Whole);
}

void ScreenWidget::setScreenCapture(std::unique_ptr<ScreenCapture> capture)
{
    cancelCapture();
    m_screenCapture = std::move(capture);
    if (m_screenCapture) {
        connect(m_screenCapture.get(), &ScreenCapture::captured, this, &ScreenWidget::onCaptured);
        connect(m_screenCapture.get(), &ScreenCapture::failed, this,
                &ScreenWidget::onCaptureFailed);
    }
}

void ScreenWidget::setMagnifierAvailable(bool available, const QString &why)
{
    if (available == m_magnifierAvailable)
        return;
    m_magnifierAvailable = available;
    m_magnifierWhy = available ? QString() : why;
    if (!available) {
        m_capture = QPixmap();
        m_captureScreen = nullptr;
    }
    planFrame(Repaint::Whole);
    if (!available)
        emit magnifierUnavailable(why);
}

void ScreenWidget::applySettings(const EffectSettings &settings)
{
    m_curMode = settings.mode;
    m_foreColor = settings.foreColor;
    m_backColor = settings.backColor;
    m_foreOpacity = settings.foreOpacity;
    m_backOpacity = settings.backOpacity;
    m_cursorSize = settings.cursorSize;
    m_scaleRate = settings.scaleRate;
    // Idle, as at start-up, the windows have nothing new to draw.
    if (m_paintMode != ModeNormal)
        planFrame(Repaint::Whole);
}

std::vector<OverlaySurface *> ScreenWidget::surfaces() const
{
    std::vector<OverlaySurface *> all{const_cast<ScreenWidget *>(this)};
    for (const auto &surface : m_others)
        all.push_back(surface.get());
    return all;
}

void ScreenWidget::onSetMode(ScreenMode mode)
{
    if (mode == m_curMode)
        return;
    if (mode != ModeMagnifier)
        cancelCapture();
    if (mode == ModeMagnifier) {
        clearForCapture();
        captureScreen();
    }
    m_curMode = mode;
    setPaintMode(mode);
    planFrame(Repaint::Whole, true);
    syncWindowSystem();
    // The event loop does not run while the mode is shown: input and device events wait.
    if (m_flashWait)
        m_flashWait(FlashMs);
    setPaintMode(ModeNormal);
    planFrame(Repaint::Whole, true);
    syncWindowSystem();
}

void ScreenWidget::onShowMode(bool enable)
{
    if (!enable)
        cancelCapture();
    const ScreenMode next = enable ? m_curMode : ModeNormal;
    if (next == m_paintMode) {
        // Still the same picture: only the pointer may have moved since the last frame.
        followPointer();
        return;
    }
    setPaintMode(next);
    planFrame(Repaint::Whole);
}

void ScreenWidget::onSetForeColor(QColor color)
{
    m_foreColor = color;
    planFrame(Repaint::Whole);
}

void ScreenWidget::onSetBackColor(QColor color)
{
    m_backColor = color;
    planFrame(Repaint::Whole);
}

void ScreenWidget::onSetForeOpacity(int opacity)
{
    m_foreOpacity = opacity;
    planFrame(Repaint::Whole);
}

void ScreenWidget::onSetBackOpacity(int opacity)
{
    m_backOpacity = opacity;
    planFrame(Repaint::Whole);
}

void ScreenWidget::onSetCursorSize(int size)
{
    m_cursorSize = size;
    planFrame(Repaint::Whole);
}

void ScreenWidget::onSetRepaint()
{
    clearForCapture();
    captureScreen();
    setPaintMode(ModeMagnifier);
    planFrame(Repaint::Whole);
}

void ScreenWidget::onSetScaleRate(double scale)
{
    if (m_paintMode == ModeMagnifier) {
        clearForCapture();
        captureScreen();
        setPaintMode(ModeMagnifier);
    }
    m_scaleRate = scale;
    planFrame(Repaint::Whole);
}

void ScreenWidget::onSetMouseSpeed(double)
{
    // The speed is the settings window's and the device's business; the picture stays.
}

void ScreenWidget::followPointer()
{
    if (!modeTraits(m_paintMode).followsPointer)
        return;
    const QPoint pointer = sampledPointer();
    QScreen *screen = screenUnder(pointer);
    if (screen == m_frame.screen && screen &&
        pointer - screen->geometry().topLeft() == m_frame.pointer)
        return;
    planFrame(Repaint::PointerMove);
}

bool ScreenWidget::eventFilter(QObject *watched, QEvent *event)
{
    // The windows over the other screens: their input does what this window's does.
    if (watched != this && watched->isWidgetType()) {
        if (isInput(event))
            takeInput(event);
        else if (event->type() == QEvent::MouseMove && m_paintMode != ModeNormal)
            followPointer();
    }
    return OverlaySurface::eventFilter(watched, event);
}

void ScreenWidget::mousePressEvent(QMouseEvent *event)
{
    takeInput(event);
}

void ScreenWidget::mouseReleaseEvent(QMouseEvent *event)
{
    takeInput(event);
}

void ScreenWidget::mouseMoveEvent(QMouseEvent *)
{
    if (m_paintMode != ModeNormal)
        followPointer();
}

void ScreenWidget::keyPressEvent(QKeyEvent *event)
{
    takeInput(event);
}

void ScreenWidget::keyReleaseEvent(QKeyEvent *event)
{
    takeInput(event);
}

void ScreenWidget::takeInput(const QEvent *event)
{
    // Clicks reach the overlay only where it holds the pointer to follow it (XWayland). The
    // effect is shown while the presenter holds its key and would come straight back, so the
    // click changes nothing rather than making the effect flicker.
    if (isClick(event) && modeTraits(m_paintMode).followsPointer)
        return;
    clearDisplay();
}

void ScreenWidget::clearDisplay()
{
    setPaintMode(ModeNormal);
    planFrame(Repaint::Whole);
}

void ScreenWidget::setPaintMode(ScreenMode mode)
{
    // A newly displayed picture goes to the screen under the pointer.
    if (mode != m_paintMode)
        m_pickScreen = true;
    m_paintMode = mode;
}

void ScreenWidget::clearForCapture()
{
    // Clear the overlay on the screen first, so the capture holds the desktop only.
    const bool effectOnScreen = modeTraits(m_frame.mode).drawsSomething;
    setPaintMode(ModeNormal);
    planFrame(Repaint::Whole, true);
    syncWindowSystem();
    if (effectOnScreen && m_windowSystem)
        m_windowSystem->waitForRedrawBeneath();
}

void ScreenWidget::captureScreen()
{
    if (!m_magnifierAvailable)
        return;
    if (m_screenCapture) {
        // Until the new picture comes the lens shows none, not the one of an earlier moment.
        requestCapture();
        return;
    }
    QScreen *screen = screenUnder(sampledPointer());
    m_capture = screen && m_screenGrabber ? m_screenGrabber(screen) : QPixmap();
    m_captureScreen = screen;
}

void ScreenWidget::requestCapture()
{
    // A request still under way is of an earlier moment (another press of the effect key,
    // another magnification): it ends now rather than when it is answered.
    cancelCapture();
    QScreen *screen = screenUnder(sampledPointer());
    m_capture = QPixmap();
    m_captureScreen = screen;
    if (!screen)
        return;
    m_capturePending = true;
    m_screenCapture->capture(screen);
}

void ScreenWidget::cancelCapture()
{
    if (!m_capturePending)
        return;
    m_capturePending = false;
    if (m_screenCapture)
        m_screenCapture->cancel();
}

void ScreenWidget::onCaptured(QPointer<QScreen> screen, QPixmap picture)
{
    // Nothing asked for (the route was replaced, or it answered twice): not ours.
    if (!m_capturePending)
        return;
    m_capturePending = false;
    if (!screen || screen != m_captureScreen || picture.isNull())
        return;
    m_capture = picture;
    planFrame(Repaint::Whole);
}

void ScreenWidget::onCaptureFailed(const QString &why, bool lasting)
{
    if (!m_capturePending)
        return;
    m_capturePending = false;
    qWarning("Magnifier: %s", qPrintable(why));
    if (lasting)
        setMagnifierAvailable(false, why);
}

bool ScreenWidget::lensWaitsForPicture() const
{
    // The grabber answers at once; with it a failed capture leaves the lens's ring alone.
    if (m_paintMode != ModeMagnifier || (!m_screenCapture && m_magnifierAvailable))
        return false;
    return m_capturePending || m_capture.isNull() || !m_captureScreen;
}

void ScreenWidget::planFrame(Repaint repaint, bool now)
{
    const OverlayFrame before = m_frame;
    const ModeTraits &traits = modeTraits(m_paintMode);
    const QPoint pointer = sampledPointer();
    if (m_pickScreen || traits.followsPointer || !m_frame.screen) {
        m_frame.screen = screenUnder(pointer);
        m_pickScreen = false;
    }
    // The effect's colour takes its opacity when it is displayed, and keeps it: the lens's
    // ring shows the alpha the laser dot left in the fore colour.
    if (traits.drawing == ModeTraits::Drawing::Shade)
        m_backColor.setAlpha(m_backOpacity);
    else if (traits.drawing == ModeTraits::Drawing::Dot)
        m_foreColor.setAlpha(m_foreOpacity);

    // A lens without the picture of its screen draws nothing (it shows again when the
    // pointer comes back onto the screen of the picture).
    const bool noPicture = lensWaitsForPicture();
    const bool otherScreen = m_paintMode == ModeMagnifier && !noPicture && m_screenCapture &&
                             m_captureScreen != m_frame.screen;
    m_frame.mode = noPicture || otherScreen ? ModeNormal : m_paintMode;
    m_frame.pointer = m_frame.screen ? pointer - m_frame.screen->geometry().topLeft() : pointer;
    m_frame.radius = m_cursorSize;
    m_frame.foreColor = m_foreColor;
    m_frame.backColor = m_backColor;
    m_frame.scaleRate = m_scaleRate;
    m_frame.capture = m_captureScreen && m_captureScreen == m_frame.screen ? m_capture : QPixmap();

    // Sample the pointer only while the picture depends on it: an idle overlay runs nothing.
    if (traits.followsPointer) {
        const int interval =
            OverlayGeometry::frameIntervalMs(m_frame.screen ? m_frame.screen->refreshRate() : 60.0);
        if (m_followTimer.interval() != interval)
            m_followTimer.setInterval(interval);
        if (!m_followTimer.isActive())
            m_followTimer.start();
    } else {
        m_followTimer.stop();
    }

    if (m_layerOverlay) {
        m_layerOverlay->present(m_frame, repaint == Repaint::PointerMove, now);
        return;
    }
    if (!m_windowsReady)
        return;
    applyPointerShape();
    applyShownRegions();
    const bool following = traits.followsPointer && !noPicture;
    applyPresence(following);
    // Until the window system knows where the pointer is, the effect would be drawn where the
    // pointer was long ago.
    if (following && m_windowSystem && !m_windowSystem->knowsPointer()) {
        m_frame.mode = ModeNormal;
        applyShownRegions();
    }

    OverlaySurface *was = surfaceOn(before.screen);
    OverlaySurface *is = surfaceOn(m_frame.screen);
    const bool onlyMoved = repaint == Repaint::PointerMove && was == is &&
                           before.mode == m_frame.mode && before.radius == m_frame.radius;
    if (onlyMoved) {
        if (!is)
            return;
        const QRegion region = OverlayGeometry::pointerMoveRegion(
            m_frame.mode, before.pointer, m_frame.pointer, m_frame.radius, is->rect());
        if (now)
            is->repaint(region);
        else
            is->update(region);
        return;
    }
    for (OverlaySurface *surface : {was, is}) {
        if (!surface)
            continue;
        if (now)
            surface->repaint();
        else
            surface->update();
        if (was == is)
            break;
    }
}

void ScreenWidget::followScreens()
{
    if (m_layerOverlay) {
        // Its surfaces follow the outputs by themselves.
        m_pickScreen = true;
        planFrame(Repaint::Whole);
        return;
    }
    QScreen *primary = QGuiApplication::primaryScreen();
    if (!primary || !m_windowsReady)
        return;
    const QList<QScreen *> screens = QGuiApplication::screens();
    for (QScreen *screen : screens) {
        connect(screen, &QScreen::geometryChanged, this, &ScreenWidget::followScreens,
                Qt::UniqueConnection);
    }
    // This window starts on the primary screen and stays on its screen while that screen is
    // there, also when another becomes the primary one: moving it would only trade its
    // place, and perhaps its pixel ratio, with another overlay window.
    QScreen *own = coveredScreen();
    if (!own || !screens.contains(own))
        cover(primary);
    else if (geometry() != own->geometry())
        cover(own);
    own = coveredScreen();

    // Windows of screens that left or that this window took over go.
    for (auto it = m_others.begin(); it != m_others.end();) {
        QScreen *screen = (*it)->coveredScreen();
        if (!screen || screen == own || !screens.contains(screen)) {
            if (m_windowSystem)
                m_windowSystem->forgetWindow(it->get());
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
        auto surface = std::make_unique<OverlaySurface>(nullptr, &m_frame);
        surface->createOn(screen);
        surface->installEventFilter(this);
        if (m_windowSystem)
            m_windowSystem->keepAbove(surface.get());
        added.push_back(surface.get());
        m_others.push_back(std::move(surface));
    }
    if (!m_frame.screen || !screens.contains(m_frame.screen))
        m_pickScreen = true;
    redrawEverything();
    for (OverlaySurface *surface : added) {
        surface->setWindowState(surface->windowState() | Qt::WindowFullScreen);
        surface->setVisible(true);
    }
}

void ScreenWidget::redrawEverything()
{
    for (OverlaySurface *surface : surfaces()) {
        surface->shownRegionKnown = false;
        surface->update();
    }
    planFrame(Repaint::Whole);
}

void ScreenWidget::forgetScreen(QScreen *screen)
{
    if (m_frame.screen == screen) {
        m_frame.screen = nullptr;
        m_pickScreen = true;
    }
    if (m_captureScreen == screen) {
        m_capture = QPixmap();
        m_captureScreen = nullptr;
    }
    for (auto it = m_others.begin(); it != m_others.end(); ++it) {
        if ((*it)->coveredScreen() == screen) {
            if (m_windowSystem)
                m_windowSystem->forgetWindow(it->get());
            m_others.erase(it);
            break;
        }
    }
    followScreens();
}

OverlaySurface *ScreenWidget::surfaceOn(QScreen *screen) const
{
    if (!screen)
        return nullptr;
    for (OverlaySurface *surface : surfaces()) {
        if (surface->coveredScreen() == screen)
            return surface;
    }
    return nullptr;
}

QScreen *ScreenWidget::screenUnder(QPoint global) const
{
    if (QScreen *screen = QGuiApplication::screenAt(global))
        return screen;
    // Off every screen (between screens of different scales, or a test's pointer beyond the
    // edge): the nearest one.
    QScreen *nearest = QGuiApplication::primaryScreen();
    int best = INT_MAX;
    for (QScreen *screen : QGuiApplication::screens()) {
        const QRect area = screen->geometry();
        const int dx = std::max({area.left() - global.x(), 0, global.x() - area.right()});
        const int dy = std::max({area.top() - global.y(), 0, global.y() - area.bottom()});
        if (dx + dy < best) {
            best = dx + dy;
            nearest = screen;
        }
    }
    return nearest;
}

QPoint ScreenWidget::sampledPointer() const
{
    return m_pointerSource ? m_pointerSource() : QCursor::pos();
}

void ScreenWidget::applyShownRegions()
{
    if (!m_windowSystem)
        return;
    const bool compositing = m_windowSystem->isCompositing();
    for (OverlaySurface *surface : surfaces()) {
        if (!surface->testAttribute(Qt::WA_WState_Created))
            continue;
        const int mode = surface->showsEffect() ? int(m_frame.mode) : int(ModeNormal);
        const QRegion region =
            OverlayGeometry::shownRegion(mode, surface->rect(), m_frame.pointer, m_frame.radius,
                                         compositing, surface->devicePixelRatioF());
        if (surface->shownRegionKnown && region == surface->shownRegion)
            continue;
        m_windowSystem->setShownRegion(surface, region);
        surface->shownRegion = region;
        surface->shownRegionKnown = true;
    }
}

void ScreenWidget::applyPointerShape()
{
    Qt::CursorShape shape = Qt::ArrowCursor;
    switch (modeTraits(m_frame.mode).pointer) {
    case ModeTraits::Pointer::Unchanged:
        return;
    case ModeTraits::Pointer::Arrow:
        shape = Qt::ArrowCursor;
        break;
    case ModeTraits::Pointer::Hidden:
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

void ScreenWidget::applyPresence(bool followingPointer)
{
    if (!m_windowSystem)
        return;
    using Presence = OverlayWindowSystem::Presence;
    const bool drawn = modeTraits(m_frame.mode).drawsSomething;
    for (OverlaySurface *surface : surfaces()) {
        if (!surface->testAttribute(Qt::WA_WState_Created))
            continue;
        // An effect that follows the pointer may move onto any screen: every window watches.
        Presence presence = Presence::Idle;
        if (followingPointer)
            presence = Presence::FollowingPointer;
        else if (drawn && surface->showsEffect())
            presence = Presence::Shown;
        m_windowSystem->setPresence(surface, presence);
    }
}

void ScreenWidget::syncWindowSystem()
{
    if (m_windowSystem)
        m_windowSystem->sync();
}
