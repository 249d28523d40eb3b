// The live lens on KWin: how much of a core the lens's source takes while held over a window
// that changes at a given rate, and how many pictures a second it makes. Run inside a KWin
// session that grants the screen cast (kwinlive_cpu.sh starts one):
//   bench_kwinlive --changer FPS      a full-screen window changing colour FPS times a second
//                                    (0: drawn once)
//   bench_kwinlive [--seconds N]      the lens held at the screen's middle (radius 50, x2)
// Counts the process's CPU (user + system): the PipeWire thread reading the frames and the
// main thread placing them in the lens's picture. Not the overlay's drawing of the lens.
#include "overlay/livesource.h"
#include "overlay/overlayplatform.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QPainter>
#include <QRasterWindow>
#include <QScreen>
#include <QTimer>

#include <cstdio>
#include <cstring>
#include <sys/resource.h>

namespace {

class Changer final : public QRasterWindow
{
protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter(this).fillRect(QRect(QPoint(), size()), QColor::fromHsv((m_step * 37) % 360, 200, 200));
    }

public:
    void step()
    {
        ++m_step;
        update();
    }

private:
    int m_step = 0;
};

double cpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.value(1) == QLatin1String("--changer")) {
        Changer window;
        QTimer tick;
        QObject::connect(&tick, &QTimer::timeout, &window, &Changer::step);
        if (args.value(2).toInt() > 0) // 0: drawn once
            tick.start(1000 / args.value(2).toInt());
        window.showFullScreen();
        return app.exec();
    }
    const int seconds = args.value(1) == QLatin1String("--seconds") ? args.value(2).toInt() : 10;
    OverlayPlatform platform = OverlayPlatform::detect();
    std::unique_ptr<LiveSource> source = platform.makeLiveSource();
    QScreen *screen = QGuiApplication::primaryScreen();
    const QPoint middle(screen->geometry().width() / 2, screen->geometry().height() / 2);
    int pictures = 0;
    int total = 0; // the first included
    bool live = false;
    // As the overlay does: each new picture plans a frame, which follows the lens again.
    QObject::connect(source.get(), &LiveSource::refreshed, &app, [&] {
        ++pictures;
        ++total;
        source->follow(screen, nullptr, {}, middle, 50, 2.0);
    });
    QElapsedTimer clock;
    double cpuAtStart = 0;
    QTimer::singleShot(1000, &app, [&] { // KWin's window list has come
        live = source->follow(screen, nullptr, {}, middle, 50, 2.0);
        QTimer::singleShot(1000, &app, [&] { // the first frames have come
            pictures = 0;
            cpuAtStart = cpuSeconds();
            clock.start();
            QTimer::singleShot(seconds * 1000, &app, &QCoreApplication::quit);
        });
    });
    app.exec();
    const double elapsed = clock.isValid() ? clock.elapsed() / 1000.0 : 0.0;
    source->stop();
    if (!live || elapsed <= 0 || total == 0) {
        std::printf("no live lens here%s\n", live ? " (no picture came)" : "");
        return 1;
    }
    std::printf("screen %dx%d: lens held %.1f s, %.1f pictures/s, %.1f %% of one core\n",
                screen->geometry().width(), screen->geometry().height(), elapsed,
                pictures / elapsed, (cpuSeconds() - cpuAtStart) * 100 / elapsed);
    return 0;
}
