#pragma once

#include <QByteArray>
#include <QObject>
#include <QSocketNotifier>

#include <memory>
#include <vector>

struct _XDisplay;
union _XEvent;

// Reads the events of one Xlib connection for the objects that share it.
class X11EventClient
{
public:
    virtual ~X11EventClient() = default;
    // One event the connection read; every client sees every event.
    virtual void handleEvent(const _XEvent &event) = 0;
    // The connection has read all it held. `fromSocket`: the read came from the event loop
    // (the socket had data), not from after a request that waited for its answer.
    virtual void eventsHandled(bool fromSocket) { Q_UNUSED(fromSocket) }
};

// The overlay's one connection to the X server Qt talks to, shared by the window system and
// the live lens. It owns what is the process's or the connection's as a whole: the error
// handler while it is open (requests on windows that the server has destroyed meanwhile must
// not end the program, so errors are ignored; the handler found before is put back when the
// connection closes), the events selected on the root window (each user's mask is kept apart
// and the server is given their union), and the watch of the compositing manager's selection
// _NET_WM_CM_S<screen>, reported by compositorChanged().
//
// Not responsible for what the events mean: each client reads them (X11EventClient).
class X11Connection final : public QObject
{
    Q_OBJECT

public:
    // Null when no display can be opened or the server lacks the XFixes extension. An empty
    // name opens $DISPLAY, as Qt does.
    static std::shared_ptr<X11Connection> open(const QByteArray &displayName = QByteArray());
    ~X11Connection() override;

    X11Connection(const X11Connection &) = delete;
    X11Connection &operator=(const X11Connection &) = delete;

    _XDisplay *display() const { return m_display; }
    unsigned long root() const { return m_root; }
    // Whether the server is XWayland (by its "XWAYLAND" extension, or the names of its outputs
    // where the extension is too new), which holds only the X programs' windows. Asked once.
    bool isXWayland() const { return m_xwayland; }
    int fixesEventBase() const { return m_fixesEventBase; }

    // Whether a compositing manager owned the selection when the server last said so.
    bool isCompositing() const { return m_compositing; }
    // Asks the server now (one round trip).
    bool queryCompositing();

    // The events `client` wants on the root window; 0 for none. The server is told at once.
    void selectRootInput(const X11EventClient *client, long mask);

    void addClient(X11EventClient *client);
    void removeClient(X11EventClient *client);

    // Reads every event the connection holds and hands each to the clients. Call it after
    // requests that wait for an answer too: Xlib may have read events into its queue then,
    // and the socket would not report them again.
    void handleEvents();

signals:
    // The selection of the compositing manager changed hands: `running` says whether anyone
    // owns it now. Sent after the clients had the events that came with it.
    void compositorChanged(bool running);

private:
    X11Connection(_XDisplay *display, int fixesEventBase);
    void readSocket();
    void drain(bool fromSocket);

    _XDisplay *m_display = nullptr;
    unsigned long m_root = 0;
    int m_fixesEventBase = 0;
    unsigned long m_compositorSelection = 0;
    bool m_compositing = false;
    bool m_xwayland = false;
    bool m_draining = false;
    std::vector<X11EventClient *> m_clients;
    std::vector<std::pair<const X11EventClient *, long>> m_rootMasks;
    long m_rootMask = 0;
    std::unique_ptr<class X11ErrorTrap> m_errors;
    std::unique_ptr<QSocketNotifier> m_events;
};

// Sets Xlib's error handler for its own life and puts back the one found before. Errors of
// its display are noted (caught()); errors are never fatal while it stands. Traps nest.
class X11ErrorTrap final
{
public:
    explicit X11ErrorTrap(_XDisplay *display);
    ~X11ErrorTrap();

    X11ErrorTrap(const X11ErrorTrap &) = delete;
    X11ErrorTrap &operator=(const X11ErrorTrap &) = delete;

    // Waits until the server has answered every request sent so far and says whether one of
    // them, since the trap was set, failed.
    bool caught();

    // Called by the handler; the innermost trap hears of every error.
    void note(const _XDisplay *display);

private:
    _XDisplay *m_display = nullptr;
    bool m_caught = false;
    X11ErrorTrap *m_outer = nullptr;
    void (*m_previous)() = nullptr; // Xlib's XErrorHandler, kept out of this header
};
