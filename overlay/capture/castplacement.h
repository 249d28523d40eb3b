#pragma once

#include <QImage>
#include <QPoint>
#include <QRect>

#include <optional>

// Where the frames of a window's cast lie on the screen, and the lens's picture made of them.
// The cast says nothing of the window's place: a frame of the screen's size fills the screen
// (a slideshow, a full-screen video); any other is looked for in a picture of the screen taken
// a moment before. Pure, so it can be checked with plain pictures.
namespace CastPlacement {

// The top left corner of `frame` in `screen`, a picture of the whole screen (device pixels).
// A frame of the screen's size lies at (0, 0). Otherwise a grid of the frame's pixels is
// matched at every place where the whole frame lies on the screen; most of them must match
// (what the window shows may have changed since `screen` was taken), and the best place must
// match better than any other, or else it is none: a frame too plain to tell where it is, a
// window partly off the screen or covered, a screen picture from before the window came.
std::optional<QPoint> place(const QImage &frame, const QImage &screen);

// The picture of `area` (device pixels of the screen) for the lens: `screen`, a picture whose
// top left corner lies at `screenOrigin`, with `frame` over it at `at` when it has a place.
// Format_RGB32; what neither covers is black.
QImage compose(const QImage &screen, QPoint screenOrigin, const QImage &frame,
               const std::optional<QPoint> &at, const QRect &area);

} // namespace CastPlacement
