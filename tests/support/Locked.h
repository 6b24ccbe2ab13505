#pragma once

#include <condition_variable>
#include <mutex>
#include <type_traits>

namespace support {

// The mutex of a double whose knobs and records are reached from the test and from the threads it serves.
class Locked {
protected:
    template <typename F>
    std::invoke_result_t<F&> locked(F f) const
    {
        std::lock_guard lock(m_mutex);
        return f();
    }
    mutable std::mutex m_mutex;
};

// A record the test waits on while other threads fill it: every change made under the lock wakes the waits.
struct Watched {
    template <typename Change>
    void locked(Change&& change)
    {
        std::lock_guard lock(mutex);
        change();
        changed.notify_all();
    }
    std::mutex mutex;
    std::condition_variable changed;
};

}  // namespace support
