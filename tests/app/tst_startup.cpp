#include "app/alreadyrunningbox.h"
#include "app/controlservice.h"
#include "app/instanceguard.h"
#include "app/kavriapp.h"
#include "app/terminationwatcher.h"
#include "overlay/overlayplatform.h"
#include "overlay/screenwidget.h"
#include "ui/languages.h"
#include "ui/maindialog.h"

#include "common/childprocess.h"
#include "common/kavriresources.h"
#include "common/sessionbus.h"
#include "common/settingsfixture.h"

#include <QApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusVariant>
#include <QLabel>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QSlider>
#include <QTimer>
#include <QtTest>

#include <QScopeGuard>

#include <csignal>

// Records the control interface's PropertiesChanged signals, as a script watching it would.
class PropertyWatch : public QObject
{
    Q_OBJECT
public:
    QVariantMap changed;
public slots:
    void onChanged(const QString &, const QVariantMap &properties, const QStringList &)
    {
        changed.insert(properties);
    }
};

// The pieces main() is made of, with the real windows: the warning a second copy shows, the
// settings window wired to the overlay, and the orderly end on a termination signal.
class TestStartup : public QObject
{
    Q_OBJECT

private:
    KavriTest::SettingsFixture m_settings;
    KavriTest::SessionBus m_bus;

    QDBusConnection connection(const QString &name) const
    {
        return QDBusConnection::connectToBus(m_bus.address(), name);
    }
    // A call as another program makes it; the event loop runs meanwhile, as the service is
    // this process.
    static QDBusMessage call(QDBusConnection &bus, const QString &interface,
                             const QString &method, const QVariantList &arguments = {})
    {
        QDBusMessage message = QDBusMessage::createMethodCall(
            "org.kavri.Kavri", "/org/kavri/Kavri", interface, method);
        message.setArguments(arguments);
        return bus.call(message, QDBus::BlockWithGui, 5000);
    }
    static QVariantMap properties(QDBusConnection &bus)
    {
        const QDBusMessage reply = call(bus, "org.freedesktop.DBus.Properties", "GetAll",
                                        {QStringLiteral("org.kavri.Kavri")});
        return qdbus_cast<QVariantMap>(reply.arguments().value(0));
    }

private slots:
    void initTestCase()
    {
        initKavriResources();
        QVERIFY2(m_bus.start(), "dbus-daemon did not start");
    }
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
        dialog.onRunningUnguarded(guard.unguardedWhere());
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        auto *line = dialog.findChild<QLabel *>("label_unguardedNotice");
        QVERIFY(line);
        // In the window's language (German here), naming the places tried.
        QCOMPARE(line->text(), Languages::extraText(Languages::UnguardedNotice, Languages::German)
                                   .arg("$XDG_RUNTIME_DIR, /tmp, ~/.cache"));
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

    // The control interface on the suite's own bus, called as a script calls it: each call
    // changes the state as the window's buttons or the presenter's keys do, and the overlay
    // with it, without a dongle; the properties follow and are announced; a refused call
    // changes nothing. Started with the spotlight (size 50; the laser's 20), hidden.
    void controlInterface_data()
    {
        QTest::addColumn<QString>("calls");  // "Method argument", the last one checked
        QTest::addColumn<QString>("error");  // the last call's D-Bus error; empty: done
        QTest::addColumn<QString>("after");  // "Effect Shown Size"
        QTest::addColumn<int>("paintMode");  // what the overlay draws after the call
        QTest::addColumn<QByteArray>("line"); // a line the file holds after it
        const QString invalid = "org.freedesktop.DBus.Error.InvalidArgs";
        const QString refused = "org.freedesktop.DBus.Error.NotSupported";
        const auto row = [](const char *name, const char *calls, const QString &error,
                            const char *after, ScreenMode paint, const char *line) {
            QTest::newRow(name) << calls << error << after << int(paint) << QByteArray(line);
        };
        row("SetEffect laser, as a mode button", "SetEffect laser", "", "laser 0 20", ModeLaser,
            "m_curMode=2");
        row("SetEffect black, as the key", "SetEffect black", "", "black 0 50", ModeBlackScreen,
            "m_curMode=4");
        row("SetEffect none", "SetEffect none", "", "none 0 50", ModeNormal, "m_curMode=0");
        row("unknown effect", "SetEffect Spotlight", invalid, "spotlight 0 50", ModeNormal,
            "m_curMode=1");
        row("Show", "Show", "", "spotlight 1 50", ModeSpotLight, "m_curMode=1");
        row("Toggle twice", "Toggle;Toggle", "", "spotlight 0 50", ModeNormal, "m_curMode=1");
        row("Hide after Show", "Show;Hide", "", "spotlight 0 50", ModeNormal, "m_curMode=1");
        row("ChangeSize stored per effect", "ChangeSize 10", "", "spotlight 0 60", ModeNormal,
            "m_spotSize=60");
        row("ChangeSize kept within 10", "ChangeSize -2147483648", "", "spotlight 0 10",
            ModeNormal, "m_spotSize=10");
        row("ChangeSize refused for black", "SetEffect black;ChangeSize 10", refused,
            "black 0 50", ModeBlackScreen, "m_spotSize=50");
        row("ChangeSize refused for none", "SetEffect none;ChangeSize 10", refused, "none 0 50",
            ModeNormal, "m_spotSize=50");
    }
    void controlInterface()
    {
        QFETCH(QString, calls);
        QFETCH(QString, error);
        QFETCH(QByteArray, line);
        QVERIFY(m_settings.write("[General]\nm_curMode=1\nm_spotSize=50\nm_laserSize=20\n"
                                 "language=0\n"));
        KavriApp app(m_settings.store());
        OverlayPlatform platform = OverlayPlatform::detect();
        ScreenWidget overlay(&app.dialog(), platform);
        overlay.setScreenGrabber([](QScreen *, const QRect &) { return QPixmap(8, 8); });
        app.attachOverlay(overlay);
        // The connections go after the last copy of them.
        const auto disconnect = qScopeGuard([] {
            for (const char *name : {"kavri", "kavri2", "script"})
                QDBusConnection::disconnectFromBus(name);
        });
        QDBusConnection script = connection("script");
        {
            ControlService service(app.state());
            QVERIFY(service.publish(connection("kavri")));
            // A second one on the same bus finds the name taken.
            ControlService second(app.state());
            QVERIFY(!second.publish(connection("kavri2")));
            QVERIFY(second.why().contains("org.kavri.Kavri"));

            PropertyWatch watch;
            QVERIFY(script.connect("org.kavri.Kavri", "/org/kavri/Kavri",
                                   "org.freedesktop.DBus.Properties", "PropertiesChanged", &watch,
                                   SLOT(onChanged(QString, QVariantMap, QStringList))));
            const QVariantMap before = properties(script);
            QDBusMessage reply;
            for (const QString &c : calls.split(';')) {
                const QString word = c.section(' ', 1);
                bool number = false;
                const int value = word.toInt(&number);
                reply = call(script, "org.kavri.Kavri", c.section(' ', 0, 0),
                             word.isEmpty() ? QVariantList{}
                                            : QVariantList{number ? QVariant(value) : word});
            }
            QCOMPARE(reply.errorName(), error);
            if (error.endsWith("InvalidArgs"))
                QVERIFY2(reply.errorMessage().contains("spotlight, laser, magnifier or black"),
                         qPrintable(reply.errorMessage()));
            // A new mode flashes on the overlay, a shown effect stays.
            QTEST(int(overlay.paintMode()), "paintMode");
            const QVariantMap after = properties(script);
            QTEST(QStringLiteral("%1 %2 %3")
                      .arg(after.value("Effect").toString())
                      .arg(after.value("Shown").toInt())
                      .arg(after.value("Size").toInt()),
                  "after");
            // What changed was announced, with its new value.
            for (const QString &name : after.keys())
                if (after.value(name) != before.value(name))
                    QTRY_COMPARE(watch.changed.value(name), after.value(name));
        }
        QVERIFY(m_settings.bytes().split('\n').contains(line));
        // The service gave the name back as it went.
        QCOMPARE(call(script, "org.kavri.Kavri", "Show").errorName(),
                 QStringLiteral("org.freedesktop.DBus.Error.ServiceUnknown"));
    }

    // The commands for the running Kavri: arguments checked first (2), no Kavri on the bus or
    // no bus at all (1), done (0). The Kavri here is this suite, on its own bus.
    void commandLineSteersTheRunningKavri_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("bus"); // "kavri": a Kavri serves it, "empty", "none"
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("said");  // the start of standard error
        QTest::addColumn<QString>("after"); // "Effect Shown Size"
        const auto row = [](const char *name, const QStringList &arguments, const char *bus,
                            int status, const char *said, const char *after) {
            QTest::newRow(name) << arguments << bus << status << said << after;
        };
        const char *notRunning = "Kavri is not running\n";
        row("--effect laser --show", {"--effect", "laser", "--show"}, "kavri", 0, "",
            "laser 1 20");
        row("--toggle", {"--toggle"}, "kavri", 0, "", "spotlight 1 50");
        row("--size +10", {"--size", "+10"}, "kavri", 0, "", "spotlight 0 60");
        row("--size 30 sets it", {"--size", "30"}, "kavri", 0, "", "spotlight 0 30");
        row("--size -1000 stops at 10", {"--size", "-1000"}, "kavri", 0, "", "spotlight 0 10");
        row("unknown effect: nothing sent", {"--effect", "laserpointer", "--show"}, "kavri", 2,
            "kavri: Unknown effect \"laserpointer\": the effect is one of none, spotlight, "
            "laser, magnifier or black.\n",
            "spotlight 0 50");
        row("bare size out of range", {"--size", "5"}, "kavri", 2, "kavri: Bad size \"5\"",
            "spotlight 0 50");
        row("--effect without a name", {"--effect"}, "kavri", 2, "kavri: Missing value",
            "spotlight 0 50");
        row("--show --hide", {"--show", "--hide"}, "kavri", 2, "kavri: --show, --hide and",
            "spotlight 0 50");
        row("size of none: refused by Kavri", {"--effect", "none", "--size", "+10"}, "kavri", 2,
            "The none effect has no size", "none 0 50");
        row("no Kavri on the bus", {"--show"}, "empty", 1, notRunning, "spotlight 0 50");
        row("no session bus", {"--effect", "black"}, "none", 1, notRunning, "spotlight 0 50");
    }
    void commandLineSteersTheRunningKavri()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QString, bus);
        QFETCH(QString, said);
        QVERIFY(m_settings.write("[General]\nm_curMode=1\nm_spotSize=50\nm_laserSize=20\n"
                                 "language=0\n"));
        KavriApp app(m_settings.store());
        const auto disconnect = qScopeGuard([] { QDBusConnection::disconnectFromBus("kavri"); });
        ControlService service(app.state());
        if (bus == "kavri")
            QVERIFY(service.publish(connection("kavri")));

        QTemporaryDir runtime; // no "bus" socket in it
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("XDG_RUNTIME_DIR", runtime.path());
        env.remove("DISPLAY");
        env.remove("WAYLAND_DISPLAY");
        env.insert("DBUS_SESSION_BUS_ADDRESS", m_bus.address());
        if (bus == "none")
            env.remove("DBUS_SESSION_BUS_ADDRESS");
        QProcess kavri;
        kavri.setProcessEnvironment(env);
        QSignalSpy finished(&kavri, qOverload<int, QProcess::ExitStatus>(&QProcess::finished));
        kavri.start(KAVRI_PROGRAM, arguments);
        // The event loop runs while the command waits: this process answers its calls.
        QVERIFY(finished.wait(10000));
        const QString error = QString::fromLocal8Bit(kavri.readAllStandardError());
        QCOMPARE(kavri.exitStatus(), QProcess::NormalExit);
        QVERIFY2(said.isEmpty() ? error.isEmpty() : error.startsWith(said), qPrintable(error));
        QTEST(kavri.exitCode(), "status");
        QTEST(QStringLiteral("%1 %2 %3")
                  .arg(service.effect())
                  .arg(int(service.isShown()))
                  .arg(service.size()),
              "after");
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
