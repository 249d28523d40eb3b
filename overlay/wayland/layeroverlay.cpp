#include "overlay/wayland/layeroverlay.h"

#include "overlay/overlayframe.h"
#include "overlay/overlaygeometry.h"
#include "overlay/overlaypaint.h"
#include "overlay/wayland/shmbuffer.h"
#include "overlay/wayland/waylandclient.h"
#include "overlay/wayland/wlrscreencapture.h"

#include <QElapsedTimer>

#include <wayland-client.h>

#include <algorithm>

// The protocol names an argument "namespace", a keyword of C++.
#define namespace namespace_
#include "wlr-layer-shell-unstable-v1-client-protocol.h"
#undef namespace

namespace {

using OverlayGeometry::modeTraits;
using Drawing = OverlayGeometry::ModeTraits::Drawing;

// A buffer on the screen, one being drawn, and one in reserve for a frame drawn before the
// compositor's release of the others has been read.
constexpr std::size_t MaxBuffers = 3;
// A frame callback the compositor has not answered for this long (an output switched off)
// no longer holds drawing back.
constexpr qint64 FrameWaitLimitMs = 250;

} // namespace

struct LayerOverlay::Private
{
    // What the overlay shows on one output. While an effect is displayed there it has a layer
    // surface of its own; hidden, the surface is destroyed, and the next show makes a new one.
    // A layer surface unmapped and mapped again is not taken the same way by every compositor
    // (KWin 5.27 answers the new configure but never shows the surface), while a new one is
    // mapped everywhere.
    struct Surface
    {
        Private *owner = nullptr;
        WaylandOutput *output = nullptr;
        // Both null while hidden.
        wl_surface *surface = nullptr;
        zwlr_layer_surface_v1 *layer = nullptr;
        // Asked to be shown, and the compositor's answer (the first configure).
        bool shown = false;
        bool configured = false;
        QSize size; // logical pixels
        int scale = 1;
        std::vector<std::unique_ptr<ShmBuffer>> buffers;
        bool attached = false;
        bool waitingForBuffer = false;
        wl_callback *frameCallback = nullptr;
        qint64 frameAskedAt = 0;
        // What is still to be drawn (logical pixels).
        QRegion damage;
        // Input over the whole surface, or none at all, and whether the compositor knows.
        bool wholeInput = false;
        bool inputChanged = true;
        // The newest picture planned for this surface.
        bool effect = false;
        int mode = ModeNormal;
        QPoint pointer;
        int radius = 0;
    };

    LayerOverlay *q = nullptr;
    std::unique_ptr<WaylandClient> client;
    std::vector<std::unique_ptr<Surface>> surfaces;
    OverlayFrame frame;
    std::optional<QPoint> pointer;
    Surface *pointerSurface = nullptr;

    QElapsedTimer clock;
    // When the first pointer motion not yet drawn arrived, and when the first one that a
    // planned frame follows did.
    qint64 motionAt = -1;
    qint64 followedMotionAt = -1;
    qint64 statsSince = 0;
    int statsFrames = 0;
    int statsFollowed = 0;
    qint64 statsDelaySum = 0;
    qint64 statsDelayMax = 0;

    ~Private();
    void start(LayerOverlay *overlay);
    void outputChanged(WaylandOutput *output);
    void addSurface(WaylandOutput *output);
    void removeSurface(Surface *s);
    void setShown(Surface *s, bool shown);
    void makeLayerSurface(Surface *s);
    void dropLayerSurface(Surface *s);
    void sendInputRegion(Surface *s);
    Surface *surfaceOf(const wl_surface *surface) const;
    void plan(Surface *s, bool onlyPointerMoved, bool pictureRefreshed);
    void schedule(Surface *s);
    void draw(Surface *s);
    ShmBuffer *freeBuffer(Surface *s);
    void pointerAt(Surface *s, QPointF local);
    void countFrame(bool mapping);

    static void onConfigure(void *data, zwlr_layer_surface_v1 *layer, uint32_t serial,
                            uint32_t width, uint32_t height);
    static void onClosed(void *data, zwlr_layer_surface_v1 *);
    static void onFrameDone(void *data, wl_callback *callback, uint32_t);
    static const zwlr_layer_surface_v1_listener LayerListener;
    static const wl_callback_listener FrameListener;
};

const zwlr_layer_surface_v1_listener LayerOverlay::Private::LayerListener = {onConfigure, onClosed};
const wl_callback_listener LayerOverlay::Private::FrameListener = {onFrameDone};

LayerOverlay::Private::~Private()
{
    while (!surfaces.empty())
        removeSurface(surfaces.back().get());
}

void LayerOverlay::Private::start(LayerOverlay *overlay)
{
    q = overlay;
    clock.start();
    QObject::connect(client.get(), &WaylandClient::outputChanged, q,
                     [this](WaylandOutput *output) { outputChanged(output); });
    QObject::connect(client.get(), &WaylandClient::outputRemoving, q,
                     [this](WaylandOutput *output) {
                         for (const auto &s : surfaces) {
                             if (s->output == output) {
                                 removeSurface(s.get());
                                 break;
                             }
                         }
                     });
    QObject::connect(client.get(), &WaylandClient::lost, q, &LayerOverlay::lost);
    client->onPointerEnter = [this](uint32_t serial, wl_surface *surface, QPointF local) {
        Surface *s = surfaceOf(surface);
        if (!s)
            return;
        pointerSurface = s;
        // Over the surface the pointer shows what the effect wants: as it takes input only
        // while an effect follows the pointer, that is no pointer at all.
        if (modeTraits(frame.mode).pointer == OverlayGeometry::ModeTraits::Pointer::Hidden)
            wl_pointer_set_cursor(client->pointer(), serial, nullptr, 0, 0);
        pointerAt(s, local);
    };
    client->onPointerLeave = [this](wl_surface *) { pointerSurface = nullptr; };
    client->onPointerMotion = [this](QPointF local) {
        if (pointerSurface)
            pointerAt(pointerSurface, local);
    };
    client->onButtonPress = [this] { emit q->pressed(); };
    for (const auto &output : client->outputs()) {
        if (output->ready)
            addSurface(output.get());
    }
    client->flush();
}

void LayerOverlay::Private::outputChanged(WaylandOutput *output)
{
    for (const auto &s : surfaces) {
        if (s->output != output)
            continue;
        if (s->scale != output->scale) {
            s->scale = output->scale;
            s->damage = QRect(QPoint(), s->size);
            schedule(s.get());
        }
        return;
    }
    addSurface(output);
}

void LayerOverlay::Private::addSurface(WaylandOutput *output)
{
    auto s = std::make_unique<Surface>();
    s->owner = this;
    s->output = output;
    s->scale = output->scale;
    Surface *added = s.get();
    surfaces.push_back(std::move(s));
    plan(added, false, false);
    client->flush();
}

void LayerOverlay::Private::setShown(Surface *s, bool shown)
{
    if (shown == s->shown)
        return;
    s->shown = shown;
    if (shown) {
        makeLayerSurface(s);
    } else {
        // Destroyed rather than left transparent: the compositor then looks again for the
        // surface under the pointer, so the next click goes to the window beneath even when
        // the pointer has not moved since the overlay took it.
        const bool hadPointer = pointerSurface == s;
        dropLayerSurface(s);
        if (hadPointer)
            client->nudgePointer();
    }
    client->flush();
}

void LayerOverlay::Private::makeLayerSurface(Surface *s)
{
    s->surface = wl_compositor_create_surface(client->compositor());
    s->layer =
        zwlr_layer_shell_v1_get_layer_surface(client->layerShell(), s->surface, s->output->output,
                                              ZWLR_LAYER_SHELL_V1_LAYER_OVERLAY, "kavri");
    zwlr_layer_surface_v1_add_listener(s->layer, &LayerListener, s);
    // The whole output; a commit without a buffer, which the compositor answers with the
    // surface's size (onConfigure draws then).
    zwlr_layer_surface_v1_set_size(s->layer, 0, 0);
    zwlr_layer_surface_v1_set_anchor(
        s->layer, ZWLR_LAYER_SURFACE_V1_ANCHOR_TOP | ZWLR_LAYER_SURFACE_V1_ANCHOR_BOTTOM |
                      ZWLR_LAYER_SURFACE_V1_ANCHOR_LEFT | ZWLR_LAYER_SURFACE_V1_ANCHOR_RIGHT);
    // Over panels and docks too, without moving them.
    zwlr_layer_surface_v1_set_exclusive_zone(s->layer, -1);
    zwlr_layer_surface_v1_set_keyboard_interactivity(s->layer, 0);
    sendInputRegion(s);
    wl_surface_commit(s->surface);
    s->configured = false;
    s->attached = false;
}

void LayerOverlay::Private::dropLayerSurface(Surface *s)
{
    if (pointerSurface == s)
        pointerSurface = nullptr;
    if (s->frameCallback) {
        wl_callback_destroy(s->frameCallback);
        s->frameCallback = nullptr;
    }
    // The buffers go with the surface: a compositor need not release the buffers of a
    // surface that is gone, and one never released would hold the next show back.
    s->buffers.clear();
    if (s->layer)
        zwlr_layer_surface_v1_destroy(s->layer);
    if (s->surface)
        wl_surface_destroy(s->surface);
    s->layer = nullptr;
    s->surface = nullptr;
    s->shown = false;
    s->configured = false;
    s->attached = false;
    s->waitingForBuffer = false;
    s->damage = QRegion();
    // A new surface starts with no input; sent with its first commit.
    s->inputChanged = true;
}

void LayerOverlay::Private::sendInputRegion(Surface *s)
{
    if (s->wholeInput) {
        wl_surface_set_input_region(s->surface, nullptr);
    } else {
        wl_region *region = wl_compositor_create_region(client->compositor());
        wl_surface_set_input_region(s->surface, region);
        wl_region_destroy(region);
    }
    s->inputChanged = false;
}

void LayerOverlay::Private::removeSurface(Surface *s)
{
    dropLayerSurface(s);
    surfaces.erase(std::find_if(surfaces.begin(), surfaces.end(),
                                [s](const auto &each) { return each.get() == s; }));
    client->flush();
}

LayerOverlay::Private::Surface *LayerOverlay::Private::surfaceOf(const wl_surface *surface) const
{
    for (const auto &s : surfaces) {
        if (s->surface == surface)
            return s.get();
    }
    return nullptr;
}

void LayerOverlay::Private::onConfigure(void *data, zwlr_layer_surface_v1 *layer, uint32_t serial,
                                        uint32_t width, uint32_t height)
{
    auto *s = static_cast<Surface *>(data);
    if (!s->shown || layer != s->layer)
        return;
    zwlr_layer_surface_v1_ack_configure(layer, serial);
    QSize size{int(width), int(height)};
    if (size.isEmpty())
        size = s->output->logical.size();
    if (size != s->size || !s->configured) {
        s->size = size;
        s->damage = QRect(QPoint(), size);
    }
    s->configured = true;
    // The acknowledgement counts with the next commit: draw at once.
    s->owner->draw(s);
}

void LayerOverlay::Private::onClosed(void *data, zwlr_layer_surface_v1 *)
{
    // The compositor dropped the surface (its output is going, say). The output keeps its
    // place: the next frame that shows an effect there makes a new surface, and a removed
    // output takes its place with it.
    auto *s = static_cast<Surface *>(data);
    s->owner->dropLayerSurface(s);
    s->owner->client->flush();
}

void LayerOverlay::Private::onFrameDone(void *data, wl_callback *callback, uint32_t)
{
    auto *s = static_cast<Surface *>(data);
    wl_callback_destroy(callback);
    s->frameCallback = nullptr;
    if (!s->damage.isEmpty() || s->inputChanged)
        s->owner->draw(s);
}

void LayerOverlay::Private::plan(Surface *s, bool onlyPointerMoved, bool pictureRefreshed)
{
    const WaylandOutput *target = client->outputFor(frame.screen);
    const bool effect = s->output == target && modeTraits(frame.mode).drawing != Drawing::Clear;
    const bool wholeInput = modeTraits(frame.mode).followsPointer;
    if (wholeInput != s->wholeInput) {
        s->wholeInput = wholeInput;
        s->inputChanged = true;
    }
    const QRect area(QPoint(), s->size);
    if (!effect && !s->effect) {
        // Clear before and after: nothing to draw.
    } else if (onlyPointerMoved && effect && s->effect && s->mode == frame.mode &&
               s->radius == frame.radius) {
        s->damage += OverlayGeometry::pointerMoveRegion(frame.mode, s->pointer, frame.pointer,
                                                        frame.radius, area);
        if (pictureRefreshed)
            s->damage += OverlayGeometry::effectBounds(frame.mode, frame.pointer, frame.radius) &
                         area;
    } else {
        s->damage += area;
    }
    s->effect = effect;
    s->mode = frame.mode;
    s->pointer = frame.pointer;
    s->radius = frame.radius;
    setShown(s, modeTraits(frame.mode).drawing != Drawing::Clear);
}

void LayerOverlay::Private::schedule(Surface *s)
{
    if (!s->shown || !s->configured || (s->damage.isEmpty() && !s->inputChanged))
        return;
    if (s->frameCallback && clock.elapsed() - s->frameAskedAt < FrameWaitLimitMs)
        return; // drawn when the compositor asks for the next frame
    draw(s);
}

ShmBuffer *LayerOverlay::Private::freeBuffer(Surface *s)
{
    const QSize pixels = s->size * s->scale;
    s->buffers.erase(std::remove_if(s->buffers.begin(), s->buffers.end(),
                                    [pixels](const auto &b) { return b->size() != pixels; }),
                     s->buffers.end());
    for (const auto &buffer : s->buffers) {
        if (!buffer->busy)
            return buffer.get();
    }
    if (s->buffers.size() >= MaxBuffers)
        return nullptr;
    auto buffer = ShmBuffer::create(client->shm(), pixels, WL_SHM_FORMAT_ARGB8888);
    if (!buffer)
        return nullptr;
    buffer->stale = QRect(QPoint(), s->size);
    buffer->onRelease = [this, s] {
        if (s->waitingForBuffer) {
            s->waitingForBuffer = false;
            draw(s);
        }
    };
    s->buffers.push_back(std::move(buffer));
    return s->buffers.back().get();
}

void LayerOverlay::Private::draw(Surface *s)
{
    if (!s->shown || !s->configured || !client->isAlive())
        return;
    const bool newPicture = !s->damage.isEmpty() || !s->attached;
    if (!newPicture && !s->inputChanged)
        return;
    const bool mapping = !s->attached;
    if (newPicture) {
        ShmBuffer *buffer = freeBuffer(s);
        if (!buffer) {
            s->waitingForBuffer = true;
            return;
        }
        if (!s->attached)
            s->damage = QRect(QPoint(), s->size);
        buffer->image().setDevicePixelRatio(s->scale);
        OverlayPaint::repaint(buffer->image(), frame, s->effect, buffer->stale + s->damage);
        for (const auto &other : s->buffers) {
            if (other.get() != buffer)
                other->stale += s->damage;
        }
        buffer->stale = QRegion();
        wl_surface_attach(s->surface, buffer->buffer(), 0, 0);
        wl_surface_set_buffer_scale(s->surface, s->scale);
        for (const QRect &r : s->damage)
            wl_surface_damage(s->surface, r.x(), r.y(), r.width(), r.height());
        buffer->busy = true;
        s->attached = true;
        s->damage = QRegion();
    }
    // Input let go while the pointer is over the surface (the black screen after the laser):
    // the compositor is asked to look again, as when the surface is unmapped.
    const bool letGo = s->inputChanged && !s->wholeInput && pointerSurface == s;
    if (s->inputChanged)
        sendInputRegion(s);
    if (newPicture) {
        if (s->frameCallback)
            wl_callback_destroy(s->frameCallback);
        s->frameCallback = wl_surface_frame(s->surface);
        wl_callback_add_listener(s->frameCallback, &FrameListener, s);
        s->frameAskedAt = clock.elapsed();
    }
    wl_surface_commit(s->surface);
    client->flush();
    if (letGo) {
        pointerSurface = nullptr;
        client->nudgePointer();
    }
    if (newPicture && s->effect)
        countFrame(mapping);
}

void LayerOverlay::Private::pointerAt(Surface *s, QPointF local)
{
    pointer = client->toGlobal(s->output, local);
    if (motionAt < 0)
        motionAt = clock.elapsed();
    emit q->pointerMoved();
}

void LayerOverlay::Private::countFrame(bool mapping)
{
    if (!lcLayerOverlay().isDebugEnabled())
        return;
    const qint64 at = clock.elapsed();
    ++statsFrames;
    // The first frame of a surface being mapped waited for the compositor, not the pointer.
    if (followedMotionAt >= 0 && !mapping) {
        const qint64 delay = at - followedMotionAt;
        ++statsFollowed;
        statsDelaySum += delay;
        statsDelayMax = std::max(statsDelayMax, delay);
    }
    followedMotionAt = -1;
    if (at - statsSince < 2000)
        return;
    if (statsFollowed > 0) {
        qCDebug(lcLayerOverlay,
                "%.1f frames/s; pointer motion to committed frame: mean %.1f ms, max %lld ms "
                "(%d frames)",
                statsFrames * 1000.0 / (at - statsSince), double(statsDelaySum) / statsFollowed,
                statsDelayMax, statsFollowed);
    }
    statsSince = at;
    statsFrames = statsFollowed = 0;
    statsDelaySum = statsDelayMax = 0;
}

std::unique_ptr<LayerOverlay> LayerOverlay::connectIfOffered(std::unique_ptr<WaylandClient> client)
{
    if (!client || !client->layerShell() || !client->compositor() || !client->shm())
        return nullptr;
    auto d = std::make_unique<Private>();
    d->client = std::move(client);
    std::unique_ptr<LayerOverlay> overlay(new LayerOverlay(std::move(d)));
    overlay->d->start(overlay.get());
    return overlay;
}

LayerOverlay::LayerOverlay(std::unique_ptr<Private> p) : d(std::move(p)) {}

LayerOverlay::~LayerOverlay() = default;

void LayerOverlay::present(const OverlayFrame &frame, bool onlyPointerMoved,
                           bool pictureRefreshed)
{
    if (!d->client->isAlive())
        return;
    d->frame = frame;
    if (onlyPointerMoved && d->motionAt >= 0 && d->followedMotionAt < 0)
        d->followedMotionAt = d->motionAt;
    d->motionAt = -1;
    for (const auto &s : d->surfaces)
        d->plan(s.get(), onlyPointerMoved, pictureRefreshed);
    for (const auto &s : d->surfaces)
        d->schedule(s.get());
}

std::optional<QPoint> LayerOverlay::pointerPosition() const
{
    return d->pointer;
}

std::unique_ptr<ScreenCapture> LayerOverlay::makeCapture()
{
    if (!d->client->screencopy() || !d->client->isAlive())
        return nullptr;
    return std::make_unique<WlrScreenCapture>(d->client.get());
}
