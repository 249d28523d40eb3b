#include "overlay/capture/pipewirestream.h"
#include "overlay/capture/framepicture.h"

#include <QMetaObject>

#include <pipewire/pipewire.h>
#include <spa/buffer/meta.h>
#include <spa/param/video/format-utils.h>
#include <spa/pod/builder.h>

#include <mutex>
#include <thread>

#include <unistd.h>

namespace {
std::once_flag pipewireInitialised;

bool layoutOf(spa_video_format format, FramePicture::PixelLayout *layout)
{
    switch (format) {
    case SPA_VIDEO_FORMAT_BGRx:
        *layout = FramePicture::PixelLayout::BGRx;
        return true;
    case SPA_VIDEO_FORMAT_BGRA:
        *layout = FramePicture::PixelLayout::BGRA;
        return true;
    case SPA_VIDEO_FORMAT_RGBx:
        *layout = FramePicture::PixelLayout::RGBx;
        return true;
    case SPA_VIDEO_FORMAT_RGBA:
        *layout = FramePicture::PixelLayout::RGBA;
        return true;
    default:
        return false;
    }
}
} // namespace

// Everything the PipeWire thread touches. Members after `loop` are used on that thread only,
// or under its lock; `pending` and `posted` under `handover`.
struct PipeWireStream::Loop
{
    PipeWireStream *owner = nullptr;
    std::weak_ptr<Loop> self;
    pw_thread_loop *loop = nullptr;
    pw_context *context = nullptr;
    pw_core *core = nullptr;
    pw_stream *stream = nullptr;
    spa_hook coreListener{};
    spa_hook streamListener{};
    spa_video_info_raw format{};
    bool done = false;
    QImage pool[3]; // the pictures frames are written into

    std::mutex handover;
    QImage pending;
    bool posted = false;

    void destroy()
    {
        pw_thread_loop_stop(loop);
        if (stream)
            pw_stream_destroy(stream);
        if (core)
            pw_core_disconnect(core);
        if (context)
            pw_context_destroy(context);
        pw_thread_loop_destroy(loop);
    }

    void report(const QImage &picture, const QString &why)
    {
        if (done)
            return;
        PipeWireStream *target = owner;
        std::weak_ptr<Loop> from = self;
        if (picture.isNull()) {
            done = true;
            QMetaObject::invokeMethod(
                target,
                [target, from, why] {
                    if (!from.expired() && from.lock() == target->m_loop) {
                        target->stop();
                        emit target->failed(why);
                    }
                },
                Qt::QueuedConnection);
            return;
        }
        // The Qt thread is told once until it has taken the frame; later ones replace it.
        std::lock_guard<std::mutex> lock(handover);
        pending = picture;
        if (posted)
            return;
        posted = true;
        QMetaObject::invokeMethod(
            target,
            [target, from] {
                if (!from.expired() && from.lock() == target->m_loop)
                    target->deliver();
            },
            Qt::QueuedConnection);
    }

    static void onCoreError(void *data, uint32_t id, int, int res, const char *message)
    {
        auto *self = static_cast<Loop *>(data);
        if (id == PW_ID_CORE || res == -EPIPE)
            self->report(QImage(), QStringLiteral("PipeWire: %1").arg(QString::fromUtf8(message)));
    }

    static void onStateChanged(void *data, pw_stream_state, pw_stream_state state,
                               const char *error)
    {
        auto *self = static_cast<Loop *>(data);
        if (state == PW_STREAM_STATE_ERROR) {
            self->report(QImage(),
                         QStringLiteral("PipeWire stream: %1").arg(QString::fromUtf8(error)));
        } else if (state == PW_STREAM_STATE_UNCONNECTED) {
            self->report(QImage(), QStringLiteral("the PipeWire stream was disconnected"));
        }
    }

    static void onParamChanged(void *data, uint32_t id, const spa_pod *param)
    {
        auto *self = static_cast<Loop *>(data);
        if (!param || id != SPA_PARAM_Format)
            return;
        uint32_t mediaType = 0;
        uint32_t mediaSubtype = 0;
        if (spa_format_parse(param, &mediaType, &mediaSubtype) < 0 ||
            mediaType != SPA_MEDIA_TYPE_video || mediaSubtype != SPA_MEDIA_SUBTYPE_raw)
            return;
        spa_format_video_raw_parse(param, &self->format);

        // Buffers in shared memory only: the frame is read by the processor, and a DMA
        // buffer would need a graphics context to read it.
        uint8_t buffer[1024];
        spa_pod_builder b = SPA_POD_BUILDER_INIT(buffer, sizeof(buffer));
        const spa_pod *params[3];
        params[0] = static_cast<const spa_pod *>(spa_pod_builder_add_object(
            &b, SPA_TYPE_OBJECT_ParamBuffers, SPA_PARAM_Buffers, SPA_PARAM_BUFFERS_dataType,
            SPA_POD_CHOICE_FLAGS_Int((1 << SPA_DATA_MemPtr) | (1 << SPA_DATA_MemFd))));
        params[1] = static_cast<const spa_pod *>(
            spa_pod_builder_add_object(&b, SPA_TYPE_OBJECT_ParamMeta, SPA_PARAM_Meta,
                                       SPA_PARAM_META_type, SPA_POD_Id(SPA_META_Header),
                                       SPA_PARAM_META_size, SPA_POD_Int(sizeof(spa_meta_header))));
        params[2] = static_cast<const spa_pod *>(
            spa_pod_builder_add_object(&b, SPA_TYPE_OBJECT_ParamMeta, SPA_PARAM_Meta,
                                       SPA_PARAM_META_type, SPA_POD_Id(SPA_META_VideoCrop),
                                       SPA_PARAM_META_size, SPA_POD_Int(sizeof(spa_meta_region))));
        pw_stream_update_params(self->stream, params, 3);
    }

    static void onProcess(void *data)
    {
        auto *self = static_cast<Loop *>(data);
        pw_buffer *buffer = pw_stream_dequeue_buffer(self->stream);
        if (!buffer)
            return;
        if (!self->done)
            self->take(buffer->buffer);
        pw_stream_queue_buffer(self->stream, buffer);
    }

    void take(spa_buffer *buffer)
    {
        if (buffer->n_datas < 1)
            return;
        const auto *header = static_cast<const spa_meta_header *>(
            spa_buffer_find_meta_data(buffer, SPA_META_Header, sizeof(spa_meta_header)));
        if (header && (header->flags & SPA_META_HEADER_FLAG_CORRUPTED))
            return;
        const spa_data &d = buffer->datas[0];
        // Screen casts send buffers without a picture when only the pointer moved.
        if (!d.data || !d.chunk || d.chunk->size == 0 ||
            (d.chunk->flags & SPA_CHUNK_FLAG_CORRUPTED))
            return;
        FramePicture::PixelLayout layout;
        if (!layoutOf(format.format, &layout)) {
            report(QImage(), QStringLiteral("PipeWire offered an unknown pixel format %1")
                                 .arg(int(format.format)));
            return;
        }
        const qsizetype offset = d.chunk->offset % qMax<uint32_t>(d.maxsize, 1);
        const auto *bytes = static_cast<const uchar *>(d.data) + offset;
        qsizetype length = qsizetype(d.maxsize) - offset;
        QRect area(0, 0, int(format.size.width), int(format.size.height));
        // Only the part the stream says holds the picture (a window's within a frame of its
        // largest size) is converted.
        const auto *crop = static_cast<const spa_meta_region *>(
            spa_buffer_find_meta_data(buffer, SPA_META_VideoCrop, sizeof(spa_meta_region)));
        if (crop && spa_meta_region_is_valid(crop) && d.chunk->stride > 0) {
            const QRect part(crop->region.position.x, crop->region.position.y,
                             int(crop->region.size.width), int(crop->region.size.height));
            if (area.contains(part)) {
                const qsizetype skip = qsizetype(part.y()) * d.chunk->stride + part.x() * 4;
                bytes += skip;
                length -= skip;
                area = part;
            }
        }
        // The Qt thread holds the frame it shows and maybe one on its way: a third is free.
        QImage *slot = &pool[0];
        for (QImage &kept : pool) {
            if (kept.isNull() || (kept.isDetached() && kept.size() == area.size())) {
                slot = &kept;
                break;
            }
        }
        const QImage picture =
            FramePicture::fromRaw(bytes, length, area.size(), d.chunk->stride, layout, slot);
        if (picture.isNull())
            return;
        report(picture, QString());
    }
};

PipeWireStream::PipeWireStream(QObject *parent) : QObject(parent) {}

PipeWireStream::~PipeWireStream()
{
    stop();
}

void PipeWireStream::deliver()
{
    QImage picture;
    {
        std::lock_guard<std::mutex> lock(m_loop->handover);
        picture = std::move(m_loop->pending);
        m_loop->pending = QImage();
        m_loop->posted = false;
    }
    if (!picture.isNull())
        emit frame(picture);
}

void PipeWireStream::stop()
{
    if (!m_loop)
        return;
    std::shared_ptr<Loop> loop = std::move(m_loop);
    if (!loop->loop)
        return;
    // Callbacks run under the loop's lock, so none reports after this.
    pw_thread_loop_lock(loop->loop);
    loop->done = true;
    pw_thread_loop_unlock(loop->loop);
    // Stopping the thread and freeing the stream take some 15-30 ms: not on the Qt thread.
    std::thread([loop = std::move(loop)] { loop->destroy(); }).detach();
}

bool PipeWireStream::start(quint32 node, int fd, QString *why)
{
    stop();
    std::call_once(pipewireInitialised, [] { pw_init(nullptr, nullptr); });
    m_loop = std::make_shared<Loop>();
    Loop &l = *m_loop;
    l.owner = this;
    l.self = m_loop;
    auto fail = [&](const QString &reason) {
        *why = reason;
        if (fd >= 0)
            ::close(fd);
        stop();
        return false;
    };
    l.loop = pw_thread_loop_new("kavri-capture", nullptr);
    if (!l.loop) {
        m_loop.reset();
        return fail(QStringLiteral("cannot make a PipeWire loop"));
    }
    l.context = pw_context_new(pw_thread_loop_get_loop(l.loop), nullptr, 0);
    if (!l.context)
        return fail(QStringLiteral("cannot make a PipeWire context"));
    if (pw_thread_loop_start(l.loop) < 0)
        return fail(QStringLiteral("cannot start the PipeWire thread"));

    pw_thread_loop_lock(l.loop);
    // The context owns the remote's descriptor from here on, connected or not.
    l.core = fd >= 0 ? pw_context_connect_fd(l.context, fd, nullptr, 0)
                     : pw_context_connect(l.context, nullptr, 0);
    fd = -1;
    if (!l.core) {
        const int error = errno;
        pw_thread_loop_unlock(l.loop);
        return fail(QStringLiteral("cannot reach the PipeWire daemon: %1")
                        .arg(QString::fromLocal8Bit(strerror(error))));
    }
    static const pw_core_events coreEvents = [] {
        pw_core_events e{};
        e.version = PW_VERSION_CORE_EVENTS;
        e.error = &Loop::onCoreError;
        return e;
    }();
    pw_core_add_listener(l.core, &l.coreListener, &coreEvents, &l);

    l.stream = pw_stream_new(l.core, "kavri-capture",
                             pw_properties_new(PW_KEY_MEDIA_TYPE, "Video", PW_KEY_MEDIA_CATEGORY,
                                               "Capture", PW_KEY_MEDIA_ROLE, "Screen", nullptr));
    static const pw_stream_events streamEvents = [] {
        pw_stream_events e{};
        e.version = PW_VERSION_STREAM_EVENTS;
        e.state_changed = &Loop::onStateChanged;
        e.param_changed = &Loop::onParamChanged;
        e.process = &Loop::onProcess;
        return e;
    }();
    pw_stream_add_listener(l.stream, &l.streamListener, &streamEvents, &l);

    uint8_t buffer[1024];
    spa_pod_builder b = SPA_POD_BUILDER_INIT(buffer, sizeof(buffer));
    spa_rectangle defaultSize{1920, 1080};
    spa_rectangle minSize{1, 1};
    spa_rectangle maxSize{16384, 16384};
    spa_fraction defaultRate{0, 1};
    spa_fraction minRate{0, 1};
    spa_fraction maxRate{1000, 1};
    const spa_pod *params[1];
    params[0] = static_cast<const spa_pod *>(spa_pod_builder_add_object(
        &b, SPA_TYPE_OBJECT_Format, SPA_PARAM_EnumFormat, SPA_FORMAT_mediaType,
        SPA_POD_Id(SPA_MEDIA_TYPE_video), SPA_FORMAT_mediaSubtype,
        SPA_POD_Id(SPA_MEDIA_SUBTYPE_raw), SPA_FORMAT_VIDEO_format,
        SPA_POD_CHOICE_ENUM_Id(5, SPA_VIDEO_FORMAT_BGRx, SPA_VIDEO_FORMAT_BGRx,
                               SPA_VIDEO_FORMAT_BGRA, SPA_VIDEO_FORMAT_RGBx, SPA_VIDEO_FORMAT_RGBA),
        SPA_FORMAT_VIDEO_size, SPA_POD_CHOICE_RANGE_Rectangle(&defaultSize, &minSize, &maxSize),
        SPA_FORMAT_VIDEO_framerate,
        SPA_POD_CHOICE_RANGE_Fraction(&defaultRate, &minRate, &maxRate)));
    const int connected = pw_stream_connect(
        l.stream, PW_DIRECTION_INPUT, node,
        static_cast<pw_stream_flags>(PW_STREAM_FLAG_AUTOCONNECT | PW_STREAM_FLAG_MAP_BUFFERS),
        params, 1);
    pw_thread_loop_unlock(l.loop);
    if (connected < 0) {
        return fail(QStringLiteral("cannot connect to PipeWire node %1: %2")
                        .arg(node)
                        .arg(QString::fromLocal8Bit(strerror(-connected))));
    }
    return true;
}
