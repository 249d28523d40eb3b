#pragma once

#include "device/hidstatus.h"

#include <QThread>

#include <atomic>

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
    ~HidController() override;

    // Main thread. Writes the sleep-timer report; true when the dongle took all 64 bytes.
    bool writeSleepTime(int value);

    // Main thread. Asks the polling loop to end after its current turn; wait() joins it.
    void stop();

signals:
    void updateHidStatus(HidStatus status, int param);

protected:
    void run() override;

private:
    bool openDevice();

    std::atomic<bool> m_opened{false};
    std::atomic<bool> m_running{false};
    hid_device *m_device = nullptr;
};
