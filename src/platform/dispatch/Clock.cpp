#include "platform/dispatch/Clock.h"

namespace platform {

SystemClock& SystemClock::instance()
{
    static SystemClock clock;
    return clock;
}

TimePoint FakeClock::now() const
{
    return TimePoint(Duration(m_ticks.load(std::memory_order_acquire)));
}

void FakeClock::advance(Duration by)
{
    m_ticks.fetch_add(by.count(), std::memory_order_acq_rel);
}

void FakeClock::set(TimePoint to)
{
    m_ticks.store(to.time_since_epoch().count(), std::memory_order_release);
}

}  // namespace platform
