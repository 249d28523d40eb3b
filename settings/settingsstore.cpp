#include "settings/settingsstore.h"

#include <QSettings>
#include <QStringList>

#include <algorithm>
#include <limits>

QString SettingsStore::defaultPath()
{
    return QStringLiteral("./") + QLatin1String(SettingsKeys::FileName);
}

SettingsStore::SettingsStore(QString path) : m_path(std::move(path))
{
    const QSettings settings(m_path, QSettings::IniFormat);
    const QStringList keys = settings.allKeys();
    for (const QString &key : keys)
        m_values.insert(key, settings.value(key));
}

QVariant SettingsStore::stored(const char *key) const
{
    return m_values.value(QString::fromLatin1(key));
}

int SettingsStore::value(const SettingKey<int> &key) const
{
    const QVariant text = stored(key.name);
    if (!text.isValid())
        return key.defaultValue;
    // Numbers beyond an int saturate, keeping their sign.
    bool ok = false;
    const qlonglong number = text.toLongLong(&ok);
    if (!ok)
        return 0;
    return int(std::clamp<qlonglong>(number, std::numeric_limits<int>::min(),
                                     std::numeric_limits<int>::max()));
}

StoredColor SettingsStore::value(const SettingKey<StoredColor> &key) const
{
    // The number does not fit an int: read it as a 64-bit number and keep the low 32 bits.
    const QVariant text = stored(key.name);
    qlonglong number = key.defaultValue;
    if (text.isValid()) {
        bool ok = false;
        number = text.toLongLong(&ok);
        if (!ok)
            number = 0;
    }
    return static_cast<StoredColor>(number) | 0xFF000000u;
}

double SettingsStore::value(const SettingKey<double> &key) const
{
    const QVariant text = stored(key.name);
    if (!text.isValid())
        return key.defaultValue;
    bool ok = false;
    const double number = text.toDouble(&ok);
    return ok ? number : 0.0;
}

void SettingsStore::setValue(const SettingKey<int> &key, int value)
{
    write(key.name, QVariant(value));
}

void SettingsStore::setValue(const SettingKey<StoredColor> &key, StoredColor value)
{
    write(key.name, QVariant(static_cast<unsigned int>(value)));
}

void SettingsStore::setValue(const SettingKey<double> &key, double value)
{
    write(key.name, QVariant(value));
}

void SettingsStore::write(const char *key, const QVariant &value)
{
    const QString name = QString::fromLatin1(key);
    // Compared as the text the file holds: the value read from the file is text, the value
    // written last is a number that the file holds as the same text.
    const auto known = m_values.constFind(name);
    if (known != m_values.constEnd() && known->userType() != QMetaType::QStringList &&
        known->toString() == value.toString())
        return;
    {
        QSettings settings(m_path, QSettings::IniFormat);
        settings.setValue(name, value);
    } // written when the settings object goes
    m_values.insert(name, value);
    ++m_writeCount;
}
