#pragma once

#include <deque>
#include <memory>
#include <mutex>

#include "platform/dispatch/Queue.h"

namespace platform {

class MainExecutor;

// Runs its tasks one at a time, in submission order, on the threads of a target queue.
// Always held by shared_ptr: a drain in flight keeps the queue alive.
class SerialQueue final : public Queue, public std::enable_shared_from_this<SerialQueue> {
public:
    static std::shared_ptr<SerialQueue> create(std::string label, Queue& target, MainExecutor& timers);

    void async(Task task) override;
    void after(Duration delay, Task task) override;
    bool isCurrent() const override;

private:
    SerialQueue(std::string label, Queue& target, MainExecutor& timers);
    void drain();

    Queue& m_target;
    MainExecutor& m_timers;
    std::mutex m_mutex;
    std::deque<Task> m_tasks;
    bool m_draining = false;
};

}  // namespace platform
