#include "overlay/livesource.h"

#include "overlay/overlaylog.h"

bool NoLiveSource::follow(QScreen *, const QWidget *, const std::vector<const QWidget *> &, QPoint,
                          int, double)
{
    tell();
    return false;
}

bool NoLiveSource::willDraw()
{
    tell();
    return false;
}

void NoLiveSource::tell()
{
    if (m_told)
        return;
    m_told = true;
    qCInfo(lcOverlayCapture, "live lens: none");
}
