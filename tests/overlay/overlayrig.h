#pragma once

#include "overlay/overlayplatform.h"
#include "overlay/overlaywindowsystem.h"
#include "overlay/screencapture.h"
#include "overlay/screenwidget.h"

#include "common/initext.h"
#include "common/workdir.h"

#include <QElapsedTimer>
#include <QEvent>
#include <QHash>
#include <QImage>
#include <QPaintEvent>
#include <QPainter>
#include <QPixmap>
#include <QVector>
#include <QtTest>

#include <functional>
#include <memory>

// Stands in for the window system: records what the overlay asks of it.
class FakeWindowSystem final : public OverlayWindowSystem
{
public:
    bool compositing = true;
    QVector<QRegion> shownRegions;
    int syncs = 0;
    int redrawWaits = 0;
    bool pointerHidden = false;
    QHash<QWidget *, Presence> presence;
    bool pointerKnown = true;
    bool motionReports = false;

    bool isCompositing() override { return compositing; }
    void setShownRegion(QWidget *, const QRegion &region) override { shownRegions << region; }
    void sync() override { ++syncs; }
    void waitForRedrawBeneath() override { ++redrawWaits; }
    void setPointerHidden(bool hidden) override { pointerHidden = hidden; }
    void keepAbove(QWidget *) override {}
    void setPresence(QWidget *window, Presence p) override { presence[window] = p; }
    bool knowsPointer() override { return pointerKnown; }
    bool reportsPointerMotion() const override { return motionReports; }
    void movePointer() { emit pointerMoved(); }
    void findPointer()
    {
        pointerKnown = true;
        emit pointerFound();
    }

    void switchCompositing(bool on)
    {
        compositing = on;
        emit compositingChanged();
    }
};

// A capture route that answers when the test says so.
class FakeScreenCapture final : public ScreenCapture
{
public:
    QVector<QScreen *> requests;
    int cancels = 0;

    QString name() const override { return QStringLiteral("fake"); }
    void capture(QScreen *screen) override { requests << screen; }
    void cancel() override { ++cancels; }
    void answer(const QPixmap &picture) { emit captured(requests.last(), picture); }
    void fail(const QString &why, bool lasting) { emit failed(why, lasting); }
};

// Every paint the overlay receives: when, which mode it drew and the area it covered.
class PaintLog final : public QObject
{
public:
    struct Entry
    {
        qint64 atMs;
        ScreenMode mode;
        QRegion region;
    };

    explicit PaintLog(ScreenWidget *widget) : m_widget(widget)
    {
        m_clock.start();
        widget->installEventFilter(this);
    }
    QVector<Entry> entries;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (watched == m_widget && event->type() == QEvent::Paint) {
            // The filter runs before paintEvent: the mode is the one about to be drawn (with
            // the lens waiting for its picture, nothing).
            entries.push_back({m_clock.elapsed(), m_widget->drawnMode(),
                               static_cast<QPaintEvent *>(event)->region()});
        }
        return false;
    }

private:
    ScreenWidget *m_widget;
    QElapsedTimer m_clock;
};

// A capture whose every pixel tells where it came from.
inline QPixmap coordinateCapture(const QSize &size)
{
    QImage image(size, QImage::Format_RGB32);
    for (int y = 0; y < size.height(); ++y) {
        for (int x = 0; x < size.width(); ++x)
            image.setPixel(x, y, qRgb(x & 0xFF, y & 0xFF, ((x >> 8) << 4) | (y >> 8)));
    }
    return QPixmap::fromImage(image);
}

// An overlay whose pointer, screen capture and window system are the test's.
struct OverlayRig
{
    QPoint pointer{100, 100};
    QPixmap capture;
    int grabs = 0;
    QScreen *grabbed = nullptr;
    std::function<void()> onGrab;
    FakeWindowSystem *windowSystem = nullptr;
    OverlayPlatform platform; // Qt's windows alone
    std::unique_ptr<ScreenWidget> widget;

    // The lens's picture: coordinateCapture() of the window, in device pixels of `ratio`.
    void useCoordinateCapture(double ratio)
    {
        QPixmap picture = coordinateCapture(widget->size() * ratio);
        picture.setDevicePixelRatio(ratio);
        capture = picture;
    }
    // Takes the lens's pictures from a route that answers when told.
    FakeScreenCapture &useFakeRoute()
    {
        auto owned = std::make_unique<FakeScreenCapture>();
        FakeScreenCapture &route = *owned;
        widget->setScreenCapture(std::move(owned));
        return route;
    }

    OverlayRig()
    {
        widget = std::make_unique<ScreenWidget>(nullptr, platform);
        widget->setPointerSource([this] { return pointer; });
        widget->setScreenGrabber([this](QScreen *screen, const QRect &) {
            ++grabs;
            grabbed = screen;
            if (onGrab)
                onGrab();
            return capture;
        });
        auto fake = std::make_unique<FakeWindowSystem>();
        windowSystem = fake.get();
        widget->setWindowSystem(std::move(fake));
    }
    ScreenWidget &w() { return *widget; }

    // The screen is read on the event loop's next turn: lets it come.
    bool pictureCame()
    {
        return QTest::qWaitFor([this] { return !widget->isCapturePending(); });
    }
    // The mode flash runs out by itself after 600 ms.
    bool flashOver()
    {
        return QTest::qWaitFor([this] { return !widget->isFlashing(); }, 3000);
    }
};

// The whole overlay drawn into an image with alpha, as a translucent window's surface:
// fully transparent before the paint.
inline QImage renderFrame(ScreenWidget &widget)
{
    QImage image(widget.size(), QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    widget.render(&image, QPoint(), QRegion(), QWidget::RenderFlags());
    return image;
}

// Repaints only `region` of an earlier frame the way the window's surface does: the area is
// cleared to transparent first, then the overlay paints it.
inline void repaintInto(QImage &frame, ScreenWidget &widget, const QRegion &region)
{
    {
        QPainter clear(&frame);
        clear.setCompositionMode(QPainter::CompositionMode_Source);
        for (const QRect &r : region)
            clear.fillRect(r, Qt::transparent);
    }
    widget.render(&frame, region.boundingRect().topLeft(), region, QWidget::RenderFlags());
}

// Whether nothing at all is drawn: every pixel of the frame is fully transparent.
inline bool drawsNothing(const QImage &frame)
{
    for (int y = 0; y < frame.height(); ++y) {
        const auto *line = reinterpret_cast<const QRgb *>(frame.constScanLine(y));
        for (int x = 0; x < frame.width(); ++x) {
            if (qAlpha(line[x]) != 0)
                return false;
        }
    }
    return true;
}

// Whether `region` covers all of `rect` (QRegion::contains only asks for an overlap).
inline bool covers(const QRegion &region, const QRect &rect)
{
    return QRegion(rect).subtracted(region).isEmpty();
}

inline QRgb coordinateColor(int x, int y)
{
    return qRgb(x & 0xFF, y & 0xFF, ((x >> 8) << 4) | (y >> 8));
}

// Each test in a fresh working directory, so "./Kavri.ini" starts absent.
using KavriTest::iniText;
using KavriTest::WorkDir;
