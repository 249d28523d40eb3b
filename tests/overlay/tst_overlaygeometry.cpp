#include "overlay/x11/x11livearea.h"
#include "overlay/x11/x11liveblend.h"
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
    // The live lens's source square in root device pixels: centred on the pointer, side
    // 2 * radius * ratio / scale widened to whole pixels, cut to the pointer's screen.
    void liveLensSourceIsTheMagnifiedSquareInDevicePixels_data()
    {
        QTest::addColumn<QPoint>("pointer"); // root device pixels
        QTest::addColumn<double>("ratio");
        QTest::addColumn<double>("scale");
        QTest::addColumn<QRect>("screen");
        QTest::addColumn<QRect>("source");
        const QRect hd(0, 0, 800, 600);
        QTest::newRow("unscaled, 2x")
            << QPoint(400, 300) << 1.0 << 2.0 << hd << QRect(375, 275, 50, 50);
        QTest::newRow("scale 1.25, 2x: 31.25 each side, widened")
            << QPoint(400, 300) << 1.25 << 2.0 << hd << QRect(368, 268, 64, 64);
        QTest::newRow("scale 1.5, 4x") << QPoint(1000, 500) << 1.5 << 4.0 << QRect(0, 0, 2880, 1620)
                                       << QRect(981, 481, 38, 38);
        QTest::newRow("scale 1.75, 1.5x") << QPoint(700, 400) << 1.75 << 1.5
                                          << QRect(0, 0, 3360, 1890) << QRect(641, 341, 118, 118);
        QTest::newRow("scale 2, 2x") << QPoint(800, 600) << 2.0 << 2.0 << QRect(0, 0, 3840, 2160)
                                     << QRect(750, 550, 100, 100);
        QTest::newRow("screen at an offset, pointer by its left edge")
            << QPoint(1290, 500) << 1.0 << 2.0 << QRect(1280, 0, 1920, 1080)
            << QRect(1280, 475, 35, 50);
        QTest::newRow("scaled screen at an offset, pointer on its last pixel")
            << QPoint(5119, 2359) << 2.0 << 2.0 << QRect(1280, 200, 3840, 2160)
            << QRect(5069, 2309, 51, 51);
        QTest::newRow("top right corner: nothing of the screen to its right")
            << QPoint(1279, 10) << 1.0 << 4.0 << QRect(0, 0, 1280, 800) << QRect(1266, 0, 14, 23);
        QTest::newRow("pointer far off the screen")
            << QPoint(2000, 2000) << 1.0 << 2.0 << hd << QRect();
        QTest::newRow("magnification 0") << QPoint(400, 300) << 1.0 << 0.0 << hd << QRect();
        QTest::newRow("magnification not a number")
            << QPoint(400, 300) << 1.0 << std::nan("") << hd << QRect();
    }
    void liveLensSourceIsTheMagnifiedSquareInDevicePixels()
    {
        QFETCH(QPoint, pointer);
        QFETCH(double, ratio);
        QFETCH(double, scale);
        QFETCH(QRect, screen);
        QFETCH(QRect, source);
        QCOMPARE(X11LiveArea::sourceRect(pointer, 50, ratio, scale, screen), source);
    }

    // Which of the root's children the live lens reads for an area, bottom to top.
    void liveLensReadsTheWindowsBeneathTheOverlay()
    {
        using X11LiveArea::StackedWindow;
        const auto window = [](unsigned long id, const QRect &geometry, int depth = 24,
                               bool viewable = true, bool inputOutput = true) {
            StackedWindow w;
            w.id = id;
            w.geometry = geometry;
            w.depth = depth;
            w.viewable = viewable;
            w.inputOutput = inputOutput;
            return w;
        };
        const auto ids = [](const X11LiveArea::Pick &pick) {
            QList<unsigned long> list;
            for (const StackedWindow &w : pick.windows)
                list << w.id;
            return list;
        };
        const QRect area(100, 100, 200, 200);
        const unsigned long overlay = 7;
        std::vector<StackedWindow> stack{
            window(1, QRect(0, 0, 800, 600)),                  // a desktop window
            window(2, QRect(0, 0, 800, 600), 24, false),       // unmapped
            window(3, QRect(0, 0, 800, 600), 24, true, false), // InputOnly
            window(4, QRect(250, 250, 300, 300)),              // partly over the area
            window(5, QRect(500, 400, 100, 100)),              // beside the area
            window(6, QRect(150, 150, 50, 50), 32),            // translucent
            window(overlay, QRect(0, 0, 800, 600), 32),        // the overlay itself
            window(8, QRect(-500, -500, 100, 100)),            // off the screen
        };
        X11LiveArea::Pick pick = X11LiveArea::windowsBeneath(stack, {overlay}, area);
        QCOMPARE(ids(pick), (QList<unsigned long>{1, 4, 6}));
        QVERIFY(!pick.background); // the desktop window hides it
        // Without the overlay in the list it would show in its own lens.
        QCOMPARE(ids(X11LiveArea::windowsBeneath(stack, {}, area)),
                 (QList<unsigned long>{1, 4, 6, overlay}));

        // No desktop window: the background shows between the windows.
        stack.erase(stack.begin());
        pick = X11LiveArea::windowsBeneath(stack, {overlay}, area);
        QCOMPARE(ids(pick), (QList<unsigned long>{4, 6}));
        QVERIFY(pick.background);

        // A translucent window over the whole area hides nothing; an opaque one everything.
        stack.insert(stack.begin() + 5, window(9, QRect(90, 90, 300, 300), 32));
        QCOMPARE(ids(X11LiveArea::windowsBeneath(stack, {overlay}, area)),
                 (QList<unsigned long>{4, 6, 9}));
        stack.insert(stack.begin() + 6, window(10, QRect(100, 100, 200, 200)));
        pick = X11LiveArea::windowsBeneath(stack, {overlay}, area);
        QCOMPARE(ids(pick), (QList<unsigned long>{10}));
        QVERIFY(!pick.background);

        // An area off every window reads nothing but the background; an empty one nothing.
        pick = X11LiveArea::windowsBeneath(stack, {overlay}, QRect(700, 50, 20, 20));
        QVERIFY(pick.windows.empty() && pick.background);
        pick = X11LiveArea::windowsBeneath(stack, {overlay}, QRect());
        QVERIFY(pick.windows.empty() && !pick.background);

        // Two opaque halves hide what lies beneath them, and the background; a translucent
        // window between them is hidden by the half above it.
        const std::vector<StackedWindow> halves{
            window(1, QRect(0, 0, 800, 600)), window(2, QRect(120, 120, 50, 50), 32),
            window(3, QRect(0, 0, 200, 600)), window(4, QRect(200, 0, 600, 600))};
        pick = X11LiveArea::windowsBeneath(halves, {overlay}, area);
        QCOMPARE(ids(pick), (QList<unsigned long>{3, 4}));
        QVERIFY(!pick.background);
    }

    // A window's pixels in the live picture: opaque ones as they are, premultiplied ones over
    // what lies beneath, as the compositor shows them.
    void liveLensBlendsLikeTheCompositor_data()
    {
        QTest::addColumn<uint>("source");
        QTest::addColumn<bool>("blend");
        QTest::addColumn<uint>("painted"); // over white
        QTest::newRow("opaque window: its padding byte is no alpha")
            << 0x00112233u << false << 0xff112233u;
        QTest::newRow("alpha window, opaque pixel") << 0xff405060u << true << 0xff405060u;
        QTest::newRow("alpha window, clear pixel") << 0x00405060u << true << 0xffffffffu;
        QTest::newRow("half covering, premultiplied") << 0x80400000u << true << 0xffbf7f7fu;
        QTest::newRow("more colour than alpha: at most 255") << 0x80ff0000u << true << 0xffff7f7fu;
    }
    void liveLensBlendsLikeTheCompositor()
    {
        QFETCH(uint, source);
        QFETCH(bool, blend);
        QFETCH(uint, painted);
        // Two rows of two pixels, each row padded to three, put at (1, 1) of a white picture.
        const quint32 rows[] = {source, source, 0x12345678u, source, source, 0x12345678u};
        QImage picture(3, 3, QImage::Format_RGB32);
        picture.fill(Qt::white);
        X11LiveBlend::paint(picture, reinterpret_cast<const uchar *>(rows), 12, QSize(2, 2),
                            QPoint(1, 1), blend);
        for (int y = 0; y < 3; ++y) {
            for (int x = 0; x < 3; ++x)
                QCOMPARE(picture.pixel(x, y), x && y ? painted : 0xffffffffu);
        }
    }
};

QTEST_APPLESS_MAIN(TestOverlayGeometry)
#include "tst_overlaygeometry.moc"
