// A stand-in for the program under a real X server. Started with --desktop it only shows a
// plain window that plays the desktop: it paints one known colour over the whole screen and
// reports the clicks it receives (commands: marker R G B repaints the marker in that colour). Started without arguments it shows the overlay, and
// commands on standard input drive the overlay's slots; each command is answered with a line
// on standard output once the slot has returned. The two run as separate processes, as the
// presentation and Kavri would, so the desktop redraws while the overlay is busy.
//
//   mode N | show 0/1 | size N | scale X (magnification) | fore R G B | back R G B | foreop N |
//   backop N | repaint capture X Y (prints the colour of the magnifier's capture there) | state
//   compositing (prints whether a compositing manager runs) | motion (prints whether the window
//   system reports pointer motion and how many reports came so far) | xtest X Y (moves the
//   pointer through XTest, as an input device would; xdotool's mousemove warps it) | quit
//   place W H (a settings window of that size placed for the start: prints the screen it is
//   on, that screen's available area and the window's geometry) | maximise (the same window
//   maximised: prints its geometry, then closes it)

#include "overlay/overlayplatform.h"
#include "overlay/overlaywindowsystem.h"
#include "overlay/screenwidget.h"
#include "presenter/screenmode.h"
#include "ui/windowplacement.h"
#include "ui/xwindow.h"

#include <QApplication>
#include <QColor>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QSocketNotifier>
#include <QTimer>
#include <QWidget>
#include <QWindow>

#include <cstdio>
#include <functional>
#include <memory>
#include <unistd.h>
#include <vector>

// Xlib last: its macros clash with Qt's names.
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>

namespace {

void say(const QString &line)
{
    std::fputs(qPrintable(line + QLatin1Char('\n')), stdout);
    std::fflush(stdout);
}

// Plays the desktop on one screen: one colour, with --marker also a square of 16 logical
// pixels centred on (400, 300) of the screen for the lens to enlarge (red until told).
class DesktopWindow final : public QWidget
{
public:
    DesktopWindow(QColor color, bool marker) : m_color(color), m_marker(marker) {}
    void setMarkerColor(const QColor &color)
    {
        m_markerColor = color;
        repaint();
    }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        painter.fillRect(rect(), m_color);
        if (m_marker)
            painter.fillRect(QRect(392, 292, 16, 16), m_markerColor);
    }
    void mousePressEvent(QMouseEvent *event) override
    {
        say(QStringLiteral("press %1 %2").arg(event->globalPos().x()).arg(event->globalPos().y()));
    }

private:
    QColor m_color;
    bool m_marker;
    QColor m_markerColor = Qt::red;
};

QString describe(const QColor &c)
{
    return QStringLiteral("%1 %2 %3").arg(c.red()).arg(c.green()).arg(c.blue());
}

QString describe(const QRect &r)
{
    return QStringLiteral("%1 %2 %3 %4").arg(r.x()).arg(r.y()).arg(r.width()).arg(r.height());
}

// Calls `run` with each line on standard input; commands may arrive several in one read.
// The application quits when the input ends.
void readCommands(QCoreApplication &app, std::function<void(const QByteArray &)> run)
{
    auto *input = new QSocketNotifier(STDIN_FILENO, QSocketNotifier::Read, &app);
    auto pending = std::make_shared<QByteArray>();
    QObject::connect(input, &QSocketNotifier::activated, &app, [&app, input, pending, run] {
        char buffer[4096];
        const ssize_t n = ::read(STDIN_FILENO, buffer, sizeof buffer);
        if (n <= 0) {
            input->setEnabled(false);
            app.quit();
            return;
        }
        pending->append(buffer, static_cast<int>(n));
        for (int eol = pending->indexOf('\n'); eol >= 0; eol = pending->indexOf('\n')) {
            const QByteArray line = pending->left(eol);
            pending->remove(0, eol + 1);
            run(line);
        }
    });
}

} // namespace

int main(int argc, char *argv[])
{
    // The same raster-only surfaces as the program itself, so the overlay is tested as it runs.
    QCoreApplication::setAttribute(Qt::AA_ForceRasterWidgets);
    QApplication app(argc, argv);

    if (app.arguments().contains(QStringLiteral("--desktop"))) {
        // A window per screen: a window has one pixel ratio, and screens may differ. They are
        // made anew when the screens change, as a presentation would redraw itself.
        const bool marker = app.arguments().contains(QStringLiteral("--marker"));
        QColor markerColor(Qt::red);
        std::vector<std::unique_ptr<DesktopWindow>> desktops;
        const auto build = [&] {
            desktops.clear();
            for (QScreen *each : QGuiApplication::screens()) {
                auto desktop = std::make_unique<DesktopWindow>(QColor(0, 160, 0), marker);
                desktop->setMarkerColor(markerColor);
                desktop->setWindowFlags(Qt::FramelessWindowHint);
                desktop->winId();
                desktop->windowHandle()->setScreen(each);
                desktop->setGeometry(each->geometry());
                desktop->show();
                desktops.push_back(std::move(desktop));
            }
        };
        build();
        const auto rebuild = [&] { QTimer::singleShot(0, &app, build); };
        QObject::connect(&app, &QGuiApplication::screenAdded, &app, rebuild);
        QObject::connect(&app, &QGuiApplication::screenRemoved, &app, rebuild);
        QObject::connect(&app, &QGuiApplication::primaryScreenChanged, &app, rebuild);
        desktops.front()->activateWindow();
        const WId first = desktops.front()->winId();
        readCommands(app, [&](const QByteArray &line) {
            const QList<QByteArray> words = line.simplified().split(' ');
            if (words.value(0) == "marker" && words.size() == 4) {
                markerColor = QColor(words[1].toInt(), words[2].toInt(), words[3].toInt());
                for (const auto &desktop : desktops)
                    desktop->setMarkerColor(markerColor);
                say(QStringLiteral("ok marker"));
            }
        });
        QTimer::singleShot(0, &app, [&] {
            say(QStringLiteral("ready %1 screens %2").arg(first).arg(desktops.size()));
        });
        return app.exec();
    }

    OverlayPlatform platform = OverlayPlatform::detect();
    ScreenWidget overlay(nullptr, platform);
    const std::unique_ptr<OverlayWindowSystem> probe = platform.makeWindowSystem();
    std::unique_ptr<XWindow> settingsWindow;
    int motionReports = 0;
    QObject::connect(probe.get(), &OverlayWindowSystem::pointerMoved, &app,
                     [&] { ++motionReports; });

    std::function<void(const QByteArray &)> run;
    run = [&](const QByteArray &line) {
        const QStringList words = QString::fromUtf8(line).simplified().split(QLatin1Char(' '));
        const QString cmd = words.value(0);
        const auto arg = [&](int i) { return words.value(i).toInt(); };
        if (cmd == QLatin1String("mode")) {
            overlay.onSetMode(static_cast<ScreenMode>(arg(1)));
        } else if (cmd == QLatin1String("show")) {
            overlay.onShowMode(arg(1) != 0);
        } else if (cmd == QLatin1String("size")) {
            overlay.onSetCursorSize(arg(1));
        } else if (cmd == QLatin1String("scale")) {
            overlay.onSetScaleRate(words.value(1).toDouble());
        } else if (cmd == QLatin1String("fore")) {
            overlay.onSetForeColor(QColor(arg(1), arg(2), arg(3)));
        } else if (cmd == QLatin1String("back")) {
            overlay.onSetBackColor(QColor(arg(1), arg(2), arg(3)));
        } else if (cmd == QLatin1String("foreop")) {
            overlay.onSetForeOpacity(arg(1));
        } else if (cmd == QLatin1String("backop")) {
            overlay.onSetBackOpacity(arg(1));
        } else if (cmd == QLatin1String("repaint")) {
            overlay.onSetRepaint();
        } else if (cmd == QLatin1String("capture")) {
            // The screen is read on a later turn of the event loop: answer once it was.
            if (overlay.isCapturePending()) {
                QTimer::singleShot(10, &app, [&run, line] { run(line); });
                return;
            }
            const QImage image = overlay.screenPixmap().toImage();
            say(QStringLiteral("capture %1 size %2 %3 ratio %4")
                    .arg(describe(image.pixelColor(arg(1), arg(2))))
                    .arg(image.width())
                    .arg(image.height())
                    .arg(overlay.screenPixmap().devicePixelRatio()));
            return;
        } else if (cmd == QLatin1String("compositing")) {
            say(QStringLiteral("compositing %1").arg(probe->isCompositing() ? 1 : 0));
            return;
        } else if (cmd == QLatin1String("motion")) {
            say(QStringLiteral("motion %1 %2")
                    .arg(probe->reportsPointerMotion() ? 1 : 0)
                    .arg(motionReports));
            return;
        } else if (cmd == QLatin1String("xtest")) {
            Display *display = XOpenDisplay(nullptr);
            if (!display) {
                say(QStringLiteral("xtest failed"));
                return;
            }
            XTestFakeMotionEvent(display, -1, arg(1), arg(2), 0);
            XSync(display, False);
            XCloseDisplay(display);
        } else if (cmd == QLatin1String("state")) {
            say(QStringLiteral("state %1 %2")
                    .arg(overlay.paintMode())
                    .arg(overlay.isSamplingPointer() ? 1 : 0));
            return;
        } else if (cmd == QLatin1String("place")) {
            settingsWindow = std::make_unique<XWindow>();
            settingsWindow->resize(arg(1), arg(2));
            WindowPlacement::centreOnPointerScreen(settingsWindow.get());
            settingsWindow->show();
            QScreen *on = WindowPlacement::screenOf(settingsWindow.get());
            say(QStringLiteral("placed %1 %2 %3")
                    .arg(on->name(), describe(on->availableGeometry()),
                         describe(settingsWindow->geometry())));
            return;
        } else if (cmd == QLatin1String("maximise") && settingsWindow) {
            settingsWindow->findChild<QPushButton *>(QStringLiteral("maximizeButton"))->click();
            say(QStringLiteral("maximised %1").arg(describe(settingsWindow->geometry())));
            settingsWindow.reset();
            return;
        } else if (cmd == QLatin1String("quit")) {
            app.quit();
        }
        say(QStringLiteral("ok ") + cmd);
    };

    readCommands(app, run);

    // The driver waits for the screen to show what it expects, so "ready" only says that
    // the windows exist.
    QTimer::singleShot(0, &app, [&] { say(QStringLiteral("ready %1").arg(overlay.winId())); });
    return app.exec();
}
