#pragma once

#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QStringList>

namespace KavriTest {

// Starts a helper program (a server, a compositor, a Kavri under test) so that it gets
// SIGTERM the moment this test process ends, however it ends: a failed check, a crash, or
// CTest killing it at its timeout. X servers and compositors then remove their lock files
// and sockets, and nothing the suite started outlives it. False when `program` is not
// installed.
inline bool startTied(QProcess &process, const QString &program, const QStringList &arguments)
{
    const bool installed = program.startsWith(QLatin1Char('/'))
                               ? QFileInfo(program).isExecutable()
                               : !QStandardPaths::findExecutable(program).isEmpty();
    if (!installed)
        return false;
    process.start(QStringLiteral("setpriv"),
                  QStringList{QStringLiteral("--pdeathsig"), QStringLiteral("TERM"),
                              QStringLiteral("--"), program} +
                      arguments);
    return process.waitForStarted(5000);
}

// LD_PRELOAD splits its list at spaces and colons, and a checkout's path may hold either: the
// library is preloaded through a link to it in `folder`, a path of the suite's own.
inline QString preloadable(const QString &library, const QString &folder)
{
    if (!library.contains(QLatin1Char(' ')) && !library.contains(QLatin1Char(':')))
        return library;
    const QString link = folder + QStringLiteral("/preload-") + QFileInfo(library).fileName();
    QFile::remove(link);
    return QFile::link(library, link) ? link : library;
}

// Ends a helper program the suite started: asks it to terminate, and kills it when it has
// not gone after `waitMs`.
inline void stopProcess(QProcess &process, int waitMs)
{
    if (process.state() == QProcess::NotRunning)
        return;
    process.terminate();
    if (!process.waitForFinished(waitMs)) {
        process.kill();
        process.waitForFinished(waitMs);
    }
}

} // namespace KavriTest
