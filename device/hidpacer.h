#pragma once

#include <condition_variable>
#include <functional>
#include <mutex>

// The pauses of the device thread: 1000 ms before each open attempt and 50 ms after every
// turn. A stop cuts a pause short, so the owner's wait() does not sit out a whole reconnect
// pause. Tests shorten every pause by a divisor and watch the requested periods; the
// program uses the real ones.
class HidPacer final
{
public:
    // divisor: every pause lasts its period divided by this (1 = real time). observer, if
    // set, hears each requested period (in ms) on the sleeping thread before the pause.
    // endlessAfter, if not negative: the pauses after that many end only through interrupt(),
    // so a test can tell a pause cut short by a stop from one that ran out, without a clock.
    explicit HidPacer(int divisor = 1, std::function<void(int)> observer = {},
                      int endlessAfter = -1);

    // Device thread. Pauses `ms` milliseconds; false when interrupt() ended the pause early
    // or came before it.
    bool sleep(int ms);

    // Any thread. Ends the current pause and every later one until rearm().
    void interrupt();

    // Device thread, when a new loop begins.
    void rearm();

private:
    const int m_divisor;
    const std::function<void(int)> m_observer;
    const int m_endlessAfter;
    int m_pauses = 0; // device thread only
    std::mutex m_mutex;
    std::condition_variable m_wake;
    bool m_interrupted = false;
};
