#include "overlay/lenspicture.h"

#include "overlay/overlaylog.h"
#include "overlay/screencapture.h"

#ifdef KAVRI_CAPTURE_X11LIVE
#include "overlay/capture/x11livearea.h"
#include "overlay/capture/x11livelens.h"
#endif

#include <QGuiApplication>

#include <algorithm>
#include <cmath>

LensPicture::LensPicture()
{
    connectRoute(&m_grab);
}

LensPicture::~LensPicture()
{
    // The live lens's last signals must not reach a half-destroyed picture owner.
    stopLive();
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

void LensPicture::request(QScreen *screen, const QRect &lensArea)
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
    ask(screen, lensArea);
}

void LensPicture::ask(QScreen *screen, const QRect &lensArea)
{
    m_askedPart = QRect();
    // A whole 4K screen is 33 MB read on the main thread: not for a backdrop.
    if (!m_route && !lensArea.isEmpty() && liveWillDraw()) {
        m_askedPart = lensArea.intersected(QRect(QPoint(0, 0), screen->geometry().size()));
        if (!m_askedPart.isEmpty())
            m_grab.readPartOnce(m_askedPart);
    }
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

void LensPicture::showOver(QScreen *screen, const QRect &lensArea)
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
    ask(screen, lensArea);
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
        m_pictureOrigin = m_askedPart.isNull()
                              ? QPoint()
                              : ScreenGrabCapture::partOrigin(m_askedPart, picture.devicePixelRatio());
        useBackdrop();
    }
    emit changed();
}

void LensPicture::useBackdrop()
{
#ifdef KAVRI_CAPTURE_X11LIVE
    // The live lens paints the desktop's background from the picture of the key press where
    // the desktop publishes none.
    if (m_liveLens && m_liveScreen)
        m_liveLens->setBackdrop(m_liveScreen == m_screen ? m_picture : QPixmap(),
                                m_liveScreenOrigin + m_pictureOrigin);
#endif
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

void LensPicture::openLive()
{
#ifdef KAVRI_CAPTURE_X11LIVE
    if (m_liveOpened)
        return;
    // Only where Qt itself draws on an X server; XWayland is refused by open().
    m_liveOpened = true;
    if (QGuiApplication::platformName() == QLatin1String("xcb"))
        m_liveLens = X11LiveLens::open();
    if (m_liveLens) {
        connect(m_liveLens.get(), &X11LiveLens::changed, this, &LensPicture::takeLivePicture);
        // Queued: it may come from inside follow(), while a frame is being planned.
        connect(m_liveLens.get(), &X11LiveLens::liveChanged, this, &LensPicture::liveEnded,
                Qt::QueuedConnection);
    }
    qCInfo(lcOverlayCapture, "live lens: %s",
           m_liveLens ? "on X11, where a compositing manager runs" : "none");
#endif
}

bool LensPicture::liveWillDraw()
{
#ifdef KAVRI_CAPTURE_X11LIVE
    openLive();
    return m_liveLens && !m_liveRefused && m_available && m_liveLens->isLive();
#else
    return false;
#endif
}

bool LensPicture::follow(QScreen *screen, unsigned long screenWindow,
                         const std::vector<unsigned long> &ownWindows, QPoint pointer, int radius,
                         double scale)
{
#ifdef KAVRI_CAPTURE_X11LIVE
    openLive();
    if (!m_liveLens || m_liveRefused || !screen || !screenWindow || !m_available) {
        dropLive();
        return false;
    }
    const double ratio = screen->devicePixelRatio();
    // A screen that moved moves its window: its corner is asked again.
    const bool restart = !m_liveLens->isRunning() || screen != m_liveScreen ||
                         screen->geometry() != m_liveScreenGeometry ||
                         screenWindow != m_liveScreenWindow || ownWindows != m_liveOwn;
    if (restart) {
        // The overlay window covers its screen exactly: its corner is the screen's.
        const std::optional<QPoint> origin = m_liveLens->rootPosition(screenWindow);
        if (!origin) {
            dropLive();
            return false;
        }
        m_liveScreenOrigin = *origin;
    }
    const QSize deviceSize(int(std::lround(screen->geometry().width() * ratio)),
                           int(std::lround(screen->geometry().height() * ratio)));
    const QPoint devicePointer(int(std::lround(pointer.x() * ratio)),
                               int(std::lround(pointer.y() * ratio)));
    const QRect area = X11LiveArea::sourceRect(m_liveScreenOrigin + devicePointer, radius, ratio,
                                               scale, QRect(m_liveScreenOrigin, deviceSize));
    // The picture made inside start() or setArea() is read below, not announced.
    m_following = true;
    bool running = true;
    if (restart) {
        m_liveScreen = screen;
        m_liveScreenGeometry = screen->geometry();
        m_liveScreenWindow = screenWindow;
        m_liveOwn = ownWindows;
        useBackdrop();
        running = m_liveLens->start(area, ownWindows);
    } else {
        m_liveLens->setArea(area);
    }
    if (!running) {
        m_following = false;
        // No compositing manager: the picture of the key press, until the lens is hidden.
        dropLive();
        m_liveRefused = true;
        return false;
    }
    takeLivePicture();
    m_following = false;
    return true;
#else
    Q_UNUSED(screen)
    Q_UNUSED(screenWindow)
    Q_UNUSED(ownWindows)
    Q_UNUSED(pointer)
    Q_UNUSED(radius)
    Q_UNUSED(scale)
    return false;
#endif
}

void LensPicture::stopLive()
{
    dropLive();
    m_liveRefused = false;
}

void LensPicture::dropLive()
{
#ifdef KAVRI_CAPTURE_X11LIVE
    if (m_liveLens)
        m_liveLens->stop();
#endif
    m_liveScreen = nullptr;
    m_liveScreenWindow = 0;
    m_liveOwn.clear();
    m_live = QImage();
    m_liveOrigin = QPoint();
}

void LensPicture::takeLivePicture()
{
#ifdef KAVRI_CAPTURE_X11LIVE
    if (!m_liveLens || !m_liveLens->isRunning())
        return;
    m_live = m_liveLens->picture();
    m_liveOrigin = m_liveLens->area().topLeft() - m_liveScreenOrigin;
    if (!m_following)
        emit refreshed();
#endif
}

void LensPicture::liveEnded()
{
#ifdef KAVRI_CAPTURE_X11LIVE
    // The compositing manager went away: the lens shows the picture of the key press again.
    if (m_liveLens && m_liveLens->isRunning())
        return;
    dropLive();
    m_liveRefused = true;
    emit changed();
#endif
}
