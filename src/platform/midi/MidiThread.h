#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

namespace platform {

// One thread that runs its tasks in order: the stand-in for a MIDI driver's own delivery thread.
// Tasks still queued when it is destroyed are dropped.
//
// With a spin, the thread looks for the next task for that long after each one before it sleeps, so a
// task posted within it starts without a wake-up (the poster makes no system call, the thread is not
// scheduled anew). Meant for a side that answers in quick exchanges with another thread.
class MidiThread {
public:
    explicit MidiThread(std::string name, std::chrono::microseconds spin = std::chrono::microseconds::zero());
    ~MidiThread();
    MidiThread(const MidiThread&) = delete;
    MidiThread& operator=(const MidiThread&) = delete;

    // Drops queued tasks, waits for the running one and ends the thread; later posts are dropped, so
    // threads that post to each other can all be stopped before any is destroyed.
    void stop();
    void post(std::function<void()> task);
    // Returns when no task is queued or running (never call it from this thread).
    void waitIdle();
    bool isCurrent() const { return std::this_thread::get_id() == m_thread.get_id(); }

private:
    void run();
    // Spins until a task is queued, the thread is stopping or the spin is over.
    void spinForTask() const;

    std::string m_name;
    std::chrono::microseconds m_spin;
    // Tasks queued (and the stop), readable without the lock while spinning.
    std::atomic<std::size_t> m_queued{0};
    std::atomic<bool> m_stopRequested{false};
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::condition_variable m_idle;
    std::deque<std::function<void()>> m_tasks;
    bool m_running = false;
    bool m_stopping = false;
    std::thread m_thread;
};

}  // namespace platform
