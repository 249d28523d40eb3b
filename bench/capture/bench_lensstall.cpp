// How long the magnifier keeps the main thread from answering, on an X server with a
// compositing manager, beside a bare Qt dialog on the same server that answers as any idle
// program would:
// A 3840x2160 Xvfb with picom (xcompmgr where picom is missing), the magnifier chosen, and
//   press: a full-screen window of another client redrawn every 30 ms; the lens key pressed
//     `presses` times (held 300 ms, let go 200 ms);
//   churn: 200 small windows of another client round the lens moved, restacked, mapped and
//     unmapped (about ten changes a second each) beneath the held lens, for `seconds`.
// A probe timer every 5 ms measures how late each of its ticks comes; the longest and the 99th
// percentile are printed for the overlay's thread and for the dialog. Asserts nothing.
//   bench_lensstall [--presses N] [--seconds S]
#include "common/childprocess.h"
#include "overlay/overlayplatform.h"
#include "overlay/screenwidget.h"
#include "presenter/screenmode.h"

#include <QApplication>
#include <QDialog>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <random>
#include <unistd.h>
#include <vector>

// Xlib last: its macros (None, Bool, Status, ...) clash with Qt's names.
#include <X11/Xlib.h>

namespace {

constexpr int ProbeMs = 5;

// How late the ticks of a 5 ms timer come while the event loop runs.
class StallProbe
{
public:
    StallProbe()
    {
        m_timer.setTimerType(Qt::PreciseTimer);
        m_timer.setInterval(ProbeMs);
        QObject::connect(&m_timer, &QTimer::timeout, [this] {
            const double now = m_clock.nsecsElapsed() / 1e6;
            m_late.push_back(std::max(0.0, now - m_last - ProbeMs));
            m_last = now;
        });
    }
    void start()
    {
        m_late.clear();
        m_clock.start();
        m_last = 0.0;
        m_timer.start();
    }
    QString figures()
    {
        m_timer.stop();
        if (m_late.empty())
            return QStringLiteral("no ticks");
        std::sort(m_late.begin(), m_late.end());
        const double p99 = m_late[std::min(m_late.size() - 1, m_late.size() * 99 / 100)];
        return QStringLiteral("longest %1 ms, 99th percentile %2 ms")
            .arg(m_late.back(), 6, 'f', 1)
            .arg(p99, 5, 'f', 1);
    }

private:
    QTimer m_timer;
    QElapsedTimer m_clock;
    double m_last = 0.0;
    std::vector<double> m_late;
};

void runFor(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

// A full-screen window of another client redrawn every 30 ms.
int runChanger(const char *display)
{
    Display *x = XOpenDisplay(display);
    if (!x)
        return 1;
    const int screen = DefaultScreen(x);
    const auto width = static_cast<unsigned>(DisplayWidth(x, screen));
    const auto height = static_cast<unsigned>(DisplayHeight(x, screen));
    XSetWindowAttributes attributes;
    attributes.override_redirect = True;
    const Window window = XCreateWindow(x, DefaultRootWindow(x), 0, 0, width, height, 0,
                                        CopyFromParent, InputOutput, CopyFromParent,
                                        CWOverrideRedirect, &attributes);
    XMapRaised(x, window);
    GC gc = XCreateGC(x, window, 0, nullptr);
    std::printf("ready\n");
    std::fflush(stdout);
    for (unsigned i = 0;; ++i) {
        XSetForeground(x, gc, (i % 2) ? 0x3060a0 : 0xa06030);
        XFillRectangle(x, window, gc, 0, 0, width, height);
        XSync(x, False);
        usleep(30000);
    }
}

// 200 windows of another client, each changed about ten times a second: moved, restacked,
// unmapped and mapped.
int runChurn(const char *display)
{
    Display *x = XOpenDisplay(display);
    if (!x)
        return 1;
    std::vector<Window> windows;
    std::mt19937 random(7);
    // Round the middle of the screen, where the pointer starts.
    const int screen = DefaultScreen(x);
    const int left = DisplayWidth(x, screen) / 2 - 300;
    const int top = DisplayHeight(x, screen) / 2 - 300;
    const auto place = [&] { return QPoint(left + int(random() % 600), top + int(random() % 600)); };
    XSetWindowAttributes attributes;
    attributes.override_redirect = True;
    attributes.background_pixel = 0x808080;
    for (int i = 0; i < 200; ++i) {
        const QPoint at = place();
        const Window w =
            XCreateWindow(x, DefaultRootWindow(x), at.x(), at.y(), 120, 80, 0, CopyFromParent,
                          InputOutput, CopyFromParent, CWOverrideRedirect | CWBackPixel,
                          &attributes);
        XMapWindow(x, w);
        windows.push_back(w);
    }
    XSync(x, False);
    std::printf("ready\n");
    std::fflush(stdout);
    for (unsigned i = 0;; ++i) {
        const Window w = windows[random() % windows.size()];
        switch (i % 4) {
        case 0: {
            const QPoint at = place();
            XMoveWindow(x, w, at.x(), at.y());
            break;
        }
        case 1:
            XRaiseWindow(x, w);
            break;
        case 2:
            XUnmapWindow(x, w);
            break;
        default:
            XMapWindow(x, w);
            break;
        }
        // About 2,000 changes a second: each window changes ten times a second.
        if (i % 20 == 0) {
            XSync(x, False);
            usleep(10000);
        }
    }
}

// A bare dialog with the same probe, for `ms`; prints its figures.
int runBare(int ms)
{
    QDialog dialog;
    dialog.resize(300, 200);
    dialog.show();
    runFor(300);
    StallProbe probe;
    probe.start();
    runFor(ms);
    std::printf("%s\n", qPrintable(probe.figures()));
    return 0;
}

class Child
{
public:
    Child(const QString &program, const QStringList &arguments, const QString &display)
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("DISPLAY"), display);
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        m_process.setProcessEnvironment(env);
        m_process.setStandardErrorFile(QProcess::nullDevice());
        KavriTest::startTied(m_process, program, arguments);
    }
    ~Child() { KavriTest::stopProcess(m_process, 2000); }
    QString line(int timeoutMs)
    {
        QElapsedTimer clock;
        clock.start();
        while (!m_process.canReadLine() && clock.elapsed() < timeoutMs)
            m_process.waitForReadyRead(100);
        return QString::fromLatin1(m_process.readLine()).trimmed();
    }
    QProcess &process() { return m_process; }

private:
    QProcess m_process;
};

// An X server of `size` with a compositing manager; the display's name, or empty.
QString startServer(std::unique_ptr<Child> &server, std::unique_ptr<Child> &manager, QSize size)
{
    server = std::make_unique<Child>(
        QStringLiteral("Xvfb"),
        QStringList{"-displayfd", "1", "-screen", "0",
                    QStringLiteral("%1x%2x24").arg(size.width()).arg(size.height()), "-nolisten",
                    "tcp"},
        QString());
    const QString number = server->line(10000);
    if (number.isEmpty())
        return QString();
    const QString display = QLatin1Char(':') + number;
    const bool picom = !QStandardPaths::findExecutable(QStringLiteral("picom")).isEmpty();
    manager = picom ? std::make_unique<Child>(
                          QStringLiteral("picom"),
                          QStringList{"--backend", "xrender", "--config", "/dev/null"}, display)
                    : std::make_unique<Child>(QStringLiteral("xcompmgr"), QStringList{}, display);
    return display;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc == 3 && std::strcmp(argv[1], "--changer") == 0)
        return runChanger(argv[2]);
    if (argc == 3 && std::strcmp(argv[1], "--churn") == 0)
        return runChurn(argv[2]);
    if (argc == 3 && std::strcmp(argv[1], "--bare") == 0) {
        QApplication app(argc, argv);
        return runBare(std::atoi(argv[2]));
    }
    int presses = 20;
    double seconds = 5.0;
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::strcmp(argv[i], "--presses") == 0)
            presses = std::atoi(argv[i + 1]);
        else if (std::strcmp(argv[i], "--seconds") == 0)
            seconds = std::atof(argv[i + 1]);
    }
    const QString self = QFileInfo(QString::fromLocal8Bit(argv[0])).absoluteFilePath();
    std::printf("bench_lensstall: %d presses, %.0f s of churn\n", presses, seconds);

    std::unique_ptr<Child> server;
    std::unique_ptr<Child> manager;
    const QString display = startServer(server, manager, QSize(3840, 2160));
    if (display.isEmpty()) {
        std::printf("  Xvfb is not installed: skipped\n");
        return 0;
    }
    qputenv("DISPLAY", display.toLatin1());
    qputenv("QT_QPA_PLATFORM", "xcb");
    int qtArgc = 1;
    // The same raster-only surfaces as the program itself.
    QCoreApplication::setAttribute(Qt::AA_ForceRasterWidgets);
    QApplication app(qtArgc, argv);
    OverlayPlatform platform = OverlayPlatform::detect();
    ScreenWidget overlay(nullptr, platform);
    overlay.onSetCursorSize(50);
    overlay.onSetMode(ModeMagnifier);
    for (const bool press : {true, false}) {
        Child beneath(self, {press ? QStringLiteral("--changer") : QStringLiteral("--churn"), display},
                      display);
        if (beneath.line(10000) != QLatin1String("ready")) {
            std::printf("  the windows beneath did not come\n");
            return 1;
        }
        runFor(1500); // the compositing manager has redirected the windows; the flash is over
        const int ms = press ? presses * 500 : static_cast<int>(seconds * 1000);
        Child bare(self, {QStringLiteral("--bare"), QString::number(ms)}, display);
        runFor(300);
        StallProbe probe;
        probe.start();
        if (press) {
            double longestPress = 0.0;
            double longestRelease = 0.0;
            QElapsedTimer slot;
            for (int i = 0; i < presses; ++i) {
                slot.start();
                overlay.onSetRepaint();
                overlay.onShowMode(true);
                longestPress = std::max(longestPress, slot.nsecsElapsed() / 1e6);
                runFor(300);
                slot.start();
                overlay.onShowMode(false);
                longestRelease = std::max(longestRelease, slot.nsecsElapsed() / 1e6);
                runFor(200);
            }
            std::printf("  the press's slots returned within %.1f ms, the release's within %.1f ms\n",
                        longestPress, longestRelease);
        } else {
            overlay.onSetRepaint();
            overlay.onShowMode(true);
            runFor(ms);
            overlay.onShowMode(false);
        }
        const QString kavri = probe.figures();
        bare.process().waitForFinished(ms + 5000);
        std::printf("  %-32s kavri: %s\n",
                    press ? "press on 3840x2160" : "held over 200 windows changing",
                    qPrintable(kavri));
        std::printf("  %-32s bare dialog: %s\n", "", qPrintable(bare.line(1000)));
        std::fflush(stdout);
    }
    return 0;
}
