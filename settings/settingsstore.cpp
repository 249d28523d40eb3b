#include "settings/settingsstore.h"

#include "settings/settingslocation.h"

#include <QSettings>
#include <QStringList>

#include <algorithm>
#include <limits>

namespace {

void warn(const QString &text)
{
    if (!text.isEmpty())
        qWarning("%s", qPrintable(text));
}

} // namespace

QString SettingsStore::defaultPath()
{
    return SettingsLocation::filePath();
}

SettingsStore::SettingsStore(QString path) : m_path(std::move(path))
{
    // Looked at before it is opened: opening a FIFO would block, and a planted link would
    // lead the writes elsewhere.
    const SettingsLocation::Access access = SettingsLocation::inspect(m_path);
    warn(access.warning);
    m_writable = access.verdict != SettingsLocation::Verdict::Refused;
    if (access.verdict != SettingsLocation::Verdict::Usable)
        return;
    const QSettings settings(m_path, QSettings::IniFormat);
    const QStringList keys = settings.allKeys();
    for (const QString &key : keys)
        m_values.insert(key, settings.value(key));
}

bool SettingsStore::mayWrite()
{
    if (!m_writable)
        return false;
    // What is at the path may have changed since the start.
    const SettingsLocation::Access access = SettingsLocation::inspect(m_path);
    if (access.verdict == SettingsLocation::Verdict::Refused) {
        warn(access.warning);
        m_writable = false;
        return false;
    }
    if (access.verdict == SettingsLocation::Verdict::Absent &&
        !SettingsLocation::makeFolder(m_path)) {
        warn(QStringLiteral("Kavri: cannot create the folder of %1; settings are not saved.")
                 .arg(m_path));
        m_writable = false;
        return false;
    }
    return true;
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
    if (!mayWrite()) {
        m_values.insert(name, value);
        return;
    }
    {
        QSettings settings(m_path, QSettings::IniFormat);
        settings.setValue(name, value);
    } // written when the settings object goes
    m_values.insert(name, value);
    ++m_writeCount;
}
