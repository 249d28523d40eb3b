#pragma once

#include <QImage>
#include <QPixmap>
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
// not fit in `bytes` or the stride is shorter than a row. With `reuse`, the picture it holds
// is written over where nobody else holds it and has the size, and `reuse` then holds the new
// picture too.
QImage fromRaw(const uchar *data, qsizetype bytes, QSize size, int stride, PixelLayout layout,
               QImage *reuse = nullptr);

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

// The desktop a picture of it is cut from: the device rectangles of a screen's virtual
// siblings, the one of the screen wanted, and what they make together.
struct Desktop
{
    QVector<QRect> screens;
    QRect screen;
    QRect bounds;
};
Desktop desktopOf(const QScreen *screen);
// A desktop of the one screen `screen` alone, for a picture of that screen only.
Desktop screenAlone(const QScreen *screen);

// Why a picture of `picture` pixels cannot be one of `desktop` ("is a picture of 16000x16000
// pixels, not one of the 1280x800 desktop"); empty when it can (isAboutSize()).
QString sizeMismatch(QSize picture, const Desktop &desktop);

// The part of `picture`, a picture of the whole `desktop`, that shows its wanted screen, in
// the picture's own pixels, its pixel ratio set so that it covers `logicalWidth` (the
// screen's width in Qt's coordinates). Null, with `why` set, when the picture is not one of
// that desktop or does not show the screen.
QPixmap screenPicture(const QImage &picture, const Desktop &desktop, int logicalWidth,
                      QString *why);

} // namespace FramePicture
