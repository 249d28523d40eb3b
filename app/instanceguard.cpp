#include "app/instanceguard.h"

#include <QFile>

#ifdef Q_OS_UNIX
#include <sys/ipc.h>
#include <sys/shm.h>
#endif

InstanceGuard::InstanceGuard(const QString &semaphoreKey, const QString &segmentKey)
    : m_semaphore(semaphoreKey, 1, QSystemSemaphore::Open), m_segment(segmentKey)
{
}

bool InstanceGuard::acquire(const std::function<void()> &onRefused)
{
    if (m_held)
        return true;

    m_semaphore.acquire();
    bool obtained = m_segment.create(1, QSharedMemory::ReadWrite);
    if (!obtained && m_segment.error() == QSharedMemory::AlreadyExists)
        obtained = adoptAbandonedSegment();

    if (!obtained) {
        if (onRefused)
            onRefused();
        m_semaphore.release(1);
        return false;
    }
    m_semaphore.release(1);
    m_held = true;
    return true;
}

bool InstanceGuard::adoptAbandonedSegment()
{
    if (!m_segment.attach(QSharedMemory::ReadWrite))
        return false;
    // Our own attachment is the only one: whoever created the segment has died. Staying
    // attached makes it ours; when this process detaches at the end, the segment goes away.
    if (attachmentCount(m_segment) == 1)
        return true;
    m_segment.detach();
    return false;
}

int InstanceGuard::attachmentCount(const QSharedMemory &segment)
{
#ifdef Q_OS_UNIX
    // Qt's System V backend derives the segment's IPC key from its key file with project
    // id 'Q'. A POSIX backend has no key file, so ftok fails and we answer "unknown".
    const QByteArray keyFile = QFile::encodeName(segment.nativeKey());
    const key_t ipcKey = ftok(keyFile.constData(), 'Q');
    if (ipcKey == -1)
        return -1;
    const int id = shmget(ipcKey, 0, 0);
    if (id == -1)
        return -1;
    shmid_ds status{};
    if (shmctl(id, IPC_STAT, &status) != 0)
        return -1;
    return static_cast<int>(status.shm_nattch);
#else
    Q_UNUSED(segment);
    return -1;
#endif
}
