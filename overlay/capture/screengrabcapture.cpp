#include "overlay/capture/screengrabcapture.h"

#include <cmath>

namespace {

// The screen in its device pixels, their ratio set. Without a window the platform takes the
// area relative to the screen, in its logical coordinates; -1 asks for all of it. Nothing is
// scaled.
QPixmap grabScreen(QScreen *screen, const QRect &part)
{
    if (part.isNull())
        return screen->grabWindow(0, 0, 0, -1, -1);
    return screen->grabWindow(0, part.x(), part.y(), part.width(), part.height());
}

} // namespace

QPoint ScreenGrabCapture::partOrigin(const QRect &part, double ratio)
{
    // As Qt maps the corner to the screen's device pixels.
    return QPoint(int(std::lround(part.x() * ratio)), int(std::lround(part.y() * ratio)));
}

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
    m_asked = m_part;
    m_part = QRect();
    m_answer.start();
}

void ScreenGrabCapture::cancel()
{
    m_answer.stop();
}

void ScreenGrabCapture::grab()
{
    QScreen *screen = m_screen;
    const QPixmap picture = screen ? m_grabber(screen, m_asked) : QPixmap();
    if (picture.isNull())
        emit failed(QStringLiteral("the screen could not be read"), false);
    else
        emit captured(screen, picture);
}
