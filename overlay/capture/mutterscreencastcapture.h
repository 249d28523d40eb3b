#pragma once

#include "overlay/capture/captureroute.h"
#include "overlay/screencapture.h"

#include <QElapsedTimer>

class PipeWireStream;
class QTimer;

// The screen through GNOME's own screen cast service (org.gnome.Mutter.ScreenCast) and
// PipeWire, without a dialog, a flash or a file: a session records the screen's monitor,
// the first complete frame is taken and the session stopped. One session per picture, so
// GNOME's screen-sharing indicator is only on while a picture is being taken.
//
// Built without libpipewire, every request fails for good.
class MutterScreenCastCapture final : public ScreenCapture
{
    Q_OBJECT

public:
    explicit MutterScreenCastCapture(QObject *parent = nullptr);
    ~MutterScreenCastCapture() override;

    QString name() const override { return captureRouteName(CaptureRoute::GnomeScreencast); }
    void capture(QScreen *screen) override;
    // Stops the session at once, rather than at the timeout.
    void cancel() override;

    // How long a request may take from the first call to the frame.
    void setTimeout(int milliseconds) { m_timeoutMs = milliseconds; }

    // Whether this build can read PipeWire streams at all.
    static bool builtWithPipeWire();

    // Milliseconds from the request to the steps of the last capture (for the benchmark):
    // session made, stream announced, first frame.
    struct Steps
    {
        qint64 session = -1;
        qint64 stream = -1;
        qint64 frame = -1;
    };
    Steps lastSteps() const { return m_steps; }

private slots:
    // QtDBus delivers signals to slots named by their signature only.
    void onStreamAdded(uint node);
    void onSessionClosed();

private:
    void recordMonitor(const QString &connector, quint64 request);
    void recordArea(const QRect &area, quint64 request);
    void recordStream(const QString &path, quint64 request);
    void startSession(quint64 request);
    void fail(const QString &why, bool lasting);
    void stopSession();

    QPointer<QScreen> m_screen;
    QString m_sessionPath;
    QString m_streamPath;
    quint64 m_request = 0;
    int m_timeoutMs = 3000;
    QTimer *m_timeout = nullptr;
    PipeWireStream *m_grabber = nullptr;
    QElapsedTimer m_clock;
    Steps m_steps;
};
