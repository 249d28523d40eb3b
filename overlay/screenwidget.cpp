#include "overlay/screenwidget.h"

#include "overlay/overlaygeometry.h"
#include "overlay/overlaywindowsystem.h"

#include <QBrush>
#include <QCursor>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QPaintEvent>
#include <QPainter>
#include <QScreen>
#include <QThread>

#include <cmath>

namespace {

// How long a newly selected mode is shown before the overlay clears again.
constexpr int FlashMs = 600;

// White with alpha 1: as good as invisible, yet not fully transparent.
const QColor VeilColor(255, 255, 255, 1);

QPixmap grabPrimaryScreen()
{
    QScreen *screen = QGuiApplication::primaryScreen();
    return screen ? screen->grabWindow(0, 0, 0, -1, -1) : QPixmap();
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

} // namespace

ScreenWidget::ScreenWidget(QWidget *parent)
    : QWidget(parent), m_pointerSource([] { return QCursor::pos(); }),
      m_screenGrabber(grabPrimaryScreen), m_flashWait(sleepWithoutSpinning)
{
    setWindowSystem(OverlayWindowSystem::forCurrentPlatform());
    // Input passes through the window and the window never takes the keyboard focus from the
    // presentation.
    Qt::WindowFlags flags = Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint |
                            Qt::WindowTransparentForInput | Qt::WindowDoesNotAcceptFocus;
    // An X11 window manager stacks a focused full-screen window (the presentation) above
    // every "stay on top" window, wraps managed windows in frames that catch clicks, and may
    // hand them the focus. Unmanaged, the overlay stays above and out of the way.
    if (QGuiApplication::platformName() == QLatin1String("xcb"))
        flags |= Qt::BypassWindowManagerHint;
    setWindowFlags(flags);
    setAttribute(Qt::WA_TranslucentBackground, true);
    setAttribute(Qt::WA_TransparentForMouseEvents, true);
    setAttribute(Qt::WA_MouseTracking, true);
    setAttribute(Qt::WA_ShowWithoutActivating, true);
    setFocusPolicy(Qt::NoFocus);

    m_followTimer.setTimerType(Qt::PreciseTimer);
    connect(&m_followTimer, &QTimer::timeout, this, &ScreenWidget::followPointer);
    connect(qApp, &QGuiApplication::primaryScreenChanged, this, &ScreenWidget::fitToPrimaryScreen);

    // Full screen by geometry as well: without a window manager nobody acts on the
    // full-screen request and the window would keep a default size.
    fitToPrimaryScreen();
    const QPoint pointer = sampledPointer();
    m_mouseX = pointer.x();
    m_mouseY = pointer.y();
    m_plannedPointer = pointer;

    // Create the native window and limit it to what it shows before it is mapped, so that a
    // desktop without compositing is not blacked out even for a moment. create(), not
    // winId(): winId() marks the overlay a native widget, and Qt then gives every widget
    // beside it under the settings window a native window of its own as well (the title bar,
    // the form), which costs start-up time, X resources and repaint speed.
    create();
    syncWindowSystem();
    if (m_windowSystem)
        m_windowSystem->keepAbove(this);
    applyShownRegion();
    // showFullScreen() without its activateWindow(): the overlay must not take the focus.
    setWindowState(windowState() | Qt::WindowFullScreen);
    setVisible(true);
}

ScreenWidget::~ScreenWidget() = default;

void ScreenWidget::applySettings(const EffectSettings &settings)
{
    m_curMode = settings.mode;
    m_foreColor = settings.foreColor;
    m_backColor = settings.backColor;
    m_foreOpacity = settings.foreOpacity;
    m_backOpacity = settings.backOpacity;
    m_cursorSize = settings.cursorSize;
    m_scaleRate = settings.scaleRate;
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
    if (m_windowSystem) {
        connect(m_windowSystem.get(), &OverlayWindowSystem::compositingChanged, this, [this] {
            m_shownRegionSet = false;
            update();
        });
    }
    m_shownRegionSet = false;
    update();
}

void ScreenWidget::onSetMode(ScreenMode mode)
{
    if (mode == m_curMode)
        return;
    if (mode == ModeMagnifier)
        captureScreen();
    m_curMode = mode;
    setPaintMode(mode);
    repaint();
    syncWindowSystem();
    // The event loop does not run while the mode is shown: input and device events wait.
    if (m_flashWait)
        m_flashWait(FlashMs);
    setPaintMode(ModeNormal);
    repaint();
    syncWindowSystem();
}

void ScreenWidget::onShowMode(bool enable)
{
    const ScreenMode next = enable ? m_curMode : ModeNormal;
    if (next == m_paintMode) {
        // Still the same picture: only the pointer may have moved since the last frame.
        followPointer();
        return;
    }
    setPaintMode(next);
    update();
}

void ScreenWidget::onSetForeColor(QColor color)
{
    m_foreColor = color;
    update();
}

void ScreenWidget::onSetBackColor(QColor color)
{
    m_backColor = color;
    update();
}

void ScreenWidget::onSetForeOpacity(int opacity)
{
    m_foreOpacity = opacity;
    update();
}

void ScreenWidget::onSetBackOpacity(int opacity)
{
    m_backOpacity = opacity;
    update();
}

void ScreenWidget::onSetCursorSize(int size)
{
    m_cursorSize = size;
    update();
}

void ScreenWidget::onSetRepaint()
{
    captureScreen();
    update();
}

void ScreenWidget::onSetScaleRate(double scale)
{
    if (m_paintMode == ModeMagnifier)
        captureScreen();
    m_scaleRate = scale;
    update();
}

void ScreenWidget::onSetMouseSpeed(double)
{
    update();
}

void ScreenWidget::followPointer()
{
    if (!OverlayGeometry::followsPointer(m_paintMode))
        return;
    const QPoint pointer = sampledPointer();
    if (pointer == m_plannedPointer)
        return;
    if (m_drawnMode != m_paintMode || m_drawnRadius != m_cursorSize) {
        update();
    } else {
        update(OverlayGeometry::pointerMoveRegion(m_paintMode, m_plannedPointer, pointer,
                                                  m_cursorSize, rect()));
    }
    m_plannedPointer = pointer;
}

void ScreenWidget::mousePressEvent(QMouseEvent *)
{
    clearDisplay();
}

void ScreenWidget::mouseReleaseEvent(QMouseEvent *)
{
    clearDisplay();
}

void ScreenWidget::mouseMoveEvent(QMouseEvent *)
{
    if (m_paintMode != ModeNormal)
        followPointer();
}

void ScreenWidget::keyPressEvent(QKeyEvent *)
{
    clearDisplay();
}

void ScreenWidget::keyReleaseEvent(QKeyEvent *)
{
    clearDisplay();
}

void ScreenWidget::paintEvent(QPaintEvent *event)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);

    const QPoint pointer = framePosition(event->region());
    m_mouseX = pointer.x();
    m_mouseY = pointer.y();
    m_plannedPointer = pointer;
    m_drawnMode = m_paintMode;
    m_drawnRadius = m_cursorSize;
    applyShownRegion();

    switch (m_paintMode) {
    case ModeNormal:
        paintNormal(painter);
        break;
    case ModeSpotLight:
        paintSpotLight(painter);
        break;
    case ModeLaser:
        paintLaser(painter);
        break;
    case ModeMagnifier:
        paintMagnifier(painter);
        break;
    case ModeBlackScreen:
        paintBlackScreen(painter);
        break;
    }
}

void ScreenWidget::clearDisplay()
{
    setPaintMode(ModeNormal);
    update();
}

void ScreenWidget::setPaintMode(ScreenMode mode)
{
    m_paintMode = mode;
    // Sample the pointer only while the picture depends on it: an idle overlay runs nothing.
    if (OverlayGeometry::followsPointer(mode)) {
        if (!m_followTimer.isActive())
            m_followTimer.start();
    } else {
        m_followTimer.stop();
    }
}

void ScreenWidget::captureScreen()
{
    // Clear the overlay on the screen first, so the capture holds the desktop only.
    const bool effectOnScreen = m_drawnMode >= ModeSpotLight && m_drawnMode <= ModeBlackScreen;
    setPaintMode(ModeNormal);
    repaint();
    syncWindowSystem();
    if (effectOnScreen && m_windowSystem)
        m_windowSystem->waitForRedrawBeneath();
    setPaintMode(ModeMagnifier);
    m_screenPixmap = m_screenGrabber ? m_screenGrabber() : QPixmap();
}

void ScreenWidget::fitToPrimaryScreen()
{
    QScreen *screen = QGuiApplication::primaryScreen();
    if (!screen)
        return;
    disconnect(m_screenGeometryConnection);
    m_screenGeometryConnection =
        connect(screen, &QScreen::geometryChanged, this, &ScreenWidget::fitToPrimaryScreen);
    m_followTimer.setInterval(OverlayGeometry::frameIntervalMs(screen->refreshRate()));
    m_origin = screen->geometry().topLeft();
    setGeometry(screen->geometry());
    update();
}

void ScreenWidget::syncWindowSystem()
{
    if (m_windowSystem)
        m_windowSystem->sync();
}

QPoint ScreenWidget::sampledPointer() const
{
    return (m_pointerSource ? m_pointerSource() : QCursor::pos()) - m_origin;
}

QPoint ScreenWidget::framePosition(const QRegion &paintRegion)
{
    const QPoint sampled = sampledPointer();
    if (!OverlayGeometry::followsPointer(m_paintMode) || m_drawnMode != m_paintMode ||
        m_drawnRadius != m_cursorSize)
        return sampled;
    // A repaint limited to the effect's old and new place must draw the effect inside that
    // area; if the pointer moved on since the area was planned, draw where it was planned
    // and let the next sample catch up.
    const QPoint drawn(m_mouseX, m_mouseY);
    const auto fits = [&](QPoint to) {
        return OverlayGeometry::pointerMoveRegion(m_paintMode, drawn, to, m_cursorSize, rect())
            .subtracted(paintRegion)
            .isEmpty();
    };
    if (fits(sampled))
        return sampled;
    if (fits(m_plannedPointer))
        return m_plannedPointer;
    return drawn;
}

void ScreenWidget::applyShownRegion()
{
    if (!m_windowSystem)
        return;
    const QRegion region =
        OverlayGeometry::shownRegion(m_paintMode, rect(), QPoint(m_mouseX, m_mouseY), m_cursorSize,
                                     m_windowSystem->isCompositing());
    if (m_shownRegionSet && region == m_shownRegion)
        return;
    m_windowSystem->setShownRegion(this, region);
    m_shownRegion = region;
    m_shownRegionSet = true;
}

void ScreenWidget::setCursorShape(Qt::CursorShape shape)
{
    if (testAttribute(Qt::WA_SetCursor) && cursor().shape() == shape)
        return;
    setCursor(shape);
    if (m_windowSystem)
        m_windowSystem->setPointerHidden(shape == Qt::BlankCursor);
}

void ScreenWidget::paintNormal(QPainter &painter)
{
    // Destination-in keeps only what the (cleared) surface holds: everything stays clear.
    painter.setPen(VeilColor);
    painter.setBrush(VeilColor);
    painter.setCompositionMode(QPainter::CompositionMode_DestinationIn);
    painter.fillRect(rect(), m_backColor);
    setCursorShape(Qt::ArrowCursor);
}

void ScreenWidget::paintSpotLight(QPainter &painter)
{
    m_backColor.setAlpha(m_backOpacity);
    painter.fillRect(rect(), m_backColor);
    // Scaling the darkening's alpha by the veil's (1/255) cuts an antialiased hole.
    painter.setPen(VeilColor);
    painter.setBrush(VeilColor);
    painter.setCompositionMode(QPainter::CompositionMode_DestinationIn);
    painter.drawEllipse(OverlayGeometry::circleRect(QPoint(m_mouseX, m_mouseY), m_cursorSize));
    setCursorShape(Qt::BlankCursor);
}

void ScreenWidget::paintLaser(QPainter &painter)
{
    painter.fillRect(rect(), VeilColor);
    m_foreColor.setAlpha(m_foreOpacity);
    painter.setPen(m_foreColor);
    painter.setBrush(m_foreColor);
    painter.drawEllipse(OverlayGeometry::circleRect(QPoint(m_mouseX, m_mouseY), m_cursorSize));
    setCursorShape(Qt::BlankCursor);
}

void ScreenWidget::paintMagnifier(QPainter &painter)
{
    const QPoint pointer(m_mouseX, m_mouseY);
    const QRect source = OverlayGeometry::lensSourceRect(pointer, m_cursorSize);
    // The capture holds device pixels (more than the overlay's own pixels on a scaled
    // screen): the piece is cut in those, and the brush scales it back to the overlay's.
    const qreal ratio = m_screenPixmap.devicePixelRatio();
    const QRect deviceSource(QPointF(QPointF(source.topLeft()) * ratio).toPoint(),
                             QSizeF(QSizeF(source.size()) * ratio).toSize());
    // QPixmap::copy of an empty rectangle copies the whole capture; the lens is empty then.
    QPixmap piece = deviceSource.isEmpty() ? QPixmap() : m_screenPixmap.copy(deviceSource);
    piece.setDevicePixelRatio(1);
    painter.setPen(m_foreColor);
    // Without a capture (or with a magnification that maps nothing) only the ring is drawn.
    if (!piece.isNull() && std::isfinite(m_scaleRate) && m_scaleRate > 0.0) {
        QBrush brush(piece);
        brush.setTransform(QTransform::fromScale(1 / ratio, 1 / ratio) *
                           OverlayGeometry::lensTransform(pointer, m_cursorSize, m_scaleRate));
        painter.setBrush(brush);
    } else {
        painter.setBrush(Qt::NoBrush);
    }
    painter.drawEllipse(OverlayGeometry::circleRect(pointer, m_cursorSize));
    setCursorShape(Qt::BlankCursor);
}

void ScreenWidget::paintBlackScreen(QPainter &painter)
{
    painter.fillRect(rect(), QColor(0, 0, 0));
}
