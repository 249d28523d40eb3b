#include "overlay/x11/x11livesource.h"

#include "overlay/capture/screengrabcapture.h"
#include "overlay/overlaylog.h"
#include "overlay/x11/x11connection.h"
#include "overlay/x11/x11livearea.h"
#include "overlay/x11/x11livelens.h"
#include "overlay/x11/x11partreader.h"

#include <QScreen>
#include <QWidget>

#include <cmath>

X11LiveSource::X11LiveSource(std::shared_ptr<X11Connection> connection)
    : m_connection(std::move(connection))
{
}

X11LiveSource::~X11LiveSource()
{
    // The live lens's last signals must not reach a half-destroyed source.
    stop();
}

bool X11LiveSource::follow(QScreen *screen, const QWidget *screenWindow,
                           const std::vector<const QWidget *> &ownWindows, QPoint pointer,
                           int radius, double scale)
{
    openLive();
    // effectiveWinId(), not winId(): asking for the id must not make the widget native.
    std::vector<unsigned long> own;
    for (const QWidget *window : ownWindows) {
        if (const unsigned long id = window->effectiveWinId())
            own.push_back(id);
    }
    const unsigned long screenId = screenWindow ? screenWindow->effectiveWinId() : 0;
    if (!m_liveLens || m_liveRefused || !screen || !screenId) {
        dropLive();
        return false;
    }
    const double ratio = screen->devicePixelRatio();
    // A screen that moved moves its window: its corner is asked again.
    const bool restart = !m_liveLens->isRunning() || screen != m_liveScreen ||
                         screen->geometry() != m_liveScreenGeometry ||
                         screenId != m_liveScreenWindow || own != m_liveOwn;
    if (restart) {
        // The overlay window covers its screen exactly: its corner is the screen's. It moves
        // only with its screen, so what was heard for this geometry holds.
        if (const QPoint *known = knownOrigin(screenId, screen->geometry())) {
            m_liveScreenOrigin = *known;
        } else {
            const std::optional<QPoint> origin = m_liveLens->rootPosition(screenId);
            if (!origin) {
                dropLive();
                return false;
            }
            m_liveScreenOrigin = *origin;
            m_origins.push_back({screenId, screen->geometry(), *origin});
        }
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
        m_liveScreenWindow = screenId;
        m_liveOwn = own;
        useBackdrop();
        running = m_liveLens->start(area, own);
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
}

void X11LiveSource::openLive()
{
    if (m_liveOpened)
        return;
    m_liveOpened = true;
    // XWayland is refused by open().
    m_liveLens = X11LiveLens::open(m_connection);
    if (m_liveLens) {
        connect(m_liveLens.get(), &X11LiveLens::changed, this, &X11LiveSource::takeLivePicture);
        // Queued: it may come from inside follow(), while a frame is being planned.
        connect(m_liveLens.get(), &X11LiveLens::liveChanged, this, &X11LiveSource::liveEnded,
                Qt::QueuedConnection);
    }
    qCInfo(lcOverlayCapture, "live lens: %s",
           m_liveLens ? "on X11, where a compositing manager runs" : "none");
}

bool X11LiveSource::willDraw()
{
    openLive();
    return m_liveLens && !m_liveRefused && m_liveLens->isLive();
}

void X11LiveSource::stop()
{
    dropLive();
    m_liveRefused = false;
}

void X11LiveSource::setPressPicture(QScreen *screen, const QPixmap &picture, QPoint origin)
{
    m_pressScreen = screen;
    m_pressPicture = picture;
    m_pressOrigin = origin;
    useBackdrop();
}

void X11LiveSource::useBackdrop()
{
    // The live lens paints the desktop's background from the picture of the key press where
    // the desktop publishes none.
    if (m_liveLens && m_liveScreen)
        m_liveLens->setBackdrop(m_liveScreen == m_pressScreen ? m_pressPicture : QPixmap(),
                                m_liveScreenOrigin + m_pressOrigin);
}

void X11LiveSource::dropLive()
{
    if (m_liveLens)
        m_liveLens->stop();
    m_liveScreen = nullptr;
    m_liveScreenWindow = 0;
    m_liveOwn.clear();
    m_live = QImage();
    m_liveOrigin = QPoint();
}

void X11LiveSource::takeLivePicture()
{
    if (!m_liveLens || !m_liveLens->isRunning())
        return;
    m_live = m_liveLens->picture();
    m_liveOrigin = m_liveLens->area().topLeft() - m_liveScreenOrigin;
    if (!m_following)
        emit refreshed();
}

void X11LiveSource::liveEnded()
{
    // The compositing manager went away: the lens shows the picture of the key press again.
    if (m_liveLens && m_liveLens->isRunning())
        return;
    dropLive();
    m_liveRefused = true;
    emit ended();
}

bool X11LiveSource::readPart(QScreen *screen, const QWidget *screenWindow, const QRect &part)
{
    const unsigned long window = screenWindow ? screenWindow->effectiveWinId() : 0;
    if (!screen || !window || !willDraw())
        return false;
    if (!m_partReader) {
        m_partReader = std::make_unique<X11PartReader>(m_connection);
        connect(m_partReader.get(), &X11PartReader::partRead, this, &X11LiveSource::takePart);
        connect(m_partReader.get(), &X11PartReader::failed, this, &X11LiveSource::partFailed);
    }
    // The device pixels Qt reads for the same part of the screen.
    const double ratio = screen->devicePixelRatio();
    const QSize deviceSize(int(std::lround(screen->geometry().width() * ratio)),
                           int(std::lround(screen->geometry().height() * ratio)));
    const QRect device = QRect(ScreenGrabCapture::partOrigin(part, ratio),
                               QSize(int(std::lround(part.width() * ratio)),
                                     int(std::lround(part.height() * ratio))))
                             .intersected(QRect(QPoint(), deviceSize));
    if (device.isEmpty())
        return false;
    m_partScreen = screen;
    m_partRatio = ratio;
    m_partReader->read(window, device, knownOrigin(window, screen->geometry()));
    return true;
}

void X11LiveSource::cancelPart()
{
    if (m_partReader)
        m_partReader->cancel();
}

void X11LiveSource::takePart(const QImage &picture, unsigned long window, QPoint windowOrigin)
{
    if (m_partScreen && !knownOrigin(window, m_partScreen->geometry()))
        m_origins.push_back({window, m_partScreen->geometry(), windowOrigin});
    if (!m_partScreen) {
        emit partFailed();
        return;
    }
    QPixmap pixmap = QPixmap::fromImage(picture);
    pixmap.setDevicePixelRatio(m_partRatio);
    emit partRead(m_partScreen, pixmap);
}

const QPoint *X11LiveSource::knownOrigin(unsigned long window, const QRect &geometry) const
{
    for (const Origin &each : m_origins) {
        if (each.window == window && each.geometry == geometry)
            return &each.origin;
    }
    return nullptr;
}
