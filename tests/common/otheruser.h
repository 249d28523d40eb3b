#pragma once

#include "common/childprocess.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QString>
#include <QTemporaryDir>

#include <grp.h>
#include <memory>
#include <pwd.h>
#include <unistd.h>
#include <vector>

namespace KavriTest {

// A second local user, for checks of what one user's files or processes do to another's.
// The machine's accounts are left as they are: the user is a uid and gid that no account and
// no group has, and programs run as it inside a private mount namespace whose /etc/passwd
// and /etc/group list it (X servers let their own user in by name). There is nothing to
// remove afterwards, also when a suite is killed. Only root can do this: `uid` stays -1
// otherwise, and the caller skips.
class OtherUser final
{
public:
    OtherUser()
    {
        if (::geteuid() != 0)
            return;
        // Chosen from this process's id: suites running side by side get users of their own.
        const uid_t first = 2300000 + uid_t(::getpid()) % 1000000;
        for (uid_t id = first; id < first + 100; ++id) {
            if (!::getpwuid(id) && !::getgrgid(gid_t(id))) {
                uid = int(id);
                gid = int(id);
                break;
            }
        }
        // A name no account and no group has either: X servers look their user up by name.
        for (int n = 0; uid >= 0 && n < 100; ++n) {
            name = QStringLiteral("kavri-test-peer") + (n ? QString::number(n) : QString());
            const QByteArray latin = name.toLatin1();
            if (!::getpwnam(latin.constData()) && !::getgrnam(latin.constData()))
                return;
        }
        uid = gid = -1;
    }

    QString name;
    int uid = -1;
    int gid = -1;

    // Starts `program` as this user, tied to the caller's life like startTied(). The
    // program must be reachable for this user: see reachableFolder().
    bool start(QProcess &process, const QString &program, const QStringList &arguments)
    {
        if (uid < 0 || !writeAccounts())
            return false;
        const QString script = QStringLiteral(
            "mount --bind \"$1\" /etc/passwd && mount --bind \"$2\" /etc/group && shift 2 && "
            "exec setpriv --reuid=%1 --regid=%1 --clear-groups --pdeathsig TERM -- \"$@\"");
        return startTied(process, QStringLiteral("unshare"),
                         QStringList{QStringLiteral("--mount"), QStringLiteral("--propagation"),
                                     QStringLiteral("private"), QStringLiteral("--"),
                                     QStringLiteral("/bin/sh"), QStringLiteral("-c"),
                                     script.arg(uid), QStringLiteral("sh"),
                                     m_accounts->filePath(QStringLiteral("passwd")),
                                     m_accounts->filePath(QStringLiteral("group")), program} +
                             arguments);
    }

    // A new folder in /tmp that this user may enter (mode 0711), removed with this object.
    // A checkout, and TMPDIR, may be private to the one who made them.
    QString reachableFolder()
    {
        auto dir = std::make_unique<QTemporaryDir>(QStringLiteral("/tmp/kavri-test-XXXXXX"));
        if (!dir->isValid() ||
            !QFile::setPermissions(dir->path(), QFile::ReadOwner | QFile::WriteOwner |
                                                    QFile::ExeOwner | QFile::ExeGroup |
                                                    QFile::ExeOther))
            return QString();
        m_folders.push_back(std::move(dir));
        return m_folders.back()->path();
    }

    // A copy of the program `file` that this user may run, in a reachableFolder().
    QString reachableCopy(const QString &file)
    {
        const QString folder = reachableFolder();
        const QString copy = folder + QLatin1Char('/') + QFileInfo(file).fileName();
        if (folder.isEmpty() || !QFile::copy(file, copy) ||
            !QFile::setPermissions(copy, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner |
                                             QFile::ReadOther | QFile::ExeOther | QFile::ReadGroup |
                                             QFile::ExeGroup))
            return QString();
        return copy;
    }

private:
    // The machine's account files with this user added, seen only inside its namespace.
    bool writeAccounts()
    {
        if (m_accounts)
            return true;
        auto dir = std::make_unique<QTemporaryDir>();
        if (!dir->isValid())
            return false;
        const QByteArray id = QByteArray::number(uid);
        const QByteArray user = name.toLatin1();
        const QList<std::pair<QString, QByteArray>> files = {
            {QStringLiteral("passwd"), user + ":x:" + id + ":" + id + "::/nonexistent:/bin/sh\n"},
            {QStringLiteral("group"), user + ":x:" + id + ":\n"}};
        for (const auto &file : files) {
            QFile system(QStringLiteral("/etc/") + file.first);
            QFile ours(dir->filePath(file.first));
            if (!system.open(QIODevice::ReadOnly) || !ours.open(QIODevice::WriteOnly) ||
                ours.write(system.readAll() + file.second) < 0)
                return false;
            ours.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup |
                                QFile::ReadOther);
        }
        m_accounts = std::move(dir);
        return true;
    }

    std::unique_ptr<QTemporaryDir> m_accounts;
    std::vector<std::unique_ptr<QTemporaryDir>> m_folders;
};

} // namespace KavriTest
