#include "settings/settingsstore.h"

#include "settings/settingslocation.h"
#include "settings/settingslog.h"

#include <QFile>
#include <QSettings>
#include <QStringList>

#include <algorithm>
#include <limits>

namespace {

void warn(const QString &text)
{
    if (!text.isEmpty())
        qCWarning(lcSettings, "%s", qPrintable(text));
}

} // namespace

QString SettingsStore::defaultPath()
{
    return SettingsLocation::filePath();
}

SettingsStore::SettingsStore(QString path) : m_path(std::move(path))
{
    setClock(Clock());
    m_flushTimer.setSingleShot(true);
    m_flushTimer.callOnTimeout([this] { writePending(); });
    m_retryTimer.setSingleShot(true);
    m_retryTimer.callOnTimeout([this] { writePending(); });
    if (m_path.isEmpty()) {
        // SettingsLocation found no folder for the file (no HOME, no home in the user database).
        warn(QStringLiteral("Kavri: no folder for the settings file is known (neither "
                            "XDG_CONFIG_HOME nor a home folder); Kavri uses its default settings "
                            "and keeps changes for this run only."));
        m_writable = false;
        return;
    }
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
    m_onDisk = m_values;
}

SettingsStore::~SettingsStore()
{
    // Whoever listened for failures may be going away too; standard error still hears it.
    m_failureHandler = nullptr;
    m_recoveryHandler = nullptr;
    writePending();
}

void SettingsStore::setClock(Clock clock)
{
    if (clock) {
        m_clock = std::move(clock);
    } else {
        m_elapsed.start();
        m_clock = [this] { return m_elapsed.elapsed(); };
    }
    m_wroteBefore = false;
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
        reportFailure(
            QStringLiteral("Kavri: cannot create the folder of the settings file %1; the "
                           "changes are not saved yet and are tried again until they are.")
                .arg(m_path));
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

bool SettingsStore::value(const SettingKey<bool> &key) const
{
    const QString text = stored(key.name).toString().trimmed().toLower();
    if (text == QLatin1String("true"))
        return true;
    if (text == QLatin1String("false"))
        return false;
    return key.defaultValue;
}

QString SettingsStore::value(const SettingKey<StoredText> &key) const
{
    const QVariant text = stored(key.name);
    if (!text.isValid())
        return QString::fromUtf8(key.defaultValue);
    if (text.userType() == QMetaType::QStringList)
        return text.toStringList().join(QLatin1String(", ")).trimmed();
    return text.toString().trimmed();
}

void SettingsStore::setValue(const SettingKey<int> &key, int value)
{
    change(key.name, QVariant(value));
}

void SettingsStore::setValue(const SettingKey<StoredColor> &key, StoredColor value)
{
    change(key.name, QVariant(static_cast<unsigned int>(value)));
}

void SettingsStore::setValue(const SettingKey<double> &key, double value)
{
    change(key.name, QVariant(value));
}

void SettingsStore::setValue(const SettingKey<bool> &key, bool value)
{
    change(key.name, QVariant(value));
}

void SettingsStore::setValue(const SettingKey<StoredText> &key, const QString &value)
{
    change(key.name, QVariant(value));
}

bool SettingsStore::contains(const char *keyName) const
{
    return m_values.contains(QString::fromLatin1(keyName));
}

void SettingsStore::change(const char *key, const QVariant &value)
{
    const QString name = QString::fromLatin1(key);
    m_values.insert(name, value);
    // Compared as the text the file holds: the value read from the file is text, the value
    // written last is a number that the file holds as the same text.
    const auto known = m_onDisk.constFind(name);
    if (known != m_onDisk.constEnd() && known->userType() != QMetaType::QStringList &&
        known->toString() == value.toString()) {
        m_pending.remove(name);
        return;
    }
    if (!m_writable)
        return; // kept for this run only
    m_pending.insert(name);
    if (m_coalescing == 0) {
        writePending();
        return;
    }
    if (m_flushTimer.isActive())
        return; // written with the others when the timer fires
    const qint64 since = m_clock() - m_lastWriteMs;
    if (!m_wroteBefore || since >= CoalesceMs || since < 0)
        writePending();
    else
        m_flushTimer.start(int(CoalesceMs - since));
}

bool SettingsStore::flush()
{
    return writePending();
}

bool SettingsStore::writePending()
{
    m_flushTimer.stop();
    if (m_pending.isEmpty())
        return true;
    m_lastWriteMs = m_clock();
    m_wroteBefore = true;
    if (!mayWrite()) {
        if (!m_writable)
            m_pending.clear(); // refused for good; warned once
        else
            scheduleRetry();
        return false;
    }
    bool written = false;
    {
        QSettings settings(m_path, QSettings::IniFormat);
        for (const QString &name : qAsConst(m_pending))
            settings.setValue(name, m_values.value(name));
        settings.sync();
        written = settings.status() != QSettings::AccessError;
    }
    // QSettings does not see every failure: on a disk too full for its lock and temporary
    // file it has been seen to leave an empty file and report success. Read back.
    if (written && !holdsPending()) {
        written = false;
        // What the file held is gone with it: all of it has to be written again.
        m_onDisk.clear();
        for (auto it = m_values.cbegin(); it != m_values.cend(); ++it)
            m_pending.insert(it.key());
    }
    if (!written) {
        reportFailure(QStringLiteral("Kavri: cannot write the settings file %1; the changes are "
                                     "not saved yet and are tried again until they are.")
                          .arg(m_path));
        scheduleRetry();
        return false;
    }
    for (const QString &name : qAsConst(m_pending))
        m_onDisk.insert(name, m_values.value(name));
    m_pending.clear();
    ++m_writeCount;
    reportSuccess();
    return true;
}

bool SettingsStore::holdsPending() const
{
    QFile file(m_path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const QByteArray text = '\n' + file.read(SettingsLocation::MaxFileSize);
    // A key of a group ("Shortcuts/toggle") stands in the file under the group's header.
    for (const QString &name : qAsConst(m_pending))
        if (!text.contains('\n' + name.section(QLatin1Char('/'), -1).toLatin1() + '='))
            return false;
    return true;
}

void SettingsStore::scheduleRetry()
{
    // Changes made meanwhile try on their own; they do not put the retry off.
    if (m_retryTimer.isActive())
        return;
    m_retryTimer.start(m_retryDelayMs);
    m_retryDelayMs = std::min(2 * m_retryDelayMs, RetryLongestMs);
}

void SettingsStore::reportSuccess()
{
    m_retryTimer.stop();
    m_retryDelayMs = RetryFirstMs;
    if (!m_failureTold)
        return;
    m_failureTold = false;
    qCInfo(lcSettings, "Kavri: the settings file %s is written again; no change was lost.",
           qPrintable(m_path));
    if (m_recoveryHandler)
        m_recoveryHandler();
}

void SettingsStore::reportFailure(const QString &message)
{
    if (m_failureTold)
        return;
    m_failureTold = true;
    warn(message);
    if (m_failureHandler)
        m_failureHandler(message);
}
