#include "overlay/overlaysurface.h"

#include "overlay/overlayframe.h"
#include "overlay/overlaypaint.h"
#

#include <QPainter>
#include <QScreen>
#include <QWindow>

OverlaySurface::OverlaySurface(QWidget *parent, const OverlayFrame *frame, Qt::WindowFlags flags)
    : QWidget(parent), m_frame(frame)
{
    setWindowFlags(flags);
    setAttribute(Qt::WA_TranslucentBackground, true);
    setAttribute(Qt::WA_TransparentForMouseEvents, true);
    setAttribute(Qt::WA_MouseTracking, true);
    setAttribute(Qt::WA_ShowWithoutActivating, true);
    setFocusPolicy(Qt::NoFocus);
}

void OverlaySurface::cover(QScreen *screen)
{
    m_screen = screen;
    if (!screen)
        return;
    if (QWindow *window = windowHandle())
        window->setScreen(screen);
    // Full screen by geometry as well: without a window manager nobody acts on the
    // full-screen request and the window would keep a default size.
    setGeometry(screen->geometry());
    shownRegionKnown = false;
    update();
}

void OverlaySurface::createOn(QScreen *screen)
{
    cover(screen);
    create();
    cover(screen);
}

bool OverlaySurface::showsEffect() const
{
    return m_screen && m_frame && m_frame->screen == m_screen;
}

void OverlaySurface::paintEvent(QPaintEvent *)
{
    if (!m_frame)
        return;
    QPainter painter(this);
    OverlayPaint::paint(painter, *m_frame, rect(), showsEffect());
}
