#pragma once

#include <QList>
#include <QString>
#include <QStringList>

// The ways the magnifier gets its picture of the screen. Their printed names (the start-up
// line, the capture chain's reasons) come from one table, captureRouteName().
enum class CaptureRoute {
    X11,             // the X server, read by the program itself
    WlrScreencopy,   // zwlr_screencopy_manager_v1 on the overlay's Wayland connection
    GnomeScreencast, // org.gnome.Mutter.ScreenCast, frames over PipeWire
    KWinScreenshot,  // org.kde.KWin.ScreenShot2
    Portal,          // org.freedesktop.portal.Screenshot
};

QString captureRouteName(CaptureRoute route);
QStringList captureRouteNames(const QList<CaptureRoute> &routes);
