#include "app/displaycheck.h"

#include <QByteArray>
#include <QByteArrayList>

#include <cstdio>

#ifdef KAVRI_DISPLAY_XCB
#include <xcb/xcb.h>
#endif
#ifdef KAVRI_DISPLAY_WAYLAND
#include <wayland-client-core.h>
#endif

namespace DisplayCheck {

namespace {

// The value of a Qt option ("-name value", or with a doubled dash); the last one counts.
QByteArray optionValue(int argc, char **argv, const char *name, QByteArray value)
{
    for (int i = 1; i + 1 < argc; ++i) {
        const char *arg = argv[i];
        if (arg[0] == '-' && arg[1] == '-')
            ++arg;
        if (qstrcmp(arg, name) == 0)
            value = argv[++i];
    }
    return value;
}

// The platform names Qt tries, in order, without their options ("xcb:option").
QByteArrayList platforms(int argc, char **argv)
{
    QByteArray list = optionValue(argc, argv, "-platform", qgetenv("QT_QPA_PLATFORM"));
    if (list.isEmpty())
        list = qgetenv("XDG_SESSION_TYPE") == "wayland" ? "wayland;xcb" : "xcb";
    QByteArrayList names;
    for (const QByteArray &entry : list.split(';')) {
        const QByteArray name = entry.split(':').first().trimmed().toLower();
        if (!name.isEmpty() && !names.contains(name))
            names << name;
    }
    return names;
}

#ifdef KAVRI_DISPLAY_XCB
// The connection that answered stays open until Qt has one of its own: an X server without
// -noreset resets when its last client leaves, and would lose what others put on its root
// window (the accessibility bus's address, a desktop's settings).
xcb_connection_t *heldConnection = nullptr;

bool xcbAnswers(const QByteArray &display)
{
    xcb_connection_t *connection =
        xcb_connect(display.isEmpty() ? nullptr : display.constData(), nullptr);
    const bool answers = xcb_connection_has_error(connection) == 0;
    if (answers && !heldConnection)
        heldConnection = connection;
    else
        xcb_disconnect(connection);
    return answers;
}
#endif

#ifdef KAVRI_DISPLAY_WAYLAND
bool waylandAnswers()
{
    wl_display *display = wl_display_connect(nullptr);
    if (!display)
        return false;
    wl_display_disconnect(display);
    return true;
}
#endif

} // namespace

void release()
{
#ifdef KAVRI_DISPLAY_XCB
    if (heldConnection)
        xcb_disconnect(heldConnection);
    heldConnection = nullptr;
#endif
}

bool canOpen(int argc, char **argv)
{
    QByteArrayList tried;
    for (const QByteArray &platform : platforms(argc, argv)) {
#ifdef KAVRI_DISPLAY_XCB
        if (platform == "xcb") {
            const QByteArray display = optionValue(argc, argv, "-display", qgetenv("DISPLAY"));
            if (xcbAnswers(display))
                return true;
            tried << (display.isEmpty() ? QByteArray("(X11: DISPLAY is not set)")
                                        : '"' + display + "\" (X11)");
            continue;
        }
#endif
#ifdef KAVRI_DISPLAY_WAYLAND
        if (platform.startsWith("wayland") && qEnvironmentVariableIsEmpty("WAYLAND_SOCKET")) {
            if (waylandAnswers())
                return true;
            const QByteArray display = qgetenv("WAYLAND_DISPLAY");
            tried << '"' + (display.isEmpty() ? QByteArray("wayland-0") : display) + "\" (Wayland)";
            continue;
        }
#endif
        return true; // nothing to check before Qt tries it
    }
    if (tried.isEmpty())
        return true;
    std::fprintf(stderr, "Kavri: cannot open the display %s\n", tried.join(" or ").constData());
    return false;
}

} // namespace DisplayCheck
