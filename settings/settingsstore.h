#pragma once

#include "settings/settingskeys.h"

#include <QHash>
#include <QString>
#include <QVariant>

// The program's one access to its INI file. The file is read once, when the store is made;
// reads come from what was read then. A write goes to the file at once (one key, the rest of
// the file as it is on disk), and only when the value differs from what the file holds, so
// repeating an unchanged value costs nothing and changes no byte of the file.
//
// Only a regular file of the user's own is read or written (see SettingsLocation::inspect);
// anything else at the path gives the defaults, no write, and one warning on standard error.
class SettingsStore final
{
public:
    // The file the program uses: "Kavri.ini" in the working directory when there is one,
    // otherwise the one in the user's configuration folder.
    static QString defaultPath();

    explicit SettingsStore(QString path);

    SettingsStore(const SettingsStore &) = delete;
    SettingsStore &operator=(const SettingsStore &) = delete;

    const QString &path() const { return m_path; }

    // A missing key gives the key's default; text that is no number gives 0. Values are not
    // checked against any range here. A colour keeps only the low 32 bits of its number and
    // always comes back opaque (16711680, without an alpha byte, is opaque red too).
    int value(const SettingKey<int> &key) const;
    StoredColor value(const SettingKey<StoredColor> &key) const;
    double value(const SettingKey<double> &key) const;

    void setValue(const SettingKey<int> &key, int value);
    void setValue(const SettingKey<StoredColor> &key, StoredColor value);
    void setValue(const SettingKey<double> &key, double value);

    // How many times the file was written since the store was made.
    int writeCount() const { return m_writeCount; }
    // False once the file turned out not to be one Kavri may touch: changes are kept for this
    // run only.
    bool isWritable() const { return m_writable; }

private:
    QVariant stored(const char *key) const;
    void write(const char *key, const QVariant &value);
    // Looks at the file again before a write; false (after one warning) when it may not be
    // written.
    bool mayWrite();

    QString m_path;
    bool m_writable = true;
    // What the file holds, per key, as last read or written.
    QHash<QString, QVariant> m_values;
    int m_writeCount = 0;
};
