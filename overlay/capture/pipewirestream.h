#pragma once

#include <QImage>
#include <QObject>

#include <memory>

// The frames of one PipeWire video node: connects to a PipeWire daemon on a thread of its
// own, reads each complete frame in shared memory and hands it to the Qt thread. Frames that
// come while the Qt thread has not yet taken the last one replace it: a slow receiver gets
// the newest frame, never a queue of old ones. Knows nothing of where the node comes from (a
// screen cast of the compositor, a portal's remote).
class PipeWireStream final : public QObject
{
    Q_OBJECT

public:
    explicit PipeWireStream(QObject *parent = nullptr);
    // stop().
    ~PipeWireStream() override;

    // Connects to `node` of the daemon reached through `fd` (a remote handed over by a
    // portal, which the stream then owns), or of the user's own daemon where `fd` is -1.
    // False (with `why` set) when PipeWire cannot be reached; the stream is stopped then.
    bool start(quint32 node, int fd, QString *why);
    // No signal follows. The PipeWire thread is stopped and the stream freed on a thread of
    // their own (that takes some 15-30 ms), so this returns at once.
    void stop();
    bool isRunning() const { return m_loop != nullptr; }

signals:
    // Each new frame, cropped to the part the stream says holds the picture: its size is the
    // picture's. Emitted on the Qt thread.
    void frame(const QImage &picture);
    // The stream cannot go on (disconnected, an error, a pixel format it cannot read); no
    // frame follows.
    void failed(const QString &why);

private:
    struct Loop;
    void deliver();

    std::shared_ptr<Loop> m_loop;
};
