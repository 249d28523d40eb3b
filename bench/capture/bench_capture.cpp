// Takes pictures of a screen through the compositor's capture routes and prints how long
// each took, from the request to the picture. Run it inside the session to measure:
//   bench_capture [--route gnome-screencast|portal|chain] [--count N] [--screen NAME]
//                 [--save FILE.png] [--expect-pattern]
// --expect-pattern checks the four quarters capture_pattern shows (red, green / blue, white).
#include "overlay/capture/capturechain.h"
#include "overlay/capture/captureprobe.h"
#include "overlay/capture/mutterscreencastcapture.h"
#include "overlay/capture/portalscreenshotcapture.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QElapsedTimer>
#include <QScreen>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <vector>

namespace {
std::unique_ptr<ScreenCapture> makeRoute(const QString &name)
{
    if (name == QLatin1String("gnome-screencast"))
        return std::make_unique<MutterScreenCastCapture>();
    if (name == QLatin1String("portal"))
        return std::make_unique<PortalScreenshotCapture>();
    return nullptr;
}

bool showsPattern(const QImage &image)
{
    const int w = image.width(), h = image.height();
    const QList<QPair<QPoint, QRgb>> probes{{{w / 4, h / 4}, qRgb(255, 0, 0)},
                                            {{3 * w / 4, h / 4}, qRgb(0, 255, 0)},
                                            {{w / 4, 3 * h / 4}, qRgb(0, 0, 255)},
                                            {{3 * w / 4, 3 * h / 4}, qRgb(255, 255, 255)},
                                            {{1, 1}, qRgb(255, 0, 0)},
                                            {{w - 2, h - 2}, qRgb(255, 255, 255)}};
    bool ok = true;
    for (const auto &probe : probes) {
        const QRgb got = image.pixel(probe.first) | 0xff000000u;
        if (got != probe.second) {
            std::printf("  pixel (%d,%d) is #%06x, not #%06x\n", probe.first.x(), probe.first.y(),
                        got & 0xffffff, probe.second & 0xffffff);
            ok = false;
        }
    }
    return ok;
}
} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    QCommandLineParser parser;
    parser.addHelpOption();
    parser.addOption(
        {"route", "gnome-screencast, portal or chain (the recommended order)", "route", "chain"});
    parser.addOption({"count", "pictures to take one after the other", "n", "5"});
    parser.addOption({"screen", "name of the screen (default: the primary one)", "name"});
    parser.addOption({"save", "write the first picture to this PNG file", "file"});
    parser.addOption({"expect-pattern", "check the picture shows capture_pattern"});
    parser.process(app);

    QElapsedTimer probeClock;
    probeClock.start();
    const CaptureOffer offer = probeCaptureOffer();
    const QStringList recommended =
        recommendedCaptureRoutes(offer, MutterScreenCastCapture::builtWithPipeWire());
    std::printf("session offers: %s (probe %lld ms); recommended order: %s\n",
                qPrintable(offer.describe()), probeClock.elapsed(),
                qPrintable(recommended.join(QStringLiteral(", "))));

    std::unique_ptr<ScreenCapture> route;
    const QString wanted = parser.value("route");
    if (wanted == QLatin1String("chain")) {
        std::vector<std::unique_ptr<ScreenCapture>> routes;
        for (const QString &name : recommended)
            routes.push_back(makeRoute(name));
        route = std::make_unique<CaptureChain>(std::move(routes));
    } else {
        route = makeRoute(wanted);
    }
    if (!route) {
        std::fprintf(stderr, "unknown route %s\n", qPrintable(wanted));
        return 2;
    }

    QScreen *screen = QGuiApplication::primaryScreen();
    if (parser.isSet("screen")) {
        const auto screens = QGuiApplication::screens();
        auto it = std::find_if(screens.begin(), screens.end(),
                               [&](QScreen *s) { return s->name() == parser.value("screen"); });
        screen = it == screens.end() ? nullptr : *it;
    }
    if (!screen) {
        std::fprintf(stderr, "no such screen\n");
        return 2;
    }
    std::printf("screen %s, %dx%d logical, ratio %.2f, platform %s\n", qPrintable(screen->name()),
                screen->geometry().width(), screen->geometry().height(), screen->devicePixelRatio(),
                qPrintable(QGuiApplication::platformName()));

    const int count = std::max(1, parser.value("count").toInt());
    std::vector<qint64> times;
    int failures = 0;
    bool patternOk = true;
    QElapsedTimer clock;
    auto next = [&] {
        if (int(times.size()) + failures >= count) {
            app.quit();
            return;
        }
        clock.start();
        route->capture(screen);
    };
    QObject::connect(route.get(), &ScreenCapture::captured, &app,
                     [&](QPointer<QScreen>, const QPixmap &picture) {
                         const qint64 ms = clock.elapsed();
                         times.push_back(ms);
                         QString steps;
                         if (auto *cast = qobject_cast<MutterScreenCastCapture *>(route.get())) {
                             const auto s = cast->lastSteps();
                             steps = QStringLiteral(" (session %1 ms, stream %2 ms, frame %3 ms)")
                                         .arg(s.session)
                                         .arg(s.stream)
                                         .arg(s.frame);
                         }
                         std::printf("capture %zu via %s: %lld ms, %dx%d pixels, ratio %.2f%s\n",
                                     times.size(), qPrintable(route->name()), ms, picture.width(),
                                     picture.height(), picture.devicePixelRatio(),
                                     qPrintable(steps));
                         const QImage image = picture.toImage();
                         if (times.size() == 1 && parser.isSet("save"))
                             image.save(parser.value("save"));
                         if (parser.isSet("expect-pattern"))
                             patternOk = showsPattern(image) && patternOk;
                         QTimer::singleShot(0, &app, next);
                     });
    QObject::connect(route.get(), &ScreenCapture::failed, &app,
                     [&](const QString &why, bool lasting) {
                         ++failures;
                         std::printf("capture failed after %lld ms (%s): %s\n", clock.elapsed(),
                                     lasting ? "lasting" : "may pass", qPrintable(why));
                         if (lasting)
                             app.quit();
                         else
                             QTimer::singleShot(0, &app, next);
                     });
    QTimer::singleShot(0, &app, next);
    app.exec();

    if (!times.empty()) {
        std::vector<qint64> rest(times.begin() + 1, times.end());
        std::sort(rest.begin(), rest.end());
        std::printf("first capture: %lld ms; repeated (%zu): median %lld ms, max %lld ms\n",
                    times.front(), rest.size(), rest.empty() ? -1LL : rest[rest.size() / 2],
                    rest.empty() ? -1LL : rest.back());
    }
    if (parser.isSet("expect-pattern"))
        std::printf("pattern: %s\n", patternOk && !times.empty() ? "ok" : "MISMATCH");
    return times.empty() || (parser.isSet("expect-pattern") && !patternOk) ? 1 : 0;
}
