#include <gtest/gtest.h>

#include <stdlib.h>

#include <filesystem>

#include "device/transport/CMidiDevice.h"
#include "device/sequencer/CQFXMidiCommandLayer.h"
#include "device/sequencer/ParserDataController.h"
#include "device/sequencer/SequencerDoubles.h"
#include "platform/dispatch/RunLoop.h"
#include "platform/files/LocalFileManager.h"
#include "platform/midi/VirtualMidiSystem.h"
#include "support/device/DeviceUnit.h"

namespace fs = std::filesystem;
using Strings = std::vector<std::string>;

// The sequencer over the real command layer and transport, talking to the simulated unit on the
// virtual backend. Its state lives on its own serial queue; the watchdogs only move with the fake clock.
class SequencerDevice : public ::testing::Test {
protected:
    static constexpr std::int32_t kModelId = 0x00700001;
    static constexpr float kT = 2.0F;

    SequencerDevice()
        : dispatch(loop),
          midi(dispatch),
          root(makeRoot()),
          transport(midi, dispatch, files, root),
          unit(midi, {1, 2, 3, 256}),
          seq(dispatch, timers, files, CQFXMidiCommandLayer::factory(transport))
    {
        loop.runUntilIdle();
        seq.setParserDataDelegate(&recorder);
    }
    ~SequencerDevice() override
    {
        midi.waitUntilDelivered();
        std::error_code ignored;
        fs::remove_all(root, ignored);
    }

    // Waits (pumping the main queue) for the next `count` events and hands them over.
    Strings next(std::size_t count = 1)
    {
        Strings got;
        loop.runUntil([&] {
            for (auto& event : recorder.take()) got.push_back(std::move(event));
            return got.size() >= count;
        });
        return got;
    }
    void connect()
    {
        ServerDeviceModel model;
        model.modelIdInt = kModelId;
        seq.scanDeviceWithAcceptDeviceArray({model}, 2, kT);
        ASSERT_EQ(next(), Strings{"connection 1 0"});
    }
    std::string dumpedPath(int group, int bank, int patch)
    {
        // The dump names its files after the slot, in the device patch folder under the root.
        for (const auto& entry : fs::recursive_directory_iterator(root)) {
            const std::string name = std::to_string(group) + "_" + std::to_string(bank) + "_" + std::to_string(patch) + ".qptc";
            if (entry.path().filename() == name) return entry.path().string();
        }
        return {};
    }

    // How many requests of a function (and file-system step) the device has received.
    std::size_t asked(std::uint8_t function, int sub = -1)
    {
        std::size_t count = 0;
        for (const Bytes& request : unit.device().requests())
            if (request.size() > 5 && request[1] == 0x7D && request[4] == function && (sub < 0 || request[5] == sub))
                ++count;
        return count;
    }

    static std::string makeRoot()
    {
        std::string pattern = (fs::temp_directory_path() / "rig-seqdev-XXXXXX").string();
        return ::mkdtemp(pattern.data());
    }

    platform::FakeClock clock;
    platform::RunLoop loop{clock};
    platform::Dispatch dispatch;
    platform::TimerService timers{loop};
    platform::VirtualMidiSystem midi;
    platform::LocalFileManager files;
    std::string root;
    CMidiDevice transport;
    sim::DeviceUnit unit;
    RecordingDelegate recorder;
    ParserDataController seq;
};

TEST_F(SequencerDevice, ConnectsReadsAndWritesEverything)
{
    connect();
    EXPECT_EQ(seq.getDeviceID(), kModelId);
    EXPECT_EQ(seq.getNumberOfPatchsInABank(), 3);

    seq.getQFXList();
    const Strings read = next();
    ASSERT_EQ(read.size(), 1U);
    EXPECT_EQ(read[0].rfind("read 1 ", 0), 0U) << read[0];

    seq.getMemoryStatus();
    EXPECT_EQ(next()[0].rfind("memory 1 ", 0), 0U);

    seq.getAllPatchDataDump();
    EXPECT_EQ(next(), Strings{"dump 1 6"});
    const std::string slot = dumpedPath(0, 1, 2);
    ASSERT_FALSE(slot.empty());

    seq.writeOnePatchDataDumpWithAllPatch(PatchObject(0, 0, 0, slot));
    EXPECT_EQ(next(), Strings{"writeOne 1"});
    EXPECT_EQ(unit.patches().patch(0, 0, 0)->size() >= files.readFile(slot)->size(), true);

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

TEST_F(SequencerDevice, ADeviceErrorIsReportedAndTheEjectAloneEndsTheConnection)
{
    connect();
    unit.failFunction(sim::RequestKey::fileSystem(0x09), 10);
    // The refusals wait until the memory request is queued behind the flush: left free, they could end
    // the connection first and the memory request would then rightly be answered "not connected".
    unit.holdReplies(sim::RequestKey::fileSystem(0x09));
    seq.fileListFlush();
    seq.getMemoryStatus();  // dropped with the failing device
    unit.releaseReplies();
    EXPECT_EQ(next(), Strings{"flush -3"});
    ASSERT_TRUE(loop.runUntil([&] { return seq.getDeviceID() == 0; }));
    midi.waitUntilDelivered();
    loop.runUntilIdle();
    EXPECT_EQ(recorder.take(), Strings{});
    // The device was told to leave editor mode, and never asked for its memory.
    EXPECT_EQ(asked(0x53), 1U);
    EXPECT_EQ(asked(0x60, 0x29), 0U);
}

TEST_F(SequencerDevice, AReplyThatNeverComesEndsInMinusOneAndADisconnect)
{
    connect();
    auto faults = unit.device().faults();
    faults.silentFor[sim::RequestKey::fileSystem(0x29)] = 1;
    unit.device().setFaults(faults);
    seq.getMemoryStatus();
    ASSERT_TRUE(loop.runUntil([&] { return asked(0x60, 0x29); }));
    // The flow that asked arms its watchdog right after asking; the clock must not move before that.
    ASSERT_TRUE(loop.runUntil([&] { return timers.activeCount() == 1; }));
    midi.waitUntilDelivered();
    loop.runUntilIdle();
    EXPECT_EQ(recorder.take(), Strings{});
    loop.advance(std::chrono::milliseconds(2100));
    EXPECT_EQ(next(), Strings{"memory -1 0"});
    seq.getMemoryStatus();
    EXPECT_EQ(next(), Strings{"memory -2 0"});
}

TEST_F(SequencerDevice, AScanDuringADumpLetsItFinishWithTheSameCommandLayer)
{
    connect();
    unit.delayReplies(sim::RequestKey::maker(0x46), std::chrono::milliseconds(5));
    seq.getAllPatchDataDump();
    ASSERT_TRUE(loop.runUntil([&] { return asked(0x46) > 0; }));
    ServerDeviceModel model;
    model.modelIdInt = kModelId;
    seq.scanDeviceWithAcceptDeviceArray({model}, 2, kT);
    const Strings got = next();
    ASSERT_FALSE(got.empty());
    EXPECT_EQ(got[0], "dump 1 6");
    EXPECT_EQ(asked(0x46), 6U);
    midi.waitUntilDelivered();
    EXPECT_TRUE(unit.patches().audioEnabled());
}

TEST_F(SequencerDevice, UnplugMidDumpAndPlugInAgain)
{
    connect();
    unit.delayReplies(sim::RequestKey::maker(0x46), std::chrono::milliseconds(20));
    seq.getAllPatchDataDump();
    ASSERT_TRUE(loop.runUntil([&] { return asked(0x46); }));
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
