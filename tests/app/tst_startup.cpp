#include "app/alreadyrunningbox.h"
#include "app/instanceguard.h"
#include "app/kavriapp.h"
#include "app/terminationwatcher.h"
#include "overlay/overlayplatform.h"
#include "overlay/screenwidget.h"
#include "ui/maindialog.h"

#include "common/childprocess.h"
#include "common/kavriresources.h"
#include "common/settingsfixture.h"

#include <QApplication>
#include <QLabel>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QSlider>
#include <QTimer>
#include <QtTest>

#include <csignal>

// The pieces main() is made of, with the real windows: the warning a second copy shows, the
// settings window wired to the overlay, and the orderly end on a termination signal.
class TestStartup : public QObject
{
    Q_OBJECT

private:
    KavriTest::SettingsFixture m_settings;

private slots:
    void initTestCase() { initKavriResources(); }
    void init() { QVERIFY(m_settings.reset()); }

    void warningBoxSaysTheProgramRuns()
    {
        QString title, text;
        QMessageBox::StandardButtons buttons;
        QMessageBox::Icon icon = QMessageBox::NoIcon;
        bool parentless = false;
        // The box is modal: look at it from inside its own event loop, then dismiss it.
        QTimer::singleShot(0, this, [&] {
            auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
            if (!box)
                return;
            title = box->windowTitle();
            text = box->text();
            buttons = box->standardButtons();
            icon = box->icon();
            parentless = box->parentWidget() == nullptr;
            box->button(QMessageBox::Ok)->click();
        });
        AlreadyRunningBox::show();
        QCOMPARE(title, QStringLiteral("Warning"));
        QCOMPARE(text, QStringLiteral("Program hasbeen running!"));
        QCOMPARE(buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
        QCOMPARE(icon, QMessageBox::Information);
        QVERIFY(parentless);
    }

    // A guard that could make its lock nowhere lets Kavri run, and the window says so in a
    // line of its own, not only standard error.
    void runningWithoutTheGuardIsSaidInTheWindow()
    {
        InstanceGuard guard{QString()};
        bool refused = false;
        QVERIFY(guard.acquire([&] { refused = true; }));
        QVERIFY(!refused);
        QVERIFY(!guard.isHeld());
        QVERIFY(guard.unguardedWhy().contains("a second Kavri started now would not be stopped"));

        KavriApp app(m_settings.store());
        MainDialog &dialog = app.dialog();
        dialog.onRunningUnguarded(guard.unguardedWhy());
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        auto *line = dialog.findChild<QLabel *>("label_unguardedNotice");
        QVERIFY(line);
        QCOMPARE(line->text(), guard.unguardedWhy());
        QVERIFY(line->isVisible());
    }

    // The overlay starts with what the window restored, and nothing is written for it; the
    // stored spotlight shows on the first hold of the effect key, the first mode key goes on
    // from the stored mode, and the stored magnification is the lens's. Afterwards each of
    // the state's commands reaches the overlay.
    void storedSettingsAreInEffectFromTheStart()
    {
        QVERIFY(
            m_settings.write("[General]\nm_curMode=1\nm_backOpacity=100\nm_backColor=4278190335\n"
                             "m_spotSize=70\nm_magnifierSize=40\nm_scaleRate=4\nlanguage=0\n"));
        const QByteArray stored = m_settings.bytes();

        KavriApp app(m_settings.store());
        MainDialog &dialog = app.dialog();
        OverlayPlatform platform = OverlayPlatform::detect();
        ScreenWidget overlay(&dialog, platform);
        overlay.setScreenGrabber([](QScreen *, const QRect &) { return QPixmap(8, 8); });
        app.attachOverlay(overlay);

        QCOMPARE(overlay.curMode(), ModeSpotLight);
        QCOMPARE(overlay.backOpacity(), 100);
        QCOMPARE(overlay.backColor().rgb(), QColor(0, 0, 255).rgb());
        QCOMPARE(overlay.cursorSize(), 70);
        QCOMPARE(overlay.scaleRate(), 4.0);
        QCOMPARE(dialog.findChild<QSlider *>("horizontalSlider_scaleRate")->value(), 40);
        QCOMPARE(overlay.paintMode(), ModeNormal);
        QVERIFY(!overlay.isFlashing()); // the restored mode is not shown
        QCOMPARE(m_settings.bytes(), stored);

        const auto key = [&](int keys) {
            app.state().onUpdateHidStatus(HidKeyEvent, (keys << 8) | 0xFE);
        };
        key(KeyEffectHeld);
        QCOMPARE(overlay.paintMode(), ModeSpotLight);
        key(0);
        QCOMPARE(overlay.paintMode(), ModeNormal);
        QCOMPARE(m_settings.bytes(), stored); // holding and letting go writes nothing

        key(KeyModeSwitch);
        QCOMPARE(overlay.curMode(), ModeLaser);
        QVERIFY(dialog.findChild<QRadioButton *>("radioButton_laser")->isChecked());
        key(KeyModeSwitch);
        key(KeyEffectHeld);
        QCOMPARE(overlay.paintMode(), ModeMagnifier);
        QCOMPARE(overlay.cursorSize(), 40);
        QCOMPARE(overlay.scaleRate(), 4.0);
        key(0);

        emit app.state().overlayForeOpacity(77);
        emit app.state().overlayForeColor(QColor(1, 2, 3));
        emit app.state().overlayCursorSize(33);
        emit app.state().overlayScaleRate(3.5);
        QCOMPARE(overlay.foreOpacity(), 77);
        QCOMPARE(overlay.foreColor(), QColor(1, 2, 3));
        QCOMPARE(overlay.cursorSize(), 33);
        QCOMPARE(overlay.scaleRate(), 3.5);
        const QList<QByteArray> lines = m_settings.bytes().split('\n');
        QVERIFY(lines.contains("m_curMode=3"));
    }

    void terminationSignalEndsTheEventLoop_data()
    {
        QTest::addColumn<int>("signalNumber");
        QTest::newRow("SIGTERM") << int(SIGTERM);
        QTest::newRow("SIGINT") << int(SIGINT);
        QTest::newRow("SIGHUP") << int(SIGHUP);
    }
    void terminationSignalEndsTheEventLoop()
    {
        QFETCH(int, signalNumber);
        {
            // The settings window refuses to close (it goes to the tray); the signal still
            // ends the loop, without asking the windows first. A change still waiting in the
            // store is written by the teardown that follows.
            QVERIFY(m_settings.write("[General]\nlanguage=0\n"));
            auto app = std::make_unique<KavriApp>(m_settings.store());
            MainDialog &dialog = app->dialog();
            dialog.show();
            {
                const PresenterState::Coalescing coalescing(app->state());
                app->state().setBackOpacity(10);
                app->state().setBackOpacity(11);
            }
            TerminationWatcher watcher;
            QVERIFY(watcher.isWatching());
            QSignalSpy spy(&watcher, &TerminationWatcher::terminationRequested);
            QTimer::singleShot(0, &watcher, [signalNumber] { ::raise(signalNumber); });
            // A safety net: if the signal were not turned into a quit, end the loop anyway
            // and let the spy tell.
            QTimer::singleShot(5000, &watcher, [] { QCoreApplication::exit(99); });
            QCOMPARE(QCoreApplication::exec(), 0);
            QCOMPARE(spy.count(), 1);
            QCOMPARE(spy.first().first().toInt(), signalNumber);
            QVERIFY(dialog.isVisible());
            QVERIFY(m_settings.bytes().contains("m_backOpacity=10\n"));
            app.reset();
            QVERIFY(m_settings.bytes().contains("m_backOpacity=11\n"));
        }
        // Once the watcher is gone the signal has its default handling again.
        struct sigaction current = {};
        QCOMPARE(::sigaction(signalNumber, nullptr, &current), 0);
        QVERIFY(current.sa_handler == SIG_DFL);
    }

    // Started with a signal ignored (nohup), the program keeps ignoring it.
    void ignoredSignalStaysIgnored()
    {
        ::signal(SIGHUP, SIG_IGN);
        {
            TerminationWatcher watcher;
            QSignalSpy spy(&watcher, &TerminationWatcher::terminationRequested);
            QTimer::singleShot(0, &watcher, [] { ::raise(SIGHUP); });
            QTimer::singleShot(300, &watcher, [] { QCoreApplication::exit(7); });
            QCOMPARE(QCoreApplication::exec(), 7);
            QCOMPARE(spy.count(), 0);
        }
        struct sigaction current = {};
        QCOMPARE(::sigaction(SIGHUP, nullptr, &current), 0);
        QVERIFY(current.sa_handler == SIG_IGN);
        ::signal(SIGHUP, SIG_DFL);
    }

    // The program answers --help and --version and ends, with no display needed; Qt's own
    // options may stand beside them.
    void commandLineAnswers_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("output"); // a regular expression for all of standard output
        const QString version = QStringLiteral("kavri %1\n").arg(KAVRI_VERSION);
        const QString help = QStringLiteral("Usage: .*kavri \\[options\\]\n.*-platform.*"
                                            "--version +Displays version information.*");
        QTest::newRow("--version") << QStringList{"--version"} << version;
        QTest::newRow("-v") << QStringList{"-v"} << version;
        QTest::newRow("after a Qt option")
            << QStringList{"-platform", "offscreen", "--version"} << version;
        QTest::newRow("--help") << QStringList{"--help"} << help;
        QTest::newRow("-h") << QStringList{"-h"} << help;
    }
    void commandLineAnswers()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QString, output);
        QProcess kavri;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove("DISPLAY");
        env.remove("WAYLAND_DISPLAY");
        env.remove("QT_QPA_PLATFORM");
        kavri.setProcessEnvironment(env);
        kavri.start(KAVRI_PROGRAM, arguments);
        QVERIFY(kavri.waitForFinished(10000));
        QCOMPARE(kavri.exitStatus(), QProcess::NormalExit);
        QCOMPARE(kavri.exitCode(), 0);
        const QString said = QString::fromLocal8Bit(kavri.readAllStandardOutput());
        QVERIFY2(QRegularExpression(QRegularExpression::anchoredPattern(output),
                                    QRegularExpression::DotMatchesEverythingOption)
                     .match(said)
                     .hasMatch(),
                 qPrintable(said + kavri.readAllStandardError()));
    }

    // A display nobody serves, X11's or Wayland's: one line and status 1, not Qt's abort.
    void unservedDisplayEndsWithALine_data()
    {
        QTest::addColumn<QString>("platform");
        QTest::addColumn<QString>("variable");
        int n = 99;
        while (QFileInfo::exists(QStringLiteral("/tmp/.X11-unix/X%1").arg(n)) ||
               QFileInfo::exists(QStringLiteral("/tmp/.X%1-lock").arg(n)))
            ++n;
        QTest::newRow("X11") << "" << QStringLiteral("DISPLAY=:%1").arg(n);
        QTest::newRow("Wayland") << "wayland"
                                 << "WAYLAND_DISPLAY=kavri-unserved";
    }
    void unservedDisplayEndsWithALine()
    {
        QFETCH(QString, platform);
        QFETCH(QString, variable);
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const char *name :
             {"DISPLAY", "WAYLAND_DISPLAY", "WAYLAND_SOCKET", "XDG_SESSION_TYPE"})
            env.remove(name);
        env.insert("QT_QPA_PLATFORM", platform);
        env.insert(variable.section('=', 0, 0), variable.section('=', 1));
        env.insert("XDG_CONFIG_HOME", dir.path());
        env.insert("XDG_RUNTIME_DIR", dir.path()); // no compositor's socket in it
        QProcess kavri;
        kavri.setProcessEnvironment(env);
        kavri.setWorkingDirectory(dir.path());
        QVERIFY(KavriTest::startTied(kavri, KAVRI_PROGRAM, {}));
        QVERIFY(kavri.waitForFinished(10000));
        const QByteArray said = kavri.readAllStandardError();
        QCOMPARE(kavri.exitStatus(), QProcess::NormalExit);
        QCOMPARE(kavri.exitCode(), 1);
        QVERIFY2(said.startsWith("Kavri: cannot open the display \"" +
                                 variable.section('=', 1).toLocal8Bit() + '"'),
                 said.constData());
    }
};

QTEST_MAIN(TestStartup)
#include "tst_startup.moc"
