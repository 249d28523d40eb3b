#include "overlay/frameplanner.h"

#include "overlay/overlaygeometry.h"

#include <algorithm>
#include <climits>

namespace FramePlanner {

using OverlayGeometry::ModeTraits;
using OverlayGeometry::modeTraits;
using Presence = WindowPresence;

int screenUnder(QPoint global, const std::vector<Screen> &screens)
{
    for (std::size_t i = 0; i < screens.size(); ++i) {
        if (screens[i].geometry.contains(global))
            return int(i);
    }
    // Off every screen (between screens of different scales, or a test's pointer beyond the
    // edge): the nearest one, the first of equals.
    int nearest = screens.empty() ? -1 : 0;
    int best = INT_MAX;
    for (std::size_t i = 0; i < screens.size(); ++i) {
        const QRect area = screens[i].geometry;
        const int dx = std::max({area.left() - global.x(), 0, global.x() - area.right()});
        const int dy = std::max({area.top() - global.y(), 0, global.y() - area.bottom()});
        if (dx + dy < best) {
            best = dx + dy;
            nearest = int(i);
        }
    }
    return nearest;
}

Plan plan(const Input &in)
{
    Plan p;
    const ModeTraits &traits = modeTraits(in.mode);
    const int count = int(in.screens.size());
    p.screen = in.lastScreen;
    if (in.pickScreen || traits.followsPointer || p.screen < 0 || p.screen >= count)
        p.screen = screenUnder(in.pointer, in.screens);

    p.foreColor = in.foreColor;
    p.backColor = in.backColor;
    if (traits.drawing == ModeTraits::Drawing::Shade)
        p.backColor.setAlpha(in.backOpacity);
    else if (traits.drawing == ModeTraits::Drawing::Dot)
        p.foreColor.setAlpha(in.foreOpacity);

    // A lens without the picture of its screen draws nothing (it shows again when the
    // pointer comes back onto the screen of the picture).
    const bool lens = in.mode == ModeMagnifier;
    const bool noPicture = lens && in.lens.waitsForPicture;
    const bool otherScreen =
        lens && !noPicture && in.lens.onlyOverPictureScreen && in.lens.pictureScreen != p.screen;
    p.mode = noPicture || otherScreen ? ModeNormal : in.mode;
    p.pointer = p.screen >= 0 ? in.pointer - in.screens[p.screen].geometry.topLeft() : in.pointer;
    p.radius = in.radius;
    p.scaleRate = in.scaleRate;
    p.showsPicture = in.lens.pictureScreen >= 0 && in.lens.pictureScreen == p.screen;

    p.followsPointer = traits.followsPointer;
    p.followIntervalMs =
        OverlayGeometry::frameIntervalMs(p.screen >= 0 ? in.screens[p.screen].refreshRate : 60.0);

    switch (modeTraits(p.mode).pointer) {
    case ModeTraits::Pointer::Unchanged:
        p.pointerShape = PointerShape::Unchanged;
        break;
    case ModeTraits::Pointer::Arrow:
        p.pointerShape = PointerShape::Arrow;
        break;
    case ModeTraits::Pointer::Hidden:
        p.pointerShape = PointerShape::Hidden;
        break;
    }

    // An effect that follows the pointer may move onto any screen: every window watches.
    const bool following = traits.followsPointer && !noPicture;
    const bool drawn = modeTraits(p.mode).drawsSomething;
    for (int i = 0; i < count; ++i) {
        Presence presence = Presence::Idle;
        if (following)
            presence = Presence::FollowingPointer;
        else if (drawn && i == p.screen)
            presence = Presence::Shown;
        p.presence.push_back(presence);
    }
    // Until the window system knows where the pointer is, the effect would be drawn where the
    // pointer was long ago.
    if (following && !in.pointerKnown)
        p.mode = ModeNormal;

    for (int i = 0; i < count; ++i) {
        const Screen &screen = in.screens[i];
        const int mode = i == p.screen ? int(p.mode) : int(ModeNormal);
        p.shownRegion.push_back(
            OverlayGeometry::shownRegion(mode, QRect(QPoint(), screen.geometry.size()), p.pointer,
                                         p.radius, in.compositing, screen.ratio));
    }
    return p;
}

QRegion repaintRegion(const Plan &before, const Plan &after, int screen, const QRect &area,
                      bool onlyPointerMoved, bool pictureRefreshed)
{
    if (screen != before.screen && screen != after.screen)
        return QRegion();
    const bool onlyMoved = onlyPointerMoved && before.screen == after.screen &&
                           before.mode == after.mode && before.radius == after.radius &&
                           before.scaleRate == after.scaleRate;
    // Nothing and the lens leave the window clear beyond the lens: going from one to the
    // other, or changing the lens (its size, magnification, colour, picture), changes it only
    // where the lens was and is. A 4K window painted whole for a lens press costs frames.
    const auto clearBeyond = [](ScreenMode mode) {
        const ModeTraits::Drawing drawing = modeTraits(mode).drawing;
        return drawing == ModeTraits::Drawing::Clear || drawing == ModeTraits::Drawing::Lens;
    };
    // Nothing to nothing on the same screen (a lens waiting for its picture) changes nothing.
    const auto clear = [](ScreenMode mode) {
        return modeTraits(mode).drawing == ModeTraits::Drawing::Clear;
    };
    const bool lens = before.mode == ModeMagnifier || after.mode == ModeMagnifier ||
                      (clear(before.mode) && clear(after.mode) && before.screen >= 0);
    if (!onlyMoved && lens && before.screen == after.screen && clearBeyond(before.mode) &&
        clearBeyond(after.mode)) {
        QRegion region(OverlayGeometry::effectBounds(before.mode, before.pointer, before.radius));
        region += OverlayGeometry::effectBounds(after.mode, after.pointer, after.radius);
        return region & area;
    }
    if (!onlyMoved)
        return area;
    QRegion region = OverlayGeometry::pointerMoveRegion(after.mode, before.pointer, after.pointer,
                                                        after.radius, area);
    // A new picture beneath a lens that stayed put changes the lens alone.
    if (pictureRefreshed)
        region += OverlayGeometry::effectBounds(after.mode, after.pointer, after.radius) & area;
    return region;
}

} // namespace FramePlanner
