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
    EXPECT_EQ((std::tuple(qfxinfo[0], qfxinfo[4], qfxinfo[12], qfxinfo.back())), (std::tuple(1, 3, 2, 4)));
    const auto advanced = rig.recorder.payload(3).advanced;
    ASSERT_TRUE(advanced);
    EXPECT_EQ((std::tuple(advanced->totalNumberOfPatch, advanced->patchDataSize)), (std::tuple(6, 256)));
    const auto info = rig.recorder.payload(4);
    EXPECT_EQ((std::tuple(info.a, info.b, info.c)), (std::tuple(1, 64, 2048)));
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

// Entering and leaving editor mode: a refusal is retried up to the retry count.
TEST(CQFXMidiConnect, EditorModeIsEnteredAndLeftWithRefusalsRetriedUpToTheRetryCount)
{
    struct Case {
        const char* name;
        std::int32_t retry;
        int refusals;
        bool eject;          // leave editor mode after a handshake, rather than enter it
        std::string report;  // empty: the whole handshake
        std::size_t sent;    // requests to enter (leave) editor mode
    };
    const Case cases[] = {
        {"entered after two refusals", 2, 2, false, "", 3},        {"three refusals", 2, 3, false, "enter -1", 3},
        {"no retry", 0, 1, false, "enter -1", 1},                   {"left", 2, 0, true, "eject 1 0", 1},
        {"leaving refused three times", 2, 3, true, "eject -4 0", 3},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QFXRig rig(c.retry);
        ASSERT_TRUE(!c.eject || rig.connectAndForget());
        rig.refuseEditorMode(c.refusals);
        if (c.report.empty()) {
            EXPECT_TRUE(rig.connect());
        } else {
            c.eject ? rig.qfx->eject() : rig.qfx->connection();
            EXPECT_EQ(rig.next(0), c.report);
            rig.settle();
        }
        EXPECT_EQ(rig.count(c.eject ? "53" : "52"), c.sent);
        if (c.report == "eject 1 0") {
            EXPECT_EQ(rig.functions(), (Events{"id", "53"}));
            EXPECT_EQ(rig.qfx->getCQFXDeviceID(), 0);
            EXPECT_EQ(rig.transport.getCurrentDevice(), CMidiDevice::kNoDevice);
        }
    }
}

TEST(CQFXMidiConnect, InformationReadRepeatsTheWholeQueryOnACodeAndReportsTheLastOne)
{
    QFXRig rig(1);
    rig.fs.changeFaults([](auto& f) { f.failCount[0x11] = 2, f.code = 7; });
    rig.qfx->connection();
    ASSERT_TRUE(rig.recorder.waitForPrefix("inforead "));
    EXPECT_EQ(rig.recorder.last(), "inforead 2 7");
    EXPECT_EQ(rig.count("60 11"), 2u);
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

// Runs a hook inside the editor-mode and disk-free reports, on the thread that makes them.
struct HookedRecorder : QFXRecorder {
    std::function<void(const std::string& report)> hook;
    void diskFreeCallbackWithState(std::int32_t state, std::int64_t total, std::int64_t free) override
    {
        if (hook) hook("diskfree");
        QFXRecorder::diskFreeCallbackWithState(state, total, free);
    }
    void enterPCAsyncModeCallbackWithState(std::int32_t state) override
    {
        if (hook) hook("enter");
        QFXRecorder::enterPCAsyncModeCallbackWithState(state);
    }
};

// Holds the reporting thread inside the report `held` once `start` has caused it, runs `call` on another
// thread meanwhile, and tells whether the call was still waiting when the report was let go.
bool waitsForTheReport(QFXRig& rig, HookedRecorder& hooked, const std::string& held, const std::function<void()>& start,
                       const std::function<void()>& call)
{
    std::promise<void> entered, release;
    const std::shared_future<void> released = release.get_future().share();
    hooked.hook = [&, released](const std::string& report) {
        if (report != held) return;
        entered.set_value();
        released.wait();
    };
    rig.qfx->setDelegate(&hooked);
    start();
    entered.get_future().wait();
    std::atomic<bool> done{false};
    std::thread other([&] { call(), done = true; });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    const bool waited = !done.load();
    release.set_value();
    other.join();
    hooked.hook = nullptr;  // the report under way has ended: the call waited for it, or it is over
    return waited;
}

TEST(CQFXMidiConnect, AClearWaitsForAStepUnderWaySoNothingItRegistersOutlivesTheClear)
{
    QFXRig rig;
    // The step that reports editor mode then asks for the effect support, which goes unanswered here.
    rig.unit.device().setFaults({{{sim::RequestKey::maker(0x55), 1000}}});
    HookedRecorder hooked;
    EXPECT_TRUE(waitsForTheReport(rig, hooked, "enter", [&] { rig.qfx->connection(); },
                                  [&] { rig.qfx->clearWaitingBlock(); }));
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
    // The old delegate is still being called: it may not be let go yet.
    EXPECT_TRUE(waitsForTheReport(rig, hooked, "diskfree", [&] { rig.qfx->checkMemory(); },
                                  [&] { rig.qfx->setDelegate(&rig.recorder); }));
    EXPECT_EQ(hooked.last(), "diskfree 1");

    // A delegate that hands itself over from inside its own report is not kept waiting for itself.
    hooked.clear();
    rig.forget();
    rig.qfx->setDelegate(&hooked);
    hooked.hook = [&](const std::string&) { rig.qfx->setDelegate(&rig.recorder); };
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
    rig.unplug();
    rig.loop.runUntil([&] { return !rig.recorder.events().empty(); });
    EXPECT_EQ(rig.recorder.events(), (Events{"removed"}));
    rig.plugIn();
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
