#include "settings/settingsfile.h"

#include "settings/settingskeys.h"

#include <QSettings>
#include <QString>
#include <QVariant>

namespace SettingsFile {
namespace {

QString fileName()
{
    return QString::fromLatin1(SettingsKeys::FileName);
}

void writeValue(const char *key, const QVariant &value)
{
    QSettings settings(fileName(), QSettings::IniFormat);
    settings.setValue(QString::fromLatin1(key), value);
}

int toIntOrZero(const QVariant &value)
{
    bool ok = false;
    const int result = value.toInt(&ok);
    return ok ? result : 0;
}

// A colour is stored as its unsigned 32-bit value (up to 4294967295), which does not fit an
// int: read it as a 64-bit number and keep the low 32 bits.
QColor readColor(QSettings &settings, const char *key, unsigned int defaultValue)
{
    const QVariant value =
        settings.value(QString::fromLatin1(key), QVariant(qlonglong(defaultValue)));
    bool ok = false;
    const qlonglong number = value.toLongLong(&ok);
    return colorFromStored(ok ? number : 0);
}

int readIntFrom(QSettings &settings, const char *key, int defaultValue)
{
    return toIntOrZero(settings.value(QString::fromLatin1(key), defaultValue));
}

} // namespace

void writeInt(const char *key, int value)
{
    writeValue(key, QVariant(value));
}

void writeColor(const char *key, const QColor &color)
{
    writeValue(key, QVariant(static_cast<unsigned int>(color.rgb())));
}

void writeDouble(const char *key, double value)
{
    writeValue(key, QVariant(value));
}

int readInt(const char *key, int defaultValue)
{
    QSettings settings(fileName(), QSettings::IniFormat);
    return readIntFrom(settings, key, defaultValue);
}

StoredSettings load()
{
    using namespace SettingsKeys;
    QSettings settings(fileName(), QSettings::IniFormat);
    StoredSettings s;
    s.curMode = readIntFrom(settings, CurMode, DefaultCurMode);
    s.foreColor = readColor(settings, ForeColor, DefaultForeColor);
    s.backColor = readColor(settings, BackColor, DefaultBackColor);
    s.foreOpacity = readIntFrom(settings, ForeOpacity, DefaultForeOpacity);
    s.backOpacity = readIntFrom(settings, BackOpacity, DefaultBackOpacity);
    s.spotSize = readIntFrom(settings, SpotSize, DefaultSpotSize);
    s.laserSize = readIntFrom(settings, LaserSize, DefaultLaserSize);
    s.magnifierSize = readIntFrom(settings, MagnifierSize, DefaultMagnifierSize);
    s.sleepTime = readIntFrom(settings, SleepTime, DefaultSleepTime);
    return s;
}

int readLanguage()
{
    // Read with an empty string as default: a missing key converts to 0 like any text
    // that is no number.
    QSettings settings(fileName(), QSettings::IniFormat);
    return toIntOrZero(settings.value(QString::fromLatin1(SettingsKeys::Language), QString()));
}

QColor colorFromStored(qlonglong stored)
{
    QColor color;
    color.setRgb(static_cast<QRgb>(static_cast<quint32>(stored)));
    return color;
}

} // namespace SettingsFile
