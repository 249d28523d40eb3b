#include "overlay/lenspicture.h"

#include "overlay/overlaylog.h"
#include "overlay/screencapture.h"

LensPicture::LensPicture()
{
    connectRoute(&m_grab);
}

LensPicture::~LensPicture() = default;

void LensPicture::connectRoute(ScreenCapture *route)
{
    connect(route, &ScreenCapture::captured, this, &LensPicture::onCaptured);
    connect(route, &ScreenCapture::failed, this, &LensPicture::onFailed);
}

ScreenCapture *LensPicture::route() const
{
    return m_route ? m_route.get() : const_cast<ScreenGrabCapture *>(&m_grab);
}

void LensPicture::setRoute(std::unique_ptr<ScreenCapture> route)
{
    cancel();
    m_route = std::move(route);
    if (m_route)
        connectRoute(m_route.get());
}

void LensPicture::setGrabber(ScreenGrabCapture::Grabber grabber)
{
    m_grab.setGrabber(std::move(grabber));
}

void LensPicture::setAvailable(bool available, const QString &why)
{
    if (available == m_available)
        return;
    m_available = available;
    m_why = available ? QString() : why;
    if (available)
        return;
    cancel();
    m_picture = QPixmap();
    m_screen = nullptr;
    emit unavailable(why);
}

void LensPicture::request(QScreen *screen)
{
    if (!m_available)
        return;
    // A request still under way is of an earlier moment (another press of the effect key,
    // another magnification): it ends now rather than when it is answered.
    cancel();
    // Until the new picture comes the lens shows none, not the one of an earlier moment.
    m_picture = QPixmap();
    m_screen = screen;
    if (!screen)
        return;
    m_pending = true;
    route()->capture(screen);
}

void LensPicture::cancel()
{
    if (!m_pending)
        return;
    m_pending = false;
    route()->cancel();
}

void LensPicture::forgetScreen(QScreen *screen)
{
    if (m_screen != screen)
        return;
    cancel();
    m_picture = QPixmap();
    m_screen = nullptr;
}

bool LensPicture::waitsForPicture() const
{
    if (m_pending || !m_available)
        return true;
    // Read at once, a failed picture leaves the lens its ring.
    if (route()->answersAtOnce())
        return false;
    return m_picture.isNull() || !m_screen;
}

bool LensPicture::onlyOverItsScreen() const
{
    return !route()->answersAtOnce();
}

void LensPicture::onCaptured(QPointer<QScreen> screen, QPixmap picture)
{
    // Nothing asked for (the route was replaced, or it answered twice): not ours.
    if (!m_pending)
        return;
    m_pending = false;
    if (screen && screen == m_screen && !picture.isNull())
        m_picture = picture;
    emit changed();
}

void LensPicture::onFailed(const QString &why, bool lasting)
{
    if (!m_pending)
        return;
    m_pending = false;
    qCWarning(lcOverlayCapture, "Magnifier: %s", qPrintable(why));
    if (lasting)
        setAvailable(false, why);
    emit changed();
}
