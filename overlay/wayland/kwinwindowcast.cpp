#include "overlay/wayland/kwinwindowcast.h"

#include "overlay/capture/pipewirestream.h"
#include "overlay/wayland/waylandclient.h"

#include "zkde-screencast-unstable-v1-client-protocol.h"

#include <QMetaObject>

struct KWinWindowCastListeners
{
    static void closed(void *data, zkde_screencast_stream_unstable_v1 *)
    {
        static_cast<KWinWindowCast *>(data)->end();
    }
    static void created(void *data, zkde_screencast_stream_unstable_v1 *, uint32_t node)
    {
        static_cast<KWinWindowCast *>(data)->created(node);
    }
    static void failed(void *data, zkde_screencast_stream_unstable_v1 *, const char *error)
    {
        static_cast<KWinWindowCast *>(data)->fail(QString::fromUtf8(error));
    }
};

namespace {

const zkde_screencast_stream_unstable_v1_listener StreamListener = {
    KWinWindowCastListeners::closed, KWinWindowCastListeners::created,
    KWinWindowCastListeners::failed};

} // namespace

namespace {

// KWin sends a first frame once the stream is linked, also of a window that stays still.
constexpr int FirstFrameWaitMs = 3000;

} // namespace

KWinWindowCast::KWinWindowCast()
{
    m_firstFrame.setSingleShot(true);
    m_firstFrame.setInterval(FirstFrameWaitMs);
    connect(&m_firstFrame, &QTimer::timeout, this,
            [this] { fail(QStringLiteral("no picture came from the screen cast")); });
}

std::unique_ptr<KWinWindowCast> KWinWindowCast::bind(WaylandClient *client)
{
    auto *manager = static_cast<zkde_screencast_unstable_v1 *>(
        client->bindGlobal(&zkde_screencast_unstable_v1_interface, 1));
    if (!manager)
        return nullptr;
    std::unique_ptr<KWinWindowCast> cast(new KWinWindowCast);
    cast->m_client = client;
    cast->m_manager = manager;
    return cast;
}

KWinWindowCast::~KWinWindowCast()
{
    stop();
    if (m_manager && m_client->isAlive()) {
        zkde_screencast_unstable_v1_destroy(m_manager);
        m_client->flush();
    }
}

void KWinWindowCast::start(const QString &uuid)
{
    stop();
    if (!m_client->isAlive()) {
        QMetaObject::invokeMethod(
            this, [this] { emit failed(QStringLiteral("the Wayland connection broke")); },
            Qt::QueuedConnection);
        return;
    }
    m_uuid = uuid;
    ++m_generation;
    m_stream = zkde_screencast_unstable_v1_stream_window(
        m_manager, uuid.toUtf8().constData(), ZKDE_SCREENCAST_UNSTABLE_V1_POINTER_HIDDEN);
    zkde_screencast_stream_unstable_v1_add_listener(m_stream, &StreamListener, this);
    m_client->flush();
}

void KWinWindowCast::stop()
{
    m_firstFrame.stop();
    if (m_pipeWire) {
        m_pipeWire->disconnect(this);
        m_pipeWire->stop();
        m_pipeWire.reset();
    }
    if (m_stream) {
        // close is the destructor: KWin ends the recording and frees its node.
        zkde_screencast_stream_unstable_v1_close(m_stream);
        m_stream = nullptr;
        m_client->flush();
    }
    m_uuid.clear();
}

void KWinWindowCast::created(uint32_t node)
{
    m_pipeWire = std::make_unique<PipeWireStream>();
    connect(m_pipeWire.get(), &PipeWireStream::frame, this, [this](const QImage &picture) {
        m_firstFrame.stop();
        emit frame(picture);
    });
    connect(m_pipeWire.get(), &PipeWireStream::failed, this, &KWinWindowCast::fail);
    QString why;
    if (!m_pipeWire->start(node, -1, &why)) {
        fail(why);
        return;
    }
    m_firstFrame.start();
}

void KWinWindowCast::fail(const QString &why)
{
    // Not from within the stream's own event: it is freed later, once the event is handled.
    // A recording stopped meanwhile is not this one's business any more.
    QMetaObject::invokeMethod(
        this,
        [this, why, generation = m_generation] {
            if (generation != m_generation || !m_stream)
                return;
            stop();
            emit failed(why);
        },
        Qt::QueuedConnection);
}

void KWinWindowCast::end()
{
    QMetaObject::invokeMethod(
        this,
        [this, generation = m_generation] {
            if (generation != m_generation || !m_stream)
                return;
            stop();
            emit closed();
        },
        Qt::QueuedConnection);
}
