// Prints what the device thread costs while it polls a connected dongle (the fake one, with
// the program's real 1000 ms / 50 ms pauses), how long a key event takes from the poll's
// answer to the slot on the main thread, and how long the main thread waits when it stops
// the thread or asks for a sleep-time write, in a poll pause and in the pause before a
// reconnect. It uses only calls that older device threads have too, so the same source
// measures them.
//   bench_device [seconds per phase, default 4]
#include "device/hidcontroller.h"
#include "fakedongle.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <ctime>
#include <memory>
#include <mutex>
#include <pthread.h>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double msSince(Clock::time_point from, Clock::time_point to)
{
    return std::chrono::duration<double, std::milli>(to - from).count();
}

double cpuMs(clockid_t clock)
{
    timespec ts{};
    clock_gettime(clock, &ts);
    return ts.tv_sec * 1e3 + ts.tv_nsec / 1e6;
}

void runEventLoopFor(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, Qt::PreciseTimer, &loop, &QEventLoop::quit);
    loop.exec();
}

// A thread that does nothing but the controller's 50 ms pauses: what the wake-ups alone cost
// on this machine, measured side by side with the controller.
class ReferenceSleeper
{
public:
    ReferenceSleeper()
        : m_thread([this] {
              clockid_t clock{};
              pthread_getcpuclockid(pthread_self(), &clock);
              const double start = cpuMs(clock);
              std::unique_lock<std::mutex> lock(m_mutex);
              while (!m_stop)
                  m_wake.wait_for(lock, std::chrono::milliseconds(50), [this] { return m_stop; });
              m_cpuMs = cpuMs(clock) - start;
          })
    {
    }
    // CPU time the sleeper used, in ms.
    double stop()
    {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_stop = true;
        }
        m_wake.notify_all();
        m_thread.join();
        return m_cpuMs;
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_wake;
    bool m_stop = false;
    double m_cpuMs = 0;
    std::thread m_thread;
};

double percentile(std::vector<double> values, double p)
{
    if (values.empty())
        return 0.0;
    std::sort(values.begin(), values.end());
    const auto index = static_cast<std::size_t>(p * double(values.size() - 1) + 0.5);
    return values[std::min(index, values.size() - 1)];
}

// Median and maximum of `values`, as text.
std::string summary(const std::vector<double> &values)
{
    char text[96];
    std::snprintf(text, sizeof text, "median %.1f ms, max %.1f ms (%zu runs)",
                  percentile(values, 0.5), percentile(values, 1.0), values.size());
    return text;
}

// A fresh controller, started against the dongle, once it is in the state `ready` waits for;
// `act` is timed on the main thread; the controller is stopped afterwards.
template <class Ready, class Act> double timeOnce(Ready ready, Act act)
{
    auto controller = std::make_unique<HidController>();
    controller->start();
    if (!ready()) {
        controller->stop();
        controller->wait();
        return -1;
    }
    const auto from = Clock::now();
    act(*controller);
    const double ms = msSince(from, Clock::now());
    controller->stop();
    controller->wait();
    return ms;
}

void measureStopsAndWrites(fakehid::FakeDongle &dongle, int runs)
{
    using fakehid::Call;
    using namespace std::chrono_literals;
    std::vector<double> stopReconnect, stopPoll, writePoll, writeReconnect, writeReachesDongle;
    const auto stopAndJoin = [](HidController &c) {
        c.stop();
        c.wait();
    };
    for (int i = 0; i < runs; ++i) {
        // Searching: the stop comes 300 ms into the pause before the next open attempt.
        dongle.unplug();
        const int attempts = dongle.calls(Call::Enumerate);
        stopReconnect.push_back(timeOnce(
            [&] {
                const bool ok = dongle.waitForCalls(Call::Enumerate, attempts + 1, 5s);
                std::this_thread::sleep_for(300ms);
                return ok;
            },
            stopAndJoin));
        dongle.plug();

        // Polling: the stop comes 20 ms into a poll pause.
        int reads = dongle.calls(Call::GetFeatureReport);
        stopPoll.push_back(timeOnce(
            [&] {
                const bool ok = dongle.waitForCalls(Call::GetFeatureReport, reads + 3, 5s);
                std::this_thread::sleep_for(20ms);
                return ok;
            },
            stopAndJoin));

        // Polling: the main thread asks for the sleep time; how long the call takes, and how
        // long until the dongle has the report.
        reads = dongle.calls(Call::GetFeatureReport);
        double inCall = -1;
        double reached = -1;
        timeOnce([&] { return dongle.waitForCalls(Call::GetFeatureReport, reads + 3, 5s); },
                 [&](HidController &c) {
                     const std::size_t before = dongle.featureWrites().size();
                     const auto from = Clock::now();
                     c.writeSleepTime(5);
                     inCall = msSince(from, Clock::now());
                     while (dongle.featureWrites().size() == before &&
                            msSince(from, Clock::now()) < 3000)
                         std::this_thread::sleep_for(1ms);
                     reached = msSince(from, Clock::now());
                 });
        writePoll.push_back(inCall);
        writeReachesDongle.push_back(reached);

        // A read failed with the dongle still there: the write is asked for 300 ms into the
        // pause before the reopen.
        reads = dongle.calls(Call::GetFeatureReport);
        writeReconnect.push_back(timeOnce(
            [&] {
                if (!dongle.waitForCalls(Call::GetFeatureReport, reads + 2, 5s))
                    return false;
                dongle.queueRead(fakehid::ReadAnswer::failure());
                const int now = dongle.calls(Call::GetFeatureReport);
                const bool ok = dongle.waitForCalls(Call::GetFeatureReport, now + 1, 5s);
                std::this_thread::sleep_for(300ms);
                return ok;
            },
            [](HidController &c) { c.writeSleepTime(5); }));
    }
    std::printf("main thread in stop() + wait(), in the pause before a reconnect: %s "
                "(goal < 100 ms)\n",
                summary(stopReconnect).c_str());
    std::printf("main thread in stop() + wait(), in a poll pause:                %s\n",
                summary(stopPoll).c_str());
    std::printf("main thread in writeSleepTime(), while polling:                 %s\n",
                summary(writePoll).c_str());
    std::printf("  ... until the dongle has the report:                          %s\n",
                summary(writeReachesDongle).c_str());
    std::printf("main thread in writeSleepTime(), in the pause before a reopen:  %s\n",
                summary(writeReconnect).c_str());
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const int phaseMs = (argc > 1 ? std::max(1, std::atoi(argv[1])) : 4) * 1000;

    fakehid::FakeDongle dongle;
    dongle.setLogLimit(0);

    HidController controller;
    std::atomic<clockid_t> threadClock{0};
    std::atomic<bool> haveClock{false};
    QObject::connect(
        &controller, &QThread::started, &controller,
        [&] {
            clockid_t clock{};
            if (pthread_getcpuclockid(pthread_self(), &clock) == 0) {
                threadClock = clock;
                haveClock = true;
            }
        },
        Qt::DirectConnection);

    bool recording = false;
    std::vector<double> delays;
    std::vector<double> intervals;
    Clock::time_point lastArrival{};
    Clock::time_point connectedAt{};
    QObject::connect(&controller, &HidController::updateHidStatus, &app,
                     [&](HidStatus status, int) {
                         const auto now = Clock::now();
                         if (status == HidConnected && connectedAt == Clock::time_point{})
                             connectedAt = now;
                         if (status != HidKeyEvent || !recording)
                             return;
                         delays.push_back(msSince(dongle.lastKeyAnswerTime(), now));
                         if (lastArrival != Clock::time_point{})
                             intervals.push_back(msSince(lastArrival, now));
                         lastArrival = now;
                     });

    std::printf("bench_device: HidController polling the fake dongle, real pauses "
                "(1000 ms before an open, 50 ms after each turn)\n");
    const auto started = Clock::now();
    controller.start();
    while (connectedAt == Clock::time_point{} && msSince(started, Clock::now()) < 5000)
        runEventLoopFor(10);
    if (connectedAt == Clock::time_point{} || !haveClock) {
        std::printf("no connection within 5 s\n");
        return 1;
    }
    std::printf("first status (connected) after %.1f ms\n", msSince(started, connectedAt));
    const clockid_t clock = threadClock;

    auto measure = [&](const char *what) {
        const int reads0 = dongle.calls(fakehid::Call::GetFeatureReport);
        const double cpu0 = cpuMs(clock);
        QElapsedTimer wall;
        wall.start();
        ReferenceSleeper reference;
        runEventLoopFor(phaseMs);
        const double cpu = cpuMs(clock) - cpu0;
        const double seconds = wall.nsecsElapsed() / 1e9;
        const double referenceCpu = reference.stop();
        const int reads = dongle.calls(fakehid::Call::GetFeatureReport) - reads0;
        std::printf("%s %.1f s, %d polls\n", what, seconds, reads);
        std::printf(
            "  controller thread CPU: %.3f ms per s = %.4f %% of one core (goal < 0.2 %%)\n",
            cpu / seconds, cpu / seconds / 10.0);
        std::printf(
            "  a bare thread sleeping 50 ms in a loop, alongside: %.3f ms per s = %.4f %%\n",
            referenceCpu / seconds, referenceCpu / seconds / 10.0);
    };

    measure("Polling, no key events:");
    dongle.setIdleRead(fakehid::ReadAnswer::keyEvent(0x10));
    runEventLoopFor(200);
    recording = true;
    measure("Key event on every poll:");
    recording = false;

    controller.stop();
    controller.wait();

    std::printf("poll answer -> slot on the main thread, %zu events: median %.3f ms, "
                "p99 %.3f ms, max %.3f ms (goal < 1 ms)\n",
                delays.size(), percentile(delays, 0.5), percentile(delays, 0.99),
                percentile(delays, 1.0));
    double sum = 0;
    for (double i : intervals)
        sum += i;
    const double mean = intervals.empty() ? 0.0 : sum / double(intervals.size());
    std::printf("interval between events on the main thread: mean %.3f ms, p99 %.3f ms, "
                "max %.3f ms (poll period 50 ms; goal < 51 ms)\n",
                mean, percentile(intervals, 0.99), percentile(intervals, 1.0));

    dongle.setIdleRead(fakehid::ReadAnswer::noEvent());
    measureStopsAndWrites(dongle, 5);
    return 0;
}
