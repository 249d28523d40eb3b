#include "overlayrig.h"

#include "overlay/x11/x11livearea.h"
#include "overlay/overlayframe.h"
#include "overlay/overlaygeometry.h"
#include "overlay/overlaypaint.h"
#include "overlay/screenwidget.h"

#include <QtTest>

#include <cmath>

namespace {

// A pixel of a premultiplied frame as a plain colour with its alpha.
QColor colorAt(const QImage &frame, QPoint p)
{
    return QColor::fromRgba(qUnpremultiply(frame.pixel(p)));
}

bool allPixels(const QImage &frame, const std::function<bool(QRgb)> &test)
{
    for (int y = 0; y < frame.height(); ++y) {
        const auto *line = reinterpret_cast<const QRgb *>(frame.constScanLine(y));
        for (int x = 0; x < frame.width(); ++x) {
            if (!test(line[x]))
                return false;
        }
    }
    return true;
}

QString firstDifference(const QImage &a, const QImage &b)
{
    for (int y = 0; y < a.height(); ++y) {
        for (int x = 0; x < a.width(); ++x) {
            if (a.pixel(x, y) != b.pixel(x, y)) {
                return QStringLiteral("pixel %1,%2: %3 vs %4")
                    .arg(x)
                    .arg(y)
                    .arg(a.pixel(x, y), 8, 16)
                    .arg(b.pixel(x, y), 8, 16);
            }
        }
    }
    return QString();
}

// Shows `mode` (held, which ends its flash) with the pointer at `pointer`.
void display(OverlayRig &rig, ScreenMode mode, QPoint pointer)
{
    rig.pointer = pointer;
    rig.w().onSetMode(mode);
    rig.w().onShowMode(true);
    // The lens draws once its picture came (the screen is read on the event loop's next turn).
    rig.pictureCame();
}

// The frame the overlay's windows draw now, as the native Wayland overlay is handed it.
OverlayFrame currentFrame(ScreenWidget &w)
{
    OverlayFrame frame;
    frame.mode = w.paintMode();
    frame.screen = w.effectScreen();
    frame.pointer = w.mousePos();
    frame.radius = w.cursorSize();
    frame.foreColor = w.foreColor();
    frame.backColor = w.backColor();
    frame.scaleRate = w.scaleRate();
    frame.capture = w.screenPixmap();
    return frame;
}

// A layer surface's buffer: device pixels, their ratio set, fully transparent.
QImage layerBuffer(const QSize &size, double ratio)
{
    QImage buffer(size * ratio, QImage::Format_ARGB32_Premultiplied);
    buffer.setDevicePixelRatio(ratio);
    buffer.fill(Qt::transparent);
    return buffer;
}

} // namespace

// The pixels of every mode, drawn at known pointer positions, and the repaint limited to
// where the pointer was and is.
class TestOverlayRendering : public QObject
{
    Q_OBJECT

private:
    WorkDir m_workDir;

private slots:
    void init() { QVERIFY(m_workDir.enter()); }
    void cleanup() { m_workDir.leave(); }

    void normalModeIsFullyTransparent()
    {
        OverlayRig rig;
        rig.w().onSetBackColor(QColor(200, 10, 10));
        const QImage frame = renderFrame(rig.w());
        QVERIFY(allPixels(frame, [](QRgb p) { return qAlpha(p) == 0; }));
        QCOMPARE(rig.w().cursor().shape(), Qt::ArrowCursor);
    }

    void spotlightDarkensAllButAHole_data()
    {
        QTest::addColumn<QPoint>("pointer");
        QTest::addColumn<QPoint>("inHole");  // a pixel just inside the hole's edge
        QTest::addColumn<QPoint>("outside"); // a pixel just outside it
        QTest::newRow("middle") << QPoint(300, 200) << QPoint(336, 200) << QPoint(343, 200);
        QTest::newRow("top left corner") << QPoint(0, 0) << QPoint(26, 26) << QPoint(31, 31);
        QTest::newRow("bottom right corner")
            << QPoint(799, 599) << QPoint(772, 572) << QPoint(768, 568);
        QTest::newRow("partly off the top")
            << QPoint(400, -20) << QPoint(400, 15) << QPoint(400, 23);
    }
    void spotlightDarkensAllButAHole()
    {
        QFETCH(QPoint, pointer);
        QFETCH(QPoint, inHole);
        QFETCH(QPoint, outside);
        OverlayRig rig;
        ScreenWidget &w = rig.w();
        w.onSetBackColor(QColor(10, 20, 30));
        w.onSetBackOpacity(180);
        w.onSetCursorSize(40);
        display(rig, ModeSpotLight, pointer);
        const QImage frame = renderFrame(w);

        QCOMPARE(w.mousePos(), pointer);
        if (frame.rect().contains(pointer))
            QVERIFY(qAlpha(frame.pixel(pointer)) <= 1);
        QVERIFY(qAlpha(frame.pixel(inHole)) <= 1);
        const QColor dark = colorAt(frame, outside);
        QCOMPARE(dark.alpha(), 180);
        QVERIFY(std::abs(dark.red() - 10) <= 1 && std::abs(dark.green() - 20) <= 1 &&
                std::abs(dark.blue() - 30) <= 1);
        // Far away the darkening everywhere, at the back opacity.
        const QPoint far = pointer.x() < 400 ? QPoint(700, 500) : QPoint(100, 500);
        QCOMPARE(colorAt(frame, far).alpha(), 180);
        // The opacity stays in the stored back colour; the pointer is hidden.
        QCOMPARE(w.backColor().alpha(), 180);
        QCOMPARE(w.cursor().shape(), Qt::BlankCursor);
    }

    void laserDrawsADotOverAVeil_data()
    {
        QTest::addColumn<QPoint>("pointer");
        QTest::newRow("middle") << QPoint(300, 200);
        QTest::newRow("top left corner") << QPoint(0, 0);
        QTest::newRow("right edge") << QPoint(799, 300);
        QTest::newRow("bottom edge") << QPoint(50, 599);
    }
    void laserDrawsADotOverAVeil()
    {
        QFETCH(QPoint, pointer);
        OverlayRig rig;
        ScreenWidget &w = rig.w();
        w.onSetForeColor(QColor(0, 0, 255));
        w.onSetForeOpacity(150);
        w.onSetCursorSize(10);
        display(rig, ModeLaser, pointer);
        const QImage frame = renderFrame(w);

        // No pixel is fully transparent.
        QVERIFY(allPixels(frame, [](QRgb p) { return qAlpha(p) >= 1; }));
        const QColor dot = colorAt(frame, pointer);
        QVERIFY(std::abs(dot.alpha() - 150) <= 1); // over the veil of alpha 1
        QVERIFY(dot.blue() >= 250 && dot.red() <= 3 && dot.green() <= 3);
        const QPoint away = pointer + QPoint(pointer.x() < 400 ? 14 : -14, 0);
        QCOMPARE(frame.pixel(away), qRgba(1, 1, 1, 1)); // white veil of alpha 1
        QCOMPARE(w.foreColor().alpha(), 150);
        QCOMPARE(w.cursor().shape(), Qt::BlankCursor);
    }

    void magnifierShowsTheCaptureEnlarged_data()
    {
        QTest::addColumn<QPoint>("pointer");
        QTest::addColumn<int>("radius");
        QTest::addColumn<double>("scale");
        QTest::addColumn<QPoint>("lensPixel");
        QTest::addColumn<QPoint>("capturePixel");
        QTest::newRow("centre") << QPoint(200, 150) << 30 << 2.0 << QPoint(200, 150)
                                << QPoint(200, 150);
        QTest::newRow("off centre, 2x")
            << QPoint(200, 150) << 30 << 2.0 << QPoint(210, 156) << QPoint(205, 153);
        // Within r of the left or top edge the copied piece starts at the edge: shifted.
        QTest::newRow("left edge shift")
            << QPoint(10, 150) << 30 << 2.0 << QPoint(10, 154) << QPoint(30, 152);
        QTest::newRow("top edge shift")
            << QPoint(200, 5) << 30 << 2.0 << QPoint(200, 5) << QPoint(200, 30);
        // Near the right edge the piece is only cut short: still centred on the pointer.
        QTest::newRow("right edge")
            << QPoint(790, 150) << 30 << 2.0 << QPoint(795, 150) << QPoint(792, 150);
        QTest::newRow("scale 1") << QPoint(300, 300) << 20 << 1.0 << QPoint(307, 303)
                                 << QPoint(307, 303);
        QTest::newRow("scale 1.5")
            << QPoint(400, 300) << 40 << 1.5 << QPoint(420, 300) << QPoint(413, 300);
        // Below 1 the enlarged piece is smaller than the lens and repeats inside it.
        QTest::newRow("scale 0.75 repeats")
            << QPoint(400, 300) << 40 << 0.75 << QPoint(430, 300) << QPoint(360, 300);
    }
    void magnifierShowsTheCaptureEnlarged()
    {
        QFETCH(QPoint, pointer);
        QFETCH(int, radius);
        QFETCH(double, scale);
        QFETCH(QPoint, lensPixel);
        QFETCH(QPoint, capturePixel);
        OverlayRig rig;
        ScreenWidget &w = rig.w();
        rig.capture = coordinateCapture(w.size());
        w.onSetCursorSize(radius);
        w.onSetScaleRate(scale);
        display(rig, ModeMagnifier, pointer);
        const QImage frame = renderFrame(w);

        QCOMPARE(w.mousePos(), pointer);
        QCOMPARE(frame.pixel(lensPixel), coordinateColor(capturePixel.x(), capturePixel.y()));
        // Outside the lens the desktop shows: fully transparent.
        const QPoint beyond = pointer + QPoint(pointer.x() < 400 ? radius + 3 : -radius - 3, 0);
        QCOMPARE(qAlpha(frame.pixel(beyond)), 0);
        QCOMPARE(qAlpha(frame.pixel(0, 599)), 0);
        QCOMPARE(w.cursor().shape(), Qt::BlankCursor);
    }

    // On a scaled screen: sizes in logical pixels, the capture in device pixels, each
    // captured device pixel enlarged in place; hole, dot and lens centred on the pointer to
    // within one device pixel.
    void scaledScreenKeepsEffectsOnThePointer_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<double>("ratio");
        for (double ratio : {1.0, 1.25, 1.5, 2.0}) {
            for (int mode : {int(ModeSpotLight), int(ModeLaser), int(ModeMagnifier)}) {
                QTest::addRow("mode %d at %.2f", mode, ratio) << mode << ratio;
            }
        }
    }
    void scaledScreenKeepsEffectsOnThePointer()
    {
        QFETCH(int, mode);
        QFETCH(double, ratio);
        OverlayRig rig;
        ScreenWidget &w = rig.w();
        rig.useCoordinateCapture(ratio);
        w.onSetCursorSize(30);
        w.onSetForeColor(QColor(0, 0, 255));
        w.onSetForeOpacity(255);
        w.onSetBackOpacity(255);
        const QPoint pointer(301, 203);
        display(rig, static_cast<ScreenMode>(mode), pointer);
        if (mode == ModeMagnifier)
            w.onSetRepaint();
        QVERIFY(rig.pictureCame());
        QImage frame(w.size() * ratio, QImage::Format_ARGB32_Premultiplied);
        frame.setDevicePixelRatio(ratio);
        frame.fill(Qt::transparent);
        w.render(&frame, QPoint(), QRegion(), QWidget::RenderFlags());

        const double cx = pointer.x() * ratio;
        const int row = qRound(pointer.y() * ratio);
        const int radius = qRound(30 * ratio);
        if (mode == ModeMagnifier) {
            // Device pixel (cx + d) of the lens shows captured device pixel cx + d / 2.
            for (int d : {0, 8, -8, 20}) {
                const QRgb shown = frame.pixel(qRound(cx) + d, row);
                const int capturedX = qRed(shown) + ((qBlue(shown) >> 4) << 8);
                QVERIFY2(std::abs(capturedX - (cx + d / 2.0)) <= 1.0,
                         qPrintable(QStringLiteral("%1 at %2").arg(capturedX).arg(d)));
            }
            return;
        }
        // The hole (clear) or the dot (opaque) along the pointer's row: its middle.
        const auto inside = [&](int x) {
            const int alpha = qAlpha(frame.pixel(x, row));
            return mode == ModeSpotLight ? alpha < 128 : alpha > 128;
        };
        int left = qRound(cx);
        int right = qRound(cx);
        QVERIFY(inside(left));
        while (inside(left - 1))
            --left;
        while (inside(right + 1))
            ++right;
        QVERIFY2(std::abs(right - left + 1 - 2 * radius) <= 2,
                 qPrintable(QStringLiteral("%1..%2").arg(left).arg(right)));
        QVERIFY2(std::abs((left + right + 1) / 2.0 - cx) <= 1.0,
                 qPrintable(QStringLiteral("%1..%2 round %3").arg(left).arg(right).arg(cx)));
    }

    void magnifierRingTakesTheAlphaLeftByTheLaser()
    {
        OverlayRig rig;
        ScreenWidget &w = rig.w();
        rig.capture = coordinateCapture(w.size());
        w.onSetCursorSize(30);
        w.onSetForeColor(QColor(255, 0, 0));
        const QPoint p(300, 200);
        // The ring's outer half lies on the pixel left of the circle.
        const QPoint ring = p - QPoint(31, 0);

        display(rig, ModeMagnifier, p);
        const int opaqueAlpha = qAlpha(renderFrame(w).pixel(ring));
        QVERIFY(opaqueAlpha > 60);

        w.onSetForeOpacity(100);
        display(rig, ModeLaser, p);
        renderFrame(w);
        QCOMPARE(w.foreColor().alpha(), 100); // left there by the laser paint
        display(rig, ModeMagnifier, p);
        const int laserAlpha = qAlpha(renderFrame(w).pixel(ring));
        QVERIFY2(std::abs(laserAlpha - opaqueAlpha * 100.0 / 255.0) <= 3,
                 qPrintable(QStringLiteral("%1 vs %2").arg(laserAlpha).arg(opaqueAlpha)));

        // A new opaque colour makes the ring opaque again.
        w.onSetForeColor(QColor(255, 0, 0));
        QCOMPARE(qAlpha(renderFrame(w).pixel(ring)), opaqueAlpha);
    }

    void blackScreenCoversEverything_data()
    {
        QTest::addColumn<int>("before");
        QTest::addColumn<int>("cursor");
        QTest::newRow("after the laser") << int(ModeLaser) << int(Qt::BlankCursor);
        QTest::newRow("after nothing") << int(ModeNormal) << int(Qt::ArrowCursor);
    }
    void blackScreenCoversEverything()
    {
        QFETCH(int, before);
        QFETCH(int, cursor);
        OverlayRig rig;
        ScreenWidget &w = rig.w();
        display(rig, static_cast<ScreenMode>(before), QPoint(5, 5));
        renderFrame(w);
        // Straight from the previous picture, without the mode's flash in between (the
        // settings applied at start select the mode without one).
        rig.pointer = QPoint(790, 10);
        w.applySettings({ModeBlackScreen, w.foreColor(), w.backColor(), 200, 200, 50, 2.0});
        w.onShowMode(true);
        const QImage frame = renderFrame(w);
        QVERIFY(allPixels(frame, [](QRgb p) { return p == qRgba(0, 0, 0, 255); }));
        // The pointer shape stays as the previous paint left it.
        QCOMPARE(int(w.cursor().shape()), cursor);
        QCOMPARE(rig.windowSystem->pointerHidden, cursor == Qt::BlankCursor);
    }

    void pointerShapes_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<int>("cursor");
        QTest::newRow("normal") << int(ModeNormal) << int(Qt::ArrowCursor);
        QTest::newRow("spotlight") << int(ModeSpotLight) << int(Qt::BlankCursor);
        QTest::newRow("laser") << int(ModeLaser) << int(Qt::BlankCursor);
        QTest::newRow("magnifier") << int(ModeMagnifier) << int(Qt::BlankCursor);
    }
    void pointerShapes()
    {
        QFETCH(int, mode);
        QFETCH(int, cursor);
        OverlayRig rig;
        ScreenWidget &w = rig.w();
        // Start from the other shape, so every row sees a change.
        display(rig, mode == ModeNormal ? ModeLaser : ModeNormal, QPoint(50, 50));
        renderFrame(w);
        display(rig, static_cast<ScreenMode>(mode), QPoint(60, 60));
        renderFrame(w);
        QCOMPARE(int(w.cursor().shape()), cursor);
        // The window lets input through, so the window system hides the pointer as well.
        QCOMPARE(rig.windowSystem->pointerHidden, cursor == Qt::BlankCursor);
    }

    void unknownModeDrawsNothing()
    {
        OverlayRig rig;
        ScreenWidget &w = rig.w();
        display(rig, ModeLaser, QPoint(50, 50));
        renderFrame(w);
        rig.pointer = QPoint(60, 60);
        w.applySettings({static_cast<ScreenMode>(7), Qt::red, Qt::black, 200, 200, 50, 2.0});
        w.onShowMode(true);
        const QImage frame = renderFrame(w);
        QVERIFY(allPixels(frame, [](QRgb p) { return qAlpha(p) == 0; }));
        QCOMPARE(w.cursor().shape(), Qt::BlankCursor);
        QVERIFY(!w.isSamplingPointer());
    }

    void partialRepaintEqualsFullRepaint_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<int>("radius");
        QTest::addColumn<QPoint>("from");
        QTest::addColumn<QPoint>("to");
        QTest::addColumn<bool>("movesOnBeforePaint");
        QTest::newRow("spotlight, small step")
            << int(ModeSpotLight) << 50 << QPoint(300, 200) << QPoint(303, 201) << false;
        QTest::newRow("spotlight, far")
            << int(ModeSpotLight) << 50 << QPoint(100, 100) << QPoint(650, 500) << false;
        QTest::newRow("spotlight, big, off the edge")
            << int(ModeSpotLight) << 200 << QPoint(400, 300) << QPoint(790, 5) << false;
        QTest::newRow("laser into the corner")
            << int(ModeLaser) << 10 << QPoint(20, 20) << QPoint(0, 0) << false;
        QTest::newRow("laser, diagonal step")
            << int(ModeLaser) << 25 << QPoint(400, 300) << QPoint(417, 311) << false;
        QTest::newRow("lens near the left edge")
            << int(ModeMagnifier) << 50 << QPoint(200, 300) << QPoint(20, 310) << false;
        QTest::newRow("lens, small step")
            << int(ModeMagnifier) << 30 << QPoint(500, 300) << QPoint(502, 299) << false;
        QTest::newRow("pointer moves on before the paint")
            << int(ModeSpotLight) << 40 << QPoint(300, 200) << QPoint(320, 210) << true;
    }
    void partialRepaintEqualsFullRepaint()
    {
        QFETCH(int, mode);
        QFETCH(int, radius);
        QFETCH(QPoint, from);
        QFETCH(QPoint, to);
        QFETCH(bool, movesOnBeforePaint);
        OverlayRig rig;
        ScreenWidget &w = rig.w();
        rig.capture = coordinateCapture(w.size());
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        w.onSetCursorSize(radius);
        w.onSetScaleRate(1.5);
        display(rig, static_cast<ScreenMode>(mode), from);
        PaintLog log(&w);
        QTRY_VERIFY(!log.entries.isEmpty());
        QImage frame = renderFrame(w);

        // Only the pointer moves; the overlay schedules the repaint of the old and new place.
        log.entries.clear();
        rig.pointer = to;
        w.followPointer();
        if (movesOnBeforePaint)
            rig.pointer = QPoint(700, 100);
        // Paint now: a sample of the pointer at the next frame would plan a newer picture.
        QCoreApplication::sendPostedEvents(&w, QEvent::UpdateRequest);
        QCOMPARE(log.entries.size(), 1);
        // The paint draws where it was planned for, even if the pointer moved on meanwhile.
        QCOMPARE(w.mousePos(), to);
        const QRegion painted = log.entries[0].region;
        QVERIFY(!covers(painted, w.rect()));
        QVERIFY(covers(painted, OverlayGeometry::effectBounds(mode, from, radius) & w.rect()));
        QVERIFY(covers(painted, OverlayGeometry::effectBounds(mode, to, radius) & w.rect()));
        int paintedArea = 0;
        for (const QRect &r : painted)
            paintedArea += r.width() * r.height();
        QVERIFY2(paintedArea < w.width() * w.height() / 2,
                 qPrintable(QStringLiteral("%1 pixels repainted").arg(paintedArea)));

        rig.pointer = to;
        repaintInto(frame, w, painted);
        const QImage full = renderFrame(w);
        QVERIFY2(frame == full, qPrintable(firstDifference(frame, full)));
    }

    // The native Wayland overlay draws into its buffers what the window shows, on scaled
    // outputs too, and a buffer holding an older picture, repainted only where the pointer
    // was and is, ends up the same as a fresh one.
    // A live picture of only the part the lens magnifies draws the lens as the whole screen's
    // capture does; by the screen's left edge it keeps the lens centred on the pointer.
    void livePictureDrawsAsTheCapture_data()
    {
        QTest::addColumn<QPoint>("pointer");
        QTest::addColumn<double>("ratio");
        QTest::addColumn<double>("scale");
        QTest::newRow("1x, 2x") << QPoint(300, 200) << 1.0 << 2.0;
        QTest::newRow("scale 1.5, 4x") << QPoint(301, 203) << 1.5 << 4.0;
        QTest::newRow("scale 2, 1.5x") << QPoint(120, 410) << 2.0 << 1.5;
        QTest::newRow("left edge") << QPoint(10, 200) << 2.0 << 2.0;
    }
    void livePictureDrawsAsTheCapture()
    {
        QFETCH(QPoint, pointer);
        QFETCH(double, ratio);
        QFETCH(double, scale);
        const QSize size(800, 600);
        const int radius = 50;
        QPixmap capture = coordinateCapture(size * ratio);
        capture.setDevicePixelRatio(ratio);
        OverlayFrame frame;
        frame.mode = ModeMagnifier;
        frame.pointer = pointer;
        frame.radius = radius;
        frame.foreColor = Qt::red;
        frame.scaleRate = scale;
        frame.capture = capture;
        const QRect area = X11LiveArea::sourceRect(
            QPoint(qRound(pointer.x() * ratio), qRound(pointer.y() * ratio)), radius, ratio, scale,
            QRect(QPoint(), size * ratio));
        OverlayFrame live = frame;
        live.capture = QPixmap();
        // As the X server gives it: device pixels, and no ratio of Qt's on the image.
        live.live = capture.toImage().copy(area);
        live.live.setDevicePixelRatio(1.0);
        live.liveOrigin = area.topLeft();
        QImage fromCapture = layerBuffer(size, ratio);
        OverlayPaint::repaint(fromCapture, frame, true, QRect(QPoint(), size));
        QImage fromLive = layerBuffer(size, ratio);
        OverlayPaint::repaint(fromLive, live, true, QRect(QPoint(), size));

        const QPoint centre(qRound(pointer.x() * ratio), qRound(pointer.y() * ratio));
        QCOMPARE(fromLive.pixel(centre), coordinateColor(centre.x(), centre.y()));
        const int inside = int((radius - 2) * ratio);
        for (int y = -inside; y <= inside; y += 3) {
            for (int x = -inside; x <= inside; x += 3) {
                const QPoint p = centre + QPoint(x, y);
                if (x * x + y * y > inside * inside || p.x() < 0)
                    continue;
                // Shown at offset d, the pixel at offset d / scale from the pointer.
                const QPointF source = QPointF(centre) + QPointF(x, y) / scale;
                const QRgb shown = fromLive.pixel(p);
                const QPoint read(qRed(shown) + ((qBlue(shown) >> 4) << 8),
                                  qGreen(shown) + ((qBlue(shown) & 0xf) << 8));
                QVERIFY2((QPointF(read) - source).manhattanLength() <= 2.0,
                         qPrintable(QStringLiteral("%1,%2 shows %3,%4")
                                        .arg(p.x())
                                        .arg(p.y())
                                        .arg(read.x())
                                        .arg(read.y())));
                if (pointer.x() > radius)
                    QCOMPARE(shown, fromCapture.pixel(p));
            }
        }
    }

    void layerBufferMatchesTheWindow_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<double>("ratio");
        for (double ratio : {1.0, 2.0}) {
            for (int mode : {int(ModeNormal), int(ModeSpotLight), int(ModeLaser),
                             int(ModeMagnifier), int(ModeBlackScreen)}) {
                QTest::addRow("mode %d at %.0f", mode, ratio) << mode << ratio;
            }
        }
    }
    void layerBufferMatchesTheWindow()
    {
        QFETCH(int, mode);
        QFETCH(double, ratio);
        OverlayRig rig;
        ScreenWidget &w = rig.w();
        rig.useCoordinateCapture(ratio);
        w.onSetCursorSize(40);
        w.onSetBackOpacity(180);
        w.onSetForeOpacity(150);
        rig.pointer = QPoint(300, 200);
        w.applySettings(
            {static_cast<ScreenMode>(mode), w.foreColor(), w.backColor(), 150, 180, 40, 1.5});
        w.onSetRepaint(); // takes the capture and shows the lens
        QVERIFY(rig.pictureCame());
        w.onShowMode(true);
        QImage buffer = layerBuffer(w.size(), ratio);
        OverlayPaint::repaint(buffer, currentFrame(w), true, QRect(QPoint(), w.size()));

        rig.pointer = QPoint(333, 250);
        w.followPointer();
        const OverlayFrame moved = currentFrame(w);
        OverlayPaint::repaint(buffer, moved, true,
                              OverlayGeometry::pointerMoveRegion(mode, QPoint(300, 200),
                                                                 moved.pointer, moved.radius,
                                                                 QRect(QPoint(), w.size())));

        QImage window = layerBuffer(w.size(), ratio);
        w.render(&window, QPoint(), QRegion(), QWidget::RenderFlags());
        QVERIFY2(buffer == window, qPrintable(firstDifference(buffer, window)));
        QImage fresh = layerBuffer(w.size(), ratio);
        OverlayPaint::repaint(fresh, moved, true, QRect(QPoint(), w.size()));
        QVERIFY2(buffer == fresh, qPrintable(firstDifference(buffer, fresh)));
    }
};

QTEST_MAIN(TestOverlayRendering)
#include "tst_overlayrendering.moc"
