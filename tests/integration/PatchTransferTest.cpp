// Patches to and from the unit end to end: pool patches dropped on the list (one, then several), list
// rows reordered, Backup All, Restore All and its undo, each held by the unit's slots and the files.

#include <QApplication>
#include <QPushButton>
#include <QScrollBar>

#include <algorithm>
#include <filesystem>
#include <numeric>

#include <gtest/gtest.h>

#include "DemoPool.h"
#include "DemoUnit.h"
#include "DragTour.h"
#include "PoolTour.h"
#include "ProgramRig.h"
#include "UndoTour.h"
#include "WindowGestures.h"
#include "app/patch/CustomTableViewForPatch.h"
#include "app/patch/PatchPoolOutlineView.h"
#include "library/CommonUtils.h"

using namespace std::chrono_literals;
namespace fs = std::filesystem;

namespace {

std::vector<std::string> unitNames(DemoUnit& unit, int from, int to) { return ProgramRig::unitNames(unit, from, to); }
std::vector<std::string> listNames(int from, int to) { return ProgramRig::listNames(from, to); }
const std::vector<std::string> kRestored{"Clean 1", "Crunch 1", "Ambient 1", "Rhythm 1"};

// A patch changed on the unit itself, so its first slots no longer match the seeded backup's.
bool changeSlotOneOnTheUnit(DemoUnit& unit)
{
    unit.editOnUnit(1, "On Unit", "Changed on the unit");
    return ProgramRig::waitUntil([] { return WindowGestures::patchListText(1, 1) == QStringLiteral("On Unit"); });
}

// Whether a folder of the working copy comes to hold the patches `names`, and each once.
bool aBackupHolds(ProgramRig& rig, std::vector<std::string> names, std::chrono::seconds limit = 10s)
{
    std::sort(names.begin(), names.end());
    return ProgramRig::waitUntil([&] {
        std::error_code error;
        for (const auto& entry : fs::recursive_directory_iterator(rig.workingCopy(), error))
            if (entry.is_directory() && ProgramRig::patchNamesIn(entry.path()) == names) return true;
        return false;
    }, limit);
}

// Back Up All, once it can be pressed; whether a folder of the working copy then holds every patch the unit
// holds, each once.
bool backUpAllHoldsTheUnit(ProgramRig& rig, std::chrono::seconds limit = 10s)
{
    const auto names = ProgramRig::unitNames(rig.unit());
    return ProgramRig::waitUntil([&] {
        UndoTour::backUpAll(rig.window());
        return UndoTour::backedUp();
    }, 60s) && aBackupHolds(rig, names, limit);
}

}  // namespace

// Pool patches dropped on the list (one, then several) and rows reordered are written to their slots. Desktops
// and file managers may ask a drag for its files as it passes over them (`lookedAt`): the drag still lands
// where it is dropped, and nothing is written outside the program's folder.
class PatchTransferDrops : public ::testing::TestWithParam<bool> {};

TEST_P(PatchTransferDrops, PoolPatchesDroppedOnTheListAndRowsReorderedAreWrittenToTheirSlots)
{
    const bool lookedAt = GetParam();
    ProgramRig::onThePatchScreen([&](ProgramRig&, DemoUnit& unit, QWidget& window) {
        // One patch: its slot only.
        const auto around = unitNames(unit, 9, 12);
        DragTour::dropPoolItemsOnList(window, {"Warm Pad"}, 10, lookedAt);
        ASSERT_TRUE(ProgramRig::waitUntil([&] { return unit.patchNameAt(10) == "Warm Pad"; }));
        EXPECT_EQ(unit.patchNameAt(9), around[0]);
        EXPECT_EQ(unit.patchNameAt(11), around[2]);
        EXPECT_EQ(listNames(9, 12), unitNames(unit, 9, 12));
        // Several: the slots from the one dropped on, in pool order.
        DragTour::dropPoolItemsOnList(window, {"Warm Pad", "Octaver"}, 20, lookedAt);
        ASSERT_TRUE(ProgramRig::waitUntil([&] { return unit.patchNameAt(21) == "Octaver"; }));
        EXPECT_EQ(unit.patchNameAt(20), "Warm Pad");
        EXPECT_EQ(listNames(19, 23), unitNames(unit, 19, 23));
        // Two rows moved further down: the unit's slots follow the list.
        const auto before = listNames(0, 10);
        DragTour::dropListRowsOnList(window, {2, 3}, 6, lookedAt);
        ASSERT_TRUE(ProgramRig::waitUntil([&] { return listNames(0, 10) != before; }, 10s));
        const auto after = listNames(0, 10);
        EXPECT_TRUE(std::is_permutation(before.begin(), before.end(), after.begin()));
        EXPECT_TRUE(ProgramRig::waitUntil([&] { return unitNames(unit, 0, 10) == after; }))
            << testing::PrintToString(unitNames(unit, 0, 10)) << " vs " << testing::PrintToString(after);
        EXPECT_FALSE(fs::exists(fs::current_path() / "patchListPanel"));
        EXPECT_FALSE(fs::exists(fs::current_path() / "rightPanel"));
    });
}

INSTANTIATE_TEST_SUITE_P(PatchTransfer, PatchTransferDrops, ::testing::Bool(), [](const ::testing::TestParamInfo<bool>& info) {
    return std::string(info.param ? "LookedAtByAnotherProgramOnTheirWay" : "Plain");
});

// Backup All keeps every slot of the unit in a new folder of the working copy; the seeded backup restored
// writes its compatible patches from the first slot, the rest untouched, until undone; the backup dropped on
// the list restores it the same way.
TEST(PatchTransfer, BackupAllKeepsTheUnitInThePoolAndRestoreAllWritesABackupBackUntilUndone)
{
    ProgramRig::onThePatchScreen([](ProgramRig& rig, DemoUnit& unit, QWidget& window) {
        ASSERT_TRUE(changeSlotOneOnTheUnit(unit));
        const auto unitBefore = ProgramRig::unitNames(unit);
        EXPECT_TRUE(backUpAllHoldsTheUnit(rig));

        ASSERT_TRUE(ProgramRig::waitUntil([&] {
            UndoTour::restoreSeededBackup(window);
            return UndoTour::restoreResultShown();
        }));
        EXPECT_TRUE(ProgramRig::waitUntil([&] { return unitNames(unit, 0, 4) == kRestored; }))
            << testing::PrintToString(unitNames(unit, 0, 4));
        EXPECT_EQ(unitNames(unit, 4, unit.patchCount()), std::vector<std::string>(unitBefore.begin() + 4, unitBefore.end()));

        ASSERT_TRUE(ProgramRig::undoFromThePopover(window));
        ASSERT_TRUE(ProgramRig::waitUntil(UndoTour::listUndone));
        EXPECT_TRUE(ProgramRig::waitUntil([&] { return unitNames(unit, 0, 4) == listNames(0, 4); }));
        EXPECT_EQ(listNames(0, 4), std::vector<std::string>(unitBefore.begin(), unitBefore.begin() + 4));

        DragTour::dropBackupOnList(window);
        ASSERT_TRUE(ProgramRig::waitUntil(DragTour::backupRestored));
        EXPECT_TRUE(ProgramRig::waitUntil([&] { return unitNames(unit, 0, 4) == kRestored; }))
            << testing::PrintToString(unitNames(unit, 0, 4));
    });
}

// Quitting while the unit is being written (a restore at a MIDI cable's pace) lets the write end, then lets
// the unit go, then ends.
TEST(PatchTransfer, QuitDuringAWriteLetsTheWriteFinishThenLetsTheUnitGo)
{
    ProgramRig rig;
    std::vector<std::string> atTheEnd;
    bool letGo = false;
    rig.atUnitEnd([&](DemoUnit& unit) {
        atTheEnd = unitNames(unit, 0, 4);
        letGo = unit.unit().device().requestCount(sim::RequestKey::maker(0x53)) > 0;
    });
    rig.runToTheEnd([](ProgramRig& rig) {
        ASSERT_TRUE(rig.showPatchScreen());
        ASSERT_TRUE(changeSlotOneOnTheUnit(rig.unit()));
        auto& device = rig.unit().unit().device();
        rig.unit().unit().setPacing(3125.0, std::chrono::microseconds(0));
        const auto requests = device.requestCount(sim::RequestKey::maker(0x45));
        UndoTour::restoreSeededBackup(rig.window());
        ASSERT_TRUE(ProgramRig::waitUntil([&] { return device.requestCount(sim::RequestKey::maker(0x45)) > requests; }));
        rig.quitFromMenu();
    });
    EXPECT_EQ(atTheEnd, kRestored);
    EXPECT_TRUE(letGo);
}

// The machine going to sleep during a restore lets the unit go at once: the write under way ends there,
// the unit is unmuted before it is told to leave editor mode, and its answer to that is taken for no
// patch's, so nothing more is written to it.
TEST(PatchTransfer, SleepDuringARestoreUnmutesTheUnitThenLetsItGo)
{
    ProgramRig::onThePatchScreen([](ProgramRig& rig, DemoUnit&, QWidget&) {
        ASSERT_TRUE(changeSlotOneOnTheUnit(rig.unit()));
        sim::DeviceUnit& unit = rig.unit().unit();
        const auto write = sim::RequestKey::maker(0x45);
        const auto before = unit.device().requests().size();
        const auto written = unit.device().requestCount(write);
        // The restore's second patch gets no answer: the write waits on the unit as sleep comes.
        unit.faultAt(write, 2, sim::DeviceUnit::Fault::SilentOnce);
        UndoTour::restoreSeededBackup(rig.window());
        ASSERT_TRUE(ProgramRig::waitUntil([&] { return unit.device().requestCount(write) == written + 2; }));
        ASSERT_FALSE(unit.patches().audioEnabled());

        CommonUtils::getInstance().receiveSleepNote();
        ASSERT_TRUE(ProgramRig::waitUntil([&] { return unit.device().requestCount(sim::RequestKey::maker(0x53)) > 0; }));
        EXPECT_TRUE(ProgramRig::waitUntil([&] { return unit.patches().audioEnabled(); }));
        const auto requests = unit.device().requests();
        std::vector<int> makerFunctions;
        for (std::size_t i = before; i < requests.size(); ++i)
            if (requests[i].size() > 4 && requests[i][1] == 0x7D) makerFunctions.push_back(requests[i][4]);
        const auto leave = std::find(makerFunctions.begin(), makerFunctions.end(), 0x53);
        ASSERT_NE(leave, makerFunctions.begin());
        EXPECT_EQ(*(leave - 1), 0x57) << "the unmute did not go before the leave request";
        EXPECT_EQ(std::count(leave, makerFunctions.end(), 0x45), 0) << "a patch was written after the leave request";
        EXPECT_EQ(unit.device().requestCount(write), written + 2);
        if (ProgramRig::informationShown()) ProgramRig::closeInformation();
    });
}

// An edit made on the unit after a reorder changes that slot's patch only: the patch moved away from
// the slot keeps its own file, so the reorder's undo and Backup All still hold it.
TEST(PatchTransfer, AnEditOnTheUnitAfterAReorderLeavesTheMovedPatchWhole)
{
    ProgramRig::onThePatchScreen([](ProgramRig& rig, DemoUnit& unit, QWidget& window) {
        const auto first = unitNames(unit, 0, 2);
        ASSERT_NE(first[0], first[1]);
        DragTour::dropListRowsOnList(window, {1}, 0);
        const std::vector<std::string> swapped{first[1], first[0]};
        ASSERT_TRUE(ProgramRig::waitUntil([&] { return listNames(0, 2) == swapped && unitNames(unit, 0, 2) == swapped; }))
            << testing::PrintToString(unitNames(unit, 0, 2));
        unit.editOnUnit(0, "On Unit", "Changed on the unit");
        ASSERT_TRUE(ProgramRig::waitUntil([] { return WindowGestures::patchListText(0, 1) == QStringLiteral("On Unit"); }));
        // The reorder undone: the patch that was moved goes back to slot 0, the edited one to slot 1.
        ASSERT_TRUE(ProgramRig::undoFromThePopover(window));
        const std::vector<std::string> undone{first[0], "On Unit"};
        EXPECT_TRUE(ProgramRig::waitUntil([&] { return listNames(0, 2) == undone && unitNames(unit, 0, 2) == undone; }))
            << testing::PrintToString(listNames(0, 2)) << " on the unit " << testing::PrintToString(unitNames(unit, 0, 2));
        EXPECT_TRUE(backUpAllHoldsTheUnit(rig));
    });
}

// A change made on the unit shows in the list only after a quiet time (far beyond the test: the list takes
// the change only from the steps themselves); Backup All pressed, or rows saved into the pool, within it
// keep the patch the unit holds, not the one the list still showed.
TEST(PatchTransfer, BackupAllAndRowsSavedWithinTheQuietTimeHoldTheUnitsOwnChange)
{
    ProgramRig::onThePatchScreen(ProgramRig::Options{.quietSeconds = 600}, [](ProgramRig& rig, DemoUnit& unit, QWidget& window) {
        unit.editOnUnit(1, "On Unit", "Changed on the unit");
        // Pressed until the change has reached the screen: the press that meets it takes it. Each backup is
        // selected as it is made, which turns the button into Restore All: the pool's selection is cleared
        // before each press.
        auto* pool = window.findChild<PatchPoolOutlineView*>();
        ASSERT_NE(pool, nullptr);
        ASSERT_TRUE(ProgramRig::waitUntil([&] {
            pool->selectRows({});
            auto* button = window.findChild<QPushButton*>(QStringLiteral("BackUpAllOrRestoreAllButton"));
            if (button != nullptr && button->text() == QStringLiteral("Back Up All")) button->click();
            return WindowGestures::patchListText(1, 1) == QStringLiteral("On Unit");
        }, 10s));
        const auto names = ProgramRig::unitNames(unit);
        ASSERT_NE(std::find(names.begin(), names.end(), "On Unit"), names.end());
        EXPECT_TRUE(aBackupHolds(rig, names));

        unit.editOnUnit(2, "Unit Two", "Changed on the unit too");
        ASSERT_TRUE(ProgramRig::waitUntil([&] {
            PoolTour::saveDeviceRowsInto(window, DemoPool::kGroupName, {2});
            return WindowGestures::patchListText(2, 1) == QStringLiteral("Unit Two");
        }, 10s));
        EXPECT_TRUE(ProgramRig::waitUntil([&] {
            const auto saved = ProgramRig::patchNamesIn(ProgramRig::folderNamed(rig.workingCopy(), DemoPool::kGroupName));
            return std::find(saved.begin(), saved.end(), "Unit Two") != saved.end();
        }, 10s));
    });
}

// At a MIDI cable's pace a reorder's write takes seconds, and a knob is turned on the unit meanwhile: the
// change is kept, never replaced by our older copy, and the list, the unit and a backup agree, no patch
// lost or held twice. A row moved up: the knob changes the patch the unit still holds in that slot, which
// the write then replaces there, and the change follows that patch to its new row (or it changed the one
// moved there, if the write came first). A row dragged away and at once dragged back: the second write
// carries the patch as it was before the knob turned.
struct KnobDuringAReorder {
    const char* name;
    std::vector<std::pair<std::uint64_t, int>> moves;
    int knobSlot;
};

void PrintTo(const KnobDuringAReorder& row, std::ostream* out) { *out << row.name; }

class PatchTransferKnob : public ::testing::TestWithParam<KnobDuringAReorder> {};

TEST_P(PatchTransferKnob, TheChangeIsKeptOnce)
{
    const KnobDuringAReorder row = GetParam();
    ProgramRig::onThePatchScreen(ProgramRig::Options{.slowUnit = true}, [&](ProgramRig& rig, DemoUnit& unit, QWidget&) {
        const auto before = unitNames(unit, 0, 10);
        for (const auto& [from, to] : row.moves) {
            const auto shown = listNames(0, 10);
            DragTour::dropListRowsOnList(rig.window(), {from}, to);
            ASSERT_TRUE(ProgramRig::waitUntil([&] { return listNames(0, 10) != shown; }));
        }
        // Gone and come back: the list shows it as it was.
        ASSERT_TRUE(row.moves.size() == 1 || ProgramRig::waitUntil([&] { return listNames(0, 10) == before; }));
        unit.editOnUnit(row.knobSlot, "Knob", "Turned while the write came");
        ASSERT_TRUE(ProgramRig::waitUntil([&] {
            const auto shown = listNames(0, 10);
            return shown == unitNames(unit, 0, 10) && std::count(shown.begin(), shown.end(), "Knob") == 1;
        }, 60s)) << testing::PrintToString(listNames(0, 10)) << " on the unit " << testing::PrintToString(unitNames(unit, 0, 10));
        if (row.moves.size() == 1) {
            auto held = unitNames(unit, 0, 10);
            std::sort(held.begin(), held.end());
            const auto changed = [&](std::size_t slot) {
                auto names = before;
                names[slot] = "Knob";
                std::sort(names.begin(), names.end());
                return names;
            };
            EXPECT_TRUE(held == changed(1) || held == changed(9)) << testing::PrintToString(held);
        }
        EXPECT_TRUE(backUpAllHoldsTheUnit(rig, 60s));
    });
}

INSTANTIATE_TEST_SUITE_P(PatchTransfer, PatchTransferKnob,
                         ::testing::Values(KnobDuringAReorder{"WhileARowIsMovedUp", {{9, 1}}, 1},
                                           KnobDuringAReorder{"WhileARowGoesAndComesBack", {{9, 1}, {1, 10}}, 9}),
                         [](const ::testing::TestParamInfo<KnobDuringAReorder>& info) { return std::string(info.param.name); });

// A drag held still at the list's bottom edge scrolls the list on through the list's reload of a change the
// unit made meanwhile, to the last slot, where the reorder it carries would land.
TEST(PatchTransfer, ADragHeldAtTheListsEdgeScrollsOnThroughAReload)
{
    ProgramRig::onThePatchScreen(ProgramRig::Options{.quietSeconds = 1}, [](ProgramRig& rig, DemoUnit&, QWidget& window) {
        auto* list = window.findChild<CustomTableViewForPatch*>();
        ASSERT_NE(list, nullptr);
        const int last = list->model()->rowCount() - 1;
        rig.unit().editOnUnit(0, "Knob", "Turned while dragging");
        const QPoint edge = DragTour::holdListRowsAtTheListsBottom(window, {2});
        // A busy machine scrolls slowly: the bound is only how long a failure takes to tell.
        ASSERT_TRUE(ProgramRig::waitUntil([&] { return list->rowAt(edge.y()) > 10; }, 30s)) << list->rowAt(edge.y());
        // The unit's change shows once its quiet time is over: the list reloads under the held drag.
        ASSERT_TRUE(ProgramRig::waitUntil([&] { return WindowGestures::patchListText(0, 1) == QStringLiteral("Knob"); }, 10s));
        ASSERT_LT(list->rowAt(edge.y()), last) << "the list reached its end before the reload";
        EXPECT_TRUE(ProgramRig::waitUntil([&] { return list->rowAt(edge.y()) == last; }, 20s)) << list->rowAt(edge.y());
        EXPECT_EQ(list->dragState().row, last);
        DragTour::letGoOfTheHeldDrag(window);
    });
}

// The same over the pool: a drag held still at its bottom edge scrolls on through the pool's reload (a
// save's copies landing), to the pool's last row.
TEST(PatchTransfer, ADragHeldAtThePoolsEdgeScrollsOnThroughAReload)
{
    ProgramRig::onThePatchScreen([](ProgramRig&, DemoUnit&, QWidget& window) {
        auto* pool = window.findChild<PatchPoolOutlineView*>();
        ASSERT_NE(pool, nullptr);
        // Enough of the unit's patches saved into a group, open, for the pool to overflow.
        std::vector<std::int64_t> rows(40);
        std::iota(rows.begin(), rows.end(), 0);
        PoolTour::saveDeviceRowsInto(window, DemoPool::kGroupName, rows);
        ASSERT_TRUE(ProgramRig::waitUntil([] { return PoolTour::poolAtRest(); }, 20s));
        pool->expandAll();
        QScrollBar* ruler = pool->verticalScrollBar();
        ASSERT_GT(ruler->maximum(), 0) << "the pool does not overflow";
        DragTour::holdListRowsAtThePoolsBottom(window, {2});
        ASSERT_TRUE(ProgramRig::waitUntil([&] { return ruler->value() > 0; }, 10s));
        ASSERT_LT(ruler->value(), ruler->maximum()) << "the pool reached its end before the reload";
        pool->reloadData();
        EXPECT_TRUE(ProgramRig::waitUntil([&] { return ruler->value() == ruler->maximum(); }, 20s))
            << ruler->value() << " of " << ruler->maximum();
        DragTour::letGoOfTheHeldDrag(window);
    });
}
