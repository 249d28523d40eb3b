#pragma once

#include <QImage>
#include <QObject>

#include <atomic>
#include <memory>

// One frame of a PipeWire video node: connects to the user's PipeWire daemon on a thread of
// its own, takes the first complete frame in shared memory and hands it to the Qt thread.
// Knows nothing of where the node comes from (a screen cast of the compositor).
class PipeWireFrameGrabber final : public QObject
{
    Q_OBJECT

public:
    explicit PipeWireFrameGrabber(QObject *parent = nullptr);
    // No signal follows; the PipeWire thread is stopped and freed on a thread of its own.
    ~PipeWireFrameGrabber() override;

    // Every complete frame instead of the first only (for measuring a stream kept open).
    // Set before start().
    void setContinuous(bool continuous) { m_continuous = continuous; }

    // Connects to `node`; false (with `why` set) when PipeWire cannot be reached.
    bool start(quint32 node, QString *why);

signals:
    // Queued from the PipeWire thread; at most one of the two, once (frame() for each frame
    // when continuous, until failed()).
    void frame(const QImage &picture);
    void failed(const QString &why);

private:
    struct Loop;
    std::unique_ptr<Loop> m_loop;
    bool m_continuous = false;
};
