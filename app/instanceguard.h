#pragma once

#include <QLockFile>
#include <QString>

#include <functional>

// Keeps a second copy of Kavri from running beside the first in the same user's session.
//
// The lock is a QLockFile, "kavri.lock", in the user's runtime directory ($XDG_RUNTIME_DIR,
// private to the user by definition), or, without one, in the user's own folder
// "/tmp/kavri-<uid>" (made 0700) that nobody else may write to. When that folder cannot be had
// private (someone else made it, it is a link, others may write to it), the lock goes into
// "kavri" in the cache folder of the user's home as the user database names it, again only when
// nobody else controls it. Each step depends on the user id and on what lies on the disk only,
// never on TMPDIR or HOME, so every copy of the same user finds the same lock, and another user's
// Kavri, running or dead, never meets it. A lock file is a plain file with a plain format, so
// Kavri builds made with different Qt versions find and refuse each other too.
//
// The file names the holder's process id and program name, and the holder keeps a flock on
// it. A file left by a copy that ended without removing it (a crash, kill -9) is locked by
// nobody; the next start removes it and takes the lock.
class InstanceGuard final
{
public:
    // Tests pass their own lock file so they never meet a running Kavri.
    explicit InstanceGuard(const QString &lockPath = defaultLockPath());

    InstanceGuard(const InstanceGuard &) = delete;
    InstanceGuard &operator=(const InstanceGuard &) = delete;

    // Takes the lock and returns true. When a live copy holds it, calls `onRefused` and
    // returns false; while `onRefused` runs, other refused copies wait before they call theirs.
    // When the lock cannot be made at all (no usable folder, a full disk), says so on stderr and
    // returns true without holding anything: better a second copy than none.
    bool acquire(const std::function<void()> &onRefused);

    bool isHeld() const { return m_held; }
    // After acquire() let this copy run without the lock: one line for the window saying so.
    QString unguardedWhy() const { return m_unguardedWhy; }
    // Where the lock could not be made, as paths that read the same in any language.
    QString unguardedWhere() const { return m_unguardedWhere; }
    QString lockPath() const { return m_lockPath; }

    // The lock file for this user's session, from the environment; empty when no private
    // folder for it could be found or made.
    static QString defaultLockPath();

private:
    bool removeAbandonedLock();

    QString m_lockPath;
    QLockFile m_lock;
    bool m_held = false;
    QString m_unguardedWhy;
    QString m_unguardedWhere;
};
