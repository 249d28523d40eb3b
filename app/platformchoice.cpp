#include "app/platformchoice.h"

#include <QtGlobal>

namespace PlatformChoice {

bool shouldUseXcb(const QByteArray &waylandDisplay, const QByteArray &display,
                  const QByteArray &qpaPlatform, const QStringList &arguments)
{
    if (waylandDisplay.isEmpty() || display.isEmpty() || !qpaPlatform.isEmpty())
        return false;
    // Qt reads "-platform name" and accepts a doubled dash for its own options.
    for (int i = 1; i < arguments.size(); ++i) {
        const QString &arg = arguments.at(i);
        if (arg == QLatin1String("-platform") || arg == QLatin1String("--platform"))
            return false;
    }
    return true;
}

Environment environment()
{
    Environment env;
    env.qpaPlatform = qgetenv("QT_QPA_PLATFORM");
    env.sessionType = qgetenv("XDG_SESSION_TYPE");
    env.display = qgetenv("DISPLAY");
    env.waylandDisplay = qgetenv("WAYLAND_DISPLAY");
    env.waylandSocket = !qEnvironmentVariableIsEmpty("WAYLAND_SOCKET");
    return env;
}

bool preferXWayland(int argc, char **argv)
{
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    const Environment env = environment();
    if (!shouldUseXcb(env.waylandDisplay, env.display, env.qpaPlatform, arguments))
        return false;
    qputenv("QT_QPA_PLATFORM", "xcb");
    return true;
}

} // namespace PlatformChoice
