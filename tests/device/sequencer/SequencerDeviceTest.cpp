#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <future>
#include <string>
#include <vector>

#include "support/device/SequencerDeviceFixture.h"

using namespace support::sequencerdevice;

TEST_F(SequencerDevice, ConnectsReadsAndWritesEverything)
{
    connect();
    EXPECT_EQ(seq.getDeviceID(), kModelId);
    EXPECT_EQ(seq.getNumberOfPatchsInABank(), 3);

    seq.getQFXList();
    EXPECT_EQ(next()[0].rfind("read 1 ", 0), 0U);
    seq.getMemoryStatus();
    EXPECT_EQ(next()[0].rfind("memory 1 ", 0), 0U);

    seq.getAllPatchDataDump();
    EXPECT_EQ(next(), Strings{"dump 1 6"});
    const std::string slot = dumpedPath(0, 1, 2);
    ASSERT_FALSE(slot.empty());
    seq.writeOnePatchDataDumpWithAllPatch(PatchObject(0, 0, 0, slot));
    EXPECT_EQ(next(), Strings{"writeOne 1"});
    EXPECT_GE(unit.patches().patch(0, 0, 0)->size(), files.readFile(slot)->size());
    seq.writeGroupPatchDataDumpWithAllPatch({PatchObject(0, 1, 0, slot), PatchObject(0, 1, 1, slot)});
    EXPECT_EQ(next(), Strings{"writeGroup 1"});
    AllPatch all = AllPatch::initPatchsListWithNumberOfGroups(1, 2, 3);
    for (PatchObject& patch : all.patchsList) patch.path = dumpedPath(patch.groupNum, patch.bankNum, patch.patchNum);
    seq.writeAllPatchDataDumpWithAllPatch(AllPatch::initWithPatchList(all.patchsList));
    EXPECT_EQ(next(), Strings{"writeAll 1"});
    seq.selectPatch(PatchObject(0, 1, 2, slot));
    EXPECT_EQ(next(), Strings{"select 1"});

    const std::string effect = root + "/NEW.QF2";
    files.writeAtomically(effect, Bytes(700, 0x42));
    seq.writeQFXListAndQFXWithFileName("NEW.QF2", effect, 1);
    EXPECT_EQ(next(), Strings{"write 1"});
    seq.getFileLengthWithFileName("NEW.QF2");
    EXPECT_EQ(next(), Strings{"size 1 700"});
    seq.deleteQFXWithFileName("NEW.QF2");
    EXPECT_EQ(next(), Strings{"delete 1 0"});
    seq.fileListFlush();
    EXPECT_EQ(next(), Strings{"flush 1"});

    seq.ejectDevice();
    EXPECT_EQ(next(), Strings{"eject 1 0"});
    EXPECT_EQ(seq.getDeviceID(), 0);
}

TEST_F(SequencerDevice, AScanDuringADumpLetsItFinishWithTheSameCommandLayer)
{
    connect();
    unit.delayReplies(sim::RequestKey::maker(0x46), std::chrono::milliseconds(5));
    seq.getAllPatchDataDump();
    ASSERT_TRUE(heard("46", 1));
    ServerDeviceModel model;
    model.modelIdInt = kModelId;
    seq.scanDeviceWithAcceptDeviceArray({model}, 2, kT);
    EXPECT_EQ(next(), Strings{"dump 1 6"});
    EXPECT_EQ(count("46"), 6U);
    midi.waitUntilDelivered();
    EXPECT_TRUE(unit.patches().audioEnabled());
}

TEST_F(SequencerDevice, UnplugMidDumpAndPlugInAgain)
{
    connect();
    unit.delayReplies(sim::RequestKey::maker(0x46), std::chrono::milliseconds(20));
    seq.getAllPatchDataDump();
    ASSERT_TRUE(heard("46", 1));
    unit.device().unplug();
    EXPECT_EQ(next(), Strings{"disconnected"});
    loop.advance(std::chrono::seconds(30));
    midi.waitUntilDelivered();
    loop.runUntilIdle();
    EXPECT_EQ(recorder.take(), Strings{});

    // The device coming back is connected through the plug-in notice, without a scan.
    unit.delayReplies(sim::RequestKey::maker(0x46), std::chrono::milliseconds(0));
    unit.device().plugIn();
    EXPECT_EQ(next(), Strings{"connection 1 0"});
    seq.getAllPatchDataDump();
    EXPECT_EQ(next(), Strings{"dump 1 6"});
}

// The program clears the device folders as soon as it hears that a dump was cut short, whether by the
// watchdog (a silent, garbled or stale reply) or by the unit going: its patch files must all have
// landed by then, or they bring the folder back.
TEST_F(SequencerDevice, ADumpCutShortIsReportedOnlyOnceItsPatchFilesHaveLanded)
{
    struct Case {
        const char* how;
        std::function<void()> cut;
        std::string report;
    };
    const std::vector<Case> cases{
        {"watchdog", [&] { loop.advance(std::chrono::seconds(60)); }, "dump -1 none"},
        {"unplugged",
         [&] {
             unit.device().unplug();
             ASSERT_TRUE(loop.runUntil([&] { return seq.getDeviceID() == 0; }));
         },
         "disconnected"},
    };
    const fs::path patchFolder = fs::path(root) / "Device" / "Patch";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.how);
        unit.clearFaults();
        recorder.take();
        connect();
        // The patch-file queue is held, so the dump's files are still to land when it is cut.
        std::promise<void> release;
        transport.afterPatchFilesStored([held = release.get_future().share()] { held.wait(); });
        std::atomic<bool> reported = false;
        recorder.onEvent = [&](const std::string& event) {
            if (event != c.report) return;
            reported = true;
            fs::remove_all(patchFolder);
        };
        unit.faultAt(sim::RequestKey::maker(0x46), 4, sim::DeviceUnit::Fault::SilentForGood);
        forget();
        seq.getAllPatchDataDump();
        ASSERT_TRUE(heard("46", 4));
        c.cut();
        state->sync([] {});
        EXPECT_FALSE(reported) << "reported while three of its patches were still to be written";

        release.set_value();
        EXPECT_EQ(next(), Strings{c.report});
        std::promise<void> landed;
        transport.afterPatchFilesStored([&] { landed.set_value(); });
        landed.get_future().wait();
        EXPECT_FALSE(fs::exists(patchFolder)) << "the cut dump's files brought the removed folder back";
        recorder.onEvent = nullptr;
    }
}

// A forced eject (sleep, logout, a signal) while a group write waits on the unit: the unit is unmuted and
// told to leave editor mode at once, with the program's loop never turning again, as at a quit by signal;
// the unit's answer to the leave request is taken for nothing, so the write is never reported done.
TEST_F(SequencerDevice, AForcedEjectDuringAGroupWriteUnmutesTheUnitBeforeLettingItGo)
{
    connect();
    seq.getAllPatchDataDump();
    ASSERT_EQ(next(), Strings{"dump 1 6"});
    const std::string slot = dumpedPath(0, 1, 2);
    ASSERT_FALSE(slot.empty());
    unit.faultAt(sim::RequestKey::maker(0x45), 2, sim::DeviceUnit::Fault::SilentOnce);
    seq.writeGroupPatchDataDumpWithAllPatch(
        {PatchObject(0, 1, 0, slot), PatchObject(0, 1, 1, slot), PatchObject(0, 0, 0, slot)});
    ASSERT_TRUE(heard("45", 2));
    midi.waitUntilDelivered();
    ASSERT_FALSE(unit.patches().audioEnabled());
    forget();

    seq.forceEject();
    midi.waitUntilDelivered();
    EXPECT_TRUE(unit.patches().audioEnabled());
    EXPECT_EQ(functions(), (Strings{"57", "53"}));

    // The disconnect a second later is timed from the sequencer's queue.
    state->sync([] {});
    loop.advance(std::chrono::seconds(1));
    ASSERT_TRUE(loop.runUntil([&] { return seq.getDeviceID() == 0; }));
    state->sync([] {});
    loop.runUntilIdle();
    EXPECT_EQ(recorder.take(), Strings{});
    EXPECT_EQ(count("45"), 0U);
}

// The unit has answered the whole dump, and the dump waits for its patch files to land on a busy disk:
// the silence then is the program's, not the unit's, and the dump is waited for within its own budget
// rather than ended as a unit that stopped answering.
TEST_F(SequencerDevice, ADumpWaitingForItsFilesIsNotEndedByTheUnitsSilence)
{
    connect();
    std::promise<void> release;
    transport.afterPatchFilesStored([held = release.get_future().share()] { held.wait(); });
    forget();
    seq.getAllPatchDataDump();
    ASSERT_TRUE(heard("57", 1));
    midi.waitUntilDelivered();
    // Two command time-outs of silence end an operation; the dump of six slots is given six.
    for (int second = 0; second < 10; ++second) {
        loop.advance(std::chrono::seconds(1));
        state->sync([] {});
        loop.runUntilIdle();
    }
    EXPECT_TRUE(seq.isConnected()) << "the dump was ended while the unit owed it nothing";
    release.set_value();
    EXPECT_EQ(next(), Strings{"dump 1 6"});
}

// The unit holds back its answer to one message of an effect file's read, which ends on its watchdog, and
// hands it in just before its answer to any message of the next read of the file, after the unit was
// scanned and connected again: the next read reports the file whole, never taking the late answer for
// one of its own. Every message held, against every message it lands before.
TEST_F(SequencerDevice, ALateAnswerOfACutReadIsNeverTakenForTheNextReadsOwn)
{
    struct Message {
        std::uint8_t sub;
        int occurrence;
    };
    // Find, its acknowledgement, find close, open, its acknowledgement, three chunks (count, data, and the
    // code after the data's acknowledgement), close.
    constexpr Message kRead[] = {{0x25, 1}, {0x05, 1}, {0x27, 1}, {0x20, 1}, {0x05, 2}, {0x22, 1}, {0x05, 3}, {0x05, 4},
                                 {0x22, 2}, {0x05, 5}, {0x05, 6}, {0x22, 3}, {0x05, 7}, {0x05, 8}, {0x21, 1}};
    // Every chunk different, so a chunk taken for another shows.
    Bytes file(1300);
    for (std::size_t i = 0; i < file.size(); ++i) file[i] = static_cast<std::uint8_t>((i * 7 + i / 512 * 31) & 0xFF);
    unit.files().setFile("B.QF2", file);
    for (std::size_t held = 0; held < std::size(kRead); ++held) {
        for (std::size_t landing = 0; landing < std::size(kRead); ++landing) {
            SCOPED_TRACE("held message " + std::to_string(held + 1) + ", landing before the answer to message " +
                         std::to_string(landing + 1));
            unit.clearFaults();
            recorder.take();
            connect();
            unit.lateReplyAt(sim::RequestKey::fileSystem(kRead[held].sub), kRead[held].occurrence, 1 << 20);
            forget();
            seq.getEffectWithFileName("B.QF2");
            ASSERT_TRUE(heard(fileStep(kRead[held].sub), static_cast<std::size_t>(kRead[held].occurrence)));
            // The watchdog is armed from the sequencer's queue: the clock moves on until it has fired.
            Strings cut;
            ASSERT_TRUE(loop.runUntil([&] {
                loop.advance(std::chrono::seconds(60));
                for (auto& event : recorder.take()) cut.push_back(std::move(event));
                return !cut.empty();
            }));
            ASSERT_EQ(cut, Strings{"read -1 none"});
            midi.waitUntilDelivered();

            connect();
            unit.handInLateReplyAfter(sim::RequestKey::fileSystem(kRead[landing].sub), kRead[landing].occurrence, false);
            seq.getEffectWithFileName("B.QF2");
            EXPECT_EQ(next(), Strings{"read 1 1300"});
            EXPECT_EQ(recorder.lastReadBytes(), file);
            seq.ejectDevice();
            ASSERT_EQ(next(), Strings{"eject 1 0"});
        }
    }
}
