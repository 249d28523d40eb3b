#pragma once

#include "device/hidstatus.h"

#include "common/initext.h"
#include "common/kavriresources.h"
#include "common/workdir.h"

#include <QSettings>
#include <QString>
#include <QTest>
#include <QVariant>
#include <QWidget>

// Shared pieces of the settings-window suites: a fresh working directory per test (so
// "./Kavri.ini" starts absent), the settings file as text and values, and key events in the
// form the device thread reports them.
namespace DialogTest {

// The param of a HidKeyEvent: the key byte above the 0xFE marker.
constexpr int keyParam(int keys)
{
    return (keys << 8) | 0xFE;
}

using KavriTest::iniBytes;
using KavriTest::WorkDir;
using KavriTest::writeIni;

inline QVariant iniValue(const char *key)
{
    QSettings settings(QStringLiteral("./Kavri.ini"), QSettings::IniFormat);
    return settings.value(QString::fromLatin1(key));
}

inline QStringList iniKeys()
{
    QSettings settings(QStringLiteral("./Kavri.ini"), QSettings::IniFormat);
    return settings.allKeys();
}

// A widget of the window by object name; null (and a failed check) when it is missing.
template <class T> T *child(QWidget *root, const char *name)
{
    T *widget = root->findChild<T *>(QString::fromLatin1(name));
    if (!widget)
        qWarning("no %s named %s", T::staticMetaObject.className(), name);
    return widget;
}

} // namespace DialogTest
