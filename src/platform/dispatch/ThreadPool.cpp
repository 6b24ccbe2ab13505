#include "platform/dispatch/ThreadPool.h"

#include "platform/dispatch/MainExecutor.h"

namespace platform {

namespace {
thread_local const ThreadPool* t_currentPool = nullptr;
}

ThreadPool::ThreadPool(std::string label, unsigned threads, MainExecutor& timers)
    : Queue(std::move(label)), m_timers(timers), m_core(std::make_shared<Core>())
{
    if (threads == 0) threads = 1;
    m_threads.reserve(threads);
    for (unsigned i = 0; i < threads; ++i) m_threads.emplace_back([this] { work(); });
}

ThreadPool::~ThreadPool()
{
    {
        std::lock_guard lock(m_core->mutex);
        m_core->stopping = true;
    }
    m_core->wake.notify_all();
    for (auto& thread : m_threads) thread.join();
}

void ThreadPool::Core::push(Task task)
{
    {
        std::lock_guard lock(mutex);
        tasks.push_back(std::move(task));
    }
    wake.notify_one();
}

void ThreadPool::async(Task task) { m_core->push(std::move(task)); }

void ThreadPool::after(Duration delay, Task task)
{
    // Work falling due after the pool is gone is dropped, like a serial queue's.
    std::weak_ptr<Core> weak = m_core;
    m_timers.postAfter(delay, [weak, task = std::move(task)]() mutable {
        if (auto core = weak.lock()) core->push(std::move(task));
    });
}

bool ThreadPool::isCurrent() const { return t_currentPool == this; }

void ThreadPool::work()
{
    t_currentPool = this;
    while (true) {
        Task task;
        {
            std::unique_lock lock(m_core->mutex);
            m_core->wake.wait(lock, [&] { return m_core->stopping || !m_core->tasks.empty(); });
            // Work already queued still runs on shutdown so nobody waiting on it hangs.
            if (m_core->tasks.empty()) return;
            task = std::move(m_core->tasks.front());
            m_core->tasks.pop_front();
            ++m_core->running;
        }
        task();
        task = nullptr;  // what the task held goes before anyone is told the pool is idle
        std::lock_guard lock(m_core->mutex);
        if (--m_core->running == 0 && m_core->tasks.empty()) m_core->idle.notify_all();
    }
}

bool ThreadPool::waitIdle()
{
    std::unique_lock lock(m_core->mutex);
    const bool busy = m_core->running > 0 || !m_core->tasks.empty();
    m_core->idle.wait(lock, [&] { return m_core->running == 0 && m_core->tasks.empty(); });
    return busy;
}

}  // namespace platform
