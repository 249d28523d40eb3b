#include "settings/settingslocation.h"

#include "settings/userhome.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace SettingsLocation {

namespace {

const QLatin1String FileName("Kavri.ini");
// Longer chains than this are refused, as the kernel refuses them (ELOOP).
constexpr int MaxLinkHops = 40;

QString kindOf(mode_t mode)
{
    if (S_ISDIR(mode))
        return QStringLiteral("a directory");
    if (S_ISFIFO(mode))
        return QStringLiteral("a FIFO");
    if (S_ISCHR(mode) || S_ISBLK(mode))
        return QStringLiteral("a device");
    if (S_ISSOCK(mode))
        return QStringLiteral("a socket");
    return QStringLiteral("not a regular file");
}

Access refused(const QString &path, const QString &why)
{
    return {Verdict::Refused,
            QStringLiteral("Kavri: the settings file %1 is %2; Kavri uses its default settings "
                           "for this run and writes nothing there.")
                .arg(path, why)};
}

bool lstatOf(const QByteArray &path, struct stat *st, int *error)
{
    if (::lstat(path.constData(), st) == 0)
        return true;
    *error = errno;
    return false;
}

// The target of the link at `link`, relative targets taken from the link's folder.
QByteArray linkTarget(const QByteArray &link)
{
    QByteArray buffer(4096, '\0');
    const ssize_t n = ::readlink(link.constData(), buffer.data(), buffer.size());
    if (n <= 0 || n >= buffer.size())
        return QByteArray();
    buffer.truncate(static_cast<int>(n));
    if (buffer.startsWith('/'))
        return buffer;
    const int slash = link.lastIndexOf('/');
    return slash < 0 ? buffer : link.left(slash + 1) + buffer;
}

Access renameAside(const QString &path)
{
    const QString stamp = QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss"));
    const QString base = path + QStringLiteral(".corrupt-") + stamp;
    QString aside = base;
    struct stat st = {};
    for (int n = 2; ::lstat(QFile::encodeName(aside).constData(), &st) == 0; ++n)
        aside = base + QLatin1Char('-') + QString::number(n);
    if (::rename(QFile::encodeName(path).constData(), QFile::encodeName(aside).constData()) != 0)
        return refused(path, QStringLiteral("larger than 1 MiB and could not be renamed aside "
                                            "(%1)")
                                 .arg(QString::fromLocal8Bit(std::strerror(errno))));
    return {Verdict::Absent,
            QStringLiteral("Kavri: the settings file %1 was larger than 1 MiB, so it cannot be "
                           "Kavri's; it was renamed to %2 and Kavri starts from the default "
                           "settings.")
                .arg(path, aside)};
}

} // namespace

QString filePath()
{
    struct stat st = {};
    if (::lstat(QFile::encodeName(FileName).constData(), &st) == 0)
        return QDir::current().absoluteFilePath(FileName);
    // Relative values are invalid by the XDG base directory rules and are ignored.
    QString configHome = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (configHome.isEmpty() || QDir::isRelativePath(configHome)) {
        const QString home = UserHome::current();
        if (home.isEmpty())
            return QString();
        configHome = home + QStringLiteral("/.config");
    }
    return configHome + QStringLiteral("/kavri/") + FileName;
}

Access inspect(const QString &path)
{
    const uid_t me = ::geteuid();
    QByteArray current = QFile::encodeName(path);
    struct stat st = {};
    int error = 0;
    if (!lstatOf(current, &st, &error)) {
        if (error == ENOENT)
            return {Verdict::Absent, QString()};
        return refused(path, QStringLiteral("not accessible (%1)")
                                 .arg(QString::fromLocal8Bit(std::strerror(error))));
    }
    // Every link on the way must be ours: a link of someone else's could be pointed anywhere
    // between this check and the write.
    bool throughLink = false;
    for (int hops = 0; S_ISLNK(st.st_mode); ++hops) {
        if (st.st_uid != me)
            return refused(path, throughLink ? QStringLiteral("a link through another user's link")
                                             : QStringLiteral("another user's link"));
        if (hops == MaxLinkHops)
            return refused(path, QStringLiteral("a chain of links that does not end"));
        throughLink = true;
        current = linkTarget(current);
        if (current.isEmpty() || !lstatOf(current, &st, &error)) {
            return refused(path,
                           error == ENOENT || current.isEmpty()
                               ? QStringLiteral("a link to a missing path")
                               : QStringLiteral("a link to a path that is not accessible (%1)")
                                     .arg(QString::fromLocal8Bit(std::strerror(error))));
        }
    }
    if (!S_ISREG(st.st_mode))
        return refused(path, throughLink ? QStringLiteral("a link to %1").arg(kindOf(st.st_mode))
                                         : kindOf(st.st_mode));
    if (st.st_uid != me)
        return refused(path, throughLink ? QStringLiteral("a link to another user's file")
                                         : QStringLiteral("another user's file"));
    if (st.st_size > MaxFileSize)
        return renameAside(path);
    return {Verdict::Usable, QString()};
}

bool makeFolder(const QString &path)
{
    const QString folder = QFileInfo(path).absolutePath();
    // New folders are private to the user, as the XDG base directory rules ask.
    QString built;
    const QStringList parts = folder.split(QLatin1Char('/'), Qt::SkipEmptyParts);
    for (const QString &part : parts) {
        built += QLatin1Char('/') + part;
        const QByteArray native = QFile::encodeName(built);
        if (::mkdir(native.constData(), 0700) != 0 && errno != EEXIST)
            return false;
    }
    return QFileInfo(folder).isDir();
}

} // namespace SettingsLocation
