#pragma once

#include "presenter/screenmode.h"

#include <QColor>

// Everything the overlay needs to draw an effect: the mode and how it looks. The defaults
// are those of a settings file that does not have the keys yet.
struct EffectSettings final
{
    ScreenMode mode = ModeNormal;
    QColor foreColor{255, 0, 0};
    QColor backColor{0, 0, 0};
    int foreOpacity = 200;
    int backOpacity = 200;
    int cursorSize = 50;
    double scaleRate = 2.0;
};
