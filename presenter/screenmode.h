#pragma once

#include <QMetaType>

// What the overlay shows. The value is also what "m_curMode" stores. The settings window
// selects 0..3; ModeBlackScreen only ever comes from the presenter's black-screen key.
enum ScreenMode : int {
    ModeNormal = 0,
    ModeSpotLight = 1,
    ModeLaser = 2,
    ModeMagnifier = 3,
    ModeBlackScreen = 4,
};

Q_DECLARE_METATYPE(ScreenMode)
