#pragma once

#include <QLoggingCategory>

// The overlay's messages: "kavri.overlay" for the effects and their windows,
// "kavri.overlay.capture" for the magnifier's pictures of the screen (the native Wayland
// overlay has "kavri.overlay.wayland"). Warnings show by default; QT_LOGGING_RULES turns on
// the rest.
Q_DECLARE_LOGGING_CATEGORY(lcOverlay)
Q_DECLARE_LOGGING_CATEGORY(lcOverlayCapture)
