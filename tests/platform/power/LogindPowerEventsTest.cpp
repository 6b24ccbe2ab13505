#include <gtest/gtest.h>

#include <cstdlib>

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
