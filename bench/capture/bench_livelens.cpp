// The live lens on X11 under a compositing manager: what a picture costs and how much of a
// core the lens takes while held over a window that changes at 30 fps, over a still window,
// and after it stopped. Each screen size runs on an Xvfb of its own with picom (xcompmgr where
// picom is missing); the changing window is a child process, so its drawing is not counted.
//   bench_livelens [--seconds N]
// Prints figures only; the machine's load (uptime) comes first, as the other programs on it
// change them.
#include "common/childprocess.h"
#include "overlay/x11/x11livearea.h"
#include "overlay/x11/x11livelens.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QThread>
#include <QTimer>

#include <cstdio>
#include <cstring>
#include <memory>
#include <sys/resource.h>
#include <unistd.h>

// Xlib last: its macros (None, Bool, Status, ...) clash with Qt's names.
#include <X11/Xlib.h>

namespace {

// The lens as it is by default: radius 50 logical pixels (the settings' default size).
constexpr int DefaultRadius = 50;

// A full-screen window whose colour changes `fps` times a second (0: drawn once).
int runChanger(const char *display, int fps)
{
    Display *x = XOpenDisplay(display);
    if (!x)
        return 1;
    const int screen = DefaultScreen(x);
    XSetWindowAttributes attributes;
    attributes.override_redirect = True;
    const Window window =
        XCreateWindow(x, DefaultRootWindow(x), 0, 0, static_cast<unsigned>(DisplayWidth(x, screen)),
                      static_cast<unsigned>(DisplayHeight(x, screen)), 0, CopyFromParent,
                      InputOutput, CopyFromParent, CWOverrideRedirect, &attributes);
    XMapRaised(x, window);
    GC gc = XCreateGC(x, window, 0, nullptr);
    const unsigned long colors[] = {0xff0000, 0x00a000, 0xffff00, 0x00ffff};
    std::printf("ready\n");
    std::fflush(stdout);
    for (unsigned i = 0;; ++i) {
        XSetForeground(x, gc, colors[i % 4]);
        XFillRectangle(x, window, gc, 0, 0, static_cast<unsigned>(DisplayWidth(x, screen)),
                       static_cast<unsigned>(DisplayHeight(x, screen)));
        XSync(x, False);
        if (fps <= 0) {
            pause();
            return 0;
        }
        usleep(static_cast<useconds_t>(1000000 / fps));
    }
}

double cpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// Another process's CPU time (user and system) from /proc, in seconds.
double cpuSecondsOf(qint64 pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return 0.0;
    const QByteArray line = stat.readAll();
    // The fields after the command name (in parentheses, which may hold spaces).
    const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
    if (fields.size() < 13)
        return 0.0;
    return (fields[11].toDouble() + fields[12].toDouble()) /
           static_cast<double>(sysconf(_SC_CLK_TCK));
}

struct Held
{
    double cpuPercent = 0.0;        // this process, of one core
    double serverPercent = 0.0;     // the X server, of one core
    double picturesPerSecond = 0.0; // changed() signals
};

// Runs the event loop for `seconds` and measures what it cost.
Held hold(X11LiveLens *lens, qint64 serverPid, double seconds)
{
    int pictures = 0;
    const QMetaObject::Connection counting =
        QObject::connect(lens, &X11LiveLens::changed, [&pictures] { ++pictures; });
    const double cpu = cpuSeconds();
    const double server = cpuSecondsOf(serverPid);
    QElapsedTimer clock;
    clock.start();
    QEventLoop loop;
    QTimer::singleShot(static_cast<int>(seconds * 1000), &loop, &QEventLoop::quit);
    loop.exec();
    const double wall = static_cast<double>(clock.nsecsElapsed()) / 1e9;
    Held held;
    held.cpuPercent = 100.0 * (cpuSeconds() - cpu) / wall;
    held.serverPercent = 100.0 * (cpuSecondsOf(serverPid) - server) / wall;
    held.picturesPerSecond = pictures / wall;
    QObject::disconnect(counting);
    return held;
}

// The time a picture takes, from the request to the pixels: the area is moved back and
// forth by a pixel, which makes a picture each time.
double millisecondsPerPicture(X11LiveLens *lens, const QRect &area, int count)
{
    QElapsedTimer clock;
    clock.start();
    for (int i = 0; i < count; ++i)
        lens->setArea(area.translated(1 + i % 2, 0));
    lens->setArea(area);
    return static_cast<double>(clock.nsecsElapsed()) / 1e6 / count;
}

class Changer
{
public:
    Changer(const QString &self, const QString &display, int fps)
    {
        m_process.setStandardErrorFile(QProcess::nullDevice());
        KavriTest::startTied(m_process, self,
                             {QStringLiteral("--changer"), display, QString::number(fps)});
        m_process.waitForReadyRead(5000);
    }
    ~Changer() { KavriTest::stopProcess(m_process, 2000); }

private:
    QProcess m_process;
};

void benchScreen(const QString &self, const QString &compositor, const QStringList &arguments,
                 QSize size, double ratio, double seconds)
{
    QProcess xvfb;
    xvfb.setStandardErrorFile(QProcess::nullDevice());
    const QString screen = QStringLiteral("%1x%2x24").arg(size.width()).arg(size.height());
    if (!KavriTest::startTied(xvfb, QStringLiteral("Xvfb"),
                              {"-displayfd", "1", "-screen", "0", screen, "-nolisten", "tcp"})) {
        std::printf("  Xvfb is not installed: skipped\n");
        return;
    }
    QElapsedTimer wait;
    wait.start();
    while (!xvfb.canReadLine() && wait.elapsed() < 10000)
        xvfb.waitForReadyRead(100);
    const QString display = QLatin1Char(':') + QString::fromLatin1(xvfb.readLine()).trimmed();
    QProcess manager;
    manager.setStandardErrorFile(QProcess::nullDevice());
    manager.setStandardOutputFile(QProcess::nullDevice());
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DISPLAY"), display);
    manager.setProcessEnvironment(env);
    KavriTest::startTied(manager, compositor, arguments);

    std::unique_ptr<X11LiveLens> lens = X11LiveLens::open(display.toLatin1());
    for (int i = 0; lens && !lens->isLive() && i < 100; ++i)
        QThread::msleep(100);
    if (!lens || !lens->isLive()) {
        std::printf("  %s on %s: no live lens (no compositing manager)\n", qPrintable(screen),
                    qPrintable(display));
        KavriTest::stopProcess(manager, 2000);
        KavriTest::stopProcess(xvfb, 2000);
        return;
    }
    QThread::msleep(300); // the compositor redirects the windows after it took its selection
    const QRect root(QPoint(0, 0), size);
    const QPoint centre = root.center();
    struct Lens
    {
        int radius;
        double scale;
    };
    const Lens lenses[] = {{DefaultRadius, 2.0}, {DefaultRadius, 4.0}, {200, 1.5}};
    {
        Changer changing(self, display, 30);
        for (const Lens &l : lenses) {
            const QRect area = X11LiveArea::sourceRect(centre, l.radius, ratio, l.scale, root);
            for (const bool shm : {true, false}) {
                lens->setSharedMemoryAllowed(shm);
                lens->start(area, {});
                const double ms = millisecondsPerPicture(lens.get(), area, 200);
                const Held held = hold(lens.get(), xvfb.processId(), seconds);
                // Per device pixel read, so that scaled and unscaled screens compare.
                const double nsPerPixel = ms * 1e6 / (area.width() * area.height());
                std::printf("  %-14s radius %3d x%.1f, area %3dx%-3d %-8s %6.3f ms/picture "
                            "(%5.2f ns/pixel), 30 fps beneath: %5.1f pictures/s, CPU %5.2f %% "
                            "(X server %5.2f %%)\n",
                            qPrintable(screen), l.radius, l.scale, area.width(), area.height(),
                            lens->usesSharedMemory() ? "MIT-SHM" : "GetImage", ms, nsPerPixel,
                            held.picturesPerSecond, held.cpuPercent, held.serverPercent);
                std::fflush(stdout);
                lens->stop();
            }
        }
        lens->setSharedMemoryAllowed(true);
    }
    {
        // Faster than the display: the pictures stop at about one a frame.
        Changer racing(self, display, 120);
        const QRect area = X11LiveArea::sourceRect(centre, DefaultRadius, ratio, 2.0, root);
        lens->start(area, {});
        const Held held = hold(lens.get(), xvfb.processId(), seconds);
        std::printf("  %-14s radius %3d x2.0, 120 fps beneath: %5.1f pictures/s, CPU %5.2f %% "
                    "(X server %5.2f %%)\n",
                    qPrintable(screen), DefaultRadius, held.picturesPerSecond, held.cpuPercent,
                    held.serverPercent);
        lens->stop();
        const Held stopped = hold(lens.get(), xvfb.processId(), seconds);
        std::printf("  %-14s stopped, 120 fps beneath:  %5.1f pictures/s, CPU %5.2f %% "
                    "(X server %5.2f %%)\n",
                    qPrintable(screen), stopped.picturesPerSecond, stopped.cpuPercent,
                    stopped.serverPercent);
    }
    {
        Changer still(self, display, 0);
        QThread::msleep(300);
        const QRect area = X11LiveArea::sourceRect(centre, DefaultRadius, ratio, 2.0, root);
        lens->start(area, {});
        const Held held = hold(lens.get(), xvfb.processId(), seconds);
        std::printf("  %-14s held over a still window: %5.1f pictures/s, CPU %5.2f %% "
                    "(X server %5.2f %%)\n",
                    qPrintable(screen), held.picturesPerSecond, held.cpuPercent,
                    held.serverPercent);
        lens->stop();
    }
    std::fflush(stdout);
    lens.reset();
    KavriTest::stopProcess(manager, 2000);
    KavriTest::stopProcess(xvfb, 2000);
}

} // namespace

int main(int argc, char **argv)
{
    if (argc == 4 && std::strcmp(argv[1], "--changer") == 0)
        return runChanger(argv[2], std::atoi(argv[3]));
    QCoreApplication app(argc, argv);
    double seconds = 3.0;
    const QStringList args = app.arguments();
    const int at = args.indexOf(QStringLiteral("--seconds"));
    if (at > 0 && at + 1 < args.size())
        seconds = args[at + 1].toDouble();

    QProcess uptime;
    uptime.start(QStringLiteral("uptime"), QStringList());
    uptime.waitForFinished(5000);
    std::printf("bench_livelens (uptime:%s)\n",
                uptime.readAllStandardOutput().trimmed().prepend(' ').constData());
    QString compositor = QStringLiteral("picom");
    QStringList arguments{"--backend", "xrender", "--config", "/dev/null"};
    if (QStandardPaths::findExecutable(compositor).isEmpty()) {
        compositor = QStringLiteral("xcompmgr");
        arguments.clear();
    }
    std::printf("  compositing manager: %s; lens: default radius %d, magnification 2 and 4, "
                "and the largest lens (radius 200) at 1.5\n",
                qPrintable(compositor), DefaultRadius);
    const QString self = QCoreApplication::applicationFilePath();
    // A 1080p screen unscaled, a 4K screen at scale 2 (as desktops set it up).
    benchScreen(self, compositor, arguments, QSize(1920, 1080), 1.0, seconds);
    benchScreen(self, compositor, arguments, QSize(3840, 2160), 2.0, seconds);
    return 0;
}
