#include "overlayrig.h"

#include "overlay/screenwidget.h"

#include <QGuiApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QScreen>
#include <QTimer>
#include <QtTest>

#include <algorithm>
#include <functional>

namespace {

using SlotCall = std::function<void(ScreenWidget &)>;

} // namespace

Q_DECLARE_METATYPE(SlotCall)

// The overlay's state, slots, settings writes, mode flash, capture and pointer following.
class TestScreenWidget : public QObject
{
    Q_OBJECT

private:
    WorkDir m_workDir;

private slots:
    void init() { QVERIFY(m_workDir.enter()); }
    void cleanup() { m_workDir.leave(); }

    void startsAsClickThroughFullScreenOverlay()
    {
        OverlayRig rig;
        ScreenWidget &w = rig.w();
        QVERIFY(QTest::qWaitForWindowExposed(&w));

        const Qt::WindowFlags flags = w.windowFlags();
        QVERIFY(flags.testFlag(Qt::Tool));
        QVERIFY(flags.testFlag(Qt::FramelessWindowHint));
        QVERIFY(flags.testFlag(Qt::WindowStaysOnTopHint));
        QVERIFY(flags.testFlag(Qt::WindowTransparentForInput));
        QVERIFY(flags.testFlag(Qt::WindowDoesNotAcceptFocus));
        QVERIFY(w.testAttribute(Qt::WA_TranslucentBackground));
        QVERIFY(w.testAttribute(Qt::WA_TransparentForMouseEvents));
        QVERIFY(w.testAttribute(Qt::WA_MouseTracking));
        QVERIFY(w.testAttribute(Qt::WA_ShowWithoutActivating));
        QCOMPARE(w.focusPolicy(), Qt::NoFocus);
        QVERIFY(w.isVisible());
        QVERIFY(w.windowState().testFlag(Qt::WindowFullScreen));
        QCOMPARE(w.geometry(), QGuiApplication::primaryScreen()->geometry());

        QCOMPARE(w.paintMode(), ModeNormal);
        QCOMPARE(w.curMode(), ModeNormal);
        // The settings file's defaults until the stored settings arrive.
        QCOMPARE(w.foreColor(), QColor(255, 0, 0));
        QCOMPARE(w.backColor(), QColor(0, 0, 0));
        QCOMPARE(w.foreOpacity(), 200);
        QCOMPARE(w.backOpacity(), 200);
        QCOMPARE(w.cursorSize(), 50);
        QCOMPARE(w.scaleRate(), 2.0);
        QVERIFY(w.screenPixmap().isNull());
        QVERIFY(!w.isSamplingPointer());
        // Building the overlay stores nothing.
        QVERIFY(!QFile::exists(QStringLiteral("Kavri.ini")));

        // The overlay stays shown when its parent window (the settings window) hides.
        QWidget parent;
        parent.show();
        OverlayPlatform platform;
        ScreenWidget child(&parent, platform);
        parent.hide();
        QVERIFY(child.isVisible());
    }

    // The presenter's state keeps the settings file; the overlay only renders.
    void slotsWriteNothing_data()
    {
        QTest::addColumn<SlotCall>("call");
        QTest::newRow("fore colour")
            << SlotCall([](ScreenWidget &w) { w.onSetForeColor(QColor(0, 255, 0, 128)); });
        QTest::newRow("back colour")
            << SlotCall([](ScreenWidget &w) { w.onSetBackColor(QColor(1, 2, 3)); });
        QTest::newRow("fore opacity") << SlotCall([](ScreenWidget &w) { w.onSetForeOpacity(77); });
        QTest::newRow("back opacity") << SlotCall([](ScreenWidget &w) { w.onSetBackOpacity(0); });
        QTest::newRow("scale rate") << SlotCall([](ScreenWidget &w) { w.onSetScaleRate(2.5); });
        QTest::newRow("mode laser") << SlotCall([](ScreenWidget &w) { w.onSetMode(ModeLaser); });
        QTest::newRow("mode black screen")
            << SlotCall([](ScreenWidget &w) { w.onSetMode(ModeBlackScreen); });
        QTest::newRow("cursor size") << SlotCall([](ScreenWidget &w) { w.onSetCursorSize(33); });
        QTest::newRow("show mode") << SlotCall([](ScreenWidget &w) { w.onShowMode(true); });
        QTest::newRow("repaint") << SlotCall([](ScreenWidget &w) { w.onSetRepaint(); });
        QTest::newRow("settings at start") << SlotCall([](ScreenWidget &w) {
            w.applySettings({ModeMagnifier, Qt::blue, Qt::white, 1, 2, 3, 4.0});
        });
    }
    void slotsWriteNothing()
    {
        QFETCH(SlotCall, call);
        OverlayRig rig;
        call(rig.w());
        QVERIFY(!QFile::exists(QStringLiteral("Kavri.ini")));
    }

    void slotsStoreTheirValue()
    {
        OverlayRig rig;
        ScreenWidget &w = rig.w();
        w.onSetForeColor(QColor(0, 255, 0, 128));
        QCOMPARE(w.foreColor(), QColor(0, 255, 0, 128)); // alpha kept in memory
        w.onSetBackColor(QColor(1, 2, 3));
        QCOMPARE(w.backColor(), QColor(1, 2, 3));
        w.onSetForeOpacity(77);
        QCOMPARE(w.foreOpacity(), 77);
        w.onSetBackOpacity(300); // out of range: used unchanged
        QCOMPARE(w.backOpacity(), 300);
        w.onSetCursorSize(33);
        QCOMPARE(w.cursorSize(), 33);
        w.onSetScaleRate(1.5);
        QCOMPARE(w.scaleRate(), 1.5);
        QCOMPARE(w.paintMode(), ModeNormal);
        QCOMPARE(w.curMode(), ModeNormal);
        QCOMPARE(rig.grabs, 0); // the magnifier was not displayed: no capture
    }

    // Choosing a mode shows it at once and clears it 600 ms later, while the event loop runs
    // on; choosing the selected mode again shows nothing.
    void setModeFlashesTheMode()
    {
        OverlayRig rig;
        ScreenWidget &w = rig.w();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        QCoreApplication::processEvents();
        PaintLog log(&w);

        // Right after construction the normal mode is already selected: nothing happens.
        w.onSetMode(ModeNormal);
        QVERIFY(!w.isFlashing());
        QCoreApplication::processEvents();
        QVERIFY(log.entries.isEmpty());

        bool timerRan = false;
        QTimer::singleShot(0, &w, [&] { timerRan = true; });
        QElapsedTimer clock;
        clock.start();
        w.onSetMode(ModeLaser);
        QVERIFY(clock.elapsed() < 300); // the slot does not wait for the flash
        QCOMPARE(w.paintMode(), ModeLaser);
        QCOMPARE(w.curMode(), ModeLaser);
        QVERIFY(!drawsNothing(renderFrame(w)));

        // The pixels over time: the dot until the flash ends, nothing afterwards. The queued
        // events run meanwhile.
        QVector<QPair<qint64, bool>> drawn;
        while (w.isFlashing()) {
            drawn.push_back({clock.elapsed(), !drawsNothing(renderFrame(w))});
            QTest::qWait(40);
        }
        const qint64 clearedAt = clock.elapsed();
        QVERIFY(timerRan);
        QVERIFY2(clearedAt >= 600, qPrintable(QString::number(clearedAt)));
        QVERIFY(drawn.size() >= 2);
        QVERIFY(std::all_of(drawn.begin(), drawn.end(), [](const auto &d) { return d.second; }));
        QVERIFY(
            std::any_of(drawn.begin(), drawn.end(), [](const auto &d) { return d.first >= 300; }));
        QVERIFY(drawsNothing(renderFrame(w)));
        QCOMPARE(w.paintMode(), ModeNormal);
        QCOMPARE(w.curMode(), ModeLaser);
        QTRY_VERIFY(!log.entries.isEmpty() && log.entries.last().mode == ModeNormal);
        QCOMPARE(log.entries.first().mode, ModeLaser);
        QCOMPARE(log.entries.first().region, QRegion(w.rect()));

        // Selecting it again shows nothing.
        log.entries.clear();
        w.onSetMode(ModeLaser);
        QVERIFY(!w.isFlashing());
        QCoreApplication::processEvents();
        QVERIFY(log.entries.isEmpty());

        // Also for the black screen.
        w.onSetMode(ModeBlackScreen);
        QVERIFY(w.isFlashing());
        QVERIFY(rig.flashOver());
        w.onSetMode(ModeBlackScreen);
        QVERIFY(!w.isFlashing());
    }

    // A mode chosen during the flash of another is shown at once, for 600 ms of its own; the
    // effect key pressed during a flash shows the effect for as long as it is held, and its
    // release during a flash leaves the flash alone.
    void flashMeetsOtherKeys()
    {
        OverlayRig rig;
        ScreenWidget &w = rig.w();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        QElapsedTimer clock;
        clock.start();
        w.onSetMode(ModeLaser);
        QTest::qWait(300);
        const qint64 secondAt = clock.elapsed();
        w.onSetMode(ModeBlackScreen);
        QCOMPARE(w.paintMode(), ModeBlackScreen);
        QCOMPARE(qAlpha(renderFrame(w).pixel(5, 5)), 255);
        QVERIFY(rig.flashOver());
        const qint64 clearedAt = clock.elapsed();
        QVERIFY2(clearedAt - secondAt >= 600,
                 qPrintable(QStringLiteral("%1 after %2").arg(clearedAt).arg(secondAt)));
        QVERIFY(drawsNothing(renderFrame(w)));

        // The release of the key that chose the mode comes with the mode: the flash stays.
        w.onSetMode(ModeSpotLight);
        w.onShowMode(false);
        QCOMPARE(w.paintMode(), ModeSpotLight);
        QVERIFY(w.isFlashing());
        // The effect key during the flash: the effect stays while it is held.
        w.onShowMode(true);
        QVERIFY(!w.isFlashing());
        QTest::qWait(800);
        QCOMPARE(w.paintMode(), ModeSpotLight);
        QVERIFY(!drawsNothing(renderFrame(w)));
        w.onShowMode(false);
        QCOMPARE(w.paintMode(), ModeNormal);

        // Held after a flash, the effect key shows the effect as before.
        w.onSetMode(ModeLaser);
        QVERIFY(rig.flashOver());
        w.onShowMode(true);
        QCOMPARE(w.paintMode(), ModeLaser);
        QVERIFY(!drawsNothing(renderFrame(w)));
    }

    void captureIsTakenWithTheOverlayCleared()
    {
        OverlayRig rig;
        ScreenWidget &w = rig.w();
        rig.capture = coordinateCapture(w.size());
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        w.onSetMode(ModeSpotLight);
        w.onShowMode(true);
        PaintLog log(&w);
        QTRY_VERIFY(!log.entries.isEmpty() && log.entries.last().mode == ModeSpotLight);

        struct AtGrab
        {
            ScreenMode lastPainted;
            QRegion lastRegion;
            int redrawWaits;
            int syncs;
            ScreenMode drawn;
        };
        QVector<AtGrab> atGrab;
        rig.onGrab = [&] {
            atGrab.push_back({log.entries.last().mode, log.entries.last().region,
                              rig.windowSystem->redrawWaits, rig.windowSystem->syncs,
                              w.drawnMode()});
        };

        // Choosing the magnifier while the spotlight is displayed: cleared, then captured.
        const int syncsBefore = rig.windowSystem->syncs;
        w.onSetMode(ModeMagnifier);
        QVERIFY(rig.pictureCame());
        QCOMPARE(rig.grabs, 1);
        QCOMPARE(atGrab[0].lastPainted, ModeNormal);
        QCOMPARE(atGrab[0].lastRegion, QRegion(w.rect()));
        QVERIFY(atGrab[0].syncs > syncsBefore);
        QCOMPARE(atGrab[0].redrawWaits, 1); // the spotlight was on the screen
        QCOMPARE(w.screenPixmap().cacheKey(), rig.capture.cacheKey());
        QCOMPARE(w.paintMode(), ModeMagnifier); // the flash shows the lens
        QVERIFY(rig.flashOver());
        QCOMPARE(w.paintMode(), ModeNormal);
        QCOMPARE(w.curMode(), ModeMagnifier);

        // The effect key's press: capture (nothing was displayed, so no wait), then lens.
        w.onSetRepaint();
        QVERIFY(rig.pictureCame());
        QCOMPARE(rig.grabs, 2);
        QCOMPARE(atGrab[1].lastPainted, ModeNormal);
        QCOMPARE(atGrab[1].redrawWaits, 1);
        QCOMPARE(w.paintMode(), ModeMagnifier);
        QVERIFY(!QFile::exists(QStringLiteral("Kavri.ini")) ||
                !iniText().contains(QStringLiteral("m_scale")));

        // A new magnification while the lens is displayed: a new capture first.
        QTRY_VERIFY(log.entries.last().mode == ModeMagnifier);
        w.onSetScaleRate(3.0);
        QVERIFY(rig.pictureCame());
        QCOMPARE(rig.grabs, 3);
        QCOMPARE(atGrab[2].drawn, ModeNormal); // no lens at the new scale before its picture
        QCOMPARE(atGrab[2].lastPainted, ModeNormal);
        QCOMPARE(atGrab[2].redrawWaits, 2);
        QCOMPARE(w.paintMode(), ModeMagnifier);
        QCOMPARE(w.scaleRate(), 3.0);

        // While it is not displayed: no capture.
        w.onShowMode(false);
        w.onSetScaleRate(2.5);
        QCoreApplication::processEvents();
        QCOMPARE(rig.grabs, 3);

        // Until the picture comes the lens draws nothing; a failed capture leaves no image,
        // and the lens then paints its ring only.
        rig.capture = QPixmap();
        w.onSetRepaint();
        QVERIFY(w.isCapturePending());
        QVERIFY(drawsNothing(renderFrame(w)));
        QVERIFY(rig.pictureCame());
        QVERIFY(w.screenPixmap().isNull());
        QVERIFY(!drawsNothing(renderFrame(w)));
        const QImage frame = renderFrame(w);
        QCOMPARE(qAlpha(frame.pixel(w.mousePos())), 0);
    }

    void showModeShowsTheSelectedMode()
    {
        OverlayRig rig;
        ScreenWidget &w = rig.w();
        w.onShowMode(true);
        QCOMPARE(w.paintMode(), ModeNormal); // nothing selected yet
        w.onSetMode(ModeLaser);
        QCOMPARE(w.paintMode(), ModeLaser); // its flash
        QVERIFY(rig.flashOver());
        QCOMPARE(w.paintMode(), ModeNormal);
        w.onShowMode(true);
        QCOMPARE(w.paintMode(), ModeLaser);
        w.onShowMode(false);
        QCOMPARE(w.paintMode(), ModeNormal);
        QCOMPARE(w.curMode(), ModeLaser);
    }

    // Input that reaches the overlay clears what it shows, except a click while the overlay
    // holds the pointer to follow it (XWayland): the effect key brings the effect straight
    // back, so the click changes nothing instead of making it flicker.
    void inputClearsTheDisplayButKeepsTheMode_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<int>("eventType");
        QTest::addColumn<bool>("clears");
        QTest::newRow("laser, mouse press: held")
            << int(ModeLaser) << int(QEvent::MouseButtonPress) << false;
        QTest::newRow("laser, mouse release: held")
            << int(ModeLaser) << int(QEvent::MouseButtonRelease) << false;
        QTest::newRow("laser, key press") << int(ModeLaser) << int(QEvent::KeyPress) << true;
        QTest::newRow("laser, key release") << int(ModeLaser) << int(QEvent::KeyRelease) << true;
        QTest::newRow("black screen, mouse press")
            << int(ModeBlackScreen) << int(QEvent::MouseButtonPress) << true;
    }
    void inputClearsTheDisplayButKeepsTheMode()
    {
        QFETCH(int, mode);
        QFETCH(int, eventType);
        QFETCH(bool, clears);
        OverlayRig rig;
        ScreenWidget &w = rig.w();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        w.onSetMode(ScreenMode(mode));
        w.onShowMode(true);
        QCOMPARE(w.paintMode(), ScreenMode(mode));

        const auto type = static_cast<QEvent::Type>(eventType);
        if (type == QEvent::KeyPress || type == QEvent::KeyRelease) {
            QKeyEvent event(type, Qt::Key_Space, Qt::NoModifier);
            QCoreApplication::sendEvent(&w, &event);
        } else {
            QMouseEvent event(type, QPointF(5, 5), QPointF(5, 5), Qt::LeftButton, Qt::LeftButton,
                              Qt::NoModifier);
            QCoreApplication::sendEvent(&w, &event);
        }
        QCOMPARE(w.paintMode(), clears ? ModeNormal : ScreenMode(mode));
        QCOMPARE(w.curMode(), ScreenMode(mode));
        QCOMPARE(w.isSamplingPointer(), !clears);
        w.onShowMode(true);
        QCOMPARE(w.paintMode(), ScreenMode(mode));
    }

    // What each window has to be on the screen: gone while it draws nothing, holding the
    // pointer while an effect follows it, shown (letting input through) for the black screen.
    void presenceFollowsWhatIsDrawn()
    {
        using Presence = OverlayWindowSystem::Presence;
        OverlayRig rig;
        ScreenWidget &w = rig.w();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        const auto presence = [&] { return rig.windowSystem->presence.value(&w, Presence(-1)); };
        w.onShowMode(false);
        QCOMPARE(presence(), Presence::Idle);
        w.onSetMode(ModeSpotLight);
        QCOMPARE(presence(), Presence::FollowingPointer); // during the flash
        QVERIFY(rig.flashOver());
        QCOMPARE(presence(), Presence::Idle);
        w.onShowMode(true);
        QCOMPARE(presence(), Presence::FollowingPointer);
        w.onSetMode(ModeBlackScreen);
        QCOMPARE(presence(), Presence::Shown);
        w.onShowMode(true);
        QCOMPARE(presence(), Presence::Shown);
        w.onShowMode(false);
        QCOMPARE(presence(), Presence::Idle);

        // Until the window system knows where the pointer is, the windows hold the pointer
        // but draw nothing: the position they have may be an old one.
        w.onSetMode(ModeLaser);
        QVERIFY(rig.flashOver());
        rig.windowSystem->pointerKnown = false;
        w.onShowMode(true);
        QCOMPARE(presence(), Presence::FollowingPointer);
        QVERIFY(drawsNothing(renderFrame(w)));
        rig.windowSystem->findPointer();
        QVERIFY(!drawsNothing(renderFrame(w)));
    }

    // With a capture route that answers later, the lens draws nothing at all until the
    // picture of the moment has come; an answer to an earlier moment is not shown.
    void asynchronousCaptureShowsTheLensOnlyWithItsPicture()
    {
        using Presence = OverlayWindowSystem::Presence;
        OverlayRig rig;
        ScreenWidget &w = rig.w();
        FakeScreenCapture &route = rig.useFakeRoute();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        rig.pointer = QPoint(200, 150);
        QSignalSpy unavailable(&w, &ScreenWidget::magnifierUnavailable);

        // Choosing the magnifier asks for a picture; the flash shows no lens without it.
        w.onSetMode(ModeMagnifier);
        QCOMPARE(route.requests.size(), 1);
        QVERIFY(w.isFlashing());
        QVERIFY(drawsNothing(renderFrame(w)));
        QCOMPARE(rig.grabs, 0); // never the synchronous grabber
        route.answer(coordinateCapture(w.size()));

        // The effect key: a new picture, and nothing on the screen, not even the pointer
        // hidden, until it comes.
        w.onSetRepaint();
        QCOMPARE(route.requests.size(), 2);
        QVERIFY(w.isCapturePending());
        QCOMPARE(w.paintMode(), ModeMagnifier);
        QVERIFY(drawsNothing(renderFrame(w)));
        QCOMPARE(rig.windowSystem->presence.value(&w), Presence::Idle);
        QVERIFY(!rig.windowSystem->pointerHidden);

        // Another magnification before the answer: the request under way is of an earlier
        // moment. It is cancelled at once and the picture asked for again.
        QCOMPARE(route.cancels, 0);
        w.onSetScaleRate(3.0);
        QCOMPARE(route.cancels, 1);
        QCOMPARE(route.requests.size(), 3);
        QVERIFY(w.isCapturePending());
        QVERIFY(drawsNothing(renderFrame(w)));
        QPixmap earlier(w.size());
        earlier.fill(Qt::green);

        const QPixmap picture = coordinateCapture(w.size());
        route.answer(picture);
        QVERIFY(!w.isCapturePending());
        QCOMPARE(w.screenPixmap().cacheKey(), picture.cacheKey());
        const QImage lens = renderFrame(w);
        QCOMPARE(lens.pixel(rig.pointer), coordinateColor(200, 150));
        QCOMPARE(rig.windowSystem->presence.value(&w), Presence::FollowingPointer);
        QVERIFY(rig.windowSystem->pointerHidden);

        // An answer nobody waits for changes nothing.
        route.answer(earlier);
        QCOMPARE(w.screenPixmap().cacheKey(), picture.cacheKey());

        // A refusal that may pass: no lens this time, the magnifier stays.
        w.onSetRepaint();
        route.fail(QStringLiteral("refused"), false);
        QVERIFY(drawsNothing(renderFrame(w)));
        QVERIFY(w.isMagnifierAvailable());
        QCOMPARE(unavailable.count(), 0);

        // A failure for good: said once, and no capture is asked for again.
        w.onSetRepaint();
        route.fail(QStringLiteral("no screenshot portal"), true);
        QCOMPARE(unavailable.count(), 1);
        QCOMPARE(unavailable.first().first().toString(), QStringLiteral("no screenshot portal"));
        QVERIFY(!w.isMagnifierAvailable());
        const int requests = route.requests.size();
        w.onSetRepaint();
        w.onSetMode(ModeLaser);
        w.onSetMode(ModeMagnifier);
        QCOMPARE(route.requests.size(), requests);
        QVERIFY(drawsNothing(renderFrame(w)));
        QCOMPARE(unavailable.count(), 1);
    }

    // A picture nobody waits for any more is cancelled at once, so the route can close what
    // it holds open (GNOME's screen-cast session) rather than wait for its timeout; its late
    // answer changes nothing.
    void unwantedCaptureIsCancelled()
    {
        OverlayRig rig;
        ScreenWidget &w = rig.w();
        FakeScreenCapture &route = rig.useFakeRoute();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        rig.pointer = QPoint(200, 150);

        // The mode key steps past the lens before its picture came.
        w.onSetMode(ModeMagnifier);
        QCOMPARE(route.requests.size(), 1);
        w.onSetMode(ModeNormal);
        QCOMPARE(route.cancels, 1);
        QVERIFY(!w.isCapturePending());
        route.answer(coordinateCapture(w.size()));
        QVERIFY(w.screenPixmap().isNull());

        // The effect key let go before the picture came.
        w.onSetMode(ModeMagnifier);
        w.onSetRepaint();
        w.onShowMode(true);
        QCOMPARE(route.cancels, 2); // the press replaced the request of the mode's choice
        w.onShowMode(false);
        QCOMPARE(route.cancels, 3);
        QVERIFY(!w.isCapturePending());
        route.answer(coordinateCapture(w.size()));
        QVERIFY(w.screenPixmap().isNull());
        QVERIFY(drawsNothing(renderFrame(w)));

        // Nothing under way: nothing to cancel.
        w.onShowMode(false);
        w.onSetMode(ModeLaser);
        QCOMPARE(route.cancels, 3);
    }

    // Known at start: the grabber is not even asked, and the lens draws nothing.
    void magnifierUnavailableFromStart()
    {
        OverlayRig rig;
        ScreenWidget &w = rig.w();
        rig.capture = coordinateCapture(w.size());
        QSignalSpy unavailable(&w, &ScreenWidget::magnifierUnavailable);
        w.setMagnifierAvailable(false, QStringLiteral("no capture route"));
        w.setMagnifierAvailable(false, QStringLiteral("no capture route"));
        QCOMPARE(unavailable.count(), 1);
        QCOMPARE(w.magnifierUnavailableReason(), QStringLiteral("no capture route"));
        w.onSetMode(ModeMagnifier);
        w.onSetRepaint();
        QCOMPARE(rig.grabs, 0);
        QVERIFY(drawsNothing(renderFrame(w)));
    }

    void followsThePointerOnlyWhileAnEffectIsDisplayed()
    {
        OverlayRig rig;
        ScreenWidget &w = rig.w();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        QVERIFY(!w.isSamplingPointer());

        w.onSetCursorSize(20);
        w.onSetMode(ModeSpotLight);
        QVERIFY(rig.flashOver());
        QVERIFY(!w.isSamplingPointer()); // the flash is over: nothing displayed
        PaintLog log(&w);
        w.onShowMode(true);
        QVERIFY(w.isSamplingPointer());
        QTRY_VERIFY(!log.entries.isEmpty());
        QCOMPARE(w.mousePos(), QPoint(100, 100));

        // The pointer moves with no slot called: the overlay follows by itself and repaints
        // only round the old and the new place.
        log.entries.clear();
        rig.pointer = QPoint(400, 300);
        QTRY_COMPARE(w.mousePos(), QPoint(400, 300));
        QVERIFY(!log.entries.isEmpty());
        QVERIFY(!covers(log.entries.last().region, w.rect()));
        // Radius 20 plus the antialiasing margin round (100, 100) and (400, 300).
        QVERIFY(covers(log.entries.last().region, QRect(378, 278, 44, 44)));
        QVERIFY(covers(log.entries.last().region, QRect(78, 78, 44, 44)));
        QVERIFY(!log.entries.last().region.contains(QPoint(250, 200)));

        // A still pointer is sampled but costs no repaint.
        log.entries.clear();
        QTest::qWait(100);
        QVERIFY(log.entries.isEmpty());

        // A mouse move that reaches the overlay repaints at the new place as well.
        rig.pointer = QPoint(200, 150);
        QMouseEvent move(QEvent::MouseMove, QPointF(200, 150), QPointF(200, 150), Qt::NoButton,
                         Qt::NoButton, Qt::NoModifier);
        QCoreApplication::sendEvent(&w, &move);
        QTRY_COMPARE(w.mousePos(), QPoint(200, 150));

        // The effect key's repeated show: nothing moved, nothing repainted.
        QCoreApplication::processEvents();
        log.entries.clear();
        for (int i = 0; i < 5; ++i)
            w.onShowMode(true);
        QCoreApplication::processEvents();
        QVERIFY(log.entries.isEmpty());

        // Nothing displayed or a picture that ignores the pointer: nothing is sampled.
        w.onShowMode(false);
        QVERIFY(!w.isSamplingPointer());
        w.onSetMode(ModeBlackScreen);
        w.onShowMode(true);
        QVERIFY(!w.isSamplingPointer());
        w.onSetMode(ModeMagnifier);
        w.onShowMode(true);
        QVERIFY(w.isSamplingPointer());
        w.onShowMode(false);
        QVERIFY(!w.isSamplingPointer());
    }

    // Where the window system reports every move of the pointer, the overlay follows those
    // reports: a held effect with the pointer standing still samples nothing at the display
    // rate.
    void followsThePointerFromMotionReports()
    {
        OverlayRig rig;
        rig.windowSystem->motionReports = true;
        rig.windowSystem->compositing = false; // each frame sends the window's new shape
        ScreenWidget &w = rig.w();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        w.onSetCursorSize(20);
        w.onSetMode(ModeSpotLight);
        QVERIFY(!w.isSamplingPointer()); // not during the flash either
        w.onShowMode(true);
        QVERIFY(!w.isSamplingPointer());
        QCOMPARE(w.mousePos(), QPoint(100, 100));
        PaintLog log(&w);
        QCoreApplication::processEvents();
        log.entries.clear();

        // Moved without a report (a program set the pointer's position): nothing samples it
        // at the display rate, a slow look finds it.
        rig.pointer = QPoint(400, 300);
        QVERIFY(!w.isSamplingPointer());
        QTRY_COMPARE(w.mousePos(), QPoint(400, 300));
        QCoreApplication::processEvents();
        log.entries.clear();

        // Reports that come together make one frame.
        const int shapes = rig.windowSystem->shownRegions.size();
        rig.windowSystem->movePointer();
        rig.pointer = QPoint(420, 300);
        rig.windowSystem->movePointer();
        QTRY_COMPARE(w.mousePos(), QPoint(420, 300));
        QCOMPARE(rig.windowSystem->shownRegions.size(), shapes + 1);
        QTRY_VERIFY(!log.entries.isEmpty());
        QVERIFY(!covers(log.entries.last().region, w.rect()));
        QVERIFY(covers(log.entries.last().region, QRect(398, 278, 44, 44)));
        const QImage frame = renderFrame(w);
        QVERIFY(qAlpha(frame.pixel(420, 300)) < 10); // the hole moved
        QVERIFY(qAlpha(frame.pixel(100, 100)) > 100);
        QVERIFY(!w.isSamplingPointer());
    }

    void withoutCompositorTheWindowShowsOnlyWhatIsDrawn()
    {
        OverlayRig rig;
        ScreenWidget &w = rig.w();
        FakeWindowSystem &ws = *rig.windowSystem;
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        QTRY_VERIFY(!ws.shownRegions.isEmpty());
        QCOMPARE(ws.shownRegions.last(), QRegion(w.rect())); // compositing: whole window

        ws.switchCompositing(false);
        QTRY_VERIFY(ws.shownRegions.last().isEmpty()); // nothing displayed: nothing shown

        rig.pointer = QPoint(300, 200);
        w.onSetCursorSize(40);
        w.onSetMode(ModeSpotLight);
        QVERIFY(rig.flashOver());
        QVERIFY(ws.shownRegions.last().isEmpty()); // after the flash
        w.onShowMode(true);
        QTRY_VERIFY(!ws.shownRegions.last().isEmpty());
        QVERIFY(!ws.shownRegions.last().contains(QPoint(300, 200)));
        QVERIFY(ws.shownRegions.last().contains(QPoint(0, 0)));

        // The hole moves with the pointer.
        rig.pointer = QPoint(500, 400);
        QTRY_VERIFY(!ws.shownRegions.last().contains(QPoint(500, 400)));
        QVERIFY(ws.shownRegions.last().contains(QPoint(300, 200)));

        w.onSetMode(ModeBlackScreen);
        w.onShowMode(true);
        QTRY_COMPARE(ws.shownRegions.last(), QRegion(w.rect()));

        w.onShowMode(false);
        QTRY_VERIFY(ws.shownRegions.last().isEmpty());

        // A compositing manager starts: the whole window again.
        ws.switchCompositing(true);
        QTRY_COMPARE(ws.shownRegions.last(), QRegion(w.rect()));
    }
};

QTEST_MAIN(TestScreenWidget)
#include "tst_screenwidget.moc"
