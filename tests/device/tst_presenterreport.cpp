#include "device/hidstatus.h"
#include "device/presenterreport.h"

#include <QtTest>

#include <array>

// The bytes of feature report 0x12 both ways, and the meaning of a poll answer.
class TestPresenterReport : public QObject
{
    Q_OBJECT

private slots:
    void sleepTimeReport_data()
    {
        QTest::addColumn<int>("value");
        QTest::addColumn<QByteArray>("head");
        QTest::newRow("default 5") << 5 << QByteArray::fromHex("120500");
        QTest::newRow("largest of the spin box") << 255 << QByteArray::fromHex("12ff00");
        QTest::newRow("zero") << 0 << QByteArray::fromHex("120000");
        QTest::newRow("16-bit little endian") << 0x1234 << QByteArray::fromHex("123412");
        QTest::newRow("bits above 16 dropped") << 0x12345 << QByteArray::fromHex("124523");
    }
    void sleepTimeReport()
    {
        QFETCH(int, value);
        QFETCH(QByteArray, head);
        const PresenterReport::Report report = PresenterReport::sleepTimeReport(value);
        QCOMPARE(int(report.size()), 64);
        const QByteArray bytes(reinterpret_cast<const char *>(report.data()), 64);
        QCOMPARE(bytes.left(3).toHex(), head.toHex());
        QCOMPARE(bytes.mid(3), QByteArray(61, '\0'));
    }

    void pollAnswer_data()
    {
        QTest::addColumn<int>("count");
        QTest::addColumn<QByteArray>("answer");
        QTest::addColumn<bool>("event");
        QTest::addColumn<int>("param");
        const QByteArray held = QByteArray::fromHex("fe10") + QByteArray(62, '\0');
        QTest::newRow("effect key held") << 64 << held << true << 0x10FE;
        QTest::newRow("no key bit") << 64 << QByteArray::fromHex("fe00") << true << 0x00FE;
        QTest::newRow("mode switch with effect key")
            << 64 << QByteArray::fromHex("fe11") << true << 0x11FE;
        QTest::newRow("all bits") << 64 << QByteArray::fromHex("feff") << true << 0xFFFE;
        QTest::newRow("two bytes are enough") << 2 << QByteArray::fromHex("fe08") << true << 0x08FE;
        QTest::newRow("identifier echoed") << 64 << QByteArray::fromHex("1210") << false << 0;
        QTest::newRow("other first byte") << 64 << QByteArray::fromHex("fd10") << false << 0;
        QTest::newRow("one byte, even with the marker")
            << 1 << QByteArray::fromHex("fe10") << false << 0;
        QTest::newRow("nothing read") << 0 << QByteArray::fromHex("fe10") << false << 0;
        QTest::newRow("error") << -1 << QByteArray::fromHex("fe10") << false << 0;
    }
    void pollAnswer()
    {
        QFETCH(int, count);
        QFETCH(QByteArray, answer);
        QFETCH(bool, event);
        QFETCH(int, param);
        std::array<unsigned char, 64> buffer{};
        std::copy(answer.begin(), answer.end(), buffer.begin());
        const auto decoded = PresenterReport::keyEventParam(count, buffer.data());
        QCOMPARE(decoded.has_value(), event);
        if (event) {
            QCOMPARE(*decoded, param);
            QCOMPARE(PresenterReport::keyByte(*decoded), int(buffer[1]));
        }
        QCOMPARE(PresenterReport::isFailedRead(count), count <= 1);
    }

    void vocabulary()
    {
        QCOMPARE(int(HidConnected), 0);
        QCOMPARE(int(HidDisconnected), 1);
        QCOMPARE(int(HidKeyEvent), 2);
        QCOMPARE(sizeof(HidStatus), sizeof(int));
        QCOMPARE(KeyModeSwitch | KeySizeUp | KeySizeDown | KeyBlackScreen | KeyEffectHeld, 0x1F);
        QCOMPARE(PresenterReport::keyByte(0x10FE) & KeyEffectHeld, int(KeyEffectHeld));
        QCOMPARE(PresenterReport::keyByte(0x0AFE), KeySizeUp | KeyBlackScreen);
    }
};

QTEST_APPLESS_MAIN(TestPresenterReport)
#include "tst_presenterreport.moc"
