#include <algorithm>
#include <chrono>
#include <filesystem>

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
    void expectConnectedAndIdle(const Strings& heard, int connections = 1)
    {
        const std::string all = testing::PrintToString(heard);
        EXPECT_EQ(std::count(heard.begin(), heard.end(), "connect 1"), connections) << all;
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

// A second Connect during the start-up handshake joins it.
TEST_F(ConnectSequence, ConnectDuringTheHandshakeJoinsIt)
{
    begin();
    unit.holdReplies(RequestKey::maker(0x55));
    utils->dataFromServer(catalogue());
    utils->connectDevice();
    ASSERT_TRUE(loop.runUntil([&] { return unit.device().requestCount(RequestKey::maker(0x55)) > 0; }));
    utils->connectDevice();
    // The unit's held answer would keep a settle waiting; the scan asked for reaches the sequencer meanwhile.
    loop.runUntil([] { return false; }, std::chrono::milliseconds(50));
    unit.releaseReplies();
    expectConnectedAndIdle(runOn());
}

// A Connect right behind the first, before the scan has found the unit.
TEST_F(ConnectSequence, TwoConnectsAtOnceMakeOneConnection)
{
    begin();
    utils->dataFromServer(catalogue());
    utils->connectDevice();
    utils->connectDevice();
    expectConnectedAndIdle(runOn());
}

// A Connect right after a forced eject waits for the unit to be let go, then connects it again.
TEST_F(ConnectSequence, ConnectDuringAForcedEjectConnectsAgainOnceLetGo)
{
    begin();
    connect();
    utils->forceEjectDevice();
    utils->connectDevice();
    leftBefore = 1;
    expectConnectedAndIdle(runOn());
}

// Unplugged, Connect finds nothing; plugged in again, the unit is connected and read.
TEST_F(ConnectSequence, ConnectWhileUnpluggedThenPlugIn)
{
    begin();
    connect();
    unit.device().unplug();
    until("disconnect");
    utils->connectDevice();
    settle();
    unit.device().plugIn();
    expectConnectedAndIdle(runOn());
}

// Eject, then Connect twice at once: one connection.
TEST_F(ConnectSequence, EjectThenTwoConnects)
{
    begin();
    connect();
    utils->ejectDeviceWithPatchList({}, {});
    until("eject 1");
    leftBefore = unit.device().requestCount(RequestKey::maker(0x53));
    utils->connectDevice();
    utils->connectDevice();
    expectConnectedAndIdle(runOn());
}
