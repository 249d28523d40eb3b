#include "overlay/capture/captureroute.h"

QString captureRouteName(CaptureRoute route)
{
    switch (route) {
    case CaptureRoute::X11:
        return QStringLiteral("x11");
    case CaptureRoute::WlrScreencopy:
        return QStringLiteral("wlr-screencopy");
    case CaptureRoute::GnomeScreencast:
        return QStringLiteral("gnome-screencast");
    case CaptureRoute::KWinScreenshot:
        return QStringLiteral("kwin-screenshot");
    case CaptureRoute::Portal:
        return QStringLiteral("portal");
    }
    return QString();
}

QStringList captureRouteNames(const QList<CaptureRoute> &routes)
{
    QStringList names;
    for (const CaptureRoute route : routes)
        names << captureRouteName(route);
    return names;
}
