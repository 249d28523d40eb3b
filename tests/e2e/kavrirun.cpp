#include "kavrirun.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QThread>

#include <csignal>

KavriRun::KavriRun(const QString &display, const QString &lockDir, const QString &runtimeDir,
                   Options options)
    : m_display(display), m_lockDir(lockDir), m_runtimeDir(runtimeDir), m_options(options)
{
}

KavriRun::~KavriRun()
{
    if (m_process.state() != QProcess::NotRunning) {
        m_process.kill();
        m_process.waitForFinished(5000);
    }
}

bool KavriRun::start()
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DISPLAY"), m_display);
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    env.remove(QStringLiteral("WAYLAND_DISPLAY"));
    env.insert(QStringLiteral("LD_PRELOAD"), QStringLiteral(KAVRI_VDONGLE_LIBRARY));
    env.insert(QStringLiteral("KAVRI_VDONGLE"), m_dir.filePath(QStringLiteral("vdongle")));
    env.insert(QStringLiteral("KAVRI_VDONGLE_START"),
               m_options.donglePlugged ? QStringLiteral("plugged") : QStringLiteral("unplugged"));
    env.insert(QStringLiteral("TMPDIR"), m_lockDir);
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), m_runtimeDir);
    m_process.setProcessEnvironment(env);
    m_process.setWorkingDirectory(m_dir.path());
    m_process.setProcessChannelMode(QProcess::MergedChannels);
    m_process.setStandardOutputFile(m_dir.filePath(QStringLiteral("output.txt")));
    m_process.start(QStringLiteral(KAVRI_PROGRAM), QStringList());
    return m_process.waitForStarted(10000);
}

void KavriRun::press(const QByteArray &command)
{
    QFile control(m_dir.filePath(QStringLiteral("vdongle")));
    if (control.open(QIODevice::Append))
        control.write(command + '\n');
}

QByteArray KavriRun::dongleLog() const
{
    QFile log(m_dir.filePath(QStringLiteral("vdongle.log")));
    return log.open(QIODevice::ReadOnly) ? log.readAll() : QByteArray();
}

bool KavriRun::waitForDongleLog(const QByteArray &text, int timeoutMs) const
{
    QElapsedTimer t;
    t.start();
    while (!dongleLog().contains(text)) {
        if (t.elapsed() > timeoutMs)
            return false;
        QThread::msleep(20);
    }
    return true;
}

QByteArray KavriRun::settingsText() const
{
    QFile ini(m_dir.filePath(QStringLiteral("Kavri.ini")));
    return ini.open(QIODevice::ReadOnly) ? ini.readAll() : QByteArray();
}

bool KavriRun::waitForSettings(const QByteArray &line, int timeoutMs) const
{
    QElapsedTimer t;
    t.start();
    while (!settingsText().split('\n').contains(line)) {
        if (t.elapsed() > timeoutMs)
            return false;
        QThread::msleep(20);
    }
    return true;
}

bool KavriRun::terminate(int timeoutMs)
{
    if (m_process.state() == QProcess::NotRunning)
        return true;
    m_process.terminate();
    return m_process.waitForFinished(timeoutMs);
}

bool KavriRun::killHard()
{
    m_process.kill();
    return m_process.waitForFinished(10000);
}

bool KavriRun::waitForExit(int timeoutMs)
{
    return m_process.state() == QProcess::NotRunning || m_process.waitForFinished(timeoutMs);
}
