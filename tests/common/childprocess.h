#pragma once

#include <QProcess>

namespace KavriTest {

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
