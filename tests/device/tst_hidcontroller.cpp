#include "controllerrig.h"

#include "device/hidcontroller.h"
#include "fakedongle.h"

#include <QLoggingCategory>
#include <QSignalSpy>
#include <QtTest>


using namespace std::chrono_literals;
using fakehid::Call;
using fakehid::FakeDongle;
using fakehid::ReadAnswer;

Q_DECLARE_METATYPE(std::vector<fakehid::Interface>)
Q_DECLARE_METATYPE(std::vector<fakehid::ReadAnswer>)

namespace {

fakehid::Interface interfaceAt(const std::string &path, bool answers)
{
    fakehid::Interface i;
    i.path = path;
    i.answersPoll = answers;
    return i;
}

std::vector<fakehid::Interface> otherDevices()
{
    fakehid::Interface mouse = interfaceAt("/dev/hidraw0", false);
    mouse.vendorId = 0x046D;
    mouse.productId = 0xC077;
    // Another vendor's device whose path carries the collection suffix: never a candidate.
    fakehid::Interface keyboard = interfaceAt("\\\\?\\hid#vid_1234&pid_5678&col04#1", true);
    keyboard.vendorId = 0x1234;
    keyboard.productId = 0x5678;
    return {mouse, keyboard};
}

// Stops the controller and waits for it, as its owner does.
bool stopAndWait(HidController &controller)
{
    controller.stop();
    return controller.wait(10000);
}

// The id a type was registered under by name, or UnknownType before any registration.
int typeIdByName(const char *name)
{
#if QT_VERSION >= QT_VERSION_CHECK(6, 0, 0)
    return QMetaType::fromName(name).id();
#else
    return QMetaType::type(name);
#endif
}

// The device layer's debug line for one sleep-time write.
QString writeLine(int value, const QString &result)
{
    return QStringLiteral("sleep time %1 written, result %2").arg(value).arg(result);
}

QByteArray bytesOf(const std::vector<unsigned char> &bytes)
{
    return QByteArray(reinterpret_cast<const char *>(bytes.data()), int(bytes.size()));
}

} // namespace

// The device thread against the fake dongle, with its pauses shortened 40-fold: what it
// opens, the statuses it reports for each turn, reconnects, the sleep-time write, and the
// handles and library state it leaves behind.
class TestHidController : public QObject
{
    Q_OBJECT

private:
private slots:
    void initTestCase()
    {
        // The write's result is a debug line of the device layer, off by default.
        QLoggingCategory::setFilterRules(QStringLiteral("kavri.device.debug=true"));
        // The controller registers the status type itself, before any queued emission.
        QCOMPARE(typeIdByName("HidStatus"), int(QMetaType::UnknownType));
        FakeDongle dongle;
        HidController controller;
        const int id = typeIdByName("HidStatus");
        QVERIFY(id != QMetaType::UnknownType);
        QCOMPARE(id, qMetaTypeId<HidStatus>());
        QVERIFY(QMetaType(id).flags() & QMetaType::IsEnumeration);
        QCOMPARE(int(QMetaType(id).sizeOf()), int(sizeof(int)));
    }

    void constructionAndEarlyWriteTouchNothing()
    {
        FakeDongle dongle;
        StatusLog statuses;
        DebugCatcher debug;
        auto controller = makeController(dongle, statuses);
        AnswerLog answers(controller.get());
        controller->writeSleepTime(5);
        QVERIFY(!controller->isRunning());
        // Answered from the event loop, not inside the call.
        QCOMPARE(answers.count(), 0);
        QTRY_COMPARE(answers.count(), 1);
        QCOMPARE(answers.at(0), (QVariantList{5, false}));
        controller.reset();
        QCoreApplication::processEvents();
        QVERIFY(debug.debugMessages().isEmpty());
        QCOMPARE(statuses.size(), 0);
        QVERIFY2(dongle.log().empty(), readableLog(dongle.log()).c_str());
    }

    void opensTheKeyCollection_data()
    {
        QTest::addColumn<std::vector<fakehid::Interface>>("interfaces");
        QTest::addColumn<QString>("opened");

        QTest::newRow("hidraw form: the interface listed four times")
            << fakehid::linuxDongle() << "/dev/hidraw3";
        const auto windows = fakehid::windowsDongle();
        QTest::newRow("windows form: the &col04 collection")
            << windows << QString::fromStdString(windows[3].path);

        auto twoTagged = fakehid::windowsDongle();
        for (auto &i : twoTagged)
            i.answersPoll = false;
        twoTagged.insert(twoTagged.begin() + 1, interfaceAt("\\\\?\\hid#mi_00&col04#a", false));
        twoTagged.push_back(interfaceAt("\\\\?\\hid#mi_02&col04#b", true));
        QTest::newRow("windows form: the later of two &col04")
            << twoTagged << "\\\\?\\hid#mi_02&col04#b";

        QTest::newRow("windows form without &col04: the first")
            << std::vector<fakehid::Interface>{interfaceAt("\\\\?\\hid#mi_01&col01#a", true),
                                               interfaceAt("\\\\?\\hid#mi_01&col02#a", false)}
            << "\\\\?\\hid#mi_01&col01#a";
        std::vector<fakehid::Interface> threeCollections{interfaceAt("/dev/hidraw7", true)};
        for (int c = 0; c < 3; ++c)
            threeCollections.push_back(interfaceAt("/dev/hidraw8", false));
        QTest::newRow("hidraw form without four collections: the first")
            << threeCollections << "/dev/hidraw7";
    }
    void opensTheKeyCollection()
    {
        QFETCH(std::vector<fakehid::Interface>, interfaces);
        QFETCH(QString, opened);

        FakeDongle dongle(interfaces);
        dongle.setOtherDevices(otherDevices());
        dongle.queueRead(ReadAnswer::keyEvent(0x10));
        StatusLog statuses;
        auto controller = makeController(dongle, statuses);
        GateRelease gates(dongle);

        controller->start();
        QVERIFY(dongle.waitForCalls(Call::GetFeatureReport, 6, 5s));
        QVERIFY(stopAndWait(*controller));

        const auto log = dongle.log();
        const std::string t = tokens(log);
        QVERIFY2(matches(t, R"(S O\+ s( R\+ s)+)"), (t + "\n" + readableLog(log)).c_str());
        QCOMPARE(dongle.openedPaths(), std::vector<std::string>{opened.toStdString()});
        for (const auto &e : log) {
            if (e.call == Call::GetFeatureReport) {
                QCOMPARE(e.reportId, 0x12);
                QCOMPARE(int(e.length), 64);
            }
        }
        QTRY_COMPARE(statuses.text(), QStringLiteral("C K10fe"));
        QVERIFY(!statuses.offThread());
        QCOMPARE(dongle.enumerationEntriesLive(), 0);
    }

    void statusesAcrossUnplugAndReplug()
    {
        FakeDongle dongle(fakehid::linuxDongle(), false);
        StatusLog statuses;
        auto controller = makeController(dongle, statuses);
        GateRelease gates(dongle);

        // Missing at start: reported after every attempt.
        controller->start();
        QTRY_VERIFY_WITH_TIMEOUT(statuses.count(HidDisconnected) >= 3, 5000);
        QCOMPARE(statuses.count(HidConnected), 0);

        // Plugged in later: found at the next attempt, then polled.
        dongle.plug();
        QTRY_COMPARE_WITH_TIMEOUT(statuses.count(HidConnected), 1, 5000);
        dongle.queueRead(ReadAnswer::keyEvent(0x01));
        QTRY_VERIFY_WITH_TIMEOUT(statuses.count(HidKeyEvent) == 1, 5000);

        // Pulled while polling: the failed read leads to a failed reopen.
        const int lostBefore = statuses.count(HidDisconnected);
        dongle.unplug();
        QTRY_VERIFY_WITH_TIMEOUT(statuses.count(HidDisconnected) >= lostBefore + 2, 5000);

        // Plugged in again: a new handle, polled again.
        dongle.plug();
        QTRY_COMPARE_WITH_TIMEOUT(statuses.count(HidConnected), 2, 5000);
        dongle.queueRead(ReadAnswer::keyEvent(0x10));
        QTRY_VERIFY_WITH_TIMEOUT(statuses.count(HidKeyEvent) == 2, 5000);
        QVERIFY(stopAndWait(*controller));

        const auto log = dongle.log();
        const std::string t = tokens(log);
        const std::string pattern = R"((S O- s )+S O\+ s( R\+ s)+ R- S X O- s( S O- s)+)"
                                    R"( S O\+ s( R\+ s)+)";
        QVERIFY2(matches(t, pattern), (t + "\n" + readableLog(log)).c_str());
        QTRY_COMPARE(statuses.text(), expectedStatuses(log));
        QVERIFY(statuses.text().contains(QStringLiteral("C K01fe D")));
        QVERIFY(!statuses.offThread());
        QCOMPARE(dongle.handlesOpened(), 2);
        QCOMPARE(dongle.handlesClosed(), 1); // the second is still held until destruction
        QVERIFY2(dongle.misuses().empty(), misuseText(dongle).c_str());
    }

    void pollAnswers_data()
    {
        QTest::addColumn<std::vector<ReadAnswer>>("answers");
        QTest::addColumn<QString>("statuses");
        QTest::addColumn<bool>("reconnect");

        QTest::newRow("effect key")
            << std::vector<ReadAnswer>{ReadAnswer::keyEvent(0x10)} << "C K10fe" << false;
        QTest::newRow("key byte zero")
            << std::vector<ReadAnswer>{ReadAnswer::keyEvent(0x00)} << "C K00fe" << false;
        QTest::newRow("two-byte answer")
            << std::vector<ReadAnswer>{ReadAnswer::keyEvent(0x11, 2)} << "C K11fe" << false;
        QTest::newRow("identifier echoed, no marker")
            << std::vector<ReadAnswer>{ReadAnswer::noEvent()} << "C" << false;
        QTest::newRow("marker in the wrong byte")
            << std::vector<ReadAnswer>{ReadAnswer{64, {0x12, 0xFE, 0x10}}} << "C" << false;
        QTest::newRow("one byte") << std::vector<ReadAnswer>{ReadAnswer::shortRead(1)} << "C C"
                                  << true;
        // The buffer still holds the previous answer's marker: not a second key event.
        QTest::newRow("one byte after a key event")
            << std::vector<ReadAnswer>{ReadAnswer::keyEvent(0x08), ReadAnswer::shortRead(1)}
            << "C K08fe C" << true;
        QTest::newRow("nothing read")
            << std::vector<ReadAnswer>{ReadAnswer::shortRead(0)} << "C C" << true;
        QTest::newRow("read error")
            << std::vector<ReadAnswer>{ReadAnswer::failure()} << "C C" << true;
    }
    void pollAnswers()
    {
        QFETCH(std::vector<ReadAnswer>, answers);
        QFETCH(QString, statuses);
        QFETCH(bool, reconnect);

        FakeDongle dongle;
        dongle.queueReads(answers);
        StatusLog received;
        auto controller = makeController(dongle, received);
        GateRelease gates(dongle);

        controller->start();
        QVERIFY(dongle.waitForCalls(Call::GetFeatureReport, int(answers.size()) + 3, 5s));
        QVERIFY(stopAndWait(*controller));

        const auto log = dongle.log();
        const std::string t = tokens(log);
        const std::string pattern =
            reconnect ? R"(S O\+ s( R\+ s)* R- S X O\+ s( R\+ s)+)" : R"(S O\+ s( R\+ s)+)";
        QVERIFY2(matches(t, pattern), (t + "\n" + readableLog(log)).c_str());
        QTRY_COMPARE(received.text(), statuses);
        QCOMPARE(dongle.handlesOpened(), reconnect ? 2 : 1);
        QVERIFY2(dongle.misuses().empty(), misuseText(dongle).c_str());
    }

    void sleepTimeWrite_data()
    {
        QTest::addColumn<int>("value");
        QTest::addColumn<int>("writeResult"); // 0: the dongle takes the whole report
        QTest::addColumn<bool>("accepted");
        QTest::addColumn<QString>("printed");
        QTest::addColumn<QByteArray>("head");

        QTest::newRow("5") << 5 << 0 << true << "64" << QByteArray::fromHex("120500");
        QTest::newRow("255") << 255 << 0 << true << "64" << QByteArray::fromHex("12ff00");
        QTest::newRow("0") << 0 << 0 << true << "64" << QByteArray::fromHex("120000");
        QTest::newRow("refused") << 5 << -1 << false << "-1" << QByteArray::fromHex("120500");
        QTest::newRow("short count") << 9 << 30 << false << "30" << QByteArray::fromHex("120900");
        QTest::newRow("count above 64") << 5 << 65 << true << "65" << QByteArray::fromHex("120500");
    }
    void sleepTimeWrite()
    {
        QFETCH(int, value);
        QFETCH(int, writeResult);
        QFETCH(bool, accepted);
        QFETCH(QString, printed);
        QFETCH(QByteArray, head);

        FakeDongle dongle;
        if (writeResult != 0)
            dongle.queueWriteResult(writeResult);
        StatusLog statuses;
        auto controller = makeController(dongle, statuses);
        GateRelease gates(dongle);
        controller->start();
        QVERIFY(dongle.waitForCalls(Call::GetFeatureReport, 2, 5s));

        DebugCatcher debug;
        AnswerLog answers(controller.get());
        controller->writeSleepTime(value);
        QTRY_COMPARE_WITH_TIMEOUT(answers.count(), 1, 5000);
        QCOMPARE(answers.at(0), (QVariantList{value, accepted}));
        QCOMPARE(debug.debugMessages(), QStringList{writeLine(value, printed)});
        QVERIFY(controller->isRunning());

        // Polling resumes with the same handle.
        const int reads = dongle.calls(Call::GetFeatureReport);
        QVERIFY(dongle.waitForCalls(Call::GetFeatureReport, reads + 3, 5s));
        QVERIFY(stopAndWait(*controller));

        const auto writes = dongle.featureWrites();
        QCOMPARE(int(writes.size()), 1);
        QCOMPARE(writes[0].handle, 1);
        const QByteArray bytes = bytesOf(writes[0].bytes);
        QCOMPARE(bytes.size(), 64);
        QCOMPARE(bytes.left(3).toHex(), head.toHex());
        QCOMPARE(bytes.mid(3), QByteArray(61, '\0'));

        const auto log = dongle.log();
        const std::string t = tokens(log);
        QVERIFY2(matches(t, R"(S O\+ s( R\+ s)+ W( R\+ s)+)"),
                 (t + "\n" + readableLog(log)).c_str());
        QCOMPARE(dongle.handlesOpened(), 1);
        QVERIFY2(dongle.misuses().empty(), misuseText(dongle).c_str());
        QTRY_COMPARE(statuses.text(), QStringLiteral("C"));
    }

    void sleepTimeWriteWhileSearching()
    {
        FakeDongle dongle(fakehid::linuxDongle(), false);
        StatusLog statuses;
        auto controller = makeController(dongle, statuses);
        GateRelease gates(dongle);
        controller->start();
        QTRY_VERIFY_WITH_TIMEOUT(statuses.count(HidDisconnected) >= 1, 5000);

        DebugCatcher debug;
        AnswerLog answers(controller.get());
        controller->writeSleepTime(5);
        QTRY_COMPARE(answers.count(), 1);
        QCOMPARE(answers.at(0), (QVariantList{5, false}));
        QVERIFY(debug.debugMessages().isEmpty());
        QVERIFY(controller->isRunning());
        const int attempts = dongle.calls(Call::Enumerate);
        QVERIFY(dongle.waitForCalls(Call::Enumerate, attempts + 2, 5s));
        QVERIFY(stopAndWait(*controller));
        QVERIFY(dongle.featureWrites().empty());
    }

    // The write waits for a turn whose read fails; that turn's reopen decides.
    void sleepTimeWriteDuringReconnectTurn_data()
    {
        QTest::addColumn<bool>("pulled");
        QTest::newRow("dongle pulled: reopen fails, nothing written") << true;
        QTest::newRow("read failed, dongle still there: written to the new handle") << false;
    }
    void sleepTimeWriteDuringReconnectTurn()
    {
        QFETCH(bool, pulled);

        FakeDongle dongle;
        StatusLog statuses;
        auto controller = makeController(dongle, statuses);
        GateRelease gates(dongle);
        controller->start();
        QVERIFY(dongle.waitForCalls(Call::GetFeatureReport, 2, 5s));

        dongle.hold(Call::GetFeatureReport);
        QVERIFY(dongle.waitUntilHeld(Call::GetFeatureReport, 5s));
        if (pulled)
            dongle.unplug();
        else
            dongle.queueRead(ReadAnswer::failure());

        // The request is made while the read is held: the call returns without waiting for
        // the turn, and the device thread serves it once the turn is over.
        DebugCatcher debug;
        AnswerLog answers(controller.get());
        controller->writeSleepTime(7);
        QCOMPARE(answers.count(), 0);
        QVERIFY(dongle.featureWrites().empty());
        dongle.release(Call::GetFeatureReport);
        QTRY_COMPARE_WITH_TIMEOUT(answers.count(), 1, 5000);

        QCOMPARE(answers.at(0), (QVariantList{7, !pulled}));
        QCOMPARE(debug.debugMessages(),
                 pulled ? QStringList() : QStringList{writeLine(7, QStringLiteral("64"))});
        QVERIFY(controller->isRunning());
        if (pulled) {
            QVERIFY(dongle.featureWrites().empty());
            const int attempts = dongle.calls(Call::Enumerate);
            QVERIFY(dongle.waitForCalls(Call::Enumerate, attempts + 2, 5s)); // searching
        } else {
            const auto writes = dongle.featureWrites();
            QCOMPARE(int(writes.size()), 1);
            QCOMPARE(writes[0].handle, 2);
            QCOMPARE(bytesOf(writes[0].bytes).left(3).toHex(), QByteArray("120700"));
            const int reads = dongle.calls(Call::GetFeatureReport);
            QVERIFY(dongle.waitForCalls(Call::GetFeatureReport, reads + 2, 5s)); // polling
        }
        QVERIFY(stopAndWait(*controller));

        const auto log = dongle.log();
        const std::string t = tokens(log);
        // The stop may come in the pause before the next open attempt (a last "S").
        const std::string pattern = pulled ? R"(S O\+ s( R\+ s)+ R- S X O- s( S O- s)+( S)?)"
                                           : R"(S O\+ s( R\+ s)+ R- S X O\+ s W( R\+ s)+)";
        QVERIFY2(matches(t, pattern), (t + "\n" + readableLog(log)).c_str());
        QTRY_COMPARE(statuses.text(), expectedStatuses(log));
        QVERIFY2(dongle.misuses().empty(), misuseText(dongle).c_str());
    }

    // Every handle is closed exactly once; hid_exit follows the last close, and only when
    // the controller still held a handle at its destruction.
    void handlesAndLibraryRelease_data()
    {
        QTest::addColumn<QString>("scenario");
        QTest::addColumn<int>("opened");
        QTest::addColumn<int>("exits");
        QTest::newRow("never started") << "never started" << 0 << 0;
        QTest::newRow("connected at the end") << "connected" << 1 << 1;
        QTest::newRow("searching from start to end") << "searching" << 0 << 0;
        QTest::newRow("three reconnects, connected at the end") << "reconnects" << 4 << 1;
        QTest::newRow("dongle lost at the end") << "lost" << 1 << 0;
        QTest::newRow("owner destroys it running") << "running" << 1 << 1;
    }
    void handlesAndLibraryRelease()
    {
        QFETCH(QString, scenario);
        QFETCH(int, opened);
        QFETCH(int, exits);

        FakeDongle dongle(fakehid::linuxDongle(), scenario != QLatin1String("searching"));
        if (scenario == QLatin1String("reconnects"))
            dongle.queueReads({ReadAnswer::failure(), ReadAnswer::noEvent(), ReadAnswer::failure(),
                               ReadAnswer::shortRead(1)});
        StatusLog statuses;
        auto controller = makeController(dongle, statuses);
        {
            GateRelease gates(dongle);
            if (scenario != QLatin1String("never started"))
                controller->start();
            if (scenario == QLatin1String("searching")) {
                QVERIFY(dongle.waitForCalls(Call::Enumerate, 3, 5s));
            } else if (scenario == QLatin1String("lost")) {
                QVERIFY(dongle.waitForCalls(Call::GetFeatureReport, 2, 5s));
                dongle.unplug();
                QVERIFY(dongle.waitForCalls(Call::Enumerate, 3, 5s));
            } else if (scenario != QLatin1String("never started")) {
                QVERIFY(dongle.waitForCalls(Call::OpenPath, opened, 5s));
                const int reads = dongle.calls(Call::GetFeatureReport);
                QVERIFY(dongle.waitForCalls(Call::GetFeatureReport, reads + 2, 5s));
            }
            if (scenario != QLatin1String("running"))
                QVERIFY(stopAndWait(*controller));
            controller.reset();
        }

        QCOMPARE(dongle.handlesOpened(), opened);
        QCOMPARE(dongle.handlesClosed(), opened);
        QCOMPARE(dongle.calls(Call::Exit), exits);
        QCOMPARE(dongle.enumerationEntriesLive(), 0);
        QVERIFY2(dongle.misuses().empty(), misuseText(dongle).c_str());

        const auto log = dongle.log();
        const std::string t = tokens(log);
        if (exits == 1)
            QVERIFY2(matches(t, R"(.* s X E)"), (t + "\n" + readableLog(log)).c_str());
        else
            QVERIFY2(!matches(t, R"(.*E.*)"), t.c_str());
        // A held handle is closed right before the next open attempt.
        if (scenario == QLatin1String("reconnects"))
            QVERIFY2(matches(t, R"(S O\+ s( R- S X O\+ s( R\+ s)*){3} R\+ s( R\+ s)* X E)"),
                     (t + "\n" + readableLog(log)).c_str());
    }
};

QTEST_GUILESS_MAIN(TestHidController)
#include "tst_hidcontroller.moc"
