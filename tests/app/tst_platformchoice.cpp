#include "app/platformchoice.h"

#include <QtTest>

class TestPlatformChoice : public QObject
{
    Q_OBJECT

private slots:
    void decision_data()
    {
        QTest::addColumn<QByteArray>("wayland");
        QTest::addColumn<QByteArray>("display");
        QTest::addColumn<QByteArray>("platform");
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<bool>("useXcb");

        const QStringList plain{"kavri"};
        QTest::newRow("wayland with xwayland")
            << QByteArray("wayland-0") << QByteArray(":0") << QByteArray() << plain << true;
        QTest::newRow("plain x11 session")
            << QByteArray() << QByteArray(":0") << QByteArray() << plain << false;
        QTest::newRow("wayland without xwayland")
            << QByteArray("wayland-0") << QByteArray() << QByteArray() << plain << false;
        QTest::newRow("user set QT_QPA_PLATFORM") << QByteArray("wayland-0") << QByteArray(":0")
                                                  << QByteArray("wayland") << plain << false;
        QTest::newRow("user passed -platform")
            << QByteArray("wayland-0") << QByteArray(":0") << QByteArray()
            << QStringList{"kavri", "-platform", "wayland"} << false;
        QTest::newRow("user passed --platform")
            << QByteArray("wayland-0") << QByteArray(":0") << QByteArray()
            << QStringList{"kavri", "--platform", "wayland"} << false;
        QTest::newRow("program name is not an option")
            << QByteArray("wayland-0") << QByteArray(":0") << QByteArray()
            << QStringList{"-platform"} << true;
        QTest::newRow("other arguments")
            << QByteArray("wayland-0") << QByteArray(":0") << QByteArray()
            << QStringList{"kavri", "-style", "fusion"} << true;
    }
    void decision()
    {
        QFETCH(QByteArray, wayland);
        QFETCH(QByteArray, display);
        QFETCH(QByteArray, platform);
        QFETCH(QStringList, arguments);
        QFETCH(bool, useXcb);
        QCOMPARE(PlatformChoice::shouldUseXcb(wayland, display, platform, arguments), useXcb);
    }

    // The environment is what Qt reads when the application object is built.
    void setsTheEnvironmentOnlyWhenChosen()
    {
        const QByteArray oldWayland = qgetenv("WAYLAND_DISPLAY");
        const QByteArray oldDisplay = qgetenv("DISPLAY");
        const QByteArray oldPlatform = qgetenv("QT_QPA_PLATFORM");
        char name[] = "kavri";
        char *argv[] = {name, nullptr};

        qputenv("WAYLAND_DISPLAY", "wayland-7");
        qputenv("DISPLAY", ":7");
        qunsetenv("QT_QPA_PLATFORM");
        QVERIFY(PlatformChoice::preferXWayland(1, argv));
        QCOMPARE(qgetenv("QT_QPA_PLATFORM"), QByteArray("xcb"));

        qputenv("QT_QPA_PLATFORM", "wayland");
        QVERIFY(!PlatformChoice::preferXWayland(1, argv));
        QCOMPARE(qgetenv("QT_QPA_PLATFORM"), QByteArray("wayland"));

        qunsetenv("QT_QPA_PLATFORM");
        qunsetenv("WAYLAND_DISPLAY");
        QVERIFY(!PlatformChoice::preferXWayland(1, argv));
        QVERIFY(qgetenv("QT_QPA_PLATFORM").isEmpty());

        auto restore = [](const char *var, const QByteArray &value) {
            if (value.isNull())
                qunsetenv(var);
            else
                qputenv(var, value);
        };
        restore("WAYLAND_DISPLAY", oldWayland);
        restore("DISPLAY", oldDisplay);
        restore("QT_QPA_PLATFORM", oldPlatform);
    }
};

QTEST_GUILESS_MAIN(TestPlatformChoice)
#include "tst_platformchoice.moc"
