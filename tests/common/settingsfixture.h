#pragma once

#include "settings/settingsstore.h"

#include <QByteArray>
#include <QFile>
#include <QSettings>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QVariant>

#include <memory>

namespace KavriTest {

// A settings file of the test's own: "Kavri.ini" in a fresh temporary directory, reached
// through its path only (the working directory stays as it is). Suites call reset() in
// init(); the file starts absent.
class SettingsFixture final
{
public:
    SettingsFixture() { s_current = this; }
    ~SettingsFixture()
    {
        if (s_current == this)
            s_current = nullptr;
    }
    SettingsFixture(const SettingsFixture &) = delete;
    SettingsFixture &operator=(const SettingsFixture &) = delete;

    // A new empty directory; false when it could not be made.
    bool reset()
    {
        s_current = this;
        m_dir = std::make_unique<QTemporaryDir>();
        return m_dir->isValid();
    }

    QString path() const
    {
        return m_dir ? m_dir->filePath(QStringLiteral("Kavri.ini")) : QString();
    }
    QString dirPath() const { return m_dir ? m_dir->path() : QString(); }

    // A store on the file, as the program makes one at start.
    std::unique_ptr<SettingsStore> store() const { return std::make_unique<SettingsStore>(path()); }

    // The file's bytes; empty when there is no file.
    QByteArray bytes() const
    {
        QFile file(path());
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }
    QString text() const { return QString::fromUtf8(bytes()); }
    bool exists() const { return QFile::exists(path()); }

    // Replaces the file with `text`; false when it cannot be written.
    bool write(const QByteArray &text) const
    {
        QFile file(path());
        return file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
               file.write(text) == text.size();
    }

    QVariant value(const char *key) const
    {
        return QSettings(path(), QSettings::IniFormat).value(QString::fromLatin1(key));
    }
    QStringList keys() const { return QSettings(path(), QSettings::IniFormat).allKeys(); }

    // The fixture made or reset last, for helpers that read the running test's file.
    static SettingsFixture &current() { return *s_current; }

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    static inline SettingsFixture *s_current = nullptr;
};

} // namespace KavriTest
