#include "settings/settingsstore.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QScopeGuard>
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

#include <functional>

#include <sys/stat.h>
#include <unistd.h>

// The store on a file in a fresh temporary directory per test; the path is the store's only
// link to the file.
class TestSettingsStore : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QString m_path;

    QByteArray fileBytes(const QString &path) const
    {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }
    QString fileText() const { return QString::fromUtf8(fileBytes(m_path)); }
    void writeFile(const QByteArray &text)
    {
        QFile file(m_path);
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(text);
    }

private slots:
    void init()
    {
        QVERIFY(m_dir.isValid());
        m_path = m_dir.filePath(QStringLiteral("Kavri-%1.ini").arg(nextFileNumber()));
    }

    void defaultsWithoutFile()
    {
        using namespace SettingsKeys;
        const SettingsStore store(m_path);
        QCOMPARE(store.value(CurMode), 0);
        QCOMPARE(store.value(ForeColor), 0xFFFF0000u);
        QCOMPARE(store.value(BackColor), 0xFF000000u);
        QCOMPARE(store.value(ForeOpacity), 200);
        QCOMPARE(store.value(BackOpacity), 200);
        QCOMPARE(store.value(SpotSize), 50);
        QCOMPARE(store.value(LaserSize), 10);
        QCOMPARE(store.value(MagnifierSize), 50);
        QCOMPARE(store.value(SleepTime), 5);
        QCOMPARE(store.value(ScaleRate), 2.0);
        QCOMPARE(store.value(Language), 0);
        // Reading creates nothing and writes no default back.
        QVERIFY(!QFile::exists(m_path));
    }

    void writtenText()
    {
        using namespace SettingsKeys;
        SettingsStore store(m_path);
        store.setValue(ForeColor, 0xFFFF0000u);
        store.setValue(BackColor, 0xFF000000u);
        store.setValue(ScaleRate, 3.0);
        store.setValue(Speed, 2.5);
        store.setValue(CurMode, 2);
        store.setValue(Language, 0);
        const QString text = fileText();
        QVERIFY2(text.startsWith("[General]"), qPrintable(text));
        QVERIFY2(text.contains("m_foreColor=4294901760\n"), qPrintable(text));
        QVERIFY2(text.contains("m_backColor=4278190080\n"), qPrintable(text));
        QVERIFY2(text.contains("m_scaleRate=3\n"), qPrintable(text));
        QVERIFY2(text.contains("m_speed=2.5\n"), qPrintable(text));
        QVERIFY2(text.contains("m_curMode=2\n"), qPrintable(text));
        QVERIFY2(text.contains("language=0\n"), qPrintable(text));
        // Each write is on disk before the call returns, and rewriting replaces the value.
        store.setValue(CurMode, 3);
        QVERIFY(fileText().contains("m_curMode=3\n"));
        QVERIFY(!fileText().contains("m_curMode=2"));
        // A new store reads back what the last one wrote.
        const SettingsStore again(m_path);
        QCOMPARE(again.value(CurMode), 3);
        QCOMPARE(again.value(ScaleRate), 3.0);
        QCOMPARE(again.value(ForeColor), 0xFFFF0000u);
    }

    // The same changes give the same bytes as writing every change with a settings object of
    // its own, the way the file has always been written; values that do not change are not
    // written again.
    void sameBytesAsWritingEveryChange()
    {
        using namespace SettingsKeys;
        const QString reference = m_dir.filePath(QStringLiteral("reference.ini"));
        writeFile("[General]\nm_spotSize=80\nlanguage=3\n");
        QVERIFY(QFile::copy(m_path, reference));

        SettingsStore store(m_path);
        const auto both = [&](const char *key, const QVariant &value,
                              const std::function<void()> &viaStore) {
            viaStore();
            QSettings(reference, QSettings::IniFormat).setValue(QLatin1String(key), value);
        };
        both("language", 3, [&] { store.setValue(Language, 3); });
        both("m_foreColor", 4294901760u, [&] { store.setValue(ForeColor, 0xFFFF0000u); });
        both("m_spotSize", 80, [&] { store.setValue(SpotSize, 80); });
        both("m_curMode", 1, [&] { store.setValue(CurMode, 1); });
        both("m_spotSize", 90, [&] { store.setValue(SpotSize, 90); });
        both("m_scaleRate", 2.5, [&] { store.setValue(ScaleRate, 2.5); });
        for (int i = 0; i < 20; ++i) // a held key repeats the same size
            both("m_spotSize", 90, [&] { store.setValue(SpotSize, 90); });
        both("m_foreColor", 4294901760u, [&] { store.setValue(ForeColor, 0xFFFF0000u); });
        both("m_backOpacity", 17, [&] { store.setValue(BackOpacity, 17); });
        QCOMPARE(fileBytes(m_path), fileBytes(reference));
        // Written: foreColor, curMode, spotSize 90, scaleRate, backOpacity.
        QCOMPARE(store.writeCount(), 5);
    }

    void storedTextReadsAs_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<int>("curMode");
        QTest::addColumn<uint>("foreColor");
        QTest::addColumn<uint>("backColor");
        QTest::addColumn<int>("spotSize");
        QTest::addColumn<int>("language");

        QTest::newRow("colour with alpha byte restores opaque")
            << QByteArray("[General]\nm_foreColor=4294901760\n") << 0 << 0xFFFF0000u << 0xFF000000u
            << 50 << 0;
        QTest::newRow("colour without alpha byte restores opaque too")
            << QByteArray("[General]\nm_foreColor=16711680\nm_backColor=255\n") << 0 << 0xFFFF0000u
            << 0xFF0000FFu << 50 << 0;
        QTest::newRow("unconvertible text reads as 0")
            << QByteArray("[General]\nm_curMode=abc\nm_foreColor=red\nm_spotSize=big\n"
                          "language=x\n")
            << 0 << 0xFF000000u << 0xFF000000u << 0 << 0;
        QTest::newRow("out-of-range values are read as stored")
            << QByteArray("[General]\nm_curMode=4\nm_spotSize=9999\nlanguage=42\n") << 4
            << 0xFFFF0000u << 0xFF000000u << 9999 << 42;
        QTest::newRow("negative values are read as stored")
            << QByteArray("[General]\nm_curMode=-1\nm_spotSize=-5\nlanguage=-3\n") << -1
            << 0xFFFF0000u << 0xFF000000u << -5 << -3;
        QTest::newRow("empty language value reads as 0")
            << QByteArray("[General]\nlanguage=\n") << 0 << 0xFFFF0000u << 0xFF000000u << 50 << 0;
    }
    void storedTextReadsAs()
    {
        QFETCH(QByteArray, file);
        writeFile(file);
        using namespace SettingsKeys;
        const SettingsStore store(m_path);
        QTEST(store.value(CurMode), "curMode");
        QTEST(uint(store.value(ForeColor)), "foreColor");
        QTEST(uint(store.value(BackColor)), "backColor");
        QTEST(store.value(SpotSize), "spotSize");
        QTEST(store.value(Language), "language");
    }

    // What the store does with what it finds at its path: only a regular file of the user's
    // own is read and written (through an own link too, which stays a link); anything else
    // gives the defaults and is left alone, with one warning. Nothing here may block.
    void onlyOwnRegularFilesAreTouched_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<int>("spotSize"); // read at start
        QTest::addColumn<bool>("written"); // a change reached a file at the path
        QTest::addRow("regular file") << "file" << 70 << true;
        QTest::addRow("own link to own file") << "link" << 70 << true;
        QTest::addRow("FIFO") << "fifo" << 50 << false;
        QTest::addRow("directory") << "dir" << 50 << false;
        QTest::addRow("link to a missing path") << "dangling" << 50 << false;
        QTest::addRow("over 1 MiB") << "huge" << 50 << true;
    }
    void onlyOwnRegularFilesAreTouched()
    {
        QFETCH(QString, kind);
        const QString target = m_dir.filePath(QStringLiteral("target-%1.ini").arg(kind));
        const QByteArray stored("[General]\nm_spotSize=70\n");
        const QByteArray pathName = QFile::encodeName(m_path);
        if (kind == "file") {
            writeFile(stored);
        } else if (kind == "link") {
            QFile out(target);
            QVERIFY(out.open(QIODevice::WriteOnly) && out.write(stored) == stored.size());
            out.close();
            QVERIFY(QFile::link(target, m_path));
        } else if (kind == "fifo") {
            QCOMPARE(::mkfifo(pathName.constData(), 0600), 0);
        } else if (kind == "dir") {
            QVERIFY(QDir().mkpath(m_path));
        } else if (kind == "dangling") {
            QVERIFY(QFile::link(target, m_path));
        } else if (kind == "huge") {
            writeFile(stored + QByteArray(1024 * 1024, '#'));
        }
        if (kind == "fifo" || kind == "dir" || kind == "dangling" || kind == "huge")
            QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("^Kavri: ")));

        SettingsStore store(m_path);
        QTEST(store.value(SettingsKeys::SpotSize), "spotSize");
        store.setValue(SettingsKeys::SpotSize, 90);
        store.setValue(SettingsKeys::LaserSize, 20);       // no second warning
        QCOMPARE(store.value(SettingsKeys::SpotSize), 90); // kept for this run anyway
        QFETCH(bool, written);
        if (written) {
            QVERIFY(fileText().contains(QStringLiteral("m_spotSize=90")));
        } else { // left as it was (and never opened: a FIFO would block here)
            struct stat st = {};
            QCOMPARE(::lstat(pathName.constData(), &st), 0);
            QVERIFY(kind != "fifo" || S_ISFIFO(st.st_mode));
            QVERIFY(kind != "dir" || S_ISDIR(st.st_mode));
            QVERIFY(kind != "dangling" || S_ISLNK(st.st_mode));
        }
        if (kind == "link") {
            QVERIFY(QFileInfo(m_path).isSymLink());
            QFile in(target);
            QVERIFY(in.open(QIODevice::ReadOnly) && in.readAll().contains("m_spotSize=90"));
        }
        if (kind == "dangling")
            QVERIFY(!QFile::exists(target));
        if (kind == "huge") // renamed aside, nothing lost
            QCOMPARE(
                QDir(m_dir.path()).entryList({QFileInfo(m_path).fileName() + ".corrupt-*"}).size(),
                1);
    }

    // Inside a Coalescing scope the first change is written at once, the next ones within
    // CoalesceMs wait and then share one write; a change outside the scope, flush() and the
    // store's end write what waits. The text is the one the same changes give one by one.
    void coalescedWrites()
    {
        using namespace SettingsKeys;
        const QString reference = m_dir.filePath(QStringLiteral("coalesced-reference.ini"));
        qint64 now = 1000;
        {
            SettingsStore store(m_path);
            store.setClock([&now] { return now; });
            SettingsStore one(reference);
            const auto drag = [&](int opacity) {
                const SettingsStore::Coalescing coalescing(store);
                store.setValue(ForeOpacity, opacity);
                one.setValue(ForeOpacity, opacity);
            };
            drag(10);
            QCOMPARE(store.writeCount(), 1);
            for (int opacity = 11; opacity <= 40; ++opacity) {
                now += 5;
                drag(opacity);
            }
            QCOMPARE(store.writeCount(), 1);
            QCOMPARE(store.value(ForeOpacity), 40); // read back at once all the same
            QVERIFY(store.hasPendingWrites());
            QTRY_COMPARE(store.writeCount(), 2); // when the timer fires
            QVERIFY(fileText().contains(QStringLiteral("m_foreOpacity=40\n")));

            now += 10;
            drag(41);
            drag(42);
            QCOMPARE(store.writeCount(), 2);
            QVERIFY(store.flush()); // a drag let go
            QCOMPARE(store.writeCount(), 3);
            now += 10;
            drag(43);
            store.setValue(Language, 2); // a change of its own takes what waits along
            one.setValue(Language, 2);
            QCOMPARE(store.writeCount(), 4);
            QCOMPARE(fileBytes(m_path), fileBytes(reference));
            now += 10;
            drag(44);
            drag(45);
            QCOMPARE(store.writeCount(), 4);
        } // nothing lost at the end
        QCOMPARE(SettingsStore(m_path).value(ForeOpacity), 45);
        QCOMPARE(fileBytes(m_path), fileBytes(reference));
    }

    // A full disk: the write fails, is told once on standard error and to the handler, is not
    // counted, the value is kept, and the next change tries again, or the store by itself once
    // space is back, before its end. Needs root for the mount.
    void fullDiskIsToldAndRetried_data()
    {
        QTest::addColumn<bool>("byItself");
        QTest::newRow("retried with the next change") << false;
        QTest::newRow("retried by itself") << true;
    }
    void fullDiskIsToldAndRetried()
    {
        QFETCH(bool, byItself);
        if (::geteuid() != 0)
            QSKIP("mounting a small tmpfs needs root");
        QTemporaryDir mountPoint;
        QVERIFY(mountPoint.isValid());
        const QByteArray point = QFile::encodeName(mountPoint.path());
        if (QProcess::execute(QStringLiteral("mount"),
                              {"-t", "tmpfs", "-o", "size=64k", "tmpfs", mountPoint.path()}) != 0)
            QSKIP("cannot mount a tmpfs here");
        const auto unmount =
            qScopeGuard([&] { QProcess::execute(QStringLiteral("umount"), {mountPoint.path()}); });
        const QString path = mountPoint.filePath(QStringLiteral("Kavri.ini"));
        {
            SettingsStore store(path);
            store.setValue(SettingsKeys::Language, 1);
            QCOMPARE(store.writeCount(), 1);
            // Fill the disk.
            QFile filler(mountPoint.filePath(QStringLiteral("filler")));
            QVERIFY(filler.open(QIODevice::WriteOnly));
            const QByteArray block(1024, 'x');
            while (filler.write(block) == block.size() && filler.flush()) {
            }
            filler.close();

            QStringList told;
            store.setFailureHandler([&](const QString &message) { told << message; });
            int recovered = 0;
            store.setRecoveryHandler([&] { ++recovered; });
            QTest::ignoreMessage(QtWarningMsg,
                                 QRegularExpression(QStringLiteral("^Kavri: cannot write the "
                                                                   "settings file ") +
                                                    QRegularExpression::escape(path)));
            store.setValue(SettingsKeys::Language, 2);
            store.setValue(SettingsKeys::SpotSize, 70); // no second line
            QCOMPARE(told.size(), 1);
            QVERIFY(told.first().contains(path));
            QCOMPARE(recovered, 0);
            QCOMPARE(store.writeCount(), 1);
            QVERIFY(store.hasPendingWrites());
            QCOMPARE(store.value(SettingsKeys::Language), 2);
            QFile onDisk(path); // as text: QSettings in this process caches what failed
            QVERIFY(onDisk.open(QIODevice::ReadOnly));
            QVERIFY(onDisk.readAll().contains("language=1\n"));

            QVERIFY(filler.remove());
            QTest::ignoreMessage(QtInfoMsg, QRegularExpression("written again"));
            if (!byItself)
                store.setValue(SettingsKeys::LaserSize, 30);
            QTRY_COMPARE_WITH_TIMEOUT(store.writeCount(), 2, 3 * SettingsStore::RetryFirstMs);
            QVERIFY(!store.hasPendingWrites());
            QCOMPARE(told.size(), 1);
            QCOMPARE(recovered, 1); // the window's notice goes
            QVERIFY(fileBytes(path).contains("language=2\n")); // before the store's end
            store.setValue(SettingsKeys::SleepTime, 9);
            QCOMPARE(recovered, 1);
        }
        QFile written(path);
        QVERIFY(written.open(QIODevice::ReadOnly));
        const QByteArray text = written.readAll();
        QVERIFY2(text.contains("language=2\n"), text.constData());
        const SettingsStore again(path);
        QCOMPARE(again.value(SettingsKeys::Language), 2);
        QCOMPARE(again.value(SettingsKeys::SpotSize), 70);
        QCOMPARE(again.value(SettingsKeys::LaserSize), byItself ? 10 : 30);
    }

    // Two stores on two paths never see each other's values.
    void pathDecidesTheFile()
    {
        const QString other = m_dir.filePath(QStringLiteral("other.ini"));
        SettingsStore first(m_path);
        first.setValue(SettingsKeys::SpotSize, 77);
        SettingsStore second(other);
        QCOMPARE(second.value(SettingsKeys::SpotSize), 50);
        second.setValue(SettingsKeys::SpotSize, 88);
        QCOMPARE(SettingsStore(m_path).value(SettingsKeys::SpotSize), 77);
        QCOMPARE(SettingsStore(other).value(SettingsKeys::SpotSize), 88);
    }

private:
    int nextFileNumber() { return ++m_counter; }
    int m_counter = 0;
};

QTEST_GUILESS_MAIN(TestSettingsStore)
#include "tst_settingsstore.moc"
