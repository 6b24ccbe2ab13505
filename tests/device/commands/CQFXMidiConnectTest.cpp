#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <future>
#include <thread>

#include "support/device/QFXRig.h"

namespace {

using Events = std::vector<std::string>;

TEST(CQFXMidiConnect, HandshakeReportsEachDescriptionAndTakesTheFamilyLowByteAsDeviceId)
{
    QFXRig rig;
    ASSERT_TRUE(rig.connect()) << ::testing::PrintToString(rig.recorder.events());
    EXPECT_EQ(rig.qfx->getCQFXDeviceID(), 0x70);
    EXPECT_EQ(rig.qfx->getCQFXDeviceIDInt(), QFXRig::kModelId);
    EXPECT_EQ(rig.qfx->getDeviceVersion(), (std::array<std::uint8_t, 4>{'1', '.', '2', '0'}));
    EXPECT_EQ(rig.functions(), (Events{"id", "52", "55", "48", "44", "60 11", "60 05"}));
    // Every maker request after the identity carries the accepted device ID.
    for (const auto& message : rig.received())
        if (message[1] == 0x7D) {
            EXPECT_EQ(message[3], 0x70);
        }

    const auto qfxinfo = rig.recorder.payload(1).bytes;
    ASSERT_EQ(qfxinfo.size(), 4u + 8u + 64u + 1u);
    EXPECT_EQ(qfxinfo[0], 1);
    EXPECT_EQ(qfxinfo[4], 3);
    EXPECT_EQ(qfxinfo[12], 2);
    EXPECT_EQ(qfxinfo.back(), 4);
    const auto advanced = rig.recorder.payload(3).advanced;
    ASSERT_TRUE(advanced);
    EXPECT_EQ(advanced->totalNumberOfPatch, 6);
    EXPECT_EQ(advanced->patchDataSize, 256);
    const auto info = rig.recorder.payload(4);
    EXPECT_EQ(info.a, 1);
    EXPECT_EQ(info.b, 64);
    EXPECT_EQ(info.c, 2048);
}

TEST(CQFXMidiConnect, RefusesLowFamiliesUnknownModelsAndAnEmptyList)
{
    struct Case {
        const char* name;
        std::uint8_t familyLow;
        std::vector<AcceptedDeviceModel> models;
    };
    // 0x6E passes the family test and then fails the model comparison.
    const std::vector<Case> cases{
        {"low family", 0x6D, {{QFXRig::kModelId}}}, {"other model", 0x6E, {{QFXRig::kModelId}}}, {"no models", 0x70, {}}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QFXRig rig(2, {1, 2, 3, 256}, c.models);
        rig.setFamilyLow(c.familyLow);
        rig.qfx->connection();
        EXPECT_EQ(rig.next(0), "enter -4");
        rig.settle();
        EXPECT_EQ(rig.functions(), (Events{"id"}));
        EXPECT_EQ(rig.qfx->getCQFXDeviceID(), 0);
        EXPECT_FALSE(rig.qfx->getDeviceVersion());
    }
    // The first of two equal models matches; a later one for another device changes nothing.
    QFXRig rig(2, {1, 2, 3, 256}, {{0x11111111}, {QFXRig::kModelId}, {QFXRig::kModelId}});
    EXPECT_TRUE(rig.connect());
}

TEST(CQFXMidiConnect, EditorModeIsRetriedUpToTheRetryCount)
{
    struct Case {
        std::int32_t retry;
        int refusals;
        std::size_t sent;
    };
    for (const Case c : {Case{2, 2, 3}, Case{2, 3, 3}, Case{0, 1, 1}}) {
        SCOPED_TRACE(c.refusals);
        QFXRig rig(c.retry);
        rig.refuseEditorMode(c.refusals);
        if (c.refusals <= c.retry) {
            EXPECT_TRUE(rig.connect());
        } else {
            rig.qfx->connection();
            EXPECT_EQ(rig.next(0), "enter -1");
            rig.settle();
        }
        EXPECT_EQ(rig.count("52"), c.sent);
    }
}

TEST(CQFXMidiConnect, InformationReadRepeatsTheWholeQueryOnACodeAndReportsTheLastOne)
{
    QFXRig rig(1);
    rig.fs.changeFaults([](auto& f) {
        f.failCount[0x11] = 2;
        f.code = 7;
    });
    rig.qfx->connection();
    ASSERT_TRUE(rig.recorder.waitForPrefix("inforead "));
    EXPECT_EQ(rig.recorder.last(), "inforead 2 7");
    EXPECT_EQ(rig.count("60 11"), 2u);
}

TEST(CQFXMidiConnect, EjectLeavesEditorModeAndRetriesARefusal)
{
    {
        QFXRig rig(2);
        ASSERT_TRUE(rig.connectAndForget());
        rig.qfx->eject();
        EXPECT_EQ(rig.next(0), "eject 1 0");
        EXPECT_EQ(rig.functions(), (Events{"id", "53"}));
        EXPECT_EQ(rig.qfx->getCQFXDeviceID(), 0);
        EXPECT_EQ(rig.transport.getCurrentDevice(), CMidiDevice::kNoDevice);
    }
    {
        QFXRig rig(2);
        ASSERT_TRUE(rig.connectAndForget());
        rig.refuseEditorMode(3);
        rig.qfx->eject();
        EXPECT_EQ(rig.next(0), "eject -4 0");
        rig.settle();
        EXPECT_EQ(rig.count("53"), 3u);
    }
}

TEST(CQFXMidiConnect, APendingKindRefusesWithoutSendingAndForceEjectStillSends)
{
    QFXRig rig(2);
    ASSERT_TRUE(rig.connectAndForget());
    rig.silenceIdentity();
    rig.qfx->eject();
    rig.settle();
    rig.qfx->eject();
    EXPECT_EQ(rig.next(0), "eject -2 -1");
    rig.qfx->forceEject();
    rig.settle();
    EXPECT_EQ(rig.functions(), (Events{"id", "53"}));
    EXPECT_EQ(rig.received().back(), (Bytes{0xF0, 0x7D, 0x00, 0x70, 0x53, 0xF7}));
    EXPECT_EQ(rig.recorder.events().size(), 1u);
    // The forced eject dropped the pending request with its handler, unreported: the kind is free again.
    EXPECT_FALSE(rig.transport.isPending(CMidiDevice::ReplyKind::Identity));
}

TEST(CQFXMidiConnect, ASecondConnectionWhileTheIdentityIsPendingLeavesTheFirstAttemptRunning)
{
    QFXRig rig;
    rig.silenceIdentity();
    rig.qfx->connection();
    rig.settle();
    rig.qfx->connection();  // refused: nothing sent, nothing reported
    rig.settle();
    EXPECT_EQ(rig.functions(), (Events{"id"}));
    EXPECT_TRUE(rig.recorder.events().empty());
    // The late answer to the first request still carries the first attempt through the handshake.
    rig.unit.device().reply(sim::SimulatedDevice::identityReply(rig.unit.device().state().identity));
    ASSERT_TRUE(rig.recorder.waitForPrefix("inforead "));
    EXPECT_EQ(rig.recorder.events().front(), "enter 1");
    EXPECT_EQ(rig.qfx->getCQFXDeviceID(), 0x70);
}

// Runs a hook inside the disk-free report, on the thread that makes it.
struct HookedRecorder : QFXRecorder {
    std::function<void()> inDiskFree;
    std::function<void()> inEnter;
    void diskFreeCallbackWithState(std::int32_t state, std::int64_t total, std::int64_t free) override
    {
        if (inDiskFree) inDiskFree();
        QFXRecorder::diskFreeCallbackWithState(state, total, free);
    }
    void enterPCAsyncModeCallbackWithState(std::int32_t state) override
    {
        if (inEnter) inEnter();
        QFXRecorder::enterPCAsyncModeCallbackWithState(state);
    }
};

TEST(CQFXMidiConnect, AClearWaitsForAStepUnderWaySoNothingItRegistersOutlivesTheClear)
{
    QFXRig rig;
    // The step that reports editor mode then asks for the effect support, which goes unanswered here.
    auto faults = rig.unit.device().faults();
    faults.silentFor[sim::RequestKey::maker(0x55)] = 1000;
    rig.unit.device().setFaults(faults);
    HookedRecorder hooked;
    std::promise<void> entered, release;
    auto enteredFuture = entered.get_future();
    auto releaseFuture = release.get_future();
    hooked.inEnter = [&] {
        entered.set_value();
        releaseFuture.wait();
    };
    rig.qfx->setDelegate(&hooked);
    rig.qfx->connection();
    enteredFuture.wait();
    std::atomic<bool> cleared{false};
    std::thread watchdog([&] {
        rig.qfx->clearWaitingBlock();
        cleared = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_FALSE(cleared.load());
    release.set_value();
    watchdog.join();
    // The step went on to ask for the effect support; the clear came after and dropped that request too.
    ASSERT_TRUE(rig.waitForFunction("55"));
    EXPECT_FALSE(rig.transport.isPending(CMidiDevice::ReplyKind::SupportQFXInformation));
    rig.qfx->setDelegate(&rig.recorder);
}

TEST(CQFXMidiConnect, TakingTheDelegateAwayWaitsForAReportUnderWayButNotFromInsideOne)
{
    QFXRig rig;
    ASSERT_TRUE(rig.connect());
    HookedRecorder hooked;
    std::promise<void> entered, release;
    auto enteredFuture = entered.get_future();
    auto releaseFuture = release.get_future();
    hooked.inDiskFree = [&] {
        entered.set_value();
        releaseFuture.wait();
    };
    rig.qfx->setDelegate(&hooked);
    rig.qfx->checkMemory();
    enteredFuture.wait();
    std::atomic<bool> swapped{false};
    std::thread sequencer([&] {
        rig.qfx->setDelegate(&rig.recorder);
        swapped = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    // The old delegate is still being called: it may not be let go yet.
    EXPECT_FALSE(swapped.load());
    release.set_value();
    sequencer.join();
    EXPECT_EQ(hooked.last(), "diskfree 1");

    // A delegate that hands itself over from inside its own report is not kept waiting for itself.
    hooked.clear();
    rig.forget();
    rig.qfx->setDelegate(&hooked);
    hooked.inDiskFree = [&] { rig.qfx->setDelegate(&rig.recorder); };
    rig.qfx->checkMemory();
    ASSERT_TRUE(hooked.waitForPrefix("diskfree 1"));
    rig.qfx->checkMemory();
    EXPECT_TRUE(rig.recorder.waitForPrefix("diskfree 1"));
}

TEST(CQFXMidiConnect, WorkingFoldersAndRelaysComeFromTheTransport)
{
    QFXRig rig;
    const auto effect = rig.qfx->createFolderInBundleWithType(1);
    const auto patch = rig.qfx->createFolderInBundleWithType(-1);
    ASSERT_TRUE(effect && patch);
    EXPECT_TRUE(effect->ends_with("Device/Effect"));
    EXPECT_TRUE(patch->ends_with("Device/Patch"));
    EXPECT_EQ(rig.qfx->createFolderInBundleWithType(2), patch);

    EXPECT_TRUE(rig.qfx->checkCurrentConnect());
    EXPECT_TRUE(rig.qfx->getDeviceName());
    rig.unit.device().unplug();
    rig.loop.runUntil([&] { return !rig.recorder.events().empty(); });
    EXPECT_EQ(rig.recorder.events(), (Events{"removed"}));
    rig.unit.device().plugIn();
    rig.loop.runUntil([&] { return rig.recorder.events().size() >= 2; });
    EXPECT_EQ(rig.recorder.last(), "plugin");
    rig.qfx->disconnectCurrentDevice();
    EXPECT_FALSE(rig.qfx->checkCurrentConnect());
    EXPECT_FALSE(rig.qfx->getDeviceName());
}

TEST(CQFXMidiConnect, LongerRepliesPassAndDescriptionsTooShortForTheirFieldsAreDropped)
{
    QFXRig rig;
    rig.unit.faultAt(sim::RequestKey::maker(0x52), 1, sim::DeviceUnit::Fault::Grown);
    EXPECT_TRUE(rig.connect()) << ::testing::PrintToString(rig.recorder.events());

    // The handshake waits for its watchdog.
    QFXRig cut;
    cut.unit.shortenNextReply(sim::RequestKey::maker(0x44), 20);
    cut.qfx->connection();
    ASSERT_TRUE(cut.waitForFunction("44"));
    EXPECT_EQ(cut.recorder.events(), (std::vector<std::string>{"enter 1", "qfxinfo 1", "patchinfo 1"}));
}

}  // namespace
