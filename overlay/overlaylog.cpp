#include "overlay/overlaylog.h"

Q_LOGGING_CATEGORY(lcOverlay, "kavri.overlay", QtWarningMsg)
Q_LOGGING_CATEGORY(lcOverlayCapture, "kavri.overlay.capture", QtWarningMsg)
