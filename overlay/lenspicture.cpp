#include "overlay/lenspicture.h"

#include "overlay/livesource.h"
#include "overlay/overlaylog.h"
#include "overlay/screencapture.h"

#include <algorithm>

LensPicture::LensPicture() : m_live(std::make_unique<NoLiveSource>())
{
    connectRoute(&m_grab);
}

LensPicture::~LensPicture()
{
    // The live lens's last signals must not reach a half-destroyed picture owner.
    stopLive();
}

void LensPicture::setLiveSource(std::unique_ptr<LiveSource> source)
{
    m_live->stop();
    m_live = std::move(source);
    connect(m_live.get(), &LiveSource::refreshed, this, &LensPicture::refreshed);
    connect(m_live.get(), &LiveSource::ended, this, &LensPicture::changed);
    connect(m_live.get(), &LiveSource::partRead, this, &LensPicture::onPartRead);
    connect(m_live.get(), &LiveSource::partFailed, this, &LensPicture::onPartFailed);
}

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

void LensPicture::request(QScreen *screen, const QRect &lensArea, const QWidget *screenWindow)
{
    if (!m_available)
        return;
    // A request still under way is of an earlier moment (another press of the effect key,
    // another magnification): it ends now rather than when it is answered.
    cancel();
    // Until the new picture comes the lens shows none, not the one of an earlier moment.
    m_picture = QPixmap();
    m_pictureOrigin = QPoint();
    m_kept.clear();
    m_screen = screen;
    if (!screen)
        return;
    ask(screen, lensArea, screenWindow);
}

void LensPicture::ask(QScreen *screen, const QRect &lensArea, const QWidget *screenWindow)
{
    m_askedPart = QRect();
    // A whole 4K screen is 33 MB read on the main thread: not for a backdrop.
    if (!m_route && !lensArea.isEmpty() && liveWillDraw()) {
        m_askedPart = lensArea.intersected(QRect(QPoint(0, 0), screen->geometry().size()));
        if (!m_askedPart.isEmpty()) {
            m_pending = true;
            // Read without waiting for a server that may be busy compositing.
            if (m_live->readPart(screen, screenWindow, m_askedPart)) {
                m_readingPart = true;
                return;
            }
            m_grab.readPartOnce(m_askedPart);
        }
    }
    m_pending = true;
    route()->capture(screen);
}

void LensPicture::onPartRead(QScreen *screen, const QPixmap &picture)
{
    if (!m_readingPart)
        return;
    m_readingPart = false;
    onCaptured(screen, picture);
}

void LensPicture::onPartFailed()
{
    if (!m_readingPart)
        return;
    m_readingPart = false;
    // Read by Qt then, as where there is no live picture.
    m_grab.readPartOnce(m_askedPart);
    m_grab.capture(m_screen);
}

void LensPicture::cancel()
{
    if (!m_pending)
        return;
    m_pending = false;
    if (m_readingPart) {
        m_readingPart = false;
        m_live->cancelPart();
        return;
    }
    route()->cancel();
}

void LensPicture::showOver(QScreen *screen, const QRect &lensArea, const QWidget *screenWindow)
{
    if (!m_available || !screen || screen == m_screen)
        return;
    if (m_screen && !m_pending && !m_picture.isNull())
        m_kept.push_back({m_screen, m_picture, m_pictureOrigin});
    cancel();
    m_screen = screen;
    m_picture = QPixmap();
    m_pictureOrigin = QPoint();
    const auto kept = std::find_if(m_kept.begin(), m_kept.end(),
                                   [screen](const auto &each) { return each.screen == screen; });
    if (kept != m_kept.end()) {
        m_picture = kept->picture;
        m_pictureOrigin = kept->origin;
        m_kept.erase(kept);
        useBackdrop();
        return;
    }
    // Beneath the lens's new place the overlay shows nothing yet: the route sees the screen.
    qCDebug(lcOverlayCapture, "the lens moved onto %s: its picture is asked for",
            qPrintable(screen->name()));
    ask(screen, lensArea, screenWindow);
}

void LensPicture::forgetScreen(QScreen *screen)
{
    m_kept.erase(std::remove_if(m_kept.begin(), m_kept.end(),
                                [screen](const auto &each) { return each.screen == screen; }),
                 m_kept.end());
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
    if (screen && screen == m_screen && !picture.isNull()) {
        m_picture = picture;
        m_pictureOrigin =
            m_askedPart.isNull()
                ? QPoint()
                : ScreenGrabCapture::partOrigin(m_askedPart, picture.devicePixelRatio());
        useBackdrop();
    }
    emit changed();
}

void LensPicture::useBackdrop()
{
    m_live->setPressPicture(m_screen, m_picture, m_pictureOrigin);
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

bool LensPicture::liveWillDraw()
{
    return m_available && m_live->willDraw();
}

bool LensPicture::follow(QScreen *screen, const QWidget *screenWindow,
                         const std::vector<const QWidget *> &ownWindows, QPoint pointer, int radius,
                         double scale)
{
    return m_live->follow(m_available ? screen : nullptr, screenWindow, ownWindows, pointer, radius,
                          scale);
}

void LensPicture::stopLive()
{
    m_live->stop();
}

QImage LensPicture::livePicture() const
{
    return m_live->picture();
}

QPoint LensPicture::liveOrigin() const
{
    return m_live->origin();
}
