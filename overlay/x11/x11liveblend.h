#pragma once

#include <QImage>
#include <QPoint>
#include <QSize>

// The pure part of reading a window for the live lens: how its pixels go into the picture. No
// X connection here, so it can be checked with plain rows.
namespace X11LiveBlend {

// Puts `size` pixels, rows of 32-bit pixels in the machine's byte order (alpha or padding,
// red, green, blue from the top byte down) `bytesPerLine` apart from `rows`, into `picture`
// (Format_RGB32) with their top left corner at `at`. Without `blend` they are opaque and go
// in as they are. With `blend` (a window with an alpha channel, premultiplied as compositors
// take it) each goes over what the picture holds there: source + destination * (1 - alpha),
// rounded, each channel at most 255.
void paint(QImage &picture, const uchar *rows, int bytesPerLine, QSize size, QPoint at, bool blend);

} // namespace X11LiveBlend
