#include <gtest/gtest.h>

#include "platform/dispatch/RunLoop.h"
#include "platform/dispatch/TimerService.h"

using namespace platform;
using namespace std::chrono_literals;

namespace {

struct TimerFixture : ::testing::Test {
    FakeClock clock;
    RunLoop loop{clock};
    TimerService timers{loop};
};

}  // namespace

TEST_F(TimerFixture, OneShotFiresOnceAtItsTime)
{
    int fired = 0;
    timers.scheduleOnce(2s, [&] { ++fired; });
    loop.advance(1999ms);
    EXPECT_EQ(fired, 0);
    loop.advance(1ms);
    EXPECT_EQ(fired, 1);
    loop.advance(1h);
    EXPECT_EQ(fired, 1);
    EXPECT_EQ(timers.activeCount(), 0u);
}

TEST_F(TimerFixture, RepeatingFiresEveryIntervalUntilInvalidated)
{
    int fired = 0;
    auto id = timers.scheduleRepeating(100ms, [&] { ++fired; });
    loop.advance(1s);
    EXPECT_EQ(fired, 10);
    timers.invalidate(id);
    loop.advance(1s);
    EXPECT_EQ(fired, 10);
}

TEST_F(TimerFixture, RepeatingTimerMayInvalidateItselfFromItsCallback)
{
    int fired = 0;
    TimerService::TimerId id = 0;
    id = timers.scheduleRepeating(1s, [&] {
        if (++fired == 3) timers.invalidate(id);
    });
    loop.advance(10s);
    EXPECT_EQ(fired, 3);
}

TEST_F(TimerFixture, InvalidatedTimerNeverFiresEvenWhenItsExpiryIsQueued)
{
    int fired = 0;
    auto id = timers.scheduleOnce(1s, [&] { ++fired; });
    clock.advance(2s);  // due, but the loop has not run it yet
    timers.invalidate(id);
    loop.runUntilIdle();
    EXPECT_EQ(fired, 0);
}

TEST_F(TimerFixture, RearmedWatchdogIgnoresTheStaleExpiry)
{
    Timer watchdog(timers);
    std::vector<int> fired;
    watchdog.arm(3s, [&] { fired.push_back(1); });
    loop.advance(2s);
    watchdog.arm(3s, [&] { fired.push_back(2); });
    loop.advance(2s);  // the first arming's time has passed
    EXPECT_TRUE(fired.empty());
    loop.advance(1s);
    EXPECT_EQ(fired, std::vector<int>{2});
    EXPECT_FALSE(watchdog.isArmed());
}

TEST_F(TimerFixture, ExpiryQueuedAfterTheServiceIsGoneDoesNothing)
{
    int fired = 0;
    {
        TimerService shortLived(loop);
        shortLived.scheduleOnce(1s, [&] { ++fired; });
    }
    loop.advance(2s);
    EXPECT_EQ(fired, 0);
}
