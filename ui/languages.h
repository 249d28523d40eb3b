#pragma once

#include <QString>
#include <QStringList>

// The interface texts of the settings window in its twelve languages. The language index is
// the row of the language combo box and the value kept under "language" in Kavri.ini.
namespace Languages {

inline constexpr int Count = 12;
inline constexpr int TextCount = 17;
inline constexpr int German = 0;

// Position of each text in a language's list, and the widget that shows it.
enum TextRole : int {
    WindowTitle = 0,    // title bar and native title
    ModeGroupTitle,     // groupBox_2
    PreviewGroupTitle,  // groupBox_4
    NormalMode,         // radioButton_normal
    SpotLightMode,      // radioButton_spotLight
    LaserMode,          // radioButton_laser
    MagnifierMode,      // radioButton_magnifier
    BackColorCaption,   // label_5
    BackOpacityCaption, // label_6
    ForeColorCaption,   // label_2
    ForeOpacityCaption, // label
    SizeCaption,        // label_7
    ScaleCaption,       // label_9
    TimerCaption,       // label_4
    TimerUnit,          // label_8
    MouseSpeedCaption,  // label_3 (a control that is never shown)
    SetTimerButton,     // pushButton_setTimer
};

constexpr bool isValid(int index)
{
    return index >= 0 && index < Count;
}

// The TextCount texts of one language in TextRole order; empty for an invalid index.
QStringList texts(int index);

// The message of the "insert the dongle" page; empty for an invalid index.
QString insertText(int index);

// What a screen reader says for the title bar's close button; empty for an invalid index.
QString closeButtonName(int index);

// The window's texts beyond the seventeen: the effect key's lock and the notices. A %1 in a
// notice takes a detail as the program has it (a path, a reason).
enum ExtraText : int {
    EffectKeyLockCaption = 0, // checkBox_effectKeyLocks
    EffectKeyLockTip,         // its tool tip
    SettingsNotSavedNotice,   // %1: the settings file
    MagnifierUnavailableNotice, // %1: why
    MagnifierNoCaptureReason, // why, when no reason is known
    UnguardedNotice,          // %1: where the lock could not be made
    ShortcutTakenNotice,      // %1: the key combinations another program holds
    ShortcutsTitle,           // the shortcuts page's title and the tray menu's entry
    ShowWhileHeldCaption,     // the page's rows, one per action
    ToggleCaption,
    NextEffectCaption,
    BlackScreenCaption,
    SizeUpCaption,
    SizeDownCaption,
    ClearShortcutButton,
    ShortcutsHint,            // how to record a combination
    ExtraTextCount
};

// One of those texts in a language; empty for an invalid index.
QString extraText(ExtraText which, int index);

// The language to start in when none is stored: the first of the system's interface languages
// (as QLocale::uiLanguages() lists them, "fr-CA", "pt_BR", "de") that is one of the twelve,
// otherwise German.
int fromUiLanguages(const QStringList &uiLanguages);

} // namespace Languages
