#include "shortcuts/x11/x11shortcutgrabber.h"

#include "shortcuts/shortcutslog.h"

#include <QSocketNotifier>

#include <X11/XF86keysym.h>
#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/keysym.h>

#include <optional>

namespace {

// Caps Lock and Num Lock (Mod2 on every common keymap): each combination is grabbed in all
// four of their states.
constexpr unsigned LockModifiers[] = {0, LockMask, Mod2Mask, LockMask | Mod2Mask};
constexpr unsigned CombinationModifiers = ShiftMask | ControlMask | Mod1Mask | Mod4Mask;

struct KeyAndModifiers
{
    KeySym keysym = NoSymbol;
    unsigned modifiers = 0;
};

KeySym keysymOf(int key)
{
    // Latin-1 keys: X names them by the same code, in lower case.
    if (key >= 0x20 && key <= 0xff)
        return KeySym(QChar(key).toLower().unicode());
    if (key >= Qt::Key_F1 && key <= Qt::Key_F35)
        return XK_F1 + (key - Qt::Key_F1);
    switch (key) {
    case Qt::Key_Escape:
        return XK_Escape;
    case Qt::Key_Tab:
        return XK_Tab;
    case Qt::Key_Backspace:
        return XK_BackSpace;
    case Qt::Key_Return:
        return XK_Return;
    case Qt::Key_Enter:
        return XK_KP_Enter;
    case Qt::Key_Insert:
        return XK_Insert;
    case Qt::Key_Delete:
        return XK_Delete;
    case Qt::Key_Pause:
        return XK_Pause;
    case Qt::Key_Print:
        return XK_Print;
    case Qt::Key_Home:
        return XK_Home;
    case Qt::Key_End:
        return XK_End;
    case Qt::Key_Left:
        return XK_Left;
    case Qt::Key_Up:
        return XK_Up;
    case Qt::Key_Right:
        return XK_Right;
    case Qt::Key_Down:
        return XK_Down;
    case Qt::Key_PageUp:
        return XK_Prior;
    case Qt::Key_PageDown:
        return XK_Next;
    case Qt::Key_Menu:
        return XK_Menu;
    case Qt::Key_ScrollLock:
        return XK_Scroll_Lock;
    case Qt::Key_VolumeUp:
        return XF86XK_AudioRaiseVolume;
    case Qt::Key_VolumeDown:
        return XF86XK_AudioLowerVolume;
    case Qt::Key_MediaPlay:
        return XF86XK_AudioPlay;
    case Qt::Key_MediaNext:
        return XF86XK_AudioNext;
    case Qt::Key_MediaPrevious:
        return XF86XK_AudioPrev;
    default:
        return NoSymbol;
    }
}

std::optional<KeyAndModifiers> x11Combination(const QKeySequence &keys)
{
    const int combined = Shortcuts::combined(keys);
    KeyAndModifiers result;
    result.keysym = keysymOf(combined & ~int(Qt::KeyboardModifierMask));
    if (result.keysym == NoSymbol)
        return std::nullopt;
    if (combined & Qt::ShiftModifier)
        result.modifiers |= ShiftMask;
    if (combined & Qt::ControlModifier)
        result.modifiers |= ControlMask;
    if (combined & Qt::AltModifier)
        result.modifiers |= Mod1Mask;
    if (combined & Qt::MetaModifier)
        result.modifiers |= Mod4Mask;
    return result;
}

// Xlib reports errors to one handler for the whole process; it is ours only while the grabs
// of one combination are checked, and the handler before it is put back at once.
bool g_grabRefused = false;
int noteGrabError(Display *, XErrorEvent *error)
{
    if (error->error_code == BadAccess)
        g_grabRefused = true;
    return 0;
}

} // namespace

std::unique_ptr<X11ShortcutGrabber> X11ShortcutGrabber::open()
{
    Display *display = XOpenDisplay(nullptr);
    if (!display)
        return nullptr;
    return std::unique_ptr<X11ShortcutGrabber>(new X11ShortcutGrabber(display));
}

X11ShortcutGrabber::X11ShortcutGrabber(_XDisplay *display) : m_display(display)
{
    Bool supported = False;
    m_detectableRepeat = XkbSetDetectableAutoRepeat(m_display, True, &supported) && supported;
    m_notifier = new QSocketNotifier(ConnectionNumber(m_display), QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &X11ShortcutGrabber::readEvents);
}

X11ShortcutGrabber::~X11ShortcutGrabber()
{
    ungrabAll();
    XCloseDisplay(m_display);
}

void X11ShortcutGrabber::ungrabAll()
{
    const Window root = DefaultRootWindow(m_display);
    for (const Grab &grab : qAsConst(m_grabs))
        for (unsigned lock : LockModifiers)
            XUngrabKey(m_display, int(grab.keycode), grab.modifiers | lock, root);
    XSync(m_display, False);
    m_grabs.clear();
    m_held.clear();
}

QVector<Shortcuts::Action> X11ShortcutGrabber::grab(const Shortcuts::Table &table)
{
    ungrabAll();
    QVector<Shortcuts::Action> refused;
    const Window root = DefaultRootWindow(m_display);
    for (int a = 0; a < Shortcuts::ActionCount; ++a) {
        if (table[a].isEmpty())
            continue;
        const auto action = Shortcuts::Action(a);
        const std::optional<KeyAndModifiers> combination = x11Combination(table[a]);
        const KeyCode keycode =
            combination ? XKeysymToKeycode(m_display, combination->keysym) : KeyCode(0);
        if (keycode == 0) {
            refused << action;
            continue;
        }
        XSync(m_display, False);
        g_grabRefused = false;
        const XErrorHandler previous = XSetErrorHandler(noteGrabError);
        for (unsigned lock : LockModifiers)
            XGrabKey(m_display, keycode, combination->modifiers | lock, root, False, GrabModeAsync,
                     GrabModeAsync);
        XSync(m_display, False);
        XSetErrorHandler(previous);
        if (g_grabRefused) {
            // Some of the four may have been granted: none is kept, nothing half works.
            for (unsigned lock : LockModifiers)
                XUngrabKey(m_display, keycode, combination->modifiers | lock, root);
            refused << action;
            continue;
        }
        m_grabs.append({keycode, combination->modifiers, action});
    }
    XSync(m_display, False);
    // XSync may have read events into Xlib's queue; the socket would not say so again.
    readEvents();
    return refused;
}

void X11ShortcutGrabber::readEvents()
{
    while (XPending(m_display) > 0) {
        XEvent event;
        XNextEvent(m_display, &event);
        if (event.type != KeyPress && event.type != KeyRelease)
            continue;
        const unsigned keycode = event.xkey.keycode;
        if (event.type == KeyRelease) {
            if (!m_detectableRepeat && XEventsQueued(m_display, QueuedAfterReading) > 0) {
                XEvent next;
                XPeekEvent(m_display, &next);
                if (next.type == KeyPress && next.xkey.keycode == keycode &&
                    next.xkey.time == event.xkey.time) {
                    XNextEvent(m_display, &next); // the repeat's press, dropped with it
                    continue;
                }
            }
            const auto held = m_held.constFind(keycode);
            if (held == m_held.constEnd())
                continue;
            const Shortcuts::Action action = *held;
            m_held.erase(held);
            emit released(action);
            continue;
        }
        if (m_held.contains(keycode))
            continue; // auto-repeat
        const unsigned modifiers = event.xkey.state & CombinationModifiers;
        for (const Grab &grab : qAsConst(m_grabs)) {
            if (grab.keycode == keycode && grab.modifiers == modifiers) {
                m_held.insert(keycode, grab.action);
                emit pressed(grab.action);
                break;
            }
        }
    }
}
