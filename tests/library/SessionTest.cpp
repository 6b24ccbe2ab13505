#include <filesystem>

#include "support/library/CoordinatorFixture.h"

namespace fs = std::filesystem;
using Kind = CommonUtils::RequestKind;

namespace {

// The local disk, refusing to remove or to write the paths that end with the given texts.
class RefusingFiles final : public platform::LocalFileManager {
public:
    std::string refuseRemove;
    std::string refuseWrite;

    bool removeItem(const std::string& path, platform::Error* error = nullptr) override
    {
        if (!refuseRemove.empty() && path.ends_with(refuseRemove)) return refuse(error);
        return LocalFileManager::removeItem(path, error);
    }
    bool writeAtomically(const std::string& path, const std::vector<std::uint8_t>& bytes, platform::Error* error,
                         platform::Durability durability) override
    {
        if (!refuseWrite.empty() && path.ends_with(refuseWrite)) return refuse(error);
        return LocalFileManager::writeAtomically(path, bytes, error, durability);
    }

private:
    static bool refuse(platform::Error* error)
    {
        if (error) error->description = "refused";
        return false;
    }
};

}  // namespace

TEST_F(Coordinator, TheConnectReadAsksForListMemoryAndPatchesInTurn)
{
    start();
    unit.files().setFile("FLST_SEQ.QT2", Bytes(100, 0x33));
    connect();
    using sim::RequestKey;
    const std::vector<Bytes> sent = unit.device().requests();
    const auto firstOf = [&](RequestKey key) {
        return std::find_if(sent.begin(), sent.end(), [&](const Bytes& m) { return RequestKey::of(m) == key; }) -
               sent.begin();
    };
    EXPECT_LT(firstOf(RequestKey::fileSystem(0x22)), firstOf(RequestKey::fileSystem(0x29)));
    EXPECT_LT(firstOf(RequestKey::fileSystem(0x29)), firstOf(RequestKey::maker(0x46)));
    EXPECT_LT(firstOf(RequestKey::maker(0x46)), static_cast<std::ptrdiff_t>(sent.size()));
    EXPECT_EQ(files.readFile(root / "PEXO Rigmora/Temp/Device/FLST_SEQ.QT2"), Bytes(100, 0x33));

    // A connected device is not scanned for again: the scan would find nothing new and report it gone.
    utils->connectDevice();
    utils->downloadFileSuccess(true);
    EXPECT_EQ(settle(), Strings{});
    EXPECT_EQ(utils->getDeviceName(), "Rig One");
    EXPECT_FALSE(leftEditorMode());
}

// A connection that cannot be read into a clean folder, or whose list cannot be kept, fails visibly and
// lets the device go rather than leaving the screens locked.
class UnkeptRead : public Coordinator, public ::testing::WithParamInterface<bool> {};

TEST_P(UnkeptRead, FailsVisiblyAndLetsTheDeviceGo)
{
    const bool onRemove = GetParam();
    RefusingFiles refusing;
    (onRemove ? refusing.refuseRemove : refusing.refuseWrite) = onRemove ? "Temp/Device" : "FLST_SEQ.QT2";
    start(refusing);
    if (onRemove) fs::create_directories(root / "PEXO Rigmora/Temp/Device");
    utils->dataFromServer(catalogue());
    utils->connectDevice();
    const Strings heard = until("idle");
    EXPECT_EQ(std::vector(heard.end() - 3, heard.end()), (Strings{"listFailed 0", "reset", "idle"}));
    EXPECT_TRUE(loop.runUntil([&] { return leftEditorMode(); }));
    EXPECT_EQ(utils->getDeviceName(), std::nullopt);
    EXPECT_EQ(settle(), Strings{});
}

INSTANTIATE_TEST_SUITE_P(Coordinator, UnkeptRead, ::testing::Bool());

// Every connection state but 1 drops the queue and force-ejects; only a refused model is shown, and only
// while the server side is unreachable and the catalogue is loaded.
TEST_F(Coordinator, EveryOtherConnectionStateLetsTheDeviceGo)
{
    start();
    utils->connectionWithState(3, 0);
    EXPECT_EQ(until("idle"), (Strings{"reset", "idle"}));
    connect();
    for (const std::int32_t state : {0, 2, 3, -1, -2, -3, -4}) {
        SCOPED_TRACE(state);
        utils->connectionWithState(state, 0);
        Strings expected{"reset", "idle"};
        if (state == 3) expected.push_back("connect 3");
        EXPECT_EQ(until(expected.back()), expected);
        EXPECT_EQ(settle(), Strings{});
        EXPECT_EQ(utils->getDeviceName(), std::nullopt);
    }
    EXPECT_TRUE(loop.runUntil([&] { return leftEditorMode(); }));
}

struct MemoryRow {
    Kind running;
    std::int32_t state;
    Strings heard;
    bool keepsDevice;
};

class MemoryResult : public Coordinator, public ::testing::WithParamInterface<MemoryRow> {};

TEST_P(MemoryResult, EndsTheEditOrDropsTheDevice)
{
    const MemoryRow row = GetParam();
    start();
    connect();
    std::atomic<bool> started{false};
    utils->addRequest(row.running, [&] { started = true; });
    ASSERT_EQ(until("busy"), Strings{"busy"});
    ASSERT_TRUE(loop.runUntil([&] { return started.load(); }));
    utils->getMemoryStatusWithState(row.state, 40.0F);
    EXPECT_EQ(settle(), row.heard);
    EXPECT_EQ(utils->getDeviceName().has_value(), row.keepsDevice);
}

INSTANTIATE_TEST_SUITE_P(
    Coordinator, MemoryResult,
    ::testing::Values(MemoryRow{Kind::DeleteEffect, 1, {"memory 40", "idle"}, true},
                      MemoryRow{Kind::AddEffect, 1, {"memory 40", "idle"}, true},
                      MemoryRow{Kind::UpdateEffect, 1, {"memory 40", "idle"}, true},
                      MemoryRow{Kind::DeleteEffect, 0, {"reset", "idle", "disconnect"}, false},
                      MemoryRow{Kind::AddEffect, -4, {"reset", "idle", "disconnect"}, false},
                      MemoryRow{Kind::UpdateEffect, -1, {"idle", "memory -1"}, true},
                      MemoryRow{Kind::DeleteEffect, -3, {"idle", "memory -1"}, true},
                      // A request that never asks for the memory: the result is a late one and changes nothing.
                      MemoryRow{Kind::SelectPatch, 1, {}, true}));

TEST_F(Coordinator, EjectResultsAreReportedByCause)
{
    start();
    const std::vector<std::pair<std::int32_t, std::string>> rows{
        {1, "eject 1"}, {0, "eject 0"}, {-2, "eject -2"}, {-4, "eject -4"}, {-1, "lost"}, {-3, "lost"}};
    for (const auto& [state, told] : rows) {
        SCOPED_TRACE(state);
        utils->ejectDeviceWithState(state, 0);
        EXPECT_EQ(settle(), (Strings{"reset", "idle", told}));
    }
}

// A forced eject lets the device go at once; once it has been let go, a scan connects it again.
TEST_F(Coordinator, AForcedEjectThenAScanConnectsAgain)
{
    start();
    connect();
    utils->forceEjectDevice();
    EXPECT_EQ(until("idle"), (Strings{"reset", "idle"}));
    EXPECT_TRUE(loop.runUntil([&] { return leftEditorMode(); }));
    EXPECT_EQ(utils->getMaxEffectInDevice(), 0);
    loop.advance(std::chrono::milliseconds(1100));
    EXPECT_EQ(settle(), Strings{});
    EXPECT_EQ(scanAgain(), connectRead());
}

// Unplugged at each step of the read: the interface hears of the disconnect only, and no late result of
// the dropped read changes anything after it.
class UnplugDuringRead : public Coordinator, public ::testing::WithParamInterface<sim::RequestKey> {};

TEST_P(UnplugDuringRead, ReportsOnlyTheDisconnect)
{
    const sim::RequestKey step = GetParam();
    start();
    unit.files().setFile("FLST_SEQ.QT2", Bytes(4000, 0x11));
    unit.delayReplies(step, std::chrono::milliseconds(30));
    utils->dataFromServer(catalogue());
    utils->connectDevice();
    ASSERT_TRUE(loop.runUntil([&] { return unit.device().requestCount(step) > 0; }));
    unit.device().unplug();
    const Strings heard = until("disconnect");
    EXPECT_EQ(std::vector(heard.end() - 4, heard.end()), (Strings{"reset", "idle", "idle", "disconnect"}));
    for (const char* never : {"listFailed 0", "patchesFailed 0", "lost"})
        EXPECT_EQ(std::count(heard.begin(), heard.end(), never), 0) << never;
    EXPECT_EQ(settle(), Strings{});
    EXPECT_EQ(utils->getMaxEffectInDevice(), 0);
}

INSTANTIATE_TEST_SUITE_P(Coordinator, UnplugDuringRead,
                         ::testing::Values(sim::RequestKey::fileSystem(0x25), sim::RequestKey::fileSystem(0x22),
                                           sim::RequestKey::fileSystem(0x29), sim::RequestKey::maker(0x46)));

// Sleep mid-read: the device is reported lost and force-ejected, and sleep is held back until it has been
// let go. Waking resets the queue and ends the sleep mark, so a later eject reports itself.
TEST_F(Coordinator, SleepDuringAReadAndWakeAfter)
{
    start();
    unit.files().setFile("FLST_SEQ.QT2", Bytes(4000, 0x11));
    unit.delayReplies(sim::RequestKey::fileSystem(0x22), std::chrono::milliseconds(30));
    utils->dataFromServer(catalogue());
    utils->connectDevice();
    ASSERT_TRUE(loop.runUntil([&] { return unit.device().requestCount(sim::RequestKey::fileSystem(0x22)) > 0; }));
    power.sleep();
    const Strings heard = until("idle");
    EXPECT_EQ(std::vector(heard.end() - 3, heard.end()), (Strings{"lost", "reset", "idle"}));
    EXPECT_TRUE(loop.runUntil([&] { return leftEditorMode(); }));
    EXPECT_EQ(power.readyCount, 0);
    loop.advance(CommonUtils::kSleepHold);
    EXPECT_TRUE(loop.runUntil([&] { return power.readyCount == 1; }));
    // The dropped read's late replies change nothing.
    EXPECT_EQ(settle(), Strings{});

    power.wake();
    EXPECT_EQ(until("idle"), (Strings{"reset", "idle"}));
    unit.delayReplies(sim::RequestKey::fileSystem(0x22), std::chrono::milliseconds(0));
    EXPECT_EQ(scanAgain(), connectRead());
    utils->ejectDeviceWithPatchList({}, {});
    EXPECT_EQ(until("eject 1"), (Strings{"busy", "reset", "idle", "eject 1"}));
}

TEST_F(Coordinator, SleepWithoutADeviceIsNotShownAndPowerOffChangesNothing)
{
    start();
    power.powerOff();
    EXPECT_EQ(settle(), Strings{});
    power.sleep();
    EXPECT_EQ(until("idle"), (Strings{"reset", "idle"}));
    EXPECT_TRUE(loop.runUntil([&] { return power.readyCount == 1; }));
}

TEST_F(Coordinator, QuitWithoutADeviceEndsAtOnceWithoutDeviceTraffic)
{
    start();
    const std::size_t before = unit.device().requests().size();
    utils->closeApp();
    EXPECT_TRUE(loop.runUntil([&] { return lifecycle.terminated == 1; }));
    EXPECT_EQ(lifecycle.dialogsCleared, 1);
    EXPECT_EQ(settle(), (Strings{"reset", "idle"}));
    EXPECT_EQ(unit.device().requests().size(), before);
}

TEST_F(Coordinator, QuitWhileIdleEjectsThenEndsWithoutReportingTheEject)
{
    start();
    connect();
    utils->closeApp();
    EXPECT_TRUE(loop.runUntil([&] { return lifecycle.terminated == 1; }));
    EXPECT_EQ(settle(), (Strings{"reset", "idle", "busy", "reset", "idle"}));
    loop.advance(CommonUtils::kQuitWatchdog);
    settle();
    EXPECT_EQ(lifecycle.terminated, 1);
}

// Quitting behind a running action neither drops it nor ends the program before it: the closing eject
// waits its turn, and when the action never ends the quit watchdog ends the program.
class QuitWhileBusy : public Coordinator, public ::testing::WithParamInterface<bool> {};

TEST_P(QuitWhileBusy, WaitsForTheRunningAction)
{
    const bool actionEnds = GetParam();
    start();
    connect();
    utils->addRequest(actionEnds ? Kind::WriteOnePatch : Kind::DeleteEffect, [] {});
    ASSERT_EQ(until("busy"), Strings{"busy"});
    utils->closeApp();
    EXPECT_EQ(settle(), Strings{});
    if (actionEnds) {
        utils->writeOnePatchDataDumpWithState(1);
        EXPECT_TRUE(loop.runUntil([&] { return lifecycle.terminated == 1; }));
        EXPECT_EQ(settle(), (Strings{"busy", "reset", "idle"}));
        return;
    }
    ASSERT_TRUE(loop.runUntil([&] { return timers.activeCount() == 1; }));
    loop.advance(CommonUtils::kQuitWatchdog - std::chrono::milliseconds(100));
    settle();
    EXPECT_EQ(lifecycle.terminated, 0);
    loop.advance(std::chrono::milliseconds(200));
    EXPECT_TRUE(loop.runUntil([&] { return lifecycle.terminated == 1; }));
    EXPECT_EQ(lifecycle.dialogsCleared, 1);
}

INSTANTIATE_TEST_SUITE_P(Coordinator, QuitWhileBusy, ::testing::Bool());
