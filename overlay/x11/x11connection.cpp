#include "overlay/x11/x11connection.h"

#include <QGuiApplication>
#include <QScreen>

#include <algorithm>

// Xlib last: its macros (None, Bool, Status, ...) clash with Qt's names.
#include <X11/Xlib.h>
#include <X11/extensions/Xfixes.h>

namespace {

// The trap set last; Xlib has one handler for the whole process.
X11ErrorTrap *innermostTrap = nullptr;

int onXError(Display *display, XErrorEvent *)
{
    if (innermostTrap)
        innermostTrap->note(display);
    return 0;
}

bool serverIsXWayland(Display *display)
{
    // Xwayland 23.1 and later announce themselves by an extension of their own name.
    int opcode = 0;
    int eventBase = 0;
    int errorBase = 0;
    if (XQueryExtension(display, "XWAYLAND", &opcode, &eventBase, &errorBase))
        return true;
    // Older ones (Debian 12 has 22.1) only name their RandR outputs XWAYLAND0, XWAYLAND1, ...,
    // and Qt names its screens after those outputs.
    const QList<QScreen *> screens = QGuiApplication::screens();
    return std::any_of(screens.begin(), screens.end(), [](const QScreen *screen) {
        return screen->name().startsWith(QLatin1String("XWAYLAND"));
    });
}

} // namespace

X11ErrorTrap::X11ErrorTrap(Display *display)
    : m_display(display), m_outer(innermostTrap),
      m_previous(reinterpret_cast<void (*)()>(XSetErrorHandler(onXError)))
{
    innermostTrap = this;
}

X11ErrorTrap::~X11ErrorTrap()
{
    if (innermostTrap == this) {
        innermostTrap = m_outer;
        XSetErrorHandler(reinterpret_cast<XErrorHandler>(m_previous));
        return;
    }
    // Not the last one set (connections close in any order): the trap set after this one
    // puts back what this one found.
    for (X11ErrorTrap *inner = innermostTrap; inner; inner = inner->m_outer) {
        if (inner->m_outer == this) {
            inner->m_outer = m_outer;
            inner->m_previous = m_previous;
            return;
        }
    }
}

bool X11ErrorTrap::caught()
{
    XSync(m_display, False);
    return m_caught;
}

void X11ErrorTrap::note(const Display *display)
{
    if (display == m_display)
        m_caught = true;
    else if (m_outer)
        m_outer->note(display);
}

std::shared_ptr<X11Connection> X11Connection::open(const QByteArray &displayName)
{
    Display *display = XOpenDisplay(displayName.isEmpty() ? nullptr : displayName.constData());
    if (!display)
        return nullptr;
    int fixesEventBase = 0;
    int errorBase = 0;
    if (!XFixesQueryExtension(display, &fixesEventBase, &errorBase)) {
        XCloseDisplay(display);
        return nullptr;
    }
    return std::shared_ptr<X11Connection>(new X11Connection(display, fixesEventBase));
}

X11Connection::X11Connection(Display *display, int fixesEventBase)
    : m_display(display), m_root(DefaultRootWindow(display)), m_fixesEventBase(fixesEventBase),
      m_errors(std::make_unique<X11ErrorTrap>(display))
{
    m_xwayland = serverIsXWayland(display);
    const QByteArray name = "_NET_WM_CM_S" + QByteArray::number(DefaultScreen(display));
    m_compositorSelection = XInternAtom(display, name.constData(), False);
    XFixesSelectSelectionInput(display, m_root, m_compositorSelection,
                               XFixesSetSelectionOwnerNotifyMask |
                                   XFixesSelectionWindowDestroyNotifyMask |
                                   XFixesSelectionClientCloseNotifyMask);
    m_events = std::make_unique<QSocketNotifier>(ConnectionNumber(display), QSocketNotifier::Read);
    connect(m_events.get(), &QSocketNotifier::activated, this, &X11Connection::readSocket);
    m_compositing = XGetSelectionOwner(display, m_compositorSelection) != 0;
}

X11Connection::~X11Connection()
{
    m_events.reset();
    XCloseDisplay(m_display);
    m_errors.reset();
}

bool X11Connection::queryCompositing()
{
    return XGetSelectionOwner(m_display, m_compositorSelection) != 0;
}

void X11Connection::selectRootInput(const X11EventClient *client, long mask)
{
    const auto own = std::find_if(m_rootMasks.begin(), m_rootMasks.end(),
                                  [client](const auto &entry) { return entry.first == client; });
    if (own != m_rootMasks.end())
        own->second = mask;
    else
        m_rootMasks.emplace_back(client, mask);
    long all = 0;
    for (const auto &entry : m_rootMasks)
        all |= entry.second;
    if (all == m_rootMask)
        return;
    m_rootMask = all;
    XSelectInput(m_display, m_root, all);
}

void X11Connection::addClient(X11EventClient *client)
{
    m_clients.push_back(client);
}

void X11Connection::removeClient(X11EventClient *client)
{
    m_clients.erase(std::remove(m_clients.begin(), m_clients.end(), client), m_clients.end());
    selectRootInput(client, 0);
}

void X11Connection::readSocket()
{
    drain(true);
}

void X11Connection::handleEvents()
{
    drain(false);
}

void X11Connection::drain(bool fromSocket)
{
    // A client may ask for a round trip while it handles an event: the inner call reads what
    // came meanwhile, the outer one ends the batch.
    const bool outer = !m_draining;
    m_draining = true;
    bool ownerChanged = false;
    while (XPending(m_display) > 0) {
        XEvent event;
        XNextEvent(m_display, &event);
        if (event.type == m_fixesEventBase + XFixesSelectionNotify) {
            const auto *notify = reinterpret_cast<XFixesSelectionNotifyEvent *>(&event);
            if (notify->selection == m_compositorSelection) {
                m_compositing =
                    notify->subtype == XFixesSetSelectionOwnerNotify && notify->owner != 0;
                ownerChanged = true;
            }
        }
        const std::vector<X11EventClient *> clients = m_clients;
        for (X11EventClient *client : clients)
            client->handleEvent(event);
    }
    if (!outer) {
        if (ownerChanged)
            emit compositorChanged(m_compositing);
        return;
    }
    m_draining = false;
    const std::vector<X11EventClient *> clients = m_clients;
    for (X11EventClient *client : clients)
        client->eventsHandled(fromSocket);
    if (ownerChanged)
        emit compositorChanged(m_compositing);
}
