#include "overlay/frameplanner.h"

#include <QtTest>

using FramePlanner::PointerShape;
using Presence = WindowPresence;

Q_DECLARE_METATYPE(PointerShape)
Q_DECLARE_METATYPE(Presence)

namespace {

// A laptop and, right of it, a projector at twice the pixels per logical pixel.
const QRect Laptop(0, 0, 1280, 800);
const QRect Projector(1280, 0, 1920, 1080);

FramePlanner::Input twoScreens(ScreenMode mode, QPoint pointer)
{
    FramePlanner::Input in;
    in.mode = mode;
    in.foreColor = QColor(255, 0, 0);
    in.backColor = QColor(0, 0, 0);
    in.foreOpacity = 100;
    in.backOpacity = 150;
    in.radius = 40;
    in.pointer = pointer;
    in.screens = {{Laptop, 1.0, 60.0}, {Projector, 2.0, 144.0}};
    return in;
}

enum class Shape { Nothing, Whole, Part };

Shape shapeOf(const QRegion &region, const QRect &deviceArea)
{
    if (region.isEmpty())
        return Shape::Nothing;
    return QRegion(deviceArea).subtracted(region).isEmpty() ? Shape::Whole : Shape::Part;
}

} // namespace

Q_DECLARE_METATYPE(Shape)

// The decisions behind every frame, on two screens of different scales: which screen shows
// the effect, what each window is for the window system, the pointer, the colours, and what
// a pointer move repaints.
class TestFramePlanner : public QObject
{
    Q_OBJECT

private slots:
    void effectScreen_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<QPoint>("pointer");
        QTest::addColumn<int>("lastScreen");
        QTest::addColumn<bool>("pickScreen");
        QTest::addColumn<int>("screen");
        QTest::addColumn<QPoint>("local");
        QTest::newRow("spotlight follows onto the projector")
            << int(ModeSpotLight) << QPoint(1500, 300) << 0 << false << 1 << QPoint(220, 300);
        QTest::newRow("black screen stays on the screen it was shown on")
            << int(ModeBlackScreen) << QPoint(1500, 300) << 0 << false << 0 << QPoint(1500, 300);
        QTest::newRow("black screen newly shown goes under the pointer")
            << int(ModeBlackScreen) << QPoint(1500, 300) << 0 << true << 1 << QPoint(220, 300);
        QTest::newRow("below the laptop, nearest to it")
            << int(ModeLaser) << QPoint(100, 900) << 1 << false << 0 << QPoint(100, 900);
        QTest::newRow("below the projector's right part, nearest to it")
            << int(ModeLaser) << QPoint(2000, 1200) << 0 << false << 1 << QPoint(720, 1200);
        QTest::newRow("screen of the last frame gone: under the pointer")
            << int(ModeBlackScreen) << QPoint(100, 100) << 5 << false << 0 << QPoint(100, 100);
    }
    void effectScreen()
    {
        QFETCH(int, mode);
        QFETCH(QPoint, pointer);
        QFETCH(int, lastScreen);
        QFETCH(bool, pickScreen);
        QFETCH(int, screen);
        QFETCH(QPoint, local);
        FramePlanner::Input in = twoScreens(ScreenMode(mode), pointer);
        in.lastScreen = lastScreen;
        in.pickScreen = pickScreen;
        const FramePlanner::Plan plan = FramePlanner::plan(in);
        QCOMPARE(plan.screen, screen);
        QCOMPARE(plan.pointer, local);
        QCOMPARE(plan.followIntervalMs, screen == 1 ? 6 : 16);
    }

    // Without a compositing manager each window shows only what it draws; the pointer over
    // the laptop, the lens's picture (if any) of the laptop.
    void whatEachScreenShows_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<bool>("lensWaits");
        QTest::addColumn<int>("pictureScreen");
        QTest::addColumn<bool>("pointerKnown");
        QTest::addColumn<int>("drawn");
        QTest::addColumn<Presence>("laptop");
        QTest::addColumn<Presence>("projector");
        QTest::addColumn<PointerShape>("pointer");
        QTest::addColumn<Shape>("laptopShows");
        QTest::newRow("nothing") << int(ModeNormal) << false << -1 << true << int(ModeNormal)
                                 << Presence::Idle << Presence::Idle << PointerShape::Arrow
                                 << Shape::Nothing;
        QTest::newRow("spotlight: every window watches the pointer")
            << int(ModeSpotLight) << false << -1 << true << int(ModeSpotLight)
            << Presence::FollowingPointer << Presence::FollowingPointer << PointerShape::Hidden
            << Shape::Part;
        QTest::newRow("laser") << int(ModeLaser) << false << -1 << true << int(ModeLaser)
                               << Presence::FollowingPointer << Presence::FollowingPointer
                               << PointerShape::Hidden << Shape::Part;
        QTest::newRow("black screen: shown on its screen only")
            << int(ModeBlackScreen) << false << -1 << true << int(ModeBlackScreen)
            << Presence::Shown << Presence::Idle << PointerShape::Unchanged << Shape::Whole;
        QTest::newRow("lens with its picture")
            << int(ModeMagnifier) << false << 0 << true << int(ModeMagnifier)
            << Presence::FollowingPointer << Presence::FollowingPointer << PointerShape::Hidden
            << Shape::Part;
        QTest::newRow("lens waiting for its picture: nothing, nobody holds the pointer")
            << int(ModeMagnifier) << true << 0 << true << int(ModeNormal) << Presence::Idle
            << Presence::Idle << PointerShape::Arrow << Shape::Nothing;
        QTest::newRow("lens with the picture of the other screen: nothing here, still following")
            << int(ModeMagnifier) << false << 1 << true << int(ModeNormal)
            << Presence::FollowingPointer << Presence::FollowingPointer << PointerShape::Arrow
            << Shape::Nothing;
        QTest::newRow("pointer position old: holding the pointer, drawing nothing")
            << int(ModeLaser) << false << -1 << false << int(ModeNormal)
            << Presence::FollowingPointer << Presence::FollowingPointer << PointerShape::Hidden
            << Shape::Nothing;
        QTest::newRow("unknown mode: nothing, the pointer left alone")
            << 9 << false << -1 << true << 9 << Presence::Idle << Presence::Idle
            << PointerShape::Unchanged << Shape::Nothing;
    }
    void whatEachScreenShows()
    {
        QFETCH(int, mode);
        QFETCH(bool, lensWaits);
        QFETCH(int, pictureScreen);
        QFETCH(bool, pointerKnown);
        QFETCH(int, drawn);
        QFETCH(Presence, laptop);
        QFETCH(Presence, projector);
        QFETCH(PointerShape, pointer);
        QFETCH(Shape, laptopShows);
        FramePlanner::Input in = twoScreens(ScreenMode(mode), QPoint(600, 400));
        in.compositing = false;
        in.lens.waitsForPicture = lensWaits;
        in.lens.pictureScreen = pictureScreen;
        in.lens.onlyOverPictureScreen = true;
        in.pointerKnown = pointerKnown;
        const FramePlanner::Plan plan = FramePlanner::plan(in);
        QCOMPARE(plan.screen, 0);
        QCOMPARE(int(plan.mode), drawn);
        QCOMPARE(plan.presence.size(), std::size_t(2));
        QCOMPARE(plan.presence[0], laptop);
        QCOMPARE(plan.presence[1], projector);
        QCOMPARE(plan.pointerShape, pointer);
        QCOMPARE(shapeOf(plan.shownRegion[0], QRect(QPoint(), Laptop.size())), laptopShows);
        QVERIFY(plan.shownRegion[1].isEmpty()); // the projector draws nothing
        QCOMPARE(plan.showsPicture, pictureScreen == 0);

        // With compositing every window shows whole, whatever it draws.
        in.compositing = true;
        const FramePlanner::Plan blended = FramePlanner::plan(in);
        QCOMPARE(blended.shownRegion[0], QRegion(QRect(QPoint(), Laptop.size())));
        QCOMPARE(blended.shownRegion[1], QRegion(QRect(QPoint(), Projector.size() * 2)));
    }

    // A picture read at once: a lens without one, or over another screen, shows its ring.
    void lensReadAtOnceShowsItsRingAnywhere()
    {
        FramePlanner::Input in = twoScreens(ModeMagnifier, QPoint(1500, 300));
        in.lens.pictureScreen = 0;
        const FramePlanner::Plan plan = FramePlanner::plan(in);
        QCOMPARE(plan.mode, ModeMagnifier);
        QCOMPARE(plan.screen, 1);
        QVERIFY(!plan.showsPicture);
    }

    // The effect's colour takes its opacity when it is displayed and keeps it.
    void colorsTakeTheOpacityOfTheEffectShown_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<int>("foreAlpha");
        QTest::addColumn<int>("backAlpha");
        QTest::newRow("spotlight: the shade") << int(ModeSpotLight) << 255 << 150;
        QTest::newRow("laser: the dot") << int(ModeLaser) << 100 << 255;
        QTest::newRow("lens: as they were") << int(ModeMagnifier) << 255 << 255;
        QTest::newRow("black screen: as they were") << int(ModeBlackScreen) << 255 << 255;
    }
    void colorsTakeTheOpacityOfTheEffectShown()
    {
        QFETCH(int, mode);
        QFETCH(int, foreAlpha);
        QFETCH(int, backAlpha);
        const FramePlanner::Plan plan = FramePlanner::plan(twoScreens(ScreenMode(mode), {}));
        QCOMPARE(plan.foreColor.alpha(), foreAlpha);
        QCOMPARE(plan.backColor.alpha(), backAlpha);
        QCOMPARE(plan.foreColor.rgb(), QColor(255, 0, 0).rgb());
    }

    // What a pointer move repaints: the effect's old and new place on its screen; the
    // whole of both windows when it changed screens or the picture changed.
    void repaintAfterAMove()
    {
        FramePlanner::Input in = twoScreens(ModeLaser, QPoint(300, 300));
        const FramePlanner::Plan before = FramePlanner::plan(in);
        in.pointer = QPoint(340, 300);
        const FramePlanner::Plan moved = FramePlanner::plan(in);
        const QRect laptop(QPoint(), Laptop.size());
        const QRect projector(QPoint(), Projector.size());
        const QRegion part = FramePlanner::repaintRegion(before, moved, 0, laptop, true);
        QVERIFY(!part.isEmpty());
        QVERIFY(part.contains(QPoint(300, 300)) && part.contains(QPoint(380, 300)));
        QVERIFY(!part.contains(QPoint(600, 600)));
        QVERIFY(FramePlanner::repaintRegion(before, moved, 1, projector, true).isEmpty());
        QCOMPARE(FramePlanner::repaintRegion(before, moved, 0, laptop, false), QRegion(laptop));

        in.pointer = QPoint(1500, 300);
        const FramePlanner::Plan across = FramePlanner::plan(in);
        QCOMPARE(FramePlanner::repaintRegion(moved, across, 0, laptop, true), QRegion(laptop));
        QCOMPARE(FramePlanner::repaintRegion(moved, across, 1, projector, true),
                 QRegion(projector));

        in.pointer = QPoint(340, 300);
        in.radius = 60;
        const FramePlanner::Plan bigger = FramePlanner::plan(in);
        QCOMPARE(FramePlanner::repaintRegion(moved, bigger, 0, laptop, true), QRegion(laptop));

        // A new live picture beneath a lens that stayed put: the lens alone, on its screen.
        in = twoScreens(ModeMagnifier, QPoint(300, 300));
        in.lens.pictureScreen = 0;
        const FramePlanner::Plan lens = FramePlanner::plan(in);
        QVERIFY(FramePlanner::repaintRegion(lens, lens, 0, laptop, true).isEmpty());
        const QRegion refreshed = FramePlanner::repaintRegion(lens, lens, 0, laptop, true, true);
        QVERIFY(refreshed.contains(QPoint(300, 300)) && refreshed.contains(QPoint(300 - 41, 300)));
        QVERIFY(!refreshed.contains(QPoint(300 - 50, 300)));
        QVERIFY(FramePlanner::repaintRegion(lens, lens, 1, projector, true, true).isEmpty());

        // The lens pressed, then changed and moved: its old and new place, nothing else.
        in.pointer = QPoint(500, 300);
        const FramePlanner::Plan lensMoved = FramePlanner::plan(in);
        in.mode = ModeNormal;
        const FramePlanner::Plan none = FramePlanner::plan(in);
        const QRegion pressed = FramePlanner::repaintRegion(none, lens, 0, laptop, false);
        QVERIFY(pressed.contains(QPoint(300 - 39, 300)) && !pressed.contains(QPoint(600, 600)));
        const QRegion changed = FramePlanner::repaintRegion(lens, lensMoved, 0, laptop, false);
        QVERIFY(changed.contains(QPoint(300, 300)) && changed.contains(QPoint(500, 300)));
        QVERIFY(!changed.contains(QPoint(400, 300 + 60)));
        // Pressed from nothing, the lens waits for its picture: nothing to repaint yet.
        in.mode = ModeMagnifier;
        in.lens.waitsForPicture = true;
        QVERIFY(FramePlanner::repaintRegion(none, FramePlanner::plan(in), 0, laptop, false)
                    .isEmpty());
    }
};

QTEST_APPLESS_MAIN(TestFramePlanner)
#include "tst_frameplanner.moc"
