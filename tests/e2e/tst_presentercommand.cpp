#include "presentercommand.h"

#include <QtTest>

// The control-file language of the virtual presenter, which developers type by hand.
class TestPresenterCommand : public QObject
{
    Q_OBJECT

private slots:
    void parse_data()
    {
        QTest::addColumn<QString>("line");
        QTest::addColumn<int>("kind");
        QTest::addColumn<int>("keys");
        QTest::addColumn<int>("value");

        using K = PresenterCommand::Kind;
        QTest::newRow("tap mode") << "tap mode" << int(K::Tap) << 0x01 << 0;
        QTest::newRow("tap two keys") << "tap up black" << int(K::Tap) << 0x0A << 0;
        QTest::newRow("size words") << "tap + -" << int(K::Tap) << 0x06 << 0;
        QTest::newRow("hold effect") << "  hold   effect " << int(K::Hold) << 0x10 << 0;
        QTest::newRow("release all") << "release" << int(K::Release) << 0xFF << 0;
        QTest::newRow("release one") << "release effect" << int(K::Release) << 0x10 << 0;
        QTest::newRow("raw byte") << "raw 0x1f" << int(K::Raw) << 0x1F << 0;
        QTest::newRow("plug") << "plug" << int(K::Plug) << 0 << 0;
        QTest::newRow("unplug") << "unplug" << int(K::Unplug) << 0 << 0;
        QTest::newRow("refuse") << "refuse" << int(K::Refuse) << 0 << 0;
        QTest::newRow("allow") << "allow" << int(K::Allow) << 0 << 0;
        QTest::newRow("write result") << "write-result -1" << int(K::WriteResult) << 0 << -1;
        QTest::newRow("unknown key") << "tap jump" << int(K::Invalid) << 0 << 0;
        QTest::newRow("byte too large") << "raw 0x100" << int(K::Invalid) << 0 << 0;
        QTest::newRow("tap without key") << "tap" << int(K::Invalid) << 0 << 0;
        QTest::newRow("plug with argument") << "plug now" << int(K::Invalid) << 0 << 0;
        QTest::newRow("write result not a number") << "write-result x" << int(K::Invalid) << 0 << 0;
        QTest::newRow("unknown command") << "press mode" << int(K::Invalid) << 0 << 0;
        QTest::newRow("empty") << "   " << int(K::Invalid) << 0 << 0;
    }
    void parse()
    {
        QFETCH(QString, line);
        QFETCH(int, kind);
        QFETCH(int, keys);
        QFETCH(int, value);
        const PresenterCommand c = PresenterCommand::parse(line.toStdString());
        QCOMPARE(int(c.kind), kind);
        if (c.kind == PresenterCommand::Kind::Invalid) {
            QVERIFY(!c.error.empty());
            return;
        }
        QVERIFY(c.error.empty());
        QCOMPARE(c.keys, keys);
        QCOMPARE(c.value, value);
    }
};

QTEST_GUILESS_MAIN(TestPresenterCommand)
#include "tst_presentercommand.moc"
