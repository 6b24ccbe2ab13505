#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
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
TEST_F(PowerFixture, TheSleepDelayIsTheLoginManagersOrItsUsualOne)
{
    const std::optional<std::uint64_t> cases[] = {std::nullopt, 2'500'000, 0};
    for (const auto& told : cases) {
        const std::string own = folder / std::to_string(&told - cases);  // a bus of its own each time
        std::filesystem::create_directory(own);
        support::PrivateLoginManager manager(own);
        if (!manager.ready()) GTEST_SKIP() << "no bus daemon to run";
        if (told) manager.setSleepDelay(*told);
        ::setenv("DBUS_SYSTEM_BUS_ADDRESS", manager.address().c_str(), 1);
        EXPECT_EQ(platform::LogindPowerEvents(dispatch).sleepDelay(),
                  told ? std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::microseconds(*told)) : platform::PowerEvents::kUsualSleepDelay);
    }
}
