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

const ModeTraits &modeTraits(int mode)
{
    using D = ModeTraits::Drawing;
    using S = ModeTraits::Shown;
    using P = ModeTraits::Pointer;
    static const ModeTraits table[] = {
        /* ModeNormal      */ {D::Clear, S::Nothing, P::Arrow, false, false},
        /* ModeSpotLight   */ {D::Shade, S::AllButDisc, P::Hidden, true, true},
        /* ModeLaser       */ {D::Dot, S::Disc, P::Hidden, true, true},
        /* ModeMagnifier   */ {D::Lens, S::Disc, P::Hidden, true, true},
        /* ModeBlackScreen */ {D::Black, S::Whole, P::Unchanged, false, true},
    };
    static const ModeTraits unknown{D::Clear, S::Nothing, P::Unchanged, false, false};
    constexpr int count = static_cast<int>(sizeof table / sizeof table[0]);
    return mode >= 0 && mode < count ? table[mode] : unknown;
}

bool followsPointer(int mode)
{
    return modeTraits(mode).followsPointer;
}

QRect toDevice(const QRect &rect, double ratio)
{
    if (ratio == 1.0 || rect.isEmpty())
        return rect;
    const int left = static_cast<int>(std::floor(rect.x() * ratio));
    const int top = static_cast<int>(std::floor(rect.y() * ratio));
    const int right = static_cast<int>(std::ceil((rect.x() + rect.width()) * ratio));
    const int bottom = static_cast<int>(std::ceil((rect.y() + rect.height()) * ratio));
    return QRect(left, top, right - left, bottom - top);
}

QRect deviceCircleRect(QPoint centre, int radius, double ratio)
{
    if (ratio == 1.0)
        return circleRect(centre, radius);
    const int left = static_cast<int>(std::lround((centre.x() - radius) * ratio));
    const int top = static_cast<int>(std::lround((centre.y() - radius) * ratio));
    const int side = static_cast<int>(std::lround(2 * radius * ratio));
    return QRect(left, top, side, side);
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

QRect lensSourceRect(QPoint pointer, int radius, double ratio)
{
    return deviceCircleRect(pointer, radius, ratio);
}

QTransform lensTransform(QPoint pointer, int radius, double scale, double ratio)
{
    QTransform transform;
    transform.translate(pointer.x() - radius * scale, pointer.y() - radius * scale);
    transform.scale(scale / ratio, scale / ratio);
    return transform;
}

QRegion shownRegion(int mode, const QRect &overlay, QPoint pointer, int radius, bool compositing,
                    double ratio)
{
    const QRect window = toDevice(overlay, ratio);
    // A compositor shows the transparent window as it is; with nothing drawn a window shape
    // that comes and goes would have to be followed by every compositor.
    if (compositing)
        return QRegion(window);
    const QRect circle = deviceCircleRect(pointer, radius, ratio);
    // The one-pixel outline of the dot and the lens lies half outside the circle.
    const int pen = static_cast<int>(std::ceil(ratio));
    switch (modeTraits(mode).shown) {
    case ModeTraits::Shown::Nothing:
        return QRegion();
    case ModeTraits::Shown::Whole:
        return QRegion(window);
    case ModeTraits::Shown::AllButDisc:
        return QRegion(window).subtracted(discRegion(circle));
    case ModeTraits::Shown::Disc:
        break;
    }
    return discRegion(circle.adjusted(-pen, -pen, pen, pen)).intersected(window);
}

int frameIntervalMs(double refreshRate)
{
    if (!std::isfinite(refreshRate) || refreshRate < 1.0 || refreshRate > 1000.0)
        refreshRate = 60.0;
    return std::max(1, static_cast<int>(1000.0 / refreshRate));
}

} // namespace OverlayGeometry
