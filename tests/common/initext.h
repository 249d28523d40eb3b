#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>
#include <QTest>

// The settings file in the working directory, read and written as text.
namespace KavriTest {

// The bytes of "./Kavri.ini"; empty when there is no such file.
inline QByteArray iniBytes()
{
    QFile file(QStringLiteral("Kavri.ini"));
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray();
    return file.readAll();
}

inline QString iniText()
{
    return QString::fromUtf8(iniBytes());
}

// Replaces "./Kavri.ini" with `text`; a failed check when it cannot be written.
inline void writeIni(const QByteArray &text)
{
    QFile file(QStringLiteral("Kavri.ini"));
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(text);
}

} // namespace KavriTest
