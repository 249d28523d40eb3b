#pragma once

#include <QPoint>
#include <QRect>

#include <vector>

// The pure part of the live lens on X11: which area of the root window the lens magnifies,
// and which top-level windows have to be read to show that area as the screen shows it
// beneath the overlay. No X connection here, so both can be checked with plain rows.
namespace X11LiveArea {

// The part of the screen the lens shows, in the root window's device pixels. `pointer` and
// `screen` are in root device pixels, `radius` is the lens's radius in logical pixels of a
// screen with `ratio` device pixels per logical one, and `scale` the magnification. The lens
// shows the square of side 2 * radius * ratio / scale centred on the pointer, widened to
// whole pixels on every side, and cut to `screen`. Empty for a magnification that shows
// nothing (zero, negative, not a number) and when the square lies off the screen.
QRect sourceRect(QPoint pointer, int radius, double ratio, double scale, const QRect &screen);

// A direct child of the root window as the server stacks it.
struct StackedWindow
{
    unsigned long id = 0;
    bool inputOutput = true; // false for InputOnly windows, which have no pixels
    bool viewable = false;   // mapped, as are its ancestors (the root)
    QRect geometry;          // inside the border, in root coordinates
    int depth = 24;          // 32: the window has an alpha channel and is blended
};

struct Pick
{
    // To be painted bottom to top, each cut to the area.
    std::vector<StackedWindow> windows;
    // Whether anything of the desktop's background shows between or through them.
    bool background = true;
};

// The windows that make up `area` beneath the overlay: from `stack` (bottom to top, as
// XQueryTree lists them) those that are viewable InputOutput windows, meet the area and are
// not in `own` (the top-level windows of the overlay, which must never show in its own lens).
// Windows whose part of the area is hidden by opaque windows above are left out, and so is
// the background where opaque windows cover the whole area.
Pick windowsBeneath(const std::vector<StackedWindow> &stack, const std::vector<unsigned long> &own,
                    const QRect &area);

} // namespace X11LiveArea
