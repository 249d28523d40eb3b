#include "app/displaycheck.h"

#include "app/platformchoice.h"
#include "overlay/overlayplatform.h"

#include <QByteArray>
#include <QByteArrayList>

#include <cstdio>

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
QByteArrayList platforms(int argc, char **argv, const PlatformChoice::Environment &env)
{
    QByteArray list = optionValue(argc, argv, "-platform", env.qpaPlatform);
    if (list.isEmpty())
        list = env.sessionType == "wayland" ? "wayland;xcb" : "xcb";
    QByteArrayList names;
    for (const QByteArray &entry : list.split(';')) {
        const QByteArray name = entry.split(':').first().trimmed().toLower();
        if (!name.isEmpty() && !names.contains(name))
            names << name;
    }
    return names;
}

} // namespace

void release()
{
    OverlayPlatform::releaseDisplayProbes();
}

bool canOpen(int argc, char **argv)
{
    using Display = OverlayPlatform::Display;
    const PlatformChoice::Environment env = PlatformChoice::environment();
    QByteArrayList tried;
    for (const QByteArray &platform : platforms(argc, argv, env)) {
        if (platform == "xcb") {
            const QByteArray display = optionValue(argc, argv, "-display", env.display);
            if (const std::optional<bool> answers =
                    OverlayPlatform::displayAnswers(Display::X11, display)) {
                if (*answers)
                    return true;
                tried << (display.isEmpty() ? QByteArray("(X11: DISPLAY is not set)")
                                            : '"' + display + "\" (X11)");
                continue;
            }
        } else if (platform.startsWith("wayland") && !env.waylandSocket) {
            if (const std::optional<bool> answers =
                    OverlayPlatform::displayAnswers(Display::Wayland, QByteArray())) {
                if (*answers)
                    return true;
                const QByteArray display = env.waylandDisplay;
                tried << '"' + (display.isEmpty() ? QByteArray("wayland-0") : display) +
                             "\" (Wayland)";
                continue;
            }
        }
        return true; // nothing to check before Qt tries it
    }
    if (tried.isEmpty())
        return true;
    std::fprintf(stderr, "Kavri: cannot open the display %s\n", tried.join(" or ").constData());
    return false;
}

} // namespace DisplayCheck
