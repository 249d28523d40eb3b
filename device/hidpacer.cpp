#include "device/hidpacer.h"

#include <algorithm>
#include <chrono>
#include <cstdint>

HidPacer::HidPacer(int divisor, std::function<void(int)> observer, int endlessAfter)
    : m_divisor(std::max(1, divisor)), m_observer(std::move(observer)), m_endlessAfter(endlessAfter)
{
}

bool HidPacer::sleep(int ms)
{
    if (m_observer)
        m_observer(ms);
    const auto period = std::chrono::microseconds(std::int64_t(ms) * 1000 / m_divisor);
    const bool endless = m_endlessAfter >= 0 && m_pauses++ >= m_endlessAfter;
    std::unique_lock<std::mutex> lock(m_mutex);
    if (endless) {
        m_wake.wait(lock, [this] { return m_interrupted; });
        return false;
    }
    return !m_wake.wait_for(lock, period, [this] { return m_interrupted; });
}

void HidPacer::interrupt()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_interrupted = true;
    }
    m_wake.notify_all();
}

void HidPacer::rearm()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_interrupted = false;
}
