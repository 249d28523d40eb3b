#pragma once

#include "device/hidpacer.h"
#include "device/hidstatus.h"

#include <QThread>

#include <atomic>
#include <deque>
#include <memory>
#include <mutex>

struct hid_device_;
typedef struct hid_device_ hid_device;

// The device thread: finds and opens the presenter's dongle, polls its key report every
// 50 ms, reconnects when it goes away, and reports what it sees through updateHidStatus
// (queued to the receiver's thread). Only this thread uses the dongle's handle: the sleep time
// is written by it too, as a request it serves between two polls, answered by
// sleepTimeWritten. It does not interpret key bits; the presenter's state does.
class HidController final : public QThread
{
    Q_OBJECT

public:
    explicit HidController(QObject *parent = nullptr);
    // With the given pauses (tests shorten and observe them); the program uses the above.
    HidController(std::unique_ptr<HidPacer> pacer, QObject *parent);
    ~HidController() override;

    // Any thread; returns at once. Asks the device thread to write the sleep-timer report
    // before its next poll; sleepTimeWritten answers, once for each request. While the dongle
    // is not open nothing is written and the answer (not accepted) comes from the event loop;
    // a request still waiting when the loop stops is answered the same way.
    void writeSleepTime(int value);

    // Main thread. Ends the polling loop: a call to the dongle in progress finishes, a pause
    // is cut short, nothing new starts; wait() joins it. Holds even right after start().
    void stop();

signals:
    void updateHidStatus(HidStatus status, int param);
    // The answer to writeSleepTime(value): accepted when the dongle took all 64 bytes.
    void sleepTimeWritten(int value, bool accepted);

protected:
    void run() override;

private:
    bool openDevice();
    // Opens the interface chosen among the dongle's enumerated ones, or returns null.
    static hid_device *openChosenInterface();
    // Device thread: writes the sleep times asked for since the last turn.
    void serveRequests();
    bool loopShouldRun() const;
    // After the loop was joined: the thread's last writes are ours to read.
    void takeOverFromLoop() const;

    // Written by the device thread; the main thread reads it to answer a request at once.
    std::atomic<bool> m_opened{false};
    std::atomic<bool> m_running{false};
    // The device thread's alone while the loop runs.
    hid_device *m_device = nullptr;

    std::mutex m_requestMutex;
    std::deque<int> m_sleepTimeRequests; // guarded by m_requestMutex

    const std::unique_ptr<HidPacer> m_pacer;
    // Set (release) by the loop as it ends, read (acquire) by the main thread once wait()
    // returned, before it touches m_device. wait() orders this already, but
    // through Qt's own lock, which ThreadSanitizer cannot see into; this pair it can check.
    std::atomic<bool> m_loopEnded{true};
};
