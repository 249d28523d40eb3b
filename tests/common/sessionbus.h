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
    SessionBus() = default;
    ~SessionBus() { stopProcess(m_daemon, 5000); }
    SessionBus(const SessionBus &) = delete;
    SessionBus &operator=(const SessionBus &) = delete;

    // False when dbus-daemon is not installed or did not come up.
    bool start()
    {
        if (!m_dir.isValid())
            return false;
        const QString config = m_dir.filePath(QStringLiteral("bus.conf"));
        QFile file(config);
        if (!file.open(QIODevice::WriteOnly))
            return false;
        file.write(QStringLiteral("<busconfig><type>session</type>"
                                  "<listen>unix:path=%1/bus</listen><auth>EXTERNAL</auth>"
                                  "<policy context=\"default\">"
                                  "<allow send_destination=\"*\" eavesdrop=\"true\"/>"
                                  "<allow eavesdrop=\"true\"/><allow own=\"*\"/>"
                                  "</policy></busconfig>\n")
                       .arg(m_dir.path())
                       .toUtf8());
        file.close();
        if (!startTied(m_daemon, QStringLiteral("dbus-daemon"),
                       {QStringLiteral("--nofork"), QStringLiteral("--print-address"),
                        QStringLiteral("--config-file=") + config}))
            return false;
        if (!m_daemon.waitForReadyRead(10000))
            return false;
        m_address = QString::fromUtf8(m_daemon.readLine()).trimmed();
        return !m_address.isEmpty();
    }

    QString address() const { return m_address; }

private:
    QTemporaryDir m_dir;
    QProcess m_daemon;
    QString m_address;
};

} // namespace KavriTest
