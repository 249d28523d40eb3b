#include "app/alreadyrunningbox.h"
#include "app/overlaywiring.h"
#include "app/terminationwatcher.h"
#include "overlay/screenwidget.h"
#include "settings/settingsfile.h"
#include "ui/maindialog.h"

#include "common/initext.h"
#include "common/kavriresources.h"
#include "common/workdir.h"

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QSignalSpy>
#include <QTimer>
#include <QtTest>

#include <csignal>

// The pieces main() is made of, with the real windows: the warning a second copy shows, the
// settings window wired to the overlay, and the orderly end on a termination signal.
class TestStartup : public QObject
{
    Q_OBJECT

private:
    KavriTest::WorkDir m_workDir;

private slots:
    void initTestCase() { initKavriResources(); }
    void init() { QVERIFY(m_workDir.enter()); }
    void cleanup() { m_workDir.leave(); }

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

    // What the dialog loaded is not pushed to the overlay at start; afterwards each of the
    // dialog's signals reaches the overlay.
    void settingsWindowDrivesTheOverlay()
    {
        SettingsFile::writeInt("m_curMode", 2);
        SettingsFile::writeInt("m_foreOpacity", 50);
        SettingsFile::writeInt("m_laserSize", 70);

        MainDialog dialog(nullptr);
        ScreenWidget overlay(&dialog);
        overlay.setFlashWait([](int) {});
        overlay.setScreenGrabber([](QScreen *) { return QPixmap(8, 8); });
        OverlayWiring::connectDialogToOverlay(&dialog, &overlay);

        QCOMPARE(overlay.curMode(), ModeNormal);
        QCOMPARE(overlay.foreOpacity(), 200);
        QCOMPARE(overlay.cursorSize(), 50);

        emit dialog.setForeOpacity(77);
        emit dialog.setBackOpacity(66);
        emit dialog.setForeColor(QColor(1, 2, 3));
        emit dialog.setBackColor(QColor(4, 5, 6));
        emit dialog.setCursorSize(33);
        emit dialog.setScaleRate(3.5);
        emit dialog.setMouseSpeed(1.25);
        emit dialog.setMode(ModeSpotLight);
        QCOMPARE(overlay.foreOpacity(), 77);
        QCOMPARE(overlay.backOpacity(), 66);
        QCOMPARE(overlay.foreColor(), QColor(1, 2, 3));
        // The spotlight's flash gave the back colour the back opacity.
        QCOMPARE(overlay.backColor(), QColor(4, 5, 6, 66));
        QCOMPARE(overlay.cursorSize(), 33);
        QCOMPARE(overlay.scaleRate(), 3.5);
        QCOMPARE(overlay.curMode(), ModeSpotLight);

        emit dialog.showMode(true);
        QCOMPARE(overlay.paintMode(), ModeSpotLight);
        emit dialog.SetRepaint();
        QCOMPARE(overlay.paintMode(), ModeMagnifier);
        emit dialog.showMode(false);
        QCOMPARE(overlay.paintMode(), ModeNormal);
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
};

QTEST_MAIN(TestStartup)
#include "tst_startup.moc"
