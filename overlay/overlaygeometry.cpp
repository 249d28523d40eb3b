#include "overlay/overlaygeometry.h"

#include "overlay/screenmode.h"

#include <algorithm>
#include <cmath>

namespace OverlayGeometry {

QRect circleRect(QPoint centre, int radius)
{
    return QRect(centre.x() - radius, centre.y() - radius, 2 * radius, 2 * radius);
}

bool followsPointer(int mode)
{
    return mode == ModeSpotLight || mode == ModeLaser || mode == ModeMagnifier;
}

QRect effectBounds(int mode, QPoint pointer, int radius)
{
    if (!followsPointer(mode))
        return QRect();
    const int m = AntialiasMargin;
    return circleRect(pointer, radius).adjusted(-m, -m, m, m);
}

QRegion pointerMoveRegion(int mode, QPoint from, QPoint to, int radius, const QRect &overlay)
{
    if (from == to)
        return QRegion();
    QRegion region(effectBounds(mode, from, radius));
    region += effectBounds(mode, to, radius);
    return region.intersected(overlay);
}

QRect lensSourceRect(QPoint pointer, int radius)
{
    return circleRect(pointer, radius);
}

QTransform lensTransform(QPoint pointer, int radius, double scale)
{
    QTransform transform;
    transform.translate(pointer.x() - radius * scale, pointer.y() - radius * scale);
    transform.scale(scale, scale);
    return transform;
}

QRegion shownRegion(int mode, const QRect &overlay, QPoint pointer, int radius, bool compositing)
{
    switch (mode) {
    case ModeSpotLight:
    case ModeLaser:
    case ModeMagnifier:
        break;
    case ModeBlackScreen:
        return QRegion(overlay);
    default:
        return QRegion();
    }
    if (compositing)
        return QRegion(overlay);

    const QRect circle = circleRect(pointer, radius);
    const QRegion disc = circle.isEmpty() ? QRegion() : QRegion(circle, QRegion::Ellipse);
    if (mode == ModeSpotLight)
        return QRegion(overlay).subtracted(disc);
    return disc.intersected(overlay);
}

int frameIntervalMs(double refreshRate)
{
    if (!std::isfinite(refreshRate) || refreshRate < 1.0 || refreshRate > 1000.0)
        refreshRate = 60.0;
    return std::max(1, static_cast<int>(1000.0 / refreshRate));
}

} // namespace OverlayGeometry
