#include "overlay/wayland/kwinlivesource.h"

#include "overlay/overlaylog.h"
#include "overlay/wayland/kwinwindowcast.h"
#include "overlay/wayland/plasmawindowlist.h"
#include "overlay/wayland/waylandclient.h"
#include "overlay/x11/x11livearea.h"

#include <QPainter>
#include <QScreen>

#include <algorithm>
#include <cmath>

#include <unistd.h>

namespace {

const QString WindowList = QStringLiteral("org_kde_plasma_window_management");
const QString ScreenCast = QStringLiteral("zkde_screencast_unstable_v1");

} // namespace

bool KWinLiveSource::offeredBy(const QStringList &globals)
{
    return globals.contains(WindowList) && globals.contains(ScreenCast);
}

bool KWinLiveSource::refusedBy(const QStringList &globals)
{
    const bool kwin = std::any_of(globals.begin(), globals.end(), [](const QString &g) {
        return g.startsWith(QLatin1String("org_kde_kwin_"));
    });
    return kwin && !offeredBy(globals);
}

std::unique_ptr<KWinLiveSource> KWinLiveSource::open(const QStringList &globals)
{
    if (!offeredBy(globals))
        return nullptr;
    std::unique_ptr<KWinLiveSource> source(new KWinLiveSource);
    source->m_client = WaylandClient::connectToDisplay();
    if (!source->m_client)
        return nullptr;
    source->m_windows = PlasmaWindowList::bind(source->m_client.get());
    source->m_cast = KWinWindowCast::bind(source->m_client.get());
    if (!source->m_windows || !source->m_cast)
        return nullptr;
    KWinLiveSource *self = source.get();
    connect(self->m_cast.get(), &KWinWindowCast::frame, self, &KWinLiveSource::takeFrame);
    connect(self->m_cast.get(), &KWinWindowCast::failed, self, &KWinLiveSource::castFailed);
    connect(self->m_cast.get(), &KWinWindowCast::closed, self, &KWinLiveSource::castClosed);
    qCInfo(lcOverlayCapture, "live lens: KWin's screen cast of the window under the lens");
    return source;
}

KWinLiveSource::~KWinLiveSource()
{
    // Before the connection goes: KWin is told to end the recording.
    drop();
}

bool KWinLiveSource::follow(QScreen *screen, const QWidget *, const std::vector<const QWidget *> &,
                            QPoint pointer, int radius, double scale)
{
    const WaylandOutput *output = screen ? m_client->outputFor(screen) : nullptr;
    if (m_refused || !output || output->logical.isEmpty() || screen->geometry().isEmpty()) {
        drop();
        return false;
    }
    // Qt's screen may count in other units than the compositor's layout (XWayland).
    const QRect logical = screen->geometry();
    const double ratio = screen->devicePixelRatio();
    const QSize deviceSize(int(std::lround(logical.width() * ratio)),
                           int(std::lround(logical.height() * ratio)));
    const double toCompositor = double(output->logical.width()) / logical.width();
    const QPoint at = output->logical.topLeft() + (QPointF(pointer) * toCompositor).toPoint();
    const std::vector<WindowPlacement::Window> stack = m_windows->stack();
    const WindowPlacement::Pick pick = WindowPlacement::windowAt(stack, at, quint32(getpid()));
    if (pick.index < 0) {
        drop();
        return false;
    }
    const WindowPlacement::Window &window = stack[size_t(pick.index)];
    if (!m_cast->isRunning() || m_cast->window() != window.uuid) {
        m_frame = QImage();
        m_cast->start(window.uuid);
    }
    m_screen = screen;
    m_output = output->logical;
    m_devicePerLogical = double(deviceSize.width()) / output->logical.width();
    m_window = window;
    m_visible = pick.visible;
    const QPoint devicePointer(int(std::lround(pointer.x() * ratio)),
                               int(std::lround(pointer.y() * ratio)));
    m_area = X11LiveArea::sourceRect(devicePointer, radius, ratio, scale,
                                     QRect(QPoint(), deviceSize));
    compose();
    return true;
}

void KWinLiveSource::compose()
{
    if (m_area.isEmpty()) {
        m_picture = QImage();
        return;
    }
    m_picture = QImage(m_area.size(), QImage::Format_ARGB32_Premultiplied);
    m_picture.fill(Qt::transparent);
    QPainter painter(&m_picture);
    if (m_pressScreen == m_screen && !m_press.isNull())
        painter.drawImage(m_pressOrigin - m_area.topLeft(), m_press);
    if (m_frame.isNull())
        return;
    // From here on in the compositor's coordinates.
    QTransform toPicture;
    toPicture.translate(-m_area.x(), -m_area.y());
    toPicture.scale(m_devicePerLogical, m_devicePerLogical);
    toPicture.translate(-m_output.x(), -m_output.y());
    painter.setTransform(toPicture);
    painter.setClipRegion(m_visible);
    // Frames bigger than the window are in device pixels (KWin 6 records at the output's scale).
    QSize size = m_frame.size();
    if (size.width() > m_window.geometry.width() && m_devicePerLogical > 1.0)
        size = (QSizeF(size) / m_devicePerLogical).toSize();
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawImage(QRectF(WindowPlacement::frameRect(m_window.geometry, size)), m_frame);
}

void KWinLiveSource::takeFrame(const QImage &frame)
{
    m_frame = frame;
    if (m_picture.isNull())
        return;
    compose();
    emit refreshed();
}

void KWinLiveSource::castFailed(const QString &why)
{
    if (!m_told) {
        m_told = true;
        qCWarning(lcOverlayCapture,
                  "live lens: KWin's screen cast of the window failed (%s); the lens shows the "
                  "picture taken at the key press",
                  qPrintable(why));
    }
    drop();
    m_refused = true;
    emit ended();
}

void KWinLiveSource::castClosed()
{
    // The window went: the lens shows the picture of the key press until it is moved.
    m_frame = QImage();
    if (m_picture.isNull())
        return;
    compose();
    emit refreshed();
}

void KWinLiveSource::stop()
{
    drop();
    m_refused = false;
}

void KWinLiveSource::drop()
{
    if (m_cast)
        m_cast->stop();
    m_frame = QImage();
    m_picture = QImage();
    m_area = QRect();
    m_screen = nullptr;
    m_window = WindowPlacement::Window();
}

void KWinLiveSource::setPressPicture(QScreen *screen, const QPixmap &picture, QPoint origin)
{
    m_pressScreen = screen;
    m_pressOrigin = origin;
    // In device pixels, whatever the ratio the capture carries.
    m_press = picture.toImage();
    m_press.setDevicePixelRatio(1.0);
    // Asked for within a frame being planned: the caller reads the picture anew.
    if (!m_picture.isNull())
        compose();
}
