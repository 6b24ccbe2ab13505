#include "platform/dispatch/TimerService.h"

namespace platform {

TimerService::TimerService(MainExecutor& executor) : m_executor(executor), m_state(std::make_shared<State>()) {}

TimerService::TimerId TimerService::add(Duration delay, Task task, bool repeats)
{
    TimerId id;
    {
        std::lock_guard lock(m_state->mutex);
        id = m_state->next++;
        m_state->timers.emplace(id, Entry{std::move(task), delay, repeats});
    }
    arm(m_executor, m_state, id, delay);
    return id;
}

TimerService::TimerId TimerService::scheduleOnce(Duration delay, Task task) { return add(delay, std::move(task), false); }

TimerService::TimerId TimerService::scheduleRepeating(Duration interval, Task task)
{
    return add(interval, std::move(task), true);
}

void TimerService::invalidate(TimerId id)
{
    std::lock_guard lock(m_state->mutex);
    m_state->timers.erase(id);
}

bool TimerService::isValid(TimerId id) const
{
    std::lock_guard lock(m_state->mutex);
    return m_state->timers.count(id) != 0;
}

std::size_t TimerService::activeCount() const
{
    std::lock_guard lock(m_state->mutex);
    return m_state->timers.size();
}

void TimerService::arm(MainExecutor& executor, const std::shared_ptr<State>& state, TimerId id, Duration delay)
{
    std::weak_ptr<State> weak = state;
    executor.postAfter(delay, [&executor, weak, id] { fire(executor, weak, id); });
}

void TimerService::fire(MainExecutor& executor, const std::weak_ptr<State>& weak, TimerId id)
{
    auto state = weak.lock();
    if (!state) return;
    Task task;
    bool repeats = false;
    Duration interval{};
    {
        std::lock_guard lock(state->mutex);
        auto found = state->timers.find(id);
        if (found == state->timers.end()) return;
        repeats = found->second.repeats;
        interval = found->second.interval;
        if (repeats) {
            task = found->second.task;
        } else {
            task = std::move(found->second.task);
            state->timers.erase(found);
        }
    }
    // Re-armed before running, so a callback that invalidates its own timer wins.
    if (repeats) arm(executor, state, id, interval);
    task();
}

void Timer::arm(Duration delay, Task task)
{
    std::lock_guard lock(m_mutex);
    m_service.invalidate(m_id);
    m_id = m_service.scheduleOnce(delay, std::move(task));
}

void Timer::armRepeating(Duration interval, Task task)
{
    std::lock_guard lock(m_mutex);
    m_service.invalidate(m_id);
    m_id = m_service.scheduleRepeating(interval, std::move(task));
}

void Timer::cancel()
{
    std::lock_guard lock(m_mutex);
    m_service.invalidate(m_id);
    m_id = TimerService::kNoTimer;
}

bool Timer::isArmed() const
{
    std::lock_guard lock(m_mutex);
    return m_service.isValid(m_id);
}

}  // namespace platform
