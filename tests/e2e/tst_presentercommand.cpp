#include "presentercommand.h"

#include "common/childprocess.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/stat.h>

namespace {

QByteArray fileText(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

int modeOf(const QString &path)
{
    struct stat st = {};
    return ::lstat(QFile::encodeName(path).constData(), &st) == 0 ? int(st.st_mode) : -1;
}

} // namespace

// The control-file language of the virtual presenter, which developers type by hand, and
// where the virtual presenter keeps its files.
class TestPresenterCommand : public QObject
{
    Q_OBJECT

private slots:
    // A process with the virtual presenter preloaded makes its control and log files new and
    // private, in a private folder by default, and never writes through a link planted there.
    void filesArePrivate_data()
    {
        QTest::addColumn<QString>("where"); // "given", "runtime" or "none"
        QTest::newRow("KAVRI_VDONGLE names a planted link") << "given";
        QTest::newRow("default: in the runtime directory") << "runtime";
        QTest::newRow("default without a runtime directory: a new folder in /tmp") << "none";
    }
    void filesArePrivate()
    {
        QFETCH(QString, where);
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString victim = dir.filePath("notes.txt");
        QFile notes(victim);
        QVERIFY(notes.open(QIODevice::WriteOnly));
        notes.write("someone's notes\n");
        notes.close();

        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("LD_PRELOAD", KavriTest::preloadable(KAVRI_VDONGLE_LIBRARY, dir.path()));
        env.remove("KAVRI_VDONGLE");
        env.remove("XDG_RUNTIME_DIR");
        QString control;
        if (where == "given") {
            control = dir.filePath("vdongle");
            QVERIFY(QFile::link(victim, control));
            QVERIFY(QFile::link(victim, control + ".log"));
            env.insert("KAVRI_VDONGLE", control);
        } else if (where == "runtime") {
            env.insert("XDG_RUNTIME_DIR", dir.path());
            control = dir.filePath("kavri-vdongle/control");
        }
        QProcess run;
        run.setProcessEnvironment(env);
        run.start("/bin/sh", {"-c", "sleep 0.2"});
        QVERIFY(run.waitForFinished(10000));
        QStringList madeFolders; // by the shell and by sleep: both have the library loaded
        const auto removeMadeFolders = qScopeGuard([&] {
            for (const QString &made : qAsConst(madeFolders))
                QDir(made).removeRecursively();
        });
        if (where == "none") {
            const QString said = QString::fromLocal8Bit(run.readAllStandardError());
            QRegularExpressionMatchIterator m =
                QRegularExpression("vdongle: control file (/tmp/kavri-vdongle-\\w{6})/control\n")
                    .globalMatch(said);
            while (m.hasNext())
                madeFolders << m.next().captured(1);
            QVERIFY2(!madeFolders.isEmpty(), qPrintable(said));
            control = madeFolders.first() + "/control";
        }
        const QString folder = QFileInfo(control).path();
        if (where != "given")
            QCOMPARE(modeOf(folder), int(S_IFDIR | 0700));
        QCOMPARE(modeOf(control), int(S_IFREG | 0600));
        QCOMPARE(modeOf(control + ".log"), int(S_IFREG | 0600));
        QVERIFY(fileText(control + ".log").startsWith("ready "));
        QCOMPARE(fileText(victim), QByteArray("someone's notes\n"));
    }

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
