#include "overlay/overlaygeometry.h"
#include "presenter/screenmode.h"

#include <QtTest>

#include <cmath>

using namespace OverlayGeometry;

// The overlay's geometry without any window: circle boxes, the lens mapping, the areas a
// pointer move repaints and the part of the window shown without a compositor.
class TestOverlayGeometry : public QObject
{
    Q_OBJECT

private:
    const QRect m_screen{0, 0, 800, 600};

private slots:
    void circleBoxIsCentredOnThePointer()
    {
        QCOMPARE(circleRect(QPoint(100, 50), 20), QRect(80, 30, 40, 40));
        // Inclusive right and bottom edges end one pixel short of x + r and y + r.
        QCOMPARE(circleRect(QPoint(100, 50), 20).right(), 119);
        QCOMPARE(circleRect(QPoint(100, 50), 20).bottom(), 69);
        // Nothing is clamped at the screen's edges.
        QCOMPARE(circleRect(QPoint(0, 0), 10), QRect(-10, -10, 20, 20));
    }

    void onlyPointerEffectsFollowThePointer_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<bool>("follows");
        QTest::newRow("normal") << int(ModeNormal) << false;
        QTest::newRow("spotlight") << int(ModeSpotLight) << true;
        QTest::newRow("laser") << int(ModeLaser) << true;
        QTest::newRow("magnifier") << int(ModeMagnifier) << true;
        QTest::newRow("black screen") << int(ModeBlackScreen) << false;
        QTest::newRow("unknown") << 9 << false;
    }
    void onlyPointerEffectsFollowThePointer()
    {
        QFETCH(int, mode);
        QFETCH(bool, follows);
        QCOMPARE(followsPointer(mode), follows);
        const QRect bounds = effectBounds(mode, QPoint(300, 200), 20);
        QCOMPARE(bounds.isEmpty(), !follows);
        if (follows) {
            // The circle plus room for antialiasing and the pen.
            QVERIFY(bounds.contains(circleRect(QPoint(300, 200), 20).adjusted(-1, -1, 1, 1)));
            QCOMPARE(bounds, QRect(278, 178, 44, 44));
        }
    }

    void pointerMoveRepaintsOldAndNewPlaceOnly()
    {
        const QRegion moved =
            pointerMoveRegion(ModeSpotLight, QPoint(100, 100), QPoint(600, 400), 20, m_screen);
        for (const QPoint p : {QPoint(100, 100), QPoint(600, 400)}) {
            const QRect bounds = effectBounds(ModeSpotLight, p, 20);
            QVERIFY(QRegion(bounds).subtracted(moved).isEmpty());
        }
        // Two small squares, not the box spanning both.
        QCOMPARE(moved.rectCount(), 2);
        QVERIFY(!moved.contains(QPoint(350, 250)));
        int area = 0;
        for (const QRect &r : moved)
            area += r.width() * r.height();
        QCOMPARE(area, 2 * 44 * 44);

        // No move, nothing to repaint; effects that ignore the pointer never repaint.
        QVERIFY(pointerMoveRegion(ModeLaser, QPoint(5, 5), QPoint(5, 5), 20, m_screen).isEmpty());
        QVERIFY(pointerMoveRegion(ModeBlackScreen, QPoint(5, 5), QPoint(50, 5), 20, m_screen)
                    .isEmpty());
        QVERIFY(pointerMoveRegion(ModeNormal, QPoint(5, 5), QPoint(50, 5), 20, m_screen).isEmpty());

        // At the edge the area is cut to the overlay.
        const QRegion edge =
            pointerMoveRegion(ModeLaser, QPoint(0, 0), QPoint(799, 599), 20, m_screen);
        QVERIFY(m_screen.contains(edge.boundingRect()));
        QVERIFY(edge.contains(QPoint(0, 0)));
        QVERIFY(edge.contains(QPoint(799, 599)));
    }

    void lensTransformPutsThePieceCentreOnThePointer_data()
    {
        QTest::addColumn<QPoint>("pointer");
        QTest::addColumn<int>("radius");
        QTest::addColumn<double>("scale");
        QTest::addColumn<QPointF>("piecePixel");
        QTest::addColumn<QPointF>("screenPoint");
        QTest::newRow("centre, 2x")
            << QPoint(200, 150) << 30 << 2.0 << QPointF(30, 30) << QPointF(200, 150);
        QTest::newRow("corner of piece, 2x")
            << QPoint(200, 150) << 30 << 2.0 << QPointF(0, 0) << QPointF(140, 90);
        QTest::newRow("fractional scale")
            << QPoint(200, 150) << 20 << 1.5 << QPointF(0, 0) << QPointF(170, 120);
        QTest::newRow("scale 1 maps in place")
            << QPoint(200, 150) << 20 << 1.0 << QPointF(5, 7) << QPointF(185, 137);
        QTest::newRow("below 1") << QPoint(200, 150) << 20 << 0.5 << QPointF(40, 40)
                                 << QPointF(210, 160);
    }
    void lensTransformPutsThePieceCentreOnThePointer()
    {
        QFETCH(QPoint, pointer);
        QFETCH(int, radius);
        QFETCH(double, scale);
        QFETCH(QPointF, piecePixel);
        QFETCH(QPointF, screenPoint);
        QCOMPARE(lensTransform(pointer, radius, scale).map(piecePixel), screenPoint);
        QCOMPARE(lensSourceRect(pointer, radius), circleRect(pointer, radius));
    }

    void discRegionHoldsThePixelsInsideTheCircle_data()
    {
        QTest::addColumn<QRect>("box");
        QTest::newRow("r 20") << QRect(80, 30, 40, 40);
        QTest::newRow("r 1") << QRect(9, 9, 2, 2);
        QTest::newRow("r 200 off the edge") << QRect(-150, -100, 400, 400);
        QTest::newRow("ellipse") << QRect(0, 0, 30, 12);
    }
    void discRegionHoldsThePixelsInsideTheCircle()
    {
        QFETCH(QRect, box);
        const QRegion disc = discRegion(box);
        const double cx = box.x() + box.width() / 2.0;
        const double cy = box.y() + box.height() / 2.0;
        const double a = box.width() / 2.0;
        const double b = box.height() / 2.0;
        int inside = 0;
        for (int y = box.top() - 1; y <= box.bottom() + 1; ++y) {
            for (int x = box.left() - 1; x <= box.right() + 1; ++x) {
                const double dx = (x + 0.5 - cx) / a;
                const double dy = (y + 0.5 - cy) / b;
                const bool expected = dx * dx + dy * dy <= 1.0;
                inside += expected ? 1 : 0;
                if (disc.contains(QPoint(x, y)) != expected)
                    QFAIL(qPrintable(QStringLiteral("pixel %1,%2").arg(x).arg(y)));
            }
        }
        // Roughly the area of the ellipse.
        QVERIFY(std::abs(inside - M_PI * a * b) < 2 * (a + b));
        QVERIFY(discRegion(QRect()).isEmpty());
    }

    void shownRegionWithoutCompositorIsWhatIsDrawn()
    {
        const QPoint p(300, 200);
        // With a compositor the whole window is always shown: translucency does the rest.
        for (int mode : {int(ModeNormal), int(ModeSpotLight), int(ModeLaser), int(ModeMagnifier),
                         int(ModeBlackScreen), 7})
            QCOMPARE(shownRegion(mode, m_screen, p, 30, true), QRegion(m_screen));

        // Without one: nothing while nothing is displayed...
        QVERIFY(shownRegion(ModeNormal, m_screen, p, 30, false).isEmpty());
        QVERIFY(shownRegion(7, m_screen, p, 30, false).isEmpty());
        // ... the whole screen for the black screen ...
        QCOMPARE(shownRegion(ModeBlackScreen, m_screen, p, 30, false), QRegion(m_screen));
        // ... the darkening with a hole where the desktop shows through ...
        const QRegion spot = shownRegion(ModeSpotLight, m_screen, p, 30, false);
        QVERIFY(!spot.contains(p));
        QVERIFY(!spot.contains(p + QPoint(25, 0)));
        QVERIFY(spot.contains(p + QPoint(32, 0)));
        QVERIFY(spot.contains(QPoint(0, 0)));
        QVERIFY(spot.contains(QPoint(799, 599)));
        // ... and only the dot or the lens, outline included.
        for (int mode : {int(ModeLaser), int(ModeMagnifier)}) {
            const QRegion disc = shownRegion(mode, m_screen, p, 30, false);
            QVERIFY(disc.contains(p));
            QVERIFY(disc.contains(p + QPoint(30, 0)));
            QVERIFY(disc.contains(p - QPoint(31, 0)));
            QVERIFY(!disc.contains(p + QPoint(33, 0)));
            QVERIFY(!disc.contains(p + QPoint(25, 25)));
            QVERIFY(!disc.contains(QPoint(0, 0)));
        }
        // A dot half off the screen is cut to it.
        const QRegion corner = shownRegion(ModeLaser, m_screen, QPoint(0, 0), 30, false);
        QVERIFY(m_screen.contains(corner.boundingRect()));
        QVERIFY(corner.contains(QPoint(0, 0)));
    }

    void frameIntervalFollowsTheRefreshRate_data()
    {
        QTest::addColumn<double>("rate");
        QTest::addColumn<int>("interval");
        QTest::newRow("60 Hz") << 60.0 << 16;
        QTest::newRow("144 Hz") << 144.0 << 6;
        QTest::newRow("30 Hz") << 30.0 << 33;
        QTest::newRow("unknown") << 0.0 << 16;
        QTest::newRow("nan") << std::nan("") << 16;
        QTest::newRow("absurd") << 1e9 << 16;
    }
    void frameIntervalFollowsTheRefreshRate()
    {
        QFETCH(double, rate);
        QFETCH(int, interval);
        QCOMPARE(frameIntervalMs(rate), interval);
    }
};

QTEST_APPLESS_MAIN(TestOverlayGeometry)
#include "tst_overlaygeometry.moc"
