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

// Everything Kavri keeps in its INI file: plain top-level keys. How a value is written is
// decided by its type: int and double as numbers, a colour as an unsigned number (up to
// 4294967295), a bool as true or false.
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

} // namespace SettingsKeys
