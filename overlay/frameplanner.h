#pragma once

#include "overlay/windowpresence.h"
#include "presenter/screenmode.h"

#include <QColor>
#include <QPoint>
#include <QRect>
#include <QRegion>

#include <vector>

// Works out what every screen shows for one moment: the effect's screen, what is drawn there,
// what the window system shows of each overlay window, the pointer shape, and whether the
// pointer has to be followed. Pure: screens are plain rectangles and ratios, so every decision
// of the per-mode table (OverlayGeometry::modeTraits) can be checked without a window.
//
// It does not keep anything between frames; the caller hands back what the last frame chose
// (the screen) and keeps the settings and the lens's picture itself.
namespace FramePlanner {

struct Screen
{
    QRect geometry; // logical, global coordinates
    double ratio = 1.0;
    double refreshRate = 60.0;
};

// Where the lens's picture stands.
struct Lens
{
    // The lens draws nothing until its picture comes (asked for and not there yet, or a
    // route that cannot answer).
    bool waitsForPicture = false;
    // The screen the picture shows (an index into the screens), -1 for none. Where the
    // route answers later, the lens draws nothing over any other screen.
    int pictureScreen = -1;
    bool onlyOverPictureScreen = false;
};

struct Input
{
    ScreenMode mode = ModeNormal; // what is displayed; not the selected mode
    QColor foreColor;
    QColor backColor;
    int foreOpacity = 255;
    int backOpacity = 255;
    int radius = 0;
    double scaleRate = 2.0;
    QPoint pointer; // global, logical
    std::vector<Screen> screens;
    // The screen of the last frame, and whether this frame picks the screen again.
    int lastScreen = -1;
    bool pickScreen = true;
    Lens lens;
    bool compositing = true;
    // False while the window system may report an old pointer position.
    bool pointerKnown = true;
};

enum class PointerShape { Unchanged, Arrow, Hidden };

struct Plan
{
    int screen = -1;
    // What is drawn on `screen` (ModeNormal: nothing anywhere).
    ScreenMode mode = ModeNormal;
    // In the logical coordinates of `screen`.
    QPoint pointer;
    int radius = 0;
    // The effect's colours with the opacity of the effect that is displayed applied; they
    // keep it (the lens's ring shows the alpha the laser dot left in the fore colour).
    QColor foreColor;
    QColor backColor;
    double scaleRate = 2.0;
    // The lens draws the picture of `screen`.
    bool showsPicture = false;
    // The picture moves with the pointer: the pointer is followed while this holds.
    bool followsPointer = false;
    int followIntervalMs = 16;
    PointerShape pointerShape = PointerShape::Unchanged;
    // Per screen, in the order of Input::screens.
    std::vector<WindowPresence> presence;
    std::vector<QRegion> shownRegion; // device pixels of the screen's window
};

Plan plan(const Input &input);

// The screen under `global`, or the nearest one when it is over none; -1 without screens.
int screenUnder(QPoint global, const std::vector<Screen> &screens);

// What to repaint of screen `screen`'s window (logical size `area`) going from `before` to
// `after` when only the pointer moved, or (`pictureRefreshed`) the lens's picture changed as
// well: a part of the window, the whole of it, or nothing.
QRegion repaintRegion(const Plan &before, const Plan &after, int screen, const QRect &area,
                      bool onlyPointerMoved, bool pictureRefreshed = false);

} // namespace FramePlanner
