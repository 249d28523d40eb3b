#include "compositorrig.h"

#include "common/childprocess.h"
#include "common/otheruser.h"

#include <QDBusArgument>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingCall>
#include <QDBusUnixFileDescriptor>
#include <QDBusVariant>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QtTest>

#include <functional>
#include <map>

#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const QString RemoteDesktop = QStringLiteral("org.gnome.Mutter.RemoteDesktop");
const QString ScreenCast = QStringLiteral("org.gnome.Mutter.ScreenCast");
const QString KWin = QStringLiteral("org.kde.KWin");

// Looks every 50 ms, keeping the test's event loop running, until `done` holds.
bool waitFor(const std::function<bool()> &done, int timeoutMs)
{
    QElapsedTimer t;
    t.start();
    while (!done()) {
        if (t.elapsed() > timeoutMs)
            return false;
        QTest::qWait(50);
    }
    return true;
}

QString firstMatch(const QString &folder, const QString &pattern)
{
    const QStringList found = QDir(folder).entryList({pattern}, QDir::System | QDir::Files);
    return found.isEmpty() ? QString() : QDir(folder).filePath(found.first());
}

// The Linux key code of a lower-case letter, row by row; 0 for any other.
uint keyCode(char letter)
{
    static const QByteArray rows[] = {"qwertyuiop", "asdfghjkl", "zxcvbnm"};
    static const uint firstCode[] = {16, 30, 44};
    for (int row = 0; row < 3; ++row) {
        const int at = rows[row].indexOf(letter);
        if (at >= 0)
            return firstCode[row] + uint(at);
    }
    return 0;
}

// A desktop file that names `program`: KWin lets a program use the restricted D-Bus
// interfaces its desktop file lists.
bool writeDesktopFile(const QString &file, const QString &program, const QByteArray &name)
{
    QFile desktop(file);
    const QByteArray exec = QFile::encodeName(program);
    return desktop.open(QIODevice::WriteOnly) &&
           desktop.write("[Desktop Entry]\nType=Application\nName=" + name +
                         "\nExec=" + (exec.contains(' ') ? '"' + exec + '"' : exec) +
                         "\nNoDisplay=true\n"
                         "X-KDE-DBUS-Restricted-Interfaces=org.kde.KWin.ScreenShot2\n"
                         "X-KDE-Wayland-Interfaces=zkde_screencast_unstable_v1,"
                         "org_kde_plasma_window_management\n") > 0;
}

// The PipeWire node of the screen cast stream arrives as a D-Bus signal after Start.
class StreamWatch final : public QObject
{
    Q_OBJECT
public:
    quint32 node = 0;
public slots:
    void added(uint id) { node = id; }
};

// The desktop portal answers a request with a signal on the request's own object.
class PortalAnswer final : public QObject
{
    Q_OBJECT
public:
    int code = -1; // 0: done
    QString uri;
public slots:
    void answered(uint response, const QVariantMap &results)
    {
        code = int(response);
        uri = results.value(QStringLiteral("uri")).toString();
    }
};

} // namespace

CompositorRig::CompositorRig(Kind kind) : m_kind(kind) {}

CompositorRig::~CompositorRig()
{
    // With its remote desktop session still running, mutter does not end on SIGTERM within
    // seconds; killed, it would leave its XWayland's lock files in /tmp.
    if (!m_remoteDesktop.isEmpty())
        callMutter(m_remoteDesktop, RemoteDesktop + ".Session", "Stop", {});
    if (!m_bus.isEmpty())
        QDBusConnection::disconnectFromBus(m_bus);
    if (m_pointer)
        m_pointer->closeWriteChannel();
    for (auto it = m_processes.rbegin(); it != m_processes.rend(); ++it)
        KavriTest::stopProcess(**it, 5000);
    // The services the session bus started (the portal, dconf, ...) end with their bus, and
    // the document portal's file system with it; what has not ended in time is ended here.
    if (!m_runtime.isEmpty() &&
        !waitFor([&] { return sessionLeftovers(m_runtime).isEmpty(); }, 3000)) {
        for (const qint64 pid : sessionProcesses(m_runtime))
            ::kill(pid_t(pid), SIGKILL);
        for (const QString &mount : sessionMounts(m_runtime))
            QProcess::execute(QStringLiteral("umount"), {QStringLiteral("-l"), mount});
    }
}

// The processes of this session: their XDG_RUNTIME_DIR is its folder.
QList<qint64> CompositorRig::sessionProcesses(const QString &runtime)
{
    QList<qint64> found;
    const QByteArray mark = "XDG_RUNTIME_DIR=" + QFile::encodeName(runtime);
    for (const QString &pid : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
        QFile environ(QStringLiteral("/proc/%1/environ").arg(pid));
        if (pid.toLongLong() > 0 && environ.open(QIODevice::ReadOnly) &&
            environ.readAll().split('\0').contains(mark))
            found << pid.toLongLong();
    }
    return found;
}

QStringList CompositorRig::sessionMounts(const QString &runtime)
{
    QStringList found;
    QFile mounts(QStringLiteral("/proc/self/mounts"));
    if (mounts.open(QIODevice::ReadOnly))
        for (const QByteArray &line : mounts.readAll().split('\n')) {
            const QString point = QString::fromLocal8Bit(line.split(' ').value(1));
            if (point.startsWith(runtime + QLatin1Char('/')))
                found << point;
        }
    return found;
}

QString CompositorRig::sessionLeftovers(const QString &runtime)
{
    QString left;
    for (const qint64 pid : sessionProcesses(runtime)) {
        QFile comm(QStringLiteral("/proc/%1/comm").arg(pid));
        left += QStringLiteral("process %1 (%2) ")
                    .arg(pid)
                    .arg(comm.open(QIODevice::ReadOnly)
                             ? QString::fromLocal8Bit(comm.readAll().trimmed())
                             : QString());
    }
    for (const QString &mount : sessionMounts(runtime))
        left += QStringLiteral("mount ") + mount + QLatin1Char(' ');
    return left;
}

bool CompositorRig::start()
{
    if (::geteuid() != 0) {
        m_why = QStringLiteral("the Wayland rigs need root");
        m_missing = true;
        return false;
    }
    m_runtime = m_dir.filePath(QStringLiteral("run"));
    m_tools = QProcessEnvironment::systemEnvironment();
    m_tools.insert(QStringLiteral("XDG_RUNTIME_DIR"), m_runtime);
    QDir().mkdir(m_runtime);
    ::chmod(QFile::encodeName(m_runtime).constData(), 0700);
    switch (m_kind) {
    case Kind::Sway:
        return startSway();
    case Kind::Mutter:
        return startMutter();
    case Kind::KWin:
        return startKWin();
    case Kind::GnomeShell:
        return startMutter();
    }
    return false;
}

bool CompositorRig::launch(QProcess &process, const QString &program, const QStringList &arguments,
                           const QProcessEnvironment &env)
{
    process.setProcessEnvironment(env);
    process.setStandardOutputFile(m_dir.filePath(QFileInfo(program).fileName() + ".log"));
    process.setProcessChannelMode(QProcess::MergedChannels);
    if (!KavriTest::startTied(process, program, arguments)) {
        m_why = program + QStringLiteral(" could not be started (is it installed?)");
        m_missing =
            !QFileInfo(program).isAbsolute() && QStandardPaths::findExecutable(program).isEmpty();
        return false;
    }
    return true;
}

bool CompositorRig::tool(const QString &program, const QStringList &arguments, QByteArray *out)
{
    QProcess p;
    p.setProcessEnvironment(m_tools);
    p.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    p.start(program, arguments);
    const bool ok =
        p.waitForFinished(10000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
    if (out)
        *out = p.readAllStandardOutput();
    return ok;
}

// The X display whose lock file names the compositor: sway writes its own pid there.
bool CompositorRig::findXWayland(qint64 compositorPid)
{
    return waitFor(
        [&] {
            for (const QString &name : QDir(QStringLiteral("/tmp"))
                                           .entryList({QStringLiteral(".X*-lock")},
                                                      QDir::Hidden | QDir::Files, QDir::Name)) {
                QFile lock(QStringLiteral("/tmp/") + name);
                if (lock.open(QIODevice::ReadOnly) &&
                    lock.readAll().replace('\0', "").trimmed().toLongLong() == compositorPid) {
                    m_session.insert(QStringLiteral("DISPLAY"),
                                     ":" + name.mid(2).section('-', 0, 0));
                    return true;
                }
            }
            return false;
        },
        15000);
}

bool CompositorRig::startSway()
{
    if (m_peer.uid < 0) {
        m_why = QStringLiteral("no second user for sway");
        m_missing = true;
        return false;
    }
    // sway's user must reach its configuration and runtime folder; the rig's own folder may
    // lie in a private TMPDIR.
    const QString folder = m_peer.reachableFolder();
    m_runtime = folder + QStringLiteral("/run");
    if (folder.isEmpty() || !QDir().mkdir(m_runtime) ||
        ::chown(QFile::encodeName(m_runtime).constData(), static_cast<uid_t>(m_peer.uid),
                static_cast<gid_t>(m_peer.gid)) != 0 ||
        ::chmod(QFile::encodeName(m_runtime).constData(), 0700) != 0) {
        m_why = QStringLiteral("no runtime folder for sway's user");
        return false;
    }
    // XWayland's socket folder is shared by every X server; made by sway's user, it would
    // belong to that user.
    if (!QFileInfo::exists(QStringLiteral("/tmp/.X11-unix")) &&
        ::mkdir("/tmp/.X11-unix", 01777) == 0)
        ::chmod("/tmp/.X11-unix", 01777);
    QFile config(folder + QStringLiteral("/sway.conf"));
    if (!config.open(QIODevice::WriteOnly) ||
        config.write("xwayland enable\n"
                     "output HEADLESS-1 resolution 1280x800 position 0 0\n"
                     "default_border none\n"
                     // XWayland runs as sway's user; Kavri and the tools here run as root.
                     "exec xhost +si:localuser:root\n") < 0)
        return false;
    config.close();
    ::chmod(QFile::encodeName(config.fileName()).constData(), 0644);

    auto sway = std::make_unique<QProcess>();
    m_compositor = sway.get();
    m_processes.push_back(std::move(sway));
    m_compositor->setStandardOutputFile(m_dir.filePath(QStringLiteral("sway.log")));
    m_compositor->setProcessChannelMode(QProcess::MergedChannels);
    if (QStandardPaths::findExecutable(QStringLiteral("sway")).isEmpty()) {
        m_why = QStringLiteral("sway is not installed");
        m_missing = true;
        return false;
    }
    if (!m_peer.start(*m_compositor, QStringLiteral("env"),
                      {"-i", "PATH=/usr/bin:/bin", "XDG_RUNTIME_DIR=" + m_runtime,
                       "WLR_BACKENDS=headless", "WLR_LIBINPUT_NO_DEVICES=1", "WLR_RENDERER=pixman",
                       "sway", "-c", config.fileName()})) {
        m_why = QStringLiteral("sway could not be started as a second user");
        return false;
    }
    QString socket, ipc;
    if (!waitFor(
            [&] {
                socket = firstMatch(m_runtime, QStringLiteral("wayland-[0-9]"));
                ipc = firstMatch(m_runtime, QStringLiteral("sway-ipc.*.sock"));
                return !socket.isEmpty() && !ipc.isEmpty();
            },
            15000)) {
        m_why = QStringLiteral("sway did not come up (see sway.log in ") + m_dir.path() + ")";
        return false;
    }
    const qint64 swayPid = m_compositor->processId(); // the starters exec it in their place
    m_session.insert(QStringLiteral("WAYLAND_DISPLAY"), socket);
    m_session.insert(QStringLiteral("XDG_CURRENT_DESKTOP"), QStringLiteral("sway"));
    m_session.insert(QStringLiteral("XDG_SESSION_TYPE"), QStringLiteral("wayland"));
    if (!findXWayland(swayPid)) {
        m_why = QStringLiteral("sway started no XWayland");
        return false;
    }
    m_tools.insert(QStringLiteral("DISPLAY"), m_session.value(QStringLiteral("DISPLAY")));
    if (!waitFor([&] { return tool(QStringLiteral("xdpyinfo"), {}); }, 15000)) {
        m_why = QStringLiteral("sway's XWayland lets no root client in");
        return false;
    }
    m_tools.insert(QStringLiteral("WAYLAND_DISPLAY"), socket);
    m_tools.insert(QStringLiteral("SWAYSOCK"), ipc);
    m_tools.insert(QStringLiteral("XDG_RUNTIME_DIR"), m_dir.filePath(QStringLiteral("tools")));
    QDir().mkdir(m_tools.value(QStringLiteral("XDG_RUNTIME_DIR")));
    return startVirtualPointer();
}

bool CompositorRig::startVirtualPointer()
{
    auto pointer = std::make_unique<QProcess>();
    m_pointer = pointer.get();
    m_processes.push_back(std::move(pointer));
    m_pointer->setProcessEnvironment(m_tools);
    m_pointer->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    if (!KavriTest::startTied(*m_pointer, QStringLiteral(KAVRI_VIRTUAL_POINTER), {"1280", "800"}) ||
        !m_pointer->waitForReadyRead(5000) || m_pointer->readLine().trimmed() != "ready") {
        m_why = QStringLiteral("the virtual pointer could not be made");
        return false;
    }
    return true;
}

bool CompositorRig::callMutter(const QString &path, const QString &interface, const QString &method,
                               const QVariantList &arguments, QVariant *reply)
{
    const QString service = path.startsWith("/org/gnome/Shell") ? QStringLiteral("org.gnome.Shell")
                            : interface.startsWith(ScreenCast)  ? ScreenCast
                                                                : RemoteDesktop;
    QDBusMessage call = QDBusMessage::createMethodCall(service, path, interface, method);
    call.setArguments(arguments);
    const QDBusMessage answer = QDBusConnection(m_bus).call(call, QDBus::Block, 5000);
    if (answer.type() != QDBusMessage::ReplyMessage) {
        m_why = method + ": " + answer.errorMessage();
        return false;
    }
    if (reply)
        *reply = answer.arguments().value(0);
    return true;
}

// mutter and KWin write their XWayland's lock files themselves and remove them only when they
// end cleanly. A watcher outlives this process: once the compositor has gone, however it went,
// it removes the lock files and sockets that still name it; if this suite was killed and the
// compositor hangs in its shutdown, it ends the compositor after 10 s.
void CompositorRig::watchLockFiles()
{
    QProcess::startDetached(
        QStringLiteral("/bin/sh"),
        {"-c",
         "m=$1 t=$2 n=0; while kill -0 $m 2>/dev/null; do "
         "if ! kill -0 $t 2>/dev/null; then n=$((n+1)); [ $n -gt 50 ] && kill -9 $m; fi; "
         "sleep 0.2; done; "
         "for f in /tmp/.X*-lock; do [ -e \"$f\" ] && [ \"$(tr -d ' \\000' < \"$f\" 2>/dev/null)\" "
         "= \"$m\" ] || "
         "continue; d=${f#/tmp/.X}; rm -f \"$f\" \"/tmp/.X11-unix/X${d%-lock}\"; done",
         "sh", QString::number(m_compositor->processId()),
         QString::number(QCoreApplication::applicationPid())});
}

// mutter, or GNOME Shell (mutter with the shell's JavaScript on top).
bool CompositorRig::startMutter()
{
    const bool shell = m_kind == Kind::GnomeShell;
    const QString compositor = shell ? QStringLiteral("gnome-shell") : QStringLiteral("mutter");
    if (QStandardPaths::findExecutable(compositor).isEmpty()) {
        m_why = compositor + QStringLiteral(" is not installed");
        m_missing = true;
        return false;
    }
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), m_runtime);
    env.insert(QStringLiteral("HOME"), m_dir.path());
    env.remove(QStringLiteral("DISPLAY"));
    env.remove(QStringLiteral("WAYLAND_DISPLAY"));
    env.remove(QStringLiteral("QT_QPA_PLATFORM"));
    const QString busAddress = "unix:path=" + m_runtime + "/bus";
    env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), busAddress);
    m_tools.insert(QStringLiteral("XDG_RUNTIME_DIR"), m_runtime);
    QList<std::pair<QString, QStringList>> programs;
    QProcessEnvironment busEnv = env;
    if (shell) {
        // GNOME Shell ends when no system bus answers while the machine has logind's seats,
        // and waits long for logind on a bus that does not say at once that it has none: a
        // bus of its own, as simple as a session's, stands in. Its settings and the portal's
        // permissions and pictures
        // (~/Pictures) stay in the rig's folder.
        const QString systemBus = "unix:path=" + m_runtime + "/system_bus";
        programs.append({"dbus-daemon", {"--nofork", "--session", "--address=" + systemBus}});
        env.insert(QStringLiteral("DBUS_SYSTEM_BUS_ADDRESS"), systemBus);
        for (const char *folder : {"config", "cache", "local"})
            env.insert(QStringLiteral("XDG_%1_HOME")
                           .arg(QString::fromLatin1(folder).toUpper().replace("LOCAL", "DATA")),
                       m_dir.filePath(QLatin1String(folder)));
        // What the session bus hands the services it starts: the desktop portal and GNOME's
        // part of it draw on this session.
        busEnv = env;
        busEnv.insert(QStringLiteral("WAYLAND_DISPLAY"), QStringLiteral("kavri-rig"));
        busEnv.insert(QStringLiteral("XDG_CURRENT_DESKTOP"), QStringLiteral("GNOME"));
        busEnv.insert(QStringLiteral("XDG_SESSION_TYPE"), QStringLiteral("wayland"));
    }
    programs.append({"dbus-daemon", {"--session", "--nofork", "--address=" + busAddress}});
    programs.append({"pipewire", QStringList()});
    programs.append({"wireplumber", QStringList()});
    programs.append({compositor,
                     {"--headless", "--wayland", "--virtual-monitor", "1280x800",
                      "--wayland-display", "kavri-rig"}});
    for (const auto &program : programs) {
        auto process = std::make_unique<QProcess>();
        if (!launch(*process, program.first, program.second,
                    program.second.contains("--address=" + busAddress) ? busEnv : env))
            return false;
        m_processes.push_back(std::move(process));
        // Each needs the one before it: the buses, then PipeWire's socket.
        QString needed = program.first == "pipewire" ? m_runtime + "/pipewire-0" : QString();
        for (const QString &argument : program.second)
            if (argument.startsWith("--address=unix:path="))
                needed = argument.mid(20);
        if (!needed.isEmpty() && !waitFor([&] { return QFile::exists(needed); }, 10000)) {
            m_why = program.first + " did not come up";
            return false;
        }
    }
    m_compositor = m_processes.back().get();
    watchLockFiles();
    const QString socket = m_runtime + "/kavri-rig";
    // mutter holds two X displays; the one its XWayland serves, and the cookie file, are on
    // that XWayland's command line.
    auto xwayland = [&] {
        QFile children(QStringLiteral("/proc/%1/task/%1/children").arg(m_compositor->processId()));
        if (!children.open(QIODevice::ReadOnly))
            return false;
        for (const QByteArray &pid : children.readAll().trimmed().split(' ')) {
            QFile cmdline(QStringLiteral("/proc/%1/cmdline").arg(QString::fromLatin1(pid)));
            const QList<QByteArray> args = cmdline.open(QIODevice::ReadOnly)
                                               ? cmdline.readAll().split('\0')
                                               : QList<QByteArray>();
            const int auth = args.indexOf("-auth");
            if (args.value(0).endsWith("Xwayland") && auth > 0) {
                m_session.insert(QStringLiteral("DISPLAY"), QString::fromLatin1(args.value(1)));
                m_session.insert(QStringLiteral("XAUTHORITY"),
                                 QString::fromLatin1(args.value(auth + 1)));
                return true;
            }
        }
        return false;
    };
    if (!waitFor([&] { return QFile::exists(socket) && xwayland(); }, 15000) ||
        (shell && !waitForShell())) {
        QFile log(m_dir.filePath(compositor + QStringLiteral(".log")));
        m_why = compositor + QStringLiteral(" or its XWayland did not come up; its log ends: ") +
                QString::fromLocal8Bit(log.open(QIODevice::ReadOnly) ? log.readAll().right(1500)
                                                                     : QByteArray());
        return false;
    }
    m_session.insert(QStringLiteral("WAYLAND_DISPLAY"), socket);
    m_session.insert(QStringLiteral("XDG_CURRENT_DESKTOP"), QStringLiteral("GNOME"));
    m_session.insert(QStringLiteral("XDG_SESSION_TYPE"), QStringLiteral("wayland"));
    m_session.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), busAddress);
    m_session.insert(QStringLiteral("PIPEWIRE_RUNTIME_DIR"), m_runtime);

    // The remote desktop session, and a screen cast of the monitor tied to it: absolute
    // pointer motion is given in that stream's coordinates, and its frames are the screenshots.
    m_bus = QStringLiteral("kavri-rig-") + QString::number(reinterpret_cast<quintptr>(this));
    QDBusConnection bus = QDBusConnection::connectToBus(busAddress, m_bus);
    QVariant reply;
    if (!bus.isConnected() ||
        !waitFor([&] { return bus.interface()->isServiceRegistered(ScreenCast).value(); }, 15000) ||
        !callMutter("/org/gnome/Mutter/RemoteDesktop", RemoteDesktop, "CreateSession", {}, &reply))
        return false;
    m_remoteDesktop = reply.value<QDBusObjectPath>().path();
    if (!callMutter(m_remoteDesktop, "org.freedesktop.DBus.Properties", "Get",
                    {RemoteDesktop + ".Session", "SessionId"}, &reply))
        return false;
    const QString sessionId = reply.value<QDBusVariant>().variant().toString();
    if (!callMutter("/org/gnome/Mutter/ScreenCast", ScreenCast, "CreateSession",
                    {QVariantMap{{"remote-desktop-session-id", sessionId}}}, &reply))
        return false;
    const QString screenCast = reply.value<QDBusObjectPath>().path();
    if (!callMutter(screenCast, ScreenCast + ".Session", "RecordMonitor",
                    {QString(), QVariantMap()}, &reply))
        return false;
    m_stream = reply.value<QDBusObjectPath>().path();
    StreamWatch watch;
    bus.connect(ScreenCast, m_stream, ScreenCast + ".Stream", "PipeWireStreamAdded", &watch,
                SLOT(added(uint)));
    if (!callMutter(m_remoteDesktop, RemoteDesktop + ".Session", "Start", {}) ||
        !waitFor([&] { return watch.node != 0; }, 10000)) {
        m_why = QStringLiteral("mutter's screen cast gave no PipeWire stream");
        return false;
    }
    m_node = watch.node;
    // mutter makes its virtual devices on their first event, and that event is lost.
    const bool warm = movePointer(QPoint(1, 1)) &&
                      callMutter(m_remoteDesktop, RemoteDesktop + ".Session",
                                 "NotifyKeyboardKeycode", {42u /* left shift */, true}) &&
                      callMutter(m_remoteDesktop, RemoteDesktop + ".Session",
                                 "NotifyKeyboardKeycode", {42u, false});
    QTest::qWait(300);
    if (!warm || !shell)
        return warm;
    // GNOME Shell opens in its Overview, which takes every click: Escape leaves it, and the
    // shell says when it has. The portal's question before the first screenshot of a program
    // ("Allow Applications to Take Screenshots?") is answered beforehand, in its permission
    // store, for programs outside a sandbox (the application id "").
    int escapes = 0;
    const bool overviewLeft = waitFor(
        [&] {
            QVariant active;
            if (!callMutter("/org/gnome/Shell", "org.freedesktop.DBus.Properties", "Get",
                            {"org.gnome.Shell", "OverviewActive"}, &active))
                return false;
            if (!active.value<QDBusVariant>().variant().toBool())
                return true;
            ++escapes;
            for (const bool down : {true, false})
                callMutter(m_remoteDesktop, RemoteDesktop + ".Session", "NotifyKeyboardKeycode",
                           {1u /* Escape */, down});
            QTest::qWait(500);
            return false;
        },
        15000);
    qInfo("  GNOME Shell: the Overview %s after %d presses of Escape",
          overviewLeft ? "left" : "still shown", escapes);
    if (!overviewLeft) {
        m_why = QStringLiteral("GNOME Shell stayed in its Overview");
        return false;
    }
    QDBusMessage allow = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.impl.portal.PermissionStore"),
        QStringLiteral("/org/freedesktop/impl/portal/PermissionStore"),
        QStringLiteral("org.freedesktop.impl.portal.PermissionStore"),
        QStringLiteral("SetPermission"));
    allow.setArguments({QStringLiteral("screenshot"), true, QStringLiteral("screenshot"), QString(),
                        QStringList{QStringLiteral("yes")}});
    const QDBusMessage answer = QDBusConnection(m_bus).call(allow, QDBus::Block, 10000);
    if (answer.type() != QDBusMessage::ReplyMessage)
        qInfo() << "  the portal's permission store took no answer:" << answer.errorMessage();
    return portalTakesScreenshots();
}

// Kavri's magnifier falls back on the desktop portal: with the permission given, a screenshot
// without a question has to come back (into ~/Pictures, the rig's folder).
bool CompositorRig::portalTakesScreenshots()
{
    if (!QFileInfo::exists(QStringLiteral("/usr/libexec/xdg-desktop-portal")))
        return true; // not installed: Kavri does not offer the portal either
    QDBusConnection bus(m_bus);
    const QString token = QStringLiteral("kavri_rig");
    const QString request = QStringLiteral("/org/freedesktop/portal/desktop/request/") +
                            bus.baseService().mid(1).replace(QLatin1Char('.'), QLatin1Char('_')) +
                            QLatin1Char('/') + token;
    PortalAnswer answer;
    bus.connect(QString(), request, QStringLiteral("org.freedesktop.portal.Request"),
                QStringLiteral("Response"), &answer, SLOT(answered(uint, QVariantMap)));
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.portal.Desktop"),
        QStringLiteral("/org/freedesktop/portal/desktop"),
        QStringLiteral("org.freedesktop.portal.Screenshot"), QStringLiteral("Screenshot"));
    call.setArguments({QString(), QVariantMap{{QStringLiteral("handle_token"), token},
                                              {QStringLiteral("interactive"), false}}});
    const QDBusMessage sent = bus.call(call, QDBus::Block, 25000);
    const bool answered = sent.type() == QDBusMessage::ReplyMessage &&
                          waitFor([&] { return answer.code >= 0; }, 15000);
    qInfo() << "  the desktop portal's screenshot:"
            << (answered ? QStringLiteral("answer %1, %2").arg(answer.code).arg(answer.uri)
                         : QStringLiteral("no answer ") + sent.errorMessage());
    if (answered && answer.code == 0)
        return true;
    m_why = QStringLiteral("the desktop portal took no screenshot without asking");
    return false;
}

// GNOME Shell starts ibus-daemon through a fork whose child runs JavaScript before it starts
// the program; that child may hang on a lock another thread held at the fork, and the shell
// waits for it for ever. A child of the shell that is still the shell after 3 s is such a
// child: ended, it lets the shell go on. Until the shell says it has started.
bool CompositorRig::waitForShell()
{
    const QString self =
        QFileInfo(QStringLiteral("/proc/%1/exe").arg(m_compositor->processId())).symLinkTarget();
    std::map<QString, QElapsedTimer> seen;
    const QString log = m_dir.filePath(QStringLiteral("gnome-shell.log"));
    return waitFor(
        [&] {
            QFile children(
                QStringLiteral("/proc/%1/task/%1/children").arg(m_compositor->processId()));
            if (children.open(QIODevice::ReadOnly)) {
                for (const QByteArray &pid : children.readAll().trimmed().split(' ')) {
                    const QString child = QString::fromLatin1(pid);
                    if (child.isEmpty() ||
                        QFileInfo(QStringLiteral("/proc/%1/exe").arg(child)).symLinkTarget() !=
                            self)
                        continue;
                    if (!seen.count(child))
                        seen[child].start();
                    else if (seen[child].elapsed() > 3000 && ::kill(pid.toInt(), SIGKILL) == 0)
                        qInfo() << "  ended a child of gnome-shell that hung before it started "
                                   "its program";
                }
            }
            QFile said(log);
            return said.open(QIODevice::ReadOnly) && said.readAll().contains("GNOME Shell started");
        },
        30000);
}

bool CompositorRig::startKWin()
{
    const QString installed = QStandardPaths::findExecutable(QStringLiteral("kwin_wayland"));
    if (installed.isEmpty()) {
        m_why = QStringLiteral("kwin_wayland is not installed");
        m_missing = true;
        return false;
    }
    // The installed program carries a file capability, which a container may refuse to run
    // ("Operation not permitted"); a copy has none.
    const QString kwin = m_dir.filePath(QStringLiteral("kwin_wayland"));
    const QString data = m_dir.filePath(QStringLiteral("share"));
    if (!QFile::copy(installed, kwin) ||
        !QFile::setPermissions(kwin, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner) ||
        !QDir().mkpath(data + QStringLiteral("/applications")) ||
        // Kavri's magnifier and this rig's screenshots, allowed as KWin allows them on a
        // desktop: no switch that turns its checks off.
        !writeDesktopFile(data + QStringLiteral("/applications/kavri.desktop"),
                          QStringLiteral(KAVRI_PROGRAM), "Kavri") ||
        !writeDesktopFile(data + QStringLiteral("/applications/kavri-rig.desktop"),
                          QCoreApplication::applicationFilePath(), "Kavri's test rig")) {
        m_why = QStringLiteral("no copy of kwin_wayland or no data folder in ") + m_dir.path();
        return false;
    }
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "XAUTHORITY", "QT_QPA_PLATFORM"})
        env.remove(QLatin1String(name));
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), m_runtime);
    env.insert(QStringLiteral("HOME"), m_dir.path());
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), m_dir.filePath(QStringLiteral("config")));
    env.insert(QStringLiteral("XDG_CACHE_HOME"), m_dir.filePath(QStringLiteral("cache")));
    env.insert(QStringLiteral("XDG_DATA_HOME"), m_dir.filePath(QStringLiteral("local")));
    env.insert(QStringLiteral("XDG_DATA_DIRS"),
               data + QStringLiteral(":/usr/local/share:/usr/share"));
    const QString busAddress = "unix:path=" + m_runtime + "/bus";
    env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), busAddress);
    // Its fake input device, for the rig's pointer and keys, to any client of the session.
    env.insert(QStringLiteral("KWIN_WAYLAND_NO_PERMISSION_CHECKS"), QStringLiteral("1"));

    // A session bus that starts none of the machine's services: the desktop portal installed
    // for GNOME, without KDE's part of it, would offer screenshots it cannot take.
    QFile busConfig(m_dir.filePath(QStringLiteral("session-bus.conf")));
    if (!busConfig.open(QIODevice::WriteOnly) ||
        busConfig.write("<busconfig><type>session</type><listen>" + busAddress.toUtf8() +
                        "</listen><auth>EXTERNAL</auth><servicedir>" + QFile::encodeName(data) +
                        "/dbus-1/services</servicedir><policy context=\"default\">"
                        "<allow send_destination=\"*\" eavesdrop=\"true\"/>"
                        "<allow eavesdrop=\"true\"/><allow own=\"*\"/></policy></busconfig>\n") < 0)
        return false;
    busConfig.close();
    auto bus = std::make_unique<QProcess>();
    if (!launch(*bus, QStringLiteral("dbus-daemon"),
                {"--nofork", "--config-file=" + busConfig.fileName()}, env))
        return false;
    m_processes.push_back(std::move(bus));
    if (!waitFor([&] { return QFile::exists(m_runtime + "/bus"); }, 10000)) {
        m_why = QStringLiteral("dbus-daemon did not come up");
        return false;
    }
    // PipeWire, for the screen casts KWin makes (Kavri's live lens).
    for (const char *program : {"pipewire", "wireplumber"}) {
        auto process = std::make_unique<QProcess>();
        if (!launch(*process, QLatin1String(program), {}, env))
            return false;
        m_processes.push_back(std::move(process));
        if (!waitFor([&] { return QFile::exists(m_runtime + "/pipewire-0"); }, 10000)) {
            m_why = QStringLiteral("pipewire did not come up");
            return false;
        }
    }
    auto compositor = std::make_unique<QProcess>();
    if (!launch(*compositor, kwin,
                {"--virtual", "--xwayland", "--width", "1280", "--height", "800", "--socket",
                 "kavri-rig", "--no-lockscreen"},
                env))
        return false;
    m_compositor = compositor.get();
    m_processes.push_back(std::move(compositor));
    watchLockFiles();
    const QString socket = m_runtime + "/kavri-rig";
    if (!waitFor([&] { return QFile::exists(socket); }, 15000) ||
        !findXWayland(m_compositor->processId())) {
        m_why = QStringLiteral("KWin or its XWayland did not come up (see kwin_wayland.log in ") +
                m_dir.path() + ")";
        return false;
    }
    m_session.insert(QStringLiteral("WAYLAND_DISPLAY"), socket);
    m_kwinEnv = env;
    m_session.insert(QStringLiteral("XDG_CURRENT_DESKTOP"), QStringLiteral("KDE"));
    m_session.insert(QStringLiteral("KDE_SESSION_VERSION"), QStringLiteral("5"));
    m_session.insert(QStringLiteral("PIPEWIRE_RUNTIME_DIR"), m_runtime);
    m_session.insert(QStringLiteral("XDG_SESSION_TYPE"), QStringLiteral("wayland"));
    m_session.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), busAddress);
    m_tools.insert(QStringLiteral("WAYLAND_DISPLAY"), socket);

    m_bus = QStringLiteral("kavri-rig-") + QString::number(reinterpret_cast<quintptr>(this));
    QDBusConnection connection = QDBusConnection::connectToBus(busAddress, m_bus);
    if (!connection.isConnected() ||
        !waitFor([&] { return connection.interface()->isServiceRegistered(KWin).value(); },
                 15000)) {
        m_why = QStringLiteral("KWin took no name on its session bus");
        return false;
    }
    return startVirtualPointer();
}

bool CompositorRig::pointerCommand(const QByteArray &command)
{
    m_pointer->write(command + '\n');
    return m_pointer->waitForReadyRead(5000) && m_pointer->readLine().trimmed() == "done";
}

bool CompositorRig::movePointer(const QPoint &to)
{
    if (m_kind == Kind::KWin)
        return pointerCommand("move " + QByteArray::number(to.x()) + ' ' +
                              QByteArray::number(to.y()));
    if (m_kind == Kind::Sway)
        return tool(QStringLiteral("swaymsg"), {"seat", "seat0", "cursor", "set",
                                                QString::number(to.x()), QString::number(to.y())});
    return callMutter(m_remoteDesktop, RemoteDesktop + ".Session", "NotifyPointerMotionAbsolute",
                      {m_stream, double(to.x()), double(to.y())});
}

bool CompositorRig::click()
{
    for (const bool down : {true, false}) {
        if (m_kind == Kind::Sway || m_kind == Kind::KWin) {
            // A button of the virtual pointer, as a mouse would give it.
            if (!pointerCommand(down ? "button 1" : "button 0"))
                return false;
        } else if (!callMutter(m_remoteDesktop, RemoteDesktop + ".Session", "NotifyPointerButton",
                               {0x110 /* BTN_LEFT */, down})) {
            return false;
        }
    }
    return true;
}

bool CompositorRig::pressKey(char letter)
{
    if (m_kind == Kind::Sway) // wtype's keyboard needs a moment before its first key is taken
        return tool(QStringLiteral("wtype"), {"-s", "150", QString(QLatin1Char(letter))});
    const uint code = keyCode(letter);
    if (code == 0)
        return false;
    for (const bool down : {true, false}) {
        const bool sent =
            m_kind == Kind::KWin
                ? pointerCommand("key " + QByteArray::number(code) + (down ? " 1" : " 0"))
                : callMutter(m_remoteDesktop, RemoteDesktop + ".Session", "NotifyKeyboardKeycode",
                             {code, down});
        if (!sent)
            return false;
    }
    return true;
}

bool CompositorRig::keyEvent(uint code, bool down)
{
    return m_kind == Kind::KWin &&
           pointerCommand("key " + QByteArray::number(code) + (down ? " 1" : " 0"));
}

bool CompositorRig::startPortal()
{
    // Debian keeps KDE's part under the architecture's library folder.
    QString backend = QStringLiteral("/usr/libexec/xdg-desktop-portal-kde");
    for (const QString &arch : QDir(QStringLiteral("/usr/lib")).entryList(QDir::Dirs))
        if (QFileInfo::exists("/usr/lib/" + arch + "/libexec/xdg-desktop-portal-kde"))
            backend = "/usr/lib/" + arch + "/libexec/xdg-desktop-portal-kde";
    const QString frontend = QStringLiteral("/usr/libexec/xdg-desktop-portal");
    if (m_kind != Kind::KWin || !QFileInfo::exists(backend) || !QFileInfo::exists(frontend)) {
        m_why = QStringLiteral("xdg-desktop-portal or xdg-desktop-portal-kde is not installed");
        m_missing = true;
        return false;
    }
    QProcessEnvironment env = m_kwinEnv;
    for (const QString &name : m_session.keys())
        env.insert(name, m_session.value(name));
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("wayland"));
    QDBusConnection bus(m_bus);
    // KDE's part first: the portal looks for it when it starts.
    for (const auto &[program, name] :
         {std::pair<QString, QString>{backend, "org.freedesktop.impl.portal.desktop.kde"},
          std::pair<QString, QString>{frontend, "org.freedesktop.portal.Desktop"}}) {
        auto process = std::make_unique<QProcess>();
        if (!launch(*process, program, {}, env))
            return false;
        m_portal.push_back(process.get());
        m_processes.push_back(std::move(process));
        if (!waitFor([&] { return bus.interface()->isServiceRegistered(name).value(); }, 15000)) {
            m_why = program + QStringLiteral(" took no name on the session bus");
            return false;
        }
    }
    return true;
}

void CompositorRig::stopPortal()
{
    for (auto it = m_portal.rbegin(); it != m_portal.rend(); ++it)
        KavriTest::stopProcess(**it, 5000);
    m_portal.clear();
}

QImage CompositorRig::screenshot()
{
    QByteArray png;
    if (m_kind == Kind::Sway) {
        tool(QStringLiteral("grim"), {"-"}, &png);
        return QImage::fromData(png, "PNG");
    }
    if (m_kind == Kind::KWin)
        return kwinScreenshot();
    const QString file = m_dir.filePath(QStringLiteral("frame.png"));
    QFile::remove(file);
    tool(QStringLiteral("gst-launch-1.0"),
         {"-q", "pipewiresrc", "path=" + QString::number(m_node), "num-buffers=1", "!",
          "videoconvert", "!", "pngenc", "!", "filesink", "location=" + file});
    return QImage(file);
}

// KWin writes the raw picture into a pipe it is handed, and answers with its size and format.
QImage CompositorRig::kwinScreenshot()
{
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0)
        return QImage();
    QDBusPendingCall pending = [&] {
        QDBusMessage call = QDBusMessage::createMethodCall(
            KWin, QStringLiteral("/org/kde/KWin/ScreenShot2"),
            QStringLiteral("org.kde.KWin.ScreenShot2"), QStringLiteral("CaptureWorkspace"));
        call.setArguments({QVariantMap{{QStringLiteral("native-resolution"), true}},
                           QVariant::fromValue(QDBusUnixFileDescriptor(fds[1]))});
        return QDBusConnection(m_bus).asyncCall(call, 5000);
    }();
    ::close(fds[1]); // the message holds its own copy
    QByteArray data;
    QElapsedTimer t;
    t.start();
    pollfd in{fds[0], POLLIN, 0};
    qint64 expected = -1; // known once KWin has answered
    while (t.elapsed() < 5000 && (expected < 0 || data.size() < expected)) {
        if (expected < 0 && pending.isFinished()) {
            const QVariantMap results =
                qdbus_cast<QVariantMap>(pending.reply().arguments().value(0));
            expected = pending.isError() ? 0
                                         : results.value(QStringLiteral("stride")).toLongLong() *
                                               results.value(QStringLiteral("height")).toLongLong();
        }
        if (::poll(&in, 1, 20) > 0) {
            char buffer[65536];
            const ssize_t n = ::read(fds[0], buffer, sizeof buffer);
            if (n <= 0)
                break; // the whole picture
            data.append(buffer, int(n));
        }
        QCoreApplication::processEvents();
    }
    ::close(fds[0]);
    pending.waitForFinished();
    const QDBusMessage reply = pending.reply();
    if (reply.type() != QDBusMessage::ReplyMessage) {
        qInfo() << "  KWin took no screenshot:" << reply.errorMessage();
        return QImage();
    }
    const QVariantMap results = qdbus_cast<QVariantMap>(reply.arguments().value(0));
    const int width = results.value(QStringLiteral("width")).toInt();
    const int height = results.value(QStringLiteral("height")).toInt();
    const int stride = results.value(QStringLiteral("stride")).toInt();
    const auto format = QImage::Format(results.value(QStringLiteral("format")).toInt());
    if (width <= 0 || height <= 0 || data.size() < qint64(stride) * height)
        return QImage();
    return QImage(reinterpret_cast<const uchar *>(data.constData()), width, height, stride, format)
        .convertToFormat(QImage::Format_RGB32);
}

QByteArray CompositorRig::visibleXWindows(qint64 pid)
{
    const QProcessEnvironment saved = m_tools;
    for (const char *name : {"DISPLAY", "XAUTHORITY"})
        if (m_session.contains(QLatin1String(name)))
            m_tools.insert(QLatin1String(name), m_session.value(QLatin1String(name)));
    QByteArray ids, described;
    tool(QStringLiteral("xdotool"), {"search", "--onlyvisible", "--pid", QString::number(pid)},
         &ids);
    for (const QByteArray &id : ids.split('\n')) {
        QByteArray geometry;
        if (!id.trimmed().isEmpty() &&
            tool(QStringLiteral("xdotool"), {"getwindowgeometry", QString::fromLatin1(id)},
                 &geometry))
            described += geometry.simplified() + "; ";
    }
    m_tools = saved;
    return described.isEmpty() ? QByteArray("none") : described;
}

CompositorRig::Trace CompositorRig::trace() const
{
    Trace trace;
    trace.lockFile =
        QStringLiteral("/tmp/.X%1-lock").arg(m_session.value(QStringLiteral("DISPLAY")).mid(1));
    trace.compositorPid = m_compositor ? m_compositor->processId() : 0;
    trace.peerUid = m_kind == Kind::Sway ? m_peer.uid : -1;
    trace.runtime = m_runtime;
    return trace;
}

QString CompositorRig::leftoversOf(const Trace &trace)
{
    QString left;
    waitFor(
        [&] {
            left = trace.runtime.isEmpty() ? QString() : sessionLeftovers(trace.runtime);
            // Another server may have taken the display number since: only our own counts.
            QFile lock(trace.lockFile);
            if (lock.open(QIODevice::ReadOnly) &&
                lock.readAll().replace('\0', "").trimmed().toLongLong() == trace.compositorPid)
                left += trace.lockFile + QLatin1Char(' ');
            if (trace.peerUid < 0)
                return left.isEmpty();
            for (const QString &pid : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
                QFile status(QStringLiteral("/proc/%1/status").arg(pid));
                if (!pid.toLongLong() || !status.open(QIODevice::ReadOnly))
                    continue;
                QByteArray name;
                for (const QByteArray &line : status.readAll().split('\n')) {
                    if (line.startsWith("Name:"))
                        name = line.mid(5).trimmed();
                    if (line.startsWith("Uid:") &&
                        line.simplified().split(' ').value(1).toInt() == trace.peerUid)
                        left +=
                            QStringLiteral("process %1 (%2) ").arg(pid, QString::fromLatin1(name));
                }
            }
            return left.isEmpty();
        },
        10000);
    return left.trimmed();
}

#include "compositorrig.moc"

QStringList CompositorRig::screenCasts()
{
    QStringList casts;
    if (!m_bus.isEmpty()) {
        QVariant xml;
        callMutter(QStringLiteral("/org/gnome/Mutter/ScreenCast/Session"),
                   QStringLiteral("org.freedesktop.DBus.Introspectable"), "Introspect", {}, &xml);
        const QRegularExpression node(QStringLiteral("<node name=\"([^\"]+)\""));
        for (auto m = node.globalMatch(xml.toString()); m.hasNext();)
            casts << QStringLiteral("mutter session ") + m.next().captured(1);
    }
    QProcessEnvironment env = m_tools;
    env.insert(QStringLiteral("PIPEWIRE_RUNTIME_DIR"), m_session.value("PIPEWIRE_RUNTIME_DIR"));
    QProcess dump;
    dump.setProcessEnvironment(env);
    dump.start(QStringLiteral("pw-dump"), QStringList());
    dump.waitForFinished(10000);
    for (const QJsonValue &object : QJsonDocument::fromJson(dump.readAllStandardOutput()).array()) {
        const QJsonObject props = object[QLatin1String("info")][QLatin1String("props")].toObject();
        if (props[QLatin1String("media.class")].toString().contains(QLatin1String("Video")) ||
            props[QLatin1String("media.type")].toString() == QLatin1String("Video"))
            casts << QStringLiteral("PipeWire node ") +
                         props[QLatin1String("node.name")].toString();
    }
    casts.sort();
    return casts;
}
