#include "platform/dispatch/ThreadPool.h"

#include "platform/dispatch/MainExecutor.h"

namespace platform {

namespace {
thread_local const ThreadPool* t_currentPool = nullptr;
}

ThreadPool::ThreadPool(std::string label, unsigned threads, MainExecutor& timers)
    : Queue(std::move(label)), m_timers(timers)
{
    if (threads == 0) threads = 1;
    m_threads.reserve(threads);
    for (unsigned i = 0; i < threads; ++i) m_threads.emplace_back([this] { work(); });
}

ThreadPool::~ThreadPool()
{
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    m_wake.notify_all();
    for (auto& thread : m_threads) thread.join();
}

void ThreadPool::async(Task task)
{
    {
        std::lock_guard lock(m_mutex);
        m_tasks.push_back(std::move(task));
    }
    m_wake.notify_one();
}

void ThreadPool::after(Duration delay, Task task)
{
    m_timers.postAfter(delay, [this, task = std::move(task)]() mutable { async(std::move(task)); });
}

bool ThreadPool::isCurrent() const { return t_currentPool == this; }

void ThreadPool::work()
{
    t_currentPool = this;
    while (true) {
        Task task;
        {
            std::unique_lock lock(m_mutex);
            m_wake.wait(lock, [&] { return m_stopping || !m_tasks.empty(); });
            // Work already queued still runs on shutdown so nobody waiting on it hangs.
            if (m_tasks.empty()) return;
            task = std::move(m_tasks.front());
            m_tasks.pop_front();
        }
        task();
    }
}

}  // namespace platform
