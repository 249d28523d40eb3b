// Takes pictures of a screen through the compositor's capture routes and prints how long
// each took, from the request to the picture. Run it inside the session to measure:
//   bench_capture [--route gnome-screencast|portal|chain] [--count N] [--screen NAME]
//                 [--save FILE.png] [--expect-pattern]
//   bench_capture --keep-open [--count N]
// --expect-pattern checks the four quarters capture_pattern shows (red, green / blue, white).
// --keep-open measures the other design on GNOME: one screen cast session kept open, a
// full-screen window of this program changing colour at each request, and the time until a
// frame shows the new colour.
#include "overlay/capture/capturechain.h"
#include "overlay/capture/captureprobe.h"
#include "overlay/capture/mutterscreencastcapture.h"
#include "overlay/overlayplatform.h"

#ifdef KAVRI_CAPTURE_PIPEWIRE
#include "overlay/capture/pipewirestream.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QPainter>
#include <QRasterWindow>
#endif

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
    for (const CaptureRoute route : {CaptureRoute::GnomeScreencast, CaptureRoute::Portal}) {
        if (captureRouteName(route) == name)
            return OverlayPlatform::makeCapture(route, nullptr);
    }
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
#ifdef KAVRI_CAPTURE_PIPEWIRE
class ColourWindow final : public QRasterWindow
{
public:
    QColor colour = Qt::red;

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter(this).fillRect(QRect(QPoint(), size()), colour);
    }
};

// Receives the stream's node; QtDBus delivers signals to slots named by their signature.
class NodeWaiter final : public QObject
{
    Q_OBJECT

public:
    uint node = 0;

public slots:
    void added(uint n) { node = n; }
};

int keepOpen(QApplication &app, int count)
{
    ColourWindow window;
    window.showFullScreen();
    QElapsedTimer settle;
    settle.start();
    while (settle.elapsed() < 700)
        app.processEvents(QEventLoop::AllEvents, 50);

    const QString service = QStringLiteral("org.gnome.Mutter.ScreenCast");
    const QString sessionIface = service + QStringLiteral(".Session");
    QDBusConnection bus = QDBusConnection::sessionBus();
    QDBusMessage m = QDBusMessage::createMethodCall(service, "/org/gnome/Mutter/ScreenCast",
                                                    service, "CreateSession");
    m << QVariantMap();
    QDBusMessage r = bus.call(m);
    if (r.type() != QDBusMessage::ReplyMessage) {
        std::printf("CreateSession: %s\n", qPrintable(r.errorMessage()));
        return 1;
    }
    const QString session = r.arguments().value(0).value<QDBusObjectPath>().path();
    m = QDBusMessage::createMethodCall(service, session, sessionIface, "RecordMonitor");
    m << QString() << QVariantMap{{"cursor-mode", QVariant::fromValue(uint(0))}};
    r = bus.call(m);
    const QString stream = r.arguments().value(0).value<QDBusObjectPath>().path();
    NodeWaiter waiter;
    bus.connect(service, stream, service + ".Stream", "PipeWireStreamAdded", &waiter,
                SLOT(added(uint)));
    bus.call(QDBusMessage::createMethodCall(service, session, sessionIface, "Start"));
    QElapsedTimer wait;
    wait.start();
    while (!waiter.node && wait.elapsed() < 3000)
        app.processEvents(QEventLoop::AllEvents, 50);

    PipeWireStream grabber;
    std::vector<qint64> times;
    QElapsedTimer clock;
    bool waiting = false;
    int frames = 0;
    auto request = [&] {
        window.colour = window.colour == QColor(Qt::red) ? QColor(Qt::blue) : QColor(Qt::red);
        window.update();
        clock.start();
        waiting = true;
    };
    QObject::connect(&grabber, &PipeWireStream::frame, &app, [&](const QImage &frame) {
        ++frames;
        if (!waiting)
            return;
        const QRgb centre = frame.pixel(frame.width() / 2, frame.height() / 2);
        if (QColor(centre) != window.colour)
            return;
        waiting = false;
        times.push_back(clock.elapsed());
        std::printf("kept open: frame with the new colour %lld ms after the change\n",
                    times.back());
        if (int(times.size()) >= count)
            app.quit();
        else
            QTimer::singleShot(100, &app, request);
    });
    QObject::connect(&grabber, &PipeWireStream::failed, &app, [&](const QString &why) {
        std::printf("stream failed: %s\n", qPrintable(why));
        app.quit();
    });
    QString why;
    if (!waiter.node || !grabber.start(waiter.node, -1, &why)) {
        std::printf("no stream: %s\n", qPrintable(why));
        return 1;
    }
    QTimer::singleShot(500, &app, request);
    QTimer::singleShot(30000, &app, &QCoreApplication::quit);
    app.exec();
    bus.call(QDBusMessage::createMethodCall(service, session, sessionIface, "Stop"));
    std::sort(times.begin(), times.end());
    std::printf("kept open: %zu changes, %d frames converted; median %lld ms, max %lld ms\n",
                times.size(), frames, times.empty() ? -1LL : times[times.size() / 2],
                times.empty() ? -1LL : times.back());
    return times.empty() ? 1 : 0;
}
#endif
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
    parser.addOption({"keep-open", "measure a GNOME screen cast kept open instead"});
    parser.process(app);
    if (QGuiApplication::platformName() == QLatin1String("offscreen")) {
        std::printf("bench_capture: nothing to measure on the offscreen platform; run it inside "
                    "a Wayland session with QT_QPA_PLATFORM=wayland or xcb\n");
        return 0;
    }
#ifdef KAVRI_CAPTURE_PIPEWIRE
    if (parser.isSet("keep-open"))
        return keepOpen(app, std::max(1, parser.value("count").toInt()));
#endif

    QElapsedTimer probeClock;
    probeClock.start();
    const CaptureOffer offer = probeCaptureOffer();
    const QStringList recommended = captureRouteNames(
        recommendedCaptureRoutes(offer, MutterScreenCastCapture::builtWithPipeWire()));
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

#ifdef KAVRI_CAPTURE_PIPEWIRE
#include "bench_capture.moc"
#endif
