#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <optional>

#include "support/power/PowerFixture.h"

// Sleep is held back by a delay lock taken at start; ready lets it go, and waking takes a new one.
TEST_F(PowerFixture, HoldsSleepUntilReadyAndAnnouncesOnTheMainQueue)
{
    support::PrivateLoginManager manager(folder.path());
    if (!manager.ready()) GTEST_SKIP() << "no bus daemon to run";
    ::setenv("DBUS_SYSTEM_BUS_ADDRESS", manager.address().c_str(), 1);
    platform::LogindPowerEvents events(dispatch);
    EXPECT_EQ(manager.locksTaken(), 1);
    manager.announce("PrepareForSleep", true);
    ASSERT_TRUE(hear(events, "sleep"));
    EXPECT_TRUE(manager.lastLockHeld());
    events.readyToSleep();
    EXPECT_TRUE(loop.runUntil([&] { return !manager.lastLockHeld(); }));

    manager.announce("PrepareForSleep", false);
    ASSERT_TRUE(hear(events, "wake"));
    EXPECT_EQ(manager.locksTaken(), 2);
    EXPECT_TRUE(manager.lastLockHeld());
    // Only the start of a shutdown is announced.
    manager.announce("PrepareForShutdown", false);
    manager.announce("PrepareForShutdown", true);
    ASSERT_TRUE(hear(events, "power off"));
    EXPECT_EQ(heard.size(), 3U);
}

TEST_F(PowerFixture, WithoutASystemBusNothingIsAnnounced)
{
    ::setenv("DBUS_SYSTEM_BUS_ADDRESS", ("unix:path=" + folder.path() + "/missing").c_str(), 1);
    platform::LogindPowerEvents events(dispatch);
    EXPECT_FALSE(events.isWatching());
    events.readyToSleep();
    EXPECT_FALSE(hear(events, "sleep", std::chrono::milliseconds(50)));
}

// The time the program has before a sleep is the login manager's longest delay, or its usual one when it
// does not say.
class SleepDelay : public PowerFixture, public ::testing::WithParamInterface<std::optional<std::uint64_t>> {};

TEST_P(SleepDelay, IsTheLoginManagersOrItsUsualOne)
{
    support::PrivateLoginManager manager(folder.path());
    if (!manager.ready()) GTEST_SKIP() << "no bus daemon to run";
    if (GetParam()) manager.setSleepDelay(*GetParam());
    ::setenv("DBUS_SYSTEM_BUS_ADDRESS", manager.address().c_str(), 1);
    const platform::LogindPowerEvents events(dispatch);
    const std::chrono::milliseconds expected =
        GetParam() ? std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::microseconds(*GetParam()))
                   : platform::PowerEvents::kUsualSleepDelay;
    EXPECT_EQ(events.sleepDelay(), expected);
}

INSTANTIATE_TEST_SUITE_P(LoginManager, SleepDelay,
                         ::testing::Values(std::nullopt, std::optional<std::uint64_t>(2'500'000),
                                           std::optional<std::uint64_t>(0)));
