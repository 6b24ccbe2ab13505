#include "platform/midi/MidiThread.h"

#include <pthread.h>

namespace platform {

MidiThread::MidiThread(std::string name, std::chrono::microseconds spin)
    : m_name(std::move(name)), m_spin(spin), m_thread([this] { run(); })
{
}

MidiThread::~MidiThread() { stop(); }

void MidiThread::stop()
{
    std::deque<std::function<void()>> dropped;
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
        m_stopRequested = true;
        dropped.swap(m_tasks);
        m_queued = 0;
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
        m_queued.store(m_tasks.size(), std::memory_order_release);
    }
    // Cheap when the thread is spinning or running: no waiter, no system call.
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
    // Whether the last task both came and ran within a spin: only then is the next one spun for. Tasks
    // that come at a slower pace (a paced cable's replies), or that wait themselves (a paced unit holding
    // its answer), are slept for at once: spinning then only takes a processor from the threads whose
    // work the next task waits for.
    bool quick = false;
    const bool spins = m_spin > std::chrono::microseconds::zero();
    while (true) {
        const bool idle = m_tasks.empty() && !m_stopping;
        const auto idleSince = spins && idle ? std::chrono::steady_clock::now() : std::chrono::steady_clock::time_point{};
        if (spins && idle && quick) {
            lock.unlock();
            spinForTask();
            lock.lock();
        }
        m_wake.wait(lock, [this] { return m_stopping || !m_tasks.empty(); });
        if (m_stopping) break;
        const auto started = spins ? std::chrono::steady_clock::now() : std::chrono::steady_clock::time_point{};
        const bool cameQuickly = !idle || started - idleSince < m_spin;
        auto task = std::move(m_tasks.front());
        m_tasks.pop_front();
        m_queued.store(m_tasks.size(), std::memory_order_relaxed);
        m_running = true;
        lock.unlock();
        task();
        task = nullptr;
        if (spins) quick = cameQuickly && std::chrono::steady_clock::now() - started < m_spin;
        lock.lock();
        m_running = false;
        if (m_tasks.empty()) m_idle.notify_all();
    }
    m_idle.notify_all();
}

void MidiThread::spinForTask() const
{
    // No pause instruction: under a hypervisor a loop of them has the virtual processor taken away,
    // which is the wait this spin is there to avoid. Reading the clock paces the loop instead.
    const auto until = std::chrono::steady_clock::now() + m_spin;
    while (std::chrono::steady_clock::now() < until)
        if (m_queued.load(std::memory_order_acquire) > 0 || m_stopRequested.load(std::memory_order_acquire)) return;
}

}  // namespace platform
