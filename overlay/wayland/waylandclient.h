#pragma once

#include <QLoggingCategory>
#include <QObject>
#include <QPointF>
#include <QRect>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

class QScreen;
class WaylandClient;
class QSocketNotifier;
struct wl_compositor;
struct wl_display;
struct wl_interface;
struct wl_output;
struct wl_pointer;
struct wl_registry;
struct wl_seat;
struct wl_shm;
struct wl_surface;
struct zwlr_layer_shell_v1;
struct zwlr_screencopy_manager_v1;
struct zwlr_virtual_pointer_manager_v1;
struct zwlr_virtual_pointer_v1;
struct zxdg_output_manager_v1;
struct zxdg_output_v1;

// Figures of the native overlay (follow delay, frame rate, capture time):
// QT_LOGGING_RULES="kavri.overlay.wayland.debug=true".
Q_DECLARE_LOGGING_CATEGORY(lcLayerOverlay)

// One output of the compositor, with its place in the compositor's (logical) layout.
struct WaylandOutput
{
    WaylandClient *client = nullptr;
    uint32_t globalName = 0;
    wl_output *output = nullptr;
    zxdg_output_v1 *xdgOutput = nullptr;
    QString name;
    // Position and size in logical pixels; from xdg_output, else guessed from the mode.
    QRect logical;
    QSize modeSize;
    QPoint position;
    int scale = 1;
    bool logicalKnown = false;
    // The compositor described it completely (wl_output.done) at least once.
    bool ready = false;
};

// The overlay's own connection to the Wayland compositor, apart from Qt's: the globals it
// needs, the outputs as they come and go, the pointer of the first seat. Events are read when
// the socket is readable, from the Qt event loop, so nothing ever waits for the compositor
// after the connection is set up. A broken connection is reported once (lost()); afterwards
// everything stays as it is and nothing is sent any more.
class WaylandClient final : public QObject
{
    Q_OBJECT

public:
    // Connects to the compositor named by WAYLAND_DISPLAY and learns its globals and outputs;
    // null when the compositor does not answer. wl_display_connect falls back to "wayland-0"
    // without WAYLAND_DISPLAY: the caller checks that it is set.
    static std::unique_ptr<WaylandClient> connectToDisplay();
    ~WaylandClient() override;

    wl_display *display() const { return m_display; }
    wl_compositor *compositor() const { return m_compositor; }
    wl_shm *shm() const { return m_shm; }
    zwlr_layer_shell_v1 *layerShell() const { return m_layerShell; }
    zwlr_screencopy_manager_v1 *screencopy() const { return m_screencopy; }
    uint32_t screencopyVersion() const { return m_screencopyVersion; }
    const QStringList &globals() const { return m_globals; }
    // Binds the global `interface`, at most at version `wanted`, for a protocol the overlay
    // itself does not use; null where the compositor offers it to no one or not to this
    // client. `version` (if given) is set to the version bound.
    void *bindGlobal(const wl_interface *interface, uint32_t wanted, uint32_t *version = nullptr);
    const std::vector<std::unique_ptr<WaylandOutput>> &outputs() const { return m_outputs; }

    // The output showing Qt's `screen`: the one of the same name, else of the same geometry,
    // else the only one.
    WaylandOutput *outputFor(const QScreen *screen) const;
    // The other way round; null when no screen of Qt's matches.
    QScreen *screenFor(const WaylandOutput *output) const;
    // A position on a surface covering `output` in Qt's global (logical) coordinates.
    QPoint toGlobal(const WaylandOutput *output, QPointF local) const;

    bool isAlive() const { return !m_dead; }
    // Sends what was asked so far, without waiting; a full socket is written when it drains.
    void flush();

    // Makes the compositor look again for the surface under the pointer, with a pointer
    // motion of zero through a virtual pointer (where offered): sway 1.7 leaves the pointer
    // focus on an unmapped surface until the pointer moves, so the next click would be lost.
    void nudgePointer();

    // The pointer of the first seat, and what it does over this connection's surfaces.
    wl_pointer *pointer() const { return m_pointer; }
    std::function<void(uint32_t serial, wl_surface *surface, QPointF local)> onPointerEnter;
    std::function<void(wl_surface *surface)> onPointerLeave;
    std::function<void(QPointF local)> onPointerMotion;
    std::function<void()> onButtonPress;

signals:
    // An output was described completely for the first time, or changed.
    void outputChanged(WaylandOutput *output);
    // An output is about to go away: surfaces on it must go first.
    void outputRemoving(WaylandOutput *output);
    // The compositor closed the connection or reported an error on it. Queued, sent once.
    void lost();

private:
    WaylandClient() = default;
    bool setUp();
    bool readEvents(int timeoutMs);
    void die(const char *where);
    void addGlobal(uint32_t name, const char *interface, uint32_t version);
    void removeGlobal(uint32_t name);
    void addXdgOutput(WaylandOutput *output);
    void setSeatCapabilities(uint32_t capabilities);

    wl_display *m_display = nullptr;
    wl_registry *m_registry = nullptr;
    wl_compositor *m_compositor = nullptr;
    wl_shm *m_shm = nullptr;
    wl_seat *m_seat = nullptr;
    wl_pointer *m_pointer = nullptr;
    zwlr_layer_shell_v1 *m_layerShell = nullptr;
    zwlr_screencopy_manager_v1 *m_screencopy = nullptr;
    uint32_t m_screencopyVersion = 0;
    zxdg_output_manager_v1 *m_xdgOutputManager = nullptr;
    zwlr_virtual_pointer_manager_v1 *m_virtualPointerManager = nullptr;
    zwlr_virtual_pointer_v1 *m_virtualPointer = nullptr;
    QStringList m_globals;
    struct Offered
    {
        uint32_t name;
        QByteArray interface;
        uint32_t version;
    };
    std::vector<Offered> m_offered;
    std::vector<std::unique_ptr<WaylandOutput>> m_outputs;
    std::unique_ptr<QSocketNotifier> m_readNotifier;
    std::unique_ptr<QSocketNotifier> m_writeNotifier;
    bool m_dead = false;
    bool m_reading = false;

    friend struct WaylandClientListeners;
};
