#include "overlay/wayland/waylandclient.h"

#include "wlr-screencopy-unstable-v1-client-protocol.h"
#include "wlr-virtual-pointer-unstable-v1-client-protocol.h"
#include "xdg-output-unstable-v1-client-protocol.h"

#include <QElapsedTimer>
#include <QGuiApplication>
#include <QMetaObject>
#include <QScopeGuard>
#include <QScreen>
#include <QSocketNotifier>
#include <QtGlobal>

#include <wayland-client.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <poll.h>

// The protocol names an argument "namespace", a keyword of C++.
#define namespace namespace_
#include "wlr-layer-shell-unstable-v1-client-protocol.h"
#undef namespace

Q_LOGGING_CATEGORY(lcLayerOverlay, "kavri.overlay.wayland", QtWarningMsg)

namespace {

template <typename T>
T *bind(wl_registry *registry, uint32_t name, const wl_interface *interface, uint32_t offered,
        uint32_t wanted)
{
    return static_cast<T *>(wl_registry_bind(registry, name, interface, std::min(offered, wanted)));
}

} // namespace

// The C callbacks of the protocol objects, with access to the client's state.
struct WaylandClientListeners
{
    static void global(void *data, wl_registry *, uint32_t name, const char *interface,
                       uint32_t version)
    {
        static_cast<WaylandClient *>(data)->addGlobal(name, interface, version);
    }
    static void globalRemove(void *data, wl_registry *, uint32_t name)
    {
        static_cast<WaylandClient *>(data)->removeGlobal(name);
    }

    static void outputGeometry(void *data, wl_output *, int32_t x, int32_t y, int32_t, int32_t,
                               int32_t, const char *, const char *, int32_t)
    {
        static_cast<WaylandOutput *>(data)->position = QPoint(x, y);
    }
    static void outputMode(void *data, wl_output *, uint32_t flags, int32_t width, int32_t height,
                           int32_t)
    {
        if (flags & WL_OUTPUT_MODE_CURRENT)
            static_cast<WaylandOutput *>(data)->modeSize = QSize(width, height);
    }
    static void outputDone(void *data, wl_output *)
    {
        auto *out = static_cast<WaylandOutput *>(data);
        out->ready = true;
        if (!out->logicalKnown) {
            const int scale = std::max(1, out->scale);
            out->logical = QRect(out->position, out->modeSize / scale);
        }
        emit out->client->outputChanged(out);
    }
    static void outputScale(void *data, wl_output *, int32_t factor)
    {
        static_cast<WaylandOutput *>(data)->scale = std::max(1, factor);
    }
    static void outputName(void *data, wl_output *, const char *name)
    {
        auto *out = static_cast<WaylandOutput *>(data);
        if (out->name.isEmpty())
            out->name = QString::fromUtf8(name);
    }
    static void outputDescription(void *, wl_output *, const char *) {}

    static void xdgPosition(void *data, zxdg_output_v1 *, int32_t x, int32_t y)
    {
        auto *out = static_cast<WaylandOutput *>(data);
        out->logical.moveTopLeft(QPoint(x, y));
        out->logicalKnown = true;
    }
    static void xdgSize(void *data, zxdg_output_v1 *, int32_t width, int32_t height)
    {
        auto *out = static_cast<WaylandOutput *>(data);
        out->logical.setSize(QSize(width, height));
        out->logicalKnown = true;
    }
    static void xdgDone(void *, zxdg_output_v1 *) {}
    static void xdgName(void *data, zxdg_output_v1 *, const char *name)
    {
        static_cast<WaylandOutput *>(data)->name = QString::fromUtf8(name);
    }
    static void xdgDescription(void *, zxdg_output_v1 *, const char *) {}

    static void seatCapabilities(void *data, wl_seat *, uint32_t capabilities)
    {
        static_cast<WaylandClient *>(data)->setSeatCapabilities(capabilities);
    }
    static void seatName(void *, wl_seat *, const char *) {}

    static void pointerEnter(void *data, wl_pointer *, uint32_t serial, wl_surface *surface,
                             wl_fixed_t x, wl_fixed_t y)
    {
        auto *self = static_cast<WaylandClient *>(data);
        if (self->onPointerEnter)
            self->onPointerEnter(serial, surface,
                                 QPointF(wl_fixed_to_double(x), wl_fixed_to_double(y)));
    }
    static void pointerLeave(void *data, wl_pointer *, uint32_t, wl_surface *surface)
    {
        auto *self = static_cast<WaylandClient *>(data);
        if (self->onPointerLeave)
            self->onPointerLeave(surface);
    }
    static void pointerMotion(void *data, wl_pointer *, uint32_t, wl_fixed_t x, wl_fixed_t y)
    {
        auto *self = static_cast<WaylandClient *>(data);
        if (self->onPointerMotion)
            self->onPointerMotion(QPointF(wl_fixed_to_double(x), wl_fixed_to_double(y)));
    }
    static void pointerButton(void *data, wl_pointer *, uint32_t, uint32_t, uint32_t,
                              uint32_t state)
    {
        auto *self = static_cast<WaylandClient *>(data);
        if (state == WL_POINTER_BUTTON_STATE_PRESSED && self->onButtonPress)
            self->onButtonPress();
    }
    static void pointerAxis(void *, wl_pointer *, uint32_t, uint32_t, wl_fixed_t) {}
    static void pointerFrame(void *, wl_pointer *) {}
    static void pointerAxisSource(void *, wl_pointer *, uint32_t) {}
    static void pointerAxisStop(void *, wl_pointer *, uint32_t, uint32_t) {}
    static void pointerAxisDiscrete(void *, wl_pointer *, uint32_t, int32_t) {}
    static void pointerAxisValue120(void *, wl_pointer *, uint32_t, int32_t) {}
};

namespace {

const wl_registry_listener RegistryListener = {WaylandClientListeners::global,
                                               WaylandClientListeners::globalRemove};
const wl_output_listener OutputListener = {
    WaylandClientListeners::outputGeometry, WaylandClientListeners::outputMode,
    WaylandClientListeners::outputDone,     WaylandClientListeners::outputScale,
    WaylandClientListeners::outputName,     WaylandClientListeners::outputDescription};
const zxdg_output_v1_listener XdgOutputListener = {
    WaylandClientListeners::xdgPosition, WaylandClientListeners::xdgSize,
    WaylandClientListeners::xdgDone, WaylandClientListeners::xdgName,
    WaylandClientListeners::xdgDescription};
const wl_seat_listener SeatListener = {WaylandClientListeners::seatCapabilities,
                                       WaylandClientListeners::seatName};
const wl_pointer_listener PointerListener = {
    WaylandClientListeners::pointerEnter,        WaylandClientListeners::pointerLeave,
    WaylandClientListeners::pointerMotion,       WaylandClientListeners::pointerButton,
    WaylandClientListeners::pointerAxis,         WaylandClientListeners::pointerFrame,
    WaylandClientListeners::pointerAxisSource,   WaylandClientListeners::pointerAxisStop,
    WaylandClientListeners::pointerAxisDiscrete, WaylandClientListeners::pointerAxisValue120};

} // namespace

std::unique_ptr<WaylandClient> WaylandClient::connectToDisplay()
{
    std::unique_ptr<WaylandClient> client(new WaylandClient);
    if (!client->setUp())
        return nullptr;
    return client;
}

bool WaylandClient::setUp()
{
    m_display = wl_display_connect(nullptr);
    if (!m_display)
        return false;
    m_registry = wl_display_get_registry(m_display);
    wl_registry_add_listener(m_registry, &RegistryListener, this);
    // The globals, then what the outputs and the seat say about themselves. The only
    // round trips: from here on nothing waits for the compositor.
    if (wl_display_roundtrip(m_display) < 0 || wl_display_roundtrip(m_display) < 0)
        return false;

    const int fd = wl_display_get_fd(m_display);
    m_readNotifier = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read);
    connect(m_readNotifier.get(), &QSocketNotifier::activated, this, [this] { readEvents(0); });
    m_writeNotifier = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Write);
    m_writeNotifier->setEnabled(false);
    connect(m_writeNotifier.get(), &QSocketNotifier::activated, this, &WaylandClient::flush);
    return true;
}

WaylandClient::~WaylandClient()
{
    m_readNotifier.reset();
    m_writeNotifier.reset();
    if (!m_display)
        return;
    for (const auto &output : m_outputs) {
        if (output->xdgOutput)
            zxdg_output_v1_destroy(output->xdgOutput);
        wl_output_destroy(output->output);
    }
    if (m_pointer)
        wl_pointer_destroy(m_pointer);
    if (m_seat)
        wl_seat_destroy(m_seat);
    if (m_virtualPointer)
        zwlr_virtual_pointer_v1_destroy(m_virtualPointer);
    if (m_virtualPointerManager)
        zwlr_virtual_pointer_manager_v1_destroy(m_virtualPointerManager);
    if (m_xdgOutputManager)
        zxdg_output_manager_v1_destroy(m_xdgOutputManager);
    if (m_screencopy)
        zwlr_screencopy_manager_v1_destroy(m_screencopy);
    if (m_layerShell)
        zwlr_layer_shell_v1_destroy(m_layerShell);
    if (m_shm)
        wl_shm_destroy(m_shm);
    if (m_compositor)
        wl_compositor_destroy(m_compositor);
    if (m_registry)
        wl_registry_destroy(m_registry);
    if (!m_dead)
        wl_display_flush(m_display);
    wl_display_disconnect(m_display);
}

void WaylandClient::addGlobal(uint32_t name, const char *interface, uint32_t version)
{
    const QString iface = QString::fromUtf8(interface);
    if (!m_globals.contains(iface))
        m_globals << iface;
    m_offered.push_back({name, QByteArray(interface), version});
    if (iface == QLatin1String(wl_compositor_interface.name) && !m_compositor) {
        // Version 3 has set_buffer_scale.
        m_compositor = bind<wl_compositor>(m_registry, name, &wl_compositor_interface, version, 4);
    } else if (iface == QLatin1String(wl_shm_interface.name) && !m_shm) {
        m_shm = bind<wl_shm>(m_registry, name, &wl_shm_interface, version, 1);
    } else if (iface == QLatin1String(wl_seat_interface.name) && !m_seat) {
        m_seat = bind<wl_seat>(m_registry, name, &wl_seat_interface, version, 5);
        wl_seat_add_listener(m_seat, &SeatListener, this);
    } else if (iface == QLatin1String(zwlr_layer_shell_v1_interface.name) && !m_layerShell) {
        m_layerShell =
            bind<zwlr_layer_shell_v1>(m_registry, name, &zwlr_layer_shell_v1_interface, version, 3);
    } else if (iface == QLatin1String(zwlr_screencopy_manager_v1_interface.name) && !m_screencopy) {
        m_screencopyVersion = std::min(version, 3u);
        m_screencopy = bind<zwlr_screencopy_manager_v1>(
            m_registry, name, &zwlr_screencopy_manager_v1_interface, version, 3);
    } else if (iface == QLatin1String(zwlr_virtual_pointer_manager_v1_interface.name) &&
               !m_virtualPointerManager) {
        m_virtualPointerManager = bind<zwlr_virtual_pointer_manager_v1>(
            m_registry, name, &zwlr_virtual_pointer_manager_v1_interface, version, 1);
    } else if (iface == QLatin1String(zxdg_output_manager_v1_interface.name) &&
               !m_xdgOutputManager) {
        m_xdgOutputManager = bind<zxdg_output_manager_v1>(
            m_registry, name, &zxdg_output_manager_v1_interface, version, 3);
        for (const auto &output : m_outputs)
            addXdgOutput(output.get());
    } else if (iface == QLatin1String(wl_output_interface.name)) {
        auto output = std::make_unique<WaylandOutput>();
        output->globalName = name;
        output->client = this;
        output->output = bind<wl_output>(m_registry, name, &wl_output_interface, version, 4);
        wl_output_add_listener(output->output, &OutputListener, output.get());
        addXdgOutput(output.get());
        m_outputs.push_back(std::move(output));
    }
}

void *WaylandClient::bindGlobal(const wl_interface *interface, uint32_t wanted, uint32_t *version)
{
    const auto it = std::find_if(m_offered.begin(), m_offered.end(), [interface](const Offered &o) {
        return o.interface == interface->name;
    });
    if (m_dead || it == m_offered.end())
        return nullptr;
    const uint32_t bound = std::min(it->version, wanted);
    if (version)
        *version = bound;
    return wl_registry_bind(m_registry, it->name, interface, bound);
}

void WaylandClient::addXdgOutput(WaylandOutput *output)
{
    if (!m_xdgOutputManager || output->xdgOutput)
        return;
    output->xdgOutput = zxdg_output_manager_v1_get_xdg_output(m_xdgOutputManager, output->output);
    zxdg_output_v1_add_listener(output->xdgOutput, &XdgOutputListener, output);
}

void WaylandClient::removeGlobal(uint32_t name)
{
    const auto it = std::find_if(m_outputs.begin(), m_outputs.end(),
                                 [name](const auto &output) { return output->globalName == name; });
    m_offered.erase(std::remove_if(m_offered.begin(), m_offered.end(),
                                   [name](const Offered &o) { return o.name == name; }),
                    m_offered.end());
    if (it == m_outputs.end())
        return;
    emit outputRemoving(it->get());
    if ((*it)->xdgOutput)
        zxdg_output_v1_destroy((*it)->xdgOutput);
    wl_output_destroy((*it)->output);
    m_outputs.erase(it);
}

void WaylandClient::setSeatCapabilities(uint32_t capabilities)
{
    const bool hasPointer = capabilities & WL_SEAT_CAPABILITY_POINTER;
    if (hasPointer && !m_pointer) {
        m_pointer = wl_seat_get_pointer(m_seat);
        wl_pointer_add_listener(m_pointer, &PointerListener, this);
    } else if (!hasPointer && m_pointer) {
        wl_pointer_destroy(m_pointer);
        m_pointer = nullptr;
    }
}

void WaylandClient::nudgePointer()
{
    if (m_dead || !m_virtualPointerManager || !m_seat)
        return;
    if (!m_virtualPointer) {
        m_virtualPointer =
            zwlr_virtual_pointer_manager_v1_create_virtual_pointer(m_virtualPointerManager, m_seat);
    }
    QElapsedTimer clock;
    clock.start();
    const auto now = uint32_t(clock.msecsSinceReference());
    zwlr_virtual_pointer_v1_motion(m_virtualPointer, now, 0, 0);
    zwlr_virtual_pointer_v1_frame(m_virtualPointer);
    flush();
}

WaylandOutput *WaylandClient::outputFor(const QScreen *screen) const
{
    if (!screen)
        return nullptr;
    for (const auto &output : m_outputs) {
        if (output->ready && !output->name.isEmpty() && output->name == screen->name())
            return output.get();
    }
    for (const auto &output : m_outputs) {
        if (output->ready && output->logical == screen->geometry())
            return output.get();
    }
    if (m_outputs.size() == 1 && m_outputs.front()->ready)
        return m_outputs.front().get();
    return nullptr;
}

QScreen *WaylandClient::screenFor(const WaylandOutput *output) const
{
    const QList<QScreen *> screens = QGuiApplication::screens();
    for (QScreen *screen : screens) {
        if (!output->name.isEmpty() && screen->name() == output->name)
            return screen;
    }
    for (QScreen *screen : screens) {
        if (screen->geometry() == output->logical)
            return screen;
    }
    return screens.size() == 1 && m_outputs.size() == 1 ? screens.front() : nullptr;
}

QPoint WaylandClient::toGlobal(const WaylandOutput *output, QPointF local) const
{
    const QScreen *screen = screenFor(output);
    if (!screen || output->logical.isEmpty())
        return output->logical.topLeft() + local.toPoint();
    // Qt's screen may count in other units than the compositor's layout (XWayland).
    const QRect area = screen->geometry();
    const double sx = double(area.width()) / output->logical.width();
    const double sy = double(area.height()) / output->logical.height();
    return area.topLeft() + QPointF(local.x() * sx, local.y() * sy).toPoint();
}

void WaylandClient::flush()
{
    if (m_dead)
        return;
    if (wl_display_flush(m_display) < 0) {
        if (errno == EAGAIN) {
            m_writeNotifier->setEnabled(true);
            return;
        }
        die("flush");
        return;
    }
    m_writeNotifier->setEnabled(false);
}

bool WaylandClient::readEvents(int timeoutMs)
{
    // Not from within a callback of this connection: libwayland's reading is not re-entrant.
    if (m_dead || m_reading)
        return false;
    m_reading = true;
    const auto done = qScopeGuard([this] { m_reading = false; });
    while (wl_display_prepare_read(m_display) != 0) {
        if (wl_display_dispatch_pending(m_display) < 0) {
            die("dispatch");
            return false;
        }
    }
    // Flush before reading, so the compositor has everything it should answer.
    wl_display_flush(m_display);
    pollfd pfd{wl_display_get_fd(m_display), POLLIN, 0};
    if (poll(&pfd, 1, std::max(0, timeoutMs)) <= 0) {
        wl_display_cancel_read(m_display);
    } else if (wl_display_read_events(m_display) < 0) {
        die("read");
        return false;
    }
    if (wl_display_dispatch_pending(m_display) < 0) {
        die("dispatch");
        return false;
    }
    m_reading = false;
    flush();
    return !m_dead;
}

void WaylandClient::die(const char *where)
{
    if (m_dead)
        return;
    m_dead = true;
    m_reading = false;
    m_readNotifier->setEnabled(false);
    m_writeNotifier->setEnabled(false);
    const int error = wl_display_get_error(m_display);
    qCWarning(lcLayerOverlay, "The overlay's Wayland connection broke (%s: %s); the overlay stops.",
              where, std::strerror(error ? error : errno));
    QMetaObject::invokeMethod(this, &WaylandClient::lost, Qt::QueuedConnection);
}
