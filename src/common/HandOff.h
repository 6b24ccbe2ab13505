#pragma once

#include <memory>
#include <utility>

// Work handed to another thread through a queue the thread sanitizer cannot look into: Qt's event queue and
// thread pool synchronise on locks of their own, built without the sanitizer, so it would take everything
// the receiver reads of what the sender wrote for a race. Under the sanitizer, `carried` tells it that the
// sender's work before the hand-off happens before the receiver's run; elsewhere it is the work itself.

#if defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define RIG_HANDOFF_ANNOTATED 1
#endif
#endif

#ifdef RIG_HANDOFF_ANNOTATED
extern "C" void __tsan_acquire(void* address);
extern "C" void __tsan_release(void* address);
#endif

namespace handoff {

#ifdef RIG_HANDOFF_ANNOTATED
// One token for every hand-off: the receiver may read nothing of the work before it has synchronised, and
// the queue's own holder of the work is freed by either side once the other is done with it.
inline void* token()
{
    static char shared;
    return &shared;
}

// The work, marking every copy or move made on the way (the sender's last one, inside the queue,
// included), its run, and its end.
template <typename Work>
class Carried {
public:
    explicit Carried(Work work) : m_work(std::move(work)) { __tsan_release(token()); }
    Carried(const Carried& other) : m_work((__tsan_acquire(token()), other.m_work)) { __tsan_release(token()); }
    Carried(Carried&& other) noexcept : m_work((__tsan_acquire(token()), std::move(other.m_work))) { __tsan_release(token()); }
    Carried& operator=(const Carried&) = delete;
    Carried& operator=(Carried&&) = delete;
    ~Carried() { __tsan_acquire(token()); }

    template <typename... Arguments>
    decltype(auto) operator()(Arguments&&... arguments)
    {
        __tsan_acquire(token());
        struct Done {
            ~Done() { __tsan_release(token()); }
        } done;
        return m_work(std::forward<Arguments>(arguments)...);
    }

private:
    Work m_work;
};
#endif

template <typename Work>
auto carried(Work work)
{
#ifdef RIG_HANDOFF_ANNOTATED
    return Carried<Work>(std::move(work));
#else
    return work;
#endif
}

}  // namespace handoff
