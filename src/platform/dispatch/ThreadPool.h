#pragma once

#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/dispatch/Queue.h"

namespace platform {

class MainExecutor;

// A global concurrent queue: a fixed set of worker threads of one priority. Delayed work is timed
// by the main executor's clock and then handed to the pool.
class ThreadPool final : public Queue {
public:
    ThreadPool(std::string label, unsigned threads, MainExecutor& timers);
    ~ThreadPool() override;

    void async(Task task) override;
    void after(Duration delay, Task task) override;
    bool isCurrent() const override;
    // Returns once no task is queued or running; true if it had to wait. Never call it from the pool.
    bool waitIdle();

private:
    // Shared with delayed work waiting on the main executor, which may outlive the pool.
    struct Core {
        std::mutex mutex;
        std::condition_variable wake;
        std::condition_variable idle;
        std::deque<Task> tasks;
        unsigned running = 0;
        bool stopping = false;
        void push(Task task);
    };
    void work();

    MainExecutor& m_timers;
    std::shared_ptr<Core> m_core;
    std::vector<std::thread> m_threads;
};

}  // namespace platform
