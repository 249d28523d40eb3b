#include "app/overlayroute.h"
#include "app/platformchoice.h"

#include <QtTest>

Q_DECLARE_METATYPE(OverlayRoute::SessionOffer)

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

    // The route per desktop: what the compositor and the session bus offer decides it.
    void route_data()
    {
        using OverlayRoute::Overlay;
        QTest::addColumn<OverlayRoute::SessionOffer>("offer");
        QTest::addColumn<int>("overlay");
        QTest::addColumn<QStringList>("captures");
        QTest::addColumn<QString>("live"); // where some picture is captured

        const QList<CaptureRoute> gnomeBus{CaptureRoute::GnomeScreencast, CaptureRoute::Portal};
        OverlayRoute::SessionOffer x11;
        x11.xcb = true;
        x11.busRoutes = gnomeBus; // an X11 session of GNOME: the X server is read directly
        QTest::newRow("x11") << x11 << int(Overlay::X11) << QStringList{"x11"}
                             << QStringLiteral("x11 (with a compositing manager)");
        OverlayRoute::SessionOffer gnome;
        gnome.wayland = gnome.xcb = true;
        gnome.busRoutes = gnomeBus;
        QTest::newRow("gnome") << gnome << int(Overlay::XWayland)
                               << QStringList{"gnome-screencast", "portal"}
                               << QStringLiteral("gnome-window-cast");
        OverlayRoute::SessionOffer sway;
        sway.wayland = sway.xcb = sway.layerOverlay = sway.screencopy = true;
        QTest::newRow("sway") << sway << int(Overlay::LayerShell) << QStringList{"wlr-screencopy"}
                              << QStringLiteral("none");
        OverlayRoute::SessionOffer swayForced = sway;
        swayForced.layerOverlay = false; // KAVRI_OVERLAY_ROUTE=xwayland
        QTest::newRow("sway, xwayland forced")
            << swayForced << int(Overlay::XWayland) << QStringList{} << QStringLiteral("none");
        OverlayRoute::SessionOffer swayNoXwayland = sway;
        swayNoXwayland.xcb = false;
        QTest::newRow("sway without xwayland")
            << swayNoXwayland << int(Overlay::LayerShell) << QStringList{"wlr-screencopy"}
            << QStringLiteral("none");
        OverlayRoute::SessionOffer plasma = sway;
        plasma.screencopy = false;
        plasma.busRoutes = {CaptureRoute::KWinScreenshot, CaptureRoute::Portal};
        plasma.kwinRefused = true; // not installed: KWin withholds its window cast
        QTest::newRow("plasma") << plasma << int(Overlay::LayerShell)
                                << QStringList{"kwin-screenshot", "portal"}
                                << QStringLiteral("none (KWin grants");
        OverlayRoute::SessionOffer plasmaInstalled = plasma;
        plasmaInstalled.kwinRefused = false;
        plasmaInstalled.kwinWindowCast = true;
        QTest::newRow("plasma, installed") << plasmaInstalled << int(Overlay::LayerShell)
                                           << QStringList{"kwin-screenshot", "portal"}
                                           << QStringLiteral("kwin-window-cast");
        OverlayRoute::SessionOffer bare;
        bare.wayland = true;
        QTest::newRow("wayland, no xwayland, no layer-shell")
            << bare << int(Overlay::Unsupported) << QStringList{} << QStringLiteral("none");
    }
    void route()
    {
        QFETCH(OverlayRoute::SessionOffer, offer);
        QFETCH(int, overlay);
        QFETCH(QStringList, captures);
        const OverlayRoute::Choice choice = OverlayRoute::choose(offer);
        QCOMPARE(int(choice.overlay), overlay);
        QCOMPARE(captureRouteNames(choice.captures), captures);
        // One line, which says when the magnifier is off.
        const QString line = choice.line();
        QVERIFY(!line.contains(QLatin1Char('\n')));
        QCOMPARE(line.contains(QLatin1String("magnifier off")),
                 captures.isEmpty() && choice.overlay != OverlayRoute::Overlay::Unsupported);
        QFETCH(QString, live);
        QCOMPARE(line.contains("; live lens: " + live), !captures.isEmpty());
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
