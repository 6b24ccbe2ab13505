#include "platform/url/NetworkThread.h"

#include <pthread.h>

namespace platform {

NetworkThread& NetworkThread::shared()
{
    // Never destroyed: operations may still be in flight while the process exits.
    static NetworkThread* thread = new NetworkThread("rig.network");
    return *thread;
}

NetworkThread::NetworkThread(std::string name) : m_loop(std::make_unique<TransferLoop>())
{
    m_thread = std::thread([this, name = std::move(name)]() mutable { run(std::move(name)); });
}

NetworkThread::~NetworkThread()
{
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    m_changed.notify_all();
    m_loop->wakeUp();
    m_thread.join();
}

void NetworkThread::perform(std::function<void()> task)
{
    {
        std::lock_guard lock(m_mutex);
        if (m_halting) return;
        m_tasks.push_back(std::move(task));
    }
    m_loop->wakeUp();
}

void NetworkThread::halt()
{
    std::unique_lock lock(m_mutex);
    m_halting = true;
    if (isCurrent()) return;
    m_loop->wakeUp();
    m_changed.wait(lock, [this] { return m_halted || m_stopping; });
}

void NetworkThread::run(std::string name)
{
    pthread_setname_np(pthread_self(), name.substr(0, 15).c_str());
    while (true) {
        std::deque<std::function<void()>> tasks;
        {
            std::unique_lock lock(m_mutex);
            if (m_halting) {
                m_halted = true;
                m_tasks.clear();
                m_changed.notify_all();
                m_changed.wait(lock, [this] { return m_stopping; });
            }
            if (m_stopping) break;
            tasks.swap(m_tasks);
        }
        for (auto& task : tasks) task();
        bool more;
        {
            std::lock_guard lock(m_mutex);
            more = !m_tasks.empty();
        }
        m_loop->runOnce(more ? std::chrono::milliseconds(0) : std::chrono::milliseconds(1000));
    }
    std::deque<std::function<void()>> dropped;
    {
        std::lock_guard lock(m_mutex);
        dropped.swap(m_tasks);
    }
}

}  // namespace platform
