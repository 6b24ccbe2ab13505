#include <gtest/gtest.h>

#include "platform/dispatch/RunLoop.h"
#include "platform/dispatch/TimerService.h"

using namespace platform;
using namespace std::chrono_literals;

namespace {

struct TimerFixture : ::testing::Test { FakeClock clock; RunLoop loop{clock}; TimerService timers{loop}; int fired = 0; };

}  // namespace

TEST_F(TimerFixture, OneShotFiresOnceAtItsTime)
{
    timers.scheduleOnce(2s, [&] { ++fired; });
    loop.advance(1999ms);
    EXPECT_EQ(fired, 0);
    loop.advance(1ms);
    EXPECT_EQ(fired, 1);
    loop.advance(1h);
    EXPECT_EQ(fired, 1);
    EXPECT_EQ(timers.activeCount(), 0u);
}

// A repeating timer fires every interval until invalidated, from outside or from its own callback.
TEST_F(TimerFixture, RepeatingFiresEveryIntervalUntilInvalidated)
{
    auto id = timers.scheduleRepeating(100ms, [&] { ++fired; });
    loop.advance(1s);
    EXPECT_EQ(fired, 10);
    timers.invalidate(id);
    loop.advance(1s);
    EXPECT_EQ(fired, 10);
    id = timers.scheduleRepeating(1s, [&] {
        if (++fired == 13) timers.invalidate(id);
    });
    loop.advance(10s);
    EXPECT_EQ(fired, 13);
}

// An expiry already queued does nothing once it is stale: its timer invalidated, its watchdog re-armed, or
// its service gone.
TEST_F(TimerFixture, AStaleExpiryDoesNothing)
{
    auto id = timers.scheduleOnce(1s, [&] { ++fired; });
    TimerService(loop).scheduleOnce(1s, [&] { ++fired; });
    clock.advance(2s);  // due, but the loop has not run them yet
    timers.invalidate(id);
    loop.runUntilIdle();
    EXPECT_EQ(fired, 0);

    Timer watchdog(timers);
    std::vector<int> which;
    watchdog.arm(3s, [&] { which.push_back(1); });
    loop.advance(2s);
    watchdog.arm(3s, [&] { which.push_back(2); });
    loop.advance(2s);  // the first arming's time has passed
    EXPECT_TRUE(which.empty());
    loop.advance(1s);
    EXPECT_EQ(which, std::vector<int>{2});
    EXPECT_FALSE(watchdog.isArmed());
}
