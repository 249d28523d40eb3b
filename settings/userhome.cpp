#include "settings/userhome.h"

#include <QDir>
#include <QFile>

#include <pwd.h>
#include <unistd.h>

namespace UserHome {

namespace {

QString usable(const QString &home)
{
    if (home.isEmpty() || QDir::isRelativePath(home) || QDir::cleanPath(home) == QLatin1String("/"))
        return QString();
    return home;
}

} // namespace

QString fromUserDatabase()
{
    const passwd *user = ::getpwuid(::geteuid());
    return usable(user && user->pw_dir ? QFile::decodeName(user->pw_dir) : QString());
}

QString current()
{
    const QString home = usable(qEnvironmentVariable("HOME"));
    return home.isEmpty() ? fromUserDatabase() : home;
}

} // namespace UserHome
