#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <unordered_map>

#include "platform/dispatch/MainExecutor.h"

namespace platform {

// One-shot and repeating timers whose callbacks run on the main queue. Scheduling and invalidation
// are safe from any thread; an invalidated timer never fires, even when its expiry is already queued,
// because every expiry checks the timer's generation first.
class TimerService {
public:
    using TimerId = std::uint64_t;
    static constexpr TimerId kNoTimer = 0;

    explicit TimerService(MainExecutor& executor);

    TimerId scheduleOnce(Duration delay, Task task);
    TimerId scheduleRepeating(Duration interval, Task task);
    void invalidate(TimerId id);
    bool isValid(TimerId id) const;
    std::size_t activeCount() const;

private:
    struct Entry {
        Task task;
        Duration interval;
        bool repeats;
    };
    // Shared with queued expiries, which may outlive the service.
    struct State {
        std::mutex mutex;
        std::unordered_map<TimerId, Entry> timers;
        TimerId next = 1;
    };
    TimerId add(Duration delay, Task task, bool repeats);
    static void arm(MainExecutor& executor, const std::shared_ptr<State>& state, TimerId id, Duration delay);
    static void fire(MainExecutor& executor, const std::weak_ptr<State>& state, TimerId id);

    MainExecutor& m_executor;
    std::shared_ptr<State> m_state;
};

// A re-armable single timer, the shape of every watchdog: arming again replaces the earlier expiry,
// so a stale expiry never reaches the newer arming.
class Timer {
public:
    explicit Timer(TimerService& service) : m_service(service) {}
    ~Timer() { cancel(); }
    Timer(const Timer&) = delete;
    Timer& operator=(const Timer&) = delete;

    void arm(Duration delay, Task task);
    void armRepeating(Duration interval, Task task);
    void cancel();
    bool isArmed() const;

private:
    TimerService& m_service;
    mutable std::mutex m_mutex;
    TimerService::TimerId m_id = TimerService::kNoTimer;
};

}  // namespace platform
