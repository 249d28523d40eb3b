#include "app/instanceguard.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QSharedMemory>
#include <QSystemSemaphore>
#include <QTemporaryDir>
#include <QtTest>

#include <chrono>
#include <csignal>
#include <future>
#include <thread>

#include <unistd.h>

// The guard is exercised across real processes: this test program starts copies of itself
// in a helper role that take the guard (or are refused) and then wait to be killed, so the
// test sees what a second Kavri, a simultaneous start or a `kill -9` really leave behind.
namespace {

// Helper roles, chosen by the first argument.
//   --hold <sem> <mem>     acquire; print "held" or "refused"; then wait for stdin to close
//   --refuse-and-hang ...  acquire; if refused, print "refused" inside the refusal callback
//                          (the semaphore still held) and wait there for stdin to close
int runHelper(const QByteArray &role, const QString &semKey, const QString &memKey)
{
    InstanceGuard guard(semKey, memKey);
    auto waitForStdinToClose = [] {
        char c;
        while (::read(0, &c, 1) > 0) {
        }
    };
    if (role == "--refuse-and-hang") {
        const bool held = guard.acquire([&] {
            ::write(1, "refused\n", 8);
            waitForStdinToClose();
        });
        if (held)
            ::write(1, "held\n", 5);
    } else {
        const bool held = guard.acquire(nullptr);
        ::write(1, held ? "held\n" : "refused\n", held ? 5 : 8);
    }
    waitForStdinToClose();
    return 0;
}

int counter = 0;

} // namespace

class TestInstanceGuard : public QObject
{
    Q_OBJECT

private:
    QString m_semKey;
    QString m_memKey;
    // Created first, so this process owns the semaphore and removes it at the end even when
    // the helpers are killed.
    QSystemSemaphore *m_ownSemaphore = nullptr;
    QList<QProcess *> m_helpers;

    QProcess *startHelper(const char *role)
    {
        auto *p = new QProcess;
        p->setProgram(QCoreApplication::applicationFilePath());
        p->setArguments({QString::fromLatin1(role), m_semKey, m_memKey});
        p->start();
        m_helpers << p;
        return p;
    }
    static QByteArray answerOf(QProcess *p)
    {
        if (!p->canReadLine() && !p->waitForReadyRead(10000))
            return QByteArray("(no answer)");
        return p->readLine().trimmed();
    }
    static void killHard(QProcess *p)
    {
        p->kill(); // SIGKILL: no destructor runs, the segment is left behind
        QVERIFY(p->waitForFinished(10000));
        QCOMPARE(p->exitStatus(), QProcess::CrashExit);
    }
    // Runs acquire() on another thread so a guard stuck on the semaphore fails the test
    // instead of hanging it.
    static int acquireWithin(InstanceGuard &guard, int ms, int *refusals)
    {
        auto result = std::async(std::launch::async, [&guard, refusals] {
            return guard.acquire([refusals] { ++*refusals; });
        });
        if (result.wait_for(std::chrono::milliseconds(ms)) != std::future_status::ready)
            return -1;
        return result.get() ? 1 : 0;
    }

private slots:
    void init()
    {
        ++counter;
        m_semKey = QStringLiteral("KavriTestSem_%1_%2")
                       .arg(QCoreApplication::applicationPid())
                       .arg(counter);
        m_memKey = QStringLiteral("KavriTestMem_%1_%2")
                       .arg(QCoreApplication::applicationPid())
                       .arg(counter);
        m_ownSemaphore = new QSystemSemaphore(m_semKey, 1, QSystemSemaphore::Open);
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
        // A helper killed while holding the lock leaves the segment; adopting and dropping it
        // removes it from the system.
        {
            InstanceGuard sweep(m_semKey, m_memKey);
            sweep.acquire(nullptr);
        }
        delete m_ownSemaphore;
        m_ownSemaphore = nullptr;
    }

    void oneHolderAtATimeWithinAProcess()
    {
        InstanceGuard first(m_semKey, m_memKey);
        int refusals = 0;
        QCOMPARE(acquireWithin(first, 5000, &refusals), 1);
        QVERIFY(first.isHeld());
        QCOMPARE(refusals, 0);

        // The second guard is refused, and the refusal callback runs exactly once.
        InstanceGuard second(m_semKey, m_memKey);
        QCOMPARE(acquireWithin(second, 5000, &refusals), 0);
        QCOMPARE(refusals, 1);
        QVERIFY(!second.isHeld());
        // The refused guard released the semaphore: a third is answered at once, not blocked.
        InstanceGuard third(m_semKey, m_memKey);
        QCOMPARE(acquireWithin(third, 5000, &refusals), 0);
        QCOMPARE(refusals, 2);
    }

    void endedHolderFreesTheLock()
    {
        {
            InstanceGuard first(m_semKey, m_memKey);
            QVERIFY(first.acquire(nullptr));
        }
        InstanceGuard next(m_semKey, m_memKey);
        int refusals = 0;
        QCOMPARE(acquireWithin(next, 5000, &refusals), 1);
        QCOMPARE(refusals, 0);
    }

    void liveCopyInAnotherProcessRefuses()
    {
        QProcess *holder = startHelper("--hold");
        QCOMPARE(answerOf(holder), QByteArray("held"));

        InstanceGuard mine(m_semKey, m_memKey);
        int refusals = 0;
        QCOMPARE(acquireWithin(mine, 5000, &refusals), 0);
        QCOMPARE(refusals, 1);
        // ... and the refused copy leaves the holder's segment in place.
        QSharedMemory probe(m_memKey);
        QVERIFY(probe.attach(QSharedMemory::ReadOnly));
        QCOMPARE(InstanceGuard::attachmentCount(probe), 2);
    }

    void killedHolderDoesNotBlockTheNextStart()
    {
        QProcess *holder = startHelper("--hold");
        QCOMPARE(answerOf(holder), QByteArray("held"));
        killHard(holder);

        // The segment outlived its creator: it is still there, with nobody attached.
        QSharedMemory probe(m_memKey);
        QVERIFY(!probe.create(1));
        QCOMPARE(probe.error(), QSharedMemory::AlreadyExists);

        InstanceGuard next(m_semKey, m_memKey);
        int refusals = 0;
        QCOMPARE(acquireWithin(next, 5000, &refusals), 1);
        QCOMPARE(refusals, 0);

        // The adopted lock works like a created one: a further copy is refused.
        QProcess *late = startHelper("--hold");
        QCOMPARE(answerOf(late), QByteArray("refused"));
    }

    void copyKilledWhileHoldingTheSemaphoreDoesNotBlock()
    {
        QProcess *holder = startHelper("--hold");
        QCOMPARE(answerOf(holder), QByteArray("held"));
        // This copy is refused and stays inside the refusal (its warning box, in Kavri) with
        // the semaphore held; a further start has to wait meanwhile.
        QProcess *refused = startHelper("--refuse-and-hang");
        QCOMPARE(answerOf(refused), QByteArray("refused"));
        InstanceGuard waiting(m_semKey, m_memKey);
        int refusals = 0;
        auto blocked =
            std::async(std::launch::async, [&] { return waiting.acquire([&] { ++refusals; }); });
        QCOMPARE(blocked.wait_for(std::chrono::milliseconds(300)), std::future_status::timeout);

        // Killed there, its hold on the semaphore is undone by the kernel.
        killHard(refused);
        QCOMPARE(blocked.wait_for(std::chrono::seconds(5)), std::future_status::ready);
        QCOMPARE(blocked.get(), false);
        QCOMPARE(refusals, 1);

        // With the holder killed too, the next start gets the lock.
        killHard(holder);
        InstanceGuard next(m_semKey, m_memKey);
        QCOMPARE(acquireWithin(next, 5000, &refusals), 1);
    }

    void simultaneousStartsYieldOneHolder_data()
    {
        QTest::addColumn<bool>("staleSegment");
        QTest::newRow("clean system") << false;
        QTest::newRow("segment left by a killed copy") << true;
    }
    void simultaneousStartsYieldOneHolder()
    {
        QFETCH(bool, staleSegment);
        if (staleSegment) {
            QProcess *holder = startHelper("--hold");
            QCOMPARE(answerOf(holder), QByteArray("held"));
            killHard(holder);
        }
        const int copies = 6;
        QList<QProcess *> starters;
        for (int i = 0; i < copies; ++i)
            starters << startHelper("--hold");
        int held = 0;
        int refused = 0;
        for (QProcess *p : qAsConst(starters)) {
            const QByteArray answer = answerOf(p);
            if (answer == "held")
                ++held;
            else if (answer == "refused")
                ++refused;
        }
        QCOMPARE(held, 1);
        QCOMPARE(refused, copies - 1);
    }
};

int main(int argc, char *argv[])
{
    if (argc == 4 &&
        (qstrcmp(argv[1], "--hold") == 0 || qstrcmp(argv[1], "--refuse-and-hang") == 0))
        return runHelper(argv[1], QString::fromLocal8Bit(argv[2]), QString::fromLocal8Bit(argv[3]));
    QCoreApplication app(argc, argv);
    TestInstanceGuard test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_instanceguard.moc"
