#pragma once

#include <QImage>
#include <QList>
#include <QPoint>
#include <QProcess>
#include <QRect>
#include <QString>
#include <QStringList>

#include <memory>

struct _XDisplay;

// A small desktop for the end-to-end tests: an Xvfb server on the display it chose, the openbox
// window manager, the xcompmgr compositing manager and the trayer system tray. It answers
// what a user would see (which windows a process shows, their titles and places, the
// screen's pixels) and moves and clicks the pointer and types through xdotool.
class DesktopSession final
{
public:
    struct Window
    {
        unsigned long id = 0;
        QString title;
        QRect rect; // in root (screen) coordinates
        bool mapped = false;
    };

    DesktopSession();
    ~DesktopSession();
    DesktopSession(const DesktopSession &) = delete;
    DesktopSession &operator=(const DesktopSession &) = delete;

    // Starts the server and the helpers; false (with why()) when that is not possible here.
    bool start();
    QString why() const { return m_why; }
    QString display() const { return m_display; }
    QSize screenSize() const;

    // Every window (at any depth) that the process with this pid created.
    QList<Window> windowsOf(qint64 pid) const;
    // The mapped window of that process whose title is exactly `title`.
    bool findMapped(qint64 pid, const QString &title, Window *found) const;

    // The screen as shown (composited), or a part of it.
    QImage grab(const QRect &area = QRect()) const;

    // Input, as a user would give it.
    bool movePointer(const QPoint &where) const;
    bool click(const QPoint &where, int button) const;
    bool activateAndType(unsigned long window, const QString &key) const;
    // A key combination in xdotool's words ("super+F8") pressed (down) or let go (up),
    // through XTest as a keyboard would.
    bool keyDown(const QString &keys) const { return xdotool({"keydown", keys}); }
    bool keyUp(const QString &keys) const { return xdotool({"keyup", keys}); }

private:
    bool startHelper(QProcess &process, const QString &program, const QStringList &arguments);
    bool xdotool(const QStringList &arguments) const;

    QString m_why;
    QString m_display;
    QProcess m_server;
    QProcess m_windowManager;
    QProcess m_compositor;
    QProcess m_tray;
    _XDisplay *m_connection = nullptr;
};
