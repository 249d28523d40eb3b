#include "desktopsession.h"

#include "common/childprocess.h"

#include <QElapsedTimer>
#include <QThread>

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <functional>

namespace {

int ignoreXErrors(Display *, XErrorEvent *)
{
    return 0; // windows come and go while they are listed
}

} // namespace

DesktopSession::DesktopSession() = default;

DesktopSession::~DesktopSession()
{
    if (m_connection)
        XCloseDisplay(m_connection);
    KavriTest::stopProcess(m_tray, 3000);
    KavriTest::stopProcess(m_compositor, 3000);
    KavriTest::stopProcess(m_windowManager, 3000);
    KavriTest::stopProcess(m_server, 3000);
}

bool DesktopSession::startHelper(QProcess &process, const QString &program,
                                 const QStringList &arguments)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DISPLAY"), m_display);
    process.setProcessEnvironment(env);
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.setStandardOutputFile(QProcess::nullDevice());
    if (!KavriTest::startTied(process, program, arguments)) {
        m_why = program + QStringLiteral(" could not be started (is it installed?)");
        return false;
    }
    return true;
}

bool DesktopSession::start()
{
    // The server takes a free display number itself and writes it to its standard output.
    m_server.setStandardErrorFile(QProcess::nullDevice());
    if (!KavriTest::startTied(
            m_server, QStringLiteral("Xvfb"),
            {"-displayfd", "1", "-screen", "0", "1280x800x24", "-nolisten", "tcp"})) {
        m_why = QStringLiteral("Xvfb could not be started (is it installed?)");
        return false;
    }
    QElapsedTimer wait;
    wait.start();
    while (!m_server.canReadLine() && m_server.state() == QProcess::Running &&
           wait.elapsed() < 10000)
        m_server.waitForReadyRead(100);
    const QByteArray number = m_server.readLine().trimmed();
    if (number.isEmpty()) {
        m_why = QStringLiteral("Xvfb gave no display number");
        return false;
    }
    m_display = QStringLiteral(":") + QString::fromLatin1(number);
    for (int i = 0; i < 100 && !m_connection; ++i) {
        m_connection = XOpenDisplay(m_display.toLatin1().constData());
        if (!m_connection)
            QThread::msleep(50);
    }
    if (!m_connection) {
        m_why = QStringLiteral("cannot connect to ") + m_display;
        return false;
    }
    XSetErrorHandler(ignoreXErrors);

    if (!startHelper(m_windowManager, QStringLiteral("openbox"), {}) ||
        !startHelper(m_compositor, QStringLiteral("xcompmgr"), {}) ||
        !startHelper(m_tray, QStringLiteral("trayer"),
                     {"--edge", "top", "--align", "right", "--widthtype", "pixel", "--width", "120",
                      "--height", "24", "--SetDockType", "true", "--transparent", "false"}))
        return false;

    // Ready when the window manager and the tray have claimed their selections.
    const Atom wmSelection = XInternAtom(m_connection, "WM_S0", False);
    const Atom traySelection = XInternAtom(m_connection, "_NET_SYSTEM_TRAY_S0", False);
    const Atom compositorSelection = XInternAtom(m_connection, "_NET_WM_CM_S0", False);
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < 10000) {
        if (XGetSelectionOwner(m_connection, wmSelection) != None &&
            XGetSelectionOwner(m_connection, traySelection) != None &&
            XGetSelectionOwner(m_connection, compositorSelection) != None)
            return true;
        QThread::msleep(50);
    }
    m_why = QStringLiteral("window manager, compositor or tray did not come up");
    return false;
}

QSize DesktopSession::screenSize() const
{
    const int screen = DefaultScreen(m_connection);
    return QSize(DisplayWidth(m_connection, screen), DisplayHeight(m_connection, screen));
}

QList<DesktopSession::Window> DesktopSession::windowsOf(qint64 pid) const
{
    QList<Window> result;
    if (!m_connection)
        return result;
    const Atom pidAtom = XInternAtom(m_connection, "_NET_WM_PID", False);
    const Atom nameAtom = XInternAtom(m_connection, "_NET_WM_NAME", False);
    const Atom utf8 = XInternAtom(m_connection, "UTF8_STRING", False);
    const ::Window root = DefaultRootWindow(m_connection);
    XSync(m_connection, False);

    std::function<void(::Window)> visit = [&](::Window w) {
        Atom type;
        int format;
        unsigned long items, after;
        unsigned char *data = nullptr;
        if (XGetWindowProperty(m_connection, w, pidAtom, 0, 1, False, XA_CARDINAL, &type, &format,
                               &items, &after, &data) == Success &&
            data && items == 1 &&
            static_cast<qint64>(*reinterpret_cast<unsigned long *>(data)) == pid) {
            Window found;
            found.id = w;
            XWindowAttributes attributes;
            if (XGetWindowAttributes(m_connection, w, &attributes)) {
                int x = 0, y = 0;
                ::Window child;
                XTranslateCoordinates(m_connection, w, root, 0, 0, &x, &y, &child);
                found.rect = QRect(x, y, attributes.width, attributes.height);
                found.mapped = attributes.map_state == IsViewable;
            }
            unsigned char *name = nullptr;
            if (XGetWindowProperty(m_connection, w, nameAtom, 0, 1024, False, utf8, &type, &format,
                                   &items, &after, &name) == Success &&
                name)
                found.title =
                    QString::fromUtf8(reinterpret_cast<char *>(name), static_cast<int>(items));
            if (name)
                XFree(name);
            result << found;
        }
        if (data)
            XFree(data);

        ::Window rootReturn, parent;
        ::Window *children = nullptr;
        unsigned int count = 0;
        if (XQueryTree(m_connection, w, &rootReturn, &parent, &children, &count)) {
            for (unsigned int i = 0; i < count; ++i)
                visit(children[i]);
            if (children)
                XFree(children);
        }
    };
    visit(root);
    return result;
}

bool DesktopSession::findMapped(qint64 pid, const QString &title, Window *found) const
{
    for (const Window &w : windowsOf(pid)) {
        if (w.mapped && w.title == title) {
            *found = w;
            return true;
        }
    }
    return false;
}

QImage DesktopSession::grab(const QRect &area) const
{
    const QRect screen(QPoint(0, 0), screenSize());
    const QRect r = area.isNull() ? screen : area.intersected(screen);
    XImage *image = XGetImage(m_connection, DefaultRootWindow(m_connection), r.x(), r.y(),
                              static_cast<unsigned>(r.width()), static_cast<unsigned>(r.height()),
                              AllPlanes, ZPixmap);
    if (!image)
        return QImage();
    QImage result(r.size(), QImage::Format_RGB32);
    for (int y = 0; y < r.height(); ++y)
        for (int x = 0; x < r.width(); ++x)
            result.setPixel(x, y, static_cast<QRgb>(XGetPixel(image, x, y)) | 0xFF000000u);
    XDestroyImage(image);
    return result;
}

bool DesktopSession::xdotool(const QStringList &arguments) const
{
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DISPLAY"), m_display);
    p.setProcessEnvironment(env);
    p.start(QStringLiteral("xdotool"), arguments);
    return p.waitForFinished(10000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

bool DesktopSession::movePointer(const QPoint &where) const
{
    return xdotool({"mousemove", "--sync", QString::number(where.x()), QString::number(where.y())});
}

bool DesktopSession::click(const QPoint &where, int button) const
{
    return movePointer(where) && xdotool({"click", QString::number(button)});
}

bool DesktopSession::activateAndType(unsigned long window, const QString &key) const
{
    return xdotool({"windowactivate", "--sync", QString::number(window)}) && xdotool({"key", key});
}
