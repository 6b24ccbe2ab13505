#include "platform/dispatch/Queue.h"

#include <condition_variable>
#include <mutex>

namespace platform {

void Queue::sync(const Task& task)
{
    if (isCurrent()) {
        task();
        return;
    }
    std::mutex mutex;
    std::condition_variable done;
    bool finished = false;
    async([&] {
        task();
        std::lock_guard lock(mutex);
        finished = true;
        done.notify_one();
    });
    std::unique_lock lock(mutex);
    done.wait(lock, [&] { return finished; });
}

}  // namespace platform
