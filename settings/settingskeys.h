#pragma once

// Names and defaults of everything Kavri keeps in its INI file. The file holds plain
// top-level keys; the defaults are only used when a key is missing and are never
// written back.
namespace SettingsKeys {

inline constexpr char FileName[] = "./Kavri.ini";

inline constexpr char CurMode[] = "m_curMode";
inline constexpr char ForeColor[] = "m_foreColor";
inline constexpr char BackColor[] = "m_backColor";
inline constexpr char ForeOpacity[] = "m_foreOpacity";
inline constexpr char BackOpacity[] = "m_backOpacity";
inline constexpr char SpotSize[] = "m_spotSize";
inline constexpr char LaserSize[] = "m_laserSize";
inline constexpr char MagnifierSize[] = "m_magnifierSize";
inline constexpr char ScaleRate[] = "m_scaleRate";
inline constexpr char SleepTime[] = "m_sleepTime";
inline constexpr char Speed[] = "m_speed";
inline constexpr char Language[] = "language";

inline constexpr int DefaultCurMode = 0;
inline constexpr unsigned int DefaultForeColor = 0xFFFF0000u; // opaque red
inline constexpr unsigned int DefaultBackColor = 0xFF000000u; // opaque black
inline constexpr int DefaultForeOpacity = 200;
inline constexpr int DefaultBackOpacity = 200;
inline constexpr int DefaultSpotSize = 50;
inline constexpr int DefaultLaserSize = 10;
inline constexpr int DefaultMagnifierSize = 50;
inline constexpr int DefaultSleepTime = 5;
inline constexpr int DefaultLanguage = 0;

} // namespace SettingsKeys
