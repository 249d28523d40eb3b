#pragma once

#include "common/childprocess.h"

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

namespace KavriTest {

// A session bus of the suite's own: dbus-daemon on a socket in a temporary folder, with no
// services to activate, ended with the suite (also when the suite dies).
class SessionBus final
{
public:
    ~SessionBus() { stopProcess(m_daemon, 5000); }

    // False when dbus-daemon is not installed or did not come up.
    bool start()
    {
        QFile config(m_dir.filePath(QStringLiteral("bus.conf")));
        m_address = QStringLiteral("unix:path=%1/bus").arg(m_dir.path());
        if (!m_dir.isValid() || !config.open(QIODevice::WriteOnly) ||
            config.write("<busconfig><type>session</type><listen>" + m_address.toUtf8() +
                         "</listen><auth>EXTERNAL</auth><policy context=\"default\"><allow "
                         "send_destination=\"*\" eavesdrop=\"true\"/><allow eavesdrop=\"true\"/>"
                         "<allow own=\"*\"/></policy></busconfig>\n") < 0)
            return false;
        config.close();
        return startTied(m_daemon, QStringLiteral("dbus-daemon"),
                         {QStringLiteral("--nofork"), "--config-file=" + config.fileName(),
                          QStringLiteral("--print-address")}) &&
               m_daemon.waitForReadyRead(10000);
    }
    QString address() const { return m_address; }

private:
    QTemporaryDir m_dir;
    QProcess m_daemon;
    QString m_address;
};

} // namespace KavriTest
