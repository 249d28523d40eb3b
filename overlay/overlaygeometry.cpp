#include "overlay/overlaygeometry.h"

#include "presenter/screenmode.h"

#include <algorithm>
#include <cmath>

namespace OverlayGeometry {

QRect circleRect(QPoint centre, int radius)
{
    return QRect(centre.x() - radius, centre.y() - radius, 2 * radius, 2 * radius);
}

QRegion discRegion(const QRect &box)
{
    if (box.isEmpty())
        return QRegion();
    const double cx = box.x() + box.width() / 2.0;
    const double cy = box.y() + box.height() / 2.0;
    const double a = box.width() / 2.0;
    const double b = box.height() / 2.0;
    QRegion disc;
    // Rows with the same span are merged into one rectangle.
    QRect run;
    for (int row = box.top(); row <= box.bottom(); ++row) {
        const double dy = (row + 0.5 - cy) / b;
        QRect span;
        if (dy * dy <= 1.0) {
            const double half = a * std::sqrt(1.0 - dy * dy);
            const int left = static_cast<int>(std::ceil(cx - half - 0.5));
            const int right = static_cast<int>(std::floor(cx + half - 0.5));
            if (right >= left)
                span = QRect(left, row, right - left + 1, 1);
        }
        if (!run.isEmpty() && !span.isEmpty() && span.left() == run.left() &&
            span.right() == run.right()) {
            run.setBottom(row);
            continue;
        }
        disc += run;
        run = span;
    }
    disc += run;
    return disc;
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
        // Nothing drawn. A compositor shows the transparent window as it is, and a window
        // shape that comes and goes would have to be followed by every compositor.
        return compositing ? QRegion(overlay) : QRegion();
    }
    if (compositing)
        return QRegion(overlay);

    const QRect circle = circleRect(pointer, radius);
    if (mode == ModeSpotLight)
        return QRegion(overlay).subtracted(discRegion(circle));
    // The dot and the lens keep their one-pixel outline, which lies half outside the circle.
    return discRegion(circle.adjusted(-1, -1, 1, 1)).intersected(overlay);
}

int frameIntervalMs(double refreshRate)
{
    if (!std::isfinite(refreshRate) || refreshRate < 1.0 || refreshRate > 1000.0)
        refreshRate = 60.0;
    return std::max(1, static_cast<int>(1000.0 / refreshRate));
}

} // namespace OverlayGeometry
