#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

namespace platform {

// One thread that runs its tasks in order: the stand-in for a MIDI driver's own delivery thread.
// Tasks still queued when it is destroyed are dropped.
class MidiThread {
public:
    explicit MidiThread(std::string name);
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

    std::string m_name;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::condition_variable m_idle;
    std::deque<std::function<void()>> m_tasks;
    bool m_running = false;
    bool m_stopping = false;
    std::thread m_thread;
};

}  // namespace platform
