#include "common/pixels.h"
#include "common/sessionbus.h"
#include "common/settingsfixture.h"
#include "desktopsession.h"
#include "kavrirun.h"
#include "presenter/presenterstate.h"
#include "shortcuts/shortcutservice.h"

#include <QColor>
#include <QDBusConnection>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

#include <X11/Xlib.h>
#include <X11/keysym.h>

#include <sys/stat.h>
#include <unistd.h>

// The real kavri program on a small real desktop (Xvfb, openbox, xcompmgr, trayer) with the
// virtual presenter standing in for the dongle. Each run starts in a fresh working directory.
// The checks are what a user sees on the screen and what lands in Kavri.ini and at the dongle.
namespace {

const QString GermanTitle = QStringLiteral("Zuvu Direvod Einstellungen ");
const QString WarningTitle = QStringLiteral("Warning");
constexpr int StartTimeoutMs = 20000;

using KavriTest::luminance;
using KavriTest::near;
QString describe(QRgb c)
{
    return QColor(c).name();
}
int countPixels(const QImage &image, const QRect &area, const std::function<bool(QRgb)> &test)
{
    int n = 0;
    const QRect r = area.intersected(image.rect());
    for (int y = r.top(); y <= r.bottom(); ++y)
        for (int x = r.left(); x <= r.right(); ++x)
            n += test(image.pixel(x, y)) ? 1 : 0;
    return n;
}
using KavriTest::isRed;
bool isDark(QRgb c)
{
    return luminance(c) < 60;
}
// Whether `display` may grab Meta and `key` on the root window: no other client holds it.
bool g_refused = false;
bool grabbable(Display *display, KeySym key)
{
    XSync(display, False);
    g_refused = false;
    const XErrorHandler previous = XSetErrorHandler([](Display *, XErrorEvent *) {
        g_refused = true;
        return 0;
    });
    const int code = XKeysymToKeycode(display, key);
    XGrabKey(display, code, Mod4Mask, DefaultRootWindow(display), False, GrabModeAsync,
             GrabModeAsync);
    XUngrabKey(display, code, Mod4Mask, DefaultRootWindow(display));
    XSync(display, False);
    XSetErrorHandler(previous);
    return !g_refused;
}

} // namespace

// Records the control interface's Shown changes, as a script watching it would.
class ShownWatch : public QObject
{
    Q_OBJECT
public:
    QList<bool> shown;
public slots:
    void onChanged(const QString &, const QVariantMap &properties, const QStringList &)
    {
        if (properties.contains(QStringLiteral("Shown")))
            shown << properties.value(QStringLiteral("Shown")).toBool();
    }
};

class TestEndToEnd : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<DesktopSession> m_desktop;
    QTemporaryDir m_runtimeDir;
    KavriTest::SessionBus m_bus;

    std::unique_ptr<KavriRun> launch(bool plugged = true, const QByteArray &settings = {})
    {
        KavriRun::Options options;
        options.donglePlugged = plugged;
        options.busAddress = m_bus.address();
        auto run = std::make_unique<KavriRun>(m_desktop->display(), m_runtimeDir.path(), options);
        if (!settings.isEmpty()) {
            QFile file(QDir(run->workDir()).filePath(QStringLiteral("Kavri.ini")));
            if (!file.open(QIODevice::WriteOnly) || file.write(settings) != settings.size())
                return nullptr;
        }
        if (!run->start())
            return nullptr;
        return run;
    }
    // Waits for a mapped window of the process with this exact title.
    bool waitForWindow(KavriRun &run, const QString &title, DesktopSession::Window *window,
                       int timeoutMs = StartTimeoutMs)
    {
        QElapsedTimer t;
        t.start();
        while (t.elapsed() < timeoutMs) {
            if (m_desktop->findMapped(run.pid(), title, window))
                return true;
            if (!run.isRunning())
                return false;
            QTest::qWait(50);
        }
        return false;
    }
    // The dialog shows its insert page ("plug in the receiver", red text in the middle) or its
    // settings page (the mode buttons' dark labels at the top left). Both are told apart by
    // what is drawn where; the title bar is left out.
    enum class Page { Insert, Settings, Unknown };
    Page pageShown(const DesktopSession::Window &dialog)
    {
        const QImage shot = m_desktop->grab(dialog.rect);
        const QRect modeLabels(20, 50, 230, 250);
        const QRect middle(30, 200, dialog.rect.width() - 60, 200);
        const int dark = countPixels(shot, modeLabels, isDark);
        const int red = countPixels(shot, middle, isRed);
        if (dark < 20 && red > 300)
            return Page::Insert;
        if (dark > 150)
            return Page::Settings;
        return Page::Unknown;
    }
    bool waitForPage(const DesktopSession::Window &dialog, Page page, int timeoutMs = 10000)
    {
        QElapsedTimer t;
        t.start();
        while (t.elapsed() < timeoutMs) {
            if (pageShown(dialog) == page)
                return true;
            QTest::qWait(100);
        }
        return false;
    }
    // Polls the screen until `check` holds for the pixel at `where`.
    bool waitForPixel(const QPoint &where, const std::function<bool(QRgb)> &check,
                      QRgb *last = nullptr, int timeoutMs = 5000)
    {
        QElapsedTimer t;
        t.start();
        QRgb c = 0;
        while (t.elapsed() < timeoutMs) {
            c = m_desktop->grab(QRect(where, QSize(1, 1))).pixel(0, 0);
            if (check(c)) {
                if (last)
                    *last = c;
                return true;
            }
            QTest::qWait(50);
        }
        if (last)
            *last = c;
        return false;
    }
    void endCleanly(KavriRun &run)
    {
        QVERIFY(run.terminate());
        QCOMPARE(run.process().exitStatus(), QProcess::NormalExit);
        QCOMPARE(run.process().exitCode(), 0);
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_runtimeDir.isValid());
        QVERIFY2(m_bus.start(), "dbus-daemon did not start");
        m_desktop = std::make_unique<DesktopSession>();
        if (!m_desktop->start())
            QFAIL(qPrintable(m_desktop->why()));
    }

    void cleanupTestCase() { m_desktop.reset(); }

    // No Kavri.ini: the German window, the page that asks for the dongle, and a settings file
    // that holds nothing but the language. Once the dongle answers, the settings page, and
    // the sleep time button writes the sleep-time report to the dongle. With the dongle gone
    // again, the commands show and clear the spotlight, and the window keeps its page.
    void firstStartThenDongleArrives()
    {
        auto run = launch(false);
        QVERIFY(run);
        QVERIFY(!QFile::exists(run->workDir() + "/Kavri.ini") || run->settingsText().isEmpty());

        DesktopSession::Window dialog;
        QVERIFY2(waitForWindow(*run, GermanTitle, &dialog), "no German settings window");
        QVERIFY2(waitForPage(dialog, Page::Insert), "the insert page is not shown");
        QVERIFY(run->waitForSettings("language=0", 5000));
        QCOMPARE(run->settingsText().trimmed(), QByteArray("[General]\nlanguage=0"));
        // Started where there is no Kavri.ini, it keeps its settings in its configuration folder.
        QVERIFY(!QFile::exists(run->workDir() + "/Kavri.ini"));
        QVERIFY(QFile::exists(run->workDir() + "/config/kavri/Kavri.ini"));

        // Still looking for the dongle a few seconds later: still the insert page.
        QVERIFY(run->waitForDongleLog("ready", 5000));
        QTest::qWait(1500);
        QCOMPARE(pageShown(dialog), Page::Insert);

        run->press("plug");
        QVERIFY(run->waitForDongleLog("opened /dev/hidraw3", 10000));
        QVERIFY2(waitForPage(dialog, Page::Settings), "the settings page did not come");
        QCOMPARE(run->settingsText().trimmed(), QByteArray("[General]\nlanguage=0"));

        // The sleep-time button (the blue one at the bottom left) sends the stored 5 minutes.
        const QImage shot = m_desktop->grab(dialog.rect);
        const QRect bottomLeft(0, dialog.rect.height() - 120, dialog.rect.width() / 2, 120);
        QPoint sum;
        int blue = 0;
        for (int y = bottomLeft.top(); y <= bottomLeft.bottom(); ++y)
            for (int x = bottomLeft.left(); x <= bottomLeft.right(); ++x) {
                const QRgb c = shot.pixel(x, y);
                if (qBlue(c) > 150 && qRed(c) < 90 && qBlue(c) > qGreen(c)) {
                    sum += QPoint(x, y);
                    ++blue;
                }
            }
        QVERIFY2(blue > 200, "no sleep-time button found");
        QVERIFY(m_desktop->click(dialog.rect.topLeft() + sum / blue, 1));
        QVERIFY(run->waitForDongleLog("write 12 05 00", 5000));
        const QByteArray log = run->dongleLog();
        const int at = log.indexOf("write 12 05 00");
        const QByteArray line = log.mid(at, log.indexOf('\n', at) - at);
        const QByteArray expected = "write 12 05 00" + QByteArray(" 00").repeated(61) + " -> 64";
        QCOMPARE(line, expected);
        QVERIFY(run->waitForSettings("m_sleepTime=5", 5000));

        run->press("unplug");
        QVERIFY2(waitForPage(dialog, Page::Insert), "the insert page did not come back");
        // Not where the next test puts the pointer: moving it where it is would wait forever.
        const QPoint pointer(dialog.rect.left() / 2, dialog.rect.center().y() + 80);
        const QPoint far(m_desktop->screenSize().width() - 40,
                         m_desktop->screenSize().height() - 40);
        QVERIFY(m_desktop->movePointer(pointer));
        QTest::qWait(200);
        const QImage before = m_desktop->grab();
        QRgb seen = 0;
        QByteArray said;
        QCOMPARE(run->command({"--effect", "spotlight"}, &said), 0);
        QCOMPARE(run->command({"--show"}, &said), 0);
        QVERIFY2(said.isEmpty(), said.constData());
        QVERIFY2(waitForPixel(
                     far, [&](QRgb c) { return luminance(c) < luminance(before.pixel(far)) / 2; },
                     &seen),
                 qPrintable("no spotlight after kavri --show: " + describe(seen)));
        QVERIFY(waitForPixel(pointer, [&](QRgb c) { return near(c, before.pixel(pointer)); }));
        QCOMPARE(run->command({"--toggle"}), 0);
        QVERIFY2(waitForPixel(
                     far, [&](QRgb c) { return near(c, before.pixel(far)); }, &seen),
                 qPrintable("the spotlight stays after kavri --toggle: " + describe(seen)));
        QCOMPARE(pageShown(dialog), Page::Insert);
        QVERIFY(run->waitForSettings("m_curMode=1", 5000));

        endCleanly(*run);
    }

    // The presenter's keys switch the effects, and holding the effect key shows them round
    // the pointer on the real screen.
    void presenterKeysDriveTheOverlay()
    {
        auto run = launch(true);
        QVERIFY(run);
        DesktopSession::Window dialog;
        QVERIFY(waitForWindow(*run, GermanTitle, &dialog));
        QVERIFY(run->waitForDongleLog("opened /dev/hidraw3", 10000));
        QVERIFY(waitForPage(dialog, Page::Settings));

        // A place beside the settings window, on the plain desktop.
        const QPoint pointer(dialog.rect.left() / 2, dialog.rect.center().y());
        const QPoint far(m_desktop->screenSize().width() - 40,
                         m_desktop->screenSize().height() - 40);
        QVERIFY(m_desktop->movePointer(pointer));
        QTest::qWait(200);
        const QImage before = m_desktop->grab();
        const QRgb plainAtPointer = before.pixel(pointer);
        const QRgb plainFar = before.pixel(far);
        QRgb seen = 0;

        // Spotlight: mode key once (0 -> 1). The overlay shows it briefly, then stores it.
        run->press("tap mode");
        QVERIFY(run->waitForSettings("m_curMode=1", 5000));
        run->press("hold effect");
        QVERIFY2(waitForPixel(
                     far, [&](QRgb c) { return luminance(c) < luminance(plainFar) / 2; }, &seen),
                 qPrintable("far from the pointer not darkened: " + describe(seen)));
        QVERIFY2(waitForPixel(
                     pointer, [&](QRgb c) { return near(c, plainAtPointer); }, &seen),
                 qPrintable("the spotlight's hole is not round the pointer: " + describe(seen)));
        const QPoint outsideHole = pointer + QPoint(0, 120);
        QVERIFY2(
            waitForPixel(
                outsideHole,
                [&](QRgb c) { return luminance(c) < luminance(before.pixel(outsideHole)) / 2; },
                &seen),
            qPrintable("not darkened just outside the hole: " + describe(seen)));
        run->press("release");
        QVERIFY2(waitForPixel(
                     far, [&](QRgb c) { return near(c, plainFar); }, &seen),
                 qPrintable("the spotlight stays after the key is let go: " + describe(seen)));

        // Laser dot: mode key again (1 -> 2); the dot is red, the rest of the screen untouched.
        run->press("tap mode");
        QVERIFY(run->waitForSettings("m_curMode=2", 5000));
        run->press("hold effect");
        QVERIFY2(waitForPixel(pointer, isRed, &seen),
                 qPrintable("no red laser dot at the pointer: " + describe(seen)));
        QVERIFY2(near(m_desktop->grab(QRect(far, QSize(1, 1))).pixel(0, 0), plainFar),
                 "the laser dot mode changed the screen away from the pointer");
        // The dot follows the pointer.
        const QPoint moved = pointer + QPoint(0, -100);
        QVERIFY(m_desktop->movePointer(moved));
        QVERIFY2(waitForPixel(moved, isRed, &seen),
                 qPrintable("the laser dot did not follow the pointer: " + describe(seen)));
        QVERIFY(waitForPixel(pointer, [&](QRgb c) { return near(c, plainAtPointer); }));
        run->press("release");
        QVERIFY(waitForPixel(moved, [&](QRgb c) { return !isRed(c); }));

        // Magnifier (2 -> 3), held just left of the settings window's left edge: twice
        // enlarged round the pointer, the desktop reaches twice as far into the window.
        const QPoint lensCentre(dialog.rect.left() - 20, dialog.rect.top() + 300);
        QVERIFY(m_desktop->movePointer(lensCentre));
        QTest::qWait(200);
        const QImage plain = m_desktop->grab();
        const QPoint probe = lensCentre + QPoint(30, 0);  // inside the window
        const QPoint source = lensCentre + QPoint(15, 0); // what 2x shows there: the desktop
        QVERIFY2(!near(plain.pixel(probe), plain.pixel(source), 30),
                 "window and desktop look alike here; the lens cannot be seen");
        run->press("tap mode");
        QVERIFY(run->waitForSettings("m_curMode=3", 5000));
        run->press("hold effect");
        QVERIFY2(waitForPixel(
                     probe, [&](QRgb c) { return near(c, plain.pixel(source), 20); }, &seen),
                 qPrintable("no magnified picture round the pointer: " + describe(seen) +
                            " instead of " + describe(plain.pixel(source))));
        run->press("release");
        QVERIFY(waitForPixel(probe, [&](QRgb c) { return near(c, plain.pixel(probe)); }));

        // Black screen: its own key selects it, the effect key shows it over everything.
        run->press("tap black");
        QVERIFY(run->waitForSettings("m_curMode=4", 5000));
        run->press("hold effect");
        QVERIFY(waitForPixel(
            far, [](QRgb c) { return luminance(c) < 8; }, &seen));
        const QImage black = m_desktop->grab();
        QCOMPARE(countPixels(black, black.rect(), [](QRgb c) { return luminance(c) >= 8; }), 0);
        run->press("release");
        QVERIFY(waitForPixel(far, [&](QRgb c) { return near(c, plainFar); }));
        // No shortcut bound: none taken, nothing said about them.
        QVERIFY2(!run->output().contains("shortcut"), run->output().constData());

        endCleanly(*run);
    }

    // Started with a stored spotlight at full opacity: the first hold of the effect key shows
    // it, the first mode key goes on to the laser dot. Pulling the dongle out while the black
    // screen is held clears the screen.
    void storedSettingsInEffectAndDongleLossClears()
    {
        auto run = launch(true, "[General]\nlanguage=0\nm_curMode=1\nm_backOpacity=255\n");
        QVERIFY(run);
        DesktopSession::Window dialog;
        QVERIFY(waitForWindow(*run, GermanTitle, &dialog));
        QVERIFY(waitForPage(dialog, Page::Settings));
        const QPoint far(m_desktop->screenSize().width() - 40,
                         m_desktop->screenSize().height() - 40);
        QVERIFY(m_desktop->movePointer(QPoint(40, 40)));
        QTest::qWait(200);
        const QRgb plainFar = m_desktop->grab(QRect(far, QSize(1, 1))).pixel(0, 0);
        QRgb seen = 0;

        run->press("hold effect");
        QVERIFY2(waitForPixel(
                     far, [](QRgb c) { return luminance(c) < 8; }, &seen),
                 qPrintable("the stored spotlight at opacity 255 is not shown: " + describe(seen)));
        run->press("release");
        QVERIFY(waitForPixel(far, [&](QRgb c) { return near(c, plainFar); }));
        run->press("tap mode");
        QVERIFY(run->waitForSettings("m_curMode=2", 5000));

        run->press("tap black");
        run->press("hold effect");
        QVERIFY(waitForPixel(far, [](QRgb c) { return luminance(c) < 8; }));
        run->press("unplug");
        QVERIFY2(waitForPixel(
                     far, [&](QRgb c) { return near(c, plainFar); }, &seen),
                 qPrintable("the black screen stays after the dongle went: " + describe(seen)));
        endCleanly(*run);
    }

    // A settings file that is no regular file of the user's own is neither opened nor
    // written: the window comes up with the defaults, a FIFO does not hang the start, the file
    // a link leads to stays as it was, and SIGTERM still ends the program.
    void hostileSettingsFiles_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addRow("FIFO") << "fifo";
        QTest::addRow("link to another user's file") << "foreign";
        QTest::addRow("link to a missing path") << "dangling";
    }
    void hostileSettingsFiles()
    {
        QFETCH(QString, kind);
        KavriRun::Options options;
        KavriRun run(m_desktop->display(), m_runtimeDir.path(), options);
        const QString ini = run.workDir() + "/Kavri.ini";
        const QString target = run.workDir() + "/notes.txt";
        if (kind == "fifo") {
            QCOMPARE(::mkfifo(QFile::encodeName(ini).constData(), 0600), 0);
        } else {
            if (kind == "foreign") {
                if (::geteuid() != 0)
                    QSKIP("needs root to give a file to another user");
                QFile notes(target);
                QVERIFY(notes.open(QIODevice::WriteOnly) && notes.write("my notes\n") == 9);
                notes.close();
                QCOMPARE(::chown(QFile::encodeName(target).constData(), 65534, 65534), 0);
            }
            QVERIFY(QFile::link(target, ini));
        }
        QVERIFY(run.start());
        DesktopSession::Window dialog;
        QVERIFY2(waitForWindow(run, GermanTitle, &dialog), "no settings window");
        endCleanly(run);
        if (kind == "foreign") {
            QFile notes(target);
            QVERIFY(notes.open(QIODevice::ReadOnly));
            QCOMPARE(notes.readAll(), QByteArray("my notes\n"));
        }
        if (kind == "dangling")
            QVERIFY(!QFile::exists(target));
        QVERIFY(QFileInfo(ini).isSymLink() || kind == "fifo");
    }

    // A second copy warns under "Warning" and ends with 0, leaving the first one running; a
    // third started meanwhile waits for the second's box to go, then warns too.
    void secondCopyWarnsAndEndsWithZero()
    {
        auto first = launch();
        QVERIFY(first);
        DesktopSession::Window dialog;
        QVERIFY(waitForWindow(*first, GermanTitle, &dialog));

        auto second = launch();
        QVERIFY(second);
        DesktopSession::Window box;
        QVERIFY2(waitForWindow(*second, WarningTitle, &box), "the second copy shows no warning");
        DesktopSession::Window unexpected;
        QVERIFY(!m_desktop->findMapped(second->pid(), GermanTitle, &unexpected));

        auto third = launch();
        QVERIFY(third);
        QTest::qWait(1500);
        QVERIFY(third->isRunning());
        for (const DesktopSession::Window &w : m_desktop->windowsOf(third->pid()))
            QVERIFY2(!w.mapped, "a third copy showed a window while the second's box was open");

        QVERIFY(m_desktop->activateAndType(box.id, QStringLiteral("Return")));
        QVERIFY(second->waitForExit(10000));
        QCOMPARE(second->process().exitStatus(), QProcess::NormalExit);
        QCOMPARE(second->process().exitCode(), 0);

        DesktopSession::Window thirdBox;
        QVERIFY2(waitForWindow(*third, WarningTitle, &thirdBox), "the third copy shows no warning");
        QVERIFY(m_desktop->activateAndType(thirdBox.id, QStringLiteral("Return")));
        QVERIFY(third->waitForExit(10000));
        QCOMPARE(third->process().exitCode(), 0);

        QVERIFY(first->isRunning());
        QVERIFY(m_desktop->findMapped(first->pid(), GermanTitle, &dialog));
        endCleanly(*first);
    }

    // A copy killed with kill -9 leaves its lock behind; the next start is not refused. That
    // one ends on SIGTERM through the normal teardown: the dongle is closed, and the device
    // thread was stopped before the process went.
    void startAfterKillMinusNine()
    {
        auto first = launch();
        QVERIFY(first);
        DesktopSession::Window dialog;
        QVERIFY(waitForWindow(*first, GermanTitle, &dialog));
        QVERIFY(first->waitForDongleLog("opened", 10000));
        QVERIFY(first->killHard());
        QCOMPARE(first->process().exitStatus(), QProcess::CrashExit);

        auto next = launch();
        QVERIFY(next);
        QVERIFY2(waitForWindow(*next, GermanTitle, &dialog), "no start after kill -9");
        DesktopSession::Window box;
        QVERIFY(!m_desktop->findMapped(next->pid(), WarningTitle, &box));
        QVERIFY(next->waitForDongleLog("opened", 10000));

        endCleanly(*next);
        const QByteArray log = next->dongleLog();
        QVERIFY2(log.contains("closed\n"), log.constData());
        QVERIFY2(log.contains("exit: handles open 0, polls during exit 0"), log.constData());
    }

    // Keyboard shortcuts grabbed on the X server: show-while-held held for 2 s gives one show
    // and one hide, and the spotlight stays up in between (the server's auto-repeat changes
    // nothing), also with Num Lock on. A combination another client grabbed first gets its
    // line; Kavri runs on and gives its keys back at the end.
    void keyboardShortcutHold_data()
    {
        QTest::addColumn<bool>("numLock");
        QTest::newRow("plain") << false;
        QTest::newRow("Num Lock on") << true;
    }
    void keyboardShortcutHold()
    {
        QFETCH(bool, numLock);
        Display *other = XOpenDisplay(qPrintable(m_desktop->display()));
        QVERIFY(other);
        const auto closeOther = qScopeGuard([&] { XCloseDisplay(other); });
        const Window root = DefaultRootWindow(other);
        XGrabKey(other, XKeysymToKeycode(other, XK_k), ControlMask | Mod1Mask, root, False,
                 GrabModeAsync, GrabModeAsync);
        XSync(other, False);
        if (numLock)
            QVERIFY(m_desktop->keyDown("Num_Lock") && m_desktop->keyUp("Num_Lock"));
        const auto numLockOff = qScopeGuard([&] {
            if (numLock)
                m_desktop->keyDown("Num_Lock"), m_desktop->keyUp("Num_Lock");
        });

        auto run = launch(false, "[General]\nm_curMode=1\nm_backOpacity=255\n\n[Shortcuts]\n"
                                 "showWhileHeld=Meta+F8\nblackScreen=Ctrl+Alt+K\nsizeUp=Ctrl+Foo\n"
                                 "toggle=Shift+F9\n");
        QVERIFY(run);
        DesktopSession::Window dialog;
        QVERIFY(waitForWindow(*run, GermanTitle, &dialog));
        const QByteArray said = run->output();
        QVERIFY2(said.contains("Kavri: shortcuts: X11 key grabs\n"), said.constData());
        QVERIFY2(said.contains("Kavri: the shortcut blackScreen (Ctrl+Alt+K) cannot be taken"),
                 said.constData());
        QVERIFY2(said.contains("the shortcut sizeUp in Kavri.ini, \"Ctrl+Foo\", is no key"),
                 said.constData());

        const auto disconnect = qScopeGuard([] { QDBusConnection::disconnectFromBus("watch"); });
        QDBusConnection bus = QDBusConnection::connectToBus(m_bus.address(), "watch");
        ShownWatch watch;
        QVERIFY(bus.connect("org.kavri.Kavri", "/org/kavri/Kavri",
                            "org.freedesktop.DBus.Properties", "PropertiesChanged", &watch,
                            SLOT(onChanged(QString, QVariantMap, QStringList))));
        const QPoint far(m_desktop->screenSize().width() - 40,
                         m_desktop->screenSize().height() - 40);
        // Not where another test leaves it: moving the pointer where it is would wait forever.
        QVERIFY(m_desktop->movePointer(QPoint(numLock ? 100 : 70, 60)));
        QTest::qWait(200);
        const QRgb plainFar = m_desktop->grab(QRect(far, QSize(1, 1))).pixel(0, 0);
        QRgb seen = 0;

        QVERIFY(m_desktop->keyDown("super+F8"));
        QVERIFY2(waitForPixel(
                     far, [](QRgb c) { return luminance(c) < 8; }, &seen),
                 qPrintable("no spotlight while the shortcut is held: " + describe(seen)));
        QElapsedTimer held;
        held.start();
        while (held.elapsed() < 2000) {
            seen = m_desktop->grab(QRect(far, QSize(1, 1))).pixel(0, 0);
            QVERIFY2(luminance(seen) < 8, qPrintable("the spotlight went while held: " +
                                                     describe(seen)));
            QTest::qWait(50);
        }
        // The modifier goes first, as people let go; the release counts by the key.
        QVERIFY(m_desktop->keyUp("super") && m_desktop->keyUp("F8"));
        QVERIFY2(waitForPixel(
                     far, [&](QRgb c) { return near(c, plainFar); }, &seen),
                 qPrintable("the spotlight stays after the shortcut is let go: " + describe(seen)));
        QTRY_COMPARE(watch.shown, (QList<bool>{true, false}));
        // A held toggle toggles once.
        QVERIFY(m_desktop->keyDown("shift+F9"));
        QTest::qWait(1500);
        QVERIFY(m_desktop->keyUp("shift+F9"));
        QVERIFY(waitForPixel(far, [](QRgb c) { return luminance(c) < 8; }));
        QTest::qWait(300);
        QCOMPARE(watch.shown, (QList<bool>{true, false, true}));
        QVERIFY(run->isRunning());
        QVERIFY(!grabbable(other, XK_F8));
        endCleanly(*run);
        // The keys are given back at the end, and when a shortcut is changed (as the shortcuts
        // page does): the old combination is free for others, the new one is taken.
        QVERIFY(grabbable(other, XK_F8));
        KavriTest::SettingsFixture settings;
        QVERIFY(settings.reset() && settings.write("[Shortcuts]\nshowWhileHeld=Meta+F8\n"));
        const auto store = settings.store();
        PresenterState state(*store);
        const QByteArray display = qgetenv("DISPLAY"), wayland = qgetenv("WAYLAND_DISPLAY");
        const auto restore = qScopeGuard([&] {
            qputenv("DISPLAY", display);
            qputenv("WAYLAND_DISPLAY", wayland);
        });
        qputenv("DISPLAY", m_desktop->display().toLocal8Bit());
        qunsetenv("WAYLAND_DISPLAY");
        ShortcutService service(*store, state, QStringLiteral("xcb"));
        service.start();
        QVERIFY(!grabbable(other, XK_F8));
        service.bind(Shortcuts::ShowWhileHeld, QKeySequence(QStringLiteral("Meta+F7")));
        QVERIFY(grabbable(other, XK_F8));
        QVERIFY(!grabbable(other, XK_F7));
    }

    // The tray menu's "EXIT" ends the program with status 0 through its normal teardown; the
    // next start is not refused.
    void trayExitEndsWithZero()
    {
        auto run = launch();
        QVERIFY(run);
        DesktopSession::Window dialog;
        QVERIFY(waitForWindow(*run, GermanTitle, &dialog));
        QVERIFY(run->waitForDongleLog("opened", 10000));

        // The tray icon: the program's small window docked in the tray.
        DesktopSession::Window icon;
        QElapsedTimer t;
        t.start();
        bool found = false;
        while (!found && t.elapsed() < 10000) {
            for (const DesktopSession::Window &w : m_desktop->windowsOf(run->pid()))
                if (w.mapped && w.rect.width() <= 32 && w.rect.height() <= 32 &&
                    w.rect.width() > 4) {
                    icon = w;
                    found = true;
                }
            if (!found)
                QTest::qWait(100);
        }
        QVERIFY2(found, "no tray icon");

        const QList<DesktopSession::Window> beforeMenu = m_desktop->windowsOf(run->pid());
        QVERIFY(m_desktop->click(icon.rect.center(), 3));
        // The context menu: a window of the program that was not shown before.
        DesktopSession::Window menu;
        found = false;
        t.restart();
        while (!found && t.elapsed() < 5000) {
            for (const DesktopSession::Window &w : m_desktop->windowsOf(run->pid())) {
                const bool wasShown = std::any_of(
                    beforeMenu.begin(), beforeMenu.end(),
                    [&](const DesktopSession::Window &b) { return b.id == w.id && b.mapped; });
                if (w.mapped && !wasShown && w.rect.height() < 100 && w.rect != icon.rect) {
                    menu = w;
                    found = true;
                }
            }
            if (!found)
                QTest::qWait(50);
        }
        QVERIFY2(found, "the tray icon's menu did not open");
        QVERIFY(run->isRunning());
        // Its entries: "Start at login", then EXIT in the lower half.
        QVERIFY(m_desktop->click(
            QPoint(menu.rect.center().x(), menu.rect.top() + menu.rect.height() * 3 / 4), 1));

        QVERIFY(run->waitForExit(10000));
        QCOMPARE(run->process().exitStatus(), QProcess::NormalExit);
        QCOMPARE(run->process().exitCode(), 0);
        // The orderly end: the dongle closed after the device thread stopped, and the
        // single-instance lock taken away.
        const QByteArray log = run->dongleLog();
        QVERIFY2(log.contains("closed\n"), log.constData());
        QVERIFY2(log.contains("exit: handles open 0, polls during exit 0"), log.constData());
        QVERIFY(!QFile::exists(QDir(m_runtimeDir.path()).filePath(QStringLiteral("kavri.lock"))));

        auto next = launch();
        QVERIFY(next);
        QVERIFY2(waitForWindow(*next, GermanTitle, &dialog), "no start after EXIT");
        endCleanly(*next);
    }
};

QTEST_GUILESS_MAIN(TestEndToEnd)
#include "tst_e2e.moc"
