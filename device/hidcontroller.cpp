#include "device/hidcontroller.h"

#include "device/devicelog.h"
#include "device/dongleselection.h"
#include "device/presenterreport.h"

#include <hidapi.h>

#include <string>
#include <vector>

namespace {
// Pause before every open attempt, so a missing dongle is looked for about once a second.
constexpr int ReconnectPauseMs = 1000;
// Pause after every turn: the poll period.
constexpr int PollPauseMs = 50;
} // namespace

HidController::HidController(QObject *parent) : HidController(std::make_unique<HidPacer>(), parent)
{
}

HidController::HidController(std::unique_ptr<HidPacer> pacer, QObject *parent)
    : QThread(parent), m_pacer(pacer ? std::move(pacer) : std::make_unique<HidPacer>())
{
    // The status crosses to the receiver's thread through a queued connection.
    qRegisterMetaType<HidStatus>("HidStatus");
}

HidController::~HidController()
{
    // The owner stops the thread first; if it did not, the handle must not be closed under
    // a running loop (and a QThread must not be destroyed while it runs).
    if (isRunning()) {
        stop();
        wait();
    }
    takeOverFromLoop();
    if (m_device) {
        hid_close(m_device);
        m_device = nullptr;
        hid_exit();
    }
}

void HidController::writeSleepTime(int value)
{
    if (!m_opened) {
        // Queued like an answer from the device thread: the caller never hears it inside its
        // own call.
        QMetaObject::invokeMethod(
            this, [this, value] { emit sleepTimeWritten(value, false); }, Qt::QueuedConnection);
        return;
    }
    std::lock_guard<std::mutex> lock(m_requestMutex);
    m_sleepTimeRequests.push_back(value);
}

void HidController::stop()
{
    m_running = false;
    // Unlike the run flag, which run() raises on entry, an interruption request is tied to
    // the current start(): a stop that comes before run() begins is not lost.
    requestInterruption();
    m_pacer->interrupt();
}

void HidController::takeOverFromLoop() const
{
    m_loopEnded.load(std::memory_order_acquire);
}

bool HidController::loopShouldRun() const
{
    return m_running && !isInterruptionRequested();
}

void HidController::run()
{
    m_running = true;
    m_pacer->rearm();

    // One buffer for every poll; only the identifier byte is rewritten.
    unsigned char buffer[PresenterReport::ReportSize] = {};

    while (loopShouldRun()) {
        serveRequests();
        bool answered = false;
        if (m_opened) {
            buffer[0] = PresenterReport::ReportId;
            const int count = hid_get_feature_report(m_device, buffer, sizeof buffer);
            answered = !PresenterReport::isFailedRead(count);
            if (const auto param = PresenterReport::keyEventParam(count, buffer))
                emit updateHidStatus(HidKeyEvent, *param);
        }
        // Not open yet, or the read failed: treat the dongle as lost and open it again.
        if (!answered) {
            if (!m_pacer->sleep(ReconnectPauseMs))
                break;
            openDevice();
        }
        if (!m_pacer->sleep(PollPauseMs))
            break;
    }
    // Requests the loop will not serve any more get their answer all the same.
    std::deque<int> unserved;
    {
        std::lock_guard<std::mutex> lock(m_requestMutex);
        unserved.swap(m_sleepTimeRequests);
    }
    for (const int value : unserved)
        emit sleepTimeWritten(value, false);
    m_loopEnded.store(true, std::memory_order_release);
}

void HidController::serveRequests()
{
    std::deque<int> requests;
    {
        std::lock_guard<std::mutex> lock(m_requestMutex);
        requests.swap(m_sleepTimeRequests);
    }
    for (const int value : requests) {
        // The dongle went away since the request was made: nothing to write to.
        if (!m_opened) {
            emit sleepTimeWritten(value, false);
            continue;
        }
        const PresenterReport::Report report = PresenterReport::sleepTimeReport(value);
        const int written = hid_send_feature_report(m_device, report.data(), report.size());
        qCDebug(lcDevice, "sleep time %d written, result %d", value, written);
        emit sleepTimeWritten(value, written >= PresenterReport::ReportSize);
    }
}

bool HidController::openDevice()
{
    if (m_opened && m_device)
        hid_close(m_device);

    m_device = openChosenInterface();
    if (m_device) {
        emit updateHidStatus(HidConnected, 0);
        m_opened = true;
        return true;
    }
    emit updateHidStatus(HidDisconnected, 0);
    m_opened = false;
    return false;
}

hid_device *HidController::openChosenInterface()
{
    hid_device_info *const list =
        hid_enumerate(PresenterReport::VendorId, PresenterReport::ProductId);

    std::vector<std::string> paths;
    for (const hid_device_info *entry = list; entry; entry = entry->next)
        paths.emplace_back(entry->path ? entry->path : "");

    const int chosen = DongleSelection::choose(paths);
    hid_device *const device =
        chosen >= 0 && !paths[chosen].empty() ? hid_open_path(paths[chosen].c_str()) : nullptr;

    hid_free_enumeration(list);
    return device;
}
