#pragma once

#include <QColor>

// The values the settings window restores when it is built, read in one pass over the
// file. Values are taken as stored: nothing is clamped to the controls' ranges here.
struct StoredSettings final
{
    int curMode = 0;
    QColor foreColor;
    QColor backColor;
    int foreOpacity = 0;
    int backOpacity = 0;
    int spotSize = 0;
    int laserSize = 0;
    int magnifierSize = 0;
    int sleepTime = 0;
};
