#pragma once

#include "device/hidstatus.h"

#include "common/kavriresources.h"
#include "common/settingsfixture.h"

#include <QSettings>
#include <QStackedWidget>
#include <QString>
#include <QTest>
#include <QVariant>
#include <QWidget>

// Shared pieces of the settings-window suites: a settings file of each test's own (see
// KavriTest::SettingsFixture), read as text and values, and key events in the form the
// device thread reports them.
namespace DialogTest {

// The param of a HidKeyEvent: the key byte above the 0xFE marker.
constexpr int keyParam(int keys)
{
    return (keys << 8) | 0xFE;
}

using KavriTest::SettingsFixture;

// The running test's settings file.
inline QByteArray iniBytes()
{
    return SettingsFixture::current().bytes();
}
inline void writeIni(const QByteArray &text)
{
    QVERIFY(SettingsFixture::current().write(text));
}
inline QVariant iniValue(const char *key)
{
    return SettingsFixture::current().value(key);
}
inline QStringList iniKeys()
{
    return SettingsFixture::current().keys();
}

// A widget of the window by object name; null (and a failed check) when it is missing.
template <class T> T *child(QWidget *root, const char *name)
{
    T *widget = root->findChild<T *>(QString::fromLatin1(name));
    if (!widget)
        qWarning("no %s named %s", T::staticMetaObject.className(), name);
    return widget;
}

// The page the window shows: 0 while it looks for the dongle, 1 once it found it.
inline int pageIndex(QWidget &dialog)
{
    auto *stack = child<QStackedWidget>(&dialog, "stackedWidget");
    return stack ? stack->currentIndex() : -1;
}

} // namespace DialogTest
