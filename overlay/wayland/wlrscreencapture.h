#pragma once

#include "overlay/capture/captureroute.h"
#include "overlay/screencapture.h"

#include <QElapsedTimer>
#include <QPointer>

#include <memory>

class ShmBuffer;
class WaylandClient;
struct zwlr_screencopy_frame_v1;

// A picture of an output through wlroots' screencopy protocol, into shared memory, on the
// overlay's own Wayland connection. The compositor copies the output as it shows it next, so
// a picture asked for after the overlay cleared holds only what lies beneath.
class WlrScreenCapture final : public ScreenCapture
{
    Q_OBJECT

public:
    explicit WlrScreenCapture(WaylandClient *client);
    ~WlrScreenCapture() override;

    QString name() const override { return captureRouteName(CaptureRoute::WlrScreencopy); }
    void capture(QScreen *screen) override;
    void cancel() override;

    // Milliseconds from the last request to its answer, -1 before the first one.
    qint64 lastDurationMs() const { return m_lastDurationMs; }

private:
    struct Listeners;
    void drop();
    void fail(const QString &why, bool lasting, bool later);
    void offered(uint32_t format, int width, int height, int stride);
    void offersDone();
    void ready();

    QPointer<WaylandClient> m_client;
    QPointer<QScreen> m_screen;
    zwlr_screencopy_frame_v1 *m_frame = nullptr;
    std::unique_ptr<ShmBuffer> m_buffer;
    uint32_t m_format = 0;
    bool m_yInvert = false;
    bool m_copying = false;
    int m_request = 0;
    QElapsedTimer m_clock;
    qint64 m_lastDurationMs = -1;
};
