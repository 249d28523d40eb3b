#include "overlay/overlaysurface.h"

#include "overlay/overlayframe.h"
#include "overlay/overlaygeometry.h"
#include "overlay/overlaywindowsystem.h"

#include <QBrush>
#include <QPainter>
#include <QScreen>
#include <QWindow>

#include <cmath>

namespace {

// White with alpha 1: as good as invisible, yet not fully transparent.
const QColor VeilColor(255, 255, 255, 1);

} // namespace

OverlaySurface::OverlaySurface(QWidget *parent, const OverlayFrame *frame)
    : QWidget(parent), m_frame(frame)
{
    setWindowFlags(OverlayWindowSystem::overlayWindowFlags());
    setAttribute(Qt::WA_TranslucentBackground, true);
    setAttribute(Qt::WA_TransparentForMouseEvents, true);
    setAttribute(Qt::WA_MouseTracking, true);
    setAttribute(Qt::WA_ShowWithoutActivating, true);
    setFocusPolicy(Qt::NoFocus);
}

void OverlaySurface::cover(QScreen *screen)
{
    m_screen = screen;
    if (!screen)
        return;
    if (QWindow *window = windowHandle())
        window->setScreen(screen);
    // Full screen by geometry as well: without a window manager nobody acts on the
    // full-screen request and the window would keep a default size.
    setGeometry(screen->geometry());
    shownRegionKnown = false;
    update();
}

void OverlaySurface::createOn(QScreen *screen)
{
    cover(screen);
    create();
    cover(screen);
}

bool OverlaySurface::showsEffect() const
{
    return m_screen && m_frame->screen == m_screen;
}

void OverlaySurface::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    using Drawing = OverlayGeometry::ModeTraits::Drawing;
    const Drawing drawing =
        showsEffect() ? OverlayGeometry::modeTraits(m_frame->mode).drawing : Drawing::Clear;
    switch (drawing) {
    case Drawing::Clear:
        paintClear(painter);
        break;
    case Drawing::Shade:
        paintSpotLight(painter);
        break;
    case Drawing::Dot:
        paintLaser(painter);
        break;
    case Drawing::Lens:
        paintMagnifier(painter);
        break;
    case Drawing::Black:
        paintBlackScreen(painter);
        break;
    }
}

void OverlaySurface::paintClear(QPainter &painter)
{
    // Destination-in keeps only what the (cleared) surface holds: everything stays clear.
    painter.setPen(VeilColor);
    painter.setBrush(VeilColor);
    painter.setCompositionMode(QPainter::CompositionMode_DestinationIn);
    painter.fillRect(rect(), m_frame->backColor);
}

void OverlaySurface::paintSpotLight(QPainter &painter)
{
    painter.fillRect(rect(), m_frame->backColor);
    // Scaling the darkening's alpha by the veil's (1/255) cuts an antialiased hole.
    painter.setPen(VeilColor);
    painter.setBrush(VeilColor);
    painter.setCompositionMode(QPainter::CompositionMode_DestinationIn);
    painter.drawEllipse(OverlayGeometry::circleRect(m_frame->pointer, m_frame->radius));
}

void OverlaySurface::paintLaser(QPainter &painter)
{
    painter.fillRect(rect(), VeilColor);
    painter.setPen(m_frame->foreColor);
    painter.setBrush(m_frame->foreColor);
    painter.drawEllipse(OverlayGeometry::circleRect(m_frame->pointer, m_frame->radius));
}

void OverlaySurface::paintMagnifier(QPainter &painter)
{
    const QPoint pointer = m_frame->pointer;
    const int radius = m_frame->radius;
    const double scale = m_frame->scaleRate;
    // The capture is in the screen's device pixels: the piece is cut and enlarged there.
    const double ratio = m_frame->capture.isNull() ? 1.0 : m_frame->capture.devicePixelRatio();
    const QRect source = OverlayGeometry::lensSourceRect(pointer, radius, ratio);
    // QPixmap::copy of an empty rectangle copies the whole capture; the lens is empty then.
    QPixmap piece = source.isEmpty() ? QPixmap() : m_frame->capture.copy(source);
    // The brush's transform alone maps the piece; a ratio on it would scale it once more.
    piece.setDevicePixelRatio(1.0);
    painter.setPen(m_frame->foreColor);
    // Without a capture (or with a magnification that maps nothing) only the ring is drawn.
    if (!piece.isNull() && std::isfinite(scale) && scale > 0.0) {
        QBrush brush(piece);
        brush.setTransform(OverlayGeometry::lensTransform(pointer, radius, scale, ratio));
        painter.setBrush(brush);
    } else {
        painter.setBrush(Qt::NoBrush);
    }
    painter.drawEllipse(OverlayGeometry::circleRect(pointer, radius));
}

void OverlaySurface::paintBlackScreen(QPainter &painter)
{
    painter.fillRect(rect(), QColor(0, 0, 0));
}
