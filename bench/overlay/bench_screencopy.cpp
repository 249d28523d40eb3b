// Prints how long the compositor takes to hand over a picture of the screen through
// wlr-screencopy (20 requests, one after another), on the session named by WAYLAND_DISPLAY.
// Run it by hand inside a wlroots session; elsewhere it says why it has nothing to measure.
// With a file name as argument it also saves the last picture there.

#include "overlay/overlayplatform.h"
#include "overlay/screencapture.h"
#include "overlay/wayland/layeroverlay.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QScreen>

#include <algorithm>
#include <cstdio>
#include <vector>

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    OverlayPlatform platform = OverlayPlatform::detect();
    std::printf("Wayland globals: %s\n",
                qPrintable(platform.waylandGlobals().join(QLatin1Char(' '))));
    const auto overlay = platform.takeLayerOverlay();
    const auto capture = overlay ? overlay->makeCapture() : nullptr;
    if (!capture) {
        std::printf("no layer-shell session with screencopy here: nothing to measure\n");
        return 0;
    }
    QScreen *screen = QGuiApplication::primaryScreen();
    std::vector<qint64> times;
    QPixmap last;
    for (int i = 0; i < 20; ++i) {
        QEventLoop loop;
        QElapsedTimer clock;
        bool ok = false;
        QObject::connect(capture.get(), &ScreenCapture::captured, &loop,
                         [&](QPointer<QScreen>, QPixmap picture) {
                             last = picture;
                             ok = true;
                             loop.quit();
                         });
        QObject::connect(capture.get(), &ScreenCapture::failed, &loop,
                         [&](const QString &why, bool) {
                             std::printf("failed: %s\n", qPrintable(why));
                             loop.quit();
                         });
        clock.start();
        capture->capture(screen);
        loop.exec();
        if (!ok)
            return 1;
        times.push_back(clock.elapsed());
    }
    std::sort(times.begin(), times.end());
    std::printf("%s of %s, %dx%d device pixels (ratio %.2f): median %lld ms, max %lld ms\n",
                qPrintable(capture->name()), qPrintable(screen->name()), last.width(),
                last.height(), last.devicePixelRatio(), times[times.size() / 2], times.back());
    if (argc > 1)
        last.save(QString::fromLocal8Bit(argv[1]));
    return 0;
}
