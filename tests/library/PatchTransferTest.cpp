#include <algorithm>
#include <filesystem>

#include "device/formats/OKVPatch.h"
#include "support/library/PatchTransferFixture.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {
const auto kStore = sim::RequestKey::maker(0x45);
const auto kMute = sim::RequestKey::maker(0x56);
const auto kUnmute = sim::RequestKey::maker(0x57);
}  // namespace

class PatchTransferSteps : public PatchTransfer {
protected:
    // The read ended by a failed dump: the interface is told the unit is let go, then why, and the unit is
    // told to leave editor mode once its held answer is out of the way.
    void letGoThenToldWhy()
    {
        const Strings told = heard("patchesFailed 0");
        ASSERT_GE(told.size(), 2U);
        EXPECT_EQ(Strings(told.end() - 2, told.end()), (Strings{"letGo", "patchesFailed 0"}));
        unit.releaseReplies();
        EXPECT_TRUE(loop.runUntil([&] { return leftEditorMode(); }));
    }
    // A write of `items` to `rows`, whose replies to `held` the unit holds back once it is asked.
    void writeHeldAt(const sim::RequestKey& held, const std::vector<std::shared_ptr<PatchItem>>& items, const std::vector<std::int64_t>& rows)
    {
        unit.holdReplies(held);
        const auto asked = unit.device().requestCount(held);
        utils->writeToDeviceWithPatchGroup(items, rows);
        ASSERT_TRUE(loop.runUntil([&] { return unit.device().requestCount(held) > asked; }));
    }
    // The unit's own edit of the patch at `bank` and `slot`, told to the interface.
    void unitEdits(std::int32_t bank, std::int32_t slot, const std::string& name)
    {
        unit.patches().setPatch(0, bank, slot, SimulatedPatchMemory::makePatchRecord(name, "c", 10, 9));
        unit.sendPatchNotice(0, bank, slot);
        const Strings told = heard("updated");
        ASSERT_FALSE(told.empty());
        ASSERT_EQ(told.back().rfind("updated " + name + " ", 0), 0U) << told.back();
    }
    std::vector<std::shared_ptr<PatchItem>> six(const std::string& name)
    {
        std::vector<std::shared_ptr<PatchItem>> items;
        for (std::size_t i = 0; i < 6; ++i) items.push_back(edited(i, name + std::to_string(i)));
        return items;
    }
    // What the interface heard while the clock ran on until the unit was let go; the seconds it took.
    Strings untilLost(int& seconds)
    {
        Strings heard;
        for (seconds = 0; count(heard, "lost") == 0 && seconds < 60; ++seconds) {
            for (auto& e : settle()) heard.push_back(std::move(e));
            loop.advance(1s);
        }
        return heard;
    }
};

// The dump becomes the list, a placeholder for a slot that cannot be read. A working folder that cannot be
// made ends the read like any failed dump, and so does an empty one; the unit's own answer to the first
// read's dump, coming late, changes nothing.
TEST_F(PatchTransferSteps, TheDumpBecomesTheListAndAFailedOneLetsTheUnitGo)
{
    std::vector<PatchObject> dumped = utils->allPatchDataList();
    // Kept aside, as the new read starts by clearing the device folder.
    for (auto& patch : dumped) patch.path = utils->copyFileFromFilePath(patch.path, rootFolder + "/Temp/Local/" + fs::path(patch.path).filename().string(), false);
    dumped[1].path = rootFolder + "/gone.qptc";
    dumped[2].path.clear();
    readUntilTheDump();
    utils->getAllPatchDataDumpWithState(1, dumped);
    EXPECT_EQ(heard("patches").back(), "patches 6");
    EXPECT_TRUE(recorder.lastPatches[1]->isWarning);
    EXPECT_EQ(recorder.lastPatches[1]->patchName, "");
    EXPECT_EQ(recorder.lastPatches[3]->patchName, dumpedNames[3]);
    EXPECT_EQ(recorder.lastOffsets.size(), 6U);

    faulty.fail(Op::CreateDirectory, "Temp/Device/Patch");
    unit.releaseReplies();
    const Strings late = settle();
    EXPECT_TRUE(std::none_of(late.begin(), late.end(), [](const std::string& e) { return e != "idle"; }));
    readUntilTheDump();
    utils->getAllPatchDataDumpWithState(1, dumped);
    letGoThenToldWhy();
}

TEST_F(PatchTransferSteps, AnEmptyDumpFailsAndEjects)
{
    readUntilTheDump();
    utils->getAllPatchDataDumpWithState(1, std::vector<PatchObject>{});
    letGoThenToldWhy();
}

// A write reaches its slot, leaving the item alone (the thread sanitizer's tree watches). A write refused (a
// patch grown past a slot) puts the slot's file and name back, the edit kept in a working copy of its own.
// Positions out of range are dropped; a group writes only the pairs it has.
TEST_F(PatchTransferSteps, WritesReachTheirSlotsAndFailuresPutTheSlotBack)
{
    const auto one = edited(0, "One");
    utils->writeToDeviceWithPatchItem(one, 4);
    EXPECT_TRUE(loop.runUntil([&] { return slotPath(4) == one->path; }));

    const auto inPlace = slotItem(2);
    const Bytes before = *files.readFile(inPlace->path);
    inPlace->patchName = "Renamed";
    inPlace->patchComment = std::string(200, 'c');
    ASSERT_TRUE(utils->editFilePatch(*inPlace));
    const Bytes renamed = *files.readFile(inPlace->path);
    utils->writeToDeviceWithPatchItem(inPlace, 2);
    EXPECT_EQ(heard("writeFailed"), Strings{"writeFailed 0 2 " + dumpedNames[2]});
    EXPECT_EQ(files.readFile(slotPath(2)), before);
    Strings holdingTheEdit;
    for (const auto& entry : fs::directory_iterator(rootFolder + "/Temp/Device/Patch"))
        if (entry.path() != fs::path(slotPath(2)) && files.readFile(entry.path().string()) == renamed)
            holdingTheEdit.push_back(entry.path().filename().string());
    EXPECT_EQ(holdingTheEdit, Strings{fs::path(slotPath(2)).stem().string() + " (1).qptc"});

    utils->writeToDeviceWithPatchGroup({edited(1, "G1"), edited(3, "G3"), edited(5, "G5")}, {0, 99});
    utils->selectPatchItem(one, -1);
    EXPECT_EQ(heard("select 0 One"), (Strings{"select 0 One"}));
    EXPECT_EQ(utils->getPatchItemWithPath(slotPath(0))->patchName, "G1");
    utils->selectPatchItem(one, 4);
    EXPECT_EQ(heard("select 1 One"), (Strings{"select 1 One"}));
}

// A selection takes the item's path when it is asked for: the interface renames items on its own thread
// while the selection waits behind a write (the thread sanitizer's tree watches the item).
TEST_F(PatchTransferSteps, ASelectionTakesTheItemsPathWhenAskedFor)
{
    unit.delayReplies(kStore, 30ms);
    utils->writeToDeviceWithPatchItem(edited(0, "First"), 0);
    const auto chosen = item(utils->copyFileFromFilePath(slotPath(1), rootFolder + "/Temp/Local/chosen.qptc", false));
    const std::string asked = chosen->path;
    utils->selectPatchItem(chosen, 4);
    chosen->path = utils->copyFileFromFilePath(asked, rootFolder + "/Temp/Local/renamed.qptc", false);
    chosen->patchName = "Renamed";
    EXPECT_EQ(heard("select").back(), "select 1 Renamed");
    EXPECT_EQ(slotPath(4), asked);
}

// Write All takes the new files only on success, each counted as the unit answers up to the total; a
// group's write counts too, a single write nothing.
TEST_F(PatchTransferSteps, WriteAllAppliesTheNewFilesOnlyOnSuccessAndCountsHowFarItIs)
{
    const Strings sixths{"1/6", "2/6", "3/6", "4/6", "5/6", "6/6"};
    EXPECT_EQ(recorder.takeProgress(), sixths) << "the dump";
    const auto before = utils->allPatchDataList();
    auto list = six("All");
    const auto tooLarge = item(list[5]->path);
    tooLarge->patchName = "Big";
    ASSERT_TRUE(utils->editFilePatch(*tooLarge));
    utils->writeToDeviceWithPatchList(list);
    EXPECT_EQ(heard("writeAll"), Strings{"writeAll 0"});
    for (std::size_t i = 0; i < 6; ++i) EXPECT_EQ(utils->allPatchDataList()[i].path, before[i].path);
    recorder.takeProgress();

    list[5] = edited(5, "Small");
    utils->writeToDeviceWithPatchList(list);
    EXPECT_EQ(heard("writeAll 1").back(), "writeAll 1");
    for (std::size_t i = 0; i < 6; ++i) EXPECT_EQ(utils->allPatchDataList()[i].path, list[i]->path);
    EXPECT_EQ(recorder.takeProgress(), sixths);

    utils->writeToDeviceWithPatchGroup({edited(1, "G1"), edited(3, "G3")}, {0, 2});
    const auto one = edited(0, "One");
    utils->writeToDeviceWithPatchItem(one, 4);
    utils->selectPatchItem(one, 4);
    EXPECT_EQ(heard("select 1").back(), "select 1 One");
    EXPECT_EQ(recorder.takeProgress(), (Strings{"1/2", "2/2"}));
}

// A long transfer is told in twentieths and at its last patch, so it does not flood the interface; a
// count that comes when no transfer runs is dropped.
TEST_F(PatchTransferSteps, ProgressOfALongTransferIsThrottledAndEndsAtTheTotal)
{
    recorder.takeProgress();
    utils->patchTransferProgress(3, 6);
    settle();
    EXPECT_TRUE(recorder.takeProgress().empty());

    readUntilTheDump();
    recorder.takeProgress();
    for (std::int32_t done = 1; done <= 103; ++done) utils->patchTransferProgress(done, 103);
    utils->patchTransferProgress(104, 103);
    utils->patchTransferProgress(0, 0);
    utils->patchTransferProgress(2, 6);  // not a twentieth of its own
    // The held dump keeps the read running, so the told counts are waited for, not a quiet queue.
    Strings told;
    loop.runUntil([&] {
        for (auto& e : recorder.takeProgress()) told.push_back(std::move(e));
        return !told.empty() && told.back() == "2/6";
    });
    ASSERT_FALSE(told.empty());
    told.pop_back();
    ASSERT_EQ(told.size(), 20U);
    EXPECT_EQ(told.front(), "6/103");
    EXPECT_EQ(told[9], "52/103");
    EXPECT_EQ(told.back(), "103/103");
    // The held dump ends the read before the fixture goes, so its report never meets the teardown.
    unit.releaseReplies();
    settle();
}

// A unit that stops answering in the middle of a write is let go once it has been silent for a few
// command time-outs, long before a long write's own budget runs out, and the interface hears which slots
// the write had not reached, by their rows in this layout, each once in the order asked (a unit answering
// slowly is the end-to-end tier's).
TEST_F(PatchTransferSteps, AUnitThatStopsAnsweringIsLetGoByItsSilence)
{
    const struct {
        const char* name;
        std::function<void()> write;
        int silentAt;  // the store request the unit falls silent at
        Strings unsure;
    } cases[] = {
        {"group", [&] { utils->writeToDeviceWithPatchGroup(six("G"), {0, 1, 2, 3, 4, 5}); }, 3, {"3", "4", "5", "6"}},
        {"group in another order", [&] { utils->writeToDeviceWithPatchGroup({edited(4, "A"), edited(1, "B"), edited(4, "C")}, {4, 1, 4}); }, 2, {"2", "5"}},
        {"one", [&] { utils->writeToDeviceWithPatchItem(edited(2, "One"), 2); }, 1, {"3"}},
        {"all", [&] { utils->writeToDeviceWithPatchList(six("All")); }, 5, {"5", "6"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        if (&c != &cases[0]) {
            ASSERT_NO_FATAL_FAILURE(connect());
        }
        recorder.unsureSlots.clear();
        unit.faultAt(kStore, c.silentAt, sim::DeviceUnit::Fault::SilentForGood);
        c.write();
        ASSERT_TRUE(loop.runUntil([&] { return unit.device().requestCount(kStore) > 0; }));
        int seconds = 0;
        untilLost(seconds);
        EXPECT_LE(seconds, 13) << "a group write of six slots has 36 s";
        EXPECT_EQ(recorder.unsureSlots, c.unsure);
        unit.clearFaults();
    }
}

// The unit let go for its silence mid-write sends its answer to that store only as the next connection reads
// it: that connection still reads the unit whole, hears of no edit, and the list shows what the unit holds.
TEST_F(PatchTransferSteps, AUnitBackAfterItsSilenceIsReadWholeByTheNextConnection)
{
    for (const std::uint8_t landsBefore : {std::uint8_t{0x52}, std::uint8_t{0x56}, std::uint8_t{0x46}}) {
        SCOPED_TRACE(static_cast<int>(landsBefore));
        unit.lateReplyAt(kStore, 2, 1 << 20);
        utils->writeToDeviceWithPatchGroup({edited(0, "L0"), edited(1, "L1"), edited(2, "L2")}, {0, 1, 2});
        int seconds = 0;
        const Strings heard = untilLost(seconds);
        ASSERT_EQ(count(heard, "lost"), 1) << ::testing::PrintToString(heard);
        unit.handInLateReplyAfter(sim::RequestKey::maker(landsBefore), 1, false);
        ASSERT_NO_FATAL_FAILURE(connect());
        EXPECT_EQ(settle(), Strings{});
        ASSERT_EQ(recorder.lastPatches.size(), 6U);
        EXPECT_EQ(recorder.lastPatches[0]->patchName, "L0");
        for (std::size_t i = 0; i < 6; ++i)
            EXPECT_EQ(recorder.lastPatches[i]->patchName,
                      OKVPatch::initWithData(*unit.patches().patch(0, static_cast<std::int32_t>(i / 3), static_cast<std::int32_t>(i % 3)))->patchName());
    }
}

// A device error or a vanished device ends the running write and drops what waits behind it; the late
// real result of the dropped write changes nothing.
class PatchTransferLost : public PatchTransfer, public ::testing::WithParamInterface<std::int32_t> {};

TEST_P(PatchTransferLost, DeviceErrorsEndTheQueue)
{
    const std::int32_t state = GetParam();
    unit.delayReplies(kStore, 30ms);
    utils->writeToDeviceWithPatchItem(edited(0, "Err"), 0);
    utils->selectPatchItem(slotItem(1), 1);
    ASSERT_TRUE(loop.runUntil([&] { return unit.device().requestCount(kStore) > 0; }));
    utils->writeOnePatchDataDumpWithState(state);
    EXPECT_EQ(heard(state == -2 ? "disconnect" : "lost"), Strings{state == -2 ? "disconnect" : "lost"});
    EXPECT_EQ(count(settle(), "select 1 " + dumpedNames[1]), 0);
    EXPECT_TRUE(utils->allPatchDataList().empty());
}

INSTANTIATE_TEST_SUITE_P(States, PatchTransferLost, ::testing::Values(-3, -1, -2));

// An edit on the unit reaches the interface with its slot; the working copy keeps the slot's file name, so
// slots holding equal names never share one. After a reorder (rows 0 and 1 swapped, each slot's entry naming
// the other's file) it leaves the moved patch's file alone.
TEST_F(PatchTransferSteps, EditsOnTheDeviceReachTheInterfaceWithTheirSlotAndLeaveAMovedPatchAlone)
{
    unitEdits(1, 0, "OnUnit");
    EXPECT_EQ(fs::path(recorder.lastUpdated->path).filename(), fs::path(slotPath(3)).filename());
    EXPECT_EQ(utils->getPatchItemWithPath(slotPath(3))->patchName, "OnUnit");

    const auto zero = slotItem(0);
    const auto one = slotItem(1);
    const Bytes zeroBytes = *files.readFile(zero->path);
    utils->writeToDeviceWithPatchGroup({one, zero}, {0, 1});
    ASSERT_TRUE(loop.runUntil([&] { return slotPath(0) == one->path && slotPath(1) == zero->path; }));
    unitEdits(0, 0, "Moved");
    EXPECT_EQ(files.readFile(zero->path), zeroBytes) << "the unit's edit of slot 0 overwrote the patch moved to slot 1";
    EXPECT_EQ(utils->getPatchItemWithPath(slotPath(0))->patchName, "Moved");
    EXPECT_EQ(utils->getPatchItemWithPath(slotPath(1))->patchName, dumpedNames[0]);
}

// At a MIDI cable's pace a change the unit reports names the patch it held as its replies came: before our
// patch landed in its slot, the unit's own, which our write replaces (or, writing that very patch: an undone
// reorder, Restore All past a shorter backup, carries as it was, the change told for the list to keep); after,
// ours, and that change stands: the write's end never puts our file back in its place.
TEST_F(PatchTransferSteps, AChangeTheUnitReportsNamesThePatchItHeldAsItsRepliesCame)
{
    unit.setPacing(3125.0, 0us);
    const std::string held = slotPath(0);
    writeHeldAt(kMute, {slotItem(0), slotItem(1)}, {0, 1});
    unitEdits(0, 0, "Knob");
    UnitPatchChange origin = recorder.lastChangeOrigin();
    EXPECT_EQ(origin.heldPath, held);
    EXPECT_TRUE(origin.overwritten);
    EXPECT_EQ(origin.heldName, dumpedNames[0]);
    unit.releaseReplies();
    settle();

    const auto zero = slotItem(0);
    const auto one = slotItem(1);
    const std::string zeroPath = slotPath(0);
    // Swapped, and held before the unit takes the first patch.
    writeHeldAt(kMute, {one, zero}, {0, 1});
    unitEdits(0, 0, "Knob");
    EXPECT_EQ(recorder.lastChangeOrigin().heldPath, zeroPath);
    EXPECT_TRUE(recorder.lastChangeOrigin().overwritten);
    unit.releaseReplies();
    ASSERT_TRUE(loop.runUntil([&] { return slotPath(0) == one->path && slotPath(1) == zero->path; }));
    // The slots are recorded as the unit takes them: the write itself ends after.
    settle();
    EXPECT_NE(unit.patches().patch(0, 0, 0), SimulatedPatchMemory::makePatchRecord("Knob", "c", 10, 9)) << "our write replaced the change on the unit";

    // Held once the unit has taken our patch but before the write has ended.
    const auto ours = edited(2, "Ours");
    writeHeldAt(kUnmute, {ours}, {0});
    unitEdits(0, 0, "Dial");
    origin = recorder.lastChangeOrigin();
    EXPECT_EQ(origin.heldPath, ours->path);
    EXPECT_EQ(origin.heldName, "Ours");
    EXPECT_FALSE(origin.overwritten);
    const std::string dial = recorder.lastUpdated->path;
    unit.releaseReplies();
    settle();
    EXPECT_EQ(slotPath(0), dial);
    unitEdits(0, 0, "Again");
    EXPECT_EQ(recorder.lastChangeOrigin().heldPath, dial) << "the next change names the unit's, not our file";
    EXPECT_EQ(recorder.lastChangeOrigin().heldName, "Dial");
}

// Each edit on the unit replaces its slot's working copy whole instead of leaving one more file beside it;
// while a write of ours is on its way, the change gets a copy of its own, as the patch the write moves may
// name the slot's copy.
TEST_F(PatchTransferSteps, EditsOnTheUnitKeepOneWorkingCopyPerSlot)
{
    std::string copy;
    for (int edit = 0; edit < 5; ++edit) {
        const std::string name = "Edit " + std::to_string(edit);
        unitEdits(1, 0, name);
        if (edit > 0) {
            EXPECT_EQ(recorder.lastUpdated->path, copy);
        }
        copy = recorder.lastUpdated->path;
        EXPECT_EQ(utils->getPatchItemWithPath(copy)->patchName, name);
    }
    std::size_t copiesOfSlot = 0;
    for (const auto& entry : fs::directory_iterator(rootFolder + "/Temp/Device/Patch"))
        copiesOfSlot += entry.path().filename().string().rfind("0_1_0", 0) == 0 ? 1 : 0;
    EXPECT_EQ(copiesOfSlot, 2U) << "the dump's own file and one working copy";

    writeHeldAt(kMute, {slotItem(3), slotItem(4)}, {4, 3});
    unitEdits(1, 0, "Moved");
    EXPECT_NE(recorder.lastUpdated->path, copy);
    EXPECT_EQ(utils->getPatchItemWithPath(copy)->patchName, "Edit 4");
    unit.releaseReplies();
}

