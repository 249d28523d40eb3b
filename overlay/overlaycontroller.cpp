#include "overlay/overlaycontroller.h"

#include "overlay/livesource.h"
#include "overlay/overlaygeometry.h"
#include "overlay/overlaylog.h"
#include "overlay/overlaysurface.h"
#include "overlay/overlaywindowsystem.h"
#include "overlay/wayland/layerbackend.h"
#include "overlay/wayland/layeroverlay.h"
#include "overlay/windowbackend.h"

#include <QCursor>
#include <QGuiApplication>
#include <QScreen>

using OverlayGeometry::modeTraits;

namespace {

// How long a newly selected mode is shown before the overlay clears again.
constexpr int FlashMs = 600;
// Where the window system reports the pointer's motion, how often the pointer is still looked
// at: the reports come from input devices, and a program that sets the pointer's position (a
// warp: a remote desktop, a test tool) moves it without one.
constexpr int WarpWatchMs = 250;

std::vector<FramePlanner::Screen> describe(const QList<QScreen *> &screens)
{
    std::vector<FramePlanner::Screen> described;
    for (QScreen *screen : screens)
        described.push_back(
            {screen->geometry(), screen->devicePixelRatio(), screen->refreshRate()});
    return described;
}

} // namespace

OverlayController::OverlayController(OverlaySurface *primary,
                                     std::unique_ptr<OverlayWindowSystem> windowSystem,
                                     std::unique_ptr<LayerOverlay> layer,
                                     std::unique_ptr<LiveSource> live)
    : m_windows(std::make_unique<WindowBackend>(primary, &m_frame))
{
    m_windows->setWindowSystem(std::move(windowSystem));
    m_lens.setLiveSource(std::move(live));
    m_followTimer.setTimerType(Qt::PreciseTimer);
    connect(&m_followTimer, &QTimer::timeout, this, &OverlayController::followPointer);
    m_warpWatch.setInterval(WarpWatchMs);
    connect(&m_warpWatch, &QTimer::timeout, this, &OverlayController::followPointer);
    // Never shorter than the 600 ms (a coarse timer may end up to 5 % early).
    m_flash.setTimerType(Qt::PreciseTimer);
    m_flash.setSingleShot(true);
    m_flash.setInterval(FlashMs);
    connect(&m_flash, &QTimer::timeout, this, &OverlayController::endFlash);
    // A mouse reports its motion faster than any display shows it (raw motion comes at the
    // mouse's rate): the reports read in one turn of the event loop make one frame.
    m_motion.setSingleShot(true);
    m_motion.setInterval(0);
    connect(&m_motion, &QTimer::timeout, this, &OverlayController::followPointer);
    connect(&m_lens, &LensPicture::changed, this, [this] { planFrame(Repaint::Whole); });
    connect(&m_lens, &LensPicture::refreshed, this,
            [this] { planFrame(Repaint::PictureRefreshed); });
    connect(&m_lens, &LensPicture::unavailable, this, &OverlayController::magnifierUnavailable);
    connect(qApp, &QGuiApplication::primaryScreenChanged, this, [this] { screensChanged(); });
    connect(qApp, &QGuiApplication::screenAdded, this, [this] { screensChanged(); });
    connect(qApp, &QGuiApplication::screenRemoved, this,
            [this](QScreen *screen) { screensChanged(screen); });

    if (layer) {
        m_layer = std::make_unique<LayerBackend>(std::move(layer));
        useBackend(m_layer.get());
    } else {
        useBackend(m_windows.get());
    }
}

OverlayController::~OverlayController()
{
    // The backends go after this object's state: nothing they report reaches it any more.
    disconnect(m_windows.get(), nullptr, this, nullptr);
    if (m_layer)
        disconnect(m_layer.get(), nullptr, this, nullptr);
}

void OverlayController::useBackend(OverlayBackend *backend)
{
    if (m_backend)
        disconnect(m_backend, nullptr, this, nullptr);
    m_backend = backend;
    qCInfo(lcOverlay, "drawn by %s; the pointer followed from %s",
           backend == m_layer.get() ? "layer-shell surfaces" : "the overlay windows",
           backend->reportsPointerMotion() ? "its motion reports" : "samples at the display rate");
    connect(backend, &OverlayBackend::pointerMoved, this, [this] {
        if (m_paintMode != ModeNormal && !m_motion.isActive())
            m_motion.start();
    });
    connect(backend, &OverlayBackend::clicked, this, &OverlayController::takeClick);
    connect(backend, &OverlayBackend::keyed, this, &OverlayController::clearDisplay);
    connect(backend, &OverlayBackend::frameStale, this, [this] { planFrame(Repaint::Whole); });
    connect(backend, &OverlayBackend::lost, this, &OverlayController::fallBackToWindows);
    backend->start();
    screensChanged();
}

void OverlayController::fallBackToWindows()
{
    // The windows take over (the compositor may have dropped only this connection). The
    // layer backend goes once its signal has returned.
    if (!m_layer || m_backend != m_layer.get())
        return;
    qCInfo(lcOverlay, "the layer-shell surfaces are lost; the overlay windows take over");
    m_layer->hide();
    m_layer.release()->deleteLater();
    useBackend(m_windows.get());
}

LayerOverlay *OverlayController::layerOverlay() const
{
    return m_layer ? m_layer->overlay() : nullptr;
}

void OverlayController::setPointerSource(PointerSource source)
{
    m_pointerSource = std::move(source);
}

void OverlayController::setWindowSystem(std::unique_ptr<OverlayWindowSystem> windowSystem)
{
    m_windows->setWindowSystem(std::move(windowSystem));
    if (m_windows->isStarted())
        planFrame(Repaint::Whole);
}

void OverlayController::applySettings(const EffectSettings &settings)
{
    m_settings = settings;
    // Idle, as at start-up, the windows have nothing new to draw.
    if (m_paintMode != ModeNormal)
        planFrame(Repaint::Whole);
}

void OverlayController::setMagnifierAvailable(bool available, const QString &why)
{
    if (available == m_lens.isAvailable())
        return;
    m_lens.setAvailable(available, why);
    planFrame(Repaint::Whole);
}

// A newly selected mode is shown for a moment, then cleared, while the event loop runs on.
// A mode chosen meanwhile replaces it with a moment of its own; the effect key ends it (the
// effect stays while the key is held), its release while the mode is shown does not.
void OverlayController::setMode(ScreenMode mode)
{
    if (mode == m_settings.mode)
        return;
    if (mode == ModeMagnifier) {
        clearForCapture();
        requestPicture();
    } else {
        m_lens.cancel();
    }
    m_settings.mode = mode;
    setPaintMode(mode);
    m_flash.start();
    qCDebug(lcOverlay, "mode %d shown for %d ms", int(mode), FlashMs);
    planFrame(Repaint::Whole);
}

void OverlayController::endFlash()
{
    // A picture still on its way was only for the flash.
    m_lens.cancel();
    setPaintMode(ModeNormal);
    planFrame(Repaint::Whole);
}

void OverlayController::showMode(bool enable)
{
    if (m_flash.isActive()) {
        if (!enable)
            return;
        m_flash.stop();
        // The effect goes where the pointer is now, which may be another screen than the
        // flash's (the black screen does not follow the pointer by itself).
        if (m_settings.mode == m_paintMode) {
            m_pickScreen = true;
            planFrame(Repaint::Whole);
            return;
        }
    }
    if (!enable)
        m_lens.cancel();
    const ScreenMode next = enable ? m_settings.mode : ModeNormal;
    if (next == m_paintMode) {
        // Still the same picture: only the pointer may have moved since the last frame. The
        // presenter repeats its held key with every poll; where motion reports follow the
        // pointer that repetition has nothing to add.
        if (!m_backend->reportsPointerMotion())
            followPointer();
        return;
    }
    setPaintMode(next);
    planFrame(Repaint::Whole);
}

void OverlayController::setForeColor(const QColor &color)
{
    m_settings.foreColor = color;
    planFrame(Repaint::Whole);
}

void OverlayController::setBackColor(const QColor &color)
{
    m_settings.backColor = color;
    planFrame(Repaint::Whole);
}

void OverlayController::setForeOpacity(int opacity)
{
    m_settings.foreOpacity = opacity;
    planFrame(Repaint::Whole);
}

void OverlayController::setBackOpacity(int opacity)
{
    m_settings.backOpacity = opacity;
    planFrame(Repaint::Whole);
}

void OverlayController::setCursorSize(int size)
{
    m_settings.cursorSize = size;
    planFrame(Repaint::Whole);
}

void OverlayController::recapture()
{
    m_flash.stop();
    clearForCapture();
    requestPicture();
    setPaintMode(ModeMagnifier);
    planFrame(Repaint::Whole);
}

void OverlayController::setScaleRate(double scale)
{
    if (m_paintMode == ModeMagnifier) {
        clearForCapture();
        requestPicture();
        setPaintMode(ModeMagnifier);
    }
    m_settings.scaleRate = scale;
    planFrame(Repaint::Whole);
}

void OverlayController::followPointer()
{
    if (!modeTraits(m_paintMode).followsPointer)
        return;
    const QPoint pointer = sampledPointer();
    const QList<QScreen *> screens = QGuiApplication::screens();
    const int under = FramePlanner::screenUnder(pointer, describe(screens));
    QScreen *screen = under >= 0 ? screens[under] : nullptr;
    if (screen && screen == m_frame.screen &&
        pointer - screen->geometry().topLeft() == m_frame.pointer)
        return;
    planFrame(Repaint::PointerMove);
}

void OverlayController::takeClick()
{
    // Clicks reach the overlay only where it holds the pointer to follow it (XWayland). The
    // effect is shown while the presenter holds its key and would come straight back, so the
    // click changes nothing rather than making the effect flicker.
    if (!modeTraits(m_paintMode).followsPointer)
        clearDisplay();
}

void OverlayController::clearDisplay()
{
    m_flash.stop();
    setPaintMode(ModeNormal);
    planFrame(Repaint::Whole);
}

void OverlayController::setPaintMode(ScreenMode mode)
{
    // A newly displayed picture goes to the screen under the pointer.
    if (mode != m_paintMode)
        m_pickScreen = true;
    m_paintMode = mode;
}

void OverlayController::clearForCapture()
{
    // Clear the overlay on the screen first, so the picture holds the desktop only.
    const bool effectOnScreen = modeTraits(m_frame.mode).drawsSomething;
    setPaintMode(ModeNormal);
    // With nothing drawn the screen shows the desktop already: the windows, a whole 4K screen
    // each, are not painted again and waited for.
    if (!effectOnScreen)
        return;
    planFrame(Repaint::Whole, true);
    m_backend->settle(effectOnScreen);
}

void OverlayController::requestPicture()
{
    const QList<QScreen *> screens = QGuiApplication::screens();
    const QPoint pointer = sampledPointer();
    const int under = FramePlanner::screenUnder(pointer, describe(screens));
    QScreen *screen = under >= 0 ? screens[under] : nullptr;
    m_lens.request(screen, screen ? lensArea(pointer, screen) : QRect(),
                   m_windows->surfaceOn(screen));
}

QRect OverlayController::lensArea(QPoint pointer, QScreen *screen) const
{
    // The lens round the pointer, and as far again on every side for a pointer on its way.
    return OverlayGeometry::circleRect(pointer - screen->geometry().topLeft(),
                                       2 * m_settings.cursorSize);
}

// Every change ends here: the planner works out the frame from what the overlay was told,
// the pointer, the screens and the lens's picture; the backend draws it.
void OverlayController::planFrame(Repaint repaint, bool now)
{
    const QList<QScreen *> screens = QGuiApplication::screens();
    FramePlanner::Input in;
    in.mode = m_paintMode;
    in.foreColor = m_settings.foreColor;
    in.backColor = m_settings.backColor;
    in.foreOpacity = m_settings.foreOpacity;
    in.backOpacity = m_settings.backOpacity;
    in.radius = m_settings.cursorSize;
    in.scaleRate = m_settings.scaleRate;
    in.pointer = sampledPointer();
    in.screens = describe(screens);
    in.lastScreen = int(screens.indexOf(m_frame.screen));
    in.pickScreen = m_pickScreen;
    // A lens carried onto another screen needs the picture of that screen.
    if (m_paintMode == ModeMagnifier) {
        const int under = FramePlanner::screenUnder(in.pointer, in.screens);
        if (under >= 0)
            m_lens.showOver(screens[under], lensArea(in.pointer, screens[under]),
                            m_windows->surfaceOn(screens[under]));
    }
    in.lens.waitsForPicture = m_lens.waitsForPicture();
    in.lens.pictureScreen = int(screens.indexOf(m_lens.screen()));
    in.lens.onlyOverPictureScreen = m_lens.onlyOverItsScreen();
    in.compositing = m_backend->isCompositing();
    in.pointerKnown = m_backend->knowsPointer();
    const FramePlanner::Plan plan = FramePlanner::plan(in);
    m_pickScreen = false;

    // The colours keep the opacity they were displayed with.
    m_settings.foreColor = plan.foreColor;
    m_settings.backColor = plan.backColor;
    m_frame.mode = plan.mode;
    m_frame.screen = plan.screen >= 0 ? screens[plan.screen] : nullptr;
    m_frame.pointer = plan.pointer;
    m_frame.radius = plan.radius;
    m_frame.foreColor = plan.foreColor;
    m_frame.backColor = plan.backColor;
    m_frame.scaleRate = plan.scaleRate;
    m_frame.capture = plan.showsPicture ? m_lens.picture() : QPixmap();
    m_frame.captureOrigin = plan.showsPicture ? m_lens.pictureOrigin() : QPoint();
    // The live picture is read only while the lens is shown.
    const bool live = followLive(plan);
    m_frame.live = live ? m_lens.livePicture() : QImage();
    m_frame.liveOrigin = live ? m_lens.liveOrigin() : QPoint();

    // The pointer is sampled at the display rate only while the picture depends on it and no
    // motion reports come: an idle overlay costs nothing, a still pointer next to nothing.
    const bool sampling = plan.followsPointer && !m_backend->reportsPointerMotion();
    if (sampling && m_followTimer.interval() != plan.followIntervalMs)
        m_followTimer.setInterval(plan.followIntervalMs);
    if (!sampling)
        m_followTimer.stop();
    else if (!m_followTimer.isActive())
        m_followTimer.start();
    // Layer surfaces hear of every move the compositor makes, warps included.
    const bool watching =
        plan.followsPointer && m_backend->reportsPointerMotion() && m_backend == m_windows.get();
    if (!watching)
        m_warpWatch.stop();
    else if (!m_warpWatch.isActive())
        m_warpWatch.start();

    const bool sameScreens = screens == m_planScreens;
    const bool refreshed = repaint == Repaint::PictureRefreshed;
    m_backend->show({m_frame, m_plan, plan, screens,
                     (repaint == Repaint::PointerMove || refreshed) && sameScreens, refreshed,
                     now});
    m_plan = plan;
    m_planScreens = screens;
}

bool OverlayController::followLive(const FramePlanner::Plan &plan)
{
    const bool lensShown = plan.mode == ModeMagnifier && plan.showsPicture && m_frame.screen;
    if (!lensShown) {
        m_lens.stopLive();
        return false;
    }
    std::vector<const QWidget *> own;
    const QWidget *screenWindow = nullptr;
    for (const OverlaySurface *surface : m_windows->surfaces()) {
        own.push_back(surface);
        if (surface->coveredScreen() == m_frame.screen)
            screenWindow = surface;
    }
    return m_lens.follow(m_frame.screen, screenWindow, own, m_frame.pointer, m_frame.radius,
                         m_frame.scaleRate);
}

void OverlayController::screensChanged(QScreen *leaving)
{
    for (QScreen *screen : QGuiApplication::screens()) {
        connect(screen, &QScreen::geometryChanged, this, &OverlayController::screenMoved,
                Qt::UniqueConnection);
    }
    if (leaving) {
        m_lens.forgetScreen(leaving);
        if (m_frame.screen == leaving)
            m_frame.screen = nullptr;
    }
    m_backend->followScreens(leaving);
    if (!m_frame.screen || !QGuiApplication::screens().contains(m_frame.screen))
        m_pickScreen = true;
    planFrame(Repaint::Whole);
}

void OverlayController::screenMoved()
{
    screensChanged();
}

QPoint OverlayController::sampledPointer() const
{
    if (m_pointerSource)
        return m_pointerSource();
    // Over native Wayland windows only the compositor knows where the pointer is.
    if (const std::optional<QPoint> pointer = m_backend->pointerPosition())
        return *pointer;
    if (!m_pointerThisTurn) {
        m_pointerThisTurn = QCursor::pos();
        // Forgotten once the event loop runs again.
        QTimer::singleShot(0, this, [this] { m_pointerThisTurn.reset(); });
    }
    return *m_pointerThisTurn;
}
