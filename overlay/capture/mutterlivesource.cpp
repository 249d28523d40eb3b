#include "overlay/capture/mutterlivesource.h"

#include "overlay/capture/castplacement.h"
#include "overlay/overlaylog.h"
#include "overlay/x11/x11livearea.h"

#include <QScreen>

#include <cmath>

MutterLiveSource::MutterLiveSource()
{
    connect(&m_cast, &MutterWindowCast::frame, this, &MutterLiveSource::takeFrame);
    connect(&m_cast, &MutterWindowCast::failed, this, &MutterLiveSource::castFailed);
}

MutterLiveSource::~MutterLiveSource()
{
    stop();
}

bool MutterLiveSource::follow(QScreen *screen, const QWidget *,
                              const std::vector<const QWidget *> &, QPoint pointer, int radius,
                              double scale)
{
    if (!screen || m_refused) {
        drop();
        return false;
    }
    if (screen != m_screen) {
        m_placed = false;
        m_screen = screen;
    }
    if (!m_cast.isRunning()) {
        qCInfo(lcOverlayCapture, "live lens: the focused window is cast");
        m_cast.start();
    }
    const double ratio = screen->devicePixelRatio();
    const QSize deviceSize(int(std::lround(screen->geometry().width() * ratio)),
                           int(std::lround(screen->geometry().height() * ratio)));
    const QPoint devicePointer(int(std::lround(pointer.x() * ratio)),
                               int(std::lround(pointer.y() * ratio)));
    const QRect area =
        X11LiveArea::sourceRect(devicePointer, radius, ratio, scale, QRect(QPoint(), deviceSize));
    if (area == m_area && !m_live.isNull())
        return true;
    m_area = area;
    return compose();
}

void MutterLiveSource::stop()
{
    m_cast.stop();
    m_refused = false;
    drop();
}

void MutterLiveSource::drop()
{
    m_cast.stop();
    m_screen = nullptr;
    m_frame = QImage();
    m_placed = false;
    m_live = QImage();
}

void MutterLiveSource::setPressPicture(QScreen *screen, const QPixmap &picture, QPoint origin)
{
    m_pressScreen = screen;
    m_press = picture.toImage().convertToFormat(QImage::Format_RGB32);
    // Composed pixel for pixel, whatever ratio the picture was taken with.
    m_press.setDevicePixelRatio(1.0);
    m_pressOrigin = origin;
    m_placed = false;
}

void MutterLiveSource::takeFrame(const QImage &frame)
{
    if (frame.size() != m_frame.size())
        m_placed = false;
    m_frame = frame;
    if (compose())
        emit refreshed();
}

bool MutterLiveSource::compose()
{
    const bool pressHere = m_pressScreen && m_pressScreen == m_screen;
    if (!m_placed && !m_frame.isNull()) {
        // The press picture of the whole screen is where a window smaller than it is found.
        m_place =
            CastPlacement::place(m_frame, pressHere && m_pressOrigin.isNull() ? m_press : QImage());
        if (!m_place && m_screen) {
            const double ratio = m_screen->devicePixelRatio();
            const QSize screenSize(int(std::lround(m_screen->geometry().width() * ratio)),
                                   int(std::lround(m_screen->geometry().height() * ratio)));
            if (m_frame.size() == screenSize)
                m_place = QPoint(0, 0);
        }
        m_placed = true;
        qCInfo(lcOverlayCapture, "live lens: a window frame of %dx%d %s", m_frame.width(),
               m_frame.height(), m_place ? "placed on the screen" : "not found on the screen");
    }
    if (!m_place || m_area.isEmpty() || !QRect(*m_place, m_frame.size()).intersects(m_area)) {
        m_live = QImage();
        return false;
    }
    m_live = CastPlacement::compose(pressHere ? m_press : QImage(), m_pressOrigin, m_frame, m_place,
                                    m_area);
    return true;
}

void MutterLiveSource::castFailed(const QString &why, bool missing)
{
    // Not GNOME: there is no live lens to miss.
    if (!missing)
        qCWarning(lcOverlayCapture, "live lens: %s; the lens shows the picture of the key press",
                  qPrintable(why));
    drop();
    m_refused = true;
    emit ended();
}
