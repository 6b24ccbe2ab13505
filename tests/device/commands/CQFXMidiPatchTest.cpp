#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <future>

#include "support/device/QFXRig.h"

namespace {

using Events = std::vector<std::string>;

Bytes fileBytes(platform::LocalFileManager& files, const std::string& path)
{
    return files.readFile(path).value_or(Bytes{});
}

void writeOne(QFXRig& rig, std::int32_t group, std::int32_t bank, std::int32_t patch, const Bytes& record)
{
    rig.qfx->writeOnePatchWithGroupNumber(group, bank, patch, 256, record.data(), static_cast<std::int64_t>(record.size()));
}

void storesLanded(QFXRig& rig)
{
    std::promise<void> stored;
    rig.transport.afterPatchFilesStored([&] { stored.set_value(); });
    stored.get_future().wait();
}

std::string writePatchFile(QFXRig& rig, const std::string& name, const Bytes& bytes)
{
    const auto path = (std::filesystem::path(rig.root) / name).string();
    rig.files.writeAtomically(path, bytes);
    return path;
}

TEST(CQFXMidiPatch, DumpRequestsEverySlotInOrderAndStoresEachPatchFile)
{
    QFXRig rig;
    ASSERT_TRUE(rig.connectAndForget());
    rig.qfx->dumpAllPatchWithNumberOfGroups(1, 2, 3);
    ASSERT_EQ(rig.next(0), "dump 1");
    EXPECT_EQ(rig.functions(), (Events{"id", "56", "46", "46", "46", "46", "46", "46", "57"}));
    std::vector<std::pair<int, int>> asked;
    for (const auto& m : rig.received())
        if (m.size() == 12 && m[4] == 0x46) asked.emplace_back(m[7], m[9]);
    EXPECT_EQ(asked, (std::vector<std::pair<int, int>>{{0, 0}, {0, 1}, {0, 2}, {1, 0}, {1, 1}, {1, 2}}));

    const auto table = rig.recorder.payload(0).allPatch;
    ASSERT_TRUE(table);
    ASSERT_EQ(table->patchsList.size(), 6u);
    const auto& last = table->patchsList[5];
    EXPECT_TRUE(last.path.ends_with("Device/Patch/0_1_2.qptc"));
    EXPECT_EQ(fileBytes(rig.files, last.path), *rig.patches.patch(0, 1, 2));
    EXPECT_EQ(fileBytes(rig.files, table->patchsList[0].path), *rig.patches.patch(0, 0, 0));
    EXPECT_TRUE(rig.patches.audioEnabled());
}

TEST(CQFXMidiPatch, TransfersCountOncePerTwentiethAndAtTheLastPatch)
{
    // Every count crosses to the sequencer's queue and on to the interface's: a dump of a hundred patches
    // sends twenty, not a hundred; a write of six, each of its six.
    QFXRig rig(2, {5, 5, 4, 256});
    ASSERT_TRUE(rig.connectAndForget());
    rig.qfx->dumpAllPatchWithNumberOfGroups(5, 5, 4);
    ASSERT_EQ(rig.next(0), "dump 1");
    std::vector<std::pair<std::int32_t, std::int32_t>> twentieths;
    for (std::int32_t done = 5; done <= 100; done += 5) twentieths.emplace_back(done, 100);
    EXPECT_EQ(rig.recorder.progress(), twentieths);

    QFXRig small;
    ASSERT_TRUE(small.connectAndForget());
    auto all = AllPatch::initPatchsListWithNumberOfGroups(1, 2, 3);
    for (auto& slot : all.patchsList)
        slot.path = writePatchFile(small, std::to_string(slot.bankNum) + std::to_string(slot.patchNum) + ".qptc",
                                   *small.patches.patch(0, slot.bankNum, slot.patchNum));
    small.qfx->writeAllPatchWithAllPatch(all, 256);
    ASSERT_EQ(small.next(0), "writeall 1");
    EXPECT_EQ(small.recorder.progress(),
              (std::vector<std::pair<std::int32_t, std::int32_t>>{{1, 6}, {2, 6}, {3, 6}, {4, 6}, {5, 6}, {6, 6}}));
}

TEST(CQFXMidiPatch, TheDumpReportsOnceEveryPatchIsStoredLeavesUnchangedFilesAloneAndGoesOnPastAFailedWrite)
{
    QFXRig rig;
    ASSERT_TRUE(rig.connect());
    const auto folder = std::filesystem::path(rig.root) / "Device/Patch";
    std::filesystem::create_directories(folder);
    // 0_0_0 already holds what the device sends, 0_0_1 something older; a folder stands where 0_1_0 goes.
    const auto same = writePatchFile(rig, "Device/Patch/0_0_0.qptc", *rig.patches.patch(0, 0, 0));
    const auto longAgo = std::filesystem::file_time_type::clock::now() - std::chrono::hours(24);
    std::filesystem::last_write_time(same, longAgo);
    writePatchFile(rig, "Device/Patch/0_0_1.qptc", Bytes(5, 9));
    std::filesystem::create_directories(folder / "0_1_0.qptc");
    rig.forget();
    rig.qfx->dumpAllPatchWithNumberOfGroups(1, 2, 3);
    ASSERT_EQ(rig.next(0), "dump 1");

    const auto table = rig.recorder.payload(0).allPatch;
    ASSERT_TRUE(table);
    ASSERT_EQ(table->patchsList.size(), 6u);
    for (const auto& entry : table->patchsList) {
        const bool blocked = entry.bankNum == 1 && entry.patchNum == 0;
        EXPECT_EQ(entry.path.empty(), blocked) << entry.bankNum << entry.patchNum;
        if (!blocked) {
            EXPECT_EQ(fileBytes(rig.files, entry.path), *rig.patches.patch(0, entry.bankNum, entry.patchNum));
        }
    }
    EXPECT_EQ(table->patchsList[0].path, same);
    EXPECT_EQ(std::filesystem::last_write_time(same), longAgo);
    EXPECT_TRUE(std::filesystem::is_directory(folder / "0_1_0.qptc"));
}

// A step the unit answers with a code is retried up to the retry count, then the operation fails; the
// unit is unmuted whenever it was muted.
TEST(CQFXMidiPatch, AStepAnsweredWithACodeIsRetriedThenFailsAndTheUnitIsUnmuted)
{
    const Bytes record = SimulatedPatchMemory::makePatchRecord("X", "", 4, 1);
    const auto dump = [](QFXRig& rig) { rig.qfx->dumpAllPatchWithNumberOfGroups(1, 1, 2); };
    struct Case {
        const char* name;
        std::int32_t retry;
        std::uint8_t refused;  // the function answered with a code, this many times
        int times;
        std::function<void(QFXRig&)> ask;
        std::string report;
        Events heard;  // empty: not checked
    };
    const Case cases[] = {
        {"a slot retried", 2, 0x46, 2, dump, "dump 1", {"id", "56", "46", "46", "46", "46", "57"}},
        {"a slot given up", 1, 0x46, 2, dump, "dump -1", {"id", "56", "46", "46", "57"}},
        {"a patch given up", 2, 0x45, 3, [&](QFXRig& rig) { writeOne(rig, 0, 1, 1, record); }, "writeone -3",
         {"id", "56", "45", "45", "45", "57"}},
        // A refused disable-audio is repeated for the same slot; the unit ignores the enable that follows.
        {"audio never disabled", 2, 0x56, 3, [&](QFXRig& rig) { writeOne(rig, 2, 3, 4, record); }, "writeone -3",
         {"id", "56", "56", "56", "57"}},
        {"a select given up", 1, 0x28, 2, [&](QFXRig& rig) { rig.qfx->selectPatchWithData(record.data(), 8, 256); },
         "select -1", {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QFXRig rig(c.retry);
        ASSERT_TRUE(rig.connectAndForget());
        rig.patches.changeFaults([&](auto& f) { f.failCount[c.refused] = c.times; });
        c.ask(rig);
        EXPECT_EQ(rig.next(0), c.report);
        rig.settle();
        if (!c.heard.empty()) {
            EXPECT_EQ(rig.functions(), c.heard);
        }
        EXPECT_TRUE(rig.patches.audioEnabled());
    }
}

TEST(CQFXMidiPatch, AnAnswerForAnotherSlotOrWithABadCrcLeavesTheRequestPending)
{
    QFXRig rig;
    ASSERT_TRUE(rig.connectAndForget());
    rig.patches.changeFaults([](auto& f) { f.wrongSlotAnswers = 1; });
    rig.qfx->dumpAllPatchWithNumberOfGroups(1, 1, 2);
    // The stray patch is stored as a notice from the device; the dump waits for its watchdog.
    EXPECT_EQ(rig.next(0), "notice");
    EXPECT_TRUE(rig.transport.isPending(CMidiDevice::ReplyKind::PatchData));
    EXPECT_FALSE(rig.patches.audioEnabled());
    // The watchdog's clear ends the dump and unmutes the device without waiting for an answer.
    rig.qfx->clearWaitingBlock();
    rig.settle();
    EXPECT_EQ(rig.functions().back(), "57");
    EXPECT_TRUE(rig.patches.audioEnabled());
    EXPECT_EQ(rig.recorder.events(), (Events{"notice"}));

    rig.forget();
    rig.patches.changeFaults([](auto& f) { f.corruptPatchCrc = 1; });
    rig.qfx->dumpAllPatchWithNumberOfGroups(1, 1, 2);
    ASSERT_TRUE(rig.waitForFunction("46"));
    EXPECT_TRUE(rig.transport.isPending(CMidiDevice::ReplyKind::PatchData));
    EXPECT_TRUE(rig.recorder.events().empty());
}

TEST(CQFXMidiPatch, OversizedPatchesAndUnnamableSlotsAreRefusedBeforeAnythingIsSent)
{
    QFXRig rig;
    ASSERT_TRUE(rig.connectAndForget());
    const Bytes small(10, 1);
    const auto big = writePatchFile(rig, "big.qptc", Bytes(300, 7));
    const auto fine = writePatchFile(rig, "fine.qptc", Bytes(100, 7));
    auto table = AllPatch::initPatchsListWithNumberOfGroups(1, 1, 2);
    table.patchsList[0].path = fine;
    table.patchsList[1].path = big;
    const std::pair<std::function<void()>, std::string> refused[] = {
        {[&] { rig.qfx->writeOnePatchWithGroupNumber(0, 0, 0, 879, small.data(), 10); }, "writeone -1"},
        {[&] { rig.qfx->writeOnePatchWithGroupNumber(0, 0, 0, 9, small.data(), 10); }, "writeone -1"},
        {[&] { rig.qfx->selectPatchWithData(small.data(), 10, 890); }, "select 0"},
        {[&] { rig.qfx->writeGroupPatchWithPatchArray({PatchObject(0, 0, 0, fine), PatchObject(0, 0, 1, big)}, 256); },
         "writegroup -1"},
        {[&] { rig.qfx->writeAllPatchWithAllPatch(table, 256); }, "writeall -1"},
        // Slots the wire cannot name: patch 300 would go out as 44 and overwrite another patch.
        {[&] { rig.qfx->writeOnePatchWithGroupNumber(0, 0, 300, 256, small.data(), 10); }, "writeone -1"},
        {[&] { rig.qfx->writeGroupPatchWithPatchArray({PatchObject(0, 0, 0, fine), PatchObject(0, 256, 0, fine)}, 256); },
         "writegroup -1"},
        {[&] { rig.qfx->dumpAllPatchWithNumberOfGroups(257, 1, 1); }, "dump 0"},
    };
    for (std::size_t i = 0; i < std::size(refused); ++i) {
        refused[i].first();
        EXPECT_EQ(rig.next(i), refused[i].second) << i;
    }
    rig.settle();
    EXPECT_TRUE(rig.functions().empty());
}

TEST(CQFXMidiPatch, WritesSendEveryPatchPaddedBetweenDisableAndEnableAudio)
{
    QFXRig rig;
    ASSERT_TRUE(rig.connectAndForget());
    const Bytes lead = SimulatedPatchMemory::makePatchRecord("Lead", "warm", 40, 9);
    writeOne(rig, 0, 1, 2, lead);
    EXPECT_EQ(rig.next(0), "writeone 1");
    EXPECT_EQ(rig.functions(), (Events{"id", "56", "45", "57"}));
    EXPECT_EQ(rig.patches.patch(0, 1, 2), lead);
    EXPECT_EQ(rig.received()[2].size(), static_cast<std::size_t>(256 + 37 + 19));

    std::vector<Bytes> records;
    std::vector<std::string> paths;
    for (int i = 0; i < 6; ++i) {
        records.push_back(SimulatedPatchMemory::makePatchRecord("W" + std::to_string(i), "", 20 + i, 40 + i));
        paths.push_back(writePatchFile(rig, std::to_string(i) + ".qptc", records.back()));
    }
    rig.forget();
    rig.qfx->writeGroupPatchWithPatchArray({PatchObject(0, 1, 0, paths[0])}, 256);
    EXPECT_EQ(rig.next(0), "writegroup 1");
    EXPECT_EQ(rig.functions(), (Events{"id", "56", "45", "57"}));
    EXPECT_EQ(rig.patches.patch(0, 1, 0), records[0]);

    rig.forget();
    auto table = AllPatch::initPatchsListWithNumberOfGroups(1, 2, 3);
    for (int i = 0; i < 6; ++i) table.patchsList[i].path = paths[5 - i];
    rig.qfx->writeAllPatchWithAllPatch(table, 256);
    EXPECT_EQ(rig.next(0), "writeall 1");
    EXPECT_EQ(rig.functions(), (Events{"id", "56", "05", "45", "45", "45", "45", "45", "45", "04", "57"}));
    EXPECT_EQ(rig.patches.patch(0, 0, 0), records[5]);
    EXPECT_EQ(rig.patches.patch(0, 1, 2), records[0]);

    // A file that cannot be read travels as an all-zero buffer.
    rig.forget();
    rig.qfx->writeGroupPatchWithPatchArray({PatchObject(0, 0, 1, rig.root + "/missing.qptc")}, 256);
    EXPECT_EQ(rig.next(0), "writegroup 1");
    EXPECT_EQ(rig.patches.patch(0, 0, 1), Bytes(256, 0));
}

TEST(CQFXMidiPatch, ADisableAudioAnswerThatIsCutShortOrLateStillEndsInOneEnable)
{
    const auto key = sim::RequestKey::maker(0x56);
    for (const bool late : {false, true}) {
        QFXRig rig;
        ASSERT_TRUE(rig.connectAndForget());
        if (late) rig.unit.delayReplies(key, std::chrono::milliseconds(100));
        else rig.unit.shortenNextReply(key, 5);  // cut before its code: dropped as malformed
        const Bytes record(8, 1);
        writeOne(rig, 0, 0, 1, record);
        ASSERT_TRUE(rig.waitForFunction("56", 1, false));
        rig.qfx->clearWaitingBlock();  // the sequencer's watchdog gives up
        rig.settle();
        EXPECT_EQ(rig.count("57"), 1u);
        EXPECT_TRUE(rig.patches.audioEnabled());
    }
}

// A forced eject (sleep, logout, a signal) during a write or a dump: the chain ends there, the unit is
// unmuted before it is told to leave editor mode, and its answers to either are taken for nothing.
TEST(CQFXMidiPatch, AForcedEjectEndsTheChainAndUnmutesBeforeLeavingEditorMode)
{
    {
        SCOPED_TRACE("write one, its patch never acknowledged");
        QFXRig rig;
        ASSERT_TRUE(rig.connectAndForget());
        rig.unit.faultAt(sim::RequestKey::maker(0x45), 1, sim::DeviceUnit::Fault::SilentOnce);
        const Bytes record(8, 1);
        writeOne(rig, 0, 0, 1, record);
        ASSERT_TRUE(rig.waitForFunction("45"));
        rig.qfx->forceEject();
        rig.settle();
        EXPECT_EQ(rig.functions(), (Events{"id", "56", "45", "57", "53"}));
        EXPECT_TRUE(rig.patches.audioEnabled());
        EXPECT_TRUE(rig.recorder.events().empty()) << rig.recorder.events().front();
    }
    {
        SCOPED_TRACE("a dump of a hundred patches, its third unanswered");
        QFXRig rig(2, {5, 5, 4, 256});
        ASSERT_TRUE(rig.connectAndForget());
        rig.unit.faultAt(sim::RequestKey::maker(0x46), 3, sim::DeviceUnit::Fault::SilentOnce);
        rig.qfx->dumpAllPatchWithNumberOfGroups(5, 5, 4);
        ASSERT_TRUE(rig.waitForFunction("46", 3));
        rig.qfx->forceEject();
        rig.settle();
        storesLanded(rig);
        EXPECT_EQ(rig.count("46"), 3u);
        const auto functions = rig.functions();
        ASSERT_GE(functions.size(), 2u);
        EXPECT_EQ((Events{functions.end() - 2, functions.end()}), (Events{"57", "53"}));
        EXPECT_TRUE(rig.patches.audioEnabled());
        EXPECT_TRUE(rig.recorder.events().empty()) << rig.recorder.events().front();
        const auto folder = std::filesystem::path(rig.root) / "Device/Patch";
        ASSERT_TRUE(std::filesystem::exists(folder));
        EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder), {}), 2);
    }
}

TEST(CQFXMidiPatch, SelectSendsTheEditBufferAlone)
{
    QFXRig rig(1);
    ASSERT_TRUE(rig.connectAndForget());
    const Bytes record = SimulatedPatchMemory::makePatchRecord("Sel", "x", 10, 3);
    rig.qfx->selectPatchWithData(record.data(), static_cast<std::int64_t>(record.size()), 256);
    EXPECT_EQ(rig.next(0), "select 1");
    EXPECT_EQ(rig.functions(), (Events{"id", "28"}));
    EXPECT_EQ(rig.patches.selected(), record);
}

TEST(CQFXMidiPatch, APendingIdentityEndsEveryPatchOperationAtOnce)
{
    QFXRig rig;
    ASSERT_TRUE(rig.connect());
    rig.silenceIdentity();
    rig.forget();
    rig.qfx->dumpAllPatchWithNumberOfGroups(1, 1, 1);
    rig.settle();
    const Bytes record(8, 1);
    writeOne(rig, 0, 0, 0, record);
    rig.qfx->selectPatchWithData(record.data(), 8, 256);
    rig.qfx->dumpAllPatchWithNumberOfGroups(1, 1, 1);
    EXPECT_TRUE(rig.recorder.waitFor(3));
    EXPECT_EQ(rig.recorder.events(), (Events{"writeone -1", "select 0", "dump 0"}));
}

}  // namespace
