#pragma once

#include <QMetaType>

// What the device thread reports to the settings window. With HidKeyEvent the int
// parameter carries (key byte << 8) | 0xFE; the other two carry 0.
enum HidStatus : int {
    HidConnected = 0,
    HidDisconnected = 1,
    HidKeyEvent = 2,
};

Q_DECLARE_METATYPE(HidStatus)

// Bits of the key byte of a poll answer.
enum KeyBit : int {
    KeyModeSwitch = 0x01,
    KeySizeUp = 0x02,
    KeySizeDown = 0x04,
    KeyBlackScreen = 0x08,
    KeyEffectHeld = 0x10,
};
