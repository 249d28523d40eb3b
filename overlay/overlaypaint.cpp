#include "overlay/overlaypaint.h"

#include "overlay/overlayframe.h"
#include "overlay/overlaygeometry.h"

#include <QBrush>
#include <QImage>
#include <QPainter>

#include <cmath>

namespace {

using Drawing = OverlayGeometry::ModeTraits::Drawing;

// White with alpha 1: as good as invisible, yet not fully transparent.
const QColor VeilColor(255, 255, 255, 1);

void paintClear(QPainter &painter, const OverlayFrame &frame, const QRect &area)
{
    // Destination-in keeps only what the (cleared) surface holds: everything stays clear.
    painter.setPen(VeilColor);
    painter.setBrush(VeilColor);
    painter.setCompositionMode(QPainter::CompositionMode_DestinationIn);
    painter.fillRect(area, frame.backColor);
}

void paintSpotLight(QPainter &painter, const OverlayFrame &frame, const QRect &area)
{
    painter.fillRect(area, frame.backColor);
    // Scaling the darkening's alpha by the veil's (1/255) cuts an antialiased hole.
    painter.setPen(VeilColor);
    painter.setBrush(VeilColor);
    painter.setCompositionMode(QPainter::CompositionMode_DestinationIn);
    painter.drawEllipse(OverlayGeometry::circleRect(frame.pointer, frame.radius));
}

void paintLaser(QPainter &painter, const OverlayFrame &frame, const QRect &area)
{
    painter.fillRect(area, VeilColor);
    painter.setPen(frame.foreColor);
    painter.setBrush(frame.foreColor);
    painter.drawEllipse(OverlayGeometry::circleRect(frame.pointer, frame.radius));
}

void paintMagnifier(QPainter &painter, const OverlayFrame &frame)
{
    const QPoint pointer = frame.pointer;
    const int radius = frame.radius;
    const double scale = frame.scaleRate;
    // Both pictures are in the screen's device pixels: the piece is cut and enlarged there.
    // The capture says its own ratio. The live picture is read from the X server, which knows
    // nothing of Qt's scaling: it is in the device pixels of the screen painted on, whatever
    // ratio the image itself carries.
    const bool live = !frame.live.isNull();
    const double ratio = live                     ? painter.device()->devicePixelRatioF()
                         : frame.capture.isNull() ? 1.0
                                                  : frame.capture.devicePixelRatio();
    const QRect source = OverlayGeometry::lensSourceRect(pointer, radius, ratio);
    // QPixmap::copy of an empty rectangle copies the whole capture; the lens is empty then.
    // The live picture holds the magnified part only and is cut to the screen: the piece keeps
    // its place (what lies beyond the screen's edge is shown beyond the lens's edge too).
    QBrush brush;
    if (source.isEmpty()) {
    } else if (live) {
        QImage piece = frame.live.copy(source.translated(-frame.liveOrigin));
        piece.setDevicePixelRatio(1.0);
        brush = QBrush(piece);
    } else if (!frame.captureOrigin.isNull()) {
        // A part of the screen: cut as the live picture, so the piece keeps its place.
        QImage piece = frame.capture.toImage().copy(source.translated(-frame.captureOrigin));
        piece.setDevicePixelRatio(1.0);
        brush = QBrush(piece);
    } else {
        QPixmap piece = frame.capture.copy(source);
        // The brush's transform alone maps the piece; a ratio on it would scale it once more.
        piece.setDevicePixelRatio(1.0);
        if (!piece.isNull())
            brush = QBrush(piece);
    }
    painter.setPen(frame.foreColor);
    // Without a capture (or with a magnification that maps nothing) only the ring is drawn.
    if (brush.style() == Qt::TexturePattern && std::isfinite(scale) && scale > 0.0) {
        brush.setTransform(OverlayGeometry::lensTransform(pointer, radius, scale, ratio));
        painter.setBrush(brush);
    } else {
        painter.setBrush(Qt::NoBrush);
    }
    painter.drawEllipse(OverlayGeometry::circleRect(pointer, radius));
}

} // namespace

namespace OverlayPaint {

void paint(QPainter &painter, const OverlayFrame &frame, const QRect &area, bool showsEffect)
{
    painter.setRenderHint(QPainter::Antialiasing);
    const Drawing drawing =
        showsEffect ? OverlayGeometry::modeTraits(frame.mode).drawing : Drawing::Clear;
    switch (drawing) {
    case Drawing::Clear:
        paintClear(painter, frame, area);
        break;
    case Drawing::Shade:
        paintSpotLight(painter, frame, area);
        break;
    case Drawing::Dot:
        paintLaser(painter, frame, area);
        break;
    case Drawing::Lens:
        paintMagnifier(painter, frame);
        break;
    case Drawing::Black:
        painter.fillRect(area, QColor(0, 0, 0));
        break;
    }
}

void repaint(QImage &image, const OverlayFrame &frame, bool showsEffect, const QRegion &region)
{
    if (region.isEmpty())
        return;
    QPainter painter(&image);
    painter.setClipRegion(region);
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    painter.fillRect(region.boundingRect(), Qt::transparent);
    painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
    const double ratio = image.devicePixelRatio();
    const QRect area(0, 0, qRound(image.width() / ratio), qRound(image.height() / ratio));
    paint(painter, frame, area, showsEffect);
}

} // namespace OverlayPaint
