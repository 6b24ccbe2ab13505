#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "support/files/FaultyFileManager.h"
#include "support/library/CoordinatorFixture.h"

namespace fs = std::filesystem;
using Kind = CommonUtils::RequestKind;
using sim::RequestKey;

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
    EXPECT_EQ(settle(), Strings{}) << "nothing is read";
    utils->downloadFileSuccess(true);
    EXPECT_EQ(count(until("idle"), "connect 1"), 1);
}

// A read into a folder that cannot be cleared fails visibly and lets the device go rather than leaving
// the screens locked; the window was never told of the unit, so there is nothing for it to let go.
TEST_F(Coordinator, AReadIntoAFolderThatCannotBeClearedLetsTheDeviceGo)
{
    FaultyFileManager refusing;
    refusing.fail(FaultyFileManager::Op::Remove, "Temp/Device");
    start(refusing);
    std::filesystem::create_directories(root / "PEXO Rigmora/Temp/Device");
    utils->dataFromServer(catalogue());
    utils->connectDevice();
    const Strings heard = until("idle");
    EXPECT_EQ(Strings(heard.end() - 3, heard.end()), (Strings{"listFailed 0", "reset", "idle"}));
    EXPECT_EQ(count(heard, "letGo"), 0);
    EXPECT_TRUE(loop.runUntil([&] { return leftEditorMode(); }));
    utils.reset();  // its background work uses the refusing disk until it is gone
}

// A connected device is not scanned for again (the scan would report it gone); every other state lets the
// device go, only a refused model shown. Eject results are shown by cause.
TEST_F(Coordinator, ConnectionAndEjectResultsLetTheDeviceGo)
{
    start();
    connect();
    EXPECT_GT(unit.device().requestCount(RequestKey::maker(0x46)), 0U);
    utils->connectDevice();
    EXPECT_EQ(settle(), Strings{});
    EXPECT_FALSE(leftEditorMode());
    for (const std::int32_t state : {0, 2, 3, -1, -2, -3, -4}) {
        utils->connectionWithState(state, 0);
        EXPECT_EQ(settle(), state == 3 ? (Strings{"reset", "idle", "connect 3"}) : (Strings{"reset", "idle"})) << state;
    }
    EXPECT_TRUE(leftEditorMode());
    for (const auto& [state, told] : std::vector<std::pair<int, std::string>>{
             {1, "eject 1"}, {0, "eject 0"}, {-2, "eject -2"}, {-4, "eject -4"}, {-1, "lost"}, {-3, "lost"}}) {
        utils->ejectDeviceWithState(state, 0);
        EXPECT_EQ(settle(), (Strings{"reset", "idle", told}));
    }
}

// A unit that refuses the eject is still connected, as the sequencer keeps it: the coordinator keeps it
// too, so the requests behind the eject run and a later eject can be asked for.
TEST_F(Coordinator, ARefusedEjectKeepsTheUnitAndTheRequestsBehindIt)
{
    start();
    connect();
    std::atomic<bool> ejecting{false}, followerRan{false};
    utils->addRequest(Kind::Eject, [&] { ejecting = true; });
    utils->addRequest(Kind::GetQFXList, [&] { followerRan = true; });
    ASSERT_TRUE(loop.runUntil([&] { return ejecting.load(); }));
    EXPECT_EQ(settle(), Strings{"busy"});
    utils->ejectDeviceWithState(0, 0);
    EXPECT_TRUE(loop.runUntil([&] { return followerRan.load(); }));
    EXPECT_EQ(settle(), (Strings{"eject 0", "busy"}));
    EXPECT_EQ(utils->getDeviceName(), "Rig One");
    EXPECT_FALSE(leftEditorMode());
}

// A memory result ends the effect edit that asked for it: 0 or -4 drops the device, -1 and -3 count as lost (the
// sequencer let it go), other failures only release the queue; one after the reset is late and dropped.
TEST_F(Coordinator, MemoryResultsByRunningEdit)
{
    start();
    connect();
    const std::vector<std::tuple<Kind, std::int32_t, Strings>> rows{
        {Kind::DeleteEffect, 1, {"busy", "memory 40", "idle"}}, {Kind::AddEffect, 1, {"busy", "memory 40", "idle"}},
        {Kind::UpdateEffect, -2, {"busy", "idle", "memory -1"}}, {Kind::DeleteEffect, 0, {"busy", "reset", "idle", "disconnect"}}};
    for (const auto& [kind, state, heard] : rows) {
        std::atomic<bool> started{false};
        utils->addRequest(kind, [&] { started = true; });
        ASSERT_TRUE(loop.runUntil([&] { return started.load(); }));
        utils->getMemoryStatusWithState(state, 40.0F);
        EXPECT_EQ(settle(), heard) << state;
    }
    utils->getMemoryStatusWithState(1, 40.0F);
    EXPECT_EQ(settle(), Strings{});
}

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
    EXPECT_EQ(count(heard, "listFailed 0"), 0);
    EXPECT_EQ(settle(), Strings{});
}

INSTANTIATE_TEST_SUITE_P(Coordinator, UnplugDuringRead,
                         ::testing::Values(RequestKey::fileSystem(0x25), RequestKey::fileSystem(0x22),
                                           RequestKey::fileSystem(0x29), RequestKey::maker(0x46)));

// The pool is saved on sleep and power-off once loaded. Sleep mid-read: lost, force-ejected, and held back
// until the device is let go. Waking resets the queue and ends the sleep mark, so a later eject reports itself.
TEST_F(Coordinator, SleepDuringAReadAndWakeAfter)
{
    start();
    std::atomic<int> saves{0};
    utils->setPatchPoolSaver([&] { ++saves; });
    power.powerOff();
    EXPECT_EQ(saves, 0);
    utils->sendPatchPoolData({});
    EXPECT_EQ(until("patchPool"), Strings{"patchPool"});
    power.powerOff();
    power.sleep();
    EXPECT_EQ(saves, 2);
    EXPECT_EQ(until("idle"), (Strings{"reset", "idle"}));
    EXPECT_TRUE(loop.runUntil([&] { return power.readyCount == 1; }));
    connectUntilAsked(RequestKey::fileSystem(0x22));
    power.sleep();
    const Strings heard = until("idle");
    EXPECT_EQ(Strings(heard.end() - 3, heard.end()), (Strings{"lost", "reset", "idle"}));
    // The forced eject leaves the coordinator's queue only after the interface has heard the reset. Time
    // moves once it has gone: moved earlier, the read's watchdog lets the device go and the eject is lost.
    EXPECT_EQ(settle(), Strings{});
    EXPECT_TRUE(leftEditorMode());
    EXPECT_EQ(power.readyCount, 1);
    loop.advance(CommonUtils::kSleepHold);
    EXPECT_TRUE(loop.runUntil([&] { return power.readyCount == 2 && leftEditorMode(); }));
    EXPECT_EQ(settle(), Strings{});

    power.wake();
    EXPECT_EQ(until("idle"), (Strings{"reset", "idle"}));
    unit.delayReplies(RequestKey::fileSystem(0x22), std::chrono::milliseconds(0));
    // The first scan after losing the unit finds it again.
    utils->connectDevice();
    EXPECT_EQ(until("idle"), connectRead());
    utils->ejectDeviceWithPatchList({}, {});
    EXPECT_EQ(until("eject 1"), (Strings{"busy", "reset", "idle", "eject 1"}));
}

// The machine is let sleep only once the sleep's save of the pool is written, the program going on meanwhile;
// woken while it is written, the late release of the sleep that is over never lets the next one go.
class SleepBehindThePoolsSave : public Coordinator, public ::testing::WithParamInterface<bool> {};

TEST_P(SleepBehindThePoolsSave, IsLetGoOnlyOnceWrittenAndNeverLaterThanItsOwnSleep)
{
    const bool wakeWhileWriting = GetParam();
    start();
    utils->sendPatchPoolData({});
    EXPECT_EQ(until("patchPool"), Strings{"patchPool"});
    std::mutex mutex;
    std::condition_variable changed;
    bool writing = false, released = false, done = false;
    const auto under = [&](const bool& flag) {
        std::lock_guard lock(mutex);
        return flag;
    };
    utils->setPatchPoolSaver([&] {
        utils->keepUnsavedPatchPoolLater([&](const std::optional<std::string>&) {
            std::unique_lock lock(mutex);
            writing = true;
            changed.notify_all();
            changed.wait_for(lock, std::chrono::seconds(30), [&] { return released; });
            done = true;
        });
    });
    power.sleep();
    ASSERT_TRUE(loop.runUntil([&] { return under(writing); }));
    if (wakeWhileWriting) {
        power.wake();
        settle();
    } else {
        loop.runUntil([] { return false; }, std::chrono::milliseconds(200));
        EXPECT_EQ(power.readyCount, 0) << "let sleep while the pool was being written";
    }
    {
        std::lock_guard lock(mutex);
        released = true;
    }
    changed.notify_all();
    ASSERT_TRUE(loop.runUntil([&] { return under(done); }));
    if (wakeWhileWriting) {
        settle();
        EXPECT_EQ(power.readyCount, 0) << "the delay taken at the wake for the next sleep was let go";
    } else {
        EXPECT_TRUE(loop.runUntil([&] { return power.readyCount == 1; }));
    }
}

INSTANTIATE_TEST_SUITE_P(Coordinator, SleepBehindThePoolsSave, ::testing::Bool());

// Sleep while a step of the read is on its way: the forced eject lets the unit go once, and the step's
// result, coming after it, belongs to a dropped request and changes nothing. A second notice of the same
// sleep leaves the first one's course: its hold still runs.
class SleepDuringRead : public Coordinator, public ::testing::WithParamInterface<RequestKey> {};

TEST_P(SleepDuringRead, TheLateResultOfTheStepChangesNothing)
{
    start();
    unit.holdReplies(GetParam());
    utils->dataFromServer(catalogue());
    utils->connectDevice();
    ASSERT_TRUE(loop.runUntil([&] { return unit.device().requestCount(GetParam()) > 0; }));
    power.sleep();
    const Strings heard = until("idle");
    EXPECT_EQ(Strings(heard.end() - 3, heard.end()), (Strings{"lost", "reset", "idle"}));
    unit.releaseReplies();
    EXPECT_EQ(settle(), Strings{});
    EXPECT_TRUE(loop.runUntil([&] { return leftEditorMode(); }));
    EXPECT_EQ(unit.device().requestCount(RequestKey::maker(0x53)), 1U);
    power.sleep();
    settle();
    EXPECT_EQ(power.readyCount, 0) << "let sleep before the forced eject let the unit go";
    loop.advance(CommonUtils::kSleepHold);
    EXPECT_TRUE(loop.runUntil([&] { return power.readyCount == 1; }));
}

INSTANTIATE_TEST_SUITE_P(Coordinator, SleepDuringRead, ::testing::Values(RequestKey::fileSystem(0x22), RequestKey::maker(0x46)));

// Sleep while a patch write is the unit's work in hand (it may have covered a change the unit made): the
// unit goes by an eject behind the write. Whatever comes during that wait, the unit is let go once and the
// machine sleeps once, by the system's delay at the latest; a quit waiting meanwhile ends with the unit.
class SleepDuringAWrite : public Coordinator {
public:
    using Coordinator::count;
    using Coordinator::leftEditorMode;
    using Coordinator::lifecycle;
    using Coordinator::loop;
    using Coordinator::power;
    using Coordinator::settle;
    using Coordinator::unit;
    using Coordinator::until;
    using Coordinator::utils;
    // The unit's work ends; its eject is asked and held unanswered (released as the test ends).
    void writeEndsAndTheEjectIsAsked()
    {
        const auto asked = unit.device().requestCount(RequestKey::maker(0x53));
        unit.holdReplies(RequestKey::maker(0x53));
        utils->writeOnePatchDataDumpWithState(1);
        ASSERT_TRUE(loop.runUntil([&] { return unit.device().requestCount(RequestKey::maker(0x53)) > asked; }, std::chrono::seconds(10)))
            << "the sleep's eject was never asked";
        until("busy");
        EXPECT_EQ(power.readyCount, 0);
    }
    bool sleepLetGo() { return loop.runUntil([&] { return power.readyCount >= 1; }, std::chrono::seconds(5)); }
    // The unit let go by the forced eject: the machine sleeps only after its hold.
    void sleepsAfterTheHold()
    {
        settle();
        EXPECT_EQ(power.readyCount, 0) << "let sleep before the forced eject let the unit go";
        loop.advance(CommonUtils::kSleepHold);
        EXPECT_TRUE(sleepLetGo());
    }
    const std::chrono::milliseconds wait = platform::PowerEvents::kUsualSleepDelay - CommonUtils::kSleepHold;
};

struct DuringTheWait {
    const char* name;
    std::function<void(SleepDuringAWrite&)> what;
    bool letsSleep = true;  // false when the sleep that is over is never let go
};

const DuringTheWait kDuringTheWait[] = {
    {"WriteEnds", [](auto& t) {
         t.utils->writeOnePatchDataDumpWithState(1);
         EXPECT_TRUE(t.sleepLetGo()) << "the sleep waited for a hold";
     }},
    {"WriteOutlastsTheDelay", [](auto& t) {
         t.loop.advance(t.wait);
         EXPECT_EQ(t.count(t.until("lost"), "lost"), 1);
         t.sleepsAfterTheHold();
     }},
    // The machine slept (or the system called the sleep off) with the unit connected: it is let go now,
    // and the sleep that is over is never let go later.
    {"Wake", [](auto& t) {
         t.power.wake();
         EXPECT_EQ(t.count(t.until("lost"), "lost"), 1);
         EXPECT_TRUE(t.loop.runUntil([&] { return t.leftEditorMode(); }));
         t.settle();
         t.utils->writeOnePatchDataDumpWithState(1);
         t.loop.advance(platform::PowerEvents::kUsualSleepDelay);
         EXPECT_EQ(t.settle(), Strings{}) << "the write's late result changed something";
         EXPECT_EQ(t.power.readyCount, 0);
     }, false},
    {"SecondSleep", [](auto& t) {
         t.power.sleep();
         EXPECT_EQ(t.settle(), Strings{});
         EXPECT_FALSE(t.leftEditorMode());
         t.utils->writeOnePatchDataDumpWithState(1);
         EXPECT_TRUE(t.sleepLetGo());
     }},
    {"Unplugged", [](auto& t) {
         t.unit.device().unplug();
         t.until("disconnect");
         t.settle();
         t.loop.advance(CommonUtils::kSleepHold);
         EXPECT_TRUE(t.sleepLetGo()) << "the sleep waited for a unit already gone";
     }},
    // The sequencer's watchdog let the unit go.
    {"WriteUnanswered", [](auto& t) {
         t.utils->writeOnePatchDataDumpWithState(-1);
         t.until("lost");
         t.settle();
         t.loop.advance(CommonUtils::kSleepHold);
         EXPECT_TRUE(t.sleepLetGo()) << "the sleep waited for a unit already let go";
     }},
    // The write's own watchdog still runs under the sleep's long wait and lets the unit go.
    {"WriteHangsPastItsTimeOutWithALongDelay", [](auto& t) {
         t.loop.advance(std::chrono::seconds(CommonUtils::requestTimeOut(Kind::WriteOnePatch)));
         EXPECT_TRUE(t.loop.runUntil([&] { return t.leftEditorMode(); }, std::chrono::seconds(5)))
             << "the write's watchdog was cancelled by the sleep";
         // The hold starts once the unit is let go: a clock moved on before that would not reach its end.
         EXPECT_EQ(t.count(t.until("lost"), "lost"), 1);
         t.settle();
         t.loop.advance(CommonUtils::kSleepHold);
         EXPECT_TRUE(t.sleepLetGo()) << "the sleep waited for the system's whole delay";
     }},
    {"EjectRefused", [](auto& t) {
         ASSERT_NO_FATAL_FAILURE(t.writeEndsAndTheEjectIsAsked());
         t.utils->ejectDeviceWithState(0, 0);
         EXPECT_EQ(t.until("lost"), (Strings{"reset", "idle", "sleep", "lost"}));
         t.unit.releaseReplies();
         t.sleepsAfterTheHold();
     }},
    {"EjectLandsAsTheDelayRunsOut", [](auto& t) {
         ASSERT_NO_FATAL_FAILURE(t.writeEndsAndTheEjectIsAsked());
         t.utils->ejectDeviceWithState(1, 0);
         t.loop.advance(t.wait);
         t.unit.releaseReplies();
         EXPECT_TRUE(t.sleepLetGo());
     }},
    {"DelayRunsOutAsTheEjectLands", [](auto& t) {
         ASSERT_NO_FATAL_FAILURE(t.writeEndsAndTheEjectIsAsked());
         t.loop.advance(t.wait);
         t.utils->ejectDeviceWithState(1, 0);
         t.unit.releaseReplies();
         t.settle();
         t.loop.advance(CommonUtils::kSleepHold);
         EXPECT_TRUE(t.sleepLetGo());
     }},
    {"Quit", [](auto& t) {
         t.utils->closeApp();
         t.settle();
         t.utils->writeOnePatchDataDumpWithState(1);
         EXPECT_TRUE(t.loop.runUntil([&] { return t.lifecycle.terminated == 1; }));
         EXPECT_TRUE(t.sleepLetGo());
     }},
    // The forced eject dropped the quit's own eject: the unit is let go, and so the program ends.
    {"QuitThenTheDelayRunsOut", [](auto& t) {
         t.utils->closeApp();
         t.settle();
         t.loop.advance(t.wait);
         EXPECT_TRUE(t.loop.runUntil([&] { return t.lifecycle.terminated == 1; }, std::chrono::seconds(5))) << "the quit waited for its watchdog";
     }},
    {"Disconnect", [](auto& t) {
         t.utils->ejectDeviceWithPatchList({}, {});
         t.settle();
         t.utils->writeOnePatchDataDumpWithState(1);
         EXPECT_TRUE(t.sleepLetGo());
     }},
};

class SleepDuringAWriteTest : public SleepDuringAWrite, public ::testing::WithParamInterface<DuringTheWait> {};

TEST_P(SleepDuringAWriteTest, TheUnitGoesBehindTheWriteWithinTheSleepsDelay)
{
    if (std::string(GetParam().name) == "WriteHangsPastItsTimeOutWithALongDelay") power.delay = std::chrono::minutes(2);
    start();
    connect();
    utils->addRequest(Kind::WriteOnePatch, [] {});
    settle();
    power.sleep();
    EXPECT_EQ(count(settle(), "lost"), 0) << "the unit was let go under the write";
    EXPECT_FALSE(leftEditorMode());
    GetParam().what(*this);
    if (!GetParam().letsSleep) return;
    // However it ended, the machine is let sleep once, and nothing late lets go the next sleep's delay.
    loop.advance(std::chrono::minutes(3));
    settle();
    EXPECT_EQ(power.readyCount, 1);
}

INSTANTIATE_TEST_SUITE_P(Coordinator, SleepDuringAWriteTest, ::testing::ValuesIn(kDuringTheWait),
                         [](const auto& info) { return std::string(info.param.name); });

// A sleep that comes as a read or an effect change is handed over to the unit (before it has begun) cuts
// it at once, as it cuts one under way: only a write in hand is waited for.
class SleepAtAHandOver : public Coordinator, public ::testing::WithParamInterface<Kind> {};

TEST_P(SleepAtAHandOver, CutsAnythingButAWriteAtOnce)
{
    start();
    connect();
    utils->addRequest(GetParam(), [] {});
    power.sleep();
    EXPECT_EQ(count(settle(), "lost"), 1) << "the sleep waited for the work handed over";
    EXPECT_TRUE(leftEditorMode());
    loop.advance(CommonUtils::kSleepHold);
    EXPECT_TRUE(loop.runUntil([&] { return power.readyCount == 1; }, std::chrono::seconds(5)));
}

INSTANTIATE_TEST_SUITE_P(Coordinator, SleepAtAHandOver, ::testing::Values(Kind::DeleteEffect, Kind::UpdateEffect, Kind::GetQFXList));

// Quitting: at once without a device; else after the closing eject, behind a running action, or after the
// quit watchdog when that action never ends. The eject itself is never shown.
using QuitRow = std::tuple<bool, std::optional<Kind>, Strings>;
class Quit : public Coordinator, public ::testing::WithParamInterface<QuitRow> {};

TEST_P(Quit, EndsTheProgramOnceTheDeviceIsLetGo)
{
    const auto& [device, running, told] = GetParam();
    start();
    if (device) connect();
    if (running) utils->addRequest(*running, [] {});
    utils->closeApp();
    Strings heard = settle();
    if (running == Kind::WriteOnePatch) utils->writeOnePatchDataDumpWithState(1);
    if (running == Kind::DeleteEffect) {
        ASSERT_TRUE(loop.runUntil([&] { return timers.activeCount() == 1; }));
        loop.advance(CommonUtils::kQuitWatchdog - std::chrono::milliseconds(100));
        EXPECT_EQ(settle(), Strings{});
        EXPECT_EQ(lifecycle.terminated, 0);
        loop.advance(std::chrono::milliseconds(200));
    }
    EXPECT_TRUE(loop.runUntil([&] { return lifecycle.terminated == 1 && lifecycle.dialogsCleared == 1; }));
    for (std::string& event : settle()) heard.push_back(std::move(event));
    EXPECT_EQ(heard, told);
    EXPECT_EQ(leftEditorMode(), told.size() > 2);
}

INSTANTIATE_TEST_SUITE_P(Coordinator, Quit,
                         ::testing::Values(QuitRow{false, std::nullopt, {"reset", "idle"}},
                                           QuitRow{true, std::nullopt, {"reset", "idle", "busy", "reset", "idle"}},
                                           QuitRow{true, Kind::WriteOnePatch, {"busy", "busy", "reset", "idle"}},
                                           QuitRow{true, Kind::DeleteEffect, {"busy"}}));

// A unit unplugged while quitting has nothing left to let go: the program ends then, not when the quit
// watchdog runs out, whether the closing eject was waiting for an answer or behind a running action.
class QuitAndUnplug : public Coordinator, public ::testing::WithParamInterface<bool> {};

TEST_P(QuitAndUnplug, EndsTheProgramAtOnce)
{
    const bool behindAnAction = GetParam();
    start();
    connect();
    const auto asked = unit.device().requestCount(RequestKey::identity());
    unit.holdReplies(RequestKey::identity());
    if (behindAnAction) utils->addRequest(Kind::WriteOnePatch, [] {});
    utils->closeApp();
    if (behindAnAction) settle();
    else ASSERT_TRUE(loop.runUntil([&] { return unit.device().requestCount(RequestKey::identity()) > asked; }));
    unit.device().unplug();
    EXPECT_TRUE(loop.runUntil([&] { return lifecycle.terminated == 1; }));
    unit.releaseReplies();
    loop.advance(CommonUtils::kQuitWatchdog);
    settle();
    EXPECT_EQ(lifecycle.terminated, 1);
}

INSTANTIATE_TEST_SUITE_P(Coordinator, QuitAndUnplug, ::testing::Bool());

// A write that takes longer than the quit watchdog is not cut short by the quit: the end comes once its own
// time-out has run out at the latest.
TEST_F(Coordinator, QuitWaitsForALongWriteUpToItsOwnTimeOut)
{
    start();
    connect();
    utils->addRequest(Kind::WriteAllPatch, [] {});
    utils->closeApp();
    settle();
    loop.advance(CommonUtils::kQuitWatchdog + std::chrono::seconds(1));
    settle();
    EXPECT_EQ(lifecycle.terminated, 0);
    EXPECT_FALSE(leftEditorMode());
    loop.advance(std::chrono::seconds(CommonUtils::requestTimeOut(Kind::WriteAllPatch)));
    EXPECT_TRUE(loop.runUntil([&] { return lifecycle.terminated == 1; }));
}

// A session's end lets the queued writes run and ejects behind them, but ends by its own limit counted from
// when it was asked, whatever write or quit is waiting.
class BoundedQuit : public Coordinator, public ::testing::WithParamInterface<bool> {};

TEST_P(BoundedQuit, EndsBehindTheQueuedWritesAtTheLatestByItsLimit)
{
    constexpr auto limit = std::chrono::seconds(5);
    start();
    connect();
    // A long write runs; a one-patch write waits behind it.
    utils->addRequest(Kind::WriteAllPatch, [] {});
    std::atomic<bool> queuedWriteRan{false};
    utils->addRequest(Kind::WriteOnePatch, [&] { queuedWriteRan = true; });
    if (GetParam()) {
        utils->closeApp();
        settle();
    }
    utils->closeAppWithin(limit);
    settle();
    loop.advance(limit - std::chrono::seconds(2));
    utils->writeAllPatchDataDumpWithState(1);
    ASSERT_TRUE(loop.runUntil([&] { return queuedWriteRan.load(); }));
    EXPECT_EQ(lifecycle.terminated, 0);
    loop.advance(std::chrono::seconds(2) + std::chrono::milliseconds(100));
    EXPECT_TRUE(loop.runUntil([&] { return lifecycle.terminated == 1; }));
    settle();
    EXPECT_EQ(lifecycle.terminated, 1);
}

INSTANTIATE_TEST_SUITE_P(Coordinator, BoundedQuit, ::testing::Bool());

// Within the limit the end is the ordinary one: the queued one-patch write is done, then the unit is ejected.
TEST_F(Coordinator, ABoundedQuitWritesTheQueuedPatchThenEjects)
{
    start();
    connect();
    utils->addRequest(Kind::WriteOnePatch, [] {});
    utils->closeAppWithin(std::chrono::seconds(5));
    settle();
    EXPECT_FALSE(leftEditorMode());
    utils->writeOnePatchDataDumpWithState(1);
    EXPECT_TRUE(loop.runUntil([&] { return lifecycle.terminated == 1; }));
    EXPECT_TRUE(leftEditorMode());
}

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

// ---- the window removes the unit's folders when it handles the unit's loss, which may be late: the unit can be
// back (plugged in again, connected again) and its next connection reading into those folders by then.

namespace {

enum class Loss { Unplugged, Ejected };
enum class Landing { Before, WhenToldConnected, WhenListStored, WhenReadEnded };

using Row = std::tuple<Loss, Landing>;

// Stands in for the window: it removes the unit's folders while handling a loss (as its loss and eject
// handlers do), after `busy` has run there (the window's turn coming late, its queue turning meanwhile).
class WindowStandIn final : public CommonUtilsDelegate {
public:
    std::function<void()> busy;
    std::function<void()> removeFolders;
    int connects = 0;
    int reads = 0;
    int losses = 0;

    void deviceConnectWithState(std::int32_t state) override { connects += state == 1 ? 1 : 0; }
    void patchListFromDevice(const Items& /*patches*/, const std::vector<std::string>& /*offsets*/) override { ++reads; }
    void ejectDeviceWithState(std::int32_t state) override
    {
        if (state == 1) lose();
    }
    void deviceDisonnect() override { lose(); }
    void deviceLostConnectOrNoReply() override { lose(); }
    void deviceLetGo() override { lose(); }

private:
    void lose()
    {
        ++losses;
        if (busy) busy();
        removeFolders();
    }
};

std::string rowName(const ::testing::TestParamInfo<Row>& info)
{
    static const char* const losses[] = {"Unplugged", "Ejected"};
    static const char* const landings[] = {"BeforeTheUnitIsBack", "AsTheNextConnectionIsTold", "OnceTheNextListIsStored",
                                          "AfterTheNextRead"};
    return std::string(losses[int(std::get<0>(info.param))]) + "Removed" + landings[int(std::get<1>(info.param))];
}

// A disk on which the pool's judgement looks at the files of one folder only when the test lets it: first
// none, then (`open`) all but `first`, which it looks at last (`last`), so the judgement lands only then.
struct HeldJudgement : platform::LocalFileManager {
    std::optional<platform::FileStamp> fileStamp(const std::string& path) override
    {
        if (path.rfind(folder, 0) == 0) {
            std::unique_lock lock(mutex);
            ++arrived;
            changed.wait_for(lock, std::chrono::seconds(20), [&] { return path == first ? last : open; });
        }
        return LocalFileManager::fileStamp(path);
    }
    bool anyArrived()
    {
        std::lock_guard lock(mutex);
        return arrived > 0;
    }
    void let(bool HeldJudgement::*which)
    {
        std::lock_guard lock(mutex);
        this->*which = true;
        changed.notify_all();
    }
    std::string folder;
    std::string first;
    std::mutex mutex;
    std::condition_variable changed;
    int arrived = 0;
    bool open = false;
    bool last = false;
};

}  // namespace

class UnitFolderRemoval : public Coordinator, public ::testing::WithParamInterface<Row> {
protected:
    ~UnitFolderRemoval() override
    {
        held.let(&HeldJudgement::open);
        held.let(&HeldJudgement::last);
        utils.reset();  // its queues use the disk
    }
    fs::path deviceFolder() const { return root / "PEXO Rigmora/Temp/Device"; }
    fs::path storedList() const { return deviceFolder() / "FLST_SEQ.QT2"; }
    fs::path dumpedPatches() const { return deviceFolder() / "Patch"; }
    bool dumped() const
    {
        std::error_code error;
        return fs::is_directory(dumpedPatches(), error) && !fs::is_empty(dumpedPatches(), error);
    }
    // Connected and read, the stand-in for the window told from here on.
    void connectWithTheWindow()
    {
        start(held);
        // With the effect store in place a connection after a loss or an eject reads at once.
        fs::create_directories(utils->pathUnderRoot(CommonUtils::kStoreEffect));
        connect();
        ASSERT_TRUE(fs::exists(storedList()));
        ASSERT_TRUE(dumped());
        window.removeFolders = [&] { utils->removeDeviceDataFolderAfterPoolWork(); };
        utils->setDelegate(&window);
    }
    void comeBack(Loss loss)
    {
        if (loss == Loss::Unplugged) unit.device().plugIn();
        else utils->connectDevice();
    }
    // The next connection read, and nothing of it lost.
    void expectTheNextConnectionKept()
    {
        ASSERT_TRUE(loop.runUntil([&] { return window.reads == 1; }));
        settle();
        EXPECT_EQ(window.connects, 1);
        EXPECT_EQ(window.losses, 1) << "the next connection was told lost";
        EXPECT_EQ(files.readFile(storedList().string()), unit.files().file("FLST_SEQ.QT2"));
        EXPECT_TRUE(dumped()) << "the next connection's patches are gone";
        utils->setDelegate(&recorder);
    }
    HeldJudgement held;
    WindowStandIn window;
};

TEST_P(UnitFolderRemoval, TheNextConnectionKeepsItsFolders)
{
    const auto [loss, landing] = GetParam();
    connectWithTheWindow();
    if (landing != Landing::Before) {
        window.busy = [&, loss = loss, landing = landing] {
            comeBack(loss);
            const bool reached = loop.runUntil([&] {
                switch (landing) {
                case Landing::WhenToldConnected: return window.connects == 1;
                case Landing::WhenListStored: return window.connects == 1 && fs::exists(storedList());
                case Landing::WhenReadEnded:
                case Landing::Before: break;
                }
                return window.reads == 1 && dumped();
            });
            ASSERT_TRUE(reached) << "the next connection did not get there";
        };
    }
    if (loss == Loss::Unplugged) unit.device().unplug();
    else utils->ejectDeviceWithPatchList({}, {});
    ASSERT_TRUE(loop.runUntil([&] { return window.losses == 1; }));
    if (landing == Landing::Before) {
        settle();
        // The removal still happens for the connection that was lost.
        EXPECT_FALSE(fs::exists(deviceFolder()));
        comeBack(loss);
    }
    expectTheNextConnectionKept();
}

INSTANTIATE_TEST_SUITE_P(LossesAndLandings, UnitFolderRemoval,
                         ::testing::Combine(::testing::Values(Loss::Unplugged, Loss::Ejected),
                                            ::testing::Values(Landing::Before, Landing::WhenToldConnected,
                                                              Landing::WhenListStored, Landing::WhenReadEnded)),
                         rowName);

// The pool's judgement that meets the unit gone tells the window so when it lands; by then the unit may be
// back, its next connection read. That connection is not the one the judgement met gone.
TEST_F(UnitFolderRemoval, APoolJudgementThatMetTheLossLandsAfterTheNextConnectionBegan)
{
    // Some of the judgement's files are looked at (in parallel) once the unit is gone, one is still held.
    if (std::thread::hardware_concurrency() < 2) GTEST_SKIP() << "the judgement runs on one thread here";
    connectWithTheWindow();
    held.folder = root / "Judged";
    CommonUtils::Tree pool;
    for (int i = 0; i < 8; ++i) {
        pool.push_back(std::make_shared<DirectoryObject>());
        pool.back()->object = std::make_shared<PatchItem>();
        pool.back()->patchItem()->path = held.folder + "/" + std::to_string(i) + ".qptc";
    }
    held.first = pool[0]->patchItem()->path;
    utils->updateDirectoryObjectForPatchPool(pool);
    ASSERT_TRUE(loop.runUntil([&] { return held.anyArrived(); }));

    utils->ejectDeviceWithPatchList({}, {});
    ASSERT_TRUE(loop.runUntil([&] { return window.losses == 1; }));
    held.let(&HeldJudgement::open);
    utils->connectDevice();
    ASSERT_TRUE(loop.runUntil([&] { return window.reads == 1; }));
    held.let(&HeldJudgement::last);
    expectTheNextConnectionKept();
}
