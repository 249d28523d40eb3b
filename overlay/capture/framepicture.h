#pragma once

#include <QImage>
#include <QRect>
#include <QSize>
#include <QVector>

class QScreen;

// Turning what a capture route receives into the picture the magnifier wants: a frame from a
// stream (raw bytes, any row stride, either row order) into an opaque QImage, and a picture of
// the whole desktop into the part that shows one screen. Pure, so the pixel bookkeeping can
// be checked without a compositor.
namespace FramePicture {

// The byte order of one 32-bit pixel in memory, as the stream names it. The fourth byte is
// alpha or padding; screens are opaque, so it is ignored either way.
enum class PixelLayout { BGRx, BGRA, RGBx, RGBA };

// The frame of `size` pixels whose rows start `stride` bytes apart at `data` (`bytes` long).
// A negative stride means the rows are stored bottom row first, |stride| bytes apart. The
// result is Format_RGB32 with every pixel opaque, top row first; null when the layout does
// not fit in `bytes` or the stride is shorter than a row.
QImage fromRaw(const uchar *data, qsizetype bytes, QSize size, int stride, PixelLayout layout);

// The rectangle of `picture` (pixels) showing the screen whose device rectangle is `screen`,
// when the picture shows the whole desktop made of the `screens` device rectangles. A picture
// that is larger or smaller than the desktop (a compositor scaling it) is mapped by its
// scale, without scaling the picture itself. Empty when `screen` is not on the picture.
QRect screenPart(QSize picture, const QVector<QRect> &screens, const QRect &screen);

// How much larger (or smaller) than the desktop Kavri sees a picture of it may be: a
// compositor scaling the desktop hands its picture in its own pixels, twice the desktop's at
// a scale of 2. The bound also caps what a picture handed in may cost to decode.
constexpr double MaxPictureScale = 2.0;

// Whether a picture of `picture` pixels can be one of the whole desktop of `desktop` pixels:
// the desktop's shape, at most MaxPictureScale times larger or smaller (1 % either way).
bool isAboutSize(QSize picture, QSize desktop);

// A screen's rectangle in device pixels on the desktop. Qt keeps a screen's top-left corner
// in device pixels and scales its size only, on X11 and Wayland alike.
QRect deviceRect(const QRect &geometry, double ratio);
QRect deviceRect(const QScreen *screen);

} // namespace FramePicture
