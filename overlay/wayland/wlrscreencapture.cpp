#include "overlay/wayland/wlrscreencapture.h"

#include "overlay/wayland/shmbuffer.h"
#include "overlay/wayland/waylandclient.h"

#include "wlr-screencopy-unstable-v1-client-protocol.h"

#include <QImage>
#include <QMetaObject>

#include <wayland-client.h>

struct WlrScreenCapture::Listeners
{
    static WlrScreenCapture *self(void *data) { return static_cast<WlrScreenCapture *>(data); }

    static void buffer(void *data, zwlr_screencopy_frame_v1 *, uint32_t format, uint32_t width,
                       uint32_t height, uint32_t stride)
    {
        WlrScreenCapture *capture = self(data);
        capture->offered(format, int(width), int(height), int(stride));
        // Before version 3 this is the only offer, and no buffer_done follows.
        if (capture->m_client && capture->m_client->screencopyVersion() < 3)
            capture->offersDone();
    }
    static void flags(void *data, zwlr_screencopy_frame_v1 *, uint32_t flags)
    {
        self(data)->m_yInvert = flags & ZWLR_SCREENCOPY_FRAME_V1_FLAGS_Y_INVERT;
    }
    static void ready(void *data, zwlr_screencopy_frame_v1 *, uint32_t, uint32_t, uint32_t)
    {
        self(data)->ready();
    }
    static void failed(void *data, zwlr_screencopy_frame_v1 *)
    {
        self(data)->fail(QStringLiteral("the compositor could not copy the screen"), false, false);
    }
    static void damage(void *, zwlr_screencopy_frame_v1 *, uint32_t, uint32_t, uint32_t, uint32_t)
    {
    }
    static void linuxDmabuf(void *, zwlr_screencopy_frame_v1 *, uint32_t, uint32_t, uint32_t) {}
    static void bufferDone(void *data, zwlr_screencopy_frame_v1 *) { self(data)->offersDone(); }

    static const zwlr_screencopy_frame_v1_listener Frame;
};

const zwlr_screencopy_frame_v1_listener WlrScreenCapture::Listeners::Frame = {
    buffer, flags, ready, failed, damage, linuxDmabuf, bufferDone};

WlrScreenCapture::WlrScreenCapture(WaylandClient *client) : m_client(client) {}

WlrScreenCapture::~WlrScreenCapture()
{
    drop();
}

void WlrScreenCapture::capture(QScreen *screen)
{
    drop();
    ++m_request;
    m_screen = screen;
    if (!m_client || !m_client->isAlive())
        return fail(QStringLiteral("the overlay's Wayland connection is closed"), true, true);
    if (!m_client->screencopy())
        return fail(QStringLiteral("the compositor offers no screencopy"), true, true);
    WaylandOutput *output = m_client->outputFor(screen);
    if (!output) {
        return fail(QStringLiteral("no Wayland output shows screen %1")
                        .arg(screen ? screen->name() : QStringLiteral("(none)")),
                    false, true);
    }
    m_clock.start();
    // Without the pointer: the lens draws its own.
    m_frame = zwlr_screencopy_manager_v1_capture_output(m_client->screencopy(), 0, output->output);
    zwlr_screencopy_frame_v1_add_listener(m_frame, &Listeners::Frame, this);
    m_client->flush();
}

void WlrScreenCapture::cancel()
{
    drop();
    ++m_request;
}

void WlrScreenCapture::drop()
{
    m_copying = false;
    m_yInvert = false;
    if (!m_client) {
        // The connection is gone with its objects' memory: nothing can be destroyed any more.
        m_frame = nullptr;
        (void)m_buffer.release();
        return;
    }
    if (m_frame) {
        zwlr_screencopy_frame_v1_destroy(m_frame);
        m_frame = nullptr;
    }
    m_buffer.reset();
}

void WlrScreenCapture::fail(const QString &why, bool lasting, bool later)
{
    drop();
    if (!later) {
        emit failed(why, lasting);
        return;
    }
    const int request = m_request;
    QMetaObject::invokeMethod(
        this,
        [this, request, why, lasting] {
            // A newer request replaced this one meanwhile: it answers for itself.
            if (request == m_request)
                emit failed(why, lasting);
        },
        Qt::QueuedConnection);
}

void WlrScreenCapture::offered(uint32_t format, int width, int height, int stride)
{
    if (m_buffer || (format != WL_SHM_FORMAT_ARGB8888 && format != WL_SHM_FORMAT_XRGB8888))
        return;
    m_buffer = ShmBuffer::create(m_client->shm(), QSize(width, height), format, stride);
    m_format = format;
}

void WlrScreenCapture::offersDone()
{
    if (m_copying)
        return;
    if (!m_buffer) {
        return fail(QStringLiteral("the compositor offers the screen in no format read here"), true,
                    false);
    }
    zwlr_screencopy_frame_v1_copy(m_frame, m_buffer->buffer());
    m_copying = true;
    m_client->flush();
}

void WlrScreenCapture::ready()
{
    // The screen is opaque whatever the fourth byte says (undefined in XRGB8888).
    const QSize size = m_buffer->size();
    QImage image(size, QImage::Format_RGB32);
    for (int y = 0; y < size.height(); ++y) {
        const int from = m_yInvert ? size.height() - 1 - y : y;
        const auto *src = reinterpret_cast<const quint32 *>(m_buffer->bytes() +
                                                            qsizetype(from) * m_buffer->stride());
        auto *dst = reinterpret_cast<quint32 *>(image.scanLine(y));
        for (int x = 0; x < size.width(); ++x)
            dst[x] = src[x] | 0xff000000u;
    }
    QPixmap picture = QPixmap::fromImage(std::move(image));
    if (m_screen && m_screen->geometry().width() > 0)
        picture.setDevicePixelRatio(double(size.width()) / m_screen->geometry().width());
    m_lastDurationMs = m_clock.elapsed();
    qCDebug(lcLayerOverlay, "screencopy of %dx%d took %lld ms", size.width(), size.height(),
            m_lastDurationMs);
    const QPointer<QScreen> screen = m_screen;
    drop();
    emit captured(screen, picture);
}
