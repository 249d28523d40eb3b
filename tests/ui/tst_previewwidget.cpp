#include "ui/previewwidget.h"

#include "common/kavriresources.h"

#include <QFile>
#include <QImage>
#include <QPixmapCache>
#include <QtTest>

#include <cmath>

namespace {

// Centre of the 80-pixel circle on the 300 x 200 picture; pixel (x, y) covers x..x+1.
constexpr double kCentreX = 150.0;
constexpr double kCentreY = 100.0;

double distanceFromCentre(int x, int y)
{
    return std::hypot(x + 0.5 - kCentreX, y + 0.5 - kCentreY);
}

int channelDistance(QRgb a, QRgb b)
{
    return qMax(qMax(qAbs(qRed(a) - qRed(b)), qAbs(qGreen(a) - qGreen(b))),
                qAbs(qBlue(a) - qBlue(b)));
}

QRgb blend(QRgb under, const QColor &over, int alpha)
{
    const auto mix = [alpha](int u, int o) { return (o * alpha + u * (255 - alpha)) / 255; };
    return qRgb(mix(qRed(under), over.red()), mix(qGreen(under), over.green()),
                mix(qBlue(under), over.blue()));
}

// `picture` with `over` laid across every pixel at `alpha`.
QImage blended(const QImage &picture, const QColor &over, int alpha)
{
    QImage result = picture;
    for (int y = 0; y < result.height(); ++y)
        for (int x = 0; x < result.width(); ++x)
            result.setPixel(x, y, blend(picture.pixel(x, y), over, alpha));
    return result;
}

QImage render(PreViewWidget &w)
{
    return w.grab().toImage().convertToFormat(QImage::Format_RGB32);
}

// Counts the paints a widget receives.
class PaintCounter final : public QObject
{
public:
    int paints = 0;

protected:
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::Paint)
            ++paints;
        return false;
    }
};

} // namespace

class TestPreViewWidget : public QObject
{
    Q_OBJECT

private:
    QImage m_picture;

    // Largest channel difference between a rendering and the bare picture, over the pixels
    // that `where` selects.
    template <typename Where>
    int worstDifference(const QImage &shot, const QImage &expected, Where where)
    {
        int worst = 0;
        for (int y = 0; y < shot.height(); ++y)
            for (int x = 0; x < shot.width(); ++x)
                if (where(x, y))
                    worst = qMax(worst, channelDistance(shot.pixel(x, y), expected.pixel(x, y)));
        return worst;
    }

private slots:
    void initTestCase()
    {
        initKavriResources();
        m_picture = QImage(QStringLiteral(":/Resource/preview_normal.jpg"))
                        .convertToFormat(QImage::Format_RGB32);
        QCOMPARE(m_picture.size(), QSize(300, 200));
    }

    void bareModes_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<int>("backOpacity");
        QTest::addColumn<int>("foreOpacity");
        QTest::addColumn<int>("tolerance");
        QTest::newRow("normal") << int(ModeNormal) << 255 << 255 << 0;
        QTest::newRow("black screen") << int(ModeBlackScreen) << 255 << 255 << 0;
        QTest::newRow("unknown mode") << 9 << 255 << 255 << 0;
        // Fully transparent shade and dot: nothing shows (edge blending may round by one).
        QTest::newRow("spotlight, back opacity 0") << int(ModeSpotLight) << 0 << 255 << 1;
        QTest::newRow("laser, fore opacity 0") << int(ModeLaser) << 255 << 0 << 0;
    }
    void bareModes()
    {
        QFETCH(int, mode);
        QFETCH(int, backOpacity);
        QFETCH(int, foreOpacity);
        QFETCH(int, tolerance);
        PreViewWidget w;
        w.setFixedSize(300, 200);
        w.setEffect(ScreenMode(mode), QColor(255, 0, 0), backOpacity, QColor(0, 0, 255),
                    foreOpacity);
        const QImage shot = render(w);
        QCOMPARE(shot.size(), QSize(300, 200));
        QVERIFY(worstDifference(shot, m_picture, [](int, int) { return true; }) <= tolerance);
    }

    void spotlight_data()
    {
        QTest::addColumn<int>("opacity");
        QTest::newRow("opaque") << 255;
        QTest::newRow("half") << 128;
        QTest::newRow("light") << 40;
    }
    void spotlight()
    {
        QFETCH(int, opacity);
        const QColor back(200, 20, 90);
        PreViewWidget w;
        w.setFixedSize(300, 200);
        // The colour's own alpha is replaced by the opacity.
        QColor passed = back;
        passed.setAlpha(10);
        w.setEffect(ModeSpotLight, passed, opacity, QColor(255, 255, 0), 200);
        const QImage shot = render(w);

        const QImage shaded = blended(m_picture, back, opacity);

        QCOMPARE(worstDifference(shot, m_picture,
                                 [](int x, int y) { return distanceFromCentre(x, y) < 38.5; }),
                 0);
        QVERIFY(worstDifference(shot, shaded,
                                [](int x, int y) { return distanceFromCentre(x, y) > 41.5; }) <= 2);
        if (opacity == 255) {
            QCOMPARE(QColor(shot.pixel(0, 0)), back);
            QCOMPARE(QColor(shot.pixel(299, 199)), back);
            QCOMPARE(QColor(shot.pixel(150, 57)), back);
        }
    }

    void laserDot_data()
    {
        QTest::addColumn<int>("opacity");
        QTest::newRow("opaque") << 255;
        QTest::newRow("translucent") << 100;
    }
    void laserDot()
    {
        QFETCH(int, opacity);
        const QColor fore(30, 220, 40);
        QColor passed = fore;
        passed.setAlpha(3);
        PreViewWidget w;
        w.setFixedSize(300, 200);
        w.setEffect(ModeLaser, QColor(0, 0, 0), 255, passed, opacity);
        const QImage shot = render(w);

        const QImage dotted = blended(m_picture, fore, opacity);

        QVERIFY(worstDifference(shot, dotted,
                                [](int x, int y) { return distanceFromCentre(x, y) < 38.0; }) <= 2);
        QCOMPARE(worstDifference(shot, m_picture,
                                 [](int x, int y) { return distanceFromCentre(x, y) > 41.5; }),
                 0);
        if (opacity == 255)
            QCOMPARE(QColor(shot.pixel(150, 100)), fore);
    }

    void magnifier()
    {
        PreViewWidget w;
        w.setFixedSize(300, 200);
        // The lens outline takes the fore colour as passed; the fore opacity is not used.
        w.setEffect(ModeMagnifier, QColor(255, 0, 0), 255, QColor(0, 255, 0), 0);
        const QImage shot = render(w);

        // Inside the lens every pixel shows the centre 40 x 40 of the picture at twice the size.
        QImage expected = m_picture;
        for (int y = 60; y < 140; ++y)
            for (int x = 110; x < 190; ++x)
                expected.setPixel(x, y, m_picture.pixel(130 + (x - 110) / 2, 80 + (y - 60) / 2));
        QCOMPARE(worstDifference(shot, expected,
                                 [](int x, int y) { return distanceFromCentre(x, y) < 38.0; }),
                 0);
        QCOMPARE(shot.pixel(150, 100), m_picture.pixel(150, 100));
        // 38 pixels right of the centre the lens shows the picture 19 pixels right of it.
        QCOMPARE(shot.pixel(188, 100), m_picture.pixel(169, 100));
        QCOMPARE(shot.pixel(111, 100), m_picture.pixel(130, 100));
        // Outside the lens the picture is untouched.
        QCOMPARE(worstDifference(shot, m_picture,
                                 [](int x, int y) { return distanceFromCentre(x, y) > 41.5; }),
                 0);
        // The outline runs through the pixels on the circle.
        for (const QPoint &p : {QPoint(150, 60), QPoint(189, 100), QPoint(150, 139)}) {
            const QColor c = shot.pixelColor(p);
            QVERIFY2(c.green() > c.red() + 60 && c.green() > c.blue() + 60, qPrintable(c.name()));
        }
    }

    void everySetEffectRepaints()
    {
        PreViewWidget w;
        w.setFixedSize(300, 200);
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        PaintCounter counter;
        w.installEventFilter(&counter);
        QCoreApplication::processEvents();

        int before = counter.paints;
        w.setEffect(ModeLaser, Qt::black, 100, Qt::red, 100);
        QTRY_VERIFY(counter.paints > before);
        before = counter.paints;
        w.setEffect(ModeLaser, Qt::black, 100, Qt::red, 100);
        QTRY_VERIFY(counter.paints > before);
    }

    void opacityOutOfRangeIsClamped()
    {
        PreViewWidget w;
        w.setFixedSize(300, 200);
        const QColor fore(250, 0, 0);
        w.setEffect(ModeLaser, Qt::black, 0, fore, 999);
        QCOMPARE(QColor(render(w).pixel(150, 100)), fore);
        w.setEffect(ModeLaser, Qt::black, 0, fore, -5);
        QCOMPARE(render(w).pixel(150, 100), m_picture.pixel(150, 100));
    }

    void withoutThePictureEffectsStillShow()
    {
        Q_CLEANUP_RESOURCE(kavri_res);
        QPixmapCache::clear();
        const bool gone = !QFile::exists(QStringLiteral(":/Resource/preview_normal.jpg"));
        PreViewWidget w;
        Q_INIT_RESOURCE(kavri_res);
        QVERIFY(gone);
        w.setFixedSize(300, 200);
        w.setEffect(ModeSpotLight, QColor(0, 0, 0), 255, Qt::yellow, 255);
        const QImage shot = render(w);
        QCOMPARE(QColor(shot.pixel(5, 5)), QColor(0, 0, 0));
        const QColor centre(shot.pixel(150, 100));
        QVERIFY(centre != QColor(0, 0, 0));
        // A plain stand-in: the same colour across the clear circle.
        QCOMPARE(QColor(shot.pixel(130, 100)), centre);
    }
};

QTEST_MAIN(TestPreViewWidget)
#include "tst_previewwidget.moc"
