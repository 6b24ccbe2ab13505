#include <filesystem>

#include "support/library/CoordinatorFixture.h"
#include "support/library/RefusingFiles.h"

using Kind = CommonUtils::RequestKind;
using sim::RequestKey;

// The read ends with the patch dump; a connected device is not scanned for again (the scan would find
// nothing new and report it gone).
TEST_F(Coordinator, TheReadEndsWithThePatchesAndAConnectedDeviceIsNotScannedAgain)
{
    start();
    connect();
    EXPECT_GT(unit.device().requestCount(RequestKey::maker(0x46)), 0U);
    utils->connectDevice();
    EXPECT_EQ(settle(), Strings{});
    EXPECT_FALSE(leftEditorMode());
}

// After an eject with the effect store missing, the connection synchronises first and reads only once
// the store is ready (with it present the read follows at once: the synchronisation test).
TEST_F(Coordinator, AfterAnEjectAMissingStoreIsSynchronisedBeforeTheRead)
{
    start();
    utils->setServerClientFactory([] { return nullptr; });
    connect();
    unit.device().unplug();
    until("disconnect");
    unit.device().plugIn();
    EXPECT_EQ(until("syncDo"), Strings{"syncDo"});
    EXPECT_EQ(settle(), Strings{});
    utils->downloadFileSuccess(true);
    const Strings heard = until("idle");
    EXPECT_EQ(std::count(heard.begin(), heard.end(), "connect 1"), 1);
}

// A read into a folder that cannot be cleared, or whose list cannot be stored, fails visibly and lets the
// device go rather than leaving the screens locked.
class UnkeptRead : public Coordinator, public ::testing::WithParamInterface<bool> {};

TEST_P(UnkeptRead, FailsVisiblyAndLetsTheDeviceGo)
{
    RefusingFiles refusing;
    (GetParam() ? refusing.refuseRemove : refusing.refuseWrite) = GetParam() ? "Temp/Device" : "FLST_SEQ.QT2";
    start(refusing);
    std::filesystem::create_directories(root / "PEXO Rigmora/Temp/Device");
    utils->dataFromServer(catalogue());
    utils->connectDevice();
    const Strings heard = until("idle");
    EXPECT_EQ(Strings(heard.end() - 3, heard.end()), (Strings{"listFailed 0", "reset", "idle"}));
    EXPECT_TRUE(loop.runUntil([&] { return leftEditorMode(); }));
}

INSTANTIATE_TEST_SUITE_P(Coordinator, UnkeptRead, ::testing::Bool());

// Every state but 1 lets the device go; only a refused model is shown (the catalogue is loaded and the
// server side not known reachable). Eject results are shown by cause.
TEST_F(Coordinator, ConnectionAndEjectResultsLetTheDeviceGo)
{
    start();
    connect();
    for (const std::int32_t state : {0, 2, 3, -1, -2, -3, -4}) {
        utils->connectionWithState(state, 0);
        const Strings told = state == 3 ? Strings{"reset", "idle", "connect 3"} : Strings{"reset", "idle"};
        EXPECT_EQ(settle(), told) << state;
    }
    EXPECT_TRUE(leftEditorMode());
    for (const auto& [state, told] : std::vector<std::pair<int, std::string>>{
             {1, "eject 1"}, {0, "eject 0"}, {-2, "eject -2"}, {-4, "eject -4"}, {-1, "lost"}, {-3, "lost"}}) {
        utils->ejectDeviceWithState(state, 0);
        EXPECT_EQ(settle(), (Strings{"reset", "idle", told}));
    }
}

struct MemoryRow {
    Kind running;
    std::int32_t state;
    Strings heard;
};

class MemoryResult : public Coordinator, public ::testing::WithParamInterface<MemoryRow> {};

TEST_P(MemoryResult, EndsTheEditOrDropsTheDevice)
{
    start();
    connect();
    std::atomic<bool> started{false};
    utils->addRequest(GetParam().running, [&] { started = true; });
    ASSERT_TRUE(loop.runUntil([&] { return started.load(); }));
    settle();
    utils->getMemoryStatusWithState(GetParam().state, 40.0F);
    EXPECT_EQ(settle(), GetParam().heard);
}

INSTANTIATE_TEST_SUITE_P(Coordinator, MemoryResult,
                         ::testing::Values(MemoryRow{Kind::DeleteEffect, 1, {"memory 40", "idle"}},
                                           MemoryRow{Kind::UpdateEffect, 1, {"memory 40", "idle"}},
                                           MemoryRow{Kind::DeleteEffect, 0, {"reset", "idle", "disconnect"}},
                                           MemoryRow{Kind::AddEffect, -4, {"reset", "idle", "disconnect"}},
                                           MemoryRow{Kind::UpdateEffect, -1, {"idle", "memory -1"}},
                                           // Asked by no running request: a late result, dropped.
                                           MemoryRow{Kind::SelectPatch, 1, {}}));

// Unplugged at each step of the read (find, read, memory, patches): only the disconnect is shown, and
// nothing of the dropped read arrives after it.
class UnplugDuringRead : public Coordinator, public ::testing::WithParamInterface<RequestKey> {};

TEST_P(UnplugDuringRead, ShowsOnlyTheDisconnect)
{
    start();
    connectUntilAsked(GetParam());
    unit.device().unplug();
    const Strings heard = until("disconnect");
    EXPECT_EQ(Strings(heard.end() - 4, heard.end()), (Strings{"reset", "idle", "idle", "disconnect"}));
    EXPECT_EQ(std::count(heard.begin(), heard.end(), "listFailed 0"), 0);
    EXPECT_EQ(settle(), Strings{});
}

INSTANTIATE_TEST_SUITE_P(Coordinator, UnplugDuringRead,
                         ::testing::Values(RequestKey::fileSystem(0x25), RequestKey::fileSystem(0x22),
                                           RequestKey::fileSystem(0x29), RequestKey::maker(0x46)));

// Sleep mid-read: reported lost, force-ejected, and held back until the device is let go. Waking resets
// the queue and ends the sleep mark, so a later eject reports itself.
TEST_F(Coordinator, SleepDuringAReadAndWakeAfter)
{
    start();
    // Without a device sleep is not shown and not held back; power-off changes nothing.
    power.powerOff();
    power.sleep();
    EXPECT_EQ(until("idle"), (Strings{"reset", "idle"}));
    EXPECT_TRUE(loop.runUntil([&] { return power.readyCount == 1; }));
    connectUntilAsked(RequestKey::fileSystem(0x22));
    power.sleep();
    const Strings heard = until("idle");
    EXPECT_EQ(Strings(heard.end() - 3, heard.end()), (Strings{"lost", "reset", "idle"}));
    EXPECT_EQ(power.readyCount, 1);
    loop.advance(CommonUtils::kSleepHold);
    EXPECT_TRUE(loop.runUntil([&] { return power.readyCount == 2 && leftEditorMode(); }));
    EXPECT_EQ(settle(), Strings{});

    power.wake();
    EXPECT_EQ(until("idle"), (Strings{"reset", "idle"}));
    unit.delayReplies(RequestKey::fileSystem(0x22), std::chrono::milliseconds(0));
    EXPECT_EQ(scanAgain(), connectRead());
    utils->ejectDeviceWithPatchList({}, {});
    EXPECT_EQ(until("eject 1"), (Strings{"busy", "reset", "idle", "eject 1"}));
}

// Quitting: at once without a device; else after the closing eject, which waits behind a running action,
// or after the quit watchdog when that action never ends. The eject itself is never shown.
struct QuitRow {
    bool device;
    std::optional<Kind> running;
    bool ends;
};

class Quit : public Coordinator, public ::testing::WithParamInterface<QuitRow> {};

TEST_P(Quit, EndsTheProgramOnceTheDeviceIsLetGo)
{
    const QuitRow row = GetParam();
    start();
    if (row.device) connect();
    if (row.running) utils->addRequest(*row.running, [] {});
    utils->closeApp();
    Strings heard = settle();
    if (row.running) {
        EXPECT_EQ(heard, Strings{"busy"});
        EXPECT_EQ(lifecycle.terminated, 0);
        if (row.ends) utils->writeOnePatchDataDumpWithState(1);
        // Only the quit watchdog runs while the untimed action hangs.
        ASSERT_TRUE(row.ends || loop.runUntil([&] { return timers.activeCount() == 1; }));
        if (!row.ends) loop.advance(CommonUtils::kQuitWatchdog - std::chrono::milliseconds(100));
        EXPECT_EQ(settle().size(), row.ends ? 3U : 0U);
        loop.advance(std::chrono::milliseconds(200));
    }
    EXPECT_TRUE(loop.runUntil([&] { return lifecycle.terminated == 1 && lifecycle.dialogsCleared == 1; }));
    EXPECT_EQ(std::count(heard.begin(), heard.end(), "eject 1"), 0);
    // The device was ejected exactly when there was one and its eject got its turn.
    EXPECT_EQ(leftEditorMode(), row.device && row.ends);
}

INSTANTIATE_TEST_SUITE_P(Coordinator, Quit,
                         ::testing::Values(QuitRow{false, std::nullopt, true}, QuitRow{true, std::nullopt, true},
                                           QuitRow{true, Kind::WriteOnePatch, true},
                                           QuitRow{true, Kind::DeleteEffect, false}));
