#include <gtest/gtest.h>

#include "support/device/SequencerFixture.h"

using namespace support::sequencer;

TEST_F(Sequencer, HandshakeInAnyOrderConnectsOnceAndDescribesTheDevice)
{
    scan();
    EXPECT_EQ(calls(), (Strings{"rescan", "connection"}));
    CQFXMidiDelegate& d = unit();
    d.infoReadCallbackWithState(1, 1, 0x128, 100, {1, 0}, -1);
    d.advencedPatchDataInformationCallbackWithState(1, layout());
    d.supportPatchInformationCallbackWithState(1, {0x01, 0, 0, 0}, Bytes(8, 0x04), {5});
    EXPECT_EQ(events(), Strings{});
    d.supportQFXInformationCallbackWithState(1, {0x03, 0, 0, 0}, Bytes(8, 0x01), Bytes(64, 5), {4});
    EXPECT_EQ(events(), Strings{"connection 1 0"});
    // A late repeat of a record after the handshake changes nothing.
    d.supportQFXInformationCallbackWithState(1, {0x03, 0, 0, 0}, Bytes(8, 0x01), Bytes(64, 5), {4});
    EXPECT_EQ(events(), Strings{});

    EXPECT_EQ((std::tuple(seq->getDeviceID(), seq->getDeviceUseUnitNum(), seq->getNumberOfFileInDevice(),
                          seq->getNumberOfPatchsInABank(), seq->getNameDevice(), seq->getOffsetNameOfPatchWithNumGroup(0, 0, 0))),
              (std::tuple(0x00700001, 5, 0x28, 3, std::optional<std::string>("device"), std::string())));

    // The memory layout reaches the dump: groups, banks per group, patches per bank.
    seq->getAllPatchDataDump();
    EXPECT_EQ(calls(), Strings{"dump 2 2 3"});
}

TEST_F(Sequencer, ServerModelValuesReplaceTheDevicesWhereGiven)
{
    ServerDeviceModel model;
    model.modelIdInt = fake->deviceId;
    model.ptcSupportRegionsModel = std::array<std::uint8_t, 8>{0x08};
    model.ptcMaxNumOfUnit = 0x107;
    connect({model});
    EXPECT_EQ(seq->getDeviceUseUnitNum(), 7);

    OKVPatch patch;
    patch.setGen(0x01);  // the device's generation stays
    patch.setSupportRegion(0x08);
    EXPECT_TRUE(seq->checkPatchCompatible(patch));
    patch.setSupportRegion(0x04);
    EXPECT_FALSE(seq->checkPatchCompatible(patch));

    // A model of another device leaves every value as the device gave it.
    rebuild();
    model.modelIdInt = 1;
    connect({model});
    EXPECT_TRUE(seq->checkPatchCompatible(patch));
    EXPECT_EQ(seq->getDeviceUseUnitNum(), 5);
}

TEST_F(Sequencer, FailedDescriptionsReportTheirOwnStates)
{
    scan();
    CQFXMidiDelegate& d = unit();
    d.enterPCAsyncModeCallbackWithState(1);
    d.supportQFXInformationCallbackWithState(-1, {}, {}, {}, {});
    d.supportPatchInformationCallbackWithState(0, {}, {}, {});
    d.advencedPatchDataInformationCallbackWithState(-1, std::nullopt);
    d.infoReadCallbackWithState(2, 0, 0, 0, {}, 7);
    EXPECT_EQ(events(), (Strings{"connection -1 -1", "connection -2 0", "connection -3 -1", "connection -3 2"}));

    // A device claiming no patches per bank has no layout: a failed query, never a division by zero.
    rebuild();
    scan();
    AdvencedPatchInformation empty = layout();
    empty.numberOfPatchInBank = 0;
    deliverRecords(empty);
    EXPECT_EQ(events(), Strings{"connection -3 0"});
    EXPECT_EQ(seq->getDeviceID(), 0);
}

TEST_F(Sequencer, ScanRetriesAnUnfinishedHandshakeUntilTheDeviceIsGone)
{
    // A scan asked for starts from the first device; one moving on from a device that did not answer
    // goes on from where it stands.
    scan();
    calls();
    EXPECT_EQ(fake->scanRestarts, 1);
    advance(kT - 0.01);
    EXPECT_EQ(calls(), Strings{});
    advance(0.02);
    EXPECT_EQ(calls(), (Strings{"clear", "disconnect", "rescan", "connection"}));
    EXPECT_EQ(events(), Strings{});
    EXPECT_EQ(fake->scanRestarts, 1);

    fake->scanFinds = false;
    advance(kT);
    EXPECT_EQ(events(), Strings{"connection 0 0"});

    // Without a device found before, an empty scan is "no device".
    seq->rescanMidiDevice();
    EXPECT_EQ(events(), Strings{"connection 2 0"});

    // A scan whose device refuses editor mode moves on silently to the next device.
    fake->scanFinds = true;
    seq->rescanMidiDevice();
    calls();
    fake->scanFinds = false;
    unit().enterPCAsyncModeCallbackWithState(-4);
    EXPECT_EQ(events(), Strings{"connection 2 0"});
    EXPECT_EQ(calls(), (Strings{"clear", "disconnect", "rescan"}));
    EXPECT_EQ(fake->scanRestarts, 3);
}

TEST_F(Sequencer, PluginAttemptsConnectWithoutRescanning)
{
    seq->scanDeviceWithAcceptDeviceArray({}, 2, kT);
    fake->scanFinds = false;
    EXPECT_EQ(events(), Strings{"connection 2 0"});
    calls();

    unit().getNewDevicePlugin();
    EXPECT_EQ(calls(), (Strings{"plugin", "clear", "connection"}));
    unit().enterPCAsyncModeCallbackWithState(-1);
    EXPECT_EQ(events(), Strings{"connection 3 -1"});

    // An abandoned plug-in attempt is not retried.
    unit().getNewDevicePlugin();
    calls();
    advance(kT + 0.1);
    EXPECT_EQ(calls(), (Strings{"clear", "disconnect"}));
    EXPECT_EQ(events(), Strings{});

    fake->pluginOpens = false;
    unit().getNewDevicePlugin();
    EXPECT_EQ(events(), Strings{"connection 2 0"});

    // A connected device ignores plug-in notices.
    fake->pluginOpens = true;
    unit().getNewDevicePlugin();
    calls();
    deliverRecords();
    EXPECT_EQ(events(), Strings{"connection 1 0"});
    calls();
    unit().getNewDevicePlugin();
    EXPECT_EQ(calls(), Strings{});
}

TEST_F(Sequencer, EveryWatchdogIsSizedByItsKindAndEndsTheConnection)
{
    struct Case {
        std::function<void()> request;
        double seconds;
        std::string report;
    };
    const std::vector<Case> cases{
        {[&] { seq->getMemoryStatus(); }, kT, "memory -1 0"},
        {[&] { seq->ejectDevice(); }, kT, "eject -1 0"},
        {[&] { seq->deleteQFXWithFileName("A.QF2"); }, kT, "delete -1 0"},
        {[&] { seq->writeQFXListAndQFXWithFileName("A.QF2", patchFile("fx"), 1); }, 4 * kT, "write -1"},
        {[&] { seq->getQFXList(); }, 4 * kT, "read -1 none"},
        {[&] { seq->getEffectWithFileName("B.QF2"); }, 4 * kT, "read -1 none"},
        {[&] { seq->getAllPatchDataDump(); }, 12 * kT, "dump -1 none"},
        {[&] { seq->writeAllPatchDataDumpWithAllPatch(wholeMemory()); }, 12 * kT / 5, "writeAll -1"},
        {[&] { seq->writeOnePatchDataDumpWithAllPatch(validGroup(1)[0]); }, 3 * kT, "writeOne -1"},
        {[&] { seq->writeGroupPatchDataDumpWithAllPatch(validGroup(10)); }, 2 * kT * 10, "writeGroup -1"},
        {[&] { seq->selectPatch(validGroup(1)[0]); }, kT, "select -1"},
        {[&] { seq->fileListFlush(); }, kT, "flush -1"},
        {[&] { seq->getFileLengthWithFileName("A.QF2"); }, kT, "size -1 0"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.report);
        startWithOneWaiting(c.request);
        ASSERT_EQ(calls().size(), 1U);
        advance(c.seconds - 0.05);
        EXPECT_EQ(events(), Strings{});
        advance(0.1);
        EXPECT_EQ(events(), Strings{c.report});
        // The connection is gone and the waiting operation with it.
        EXPECT_EQ(calls(), (Strings{"clear", "disconnect"}));
        seq->fileListFlush();
        EXPECT_EQ(events(), Strings{"flush -2"});
    }
}

// A group write of ten slots is given twenty command time-outs; the unit's silence ends it sooner, but only
// a silence of a whole look period (two command time-outs) while the unit owes an answer.
TEST_F(Sequencer, OnlyTheUnitsSilenceWhileItOwesAnAnswerEndsALongOperation)
{
    struct Case {
        const char* name;
        double step;     // the clock moves this far between looks at the unit
        bool heard;      // the unit sent a message in each step
        bool owes;       // a request waits for the unit meanwhile
        double endsAt;   // seconds after the start at which the write is ended; 0: it runs on
    };
    const Case cases[] = {
        {"silent", 0.5, false, true, 2 * kT},
        {"one reply just inside each period", 2 * kT - 0.05, true, true, 0},
        {"quiet while the program works", 0.5, false, false, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        rebuild();
        connect();
        fake->heard = 0;
        fake->owes = c.owes;
        seq->writeGroupPatchDataDumpWithAllPatch(validGroup(10));
        ASSERT_EQ(calls().size(), 1U);
        double now = 0;
        Strings got;
        while (now + c.step < 19 * kT && got.empty()) {
            advance(c.step);
            now += c.step;
            if (c.heard) ++*fake->heard;
            got = events();
        }
        if (c.endsAt > 0) {
            EXPECT_EQ(got, Strings{"writeGroup -1"});
            EXPECT_NEAR(now, c.endsAt, c.step);
            continue;
        }
        EXPECT_EQ(got, Strings{});
        unit().writeGroupPatchCallbackWithState(1);
        EXPECT_EQ(events(), Strings{"writeGroup 1"});
    }
}

TEST_F(Sequencer, AScanDuringAnOperationWaitsForItAndLeavesItsWatchdogArmed)
{
    // A rescan while the answer comes; a connect (new models, retry count) while it never does.
    for (const bool answered : {true, false}) {
        rebuild();
        connect();
        seq->getMemoryStatus();
        EXPECT_EQ(calls(), Strings{"checkMemory"});
        if (answered) seq->rescanMidiDevice();
        else seq->scanDeviceWithAcceptDeviceArray({}, 5, kT);
        EXPECT_EQ(events(), Strings{});
        EXPECT_EQ(calls(), Strings{});  // nothing reaches the device while the operation runs
        if (answered) unit().diskFreeCallbackWithState(1, 1000, 250);
        else advance(kT + 0.1);
        EXPECT_EQ(events(), Strings{answered ? "memory 1 75" : "memory -1 0"});
        EXPECT_EQ(calls(), (answered ? Strings{"rescan", "connection"}
                                     : Strings{"clear", "disconnect", "rescan", "connection"}));
        EXPECT_EQ(fake->timeOfRetry, answered ? -1 : 5);
    }
}

TEST_F(Sequencer, OperationsRunOneAtATimeAndRefusalsNeverStallTheQueue)
{
    seq->getMemoryStatus();
    seq->ejectDevice();
    EXPECT_EQ(events(), (Strings{"memory -2 0", "eject -2 0"}));

    connect();
    seq->getMemoryStatus();
    seq->getEffectWithFileName("FOURTEEN_CHARS");
    seq->getFileLengthWithFileName("FOURTEEN_CHARS");
    // Thirteen characters, but fourteen UTF-16 units and more than thirteen bytes: the device's rule.
    seq->getEffectWithFileName("ABCDEFGHIJKL\xF0\x9F\x98\x80");
    seq->getFileLengthWithFileName("CAF\xC3\x89.QF2");
    seq->fileListFlush();
    EXPECT_EQ(calls(), Strings{"checkMemory"});
    unit().diskFreeCallbackWithState(1, 1000, 250);
    // The refusals answer at once and the flush behind them starts.
    EXPECT_EQ(events(), (Strings{"memory 1 75", "read -3 none", "size -2 0", "read -3 none", "size -2 0"}));
    EXPECT_EQ(calls(), Strings{"flush"});

    // A finished operation's watchdog can no longer reach the next one.
    advance(kT - 0.5);
    unit().ffsFileListFlushCallbackWithState(1);
    seq->writeOnePatchDataDumpWithAllPatch(validGroup(1)[0]);
    EXPECT_EQ(events(), Strings{"flush 1"});
    advance(1.0);
    EXPECT_EQ(events(), Strings{});
    EXPECT_EQ(calls(), (Strings{"writeOne 0 0 0 200 " + std::to_string(files.readFile(root + "/g0")->size())}));
}

TEST_F(Sequencer, AnExpiryAlreadyQueuedWhenItsOperationEndsIsStale)
{
    // The state on a queue of its own that only the test pumps, so an expiry can be left waiting there.
    platform::RunLoop stateLoop{clock};
    platform::MainQueue stateQueue{stateLoop};
    const ReleaseFirst release{seq};
    rebuild(std::shared_ptr<platform::Queue>(&stateQueue, [](platform::Queue*) {}));
    const auto pump = [&] {
        while (loop.runUntilIdle() + stateLoop.runUntilIdle() != 0) {
        }
        return recorder.take();
    };
    seq->scanDeviceWithAcceptDeviceArray({}, 2, kT);
    pump();
    deliverRecords();
    ASSERT_EQ(pump(), Strings{"connection 1 0"});
    calls();

    // Two of one kind: the second sets the very flag a stale expiry of the first would test.
    seq->getMemoryStatus();
    seq->getMemoryStatus();
    pump();
    ASSERT_EQ(calls(), Strings{"checkMemory"});
    unit().diskFreeCallbackWithState(1, 1000, 250);
    advance(kT + 0.01);  // the watchdog falls due behind the answer, before the state queue has run
    EXPECT_EQ(recorder.take(), Strings{});
    EXPECT_EQ(pump(), Strings{"memory 1 75"});
    EXPECT_EQ(calls(), Strings{"checkMemory"});

    // The second operation keeps its own full watchdog and its connection.
    advance(kT - 0.05);
    EXPECT_EQ(pump(), Strings{});
    unit().diskFreeCallbackWithState(1, 1000, 500);
    EXPECT_EQ(pump(), Strings{"memory 1 50"});
    EXPECT_EQ(calls(), Strings{});
    EXPECT_EQ(seq->getDeviceID(), 0x00700001);

    // So for the unit's silence: a look falling due behind the first write's answer finds the second write
    // running, the unit unheard since the first began, and leaves it its own whole period.
    fake->heard = 0;
    seq->writeOnePatchDataDumpWithAllPatch(validGroup(1)[0]);
    seq->writeOnePatchDataDumpWithAllPatch(validGroup(1)[0]);
    pump();
    ASSERT_EQ(calls().size(), 1U);
    unit().writeOnePatchCallbackWithState(1);
    advance(2 * kT + 0.01);
    EXPECT_EQ(pump(), Strings{"writeOne 1"});
    ASSERT_EQ(calls().size(), 1U);
    advance(2 * kT - 0.05);
    EXPECT_EQ(pump(), Strings{});
    unit().writeOnePatchCallbackWithState(1);
    EXPECT_EQ(pump(), Strings{"writeOne 1"});
    EXPECT_EQ(seq->getDeviceID(), 0x00700001);
}

TEST_F(Sequencer, QueriesNeverWaitForTheStateQueue)
{
    // One pool thread under the state queue: a query from that thread that waited for the queue would
    // wait for itself.
    platform::Dispatch pooled{loop, 1};
    const ReleaseFirst release{seq};
    rebuild(pooled.makeSerial("sequencer", platform::Priority::Low), &pooled);
    seq->scanDeviceWithAcceptDeviceArray({}, 2, kT);
    ASSERT_TRUE(loop.runUntil([&] { return !calls().empty(); }));
    deliverRecords();
    Strings got;
    ASSERT_TRUE(loop.runUntil([&] {
        for (auto& event : recorder.take()) got.push_back(std::move(event));
        return !got.empty();
    }));
    ASSERT_EQ(got, Strings{"connection 1 0"});

    std::promise<std::string> answer;
    pooled.global(platform::Priority::Low).async([&] {
        answer.set_value(std::to_string(seq->getDeviceID()) + " " + std::to_string(seq->getNumberOfPatchsInABank()) +
                         " " + std::to_string(seq->getDeviceUseUnitNum()) + " " +
                         seq->getOffsetNameOfPatchWithNumGroup(0, 0, 0));
    });
    auto future = answer.get_future();
    ASSERT_EQ(future.wait_for(std::chrono::seconds(10)), std::future_status::ready);
    EXPECT_EQ(future.get(), std::to_string(0x00700001) + " 3 5 ");
}

TEST_F(Sequencer, ResultsMapToTheirCodesAndDeviceErrorsEjectAlone)
{
    struct Case {
        std::function<void()> request;
        std::function<void(CQFXMidiDelegate&)> answer;
        std::string report;
        bool ejects;
    };
    const Bytes data(10, 0x55);
    AllPatch dumped = AllPatch::initPatchsListWithNumberOfGroups(2, 2, 3);
    const std::vector<Case> cases{
        {[&] { seq->getMemoryStatus(); }, [](auto& d) { d.diskFreeCallbackWithState(1, 0, 0); }, "memory 0 -1", false},
        {[&] { seq->getMemoryStatus(); }, [](auto& d) { d.diskFreeCallbackWithState(-1, 0, 0); }, "memory 0 -1", false},
        {[&] { seq->getMemoryStatus(); }, [](auto& d) { d.diskFreeCallbackWithState(-4, 0, 0); }, "memory -3 -1", true},
        {[&] { seq->deleteQFXWithFileName("A"); }, [](auto& d) { d.deleteQFXCallbackWithState(1, -6); }, "delete 1 0", false},
        {[&] { seq->deleteQFXWithFileName("A"); }, [](auto& d) { d.deleteQFXCallbackWithState(-1, 0); }, "delete 0 -1", false},
        {[&] { seq->deleteQFXWithFileName("A"); }, [](auto& d) { d.deleteQFXCallbackWithState(-4, 3); }, "delete -3 0", true},
        {[&] { seq->getQFXList(); }, [&](auto& d) { d.readFileQFXListAndQFXCallbackWithState(1, data, 6); }, "read 1 6", false},
        {[&] { seq->getQFXList(); }, [&](auto& d) { d.readFileQFXListAndQFXCallbackWithState(1, data, 99); }, "read 1 10", false},
        {[&] { seq->getQFXList(); }, [](auto& d) { d.readFileQFXListAndQFXCallbackWithState(0, {}, 0); }, "read 0 none", false},
        {[&] { seq->getQFXList(); }, [](auto& d) { d.readFileQFXListAndQFXCallbackWithState(-2, {}, 0); }, "read -4 none", true},
        {[&] { seq->getQFXList(); }, [](auto& d) { d.readFileQFXListAndQFXCallbackWithState(-3, {}, 0); }, "read -6 none", false},
        {[&] { seq->writeQFXListAndQFXWithFileName("A", patchFile("fx"), 0); }, [](auto& d) { d.writeFileListCallbackWithState(0); }, "write 0", false},
        {[&] { seq->writeQFXListAndQFXWithFileName("A", patchFile("fx"), 0); }, [](auto& d) { d.writeFileListCallbackWithState(-1); }, "write -4", true},
        {[&] { seq->getAllPatchDataDump(); }, [&](auto& d) { d.dumpAllPatchCallbackWithState(1, dumped); }, "dump 1 12", false},
        {[&] { seq->getAllPatchDataDump(); }, [](auto& d) { d.dumpAllPatchCallbackWithState(0, std::nullopt); }, "dump 0 none", false},
        {[&] { seq->getAllPatchDataDump(); }, [](auto& d) { d.dumpAllPatchCallbackWithState(-1, std::nullopt); }, "dump -4 none", true},
        {[&] { seq->writeAllPatchDataDumpWithAllPatch(wholeMemory()); }, [](auto& d) { d.writeAllPatchCallbackWithState(1); }, "writeAll 1", false},
        {[&] { seq->writeAllPatchDataDumpWithAllPatch(wholeMemory()); }, [](auto& d) { d.writeAllPatchCallbackWithState(-3); }, "writeAll -3", true},
        {[&] { seq->writeOnePatchDataDumpWithAllPatch(validGroup(1)[0]); }, [](auto& d) { d.writeOnePatchCallbackWithState(-1); }, "writeOne 0", false},
        {[&] { seq->writeOnePatchDataDumpWithAllPatch(validGroup(1)[0]); }, [](auto& d) { d.writeOnePatchCallbackWithState(-3); }, "writeOne -3", true},
        {[&] { seq->writeGroupPatchDataDumpWithAllPatch(validGroup(2)); }, [](auto& d) { d.writeGroupPatchCallbackWithState(1); }, "writeGroup 1", false},
        {[&] { seq->writeGroupPatchDataDumpWithAllPatch(validGroup(2)); }, [](auto& d) { d.writeGroupPatchCallbackWithState(-3); }, "writeGroup -3", true},
        {[&] { seq->selectPatch(validGroup(1)[0]); }, [](auto& d) { d.editBufferDumpCallbackWithState(0); }, "select 0", false},
        {[&] { seq->selectPatch(validGroup(1)[0]); }, [](auto& d) { d.editBufferDumpCallbackWithState(-1); }, "select -3", true},
        {[&] { seq->fileListFlush(); }, [](auto& d) { d.ffsFileListFlushCallbackWithState(-1); }, "flush -3", true},
        {[&] { seq->getFileLengthWithFileName("A"); }, [](auto& d) { d.getFileSizeCallbackWithState(1, 99); }, "size 1 99", false},
        {[&] { seq->getFileLengthWithFileName("A"); }, [](auto& d) { d.getFileSizeCallbackWithState(-1, -1); }, "size 0 0", false},
        {[&] { seq->getFileLengthWithFileName("A"); }, [](auto& d) { d.getFileSizeCallbackWithState(-3, -1); }, "size -4 -1", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.report);
        startWithOneWaiting(c.request);
        calls();
        c.answer(unit());
        EXPECT_EQ(events(), Strings{c.report});
        if (!c.ejects) {
            EXPECT_EQ(calls(), Strings{"checkMemory"});
            continue;
        }
        // The eject runs alone; the waiting request was dropped with the failing device.
        EXPECT_EQ(calls(), Strings{"eject"});
        unit().ejectCallback(1, 0);
        EXPECT_EQ(events(), Strings{});
        EXPECT_EQ(calls(), (Strings{"clear", "disconnect"}));
    }
}

TEST_F(Sequencer, EjectResultsAndTheErrorEjectsOwnWatchdog)
{
    connect();
    seq->ejectDevice();
    seq->getMemoryStatus();
    calls();
    unit().ejectCallback(-2, -1);
    EXPECT_EQ(events(), Strings{"eject 0 -1"});
    EXPECT_EQ(seq->getDeviceID(), 0x00700001);
    // The device stays, so what waited behind the refused eject runs.
    EXPECT_EQ(calls(), Strings{"checkMemory"});
    unit().diskFreeCallbackWithState(1, 1000, 250);
    EXPECT_EQ(events(), Strings{"memory 1 75"});
    seq->ejectDevice();
    run();
    unit().ejectCallback(-4, 0);
    EXPECT_EQ(events(), Strings{"eject -3 0"});
    EXPECT_EQ(seq->getDeviceID(), 0);

    rebuild();
    connect();
    seq->ejectDevice();
    run();
    unit().ejectCallback(1, 0);
    EXPECT_EQ(events(), Strings{"eject 1 0"});
    EXPECT_EQ(calls(), (Strings{"eject", "clear", "disconnect"}));

    // A device error whose eject is never answered is disconnected silently after T.
    rebuild();
    connect();
    seq->fileListFlush();
    run();
    unit().ffsFileListFlushCallbackWithState(-1);
    EXPECT_EQ(events(), Strings{"flush -3"});
    calls();
    advance(kT + 0.1);
    EXPECT_EQ(events(), Strings{});
    EXPECT_EQ(calls(), (Strings{"clear", "disconnect"}));
}

TEST_F(Sequencer, ForcedEjectDisconnectsOneSecondLaterFromAnyThread)
{
    connect();
    std::atomic<bool> done{false};
    std::thread worker([&] {
        seq->forceEject();
        done = true;
    });
    ASSERT_TRUE(loop.runUntil([&] { return done.load(); }));
    worker.join();
    EXPECT_EQ(calls(), Strings{"forceEject"});
    advance(0.99);
    EXPECT_EQ(calls(), Strings{});
    advance(0.02);
    EXPECT_EQ(calls(), (Strings{"clear", "disconnect"}));
    EXPECT_EQ(seq->getDeviceID(), 0);
}

TEST_F(Sequencer, UnplugMidDumpDropsEverythingAndLateAnswersChangeNothing)
{
    connect();
    seq->getAllPatchDataDump();
    seq->getMemoryStatus();
    calls();
    unit().notifyRemoveConnectedDevice();
    EXPECT_EQ(events(), Strings{"disconnected"});
    EXPECT_EQ(calls(), (Strings{"clear", "disconnect"}));
    unit().dumpAllPatchCallbackWithState(1, AllPatch());
    advance(12 * kT + 1);
    EXPECT_EQ(events(), Strings{});
    EXPECT_EQ(calls(), Strings{});

    // Not connected, so neither removals nor the device's patch notices reach the delegate.
    unit().notifyRemoveConnectedDevice();
    unit().notifyPatchDataChangeFromDevice(PatchObject(0, 1, 2));
    EXPECT_EQ(events(), Strings{});
    rebuild();
    connect();
    unit().notifyPatchDataChangeFromDevice(PatchObject(0, 1, 2));
    EXPECT_EQ(events(), Strings{"changed 0 1 2"});
}

TEST_F(Sequencer, PatchWritesSendNothingThatIsNotPatchData)
{
    connect();
    const std::string garbage = root + "/garbage";
    files.writeAtomically(garbage, Bytes(40, 0xEE));
    PatchObject bad(0, 0, 1, garbage);
    PatchObject missing(0, 0, 2, root + "/missing");

    seq->writeOnePatchDataDumpWithAllPatch(bad);
    seq->writeOnePatchDataDumpWithAllPatch(missing);
    seq->selectPatch(bad);
    auto group = validGroup(3);
    group.push_back(bad);
    seq->writeGroupPatchDataDumpWithAllPatch(group);
    seq->writeGroupPatchDataDumpWithAllPatch({});
    AllPatch partial = wholeMemory();
    partial.patchsList.pop_back();
    seq->writeAllPatchDataDumpWithAllPatch(partial);
    AllPatch spoiled = wholeMemory();
    spoiled.patchsList[5].path = garbage;
    seq->writeAllPatchDataDumpWithAllPatch(spoiled);
    seq->writeQFXListAndQFXWithFileName("A.QF2", root + "/missing", 1);
    // Slots beyond the device's 2 groups of 2 banks of 3.
    const std::string valid = patchFile("valid");
    seq->writeOnePatchDataDumpWithAllPatch(PatchObject(0, 0, 3, valid));
    seq->writeOnePatchDataDumpWithAllPatch(PatchObject(0, 0, 300, valid));
    seq->writeGroupPatchDataDumpWithAllPatch({PatchObject(0, 0, 0, valid), PatchObject(2, 0, 0, valid)});
    seq->writeGroupPatchDataDumpWithAllPatch({PatchObject(0, -1, 0, valid)});
    EXPECT_EQ(events(), (Strings{"write -3", "writeOne -3", "writeOne -3", "select -3", "writeGroup -3",
                                 "writeGroup -3", "writeAll -3", "writeAll -3", "writeOne -3", "writeOne -3",
                                 "writeGroup -3", "writeGroup -3"}));
    EXPECT_EQ(calls(), Strings{});

    // The whole memory, in full, is sent with the device's layout.
    seq->writeAllPatchDataDumpWithAllPatch(wholeMemory());
    EXPECT_EQ(calls(), Strings{"writeAll 2 2 3"});
}

TEST_F(Sequencer, PatchWritesNeedThePatchSize)
{
    AdvencedPatchInformation info = layout();
    info.patchDataSize = 0;
    connect({}, info);
    seq->writeOnePatchDataDumpWithAllPatch(validGroup(1)[0]);
    seq->writeGroupPatchDataDumpWithAllPatch(validGroup(2));
    seq->writeAllPatchDataDumpWithAllPatch(wholeMemory());
    EXPECT_EQ(events(), (Strings{"writeOne 2", "writeGroup 2", "writeAll 2"}));
    EXPECT_EQ(calls(), Strings{});
}
