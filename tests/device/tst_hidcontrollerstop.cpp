#include "controllerrig.h"

#include "device/hidcontroller.h"
#include "fakedongle.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QtTest>

#include <thread>

using namespace std::chrono_literals;
using fakehid::Call;
using fakehid::FakeDongle;

namespace {

// A controller whose pauses after the first `realPauses` never run out by themselves: when
// its wait() returns, a stop cut the pause short.
std::unique_ptr<HidController> controllerWithEndlessPauses(int realPauses)
{
    return std::make_unique<HidController>(std::make_unique<HidPacer>(1, nullptr, realPauses),
                                           nullptr);
}

qint64 msBetween(std::chrono::steady_clock::time_point from,
                 std::chrono::steady_clock::time_point to)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(to - from).count();
}

std::vector<fakehid::LogEntry> entriesOf(const std::vector<fakehid::LogEntry> &log, Call call)
{
    std::vector<fakehid::LogEntry> out;
    for (const auto &e : log) {
        if (e.call == call)
            out.push_back(e);
    }
    return out;
}

} // namespace

// The device thread stopped at awkward moments (its pauses made endless, so only a stop ends
// them), and the real periods it keeps (checked only from below, which no busy machine can
// break).
class TestHidControllerStop : public QObject
{
    Q_OBJECT

private:
private slots:

    // The loop raises its run flag when it begins; a stop that came earlier must still hold.
    void stopRightAfterStart()
    {
        FakeDongle dongle;
        const auto controller = controllerWithEndlessPauses(0);
        for (int round = 0; round < 20; ++round) {
            controller->start();
            if (round % 4 == 1)
                QThread::yieldCurrentThread();
            else if (round % 4 == 2)
                QThread::usleep(200);
            controller->stop();
            QVERIFY2(controller->wait(10000), qPrintable(QStringLiteral("round %1").arg(round)));
        }
        // Each stop cut the first pause short: no open attempt was ever made.
        QCOMPARE(dongle.calls(Call::Enumerate), 0);
    }

    void stopWhileSleepingBeforeReconnect()
    {
        FakeDongle dongle(fakehid::linuxDongle(), false);
        StatusLog statuses;
        const auto controller = controllerWithEndlessPauses(2);
        QObject::connect(controller.get(), &HidController::updateHidStatus, &statuses,
                         &StatusLog::onStatus);
        controller->start();
        QTRY_COMPARE_WITH_TIMEOUT(statuses.count(HidDisconnected), 1, 5000);
        QTest::qWait(50); // in the pause before the next attempt, which never runs out

        controller->stop();
        QVERIFY(controller->wait(10000));
        QCOMPARE(dongle.calls(Call::Enumerate), 1);
        QTest::qWait(20);
        QCOMPARE(statuses.text(), QStringLiteral("D"));
    }

    // A sleep time asked for while the thread sits in the pause before a reconnect: the call
    // does not wait for that pause (which here never runs out), and the stop cuts it short.
    // The request, never served, is answered as not written.
    void writeAndStopDuringReconnectPause()
    {
        FakeDongle dongle;
        dongle.queueReads({fakehid::ReadAnswer::noEvent(), fakehid::ReadAnswer::failure()});
        const auto controller = controllerWithEndlessPauses(3); // S s s real, then S endless
        AnswerLog answers(controller.get());
        controller->start();
        QVERIFY(dongle.waitForCalls(Call::GetFeatureReport, 2, 5s));
        QTest::qWait(50); // in the endless pause before the reopen

        controller->writeSleepTime(5);
        QVERIFY(controller->isRunning());
        controller->stop();
        QVERIFY(controller->wait(10000));
        QTRY_COMPARE(answers.count(), 1);
        QCOMPARE(answers.at(0), (QVariantList{5, false}));
        QVERIFY(dongle.featureWrites().empty());
        QCOMPARE(dongle.calls(Call::Enumerate), 1); // no reopen after the stop
        QVERIFY2(dongle.misuses().empty(), misuseText(dongle).c_str());
    }

    void stopWhileReadIsSlow()
    {
        FakeDongle dongle;
        GateRelease gates(dongle);
        const auto controllerOwner = controllerWithEndlessPauses(3);
        HidController &controller = *controllerOwner;
        controller.start();
        QVERIFY(dongle.waitForCalls(Call::GetFeatureReport, 1, 5s));
        dongle.hold(Call::GetFeatureReport);
        QVERIFY(dongle.waitUntilHeld(Call::GetFeatureReport, 5s));

        QElapsedTimer timer;
        timer.start();
        controller.stop();
        std::thread releaser([&dongle] {
            std::this_thread::sleep_for(300ms);
            dongle.release(Call::GetFeatureReport);
        });
        const bool stopped = controller.wait(10000);
        const qint64 elapsed = timer.elapsed();
        releaser.join();
        QVERIFY(stopped);
        QVERIFY2(elapsed >= 250, qPrintable(QString::number(elapsed))); // waited for the read
        // The slow read was the last call.
        const auto log = dongle.log();
        QCOMPARE(log.back().call, Call::GetFeatureReport);
        QVERIFY2(dongle.misuses().empty(), misuseText(dongle).c_str());
    }

    // Missing at start, plugged in after the first attempt: each attempt comes at least
    // 1000 ms after the previous turn, and polls at least 50 ms apart.
    void realPeriods()
    {
        FakeDongle dongle(fakehid::linuxDongle(), false);
        StatusLog statuses;
        HidController controller;
        QObject::connect(&controller, &HidController::updateHidStatus, &statuses,
                         &StatusLog::onStatus);
        const auto started = std::chrono::steady_clock::now();
        controller.start();
        QTRY_COMPARE_WITH_TIMEOUT(statuses.count(HidDisconnected), 1, 5000);
        dongle.plug();
        QVERIFY(dongle.waitForCalls(Call::GetFeatureReport, 4, 5s));
        QVERIFY(controller.isRunning());
        controller.stop();
        QVERIFY(controller.wait(10000));

        const auto log = dongle.log();
        const auto attempts = entriesOf(log, Call::Enumerate);
        const auto reads = entriesOf(log, Call::GetFeatureReport);
        QVERIFY(attempts.size() >= 2);
        QVERIFY(msBetween(started, attempts.front().time) >= 1000);
        for (std::size_t i = 1; i < attempts.size(); ++i)
            QVERIFY(msBetween(attempts[i - 1].time, attempts[i].time) >= 1050);
        QVERIFY(msBetween(attempts.back().time, reads.front().time) >= 50);
        for (std::size_t i = 1; i < reads.size(); ++i)
            QVERIFY2(msBetween(reads[i - 1].time, reads[i].time) >= 50,
                     qPrintable(QString::number(msBetween(reads[i - 1].time, reads[i].time))));
        QTRY_COMPARE(statuses.text(), expectedStatuses(log));
    }
};

QTEST_GUILESS_MAIN(TestHidControllerStop)
#include "tst_hidcontrollerstop.moc"
