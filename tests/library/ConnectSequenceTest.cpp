#include <algorithm>
#include <chrono>
#include <filesystem>
#include <functional>

#include "support/library/CoordinatorFixture.h"

using sim::RequestKey;

// Connect, Eject, unplug and plug in any order: whatever the unit ends up as, the coordinator is never
// left busy without a timer that will end its wait, and a connection that succeeded is kept.
class ConnectSequence : public Coordinator {
protected:
    // What the interface was last told of the device side: busy or idle.
    static std::string lastBusyState(const Strings& heard)
    {
        for (auto it = heard.rbegin(); it != heard.rend(); ++it)
            if (*it == "busy" || *it == "idle") return *it;
        return "idle";
    }
    // The coordinator with the effect store in place, so a connection after an eject or a loss reads at once.
    void begin()
    {
        start();
        std::filesystem::create_directories(utils->pathUnderRoot(CommonUtils::kStoreEffect));
    }
    // Runs the clock on past a forced eject's delayed disconnect (the scan it held back then runs at its
    // own pace), then past every watchdog.
    Strings runOn()
    {
        Strings heard = settle();
        loop.advance(std::chrono::milliseconds(1100));
        for (std::string& e : settle()) heard.push_back(std::move(e));
        for (int step = 0; step < 8; ++step) {
            loop.advance(std::chrono::seconds(5));
            for (std::string& e : settle()) heard.push_back(std::move(e));
        }
        return heard;
    }
    // The connection that succeeded is read whole and kept: no reset follows it and the unit stays in
    // editor mode with the coordinator idle.
    void expectConnectedAndIdle(const Strings& heard)
    {
        const std::string all = testing::PrintToString(heard);
        EXPECT_EQ(count(heard, "connect 1"), 1) << all;
        const auto lastConnect = std::find(heard.rbegin(), heard.rend(), "connect 1");
        EXPECT_EQ(std::count(heard.rbegin(), lastConnect, "reset"), 0) << all;
        EXPECT_EQ(std::count(heard.rbegin(), lastConnect, "patches 6"), 1) << all;
        EXPECT_EQ(lastBusyState(heard), "idle") << all;
        EXPECT_GT(utils->getMaxEffectInDevice(), 0);
        const auto left = unit.device().requestCount(RequestKey::maker(0x53));
        EXPECT_EQ(left, leftBefore) << "the unit was told to leave editor mode";
    }

    std::size_t leftBefore = 0;
};

// Each sequence ends with one connection read whole and kept: a second Connect during the start-up
// handshake joins it; two at once before the scan found the unit make one; one right after a forced eject
// waits for the unit to be let go; unplugged, Connect finds nothing until the unit is plugged in; an eject,
// then two at once.
class ConnectSequences : public ConnectSequence, public ::testing::WithParamInterface<int> {};

TEST_P(ConnectSequences, EndWithOneConnectionKept)
{
    const struct {
        const char* what;
        bool connectedFirst;
        std::function<void()> steps;
    } cases[] = {
        {"Connect during the handshake", false,
         [&] {
             unit.holdReplies(RequestKey::maker(0x55));
             utils->dataFromServer(catalogue());
             utils->connectDevice();
             ASSERT_TRUE(loop.runUntil([&] { return unit.device().requestCount(RequestKey::maker(0x55)) > 0; }));
             utils->connectDevice();
             // The unit's held answer would keep a settle waiting; the scan asked for reaches the sequencer meanwhile.
             loop.runUntil([] { return false; }, std::chrono::milliseconds(50));
             unit.releaseReplies();
         }},
        {"two Connects at once", false,
         [&] {
             utils->dataFromServer(catalogue());
             utils->connectDevice();
             utils->connectDevice();
         }},
        {"Connect during a forced eject", true,
         [&] {
             utils->forceEjectDevice();
             utils->connectDevice();
             leftBefore = 1;
         }},
        {"Connect while unplugged, then plugged in", true,
         [&] {
             unit.device().unplug();
             until("disconnect");
             utils->connectDevice();
             settle();
             unit.device().plugIn();
         }},
        {"an eject, then two Connects", true,
         [&] {
             utils->ejectDeviceWithPatchList({}, {});
             until("eject 1");
             leftBefore = unit.device().requestCount(RequestKey::maker(0x53));
             utils->connectDevice();
             utils->connectDevice();
         }},
    };
    const auto& c = cases[GetParam()];
    SCOPED_TRACE(c.what);
    begin();
    if (c.connectedFirst) {
        ASSERT_NO_FATAL_FAILURE(connect());
    }
    ASSERT_NO_FATAL_FAILURE(c.steps());
    expectConnectedAndIdle(runOn());
}

INSTANTIATE_TEST_SUITE_P(Orders, ConnectSequences, ::testing::Range(0, 5));
