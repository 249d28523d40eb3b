#pragma once

#include <QImage>
#include <QObject>
#include <QString>
#include <QTimer>

#include <memory>

class PipeWireStream;
class WaylandClient;
struct zkde_screencast_stream_unstable_v1;
struct zkde_screencast_unstable_v1;

// KWin's screen cast of one window (zkde_screencast_unstable_v1, stream_window): KWin makes a
// PipeWire node of the window's contents, without the pointer, which is read here frame by
// frame. One window at a time; nothing is recorded once stopped. KWin offers the screen cast
// only to programs it trusts (see KWinLiveSource).
class KWinWindowCast final : public QObject
{
    Q_OBJECT

public:
    // The screen cast on `client`'s connection (which must outlive it), or null where the
    // compositor does not offer it to this program.
    static std::unique_ptr<KWinWindowCast> bind(WaylandClient *client);
    // stop().
    ~KWinWindowCast() override;

    // Records the window KWin knows by `uuid`, instead of the one recorded so far.
    void start(const QString &uuid);
    // KWin is told to end the recording and the PipeWire stream goes; no signal follows.
    void stop();
    bool isRunning() const { return m_stream != nullptr; }
    QString window() const { return m_uuid; }

signals:
    // A frame of the window's contents, in the window's logical size on KWin 5.
    void frame(const QImage &picture);
    // KWin refused the recording, its stream broke, or no first frame came: no frame follows.
    void failed(const QString &why);
    // The window went away: no frame follows.
    void closed();

private:
    KWinWindowCast();
    void created(uint32_t node);
    void fail(const QString &why);
    void end();

    WaylandClient *m_client = nullptr;
    zkde_screencast_unstable_v1 *m_manager = nullptr;
    zkde_screencast_stream_unstable_v1 *m_stream = nullptr;
    QString m_uuid;
    quint64 m_generation = 0; // of the recording asked for last
    std::unique_ptr<PipeWireStream> m_pipeWire;
    // Now and then (a few in a hundred casts on the headless KWin here) the stream is never
    // linked: without a first frame in time, the recording counts as failed.
    QTimer m_firstFrame;

    friend struct KWinWindowCastListeners;
};
