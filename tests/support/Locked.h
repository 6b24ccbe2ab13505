#pragma once

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

}  // namespace support
