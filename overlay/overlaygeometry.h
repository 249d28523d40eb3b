#pragma once

#include <QPoint>
#include <QRect>
#include <QRegion>
#include <QTransform>

// Where the overlay's effects land on the screen. Kept apart from the widget so that the
// circle boxes, the lens mapping, the dirty areas and the window shape can be checked
// without a window. Modes are passed as plain integers because the overlay must cope with
// values outside the known modes (they draw nothing).
namespace OverlayGeometry {

// Pixels round an effect's circle that antialiasing and the one-pixel pen may still touch.
inline constexpr int AntialiasMargin = 2;

// The box whose inscribed ellipse is the effect circle of `radius` centred on `centre`:
// left centre.x - radius, top centre.y - radius, width and height 2 * radius.
QRect circleRect(QPoint centre, int radius);

// The pixels whose centres lie inside the ellipse inscribed in `box`, as a region; exact to
// the pixel, unlike the polygon behind QRegion::Ellipse.
QRegion discRegion(const QRect &box);

// Every decision the overlay makes per mode, in one table (modeTraits). A mode outside the
// table draws nothing and leaves the pointer shape alone.
struct ModeTraits
{
    enum class Drawing { Clear, Shade, Dot, Lens, Black };
    // What the window system must show of the window when no compositor blends it.
    enum class Shown { Nothing, Whole, AllButDisc, Disc };
    enum class Pointer { Arrow, Hidden, Unchanged };

    Drawing drawing;
    Shown shown;
    Pointer pointer;
    // The picture moves with the pointer, from screen to screen; the others stay on the
    // screen that was under the pointer when they were displayed.
    bool followsPointer;
    // Something is on the screen: it has to be cleared before the screen is captured.
    bool drawsSomething;
};
const ModeTraits &modeTraits(int mode);

// Whether the picture of `mode` moves with the pointer (spotlight, laser dot, lens).
bool followsPointer(int mode);

// `rect` (logical pixels) in the device pixels of a surface with `ratio` device pixels per
// logical one: every device pixel the rectangle touches.
QRect toDevice(const QRect &rect, double ratio);

// The box of the effect circle in device pixels, rounded to the nearest pixel edge, so its
// centre lies within half a device pixel of the pointer's device position.
QRect deviceCircleRect(QPoint centre, int radius, double ratio);

// The part of the overlay in which a paint of `mode` at `pointer` can differ from a paint at
// any other pointer position; empty for modes that do not follow the pointer.
QRect effectBounds(int mode, QPoint pointer, int radius);

// What to repaint when only the pointer moved from `from` to `to`: the effect's old and new
// bounds, limited to the overlay. Repainting just this gives the same pixels as a full paint.
QRegion pointerMoveRegion(int mode, QPoint from, QPoint to, int radius, const QRect &overlay);

// The square of the screen capture that the lens enlarges (before it is cut to the capture),
// in the capture's device pixels; `ratio` is the capture's device pixels per logical one.
QRect lensSourceRect(QPoint pointer, int radius, double ratio = 1.0);

// Maps the piece copied from the capture into the lens (logical coordinates): its pixel
// (u, v) lands on (x - r*s + s*u/ratio, y - r*s + s*v/ratio), so each captured device pixel
// becomes s device pixels and nothing is scaled down first. When the copy was cut at the
// capture's left or top edge, the piece starts there, so the image in the lens shifts; the
// transform stays as it is.
QTransform lensTransform(QPoint pointer, int radius, double scale, double ratio = 1.0);

// The part of the overlay window the screen should show for a frame of `mode`. With a
// compositing manager that is always the whole window (translucent pixels blend with the
// desktop). Without one, translucent pixels come out black, so only what the effect really
// covers is shown: the darkening round the spotlight's hole, the laser dot, the lens, the
// black screen; nothing at all when no effect is displayed. `overlay`, `pointer` and `radius`
// are logical; the region is in the device pixels of a window with `ratio`.
QRegion shownRegion(int mode, const QRect &overlay, QPoint pointer, int radius, bool compositing,
                    double ratio = 1.0);

// Milliseconds between two pointer samples for a display of `refreshRate` frames a second;
// an unknown or absurd rate falls back to 60 Hz.
int frameIntervalMs(double refreshRate);

} // namespace OverlayGeometry
