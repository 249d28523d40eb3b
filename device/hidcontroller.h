#pragma once

#include "device/hidpacer.h"
#include "device/hidstatus.h"

#include <QThread>

#include <atomic>
#include <memory>

struct hid_device_;
typedef struct hid_device_ hid_device;

// The device thread: finds and opens the presenter's dongle, polls its key report every
// 50 ms, reconnects when it goes away, and reports what it sees through updateHidStatus
// (queued to the receiver's thread). It also writes the sleep time for the main thread,
// pausing the polling loop around the write so only one thread uses the handle at a time.
// It does not interpret key bits; the settings window does.
class HidController final : public QThread
{
    Q_OBJECT

public:
    explicit HidController(QObject *parent = nullptr);
    // With the given pauses (tests shorten and observe them); the program uses the above.
    HidController(std::unique_ptr<HidPacer> pacer, QObject *parent);
    ~HidController() override;

    // Main thread. Writes the sleep-timer report; true when the dongle took all 64 bytes.
    bool writeSleepTime(int value);

    // Main thread. Ends the polling loop: a call to the dongle in progress finishes, a pause
    // is cut short, nothing new starts; wait() joins it. Holds even right after start().
    void stop();

signals:
    void updateHidStatus(HidStatus status, int param);

protected:
    void run() override;

private:
    bool openDevice();
    // Opens the interface chosen among the dongle's enumerated ones, or returns null.
    static hid_device *openChosenInterface();
    // Ends the loop after its current turn and joins it, keeping the handle.
    void pauseLoop();
    bool loopShouldRun() const;
    // After the loop was joined: the thread's last writes are ours to read.
    void takeOverFromLoop() const;

    std::atomic<bool> m_opened{false};
    std::atomic<bool> m_running{false};
    hid_device *m_device = nullptr;

    const std::unique_ptr<HidPacer> m_pacer;
    // Set (release) by the loop as it ends, read (acquire) by the main thread once wait()
    // returned, before it touches m_device or the pacer. wait() orders this already, but
    // through Qt's own lock, which ThreadSanitizer cannot see into; this pair it can check.
    std::atomic<bool> m_loopEnded{true};
};
