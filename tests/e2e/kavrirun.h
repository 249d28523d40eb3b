#pragma once

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QTemporaryDir>

#include <memory>

// One run of the real kavri program for the end-to-end tests: a fresh working directory (so
// "./Kavri.ini" starts absent) that is also its TMPDIR and holds its XDG_CONFIG_HOME, the
// virtual presenter preloaded in front of hidapi, and the suite's own XDG_RUNTIME_DIR, where
// the single-instance lock lives, shared by all runs of the suite (so copies see each other)
// and by no other Kavri on the machine.
class KavriRun final
{
public:
    struct Options
    {
        bool donglePlugged = true;
        // A Wayland session's variables (WAYLAND_DISPLAY, XAUTHORITY, ...): with them the
        // program picks its platform itself, as on a desktop; without, it runs on `display`.
        QProcessEnvironment session;
        // The session bus the run and its commands use; empty: none.
        QString busAddress;
    };

    KavriRun(const QString &display, const QString &runtimeDir, Options options);
    ~KavriRun();
    KavriRun(const KavriRun &) = delete;
    KavriRun &operator=(const KavriRun &) = delete;

    bool start();
    qint64 pid() const { return m_process.processId(); }
    bool isRunning() const { return m_process.state() == QProcess::Running; }
    QProcess &process() { return m_process; }
    // What the program printed so far (standard output and error).
    QByteArray output() const;

    // `kavri <arguments>` for this run, as a desktop shortcut would run it: the exit status,
    // with standard error in `said`.
    int command(const QStringList &arguments, QByteArray *said = nullptr);

    // The virtual presenter: send a command line, read what the dongle saw.
    void press(const QByteArray &command);
    QByteArray dongleLog() const;
    bool waitForDongleLog(const QByteArray &text, int timeoutMs) const;

    QString workDir() const { return m_dir.path(); }
    // The settings file the run uses: ./Kavri.ini, or Kavri.ini under its XDG_CONFIG_HOME.
    QByteArray settingsText() const;
    bool waitForSettings(const QByteArray &line, int timeoutMs) const;

    // Ends the run: SIGTERM and wait, or kill -9 and wait. True when the process ended.
    bool terminate(int timeoutMs = 10000);
    bool killHard();
    bool waitForExit(int timeoutMs);

private:
    QTemporaryDir m_dir;
    QProcess m_process;
    QString m_display;
    QString m_runtimeDir;
    Options m_options;
};
