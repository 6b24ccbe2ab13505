#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <thread>
#include <utility>

#include "platform/dispatch/MainExecutor.h"

namespace platform {

// A main-thread executor that the caller drives by hand. Its thread is the one that created it.
// With a FakeClock, delayed tasks fall due only when advance() moves time, so watchdogs and
// time-outs of minutes run in microseconds.
class RunLoop final : public MainExecutor {
public:
    explicit RunLoop(Clock& clock = SystemClock::instance());

    void post(Task task) override;
    void postAfter(Duration delay, Task task) override;
    bool isMainThread() const override { return std::this_thread::get_id() == m_thread; }
    const Clock& clock() const override { return m_clock; }

    // Runs every task that is ready, including those posted meanwhile, until none is; returns the count.
    std::size_t runUntilIdle();
    // Moves a FakeClock forward in steps, running each delayed task at its due time. Needs a FakeClock.
    void advance(Duration by);
    // Runs tasks (waiting for posts from other threads) until the predicate holds or the real-time
    // limit passes; returns the predicate's last value. The default limit only ends a wait that went
    // wrong, so it is long enough for a TLS handshake under the thread sanitizer on a loaded machine.
    template <typename Predicate>
    bool runUntil(Predicate done, Duration limit = std::chrono::seconds(60))
    {
        const auto deadline = std::chrono::steady_clock::now() + limit;
        while (true) {
            runUntilIdle();
            if (done()) return true;
            if (std::chrono::steady_clock::now() >= deadline) return false;
            waitForWork(std::chrono::milliseconds(5));
        }
    }
    std::size_t pendingDelayed() const;

private:
    bool runOne();
    void waitForWork(Duration atMost);

    Clock& m_clock;
    std::thread::id m_thread;
    mutable std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<Task> m_ready;
    // Ordered by due time, then by submission so equal times keep their order.
    std::map<std::pair<TimePoint, std::uint64_t>, Task> m_delayed;
    std::uint64_t m_sequence = 0;
};

}  // namespace platform
