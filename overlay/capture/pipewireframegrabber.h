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
    // Stops the PipeWire thread before anything is freed; no signal follows.
    ~PipeWireFrameGrabber() override;

    // Connects to `node`; false (with `why` set) when PipeWire cannot be reached.
    bool start(quint32 node, QString *why);

signals:
    // Queued from the PipeWire thread; at most one of the two, once.
    void frame(const QImage &picture);
    void failed(const QString &why);

private:
    struct Loop;
    std::unique_ptr<Loop> m_loop;
};
