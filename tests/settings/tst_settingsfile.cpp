#include "settings/settingsfile.h"
#include "settings/settingskeys.h"

#include "common/initext.h"
#include "common/workdir.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

using KavriTest::iniText;
using KavriTest::writeIni;

// Each test runs in a fresh working directory, so "./Kavri.ini" is a new file there.
class TestSettingsFile : public QObject
{
    Q_OBJECT

private:
    KavriTest::WorkDir m_workDir;

private slots:
    void init() { QVERIFY(m_workDir.enter()); }
    void cleanup() { m_workDir.leave(); }

    void defaultsWithoutFile()
    {
        const StoredSettings s = SettingsFile::load();
        QCOMPARE(s.curMode, 0);
        QCOMPARE(s.foreColor, QColor(255, 0, 0));
        QCOMPARE(s.foreColor.alpha(), 255);
        QCOMPARE(s.backColor, QColor(0, 0, 0));
        QCOMPARE(s.foreOpacity, 200);
        QCOMPARE(s.backOpacity, 200);
        QCOMPARE(s.spotSize, 50);
        QCOMPARE(s.laserSize, 10);
        QCOMPARE(s.magnifierSize, 50);
        QCOMPARE(s.sleepTime, 5);
        QCOMPARE(SettingsFile::readLanguage(), 0);
        // Reading creates nothing and writes no default back.
        QVERIFY(!QFile::exists("Kavri.ini"));
    }

    void writtenText()
    {
        SettingsFile::writeColor(SettingsKeys::ForeColor, QColor(255, 0, 0, 128));
        SettingsFile::writeColor(SettingsKeys::BackColor, QColor(0, 0, 0));
        SettingsFile::writeDouble(SettingsKeys::ScaleRate, 3.0);
        SettingsFile::writeDouble(SettingsKeys::Speed, 2.5);
        SettingsFile::writeInt(SettingsKeys::CurMode, 2);
        SettingsFile::writeInt(SettingsKeys::Language, 0);
        const QString text = iniText();
        QVERIFY2(text.startsWith("[General]"), qPrintable(text));
        // The alpha of a colour never reaches the file: rgb() is always opaque.
        QVERIFY2(text.contains("m_foreColor=4294901760\n"), qPrintable(text));
        QVERIFY2(text.contains("m_backColor=4278190080\n"), qPrintable(text));
        QVERIFY2(text.contains("m_scaleRate=3\n"), qPrintable(text));
        QVERIFY2(text.contains("m_speed=2.5\n"), qPrintable(text));
        QVERIFY2(text.contains("m_curMode=2\n"), qPrintable(text));
        QVERIFY2(text.contains("language=0\n"), qPrintable(text));
        // Each write is on disk before the call returns, and rewriting replaces the value.
        SettingsFile::writeInt(SettingsKeys::CurMode, 3);
        QVERIFY(iniText().contains("m_curMode=3\n"));
        QVERIFY(!iniText().contains("m_curMode=2"));
    }

    void roundTrip()
    {
        SettingsFile::writeInt(SettingsKeys::CurMode, 3);
        SettingsFile::writeColor(SettingsKeys::ForeColor, QColor(12, 34, 56));
        SettingsFile::writeColor(SettingsKeys::BackColor, QColor(255, 255, 255));
        SettingsFile::writeInt(SettingsKeys::ForeOpacity, 0);
        SettingsFile::writeInt(SettingsKeys::BackOpacity, 255);
        SettingsFile::writeInt(SettingsKeys::SpotSize, 200);
        SettingsFile::writeInt(SettingsKeys::LaserSize, 30);
        SettingsFile::writeInt(SettingsKeys::MagnifierSize, 120);
        SettingsFile::writeInt(SettingsKeys::SleepTime, 255);
        SettingsFile::writeInt(SettingsKeys::Language, 11);
        const StoredSettings s = SettingsFile::load();
        QCOMPARE(s.curMode, 3);
        QCOMPARE(s.foreColor, QColor(12, 34, 56));
        QCOMPARE(s.backColor, QColor(255, 255, 255));
        QCOMPARE(s.foreOpacity, 0);
        QCOMPARE(s.backOpacity, 255);
        QCOMPARE(s.spotSize, 200);
        QCOMPARE(s.laserSize, 30);
        QCOMPARE(s.magnifierSize, 120);
        QCOMPARE(s.sleepTime, 255);
        QCOMPARE(SettingsFile::readLanguage(), 11);
    }

    void storedTextReadsAs_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<int>("curMode");
        QTest::addColumn<QColor>("foreColor");
        QTest::addColumn<QColor>("backColor");
        QTest::addColumn<int>("spotSize");
        QTest::addColumn<int>("language");

        QTest::newRow("colour with alpha byte restores opaque")
            << QByteArray("[General]\nm_foreColor=4294901760\n") << 0 << QColor(255, 0, 0)
            << QColor(0, 0, 0) << 50 << 0;
        QTest::newRow("colour without alpha byte restores opaque too")
            << QByteArray("[General]\nm_foreColor=16711680\nm_backColor=255\n") << 0
            << QColor(255, 0, 0) << QColor(0, 0, 255) << 50 << 0;
        QTest::newRow("unconvertible text reads as 0")
            << QByteArray("[General]\nm_curMode=abc\nm_foreColor=red\nm_spotSize=big\n"
                          "language=x\n")
            << 0 << QColor(0, 0, 0) << QColor(0, 0, 0) << 0 << 0;
        QTest::newRow("out-of-range values are read as stored")
            << QByteArray("[General]\nm_curMode=4\nm_spotSize=9999\nlanguage=42\n") << 4
            << QColor(255, 0, 0) << QColor(0, 0, 0) << 9999 << 42;
        QTest::newRow("negative values are read as stored")
            << QByteArray("[General]\nm_curMode=-1\nm_spotSize=-5\nlanguage=-3\n") << -1
            << QColor(255, 0, 0) << QColor(0, 0, 0) << -5 << -3;
        QTest::newRow("empty language value reads as 0")
            << QByteArray("[General]\nlanguage=\n") << 0 << QColor(255, 0, 0)
            << QColor(0, 0, 0) << 50 << 0;
    }
    void storedTextReadsAs()
    {
        QFETCH(QByteArray, file);
        writeIni(file);
        const StoredSettings s = SettingsFile::load();
        QTEST(s.curMode, "curMode");
        QTEST(s.foreColor, "foreColor");
        QCOMPARE(s.foreColor.alpha(), 255);
        QTEST(s.backColor, "backColor");
        QTEST(s.spotSize, "spotSize");
        QTEST(SettingsFile::readLanguage(), "language");
    }

    void workingDirectoryDecidesTheFile()
    {
        SettingsFile::writeInt(SettingsKeys::SpotSize, 77);
        QTemporaryDir other;
        QVERIFY(QDir::setCurrent(other.path()));
        QCOMPARE(SettingsFile::load().spotSize, 50);
        SettingsFile::writeInt(SettingsKeys::SpotSize, 88);
        QVERIFY(QFile::exists(QDir(other.path()).filePath("Kavri.ini")));
        QVERIFY(QDir::setCurrent(m_workDir.path()));
        QCOMPARE(SettingsFile::load().spotSize, 77);
    }
};

QTEST_GUILESS_MAIN(TestSettingsFile)
#include "tst_settingsfile.moc"
