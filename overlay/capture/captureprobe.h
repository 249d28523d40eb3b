#pragma once

#include "overlay/capture/captureroute.h"

#include <QList>
#include <QString>
#include <QStringList>

// What the session offers for taking pictures of the screen, asked of the session bus at
// start. Every question has a short timeout, and without a session bus nothing is asked.
struct CaptureOffer
{
    bool sessionBus = false;
    // org.freedesktop.portal.Desktop is running or can be started.
    bool portal = false;
    // The portal answered the question for its Screenshot interface; a portal that is only
    // activatable is not started to ask it.
    bool portalAnswered = false;
    // The portal's Screenshot interface version; 0 when the portal has no such interface, is
    // not running or did not answer in time.
    uint portalScreenshotVersion = 0;
    // org.gnome.Mutter.ScreenCast is running, and its API version (0 when unknown).
    bool mutterScreenCast = false;
    int mutterScreenCastVersion = 0;
    // KWin runs on the session bus, and the version of its ScreenShot2 interface (0 when it
    // has none, e.g. with its screenshot effect off).
    bool kwin = false;
    uint kwinScreenShotVersion = 0;

    // One line for standard error, e.g. "portal Screenshot v1, GNOME screen cast v4".
    QString describe() const;
};

// Asks the session bus; each call waits at most `timeoutMs`.
CaptureOffer probeCaptureOffer(int timeoutMs = 250);

// The capture routes worth trying on a session offering `offer`, best first; a
// portal that did not answer in time is still worth a try:
// GNOME's screen cast before the portal, because GNOME's portal flashes the screen, plays
// the shutter sound and leaves a file in the user's Pictures for every picture; KWin's
// screenshot interface before the portal, because Plasma's portal leaves a file in the
// user's Pictures for every picture too.
// `pipewire` says whether the screen cast can be read at all (builtWithPipeWire()).
QList<CaptureRoute> recommendedCaptureRoutes(const CaptureOffer &offer, bool pipewire);
