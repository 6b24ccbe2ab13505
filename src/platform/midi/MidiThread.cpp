#include "platform/midi/MidiThread.h"

#include <pthread.h>

namespace platform {

MidiThread::MidiThread(std::string name) : m_name(std::move(name)), m_thread([this] { run(); }) {}

MidiThread::~MidiThread() { stop(); }

void MidiThread::stop()
{
    std::deque<std::function<void()>> dropped;
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
        dropped.swap(m_tasks);
    }
    m_wake.notify_all();
    m_idle.notify_all();
    if (m_thread.joinable()) m_thread.join();
}

void MidiThread::post(std::function<void()> task)
{
    {
        std::lock_guard lock(m_mutex);
        if (m_stopping) return;
        m_tasks.push_back(std::move(task));
    }
    m_wake.notify_one();
}

void MidiThread::waitIdle()
{
    std::unique_lock lock(m_mutex);
    m_idle.wait(lock, [this] { return m_stopping || (m_tasks.empty() && !m_running); });
}

void MidiThread::run()
{
    pthread_setname_np(pthread_self(), m_name.substr(0, 15).c_str());
    std::unique_lock lock(m_mutex);
    while (true) {
        m_wake.wait(lock, [this] { return m_stopping || !m_tasks.empty(); });
        if (m_stopping) break;
        auto task = std::move(m_tasks.front());
        m_tasks.pop_front();
        m_running = true;
        lock.unlock();
        task();
        task = nullptr;
        lock.lock();
        m_running = false;
        if (m_tasks.empty()) m_idle.notify_all();
    }
    m_idle.notify_all();
}

}  // namespace platform
