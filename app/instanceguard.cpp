#include "app/instanceguard.h"

#include "app/applog.h"
#include "settings/userhome.h"

#include <QDir>
#include <QFile>

#include <cerrno>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const QLatin1String LockName("kavri.lock");

// A folder that exists (not through a link), belongs to this user and that nobody else may
// write to: a lock there cannot be planted, moved or removed by anyone else.
bool isPrivateFolder(const QString &path)
{
    struct stat st = {};
    if (path.isEmpty() || QDir::isRelativePath(path) ||
        ::lstat(QFile::encodeName(path).constData(), &st) != 0)
        return false;
    return S_ISDIR(st.st_mode) && st.st_uid == ::geteuid() && (st.st_mode & 022) == 0;
}

// A folder (links followed) that only this user or root may change: what lies in it cannot be
// swapped by anyone else.
bool isControlledFolder(const QString &path)
{
    struct stat st = {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return false;
    return S_ISDIR(st.st_mode) && (st.st_uid == ::geteuid() || st.st_uid == 0) &&
           (st.st_mode & 022) == 0;
}

// `path` made 0700 if missing; whether it is then private.
bool makePrivateFolder(const QString &path)
{
    if (::mkdir(QFile::encodeName(path).constData(), 0700) != 0 && errno != EEXIST)
        return false;
    return isPrivateFolder(path);
}

// "kavri" in the cache folder of the user's home, from the user database rather than HOME,
// which sudo and su may carry over from someone else.
QString cacheLockFolder()
{
    const QString home = UserHome::fromUserDatabase();
    if (home.isEmpty() || !isControlledFolder(home))
        return QString();
    const QString cache = home + QStringLiteral("/.cache");
    if (::mkdir(QFile::encodeName(cache).constData(), 0700) != 0 && errno != EEXIST)
        return QString();
    if (!isControlledFolder(cache))
        return QString();
    const QString own = cache + QStringLiteral("/kavri");
    return makePrivateFolder(own) ? own : QString();
}

} // namespace

InstanceGuard::InstanceGuard(const QString &lockPath) : m_lockPath(lockPath), m_lock(lockPath)
{
    // Only a dead holder makes the lock stale, never its age: Kavri runs for days.
    m_lock.setStaleLockTime(0);
}

QString InstanceGuard::defaultLockPath()
{
    const QString runtimeDir = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (isPrivateFolder(runtimeDir))
        return runtimeDir + QLatin1Char('/') + LockName;
    // Without a runtime directory (a bare X session, su): a folder of our own in /tmp, named
    // after the user id rather than TMPDIR so that every copy of this user finds the same one.
    // Someone else may have made it first, or left a link there; every copy of this user sees
    // the same, and all go on to the same folder in the home's cache.
    const QString own = QStringLiteral("/tmp/kavri-%1").arg(::geteuid());
    if (makePrivateFolder(own))
        return own + QLatin1Char('/') + LockName;
    const QString cache = cacheLockFolder();
    return cache.isEmpty() ? QString() : cache + QLatin1Char('/') + LockName;
}

bool InstanceGuard::removeAbandonedLock()
{
    // Qt removes a left file when the process it names has gone. A file nobody holds is left
    // over whatever process it names, though: that process id may have been reused since
    // (after a reboot, or by another user's Kavri). A holder locks the file before it writes
    // it, so a complete file that nobody locks has no holder; removals go one at a time, so
    // two starts cannot remove each other's new file.
    QLockFile removal(m_lockPath + QStringLiteral(".takeover"));
    if (!removal.tryLock(1000))
        return false;
    QFile left(m_lockPath);
    const int completeLines = 3; // process id, program name, host name
    if (!left.open(QIODevice::ReadOnly) || left.readAll().count('\n') < completeLines)
        return false;
    left.close();
    return m_lock.removeStaleLockFile(); // only when nobody holds the file's lock
}

bool InstanceGuard::acquire(const std::function<void()> &onRefused)
{
    if (m_held)
        return true;
    if (!m_lockPath.isEmpty() &&
        (m_lock.tryLock(0) || (m_lock.error() == QLockFile::LockFailedError &&
                               removeAbandonedLock() && m_lock.tryLock(0)))) {
        m_held = true;
        return true;
    }
    if (!m_lockPath.isEmpty() && m_lock.error() == QLockFile::LockFailedError) {
        // One refused copy tells the user at a time: a further copy waits here until that
        // box is dismissed (or its copy killed), then shows its own.
        QLockFile notice(m_lockPath + QStringLiteral(".notice"));
        notice.setStaleLockTime(0);
        notice.lock();
        if (onRefused)
            onRefused();
        return false;
    }
    m_unguardedWhere = m_lockPath.isEmpty()
                           ? QStringLiteral("$XDG_RUNTIME_DIR, /tmp, ~/.cache")
                           : QDir::toNativeSeparators(m_lockPath);
    const QString where =
        m_lockPath.isEmpty()
            ? QStringLiteral("no private folder for it in $XDG_RUNTIME_DIR, /tmp or ~/.cache")
            : QStringLiteral("cannot make %1").arg(m_unguardedWhere);
    m_unguardedWhy =
        QStringLiteral("Kavri runs without its single-instance lock (%1): a second Kavri started "
                       "now would not be stopped.")
            .arg(where);
    qCWarning(lcApp, "Kavri: %s", qPrintable(m_unguardedWhy));
    return true;
}
