#pragma once

#include <QtGlobal>

// One key of the settings file: its name, the type its value is kept in and the value used
// while the file does not have the key. Defaults are never written back.
template <typename T> struct SettingKey final
{
    const char *name;
    T defaultValue;
};

// A colour as the file keeps it: QColor::rgb(), 0xAARRGGBB with the alpha byte always 0xFF.
using StoredColor = quint32;

// A text value; the default is given as UTF-8.
using StoredText = const char *;

// Everything Kavri keeps in its INI file: top-level keys, and the keyboard shortcuts in their
// own [Shortcuts] group ("Shortcuts/" in the name). How a value is written is decided by its
// type: int and double as numbers, a colour as an unsigned number (up to 4294967295), a bool
// as true or false, a text as it is.
namespace SettingsKeys {

inline constexpr char FileName[] = "Kavri.ini";

inline constexpr SettingKey<int> CurMode{"m_curMode", 0};
inline constexpr SettingKey<StoredColor> ForeColor{"m_foreColor", 0xFFFF0000u}; // opaque red
inline constexpr SettingKey<StoredColor> BackColor{"m_backColor", 0xFF000000u}; // opaque black
inline constexpr SettingKey<int> ForeOpacity{"m_foreOpacity", 200};
inline constexpr SettingKey<int> BackOpacity{"m_backOpacity", 200};
inline constexpr SettingKey<int> SpotSize{"m_spotSize", 50};
inline constexpr SettingKey<int> LaserSize{"m_laserSize", 10};
inline constexpr SettingKey<int> MagnifierSize{"m_magnifierSize", 50};
inline constexpr SettingKey<double> ScaleRate{"m_scaleRate", 2.0};
inline constexpr SettingKey<int> SleepTime{"m_sleepTime", 5};
inline constexpr SettingKey<double> Speed{"m_speed", 1.0};
inline constexpr SettingKey<int> Language{"language", 0};
inline constexpr SettingKey<bool> EffectKeyLocks{"effectKeyLocks", false};

// Key combinations in QKeySequence's portable text ("Meta+F8"); empty: not bound.
inline constexpr SettingKey<StoredText> ShortcutShowWhileHeld{"Shortcuts/showWhileHeld", ""};
inline constexpr SettingKey<StoredText> ShortcutToggle{"Shortcuts/toggle", ""};
inline constexpr SettingKey<StoredText> ShortcutNextEffect{"Shortcuts/nextEffect", ""};
inline constexpr SettingKey<StoredText> ShortcutBlackScreen{"Shortcuts/blackScreen", ""};
inline constexpr SettingKey<StoredText> ShortcutSizeUp{"Shortcuts/sizeUp", ""};
inline constexpr SettingKey<StoredText> ShortcutSizeDown{"Shortcuts/sizeDown", ""};

} // namespace SettingsKeys
