#include <algorithm>
#include <filesystem>

#include "device/formats/OKVPatch.h"
#include "support/library/PatchTransferFixture.h"

namespace fs = std::filesystem;

TEST_F(PatchTransfer, TheDumpBecomesTheListWithPlaceholdersForUnreadableSlots)
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

    // A working folder that cannot be made ends the read like any failed dump: reported, then ejected.
    faulty.fail(Op::CreateDirectory, "Temp/Device/Patch");
    // The unit's own answer to the first read's dump comes now, and changes nothing.
    unit.releaseReplies();
    const Strings late = settle();
    EXPECT_TRUE(std::none_of(late.begin(), late.end(), [](const std::string& e) { return e != "idle"; }));
    readUntilTheDump();
    utils->getAllPatchDataDumpWithState(1, dumped);
    const Strings told = heard("patchesFailed 0");
    ASSERT_GE(told.size(), 2U);
    // The interface is told that the unit is let go, then why.
    EXPECT_EQ(Strings(told.end() - 2, told.end()), (Strings{"letGo", "patchesFailed 0"}));
    // The unit is told to leave editor mode once its held answer is out of the way.
    unit.releaseReplies();
    EXPECT_TRUE(loop.runUntil([&] { return leftEditorMode(); }));
}

TEST_F(PatchTransfer, AnEmptyDumpFailsAndEjects)
{
    readUntilTheDump();
    utils->getAllPatchDataDumpWithState(1, std::vector<PatchObject>{});
    const Strings told = heard("patchesFailed 0");
    ASSERT_GE(told.size(), 2U);
    EXPECT_EQ(Strings(told.end() - 2, told.end()), (Strings{"letGo", "patchesFailed 0"}));
    // The unit is told to leave editor mode once its held answer is out of the way.
    unit.releaseReplies();
    EXPECT_TRUE(loop.runUntil([&] { return leftEditorMode(); }));
}

TEST_F(PatchTransfer, WritesReachTheirSlotsAndFailuresPutTheSlotBack)
{
    const auto one = edited(0, "One");
    utils->writeToDeviceWithPatchItem(one, 4);
    // The item is read here while the write runs on the coordinator's queue, as the interface draws
    // it: the write must leave the item alone (the thread sanitizer's tree watches).
    EXPECT_TRUE(loop.runUntil([&] { return slotPath(4) == one->path; }));

    // The slot's file is renamed in place and given a comment that grows it beyond what a slot holds,
    // then the write is refused: the slot's file holds what the device still has, the interface gets the
    // old name back, and the edit stays in a copy of its own.
    const auto inPlace = slotItem(2);
    const Bytes before = *files.readFile(inPlace->path);
    inPlace->patchName = "Renamed";
    inPlace->patchComment = std::string(200, 'c');
    ASSERT_TRUE(utils->editFilePatch(*inPlace));
    const Bytes renamed = *files.readFile(inPlace->path);
    utils->writeToDeviceWithPatchItem(inPlace, 2);
    EXPECT_EQ(heard("writeFailed"), Strings{"writeFailed 0 2 " + dumpedNames[2]});
    EXPECT_EQ(files.readFile(slotPath(2)), before);
    // The slot's own file is a working copy in the same folder; the former file the rename kept is not there.
    std::vector<std::string> holdingTheEdit;
    for (const auto& entry : fs::directory_iterator(rootFolder + "/Temp/Device/Patch"))
        if (entry.path() != fs::path(slotPath(2)) && files.readFile(entry.path().string()) == renamed)
            holdingTheEdit.push_back(entry.path().filename().string());
    EXPECT_EQ(holdingTheEdit, std::vector<std::string>{fs::path(slotPath(2)).stem().string() + " (1).qptc"});

    // Positions out of range are dropped; a group writes only the pairs it has.
    utils->writeToDeviceWithPatchGroup({edited(1, "G1"), edited(3, "G3"), edited(5, "G5")}, {0, 99});
    utils->selectPatchItem(one, -1);
    EXPECT_EQ(heard("select 0 One"), (Strings{"select 0 One"}));
    EXPECT_EQ(utils->getPatchItemWithPath(slotPath(0))->patchName, "G1");
    utils->selectPatchItem(one, 4);
    EXPECT_EQ(heard("select 1 One"), (Strings{"select 1 One"}));
}

// A selection takes the item's path when it is asked for: the interface renames items on its own thread
// while the selection waits behind a write (the thread sanitizer's tree watches the item).
TEST_F(PatchTransfer, ASelectionTakesTheItemsPathWhenAskedFor)
{
    unit.delayReplies(sim::RequestKey::maker(0x45), std::chrono::milliseconds(30));
    utils->writeToDeviceWithPatchItem(edited(0, "First"), 0);
    const auto chosen = item(utils->copyFileFromFilePath(slotPath(1), rootFolder + "/Temp/Local/chosen.qptc", false));
    const std::string asked = chosen->path;
    utils->selectPatchItem(chosen, 4);
    // Renamed meanwhile: the item now names another file.
    chosen->path = utils->copyFileFromFilePath(asked, rootFolder + "/Temp/Local/renamed.qptc", false);
    chosen->patchName = "Renamed";
    EXPECT_EQ(heard("select").back(), "select 1 Renamed");
    EXPECT_EQ(slotPath(4), asked);
}

TEST_F(PatchTransfer, WriteAllAppliesTheNewFilesOnlyOnSuccess)
{
    const auto before = utils->allPatchDataList();
    std::vector<std::shared_ptr<PatchItem>> list;
    for (std::size_t i = 0; i < 6; ++i) list.push_back(edited(i, "All" + std::to_string(i)));
    const auto tooLarge = item(list[5]->path);
    tooLarge->patchName = "Big";
    ASSERT_TRUE(utils->editFilePatch(*tooLarge));
    utils->writeToDeviceWithPatchList(list);
    EXPECT_EQ(heard("writeAll"), Strings{"writeAll 0"});
    for (std::size_t i = 0; i < 6; ++i) EXPECT_EQ(utils->allPatchDataList()[i].path, before[i].path);

    list[5] = edited(5, "Small");
    utils->writeToDeviceWithPatchList(list);
    EXPECT_EQ(heard("writeAll 1").back(), "writeAll 1");
    for (std::size_t i = 0; i < 6; ++i) EXPECT_EQ(utils->allPatchDataList()[i].path, list[i]->path);
}

// The interface hears how far a dump or a write of several patches is, counted as the unit answers and
// ending at the total; a single write counts nothing.
TEST_F(PatchTransfer, DumpsAndWritesOfSeveralReportHowFarTheyAre)
{
    EXPECT_EQ(recorder.takeProgress(), (Strings{"1/6", "2/6", "3/6", "4/6", "5/6", "6/6"}));

    std::vector<std::shared_ptr<PatchItem>> list;
    for (std::size_t i = 0; i < 6; ++i) list.push_back(edited(i, "All" + std::to_string(i)));
    utils->writeToDeviceWithPatchList(list);
    EXPECT_EQ(heard("writeAll 1").back(), "writeAll 1");
    EXPECT_EQ(recorder.takeProgress(), (Strings{"1/6", "2/6", "3/6", "4/6", "5/6", "6/6"}));

    utils->writeToDeviceWithPatchGroup({edited(1, "G1"), edited(3, "G3")}, {0, 2});
    const auto one = edited(0, "One");
    utils->writeToDeviceWithPatchItem(one, 4);
    utils->selectPatchItem(one, 4);
    EXPECT_EQ(heard("select 1").back(), "select 1 One");
    EXPECT_EQ(recorder.takeProgress(), (Strings{"1/2", "2/2"}));
}

// A long transfer is told in twentieths and at its last patch, so it does not flood the interface; a
// count that comes when no transfer runs is dropped.
TEST_F(PatchTransfer, ProgressOfALongTransferIsThrottledAndEndsAtTheTotal)
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
// the write had not reached (a unit answering slowly is the end-to-end tier's).
TEST_F(PatchTransfer, AUnitThatStopsAnsweringIsLetGoByItsSilence)
{
    const auto store = sim::RequestKey::maker(0x45);
    const auto six = [&](const char* name) {
        std::vector<std::shared_ptr<PatchItem>> items;
        for (std::size_t i = 0; i < 6; ++i) items.push_back(edited(i, name + std::to_string(i)));
        return items;
    };
    struct Case {
        const char* name;
        std::function<void()> write;
        int silentAt;  // the store request the unit falls silent at
        std::vector<std::string> unsure;
    };
    const Case cases[] = {
        {"group", [&] { utils->writeToDeviceWithPatchGroup(six("G"), {0, 1, 2, 3, 4, 5}); }, 3, {"3", "4", "5", "6"}},
        // The rows asked in another order than the slots': each is named once, in the order asked.
        {"group in another order", [&] { utils->writeToDeviceWithPatchGroup({edited(4, "A"), edited(1, "B"), edited(4, "C")}, {4, 1, 4}); },
         2, {"2", "5"}},
        {"one", [&] { utils->writeToDeviceWithPatchItem(edited(2, "One"), 2); }, 1, {"3"}},
        {"all", [&] { utils->writeToDeviceWithPatchList(six("All")); }, 5, {"5", "6"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        if (&c != &cases[0]) {
            ASSERT_NO_FATAL_FAILURE(connect());
        }
        recorder.unsureSlots.clear();
        unit.faultAt(store, c.silentAt, sim::DeviceUnit::Fault::SilentForGood);
        c.write();
        ASSERT_TRUE(loop.runUntil([&] { return unit.device().requestCount(store) > 0; }));
        int seconds = 0;
        Strings heard;
        while (std::count(heard.begin(), heard.end(), "lost") == 0 && seconds < 60) {
            for (auto& e : settle()) heard.push_back(std::move(e));
            loop.advance(std::chrono::seconds(1));
            ++seconds;
        }
        EXPECT_LE(seconds, 13) << "a group write of six slots has 36 s";
        // This layout names no slot, so they are told by their rows.
        EXPECT_EQ(recorder.unsureSlots, c.unsure);
        unit.clearFaults();
    }
}

// The unit let go for its silence in the middle of a write comes back and sends its answer to the store it
// was silent at only as the next connection reads it, just before its answer to one of the read's requests
// (a dump request it lands on reads as refused, and is asked again): the connection still reads the unit
// whole, hears of no edit on the unit, and the list shows what the unit holds.
TEST_F(PatchTransfer, AUnitBackAfterItsSilenceIsReadWholeByTheNextConnection)
{
    const auto store = sim::RequestKey::maker(0x45);
    for (const std::uint8_t landsBefore : {std::uint8_t{0x52}, std::uint8_t{0x56}, std::uint8_t{0x46}}) {
        SCOPED_TRACE(static_cast<int>(landsBefore));
        unit.lateReplyAt(store, 2, 1 << 20);
        std::vector<std::shared_ptr<PatchItem>> items;
        for (std::size_t i = 0; i < 3; ++i) items.push_back(edited(i, "L" + std::to_string(i)));
        utils->writeToDeviceWithPatchGroup(items, {0, 1, 2});
        Strings heard;
        for (int seconds = 0; std::count(heard.begin(), heard.end(), "lost") == 0 && seconds < 60; ++seconds) {
            for (auto& e : settle()) heard.push_back(std::move(e));
            loop.advance(std::chrono::seconds(1));
        }
        ASSERT_EQ(std::count(heard.begin(), heard.end(), "lost"), 1) << ::testing::PrintToString(heard);
        unit.handInLateReplyAfter(sim::RequestKey::maker(landsBefore), 1, false);
        ASSERT_NO_FATAL_FAILURE(connect());
        EXPECT_EQ(settle(), Strings{});
        Strings shown;
        for (const auto& patch : recorder.lastPatches) shown.push_back(patch->patchName);
        ASSERT_EQ(shown.size(), 6U);
        EXPECT_EQ(shown[0], "L0");
        for (std::size_t i = 0; i < 6; ++i)
            EXPECT_EQ(shown[i], OKVPatch::initWithData(*unit.patches().patch(0, static_cast<std::int32_t>(i / 3),
                                                                           static_cast<std::int32_t>(i % 3)))->patchName());
    }
}

// A device error or a vanished device ends the running write and drops what waits behind it; the late
// real result of the dropped write changes nothing.
class PatchTransferLost : public PatchTransfer, public ::testing::WithParamInterface<std::int32_t> {};

TEST_P(PatchTransferLost, DeviceErrorsEndTheQueue)
{
    const std::int32_t state = GetParam();
    unit.delayReplies(sim::RequestKey::maker(0x45), std::chrono::milliseconds(30));
    utils->writeToDeviceWithPatchItem(edited(0, "Err"), 0);
    utils->selectPatchItem(slotItem(1), 1);
    ASSERT_TRUE(loop.runUntil([&] { return unit.device().requestCount(sim::RequestKey::maker(0x45)) > 0; }));
    utils->writeOnePatchDataDumpWithState(state);
    EXPECT_EQ(heard(state == -2 ? "disconnect" : "lost"), Strings{state == -2 ? "disconnect" : "lost"});
    const Strings after = settle();
    EXPECT_EQ(std::count(after.begin(), after.end(), "select 1 " + dumpedNames[1]), 0);
    EXPECT_TRUE(utils->allPatchDataList().empty());
}

INSTANTIATE_TEST_SUITE_P(States, PatchTransferLost, ::testing::Values(-3, -1, -2));

TEST_F(PatchTransfer, EditsOnTheDeviceReachTheInterfaceWithTheirSlot)
{
    unit.patches().setPatch(0, 1, 0, SimulatedPatchMemory::makePatchRecord("OnUnit", "c", 10, 9));
    unit.sendPatchNotice(0, 1, 0);
    const Strings got = heard("updated");
    ASSERT_FALSE(got.empty());
    EXPECT_EQ(got.back().rfind("updated OnUnit ", 0), 0U) << got.back();
    // The working copy keeps the slot's file name, so slots holding equal names never share one.
    EXPECT_EQ(fs::path(recorder.lastUpdated->path).filename(), fs::path(slotPath(3)).filename());
    EXPECT_EQ(utils->getPatchItemWithPath(slotPath(3))->patchName, "OnUnit");
}

TEST_F(PatchTransfer, AnEditOnTheUnitAfterAReorderLeavesTheMovedPatchsFileAlone)
{
    // Rows 0 and 1 swapped, as the list's reorder writes them: each slot's entry names the other's file.
    const auto zero = slotItem(0);
    const auto one = slotItem(1);
    const Bytes zeroBytes = *files.readFile(zero->path);
    utils->writeToDeviceWithPatchGroup({one, zero}, {0, 1});
    ASSERT_TRUE(loop.runUntil([&] { return slotPath(0) == one->path && slotPath(1) == zero->path; }));

    unit.patches().setPatch(0, 0, 0, SimulatedPatchMemory::makePatchRecord("OnUnit", "c", 10, 9));
    unit.sendPatchNotice(0, 0, 0);
    ASSERT_EQ(heard("updated").back().rfind("updated OnUnit ", 0), 0U);
    EXPECT_EQ(files.readFile(zero->path), zeroBytes) << "the unit's edit of slot 0 overwrote the patch moved to slot 1";
    EXPECT_EQ(utils->getPatchItemWithPath(slotPath(0))->patchName, "OnUnit");
    EXPECT_EQ(utils->getPatchItemWithPath(slotPath(1))->patchName, dumpedNames[0]);
}

// At a MIDI cable's pace: a change the unit reports before our patch has landed in its slot was made to
// the patch the unit held there, which our write then replaces; one it reports after was made to ours.
// The unit's replies tell which, in the order they came.
TEST_F(PatchTransfer, AChangeTheUnitReportsNamesThePatchItHeldAsItsRepliesCame)
{
    using namespace std::chrono_literals;
    unit.setPacing(3125.0, 0us);
    const auto zero = slotItem(0);
    const auto one = slotItem(1);
    const std::string zeroPath = slotPath(0);
    const auto mute = sim::RequestKey::maker(0x56);
    const auto unmute = sim::RequestKey::maker(0x57);

    // Swapped, and held before the unit takes the first patch.
    unit.holdReplies(mute);
    const auto muted = unit.device().requestCount(mute);
    utils->writeToDeviceWithPatchGroup({one, zero}, {0, 1});
    ASSERT_TRUE(loop.runUntil([&] { return unit.device().requestCount(mute) > muted; }));
    unit.patches().setPatch(0, 0, 0, SimulatedPatchMemory::makePatchRecord("Knob", "c", 10, 9));
    unit.sendPatchNotice(0, 0, 0);
    ASSERT_EQ(heard("updated").back().rfind("updated Knob ", 0), 0U);
    EXPECT_EQ(recorder.lastChangeOrigin().heldPath, zeroPath);
    EXPECT_TRUE(recorder.lastChangeOrigin().overwritten);
    unit.releaseReplies();
    ASSERT_TRUE(loop.runUntil([&] { return slotPath(0) == one->path && slotPath(1) == zero->path; }));
    // The slots are recorded as the unit takes them: the write itself ends after.
    settle();
    EXPECT_NE(unit.patches().patch(0, 0, 0), SimulatedPatchMemory::makePatchRecord("Knob", "c", 10, 9))
        << "our write replaced the change on the unit";

    // Swapped back, and held once the unit has taken both patches but before the write has ended.
    const auto first = slotItem(1);
    const auto second = slotItem(0);
    unit.holdReplies(unmute);
    const auto unmuted = unit.device().requestCount(unmute);
    utils->writeToDeviceWithPatchGroup({first, second}, {0, 1});
    ASSERT_TRUE(loop.runUntil([&] { return unit.device().requestCount(unmute) > unmuted; }));
    unit.patches().setPatch(0, 0, 0, SimulatedPatchMemory::makePatchRecord("Dial", "c", 10, 9));
    unit.sendPatchNotice(0, 0, 0);
    ASSERT_EQ(heard("updated").back().rfind("updated Dial ", 0), 0U);
    EXPECT_EQ(recorder.lastChangeOrigin().heldPath, first->path);
    EXPECT_FALSE(recorder.lastChangeOrigin().overwritten);
    unit.releaseReplies();
}

// Each edit on the unit replaces its slot's working copy whole instead of leaving one more file beside it;
// while a write of ours is on its way, the change gets a copy of its own, as the patch the write moves may
// name the slot's copy.
TEST_F(PatchTransfer, EditsOnTheUnitKeepOneWorkingCopyPerSlot)
{
    const auto copiesOfSlot = [&] {
        std::size_t count = 0;
        for (const auto& entry : fs::directory_iterator(rootFolder + "/Temp/Device/Patch")) {
            if (entry.path().filename().string().rfind("0_1_0", 0) == 0) ++count;
        }
        return count;
    };
    std::string copy;
    for (int edit = 0; edit < 5; ++edit) {
        const std::string name = "Edit " + std::to_string(edit);
        unit.patches().setPatch(0, 1, 0, SimulatedPatchMemory::makePatchRecord(name, "c", 10, 9));
        unit.sendPatchNotice(0, 1, 0);
        ASSERT_EQ(heard("updated").back().rfind("updated " + name + " ", 0), 0U);
        if (edit > 0) {
            EXPECT_EQ(recorder.lastUpdated->path, copy);
        }
        copy = recorder.lastUpdated->path;
        EXPECT_EQ(utils->getPatchItemWithPath(copy)->patchName, name);
    }
    EXPECT_EQ(copiesOfSlot(), 2U) << "the dump's own file and one working copy";

    const auto mute = sim::RequestKey::maker(0x56);
    unit.holdReplies(mute);
    const auto muted = unit.device().requestCount(mute);
    utils->writeToDeviceWithPatchGroup({slotItem(3), slotItem(4)}, {4, 3});
    ASSERT_TRUE(loop.runUntil([&] { return unit.device().requestCount(mute) > muted; }));
    unit.patches().setPatch(0, 1, 0, SimulatedPatchMemory::makePatchRecord("Moved", "c", 10, 9));
    unit.sendPatchNotice(0, 1, 0);
    ASSERT_EQ(heard("updated").back().rfind("updated Moved ", 0), 0U);
    EXPECT_NE(recorder.lastUpdated->path, copy);
    EXPECT_EQ(utils->getPatchItemWithPath(copy)->patchName, "Edit 4");
    unit.releaseReplies();
}

// A write of ours on its way to a slot that carries the very patch the unit holds there (an undone
// reorder, a row dragged back, Restore All past a shorter backup) carries it as it was before the unit's
// change: the change is still told, with what the unit held, for the list to keep it and write it again.
TEST_F(PatchTransfer, AChangeIsToldEvenWhenOurWriteOnItsWayCarriesTheSamePatch)
{
    using namespace std::chrono_literals;
    unit.setPacing(3125.0, 0us);
    const auto mute = sim::RequestKey::maker(0x56);
    const std::string held = slotPath(0);
    const auto same = slotItem(0);
    unit.holdReplies(mute);
    const auto muted = unit.device().requestCount(mute);
    utils->writeToDeviceWithPatchGroup({same, slotItem(1)}, {0, 1});
    ASSERT_TRUE(loop.runUntil([&] { return unit.device().requestCount(mute) > muted; }));
    unit.patches().setPatch(0, 0, 0, SimulatedPatchMemory::makePatchRecord("Knob", "k", 10, 9));
    unit.sendPatchNotice(0, 0, 0);
    const Strings told = heard("updated");
    ASSERT_FALSE(told.empty());
    ASSERT_EQ(told.back().rfind("updated Knob ", 0), 0U) << testing::PrintToString(told);
    const UnitPatchChange origin = recorder.lastChangeOrigin();
    EXPECT_EQ(origin.heldPath, held);
    EXPECT_TRUE(origin.overwritten);
    EXPECT_EQ(origin.heldName, dumpedNames[0]);
    unit.releaseReplies();
}

// The record of what the unit holds takes each slot as the unit takes it, and a change the unit reports
// after that, before the write has ended, stands: the write's end never puts our file back in its place.
TEST_F(PatchTransfer, AChangeAfterOurPatchLandedOutlivesTheWritesEnd)
{
    using namespace std::chrono_literals;
    unit.setPacing(3125.0, 0us);
    const auto unmute = sim::RequestKey::maker(0x57);
    const auto ours = edited(2, "Ours");
    unit.holdReplies(unmute);
    const auto unmuted = unit.device().requestCount(unmute);
    utils->writeToDeviceWithPatchGroup({ours}, {0});
    ASSERT_TRUE(loop.runUntil([&] { return unit.device().requestCount(unmute) > unmuted; }));
    unit.patches().setPatch(0, 0, 0, SimulatedPatchMemory::makePatchRecord("Dial", "d", 10, 9));
    unit.sendPatchNotice(0, 0, 0);
    ASSERT_EQ(heard("updated").back().rfind("updated Dial ", 0), 0U);
    EXPECT_EQ(recorder.lastChangeOrigin().heldPath, ours->path);
    EXPECT_EQ(recorder.lastChangeOrigin().heldName, "Ours");
    EXPECT_FALSE(recorder.lastChangeOrigin().overwritten);
    const std::string dial = recorder.lastUpdated->path;
    unit.releaseReplies();
    settle();
    EXPECT_EQ(slotPath(0), dial);

    unit.patches().setPatch(0, 0, 0, SimulatedPatchMemory::makePatchRecord("Again", "a", 10, 9));
    unit.sendPatchNotice(0, 0, 0);
    ASSERT_EQ(heard("updated").back().rfind("updated Again ", 0), 0U);
    EXPECT_EQ(recorder.lastChangeOrigin().heldPath, dial) << "the next change names the unit's, not our file";
    EXPECT_EQ(recorder.lastChangeOrigin().heldName, "Dial");
}
