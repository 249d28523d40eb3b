#include "dialogtesthelpers.h"

#include "app/kavriapp.h"
#include "device/hidcontroller.h"
#include "tests/fakes/fakedongle.h"
#include "ui/maindialog.h"
#include "ui/tray.h"

#include <QMenu>
#include <QPushButton>
#include <QSignalSpy>
#include <QSpinBox>
#include <QStackedWidget>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QtTest>

#include <memory>

using namespace DialogTest;

namespace {

// The device thread looks for the dongle about once a second.
constexpr int DeviceTimeoutMs = 5000;

} // namespace

// The settings window with its real device thread in front of the stand-in dongle: the page
// follows the dongle, key reports become overlay commands, the timer reaches the dongle.
class TestMainDialogDevice : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { initKavriResources(); }
    void init() { QVERIFY(m_settings.reset()); }

    void dongleDrivesPageAndKeys();
    void dongleArrivesLater();
    void exitStopsPollingBeforeTheProcessEnds();

private:
    SettingsFixture m_settings;
};

void TestMainDialogDevice::dongleDrivesPageAndKeys()
{
    fakehid::FakeDongle dongle;
    {
        writeIni("[General]\nm_curMode=3\nm_sleepTime=12\n");
        KavriApp app(m_settings.store());
        MainDialog &dialog = app.dialog();
        QSignalSpy shows(&app.state(), &PresenterState::overlayShow);
        QSignalSpy repaints(&app.state(), &PresenterState::overlayRecapture);
        QSignalSpy answers(&app.device(), &HidController::sleepTimeWritten);

        QCOMPARE(pageIndex(dialog), 1);
        QTRY_COMPARE_WITH_TIMEOUT(pageIndex(dialog), 0, DeviceTimeoutMs);
        // The stored sleep time was not sent while the dongle was still closed.
        QVERIFY(dongle.featureWrites().empty());

        dongle.queueReads({fakehid::ReadAnswer::keyEvent(KeyEffectHeld),
                           fakehid::ReadAnswer::keyEvent(KeyEffectHeld),
                           fakehid::ReadAnswer::keyEvent(0)});
        QTRY_COMPARE_WITH_TIMEOUT(shows.count(), 3, DeviceTimeoutMs);
        QCOMPARE(shows.at(0).at(0).toBool(), true);
        QCOMPARE(shows.at(1).at(0).toBool(), true);
        QCOMPARE(shows.at(2).at(0).toBool(), false);
        QCOMPARE(repaints.count(), 1);

        child<QSpinBox>(&dialog, "spinBox_timer")->setValue(7);
        child<QPushButton>(&dialog, "pushButton_setTimer")->click();
        // Stored at once; written by the device thread before its next poll.
        QCOMPARE(iniValue("m_sleepTime").toInt(), 7);
        QTRY_COMPARE_WITH_TIMEOUT(answers.count(), 1, DeviceTimeoutMs);
        QCOMPARE(answers.at(0), (QVariantList{7, true}));
        const std::vector<fakehid::FeatureWrite> writes = dongle.featureWrites();
        QCOMPARE(writes.size(), std::size_t(1));
        std::vector<unsigned char> expected(64, 0);
        expected[0] = 0x12;
        expected[1] = 7;
        QVERIFY(writes.front().bytes == expected);
        QCOMPARE(iniValue("m_sleepTime").toInt(), 7);
        QVERIFY(app.device().isRunning());

        dongle.unplug();
        QTRY_COMPARE_WITH_TIMEOUT(pageIndex(dialog), 1, DeviceTimeoutMs);
    }
    QVERIFY(dongle.misuses().empty());
}

void TestMainDialogDevice::dongleArrivesLater()
{
    KavriApp app(m_settings.store());
    MainDialog &dialog = app.dialog();
    QSignalSpy statuses(&app.device(), &HidController::updateHidStatus);
    QTRY_VERIFY_WITH_TIMEOUT(statuses.count() >= 1, DeviceTimeoutMs);
    QCoreApplication::processEvents();
    QCOMPARE(pageIndex(dialog), 1);

    fakehid::FakeDongle dongle;
    QTRY_COMPARE_WITH_TIMEOUT(pageIndex(dialog), 0, DeviceTimeoutMs);
}

void TestMainDialogDevice::exitStopsPollingBeforeTheProcessEnds()
{
    fakehid::FakeDongle dongle;
    auto app = std::make_unique<KavriApp>(m_settings.store());
    QTRY_COMPARE_WITH_TIMEOUT(pageIndex(app->dialog()), 0, DeviceTimeoutMs);
    QTRY_VERIFY_WITH_TIMEOUT(dongle.calls(fakehid::Call::GetFeatureReport) > 0, DeviceTimeoutMs);

    QObject safetyNet; // ends the loop anyway if "EXIT" did not, and the status tells
    QTimer::singleShot(5000, &safetyNet, [] { QCoreApplication::exit(99); });
    QTimer::singleShot(0, app.get(),
                       [&app] { app->tray().icon()->contextMenu()->actions().last()->trigger(); });
    QCOMPARE(QCoreApplication::exec(), 0);
    // The teardown main() runs after the loop: the thread is joined, the dongle closed.
    app.reset();
    const int pollsAtExit = dongle.calls(fakehid::Call::GetFeatureReport);
    QVERIFY(pollsAtExit > 0);
    QCOMPARE(dongle.handlesClosed(), dongle.handlesOpened());
    // Nothing polls the dongle any more.
    QTest::qWait(200);
    QCOMPARE(dongle.calls(fakehid::Call::GetFeatureReport), pollsAtExit);
    QVERIFY(dongle.misuses().empty());
}

QTEST_MAIN(TestMainDialogDevice)
#include "tst_maindialogdevice.moc"
