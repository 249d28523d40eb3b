#pragma once

#include "presenter/screenmode.h"

#include <QColor>
#include <QImage>
#include <QPixmap>
#include <QPoint>
#include <QPointer>
#include <QScreen>

// One frame of the effect, worked out before any window repaints. The overlay's windows
// only draw it: painting reads this and changes nothing.
struct OverlayFrame final
{
    ScreenMode mode = ModeNormal;
    // The screen the effect is on; the windows on the other screens draw nothing.
    QPointer<QScreen> screen;
    // The pointer in that screen's logical coordinates.
    QPoint pointer;
    int radius = 0;
    QColor foreColor;
    QColor backColor;
    double scaleRate = 2.0;
    // A capture of `screen` in its device pixels, or of a part of it whose top left corner
    // lies at `captureOrigin`; null when there is none of that screen.
    QPixmap capture;
    QPoint captureOrigin;
    // A live picture of just the part the lens magnifies, in the same device pixels, with its
    // top left corner at `liveOrigin`; the lens draws it rather than `capture` when set.
    QImage live;
    QPoint liveOrigin;
};
