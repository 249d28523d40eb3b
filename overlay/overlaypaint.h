#pragma once

#include <QRect>
#include <QRegion>

struct OverlayFrame;
class QImage;
class QPainter;

// The effect's picture, drawn the same way by every kind of overlay surface: the Qt windows
// and the layer-shell surfaces of the native Wayland overlay. It reads the frame and changes
// nothing.
namespace OverlayPaint {

// Paints `frame` into `painter` over `area` (logical pixels, the surface's whole area, in the
// coordinates of the frame's screen). The painter's device is fully transparent where it has
// not been painted yet. `showsEffect` is false on surfaces of other screens: they stay clear.
void paint(QPainter &painter, const OverlayFrame &frame, const QRect &area, bool showsEffect);

// Repaints `region` (logical pixels) of `image`, a surface's buffer with its device pixel
// ratio set: clears the region to transparent, then paints the frame inside it. An empty
// region repaints nothing.
void repaint(QImage &image, const OverlayFrame &frame, bool showsEffect, const QRegion &region);

} // namespace OverlayPaint
