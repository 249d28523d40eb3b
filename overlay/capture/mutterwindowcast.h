#pragma once

#include <QImage>
#include <QObject>
#include <QString>

class PipeWireStream;
class QTimer;

// The window with the keyboard focus, cast by GNOME's screen cast service
// (org.gnome.Mutter.ScreenCast, RecordWindow without a window id), its frames read over
// PipeWire. The overlay never takes the focus, so during a talk that window is the
// presentation, and the overlay's own windows are never in its frames. GNOME Shell shows its
// screen-sharing indicator while the session runs. Not responsible for where the window lies
// on the screen.
class MutterWindowCast final : public QObject
{
    Q_OBJECT

public:
    explicit MutterWindowCast(QObject *parent = nullptr);
    // stop().
    ~MutterWindowCast() override;

    // Makes and starts the session; frame() follows for each frame, or failed() once.
    void start();
    // Ends the stream and the session at once; no signal follows.
    void stop();
    bool isRunning() const { return m_running; }

    // How long the session may take from start() to its first frame.
    void setTimeout(int milliseconds) { m_timeoutMs = milliseconds; }

signals:
    void frame(const QImage &picture);
    // `missing`: the session bus has no such service or call (not GNOME), nothing the user
    // needs to hear of.
    void failed(const QString &why, bool missing);

private slots:
    // QtDBus delivers signals to slots named by their signature only.
    void onStreamAdded(uint node);
    void onSessionClosed();

private:
    void call(const QString &method, const QVariantList &arguments);
    void fail(const QString &why, bool missing = false);

    bool m_running = false;
    quint64 m_request = 0;
    QString m_sessionPath;
    QString m_streamPath;
    int m_timeoutMs = 5000;
    QTimer *m_timeout = nullptr;
    PipeWireStream *m_stream = nullptr;
};
