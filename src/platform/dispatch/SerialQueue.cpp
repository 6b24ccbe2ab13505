#include "platform/dispatch/SerialQueue.h"

#include <vector>

#include "platform/dispatch/MainExecutor.h"

namespace platform {

namespace {
// A stack, so a serial queue's sync onto another serial queue still knows both are current.
thread_local std::vector<const SerialQueue*> t_running;
}

std::shared_ptr<SerialQueue> SerialQueue::create(std::string label, Queue& target, MainExecutor& timers)
{
    return std::shared_ptr<SerialQueue>(new SerialQueue(std::move(label), target, timers));
}

SerialQueue::SerialQueue(std::string label, Queue& target, MainExecutor& timers)
    : Queue(std::move(label)), m_target(target), m_timers(timers)
{
}

void SerialQueue::async(Task task)
{
    bool start = false;
    {
        std::lock_guard lock(m_mutex);
        m_tasks.push_back(std::move(task));
        start = !m_draining;
        m_draining = true;
    }
    if (start) m_target.async([self = shared_from_this()] { self->drain(); });
}

void SerialQueue::after(Duration delay, Task task)
{
    std::weak_ptr<SerialQueue> weak = shared_from_this();
    m_timers.postAfter(delay, [weak, task = std::move(task)]() mutable {
        if (auto self = weak.lock()) self->async(std::move(task));
    });
}

bool SerialQueue::isCurrent() const
{
    for (const auto* queue : t_running)
        if (queue == this) return true;
    return false;
}

void SerialQueue::drain()
{
    t_running.push_back(this);
    while (true) {
        Task task;
        {
            std::lock_guard lock(m_mutex);
            if (m_tasks.empty()) {
                m_draining = false;
                break;
            }
            task = std::move(m_tasks.front());
            m_tasks.pop_front();
        }
        task();
    }
    t_running.pop_back();
}

}  // namespace platform
