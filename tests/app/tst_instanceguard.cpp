#include "app/instanceguard.h"

#include "common/childprocess.h"
#include "common/otheruser.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <chrono>
#include <cstdlib>
#include <future>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

// The guard is exercised across real processes: this test program starts copies of itself
// in a helper role that take the guard from their environment, as Kavri does, and then wait,
// so the test sees what a second Kavri, a simultaneous start, an EXIT or a kill leave behind.
namespace {

void waitForStdinToClose()
{
    char c;
    while (::read(0, &c, 1) > 0) {
    }
}

// Helper roles:
//   --hold             acquire the default lock; print "held <lock path>" or "refused"; when
//                      stdin closes, end through std::exit like the tray's EXIT (the guard
//                      is not destroyed)
//   --refuse-and-hang  the same, but when refused print "refused" inside the refusal (where
//                      Kavri shows its box) and stay there until stdin closes
QByteArray fileText(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

int runHelper(bool hangInRefusal)
{
    auto *guard = new InstanceGuard; // never destroyed, like the stack guard under std::exit
    const bool held = guard->acquire([&] {
        if (hangInRefusal) {
            std::printf("refused\n");
            std::fflush(stdout);
            waitForStdinToClose();
        }
    });
    if (held)
        std::printf("held %s\n", qPrintable(guard->lockPath()));
    else if (!hangInRefusal)
        std::printf("refused\n");
    std::fflush(stdout);
    waitForStdinToClose();
    std::exit(0);
}

} // namespace

class TestInstanceGuard : public QObject
{
    Q_OBJECT

private:
    // Stands for one user session's runtime directory.
    std::unique_ptr<QTemporaryDir> m_runtime;
    QList<QProcess *> m_helpers;

    QProcess *startHelper(const QString &runtimeDir, const QString &tmpDir = QString(),
                          KavriTest::OtherUser *asUser = nullptr, const char *role = "--hold")
    {
        auto *p = new QProcess;
        m_helpers << p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        if (runtimeDir.isNull())
            env.remove("XDG_RUNTIME_DIR");
        else
            env.insert("XDG_RUNTIME_DIR", runtimeDir);
        env.insert("TMPDIR", tmpDir.isNull() ? m_runtime->path() : tmpDir);
        p->setProcessEnvironment(env);
        const QString self = QCoreApplication::applicationFilePath();
        if (!asUser) {
            KavriTest::startTied(*p, self, {role});
        } else {
            // The checkout may be private: the other user runs a copy of this program.
            const QString copy = asUser->reachableCopy(self);
            if (!copy.isEmpty())
                asUser->start(*p, copy, {role});
        }
        return p;
    }
    static QByteArray answerOf(QProcess *p)
    {
        if (!p->canReadLine() && !p->waitForReadyRead(10000))
            return QByteArray("(no answer) ") + p->readAllStandardError();
        return p->readLine().trimmed();
    }
    static void end(QProcess *p, bool kill)
    {
        if (kill)
            p->kill(); // SIGKILL: the lock file stays, naming a dead process
        else
            p->closeWriteChannel(); // std::exit: the lock file stays too
        QVERIFY(p->waitForFinished(10000));
    }
    // A folder only its owner may use, as a runtime directory is; empty when not made.
    QString privateDir(const QString &name, int uid = -1, int gid = -1)
    {
        const QString path = m_runtime->path() + "/" + name;
        if (!QDir().mkpath(path) ||
            !QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner))
            return QString();
        if (uid >= 0 && ::chown(QFile::encodeName(path).constData(), uid_t(uid), gid_t(gid)) != 0)
            return QString();
        return path;
    }

private slots:
    void init()
    {
        // In /tmp, not TMPDIR, which may be private: other users must reach their folders
        // in it.
        m_runtime = std::make_unique<QTemporaryDir>(QStringLiteral("/tmp/kavri-test-XXXXXX"));
        QVERIFY(m_runtime->isValid());
        QFile::setPermissions(m_runtime->path(), QFile::ReadOwner | QFile::WriteOwner |
                                                     QFile::ExeOwner | QFile::ExeOther);
    }
    void cleanup()
    {
        for (QProcess *p : qAsConst(m_helpers)) {
            p->closeWriteChannel();
            if (!p->waitForFinished(5000))
                p->kill();
            p->waitForFinished(5000);
            delete p;
        }
        m_helpers.clear();
        m_runtime.reset();
    }

    void oneHolderAtATimeWithinAProcess()
    {
        const QString path = m_runtime->path() + "/kavri.lock";
        int refusals = 0;
        {
            InstanceGuard first(path);
            QVERIFY(first.acquire([&] { ++refusals; }));
            QVERIFY(first.isHeld());
            QVERIFY(QFileInfo::exists(path));
            InstanceGuard second(path);
            QVERIFY(!second.acquire([&] { ++refusals; }));
            QCOMPARE(refusals, 1);
            QVERIFY(!second.isHeld());
        }
        // A holder that ends normally removes its lock.
        QVERIFY(!QFileInfo::exists(path));
        InstanceGuard next(path);
        QVERIFY(next.acquire([&] { ++refusals; }));
        QCOMPARE(refusals, 1);
    }

    void lockLivesInTheRuntimeDirectory()
    {
        const QString session = privateDir("session");
        QProcess *holder = startHelper(session);
        QCOMPARE(answerOf(holder), "held " + session.toUtf8() + "/kavri.lock");
    }

    // Without XDG_RUNTIME_DIR the lock's folder is /tmp/kavri-<uid>, which anyone may have made
    // first. In each state it may be found in, two copies of the user (the second with another
    // HOME and TMPDIR) meet at one lock: one runs, the other is refused. Each row runs in a
    // mount namespace of its own, with empty /tmp and home folders, so the machine's are never
    // touched.
    void lockFolderNotPrivateFallsBackToTheSameLock_data()
    {
        QTest::addColumn<QString>("setUp");  // shell, with $D the folder and $O another uid
        QTest::addColumn<QString>("lockIn"); // "tmp", "cache" or "" (none: unguarded)
        QTest::newRow("missing: made private") << ""
                                               << "tmp";
        QTest::newRow("the user's own, 0700") << "mkdir -m 0700 $D"
                                              << "tmp";
        QTest::newRow("the user's own, others may write") << "mkdir -m 0777 $D && chmod 0777 $D"
                                                          << "cache";
        QTest::newRow("another user's, 0755") << "mkdir -m 0755 $D && chown $O $D"
                                              << "cache";
        QTest::newRow("another user's, 1777") << "mkdir -m 1777 $D && chown $O $D"
                                              << "cache";
        QTest::newRow("a link to another user's folder")
            << "mkdir -m 0700 /tmp/theirs && chown $O /tmp/theirs && ln -s /tmp/theirs $D"
            << "cache";
        QTest::newRow("a link to the user's own folder")
            << "mkdir -m 0700 /tmp/mine && ln -s /tmp/mine $D"
            << "cache";
        QTest::newRow("no private folder anywhere: unguarded, and said")
            << "mkdir -m 0755 $D && chown $O $D && mount -o remount,ro $H"
            << "";
    }
    void lockFolderNotPrivateFallsBackToTheSameLock()
    {
        QFETCH(QString, setUp);
        QFETCH(QString, lockIn);
        if (::geteuid() != 0)
            QSKIP("needs root for a private mount namespace");
        const passwd *user = ::getpwuid(::geteuid());
        QVERIFY(user && user->pw_dir);
        const QString home = QFile::decodeName(user->pw_dir);
        const QString folder = QStringLiteral("/tmp/kavri-%1").arg(::geteuid());
        const QString other = QString::number(::geteuid() == 65534 ? 65533 : 65534);

        // The namespace lives as long as its `cat` reads an open stdin. The copies run from a
        // folder of its own (/mnt): the checkout may lie in /tmp or the home, hidden there.
        auto *ns = new QProcess;
        m_helpers << ns;
        ns->start("unshare", {"--mount", "--propagation", "private", "--", "sh", "-c",
                              "exec 3< \"$2\" && "
                              "mount -t tmpfs -o mode=1777 kavri-tmp /tmp && "
                              "mount -t tmpfs -o mode=0700 kavri-home \"$1\" && "
                              "mount -t tmpfs -o mode=0755 kavri-bin /mnt && "
                              "cat <&3 >/mnt/tst_instanceguard && exec 3<&- && "
                              "chmod 0755 /mnt/tst_instanceguard && echo ready && exec cat",
                              "sh", home, QCoreApplication::applicationFilePath()});
        QCOMPARE(answerOf(ns), QByteArray("ready"));
        const QString enter = QStringLiteral("--mount=/proc/%1/ns/mnt").arg(ns->processId());
        const auto inNamespace = [&](const QString &script) {
            QProcess sh;
            QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
            env.insert("D", folder);
            env.insert("O", other);
            env.insert("H", home);
            sh.setProcessEnvironment(env);
            sh.start("nsenter", {enter, "--", "sh", "-c", script});
            sh.waitForFinished(10000);
            return sh.exitCode() == 0 ? sh.readAllStandardOutput() : QByteArray("failed");
        };
        if (!setUp.isEmpty())
            QCOMPARE(inNamespace(setUp), QByteArray());
        const auto startCopy = [&](const QString &homeVariable, const QString &tmpDir) {
            auto *p = new QProcess;
            m_helpers << p;
            QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
            env.remove("XDG_RUNTIME_DIR");
            env.insert("HOME", homeVariable);
            env.insert("TMPDIR", tmpDir);
            p->setProcessEnvironment(env);
            p->start("nsenter", {enter, "--", "/mnt/tst_instanceguard", "--hold"});
            return p;
        };

        const QString lock = lockIn == "tmp"     ? folder + "/kavri.lock"
                             : lockIn == "cache" ? home + "/.cache/kavri/kavri.lock"
                                                 : QString();
        QProcess *first = startCopy(home, "/tmp");
        QCOMPARE(answerOf(first), ("held " + lock.toUtf8()).trimmed());
        QProcess *second = startCopy("/", "/var/tmp");
        if (lock.isEmpty()) {
            // Both run; each says so.
            QCOMPARE(answerOf(second), QByteArray("held"));
            QVERIFY(first->readAllStandardError().contains("without its single-instance lock"));
        } else {
            QCOMPARE(answerOf(second), QByteArray("refused"));
        }
        // Nothing was put into a folder someone else controls: the one lock is the only file.
        QCOMPARE(inNamespace("find /tmp \"$H\" -name 'kavri.lock*' -type f | sort"),
                 lock.isEmpty() ? QByteArray() : lock.toUtf8() + "\n");
    }

    void secondCopyOfTheSession_data()
    {
        QTest::addColumn<QString>("secondRuntime"); // "same" or "other"
        QTest::addColumn<bool>("otherTmpDir");
        QTest::addColumn<QByteArray>("answer");
        QTest::newRow("same session") << "same" << false << QByteArray("refused");
        QTest::newRow("same session, another TMPDIR: TMPDIR decides nothing")
            << "same" << true << QByteArray("refused");
        QTest::newRow("another session") << "other" << false << QByteArray("held");
    }
    void secondCopyOfTheSession()
    {
        QFETCH(QString, secondRuntime);
        QFETCH(bool, otherTmpDir);
        QFETCH(QByteArray, answer);
        const QString session = privateDir("session");
        QCOMPARE(answerOf(startHelper(session, privateDir("tmp1"))).left(4), QByteArray("held"));
        QProcess *second = startHelper(secondRuntime == "same" ? session : privateDir("session2"),
                                       otherTmpDir ? privateDir("tmp2") : privateDir("tmp1"));
        QCOMPARE(answerOf(second).left(answer.size()), answer);
    }

    void lockOfAnEndedCopyIsTakenOver_data()
    {
        QTest::addColumn<bool>("kill");
        QTest::newRow("tray's EXIT (std::exit)") << false;
        QTest::newRow("kill -9") << true;
    }
    // A left lock file whose process id now belongs to a live process of the same name (after
    // a reboot, or another user's Kavri) is stale too: nobody holds its lock.
    void lockNamingAReusedProcessIdIsTakenOver()
    {
        const QString session = privateDir("session");
        QProcess *live = startHelper(privateDir("elsewhere"));
        const QByteArray answer = answerOf(live);
        QVERIFY2(answer.startsWith("held "), answer.constData());
        QFile left(session + "/kavri.lock");
        QVERIFY(left.open(QIODevice::WriteOnly));
        left.write(fileText(answer.mid(5))); // names the live helper, pid and program name
        left.close();
        QCOMPARE(answerOf(startHelper(session)), "held " + left.fileName().toUtf8());
    }
    void lockOfAnEndedCopyIsTakenOver()
    {
        QFETCH(bool, kill);
        const QString session = privateDir("session");
        QProcess *holder = startHelper(session);
        QCOMPARE(answerOf(holder).left(4), QByteArray("held"));
        end(holder, kill);
        QVERIFY2(QFileInfo::exists(session + "/kavri.lock"), "the ended copy left its lock");

        QCOMPARE(answerOf(startHelper(session)).left(4), QByteArray("held"));
        // The lock taken over works like a new one.
        QCOMPARE(answerOf(startHelper(session)), QByteArray("refused"));
    }

    // Refused copies tell the user one at a time; a copy killed with its box open does not
    // hold up the next one.
    void refusedCopiesWaitForTheOpenWarning()
    {
        const QString session = privateDir("session");
        QCOMPARE(answerOf(startHelper(session)).left(4), QByteArray("held"));
        QProcess *refused = startHelper(session, QString(), nullptr, "--refuse-and-hang");
        QCOMPARE(answerOf(refused), QByteArray("refused"));
        InstanceGuard waiting(session + "/kavri.lock");
        int refusals = 0;
        auto blocked =
            std::async(std::launch::async, [&] { return waiting.acquire([&] { ++refusals; }); });
        QCOMPARE(blocked.wait_for(std::chrono::milliseconds(500)), std::future_status::timeout);
        end(refused, true);
        QCOMPARE(blocked.wait_for(std::chrono::seconds(10)), std::future_status::ready);
        QCOMPARE(blocked.get(), false);
        QCOMPARE(refusals, 1);
    }

    void simultaneousStartsYieldOneHolder_data()
    {
        QTest::addColumn<bool>("staleLock");
        QTest::newRow("no lock yet") << false;
        QTest::newRow("lock left by a killed copy") << true;
    }
    void simultaneousStartsYieldOneHolder()
    {
        QFETCH(bool, staleLock);
        const QString session = privateDir("session");
        if (staleLock) {
            QProcess *holder = startHelper(session);
            QCOMPARE(answerOf(holder).left(4), QByteArray("held"));
            end(holder, true);
        }
        const int copies = 6;
        QList<QProcess *> starters;
        for (int i = 0; i < copies; ++i)
            starters << startHelper(session);
        int held = 0;
        int refused = 0;
        for (QProcess *p : qAsConst(starters)) {
            const QByteArray answer = answerOf(p);
            held += answer.startsWith("held") ? 1 : 0;
            refused += answer == "refused" ? 1 : 0;
        }
        QCOMPARE(held, 1);
        QCOMPARE(refused, copies - 1);
    }

    // Two users on one machine, each starting Kavri: neither is refused, whether the other's
    // copy runs or was killed, and even when su carried one user's XDG_RUNTIME_DIR over to the
    // other (then the other, who cannot use that folder, falls back to one of their own).
    void anotherUsersKavriNeverRefuses_data()
    {
        QTest::addColumn<bool>("sharedRuntimeVariable");
        QTest::addColumn<bool>("killOther");
        QTest::newRow("each user's own session, other running") << false << false;
        QTest::newRow("each user's own session, other killed") << false << true;
        QTest::newRow("su kept XDG_RUNTIME_DIR, other running") << true << false;
    }
    void anotherUsersKavriNeverRefuses()
    {
        QFETCH(bool, sharedRuntimeVariable);
        QFETCH(bool, killOther);
        KavriTest::OtherUser other;
        if (other.uid < 0)
            QSKIP("needs root: the copy of Kavri must run as another user");
        const QString mine = privateDir("mine");
        const QString theirs =
            sharedRuntimeVariable ? mine : privateDir("theirs", other.uid, other.gid);
        const QString fallback = QStringLiteral("/tmp/kavri-%1").arg(other.uid);

        QProcess *theirCopy = startHelper(theirs, QString(), &other);
        const QByteArray answer = answerOf(theirCopy);
        QCOMPARE(answer,
                 "held " + (sharedRuntimeVariable ? fallback : theirs).toUtf8() + "/kavri.lock");
        if (killOther)
            end(theirCopy, true);
        QCOMPARE(answerOf(startHelper(mine)), "held " + mine.toUtf8() + "/kavri.lock");
        if (sharedRuntimeVariable) {
            end(theirCopy, false);
            QDir(fallback).removeRecursively();
        }
    }
};

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    // The lock records the holder's program name; a helper carries this program's name.
    if (argc == 2 && qstrcmp(argv[1], "--hold") == 0)
        return runHelper(false);
    if (argc == 2 && qstrcmp(argv[1], "--refuse-and-hang") == 0)
        return runHelper(true);
    TestInstanceGuard test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_instanceguard.moc"
