#include "overlay/capture/screengrabcapture.h"

namespace {

// The whole screen in its device pixels, their ratio set. Without a window the platform
// takes the area relative to the screen; -1 asks for all of it. Nothing is scaled.
QPixmap grabScreen(QScreen *screen)
{
    return screen->grabWindow(0, 0, 0, -1, -1);
}

} // namespace

ScreenGrabCapture::ScreenGrabCapture(Grabber grabber)
    : m_grabber(grabber ? std::move(grabber) : Grabber(grabScreen))
{
    m_answer.setSingleShot(true);
    m_answer.setInterval(0);
    connect(&m_answer, &QTimer::timeout, this, &ScreenGrabCapture::grab);
}

void ScreenGrabCapture::setGrabber(Grabber grabber)
{
    m_grabber = grabber ? std::move(grabber) : Grabber(grabScreen);
}

void ScreenGrabCapture::capture(QScreen *screen)
{
    m_screen = screen;
    m_answer.start();
}

void ScreenGrabCapture::cancel()
{
    m_answer.stop();
}

void ScreenGrabCapture::grab()
{
    QScreen *screen = m_screen;
    const QPixmap picture = screen ? m_grabber(screen) : QPixmap();
    if (picture.isNull())
        emit failed(QStringLiteral("the screen could not be read"), false);
    else
        emit captured(screen, picture);
}
