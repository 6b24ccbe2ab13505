#pragma once

#include <atomic>
#include <chrono>

namespace platform {

using Duration = std::chrono::steady_clock::duration;
using TimePoint = std::chrono::steady_clock::time_point;

// Every timer in the program reads time through a Clock so tests can move it forward instantly.
class Clock {
public:
    virtual ~Clock() = default;
    virtual TimePoint now() const = 0;
};

class SystemClock final : public Clock {
public:
    TimePoint now() const override { return std::chrono::steady_clock::now(); }
    static SystemClock& instance();
};

// Only moves when told to; safe to read from any thread.
class FakeClock final : public Clock {
public:
    TimePoint now() const override;
    void advance(Duration by);
    void set(TimePoint to);

private:
    std::atomic<Duration::rep> m_ticks{0};
};

}  // namespace platform
