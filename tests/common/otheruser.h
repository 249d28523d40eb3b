#pragma once

#include <QProcess>
#include <QString>

#include <pwd.h>
#include <unistd.h>

namespace KavriTest {

// A second local account, for checks of what one user's files or processes do to another's.
// Made with useradd when it does not exist yet, which only root can do: `uid` stays -1 when
// there is no such account, and the caller skips.
struct OtherUser
{
    QString name = QStringLiteral("kavri-test-peer");
    int uid = -1;
    int gid = -1;
};

inline OtherUser otherUser()
{
    OtherUser user;
    const QByteArray name = user.name.toLatin1();
    if (!::getpwnam(name.constData()) && ::geteuid() == 0) {
        QProcess::execute(QStringLiteral("useradd"),
                          {QStringLiteral("--system"), QStringLiteral("--no-create-home"),
                           QStringLiteral("--shell"), QStringLiteral("/bin/sh"), user.name});
    }
    if (const passwd *pw = ::getpwnam(name.constData())) {
        user.uid = static_cast<int>(pw->pw_uid);
        user.gid = static_cast<int>(pw->pw_gid);
    }
    return user;
}

} // namespace KavriTest
