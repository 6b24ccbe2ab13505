#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/dispatch/RunLoop.h"
#include "platform/power/LogindPowerEvents.h"
#include "support/files/TemporaryFolder.h"
#include "support/power/PrivateLoginManager.h"

// A main queue to hear power events on, and a folder for a private bus.
struct PowerFixture : ::testing::Test {
    // Listens to `events`; true once `event` is the last one heard.
    bool hear(platform::LogindPowerEvents& events, const std::string& event, platform::Duration limit = std::chrono::seconds(5))
    {
        events.setHandlers({[this] { heard.push_back("sleep"); }, [this] { heard.push_back("wake"); },
                            [this] { heard.push_back("power off"); }});
        return loop.runUntil([&] { return !heard.empty() && heard.back() == event; }, limit);
    }
    platform::FakeClock clock;
    platform::RunLoop loop{clock};
    platform::Dispatch dispatch{loop};
    TemporaryFolder folder;
    std::vector<std::string> heard;
};
