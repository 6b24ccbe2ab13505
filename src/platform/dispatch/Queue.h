#pragma once

#include <functional>
#include <string>

#include "platform/dispatch/Clock.h"

namespace platform {

using Task = std::function<void()>;

enum class Priority { High, Default, Low, Background };

// A place where work runs. Serial queues run one task at a time in submission order; global queues
// run tasks concurrently on a pool of threads of one priority.
class Queue {
public:
    explicit Queue(std::string label) : m_label(std::move(label)) {}
    virtual ~Queue() = default;
    Queue(const Queue&) = delete;
    Queue& operator=(const Queue&) = delete;

    virtual void async(Task task) = 0;
    // Runs the task after the delay (measured on the dispatch clock).
    virtual void after(Duration delay, Task task) = 0;
    // True while the calling thread is running a task of this queue.
    virtual bool isCurrent() const = 0;

    // Runs the task and returns when it has run. Runs it inline when already on this queue, so a
    // serial queue never waits for itself.
    void sync(const Task& task);

    const std::string& label() const { return m_label; }

private:
    std::string m_label;
};

}  // namespace platform
