#include "settings/settingslocation.h"

#include "common/otheruser.h"
#include "common/workdir.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QtTest>

#include <chrono>
#include <functional>
#include <future>
#include <memory>
#include <thread>

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

using SettingsLocation::Verdict;

using Setup = std::function<void()>;
Q_DECLARE_METATYPE(SettingsLocation::Verdict)
Q_DECLARE_METATYPE(Setup)

// Real files of every kind at the settings path, in a fresh working directory per test.
class TestSettingsLocation : public QObject
{
    Q_OBJECT

private:
    KavriTest::WorkDir m_workDir;

    static void writeFile(const QString &path, const QByteArray &bytes)
    {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(bytes);
    }
    static QByteArray readFile(const QString &path)
    {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(unreadable)");
    }
    static void chownToOtherUser(const QString &path)
    {
        const KavriTest::OtherUser other;
        QVERIFY(other.uid >= 0);
        QCOMPARE(::lchown(QFile::encodeName(path).constData(), static_cast<uid_t>(other.uid),
                          static_cast<gid_t>(other.gid)),
                 0);
    }

private slots:
    void init() { QVERIFY(m_workDir.enter()); }
    void cleanup() { m_workDir.leave(); }

    void inspect_data()
    {
        QTest::addColumn<Setup>("setup");
        QTest::addColumn<Verdict>("verdict");
        QTest::addColumn<QString>("warningMentions");

        QTest::newRow("nothing there: may be created") << Setup([] {}) << Verdict::Absent << "";
        QTest::newRow("own regular file")
            << Setup([] { writeFile("Kavri.ini", "[General]\n"); }) << Verdict::Usable << "";
        QTest::newRow("exactly 1 MiB is still a settings file")
            << Setup([] { writeFile("Kavri.ini", QByteArray(1024 * 1024, '#')); })
            << Verdict::Usable << "";
        QTest::newRow("own link to own file, as dotfile managers make") << Setup([] {
            writeFile("real.ini", "[General]\n");
            QVERIFY(QFile::link("real.ini", "Kavri.ini"));
        }) << Verdict::Usable << "";
        QTest::newRow("FIFO: reading it would block")
            << Setup([] { QCOMPARE(::mkfifo("Kavri.ini", 0600), 0); }) << Verdict::Refused
            << "a FIFO";
        QTest::newRow("directory") << Setup([] { QVERIFY(QDir().mkdir("Kavri.ini")); })
                                   << Verdict::Refused << "a directory";
        QTest::newRow("link to a device")
            << Setup([] { QVERIFY(QFile::link("/dev/null", "Kavri.ini")); }) << Verdict::Refused
            << "a link to a device";
        QTest::newRow("dangling link: writing would create its target")
            << Setup([] { QVERIFY(QFile::link("missing/target.txt", "Kavri.ini")); })
            << Verdict::Refused << "a link to a missing path";
        QTest::newRow("own link to another user's file") << Setup([] {
            writeFile("notes.txt", "victim's notes\n");
            chownToOtherUser("notes.txt");
            QVERIFY(QFile::link("notes.txt", "Kavri.ini"));
        }) << Verdict::Refused << "a link to another user's file";
        QTest::newRow("another user's link to own file") << Setup([] {
            writeFile("notes.txt", "victim's notes\n");
            QVERIFY(QFile::link("notes.txt", "Kavri.ini"));
            chownToOtherUser("Kavri.ini");
        }) << Verdict::Refused << "another user's link";
        QTest::newRow("own link through another user's link") << Setup([] {
            writeFile("notes.txt", "victim's notes\n");
            QVERIFY(QFile::link("notes.txt", "planted"));
            chownToOtherUser("planted");
            QVERIFY(QFile::link("planted", "Kavri.ini"));
        }) << Verdict::Refused << "through another user's link";
        QTest::newRow("another user's regular file") << Setup([] {
            writeFile("Kavri.ini", "[General]\n");
            chownToOtherUser("Kavri.ini");
        }) << Verdict::Refused << "another user's file";
    }
    void inspect()
    {
        QFETCH(Setup, setup);
        QFETCH(Verdict, verdict);
        QFETCH(QString, warningMentions);
        if (warningMentions.contains("another user") && KavriTest::OtherUser().uid < 0)
            QSKIP("needs root: the file must belong to another user");
        setup();
        if (QTest::currentTestFailed())
            return;
        const QString path = QDir::current().absoluteFilePath("Kavri.ini");
        // On a thread of its own, so a call that blocks fails the test instead of hanging it.
        auto answer = std::make_shared<std::promise<SettingsLocation::Access>>();
        auto result = answer->get_future();
        std::thread([answer, path] {
            answer->set_value(SettingsLocation::inspect(path));
        }).detach();
        QCOMPARE(result.wait_for(std::chrono::seconds(5)), std::future_status::ready);
        const SettingsLocation::Access access = result.get();
        QCOMPARE(access.verdict, verdict);
        if (warningMentions.isEmpty()) {
            QVERIFY2(access.warning.isEmpty(), qPrintable(access.warning));
        } else {
            QVERIFY2(access.warning.contains(path), qPrintable(access.warning));
            QVERIFY2(access.warning.contains(warningMentions), qPrintable(access.warning));
        }
        // Inspecting changes nothing: no link target created, no victim's file touched.
        QVERIFY(!QFileInfo::exists("missing"));
        if (QFileInfo::exists("notes.txt"))
            QCOMPARE(readFile("notes.txt"), QByteArray("victim's notes\n"));
    }

    void oversizedFileIsRenamedAside()
    {
        const QByteArray big = QByteArray(1024 * 1024, 'x') + "\n";
        writeFile("Kavri.ini", big);
        const QString path = QDir::current().absoluteFilePath("Kavri.ini");
        const SettingsLocation::Access access = SettingsLocation::inspect(path);
        QCOMPARE(access.verdict, Verdict::Absent);
        QVERIFY(!QFileInfo::exists("Kavri.ini"));
        const QStringList aside = QDir().entryList({"Kavri.ini.corrupt-*"}, QDir::Files);
        QCOMPARE(aside.size(), 1);
        QVERIFY2(QRegularExpression("^Kavri\\.ini\\.corrupt-\\d{8}-\\d{6}$")
                     .match(aside.first())
                     .hasMatch(),
                 qPrintable(aside.first()));
        QCOMPARE(readFile(aside.first()), big); // nothing lost
        QVERIFY2(access.warning.contains(QDir::current().absoluteFilePath(aside.first())),
                 qPrintable(access.warning));

        // A second oversized file the same second gets its own name.
        writeFile("Kavri.ini", big);
        QCOMPARE(SettingsLocation::inspect(path).verdict, Verdict::Absent);
        QCOMPARE(QDir().entryList({"Kavri.ini.corrupt-*"}, QDir::Files).size(), 2);
    }

    void filePath_data()
    {
        QTest::addColumn<QString>("entry"); // what ./Kavri.ini is: nothing, a file or a link
        QTest::addColumn<bool>("configHomeSet");
        QTest::addColumn<QString>("expected"); // below the test's directory, or "./Kavri.ini"
        QTest::newRow("XDG_CONFIG_HOME set") << "" << true << "/cfg/kavri/Kavri.ini";
        QTest::newRow("XDG_CONFIG_HOME unset") << "" << false << "/home/.config/kavri/Kavri.ini";
        QTest::newRow("an earlier version's file here") << "file" << true << "./Kavri.ini";
        QTest::newRow("a dangling link here, to be refused") << "link" << true << "./Kavri.ini";
        // "~": the home the user database names; never "/" (from QDir::homePath() without HOME).
        QTest::newRow("HOME unset") << "" << false << "~/.config/kavri/Kavri.ini";
    }
    void filePath()
    {
        QFETCH(QString, entry);
        QFETCH(bool, configHomeSet);
        QFETCH(QString, expected);
        if (entry == "file")
            writeFile("Kavri.ini", "");
        else if (entry == "link")
            QVERIFY(QFile::link("nowhere", "Kavri.ini"));
        QString tmp = m_workDir.path();
        if (configHomeSet)
            qputenv("XDG_CONFIG_HOME", (tmp + "/cfg").toLocal8Bit());
        else
            qunsetenv("XDG_CONFIG_HOME");
        qputenv("HOME", (tmp + "/home").toLocal8Bit());
        if (expected.startsWith('~')) {
            qunsetenv("HOME");
            const passwd *user = ::getpwuid(::geteuid());
            QVERIFY(user && user->pw_dir && QByteArray(user->pw_dir) != "/");
            tmp = QFile::decodeName(user->pw_dir);
            expected.remove(0, 1);
        }
        QCOMPARE(SettingsLocation::filePath(), expected.startsWith("./")
                                                   ? QDir::current().absoluteFilePath("Kavri.ini")
                                                   : tmp + expected);
    }

    void makeFolderCreatesPrivateParents()
    {
        const QString folder = m_workDir.path() + "/cfg/kavri";
        QVERIFY(SettingsLocation::makeFolder(folder + "/Kavri.ini"));
        QVERIFY(QFileInfo(folder).isDir());
        // Owner rwx (0x7000), nothing for group and others (0x0077).
        QCOMPARE(int(QFileInfo(folder).permissions() & 0x7077), 0x7000);
        QVERIFY(SettingsLocation::makeFolder(folder + "/Kavri.ini")); // already there
        writeFile("plain", "");
        QVERIFY(!SettingsLocation::makeFolder(m_workDir.path() + "/plain/kavri/Kavri.ini"));
    }
};

QTEST_GUILESS_MAIN(TestSettingsLocation)
#include "tst_settingslocation.moc"
