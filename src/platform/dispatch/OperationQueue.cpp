#include "platform/dispatch/OperationQueue.h"

#include "platform/dispatch/SerialQueue.h"

namespace platform {

OperationQueue::OperationQueue(std::shared_ptr<SerialQueue> queue) : m_queue(std::move(queue)) {}

void OperationQueue::addOperation(Task operation)
{
    {
        std::lock_guard lock(m_count->mutex);
        ++m_count->pending;
    }
    m_queue->async([count = m_count, operation = std::move(operation)] {
        operation();
        std::lock_guard lock(count->mutex);
        if (--count->pending == 0) count->idle.notify_all();
    });
}

void OperationQueue::waitUntilAllOperationsAreFinished()
{
    if (m_queue->isCurrent()) return;  // waiting on ourselves would never end
    std::unique_lock lock(m_count->mutex);
    m_count->idle.wait(lock, [&] { return m_count->pending == 0; });
}

std::size_t OperationQueue::operationCount() const
{
    std::lock_guard lock(m_count->mutex);
    return m_count->pending;
}

void DispatchGroup::enter()
{
    std::lock_guard lock(m_mutex);
    ++m_count;
}

void DispatchGroup::leave()
{
    std::vector<std::pair<Queue*, Task>> ready;
    {
        std::lock_guard lock(m_mutex);
        if (m_count == 0) return;
        if (--m_count != 0) return;
        ready.swap(m_waiting);
        m_empty.notify_all();
    }
    for (auto& [queue, task] : ready) queue->async(std::move(task));
}

void DispatchGroup::notify(Queue& queue, Task task)
{
    {
        std::lock_guard lock(m_mutex);
        if (m_count != 0) {
            m_waiting.emplace_back(&queue, std::move(task));
            return;
        }
    }
    queue.async(std::move(task));
}

bool DispatchGroup::wait(Duration limit)
{
    std::unique_lock lock(m_mutex);
    return m_empty.wait_for(lock, limit, [&] { return m_count == 0; });
}

}  // namespace platform
