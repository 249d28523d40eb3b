#include "kavrirun.h"

#include "common/childprocess.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QThread>

#include <csignal>
#include <functional>

namespace {

QByteArray fileText(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Looks every 20 ms until `done` holds; false when `timeoutMs` passed first. The program
// writes its files on its own schedule, so the test can only watch for the result.
bool pollUntil(const std::function<bool()> &done, int timeoutMs)
{
    QElapsedTimer t;
    t.start();
    while (!done()) {
        if (t.elapsed() > timeoutMs)
            return false;
        QThread::msleep(20);
    }
    return true;
}

} // namespace

KavriRun::KavriRun(const QString &display, const QString &runtimeDir, Options options)
    : m_display(display), m_runtimeDir(runtimeDir), m_options(options)
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
    env.remove(QStringLiteral("WAYLAND_DISPLAY"));
    env.remove(QStringLiteral("XAUTHORITY"));
    if (m_options.session.isEmpty())
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    else
        env.remove(QStringLiteral("QT_QPA_PLATFORM"));
    // The run's own bus, or none: never the bus of the desktop the suite runs in. A Wayland
    // session brings its own.
    if (m_options.busAddress.isEmpty())
        env.remove(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"));
    else
        env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), m_options.busAddress);
    for (const QString &name : m_options.session.keys())
        env.insert(name, m_options.session.value(name));
    env.insert(QStringLiteral("LD_PRELOAD"),
               KavriTest::preloadable(QStringLiteral(KAVRI_VDONGLE_LIBRARY), m_dir.path()));
    env.insert(QStringLiteral("KAVRI_VDONGLE"), m_dir.filePath(QStringLiteral("vdongle")));
    env.insert(QStringLiteral("KAVRI_VDONGLE_START"),
               m_options.donglePlugged ? QStringLiteral("plugged") : QStringLiteral("unplugged"));
    env.insert(QStringLiteral("TMPDIR"), m_dir.path());
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), m_dir.filePath(QStringLiteral("config")));
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), m_runtimeDir);
    m_process.setProcessEnvironment(env);
    m_process.setWorkingDirectory(m_dir.path());
    m_process.setProcessChannelMode(QProcess::MergedChannels);
    m_process.setStandardOutputFile(m_dir.filePath(QStringLiteral("output.txt")));
    return KavriTest::startTied(m_process, QStringLiteral(KAVRI_PROGRAM), QStringList());
}

QByteArray KavriRun::output() const
{
    return fileText(m_dir.filePath(QStringLiteral("output.txt")));
}

int KavriRun::command(const QStringList &arguments, QByteArray *said)
{
    QProcess command;
    command.setProcessEnvironment(m_process.processEnvironment());
    command.start(QStringLiteral(KAVRI_PROGRAM), arguments);
    const bool ended = command.waitForFinished(10000);
    if (said)
        *said = command.readAllStandardError();
    return ended && command.exitStatus() == QProcess::NormalExit ? command.exitCode() : -1;
}

void KavriRun::press(const QByteArray &command)
{
    QFile control(m_dir.filePath(QStringLiteral("vdongle")));
    if (control.open(QIODevice::Append))
        control.write(command + '\n');
}

QByteArray KavriRun::dongleLog() const
{
    return fileText(m_dir.filePath(QStringLiteral("vdongle.log")));
}

bool KavriRun::waitForDongleLog(const QByteArray &text, int timeoutMs) const
{
    return pollUntil([&] { return dongleLog().contains(text); }, timeoutMs);
}

QByteArray KavriRun::settingsText() const
{
    // The working directory's file when there is one, else the one under XDG_CONFIG_HOME.
    const QString here = m_dir.filePath(QStringLiteral("Kavri.ini"));
    return fileText(
        QFileInfo::exists(here) ? here : m_dir.filePath(QStringLiteral("config/kavri/Kavri.ini")));
}

bool KavriRun::waitForSettings(const QByteArray &line, int timeoutMs) const
{
    return pollUntil([&] { return settingsText().split('\n').contains(line); }, timeoutMs);
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
