#pragma once

#include <condition_variable>
#include <cstddef>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

#include "platform/dispatch/Queue.h"

namespace platform {

class SerialQueue;

// An operation queue of width 1: operations run one after another on a background serial queue, and a
// caller can wait until every operation added so far has finished.
class OperationQueue {
public:
    explicit OperationQueue(std::shared_ptr<SerialQueue> queue);
    ~OperationQueue() { waitUntilAllOperationsAreFinished(); }
    OperationQueue(const OperationQueue&) = delete;
    OperationQueue& operator=(const OperationQueue&) = delete;

    void addOperation(Task operation);
    void waitUntilAllOperationsAreFinished();
    std::size_t operationCount() const;

private:
    // Shared with queued operations: one that releases its own queue must not find the count gone.
    struct Count {
        std::mutex mutex;
        std::condition_variable idle;
        std::size_t pending = 0;
    };
    std::shared_ptr<SerialQueue> m_queue;
    std::shared_ptr<Count> m_count = std::make_shared<Count>();
};

// Tracks a set of pieces of work; notify runs once all entered work has left.
class DispatchGroup {
public:
    void enter();
    void leave();
    void notify(Queue& queue, Task task);
    // True when the group emptied within the limit.
    bool wait(Duration limit);

private:
    std::mutex m_mutex;
    std::condition_variable m_empty;
    int m_count = 0;
    std::vector<std::pair<Queue*, Task>> m_waiting;
};

}  // namespace platform
