#pragma once

#include <QSharedMemory>
#include <QSystemSemaphore>

#include <functional>

// Keeps a second copy of Kavri from running beside the first. The lock is a one-byte named
// shared-memory segment that the running copy holds until it ends; a named semaphore
// serialises the check-and-create, so copies started at the same moment cannot both take it.
//
// On Linux the segment is System V shared memory, which outlives a process that ends without
// detaching from it (a crash, kill -9, or the tray's immediate exit). The kernel does drop a
// dead process's attachments, though, so a segment that no other process is attached to was
// left behind by a copy that is gone: the guard adopts it instead of refusing the start.
// The semaphore's operations are undone by the kernel when its holder dies, so a copy killed
// while it held the semaphore does not block later starts either.
class InstanceGuard final
{
public:
    static constexpr char SemaphoreKey[] = "ZiduzOdizerSem";
    static constexpr char SegmentKey[] = "ZiduzOdizerMem";

    // Tests pass their own keys so they never meet a running Kavri.
    explicit InstanceGuard(const QString &semaphoreKey = QLatin1String(SemaphoreKey),
                           const QString &segmentKey = QLatin1String(SegmentKey));

    InstanceGuard(const InstanceGuard &) = delete;
    InstanceGuard &operator=(const InstanceGuard &) = delete;

    // Takes the lock and returns true. When a live copy holds it, calls `onRefused` while
    // this process still holds the semaphore (a third copy waits until it returns), then
    // releases the semaphore and returns false. Any other refusal by the system counts as
    // "held by another copy" too.
    bool acquire(const std::function<void()> &onRefused);

    bool isHeld() const { return m_held; }

    // How many attachments the system counts on the segment that `segment` names, or -1
    // when that cannot be told (no such segment, no permission, or no System V backend).
    static int attachmentCount(const QSharedMemory &segment);

private:
    bool adoptAbandonedSegment();

    // Declared in this order so that the segment is released before the semaphore.
    QSystemSemaphore m_semaphore;
    QSharedMemory m_segment;
    bool m_held = false;
};
