#include "overlay/capture/screenshotfile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <limits>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QString kindOf(mode_t mode)
{
    if (S_ISLNK(mode))
        return QStringLiteral("is a link");
    if (S_ISFIFO(mode))
        return QStringLiteral("is a FIFO");
    if (S_ISCHR(mode) || S_ISBLK(mode))
        return QStringLiteral("is a device");
    if (S_ISSOCK(mode))
        return QStringLiteral("is a socket");
    if (S_ISDIR(mode))
        return QStringLiteral("is a folder");
    return QStringLiteral("is not a regular file");
}

// Why a file of this status may not be read, or empty when it may.
QString refusal(const struct stat &st)
{
    if (!S_ISREG(st.st_mode))
        return kindOf(st.st_mode);
    if (st.st_uid != ::geteuid())
        return QStringLiteral("belongs to another user (uid %1)").arg(st.st_uid);
    return QString();
}

QString errorText(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

} // namespace

ScreenshotFile::~ScreenshotFile()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

bool ScreenshotFile::open(const QString &path, QString *why)
{
    if (!QDir::isAbsolutePath(path)) {
        *why = QStringLiteral("is not an absolute path");
        return false;
    }
    const QByteArray name = QFile::encodeName(path);
    struct stat named = {};
    if (::lstat(name.constData(), &named) != 0) {
        *why = errorText(errno);
        return false;
    }
    if (const QString no = refusal(named); !no.isEmpty()) {
        *why = no;
        return false;
    }
    // The name may have been swapped since: O_NOFOLLOW refuses a link put there, O_NONBLOCK
    // keeps a FIFO put there from waiting for a writer, and fstat tells what was opened.
    const int fd =
        ::open(name.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        *why = errno == ELOOP ? QStringLiteral("is a link") : errorText(errno);
        return false;
    }
    struct stat opened = {};
    QString no = ::fstat(fd, &opened) != 0 ? errorText(errno) : refusal(opened);
    if (no.isEmpty() && (opened.st_dev != named.st_dev || opened.st_ino != named.st_ino))
        no = QStringLiteral("changed while it was opened");
    if (!no.isEmpty()) {
        ::close(fd);
        *why = no;
        return false;
    }
    m_path = path;
    m_fd = fd;
    m_device = opened.st_dev;
    m_inode = opened.st_ino;
    return true;
}

bool ScreenshotFile::read(qint64 maxBytes, QByteArray *bytes, QString *why)
{
    struct stat st = {};
    if (m_fd < 0 || ::fstat(m_fd, &st) != 0) {
        *why = QStringLiteral("cannot be read");
        return false;
    }
    // A QByteArray holds less than 2 GB in any case.
    maxBytes = std::min<qint64>(maxBytes, std::numeric_limits<int>::max() / 2);
    if (st.st_size > maxBytes) {
        *why = QStringLiteral("holds %1 bytes, more than a picture of the screen needs")
                   .arg(qint64(st.st_size));
        return false;
    }
    bytes->clear();
    bytes->reserve(int(st.st_size));
    char chunk[65536];
    for (;;) {
        const ssize_t got = ::read(m_fd, chunk, sizeof chunk);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0) {
            *why = errorText(errno);
            return false;
        }
        if (got == 0)
            return true;
        // A file that grows while it is read is held to the same bound.
        if (bytes->size() + got > maxBytes) {
            *why = QStringLiteral("grew beyond what a picture of the screen needs");
            return false;
        }
        bytes->append(chunk, int(got));
    }
}

bool ScreenshotFile::isDirectlyIn(const QString &path, const QStringList &folders)
{
    const QFileInfo file(path);
    if (!file.isAbsolute() || file.fileName().isEmpty())
        return false;
    const QString parent = QDir::cleanPath(file.absolutePath());
    for (const QString &folder : folders) {
        if (folder.isEmpty() || !QDir::isAbsolutePath(folder))
            continue;
        const QString root = QFileInfo(folder).canonicalFilePath();
        if (root.isEmpty() || root == QDir::rootPath() ||
            root == QFileInfo(QDir::homePath()).canonicalFilePath())
            continue;
        if (parent == QDir::cleanPath(folder) || parent == root)
            return true;
    }
    return false;
}

bool ScreenshotFile::removeIfDirectlyIn(const QStringList &folders)
{
    if (m_fd < 0 || !isDirectlyIn(m_path, folders))
        return false;
    const QFileInfo file(m_path);
    const int folder = ::open(QFile::encodeName(file.absolutePath()).constData(),
                              O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder < 0)
        return false;
    const QByteArray name = QFile::encodeName(file.fileName());
    struct stat now = {};
    // In a temporary folder (sticky) nobody else can rename or remove this user's file, so
    // the name checked here is the name removed.
    const bool same = ::fstatat(folder, name.constData(), &now, AT_SYMLINK_NOFOLLOW) == 0 &&
                      S_ISREG(now.st_mode) && now.st_uid == ::geteuid() && now.st_dev == m_device &&
                      now.st_ino == m_inode;
    const bool removed = same && ::unlinkat(folder, name.constData(), 0) == 0;
    ::close(folder);
    return removed;
}
