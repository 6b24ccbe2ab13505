#include "platform/dispatch/RunLoop.h"

#include <stdexcept>

namespace platform {

RunLoop::RunLoop(Clock& clock) : m_clock(clock), m_thread(std::this_thread::get_id()) {}

// Both wake the loop while still holding the lock: once the loop thread has taken the task it may finish
// and destroy this loop, which must not happen while another thread is still inside notify_all.
void RunLoop::post(Task task)
{
    std::lock_guard lock(m_mutex);
    m_ready.push_back(std::move(task));
    m_wake.notify_all();
}

void RunLoop::postAfter(Duration delay, Task task)
{
    std::lock_guard lock(m_mutex);
    const auto due = m_clock.now() + (delay < Duration::zero() ? Duration::zero() : delay);
    m_delayed.emplace(std::make_pair(due, m_sequence++), std::move(task));
    m_wake.notify_all();
}

bool RunLoop::runOne()
{
    Task task;
    {
        std::lock_guard lock(m_mutex);
        const auto now = m_clock.now();
        // Delayed tasks that have fallen due join the ready ones in due order.
        while (!m_delayed.empty() && m_delayed.begin()->first.first <= now) {
            m_ready.push_back(std::move(m_delayed.begin()->second));
            m_delayed.erase(m_delayed.begin());
        }
        if (m_ready.empty()) return false;
        task = std::move(m_ready.front());
        m_ready.pop_front();
    }
    task();
    return true;
}

std::size_t RunLoop::runUntilIdle()
{
    std::size_t count = 0;
    while (runOne()) ++count;
    return count;
}

void RunLoop::advance(Duration by)
{
    auto* fake = dynamic_cast<FakeClock*>(&m_clock);
    if (fake == nullptr) throw std::logic_error("RunLoop::advance needs a FakeClock");
    auto& clock = *fake;
    const auto target = clock.now() + by;
    runUntilIdle();
    while (true) {
        TimePoint next;
        {
            std::lock_guard lock(m_mutex);
            if (m_delayed.empty() || m_delayed.begin()->first.first > target) break;
            next = m_delayed.begin()->first.first;
        }
        if (next > clock.now()) clock.set(next);
        runUntilIdle();
    }
    if (target > clock.now()) clock.set(target);
    runUntilIdle();
}

std::size_t RunLoop::pendingDelayed() const
{
    std::lock_guard lock(m_mutex);
    return m_delayed.size();
}

void RunLoop::waitForWork(Duration atMost)
{
    std::unique_lock lock(m_mutex);
    m_wake.wait_for(lock, atMost, [&] {
        return !m_ready.empty() || (!m_delayed.empty() && m_delayed.begin()->first.first <= m_clock.now());
    });
}

}  // namespace platform
