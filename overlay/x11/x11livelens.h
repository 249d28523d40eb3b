#pragma once

#include "overlay/x11/x11connection.h"
#include "overlay/x11/x11imagereader.h"
#include "overlay/x11/x11livearea.h"
#include "overlay/x11/x11windowstack.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QImage>
#include <QObject>
#include <QPixmap>
#include <QRect>
#include <QTimer>

#include <map>
#include <memory>
#include <optional>
#include <vector>

// A live picture of the part of the screen the lens magnifies, on an X server with a
// compositing manager, read through the overlay's connection (X11Connection).
//
// Under a compositing manager every top-level window is redirected to a pixmap of its own, so
// reading a window returns its contents even where other windows cover it. The picture is
// made the way the compositor makes the screen: the top-level windows beneath the overlay
// that meet the area, read there and painted bottom to top; windows with an alpha channel
// (depth 32, premultiplied) are blended over what lies beneath. The overlay's own windows are
// left out, so the lens never shows itself. XDamage tells which of those windows changed; a
// change inside the area gives a new picture and changed(), at most once per display frame,
// and nothing at all while nothing beneath changes.
//
// Not reproduced: what the compositor adds of its own (shadows, fades, dimmed inactive
// windows, window opacity set by the _NET_WM_WINDOW_OPACITY property), window shapes (the
// whole rectangle of a shaped window is painted) and window borders. The desktop's background
// is the root window's pixmap that desktops publish as _XROOTPMAP_ID, or black without one:
// the root window itself cannot be read under a compositor, as its pixels are the screen the
// compositor draws, the overlay included. Desktops that draw a desktop window get it right.
//
// Without a compositing manager the windows beneath are not redirected and their covered
// parts cannot be read; isLive() says false then and start() does nothing. This class never
// redirects other programs' windows itself.
//
// It runs the damage tracking and the frame pacing and composes the picture; the windows are
// listed by X11WindowStack and read by X11ImageReader. Not responsible for where the area lies
// (see X11LiveArea::sourceRect) nor for drawing the lens. While stopped it holds no X
// resources beyond its connection and selects no events.
class X11LiveLens final : public QObject, private X11EventClient
{
    Q_OBJECT

public:
    // Null when the server lacks the Damage extension, XFixes 2 or a 24-bit true-colour
    // screen, or is XWayland (which holds none of the Wayland windows beneath).
    static std::unique_ptr<X11LiveLens> open(std::shared_ptr<X11Connection> connection);
    // The same on a connection of its own to `displayName` (empty: $DISPLAY).
    static std::unique_ptr<X11LiveLens> open(const QByteArray &displayName = QByteArray());
    ~X11LiveLens() override;

    X11LiveLens(const X11LiveLens &) = delete;
    X11LiveLens &operator=(const X11LiveLens &) = delete;

    // Whether a compositing manager runs now (it owns _NET_WM_CM_S<screen>), so that a live
    // picture can be made. Asks the server.
    bool isLive();

    // Begins to follow `area` (root device pixels) beneath the windows `ownWindows` (the
    // overlay's; their top-level frames are left out too). The first picture is ready when
    // this returns. False, and nothing runs, when the picture cannot be live.
    bool start(const QRect &area, const std::vector<unsigned long> &ownWindows);
    // Moves the area; the new picture is ready when this returns (changed() follows).
    void setArea(const QRect &area);
    // Gives back every damage object and event selection.
    void stop();
    // Where `window`'s top left corner lies in root device pixels (one round trip); null
    // when the window is gone.
    std::optional<QPoint> rootPosition(unsigned long window);
    bool isRunning() const { return m_running; }

    // The area's pixels as the screen shows them beneath the overlay, Format_RGB32, one pixel
    // per device pixel; its offset() is the area's top left corner in root device pixels.
    QImage picture() const { return m_picture; }
    QRect area() const { return m_area; }

    // Whether pictures are read through shared memory (MIT-SHM). On by default where the
    // server offers it; the benchmark compares both.
    bool usesSharedMemory() const { return m_reader.usesSharedMemory(); }
    void setSharedMemoryAllowed(bool allowed) { m_reader.setSharedMemoryAllowed(allowed); }

    // What shows where no window lies over the area and the desktop publishes no picture of
    // its background (_XROOTPMAP_ID; a background set as the root window's own, by xsetroot
    // or a compositing manager's default fill, cannot be read under a compositor): a picture
    // of the screen in device pixels, its top left corner at `origin` in root device pixels;
    // the picture taken at the key press. Without it that part of the lens is black.
    void setBackdrop(const QPixmap &picture, QPoint origin);

signals:
    // A new picture differs from the last one: something beneath changed or the area moved.
    void changed();
    // The compositing manager went away (or came): the picture is no longer live and the
    // lens has stopped.
    void liveChanged();

private:
    X11LiveLens(std::shared_ptr<X11Connection> connection, int damageEventBase, bool shm);
    void handleEvent(const _XEvent &event) override;
    void onCompositorChanged(bool running);
    void scheduleFrame();
    void frame();
    void pickWindows();
    void composePicture();
    void clearDamage();

    const std::shared_ptr<X11Connection> m_connection;
    _XDisplay *const m_display;
    int m_damageEventBase = 0;
    X11WindowStack m_stack;
    X11ImageReader m_reader;

    bool m_running = false;
    QRect m_area;
    bool m_recompose = true; // the area or the background changed
    X11LiveArea::Pick m_pick;
    bool m_pickStale = true;
    // A damage object per picked window, and those that reported damage since the last frame.
    std::map<unsigned long, unsigned long> m_damage;
    bool m_damagedWithin = false; // a picked window drew inside the area since the last frame

    QImage m_picture;
    QTimer m_frameTimer;
    QElapsedTimer m_sinceFrame;
};
