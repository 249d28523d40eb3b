#include "overlay/livesource.h"

#include "overlay/overlaylog.h"

bool NoLiveSource::follow(QScreen *, const QWidget *, const std::vector<const QWidget *> &, QPoint,
                          int, double)
{
    if (!m_told) {
        m_told = true;
        qCInfo(lcOverlayCapture, "live lens: none");
    }
    return false;
}
