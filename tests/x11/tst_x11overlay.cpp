// The overlay on a real X server. Each row starts its own Xvfb, optionally a window manager
// (openbox, which wraps managed windows in frames of its own) and a compositing manager
// (xcompmgr), then a plain "desktop" window and the overlay in separate processes. The
// checks look at screenshots of the root window and at where clicks and focus go.

#include "common/childprocess.h"

#include <QDir>
#include <QElapsedTimer>
#include <QImage>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>

#include <functional>
#include <memory>
#include <vector>

namespace {

const QColor DesktopColor(0, 160, 0);
const QSize ScreenSize(800, 600);

// A child process whose standard output is read line by line.
class Child
{
public:
    Child(const QString &program, const QStringList &args, const QProcessEnvironment &env,
          const QString &workDir = QString())
    {
        m_process.setProgram(program);
        m_process.setArguments(args);
        m_process.setProcessEnvironment(env);
        if (!workDir.isEmpty())
            m_process.setWorkingDirectory(workDir);
        // Nobody reads the diagnostics: a full pipe would stall the child (Xvfb writes a
        // keymap warning for every client).
        m_process.setStandardErrorFile(QProcess::nullDevice());
        m_process.start();
    }
    ~Child() { KavriTest::stopProcess(m_process, 2000); }
    Child(const Child &) = delete;
    Child &operator=(const Child &) = delete;

    bool started() { return m_process.waitForStarted(5000); }

    void send(const QByteArray &line)
    {
        m_process.write(line + '\n');
        m_process.waitForBytesWritten(5000);
    }

    // The first unread line starting with `prefix`, or a null string after `timeoutMs`.
    QString waitLine(const QString &prefix, int timeoutMs = 5000)
    {
        QElapsedTimer clock;
        clock.start();
        for (;;) {
            while (m_process.canReadLine()) {
                m_lines << QString::fromUtf8(m_process.readLine()).trimmed();
            }
            for (int i = 0; i < m_lines.size(); ++i) {
                if (m_lines[i].startsWith(prefix))
                    return m_lines.takeAt(i);
            }
            const qint64 left = timeoutMs - clock.elapsed();
            if (left <= 0 || m_process.state() == QProcess::NotRunning)
                return QString();
            m_process.waitForReadyRead(static_cast<int>(std::min<qint64>(left, 100)));
        }
    }

    QProcess &process() { return m_process; }

private:
    QProcess m_process;
    QStringList m_lines;
};

QString run(const QString &program, const QStringList &args, const QProcessEnvironment &env)
{
    QProcess p;
    p.setProcessEnvironment(env);
    p.start(program, args);
    if (!p.waitForFinished(10000))
        return QString();
    return QString::fromUtf8(p.readAllStandardOutput()).trimmed();
}

bool nearColor(const QColor &a, const QColor &b, int tolerance = 2)
{
    return std::abs(a.red() - b.red()) <= tolerance &&
           std::abs(a.green() - b.green()) <= tolerance &&
           std::abs(a.blue() - b.blue()) <= tolerance;
}

} // namespace

class TestX11Overlay : public QObject
{
    Q_OBJECT

private:
    QString m_xvfb;
    QString m_shotDir; // where screenshots are kept, when KAVRI_X11_SHOTS names a folder
    QProcessEnvironment m_env;
    QString m_rowTag;

    QImage screenshot(const QString &name)
    {
        QProcess p;
        p.setProcessEnvironment(m_env);
        p.start(QStringLiteral("import"),
                {QStringLiteral("-window"), QStringLiteral("root"), QStringLiteral("png:-")});
        if (!p.waitForFinished(10000))
            return QImage();
        QImage image = QImage::fromData(p.readAllStandardOutput(), "PNG");
        if (!m_shotDir.isEmpty() && !image.isNull())
            image.save(QDir(m_shotDir).filePath(m_rowTag + QLatin1Char('-') + name + ".png"));
        return image.convertToFormat(QImage::Format_RGB32);
    }

    // Takes screenshots until `ok` accepts one (the screen settles after a command).
    bool screenShows(const QString &name, const std::function<bool(const QImage &)> &ok,
                     int timeoutMs = 5000)
    {
        QElapsedTimer clock;
        clock.start();
        do {
            const QImage image = screenshot(name);
            if (!image.isNull() && ok(image))
                return true;
            QThread::msleep(50);
        } while (clock.elapsed() < timeoutMs);
        return false;
    }

    static bool allDesktop(const QImage &image)
    {
        for (int y = 0; y < image.height(); y += 10) {
            for (int x = 0; x < image.width(); x += 10) {
                if (image.pixelColor(x, y) != DesktopColor)
                    return false;
            }
        }
        return true;
    }

    static bool allBlack(const QImage &image)
    {
        for (int y = 0; y < image.height(); y += 10) {
            for (int x = 0; x < image.width(); x += 10) {
                if (image.pixel(x, y) != qRgb(0, 0, 0))
                    return false;
            }
        }
        return true;
    }

    // The spotlight round `p` (radius 60): the desktop itself in the hole, darkened around.
    static bool spotlightAt(const QImage &image, QPoint p)
    {
        const QColor outside = image.pixelColor(p + QPoint(90, 0));
        const QColor farAway = image.pixelColor(p.x() < 400 ? 780 : 20, 580);
        // The hole keeps 1/255 of the darkening's alpha: one level off the desktop at most.
        return nearColor(image.pixelColor(p), DesktopColor) &&
               nearColor(image.pixelColor(p + QPoint(40, 0)), DesktopColor) &&
               outside.green() < 80 && farAway.green() < 80;
    }

    QString focusedWindow() { return run(QStringLiteral("xdotool"), {"getwindowfocus"}, m_env); }

private slots:
    void initTestCase()
    {
        m_xvfb = QStandardPaths::findExecutable(QStringLiteral("Xvfb"));
        if (m_xvfb.isEmpty())
            QSKIP("Xvfb is not installed");
        for (const char *tool : {"openbox", "xcompmgr", "xdotool", "import", "xprop", "xwininfo"}) {
            QVERIFY2(!QStandardPaths::findExecutable(QString::fromLatin1(tool)).isEmpty(), tool);
        }
        m_shotDir = qEnvironmentVariable("KAVRI_X11_SHOTS");
    }

    void overlayOnX11_data()
    {
        QTest::addColumn<bool>("windowManager");
        QTest::addColumn<bool>("compositor");
        QTest::newRow("bare X") << false << false;
        QTest::newRow("compositor") << false << true;
        QTest::newRow("openbox") << true << false;
        QTest::newRow("openbox and compositor") << true << true;
    }
    void overlayOnX11()
    {
        QFETCH(bool, windowManager);
        QFETCH(bool, compositor);
        m_rowTag = QString::fromLatin1(QTest::currentDataTag()).replace(QLatin1Char(' '), '_');

        // An X server of its own on a free display number, so parallel runs don't clash.
        Child xvfb(m_xvfb, {"-displayfd", "1", "-screen", "0", "800x600x24", "-nolisten", "tcp"},
                   QProcessEnvironment::systemEnvironment());
        QVERIFY(xvfb.started());
        const QString display = xvfb.waitLine(QString(), 10000);
        QVERIFY2(!display.isEmpty(), "Xvfb gave no display number");
        m_env = QProcessEnvironment::systemEnvironment();
        m_env.insert(QStringLiteral("DISPLAY"), QLatin1Char(':') + display);
        m_env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        QTemporaryDir workDir; // the overlay writes its Kavri.ini here
        QVERIFY(workDir.isValid());

        std::unique_ptr<Child> wm;
        if (windowManager) {
            const auto managed = [this] {
                return run(QStringLiteral("xprop"), {"-root", "_NET_SUPPORTING_WM_CHECK"}, m_env)
                    .contains(QStringLiteral("window id"));
            };
            // Now and then openbox quits at once on a freshly started server (exit status 1,
            // seen on a cold machine). This suite is about the overlay, so openbox gets up to
            // three starts; one that keeps running but never manages the screen still fails.
            for (int attempt = 0; attempt < 3 && !managed(); ++attempt) {
                wm = std::make_unique<Child>(QStringLiteral("openbox"), QStringList{"--sm-disable"},
                                             m_env);
                QVERIFY(wm->started());
                QElapsedTimer clock;
                clock.start();
                while (clock.elapsed() < 20000 && wm->process().state() == QProcess::Running &&
                       !managed())
                    QTest::qWait(100);
            }
            QVERIFY2(managed(), qPrintable(QStringLiteral("openbox state %1, exit %2")
                                               .arg(wm->process().state())
                                               .arg(wm->process().exitCode())));
        }
        std::unique_ptr<Child> compositing;
        if (compositor) {
            compositing = std::make_unique<Child>(QStringLiteral("xcompmgr"), QStringList{}, m_env);
            QVERIFY(compositing->started());
        }

        Child desktop(QStringLiteral(KAVRI_X11_HOST), {"--desktop"}, m_env, workDir.path());
        QVERIFY(desktop.started());
        const QString desktopReady = desktop.waitLine(QStringLiteral("ready"), 10000);
        QVERIFY(!desktopReady.isEmpty());
        const QString desktopWindow = desktopReady.section(QLatin1Char(' '), 1, 1);
        QVERIFY(screenShows(QStringLiteral("desktop"), allDesktop));

        Child overlay(QStringLiteral(KAVRI_X11_HOST), {}, m_env, workDir.path());
        QVERIFY(overlay.started());
        const QString overlayReady = overlay.waitLine(QStringLiteral("ready"), 10000);
        QVERIFY(!overlayReady.isEmpty());
        const QString overlayWindow = overlayReady.section(QLatin1Char(' '), 1, 1);
        // The compositing manager has to own its selection before the overlay looks for it.
        if (compositor) {
            QTRY_VERIFY_WITH_TIMEOUT(
                [&] {
                    overlay.send("compositing");
                    return overlay.waitLine(QStringLiteral("compositing")) ==
                           QLatin1String("compositing 1");
                }(),
                10000);
        }

        // Covers the whole primary screen, with or without a window manager.
        const QString info = run(QStringLiteral("xwininfo"), {"-id", overlayWindow}, m_env);
        QVERIFY2(info.contains(QStringLiteral("Width: 800")) &&
                     info.contains(QStringLiteral("Height: 600")) &&
                     info.contains(QStringLiteral("Absolute upper-left X:  0")) &&
                     info.contains(QStringLiteral("Absolute upper-left Y:  0")),
                 qPrintable(info));

        // Nothing displayed: the desktop shows, not blacked out; the focus stays put.
        QTest::qWait(300);
        QVERIFY(screenShows(QStringLiteral("idle"), allDesktop));
        QCOMPARE(focusedWindow(), desktopWindow);

        // The spotlight: the desktop itself in the hole; it follows the pointer by itself.
        run(QStringLiteral("xdotool"), {"mousemove", "300", "300"}, m_env);
        overlay.send("size 60");
        overlay.send("mode 1");
        QCOMPARE(focusedWindow(), desktopWindow); // during or right after the flash
        QVERIFY(!overlay.waitLine(QStringLiteral("ok mode")).isEmpty());
        overlay.send("show 1");
        QVERIFY(screenShows(QStringLiteral("spotlight"),
                            [](const QImage &s) { return spotlightAt(s, QPoint(300, 300)); }));
        run(QStringLiteral("xdotool"), {"mousemove", "500", "200"}, m_env);
        QVERIFY(screenShows(QStringLiteral("spotlight-moved"), [](const QImage &s) {
            return spotlightAt(s, QPoint(500, 200)) && s.pixelColor(300, 300).green() < 80;
        }));

        // A click on the darkened screen reaches the window beneath.
        run(QStringLiteral("xdotool"), {"mousemove", "100", "500", "click", "1"}, m_env);
        QCOMPARE(desktop.waitLine(QStringLiteral("press")), QStringLiteral("press 100 500"));

        // Switched off: the desktop again, not a black screen.
        overlay.send("show 0");
        QVERIFY(screenShows(QStringLiteral("off"), allDesktop));

        // The laser dot in the fore colour; away from it the desktop.
        run(QStringLiteral("xdotool"), {"mousemove", "400", "300"}, m_env);
        overlay.send("fore 255 0 0");
        overlay.send("foreop 255");
        overlay.send("mode 2");
        QVERIFY(!overlay.waitLine(QStringLiteral("ok mode")).isEmpty());
        overlay.send("show 1");
        QVERIFY(screenShows(QStringLiteral("laser"), [](const QImage &s) {
            return nearColor(s.pixelColor(400, 300), QColor(255, 0, 0)) &&
                   nearColor(s.pixelColor(400, 200), DesktopColor) &&
                   nearColor(s.pixelColor(20, 20), DesktopColor);
        }));

        // The black screen covers everything; clicks still pass.
        overlay.send("mode 4");
        QVERIFY(!overlay.waitLine(QStringLiteral("ok mode")).isEmpty());
        overlay.send("show 1");
        QVERIFY(screenShows(QStringLiteral("black"), allBlack));
        run(QStringLiteral("xdotool"), {"mousemove", "700", "100", "click", "1"}, m_env);
        QCOMPARE(desktop.waitLine(QStringLiteral("press")), QStringLiteral("press 700 100"));

        QCOMPARE(focusedWindow(), desktopWindow);

        // A window that comes up later stays beneath the overlay.
        {
            Child later(QStringLiteral(KAVRI_X11_HOST), {"--desktop"}, m_env, workDir.path());
            QVERIFY(later.started());
            QVERIFY(!later.waitLine(QStringLiteral("ready"), 10000).isEmpty());
            QTest::qWait(300);
            QVERIFY(screenShows(QStringLiteral("black-over-new-window"), allBlack));
        }

        // Choosing the magnifier while the spotlight is displayed: the frozen capture holds
        // the desktop, not the darkening.
        run(QStringLiteral("xdotool"), {"mousemove", "400", "300"}, m_env);
        overlay.send("show 0");
        overlay.send("mode 1");
        overlay.send("show 1");
        QVERIFY(screenShows(QStringLiteral("spotlight-again"),
                            [](const QImage &s) { return spotlightAt(s, QPoint(400, 300)); }));
        overlay.send("mode 3");
        QVERIFY(!overlay.waitLine(QStringLiteral("ok mode")).isEmpty());
        overlay.send("capture 100 100");
        const QString captured = overlay.waitLine(QStringLiteral("capture"));
        QVERIFY2(captured.startsWith(QStringLiteral("capture 0 160 0 size 800 600")),
                 qPrintable(captured));
        overlay.send("show 1");
        QVERIFY(screenShows(QStringLiteral("magnifier"), [](const QImage &s) {
            return nearColor(s.pixelColor(400, 300), DesktopColor) &&
                   nearColor(s.pixelColor(20, 20), DesktopColor);
        }));

        // The later window took the focus and left; wherever it went, never to the overlay.
        QVERIFY(focusedWindow() != overlayWindow);
        overlay.send("quit");
        QVERIFY(overlay.process().waitForFinished(5000));
        QCOMPARE(overlay.process().exitCode(), 0);
    }
};

QTEST_GUILESS_MAIN(TestX11Overlay)
#include "tst_x11overlay.moc"
