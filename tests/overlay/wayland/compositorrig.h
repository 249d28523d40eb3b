#pragma once

#include <QDBusConnection>
#include <QImage>
#include <QPoint>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>

#include "common/otheruser.h"

#include <memory>
#include <vector>

// A headless Wayland compositor with XWayland, 1280x800, for the Wayland suite: sway (run as a
// second user, as it refuses root), mutter or GNOME Shell (with their own session bus,
// PipeWire and WirePlumber; the shell also with a stand-in system bus and the desktop portal)
// or KWin (with its own session bus and data folder). It moves and clicks the
// pointer and presses keys through the compositor's own interfaces, and takes screenshots the
// compositor allows. Every socket and folder is the rig's own, so it never meets another
// compositor on the machine. Needs root.
class CompositorRig final
{
public:
    enum class Kind { Sway, Mutter, KWin, GnomeShell };
    static constexpr int Width = 1280;
    static constexpr int Height = 800;

    explicit CompositorRig(Kind kind);
    ~CompositorRig();
    CompositorRig(const CompositorRig &) = delete;
    CompositorRig &operator=(const CompositorRig &) = delete;

    // False, with why(), when the compositor or a tool is missing or does not come up;
    // missing() tells the first from the second.
    bool start();
    QString why() const { return m_why; }
    bool missing() const { return m_missing; }

    // What a client of this session needs: WAYLAND_DISPLAY (a full path), DISPLAY and
    // XAUTHORITY for XWayland, the desktop's name, and on mutter its session bus and PipeWire.
    QProcessEnvironment session() const { return m_session; }

    bool movePointer(const QPoint &to);
    bool click();               // where the pointer is
    bool pressKey(char letter); // a lower-case letter
    QImage screenshot();
    // What must be gone once the rig is: the compositor's XWayland lock file, every process
    // of sway's user, every process and mount of the session (by its runtime folder).
    // leftoversOf() is empty when nothing is left.
    struct Trace
    {
        QString lockFile;
        qint64 compositorPid = 0;
        int peerUid = -1;
        QString runtime;
    };
    Trace trace() const;
    static QString leftoversOf(const Trace &trace);

    // The screen casts running, one line each: mutter's screen cast sessions and PipeWire's
    // video nodes. Once a program's cast has ended the list is what it was before.
    QStringList screenCasts();

    // The X windows of a process that XWayland shows, with their places ("none" without):
    // for the reader of a failed check, and to know that a program's windows are up.
    QByteArray visibleXWindows(qint64 pid);

private:
    static QList<qint64> sessionProcesses(const QString &runtime);
    static QStringList sessionMounts(const QString &runtime);
    static QString sessionLeftovers(const QString &runtime);
    bool startSway();
    bool startMutter();
    bool startKWin();
    bool waitForShell();
    bool portalTakesScreenshots();
    void watchLockFiles();
    QImage kwinScreenshot();
    bool launch(QProcess &process, const QString &program, const QStringList &arguments,
                const QProcessEnvironment &env);
    bool tool(const QString &program, const QStringList &arguments, QByteArray *out = nullptr);
    bool startVirtualPointer();
    bool pointerCommand(const QByteArray &command);
    bool callMutter(const QString &path, const QString &interface, const QString &method,
                    const QVariantList &arguments, QVariant *reply = nullptr);
    bool findXWayland(qint64 compositorPid);

    Kind m_kind;
    QString m_why;
    bool m_missing = false;
    QTemporaryDir m_dir;
    KavriTest::OtherUser m_peer; // sway's user
    QString m_runtime;
    QProcessEnvironment m_session;
    QProcessEnvironment m_tools;                        // for grim, swaymsg, wtype, gst-launch-1.0
    std::vector<std::unique_ptr<QProcess>> m_processes; // stopped last to first
    QProcess *m_compositor = nullptr;
    QProcess *m_pointer = nullptr; // sway, KWin: the virtual pointer (on KWin also keys)
    QString m_bus;                 // mutter, KWin: the session bus
    QString m_remoteDesktop;       // mutter: the remote desktop session's object path
    QString m_stream;              // mutter: its screen cast stream's object path
    quint32 m_node = 0;            // mutter: that stream's PipeWire node
};
