#include <gtest/gtest.h>

#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTimer>

#include <functional>
#include <numeric>
#include <set>
#include <optional>

#include "app/controls/RightClickButton.h"
#include "app/controls/RightClickImageView.h"
#include "app/dialogs/ShowingDialogQueue.h"
#include "app/patch/CustomTextViewForPatchProperty.h"
#include "app/patch/OptionMenuForPatchPool.h"
#include "app/patch/OptionMenuForPatchPoolDelegate.h"
#include "app/patch/OptionMenuForPatchViewController.h"
#include "app/patch/OptionMenuForPatchViewControllerDelegate.h"
#include "app/patch/PatchGroupPropertyViewController.h"
#include "app/patch/PatchPoolEditor.h"
#include "app/patch/PatchPoolModel.h"
#include "app/patch/PatchPropertyViewController.h"
#include "app/patch/QueuePatchDialogs.h"
#include "app/shell/MainWindow.h"
#include "library/undo/AddToPatchPoolAction.h"
#include "library/undo/ChangeTextAction.h"
#include "library/undo/DeleteAction.h"
#include "library/undo/DragFromPoolToListAction.h"
#include "PatchCases.h"

namespace testing_app {
namespace {

class PatchScreenMenus : public PatchScreenCases {
protected:
    // Waits for a pool pass asked before now: a marker sent as the screen sends its pass (two 1 ms turns)
    // runs after it, as timers of one interval run in the order they were started.
    static void settlePoolPass()
    {
        const auto passed = std::make_shared<bool>(false);
        QTimer::singleShot(1, [passed] { QTimer::singleShot(1, [passed] { *passed = true; }); });
        ASSERT_TRUE(processEventsUntil([passed] { return *passed; }, std::chrono::seconds(30)));
    }
    std::size_t warningAsks() const { return coordinator.poolWarningAsks.size(); }
    // Starts again on ten unit slots and `nodes`, every copy asked from now on held.
    void restartHolding(std::vector<Node> nodes, const std::vector<int>& expanded = {})
    {
        undo.clearUndoStack();
        coordinator.runHeldCopies();
        loadWithPaths(10);
        setPool(std::move(nodes), expanded);
        coordinator.holdCopies = true;
    }
    // Every saved unit patch ("P...") among `nodes` names a file in `folder`: its own, when `exact`.
    static void expectSavedIn(const std::vector<Node>& nodes, const std::string& folder, bool exact = false)
    {
        for (const Node& node : nodes) {
            if (node->name->front() != 'P') continue;
            const std::string& path = node->patchItem()->path;
            if (exact) EXPECT_EQ(path, folder + *node->name + ".qptc");
            else EXPECT_EQ(path.rfind(folder, 0), 0u) << path;
        }
    }
    // The pool's tree in order, each group followed by its children.
    std::vector<Node> flat() const
    {
        std::vector<Node> nodes;
        for (const Node& node : screen->structureData()) {
            nodes.push_back(node);
            nodes.insert(nodes.end(), node->childDirectories.begin(), node->childDirectories.end());
        }
        return nodes;
    }
    Names tree() const { return namesOf(flat()); }
    // Every saved unit patch names its copy in the pool's folder: its group's, in a group.
    void expectLanded() const
    {
        for (const Node& node : screen->structureData())
            expectSavedIn(node->isGroup ? node->childDirectories : std::vector<Node>{node},
                          "/root/Temp/Local/" + (node->isGroup ? *node->name + "/" : std::string()));
    }
    // A dropped file whose copy will fail, saved above `target` or into `group`.
    void dropFailingCopy(const std::string& name, const Node& target, const Node& group = nullptr)
    {
        auto item = patch(name);
        item->path = "/drop/" + name + ".qptc";
        if (group) screen->addBackUpPatchItems({item}, group, 0, true);
        else screen->addBackUpPatchItems({item}, target, true);
    }
    PatchPropertyViewController* openListSheet(std::uint64_t row)
    {
        screen->didClickOnPropertyButtonAtIndex(list(), row);
        dialogs.runSheets();
        return screen->patchPropertyViewController();
    }
    PatchPropertyViewController* openPoolSheet(const Node& node, const Node& group = nullptr)
    {
        screen->didClickOnPropertyButtonAtItem(&pool(), node, group);
        dialogs.runSheets();
        return screen->patchPropertyViewController();
    }
    PatchGroupPropertyViewController* openGroupSheet(const Node& group, const std::string& name)
    {
        screen->didClickOnPropertyButtonAtItem(&pool(), group, nullptr);
        dialogs.runSheets();
        auto* sheet = screen->patchGroupPropertyViewController();
        if (sheet) sheet->groupNameTextField()->setText(QString::fromStdString(name));
        log.clear();
        return sheet;
    }
    void deleteSelected() { screen->didClickOnDeleteButtonWithItems(&pool(), screen->selectedPoolEntries()); }
};

// ---- the screen's answers to the menus ----

TEST_F(PatchScreenMenus, TheQuestionsFollowThePoolSelectionTheListAndTheLocks)
{
    load(10);
    setPool({unfitPatch("Odd"), patchNode("Top"), groupNode("Backup", patchNodes("B", 2), true)}, {2});
    const struct {
        const char* name;
        std::vector<int> pool;
        Rows list;
        bool canSave, canRead, canCopy;
    } cases[] = {
        {"nothing in the pool", {}, {1}, true, false, false},
        {"a patch without a list row", {1}, {}, true, true, false},
        {"a patch with a list row", {1}, {1}, true, true, true},
        {"an incompatible patch first", {0, 1}, {1}, true, false, false},
        {"a backup group alone", {2}, {}, true, true, true},
        {"a patch in the backup", {3}, {1}, false, true, true},
    };
    for (const auto& each : cases) {
        SCOPED_TRACE(each.name);
        selectPool(each.pool);
        selectList(each.list);
        if (each.list.empty()) list().clearSelection();
        EXPECT_EQ(screen->tableViewCanSaveToPatchPool(list()), each.canSave);
        EXPECT_EQ(screen->tableViewCanReadFromPatchPool(list()), each.canRead);
        EXPECT_EQ(screen->patchPoolOutlineViewCanCopyToDeviceMemory(&pool()), each.canCopy);
    }
    selectPool({2});
    appDelegate.setIsRestoringAll(true);
    EXPECT_FALSE(screen->tableViewCanReadFromPatchPool(list()));
    screen->setLockPatchPool(true);
    EXPECT_FALSE(screen->tableViewCanSaveToPatchPool(list()));
    screen->setIsPatchListLoaded(false);
    EXPECT_FALSE(screen->patchPoolOutlineViewCanCopyToDeviceMemory(&pool()));
}

// ---- save to the pool ----

TEST_F(PatchScreenMenus, SavingOneRowPlacesItByThePoolSelection)
{
    load(10);
    const Node group = groupNode("G", patchNodes("g", 3));
    setPool({patchNode("Top"), group, groupNode("Backup", patchNodes("B", 1), true)}, {1});
    selectList({5});
    const auto save = [&] { screen->didClickOnSavingInPatchPoolButtonAtIndex(list(), 5); };
    save();
    EXPECT_EQ(topNames(), (Names{"Top", "G", "Backup", "P5"}));
    EXPECT_EQ(lastRecord<AddToPatchPoolAction>()->mType, 2);
    EXPECT_TRUE(logged("writeFilePatch  -> /root/Temp/Local"));
    // The third child of a group: the patch goes in above it.
    selectPool({4});
    save();
    EXPECT_EQ(namesOf(group->childDirectories), (Names{"g0", "g1", "P5", "g2"}));
    EXPECT_EQ(lastRecord<AddToPatchPoolAction>()->mType, 1);
    // A backup group itself takes the patch above it.
    pool().collapseItem(pool().indexForRow(1));
    selectPool({2});
    save();
    EXPECT_EQ(topNames(), (Names{"Top", "G", "P5", "Backup", "P5"}));
    EXPECT_EQ(records(), 3u);
    EXPECT_TRUE(appDelegate.isPatchPoolChanged());
}

TEST_F(PatchScreenMenus, SavingThreeRowsMakesAGroupAboveTheSelectedItemsGroup)
{
    load(10);
    setPool({patchNode("Top"), groupNode("G", patchNodes("g", 2))}, {1});
    selectPool({3});
    selectList({2, 3, 4});
    screen->didClickOnSavingInPatchPoolButtonAtIndex(list(), 2);
    ASSERT_EQ(topNames().size(), 3u);
    const Node made = screen->structureData()[1];
    EXPECT_TRUE(made->isGroup);
    EXPECT_EQ(namesOf(made->childDirectories), (Names{"P2", "P3", "P4"}));
    EXPECT_EQ(lastRecord<AddToPatchPoolAction>()->mType, 3);
    EXPECT_EQ(records(), 1u);
}

// ---- read from the pool and copy to the device ----

// Read from the pool (at the list menu's row), copied to the unit (from the selected slot) or dropped on the
// list (at the row under the pointer), pool patches replace slots as working copies in one write and one
// record: never past the list's end, up to a failed copy, skipping incompatible patches and children;
// nothing placed, nothing written or recorded.
TEST_F(PatchScreenMenus, PoolPatchesReadCopiedOrDroppedIntoTheListReplaceSlotsAsOneWrite)
{
    enum How { kRead, kCopy, kDrop };
    const auto ten = [] { return groupNode("Ten", patchNodes("t", 10)); };
    const struct {
        const char* what;
        How how;
        std::vector<Node> nodes;
        Rows listRows;
        std::set<std::string> failing;
        std::size_t first;
        Names shown;
        std::optional<std::vector<std::int64_t>> written;
        std::size_t copies = 0;  // asked of a drop, failed ones too
    } cases[] = {
        {"three read", kRead, patchNodes("T", 3), {5}, {}, 5, {"T0", "T1", "T2", "P8"}, std::vector<std::int64_t>{5, 6, 7}},
        {"a group read at the list's end", kRead, {ten()}, {27}, {}, 27, {"t0", "t1", "t2"}, std::vector<std::int64_t>{27, 28, 29}},
        {"a group read up to a failed copy", kRead, {ten()}, {0}, {"t1"}, 0, {"t0", "P1", "P2"}, std::vector<std::int64_t>{0}},
        {"a group read whose every copy fails", kRead, {ten()}, {0}, {"t0"}, 0, {"P0"}, std::nullopt},
        {"three copied from the first of two slots", kCopy, patchNodes("T", 3), {5, 9}, {}, 5, {"T0", "T1", "T2", "P8", "P9"},
         std::vector<std::int64_t>{5, 6, 7}},
        {"a group copied without its incompatible child", kCopy,
         {groupNode("Four", {patchNode("a"), unfitPatch("b"), patchNode("c"), patchNode("d")})}, {10}, {}, 10,
         {"a", "c", "d", "P13"}, std::vector<std::int64_t>{10, 11, 12}},
        {"a group copied at the list's end", kCopy, {ten()}, {27}, {}, 27, {"t0", "t1", "t2"}, std::vector<std::int64_t>{27, 28, 29}},
        {"a group of unfit patches copied", kCopy, {groupNode("Unfit", {unfitPatch("x"), unfitPatch("y")})}, {0}, {}, 0, {"P0"},
         std::nullopt},
        {"copied with no slot selected", kCopy, patchNodes("T", 1), {}, {}, 0, {"P0"}, std::nullopt},
        {"a group of four, one incompatible, dropped", kDrop,
         {groupNode("Four", {patchNode("f1"), patchNode("f2"), unfitPatch("bad"), patchNode("f3"), patchNode("f4")})}, {10}, {},
         10, {"f1", "f2", "f3", "f4", "P14"}, std::vector<std::int64_t>{10, 11, 12, 13}, 4},
        {"five dropped on the second to last slot", kDrop, patchNodes("T", 5), {28}, {}, 27, {"P27", "T0", "T1"},
         std::vector<std::int64_t>{28, 29}, 2},
        {"a drop up to a failed working copy", kDrop, patchNodes("T", 3), {5}, {"T1"}, 5, {"T0", "P6", "P7"},
         std::vector<std::int64_t>{5}, 2},
        {"a drop whose copy fails", kDrop, patchNodes("T", 1), {5}, {"T0"}, 5, {"P5"}, std::nullopt, 1},
        {"another model's backup dropped like a group", kDrop, {groupNode("Backup", patchNodes("b", 2), true)}, {7}, {}, 7,
         {"b0", "b1", "P9"}, std::vector<std::int64_t>{7, 8}, 2},
        {"incompatible patches and an empty group dropped", kDrop, {unfitPatch("x"), groupNode("Empty", {})}, {0}, {}, 0,
         {"P0", "P1"}, std::nullopt},
    };
    coordinator.application = "/root";
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        undo.clearUndoStack();
        coordinator.writes.clear();
        coordinator.infoWrites.clear();
        load(30);
        setPool(c.nodes);
        coordinator.failingCopies = c.failing;
        std::vector<int> all(c.nodes.size());
        std::iota(all.begin(), all.end(), 0);
        selectPool(all);
        selectList(c.listRows);
        if (c.listRows.empty()) list().clearSelection();
        if (c.how == kCopy) screen->didClickOnButtonCopyToDeviceMemoryAtItems(&pool(), screen->selectedPoolEntries());
        if (c.how == kRead) screen->didClickOnReadingFromPatchPoolButtonAtIndex(list(), c.listRows.front());
        if (c.how == kDrop) {
            selectList({});
            list().setIsDropped(false);
            list().dragState().row = static_cast<std::int64_t>(c.listRows.front());
            pool().dragState().isDragging = true;
            pool().dragState().draggedContainers.clear();
            for (const Node& node : c.nodes) pool().dragState().draggedContainers.push_back({nullptr, node});
            screen->namesOfPromisedFilesDroppedAtDestination(PatchManagerViewController::kPatchListPanel, screen->draggedContent(true));
            pool().dragState().isDragging = false;
            EXPECT_EQ(coordinator.infoWrites.size(), c.copies);
            EXPECT_EQ(list().isDropped(), c.written.has_value());
        }
        EXPECT_EQ(names().size(), 30u);
        EXPECT_EQ(namesAt(c.first, c.shown.size()), c.shown);
        ASSERT_EQ(coordinator.writes.size(), c.written ? 1u : 0u);
        const auto record = lastRecord<DragFromPoolToListAction>();
        if (!c.written) {
            EXPECT_EQ(records(), 0u);
            EXPECT_TRUE(list().selectedRows().empty());
            EXPECT_TRUE(list().selectionList().empty());
            continue;
        }
        EXPECT_EQ(coordinator.writes[0].second, *c.written);
        ASSERT_EQ(records(), 1u);
        EXPECT_EQ(record->mIndex, static_cast<std::uint64_t>(c.written->front()));
        ASSERT_EQ(record->mItems.size(), c.written->size());
        EXPECT_EQ(std::get<std::shared_ptr<PatchItem>>(record->mItems[0])->patchName, "P" + std::to_string(c.written->front()));
        EXPECT_EQ(list().selectedRows(), Rows(c.written->begin(), c.written->end()));
        for (const std::int64_t slot : *c.written)
            EXPECT_EQ(screen->patchItems()[static_cast<std::size_t>(slot)]->path, "/root/Device/Patch/" + names()[static_cast<std::size_t>(slot)] + ".qptc");
    }
    // A read ending in a backup of the whole list restores it instead.
    setPool({patchNode("Top"), groupNode("Backup", patchNodes("B", 2), true)});
    selectPool({0, 1});
    screen->didClickOnReadingFromPatchPoolButtonAtIndex(list(), 0);
    EXPECT_EQ(namesAt(0, 2), (Names{"B0", "B1"}));
    EXPECT_FALSE(loggedWith("restorePatch").empty());
}

// ---- delete ----

TEST_F(PatchScreenMenus, DeletingTakesEachIndexJustBeforeItsRemovalAndOneRecord)
{
    load(5);
    setPool(patchNodes("T", 5));
    selectPool({2, 3});
    deleteSelected();
    EXPECT_EQ(topNames(), (Names{"T0", "T1", "T4"}));
    ASSERT_EQ(records(), 1u);
    const auto record = lastRecord<DeleteAction>();
    EXPECT_EQ(record->deleteType, 2);
    ASSERT_EQ(record->deletedActions.size(), 2u);
    EXPECT_EQ(record->deletedActions[0]->index, 2u);
    EXPECT_EQ(record->deletedActions[1]->index, 2u);
    EXPECT_EQ(record->deletedActions[0]->deletedItem->patchItem()->path, "/bin/T2");
    EXPECT_TRUE(pool().selectedRowList().empty());
    EXPECT_TRUE(appDelegate.isPatchPoolChanged());
    undo.doUndoAction();
    EXPECT_EQ(topNames(), (Names{"T0", "T1", "T2", "T3", "T4"}));
}

// A failed copy leaving the list as a deletion starts, between its steps or after it: each position is
// taken once it has landed, so no neighbour goes and every undo puts back what stood there.
TEST_F(PatchScreenMenus, ACopyFailingAsADeletionStartsCostsNoNeighbour)
{
    load(5);
    const Node a = patchNode("A"), b = patchNode("B"), g1 = patchNode("g1"), h = groupNode("H", {});
    const Node g = groupNode("G", {patchNode("g0"), g1, patchNode("g2")});
    setPool({a, b, patchNode("C"), g, h, groupNode("K", {})});
    coordinator.holdCopies = coordinator.stepsLandHeldCopies = true;
    coordinator.failingCopies = {"F0", "F1", "F2"};
    dropFailingCopy("F0", a);
    ASSERT_EQ(coordinator.heldCopies.size(), 1u);
    ASSERT_EQ(topNames(), (Names{"F0", "A", "B", "C", "G", "H", "K"}));
    screen->didClickOnDeleteButtonWithItems(&pool(), {{nullptr, b}});
    EXPECT_EQ(topNames(), (Names{"A", "C", "G", "H", "K"}));
    EXPECT_EQ(lastRecord<DeleteAction>()->deletedActions.at(0)->index, 1u);
    dropFailingCopy("F1", nullptr, g);
    ASSERT_EQ(coordinator.heldCopies.size(), 1u);
    ASSERT_EQ(namesOf(g->childDirectories), (Names{"F1", "g0", "g1", "g2"}));
    screen->didClickOnDeleteButtonWithItems(&pool(), {{g, g1}});
    EXPECT_EQ(namesOf(g->childDirectories), (Names{"g0", "g2"}));
    dropFailingCopy("F2", a);
    ASSERT_EQ(coordinator.heldCopies.size(), 1u);
    screen->didClickOnDeleteButtonWithItems(&pool(), {{nullptr, h}});
    EXPECT_EQ(topNames(), (Names{"A", "C", "G", "K"}));
    // Each comes back where it stood, once the saves that came to nothing have taken back their records.
    ASSERT_TRUE(recordsReach(3));
    for (int step = 0; step < 3; ++step) undo.doUndoAction();
    EXPECT_EQ(topNames(), (Names{"A", "B", "C", "G", "H", "K"}));
    EXPECT_EQ(namesOf(g->childDirectories), (Names{"g0", "g1", "g2"}));
}

TEST_F(PatchScreenMenus, ACopyFailingBetweenTheStepsOfOneDeletionCostsTheUndoNoPlace)
{
    load(5);
    const Node a = patchNode("A"), c = patchNode("C");
    setPool({a, patchNode("B"), c, patchNode("D")});
    coordinator.holdCopies = coordinator.finishedCopiesLand = true;
    coordinator.failingCopies = {"F"};
    dropFailingCopy("F", a);
    ASSERT_EQ(topNames(), (Names{"F", "A", "B", "C", "D"}));
    // The copy finishes during the first step; it lands as the second begins.
    coordinator.duringSteps = [&] { coordinator.finishHeldCopies(); };
    screen->didClickOnDeleteButtonWithItems(&pool(), {{nullptr, a}, {nullptr, c}});
    EXPECT_EQ(topNames(), (Names{"B", "D"}));
    ASSERT_TRUE(recordsReach(1));
    undo.doUndoAction();
    EXPECT_EQ(topNames(), (Names{"A", "B", "C", "D"}));
}

TEST_F(PatchScreenMenus, ACopyFailingAfterADeletionCostsItsUndoNoPlace)
{
    load(5);
    const Node a = patchNode("A"), c = patchNode("C"), group = groupNode("G", patchNodes("g", 3));
    setPool({a, patchNode("B"), c, patchNode("D"), group});
    coordinator.holdCopies = true;
    coordinator.failingCopies = {"F", "H"};
    dropFailingCopy("F", a);
    dropFailingCopy("H", nullptr, group);
    ASSERT_EQ(topNames(), (Names{"F", "A", "B", "C", "D", "G"}));
    ASSERT_EQ(namesOf(group->childDirectories), (Names{"H", "g0", "g1", "g2"}));
    screen->didClickOnDeleteButtonWithItems(&pool(), {{nullptr, c}});
    screen->didClickOnDeleteButtonWithItems(&pool(), {{group, group->childDirectories[2]}});
    ASSERT_TRUE(recordsReach(4));
    coordinator.runHeldCopies();
    ASSERT_EQ(topNames(), (Names{"A", "B", "D", "G"}));
    ASSERT_EQ(namesOf(group->childDirectories), (Names{"g0", "g2"}));
    undo.doUndoAction();
    EXPECT_EQ(namesOf(group->childDirectories), (Names{"g0", "g1", "g2"}));
    undo.doUndoAction();
    EXPECT_EQ(topNames(), (Names{"A", "B", "C", "D", "G"}));
    EXPECT_TRUE(loggedWith("Restore").empty());
}

TEST_F(PatchScreenMenus, ADeletionAndItsUndoJudgeOnlyTheItemsThatCameBackAndOnce)
{
    load(5);
    appDelegate.setDeviceConnected(true);
    setPool({groupNode("G", patchNodes("g", 3)), patchNode("X"), patchNode("Y"), patchNode("Z")}, {0});
    coordinator.poolWarningAsks.clear();
    selectPool({1, 2, 4, 6});  // g0, g1, X and Z
    deleteSelected();
    EXPECT_EQ(topNames(), (Names{"G", "Y"}));
    // What went took its warnings with it.
    EXPECT_EQ(warningAsks(), 0u);
    undo.doUndoAction();
    EXPECT_EQ(topNames(), (Names{"G", "X", "Y", "Z"}));
    ASSERT_EQ(warningAsks(), 1u);
    Names judged = namesOf(coordinator.poolWarningAsks[0]);
    std::sort(judged.begin(), judged.end());
    EXPECT_EQ(judged, (Names{"X", "Z", "g0", "g1"}));
}

// A unit that goes takes its marks off the pool at once, in one reload, with nothing judged again.
TEST_F(PatchScreenMenus, DroppingThePoolsMarksReloadsThePoolAndJudgesNothing)
{
    load(5);
    appDelegate.setDeviceConnected(true);
    const Node warned = patchNode("W"), group = groupNode("G", {patchNode("g0"), patchNode("g1")});
    warned->isWarning = group->isIncompatible = true;
    group->childDirectories[1]->isWarning = group->childDirectories[1]->isIncompatible = true;
    setPool({group, warned});
    settlePoolPass();
    const std::size_t asked = warningAsks();
    int resets = 0;
    const auto counting = QObject::connect(pool().poolModel(), &QAbstractItemModel::modelReset, [&resets] { ++resets; });
    appDelegate.setDeviceConnected(false);
    screen->resetPatchPoolState();
    QObject::disconnect(counting);
    EXPECT_EQ(resets, 1);
    for (const Node& node : {group, warned, group->childDirectories[0], group->childDirectories[1]}) {
        EXPECT_FALSE(node->isWarning) << *node->name;
        EXPECT_FALSE(node->isIncompatible) << *node->name;
    }
    settlePoolPass();
    EXPECT_EQ(warningAsks(), asked);
}

// A pool the coordinator judged as it loaded it (or marked for a unit that came after) is not judged again
// by the screen either, until what it was judged against changes.
TEST_F(PatchScreenMenus, TheWholePoolIsJudgedAgainOnlyWhenWhatItWasJudgedAgainstChanged)
{
    struct Step {
        const char* what;
        std::function<void()> step;
        std::size_t asks;
    };
    const auto play = [&](const std::vector<Step>& steps) {
        for (const Step& each : steps) {
            SCOPED_TRACE(each.what);
            each.step();
            settlePoolPass();
            EXPECT_EQ(warningAsks(), each.asks);
        }
    };
    const auto reload = [&] { screen->reloadData(); };
    const auto marksLand = [&] { screen->reloadDataInPatchPoolWarningsLater(); };
    load(5);
    appDelegate.setDeviceConnected(true);
    setPool({groupNode("G", patchNodes("g", 3)), patchNode("X")});
    coordinator.judgedAgainst = 7;
    play({{"a reload", reload, 1},
          {"a switch back to the screen with the same effects", reload, 1},
          {"other effects", [&] { coordinator.judgedAgainst = 8, reload(); }, 2},
          {"a unit that went took the warnings with it", [&] { screen->resetPatchPoolState(), reload(); }, 3},
          {"a new pool has none yet", [&] { screen->setStructureData(screen->structureData()), reload(); }, 4},
          {"a unit's marks landing", marksLand, 5}});
    coordinator.poolWarningAsks.clear();
    coordinator.judgedAgainst = coordinator.poolJudgedAgainst = 7;
    coordinator.poolJudgedByCoordinator = screen->structureData();
    play({{"the tree the coordinator judged as it arrives", marksLand, 0},
          {"a unit's marks landing on it", marksLand, 0},
          {"a reload", reload, 0},
          {"the unit's effects changed since the coordinator's judgement", [&] { coordinator.judgedAgainst = 8, reload(); }, 1},
          {"another tree than the one the coordinator judged",
           [&] { coordinator.poolJudgedAgainst = 8, coordinator.poolJudgedByCoordinator = {}, marksLand(); }, 2}});
}

// ---- saves whose copies are still to be made ----

// Only the new patches are judged.
TEST_F(PatchScreenMenus, DeviceRowsSavedIntoThePoolShowAtOnceAndAreJudgedWhenTheirCopiesLand)
{
    load(10);
    appDelegate.setDeviceConnected(true);
    setPool({patchNode("Top")});
    coordinator.poolWarningAsks.clear();
    coordinator.holdCopies = true;
    selectPool({0});
    selectList({2, 3});
    screen->addBackUpPatchItemAtIndexs({2, 3}, screen->structureData()[0], false);
    for (const bool landed : {false, true}) {
        SCOPED_TRACE(landed ? "landed" : "asked");
        EXPECT_EQ(topNames(), (Names{"Top", "P3", "P2"}));
        EXPECT_EQ(records(), 1u);
        // The landing's reload keeps what is selected.
        EXPECT_EQ(pool().selectedRowList(), (std::vector<int>{1, 2}));
        if (landed) continue;
        ASSERT_EQ(coordinator.heldCopies.size(), 1u);
        const std::size_t asksBefore = warningAsks();
        coordinator.runHeldCopies();
        EXPECT_TRUE(processEventsUntil([&] { return warningAsks() > asksBefore; }, std::chrono::seconds(2)));
        ASSERT_EQ(warningAsks(), asksBefore + 1);
        EXPECT_EQ(coordinator.poolWarningAsks.back().size(), 2u);
    }
}

// The withdrawn copies' nodes leave before the undo goes on: no working file of the list goes to the bin.
TEST_F(PatchScreenMenus, AnAdditionUndoneBeforeItsCopiesBeganSendsNothingToTheBin)
{
    const Node group = groupNode("G", patchNodes("g", 1));
    restartHolding({patchNode("Top"), group});
    screen->addBackUpPatchItemAtIndexs({2, 3}, screen->structureData()[0], false);
    screen->insertBackUpPatchForPatchItemAtIndexs({4}, group, 0, false);
    ASSERT_EQ(topNames(), (Names{"Top", "P3", "P2", "G"}));
    ASSERT_EQ(group->childDirectories.size(), 2u);
    ASSERT_TRUE(recordsReach(2));
    log.clear();
    undo.doUndoAction();
    EXPECT_EQ(group->childDirectories.size(), 1u);
    undo.doUndoAction();
    EXPECT_EQ(topNames(), (Names{"Top", "G"}));
    coordinator.runHeldCopies();
    EXPECT_EQ(loggedWith("deletePatch"), Names{});
    EXPECT_EQ(loggedWith("writeFilePatch"), Names{});
    EXPECT_EQ(topNames(), (Names{"Top", "G"}));
}

// Saved patches whose copies have not begun (or their group) go at once: the copies are withdrawn, nothing
// of theirs goes to the bin and the saving's record stays. The undo puts each node back naming the file it
// was saved from and asks the copies again. A group the bin refuses stays whole, its copies asked again.
TEST_F(PatchScreenMenus, ADeletionDuringTheCopiesWithdrawsThemAndItsUndoAsksThemAgain)
{
    const struct {
        const char* what;
        bool intoGroup;
        // Deleted: pool rows (G open), or G with its children of these names.
        std::vector<int> rows;
        std::optional<Names> withGroup;
        // The tree left, and what the bin was asked for (what went there had landed before).
        Names left, bin;
        bool binRefuses;
    } cases[] = {
        {"all three saved into a group", true, {3, 4, 5}, {}, {"Top", "G", "g0"}, {}, false},
        {"one saved and one there before", true, {2, 3}, {}, {"Top", "G", "P3", "P4"}, {"deletePatchItem g0 in G"}, false},
        {"two saved at the top", false, {1, 2}, {}, {"Top", "G", "g0"}, {}, false},
        {"the group from its menu", true, {}, Names{}, {"Top"}, {"deletePatchGroup G"}, false},
        {"the group selected with its patches", true, {}, Names{"P2", "P3", "P4", "g0"}, {"Top"}, {"deletePatchGroup G"}, false},
        {"the group selected with one of its patches", true, {}, Names{"P3"}, {"Top"}, {"deletePatchGroup G"}, false},
        {"the group's folder refused by the bin", true, {}, Names{}, {}, {"deletePatchGroup G"}, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const Node group = groupNode("G", patchNodes("g", 1));
        restartHolding({patchNode("Top"), group}, {1});
        if (c.intoGroup) screen->insertBackUpPatchForPatchItemAtIndexs({2, 3, 4}, group, 0, false);
        else screen->addBackUpPatchItemAtIndexs({2, 3}, screen->structureData()[0], false);
        ASSERT_TRUE(recordsReach(1));
        const Names saved = tree();
        std::vector<Node> deleted = flat();
        PoolSelectionEntries entries{{nullptr, group}};
        for (const auto& node : group->childDirectories)
            if (c.withGroup && std::count(c.withGroup->begin(), c.withGroup->end(), *node->name)) entries.push_back({group, node});
        screen->reloadDataInPatchPool();
        pool().expandItem(pool().indexForRow(c.intoGroup ? 1 : 3));
        selectPool(c.rows);
        log.clear();
        if (c.binRefuses) coordinator.failingBinMoves.insert("G");
        screen->didClickOnDeleteButtonWithItems(&pool(), c.withGroup ? entries : screen->selectedPoolEntries());
        coordinator.failingBinMoves.clear();
        EXPECT_EQ(tree(), c.binRefuses ? saved : c.left);
        EXPECT_EQ(records(), c.binRefuses ? 1u : 2u) << "the saving's record went with the copies withdrawn";
        EXPECT_EQ(loggedWith("writeFilePatch"), Names{}) << "waited for a copy";
        EXPECT_EQ(loggedWith("delete"), c.bin);
        if (c.binRefuses) {
            ASSERT_EQ(coordinator.heldCopies.size(), 2u) << "the withdrawn copies were not asked again";
            coordinator.runHeldCopies();
            expectLanded();
            EXPECT_EQ(tree(), saved);
            continue;
        }
        EXPECT_EQ(coordinator.heldCopies.size(), 1u) << "the deletion waited for the saving's copies";
        const std::vector<Node> kept = flat();
        std::erase_if(deleted, [&](const Node& node) { return std::count(kept.begin(), kept.end(), node) > 0; });
        // The saving's batch ends: what it still held lands, the deleted nodes stay out, its record stays.
        coordinator.runHeldCopies();
        spin();
        EXPECT_EQ(tree(), c.left);
        EXPECT_EQ(records(), 2u);
        log.clear();
        undo.doUndoAction();
        EXPECT_EQ(tree(), saved);
        EXPECT_EQ(loggedWith("writeFilePatch"), Names{});
        ASSERT_EQ(coordinator.heldCopies.size(), 1u) << "the undo asked no copy again";
        expectSavedIn(deleted, "/root/Device/Patch/", true);
        coordinator.runHeldCopies();
        expectLanded();
        EXPECT_EQ(tree(), saved);
    }
}

// The copies are withdrawn and asked again where the patches go; the undo does the same, or moves the
// files once those copies have landed.
TEST_F(PatchScreenMenus, AMoveDuringTheCopiesAsksThemAgainWhereThePatchesGo)
{
    const struct {
        const char* what;
        bool landBeforeTheUndo;
        Names undoMoves;
    } cases[] = {
        {"undone before the new copies began", false, {}},
        {"undone after the new copies landed", true, {"movePatchItem P2 -> G", "movePatchItem P3 -> G"}},
    };
    for (const auto& each : cases) {
        SCOPED_TRACE(each.what);
        const Node group = groupNode("G", patchNodes("g", 1)), other = groupNode("H", {});
        restartHolding({group, other});
        screen->insertBackUpPatchForPatchItemAtIndexs({2, 3, 4}, group, 0, false);
        ASSERT_TRUE(recordsReach(1));
        log.clear();
        const auto moved = screen->patchPoolEditor().changePositionWithItems(
            {{group, group->childDirectories[1]}, {group, group->childDirectories[2]}}, other, 1);
        EXPECT_EQ(moved.size(), 2u);
        EXPECT_EQ(namesOf(group->childDirectories), (Names{"g0", "P4"}));
        EXPECT_EQ(namesOf(other->childDirectories), (Names{"P2", "P3"}));
        EXPECT_EQ(loggedWith("writeFilePatch"), Names{});
        EXPECT_EQ(loggedWith("movePatchItem"), Names{});
        ASSERT_EQ(coordinator.heldCopies.size(), 2u) << "the move asked no copy into where the patches went";
        if (each.landBeforeTheUndo) {
            coordinator.runHeldCopies();
            expectSavedIn(other->childDirectories, "/root/Temp/Local/H/", true);
        }
        log.clear();
        undo.doUndoAction();
        EXPECT_EQ(namesOf(group->childDirectories), (Names{"g0", "P2", "P3", "P4"}));
        EXPECT_TRUE(other->childDirectories.empty());
        EXPECT_EQ(loggedWith("writeFilePatch"), Names{});
        EXPECT_EQ(loggedWith("movePatchItem"), each.undoMoves);
        coordinator.runHeldCopies();
        expectSavedIn(group->childDirectories, "/root/Temp/Local/G/", true);
        EXPECT_EQ(namesOf(group->childDirectories), (Names{"g0", "P2", "P3", "P4"}));
    }
}

// One file saved twice, both copies still to be made: a deletion cannot tell which copy is its own, so
// takes none; the patch that stays gets its own copy, never keeping the file it was saved from.
TEST_F(PatchScreenMenus, ADeletionOfAPatchSavedTwiceLeavesTheOtherItsCopy)
{
    for (const int deleted : {1, 2}) {
        SCOPED_TRACE(deleted);
        restartHolding({patchNode("Top")});
        for (int twice = 0; twice < 2; ++twice) screen->addBackUpPatchItemAtIndexs({2}, screen->structureData()[0], false);
        ASSERT_TRUE(recordsReach(2));
        ASSERT_EQ(topNames().size(), 3u);
        const Node going = screen->structureData()[static_cast<std::size_t>(deleted)];
        const Node staying = screen->structureData()[static_cast<std::size_t>(3 - deleted)];
        screen->reloadDataInPatchPool();
        selectPool({deleted});
        deleteSelected();
        coordinator.runHeldCopies();
        spin();
        ASSERT_EQ(topNames().size(), 2u);
        EXPECT_EQ(screen->structureData()[1], staying);
        expectSavedIn({staying}, "/root/Temp/Local/");
        undo.doUndoAction();
        coordinator.runHeldCopies();
        spin();
        ASSERT_EQ(topNames().size(), 3u);
        expectSavedIn({going, staying}, "/root/Temp/Local/");
    }
}

TEST_F(PatchScreenMenus, AGroupTakesItsSelectedChildrenAndFailuresAreToldOneByOne)
{
    load(5);
    setPool({groupNode("G", patchNodes("g", 2)), patchNode("X"), patchNode("Y")}, {0});
    selectPool({0, 1, 2});
    deleteSelected();
    EXPECT_EQ(topNames(), (Names{"X", "Y"}));
    EXPECT_EQ(log[0], "deletePatchGroup G");
    EXPECT_FALSE(logged("deletePatchItem g0 in G"));
    EXPECT_EQ(lastRecord<DeleteAction>()->deletedActions.size(), 1u);
    coordinator.failingBinMoves = {"X", "Y"};
    log.clear();
    appDelegate.setIsPatchPoolChanged(false);
    selectPool({0, 1});
    deleteSelected();
    EXPECT_TRUE(logged("info Patch_CanNotDeletePatchItem X"));
    EXPECT_TRUE(logged("info Patch_CanNotDeletePatchItem Y"));
    EXPECT_EQ(records(), 1u);
    EXPECT_FALSE(appDelegate.isPatchPoolChanged());
}

TEST_F(PatchScreenMenus, DeletingABackupGroupLeavesRestoreAllMode)
{
    load(5);
    setPool({groupNode("Backup", patchNodes("B", 2), true)});
    selectPool({0});
    EXPECT_TRUE(screen->isRestoreAllMode());
    deleteSelected();
    EXPECT_FALSE(screen->isRestoreAllMode());
    EXPECT_EQ(lastRecord<DeleteAction>()->deletedActions.front()->deleteType, 1);
}

// ---- property sheets ----

// A patch sheet saved unchanged records nothing; a changed comment is written to the same patch (the list's
// slot to the unit) and recorded as its edit, which undoes like any other; Cancel ends the sheet.
TEST_F(PatchScreenMenus, APatchSheetSavesOnlyAChangeAndWritesItsOneSlot)
{
    load(10);
    const Node group = groupNode("G", patchNodes("g", 2));
    setPool({group}, {0});
    const Node g1 = group->childDirectories[1];
    const struct {
        const char* what;
        std::function<PatchPropertyViewController*()> open;
        std::function<PatchItem*()> item;
        int saveEnds, cancelEnds;
        std::int64_t type;
        // What the changed comment's save asks before its sheet ends; the group recorded with the edit.
        Names writes;
        Node recordedGroup;
    } cases[] = {
        {"the list's", [&] { return openListSheet(4); }, [&] { return screen->patchItems()[4].get(); }, 1, 2, 5,
         {"editFilePatch P4|warmer", "writeItem 4", "setReloadBufferDataTimer"}, nullptr},
        {"the pool's", [&] { return openPoolSheet(g1, group); }, [&] { return g1->patchItem(); }, 3, 4, 6,
         {"editFilePatch g1|warmer"}, group},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        PatchItem* const item = c.item();
        const std::string before = item->patchComment;
        log.clear();
        ASSERT_NE(c.open(), nullptr);
        EXPECT_TRUE(appDelegate.isShowingDialog());
        screen->patchPropertyViewController()->saveButtonClicked();
        EXPECT_EQ(log, (Names{"addSheetAction", "sheet shown", "endSheet " + std::to_string(c.saveEnds)}));
        EXPECT_FALSE(appDelegate.isShowingDialog());
        EXPECT_EQ(records(), 0u);
        c.open()->patchCommentTextView()->setPlainText(QStringLiteral("warmer"));
        log.clear();
        screen->patchPropertyViewController()->saveButtonClicked();
        if (!c.recordedGroup) {
            EXPECT_EQ(c.item(), item) << "the slot keeps its patch";
        }
        EXPECT_EQ(c.item()->patchComment, "warmer");
        Names writes = c.writes;
        writes.push_back("endSheet " + std::to_string(c.saveEnds));
        EXPECT_EQ(log, writes);
        ASSERT_EQ(records(), 1u);
        const auto record = lastRecord<ChangeTextAction>();
        EXPECT_EQ(record->mType, c.type);
        EXPECT_EQ(record->mOldText, record->mNewText);
        EXPECT_EQ(record->mOldSecondText, before);
        EXPECT_EQ(record->mNewSecondText, "warmer");
        if (c.recordedGroup) {
            EXPECT_EQ(std::get<Node>(record->mGroupOfItem), c.recordedGroup);
            EXPECT_TRUE(appDelegate.isPatchPoolChanged());
        }
        undo.doUndoAction();
        EXPECT_EQ(c.item()->patchComment, before);
        c.open();
        log.clear();
        screen->patchPropertyViewController()->cancelButtonClicked();
        EXPECT_EQ(log, Names{"endSheet " + std::to_string(c.cancelEnds)});
    }
    // An edit the file cannot take keeps the patch as it was and says so.
    coordinator.editSucceeds = false;
    openListSheet(4)->patchNameTextField()->setText(QStringLiteral("New"));
    log.clear();
    screen->patchPropertyViewController()->saveButtonClicked();
    EXPECT_EQ(log, (Names{"editFilePatch New|C4", "info Patch_CanNotEditPatchItem P4", "endSheet 1"}));
    EXPECT_EQ(screen->patchItems()[4]->patchName, "P4");
}

// The save goes over the unit's patch, each text the sheet changed over the unit's.
TEST_F(PatchScreenMenus, AChangeTheUnitReportsWhileTheListSheetIsOpenIsKeptUnderItsSave)
{
    load(10);
    openListSheet(4);
    const auto original = screen->patchItems()[4];
    auto changed = patch("Knob", "From the unit");
    changed->path = "/root/Temp/Device/Patch/0_0_4 (1).qptc";
    screen->updatePatchItem(changed, label(4, 5));
    screen->patchPropertyViewController()->patchCommentTextView()->setPlainText(QStringLiteral("warmer"));
    log.clear();
    screen->patchPropertyViewController()->saveButtonClicked();
    EXPECT_EQ(screen->patchItems()[4], original);
    EXPECT_EQ(original->path, changed->path);
    EXPECT_EQ(original->patchName, "Knob");
    EXPECT_EQ(original->patchComment, "warmer");
    EXPECT_EQ(screen->bufferedChangeCount(), 0u);
    EXPECT_EQ(log, (Names{"updateWarning Knob", "editFilePatch Knob|warmer", "writeItem 4", "setReloadBufferDataTimer",
                          "endSheet 1"}));
    const auto record = lastRecord<ChangeTextAction>();
    ASSERT_TRUE(record);
    EXPECT_EQ(record->mOldText, "Knob");
    EXPECT_EQ(record->mOldSecondText, "From the unit");
}

// Never the unit's working file it was copied from; a copy that failed edits nothing.
TEST_F(PatchScreenMenus, APoolPatchSheetOpenedBeforeItsCopyLandedRewritesThePoolsCopy)
{
    loadWithPaths(5);
    setPool({patchNode("Top")});
    coordinator.holdCopies = true;
    coordinator.failingCopies = {"P3"};
    const auto saveFirst = [&](std::int64_t slot) {
        screen->addBackUpPatchItemAtIndexs({slot}, screen->structureData()[0], false);
        return screen->structureData()[1];
    };
    const auto sheetSaves = [&](const Node& node, const char* comment) {
        openPoolSheet(node)->patchCommentTextView()->setPlainText(QString::fromUtf8(comment));
        log.clear();
        screen->patchPropertyViewController()->saveButtonClicked();
    };
    const Node saved = saveFirst(2);
    ASSERT_EQ(saved->patchItem()->path, "/root/Device/Patch/P2.qptc");
    sheetSaves(saved, "new");
    EXPECT_EQ(coordinator.editedPaths, Names{"/root/Temp/Local/P2.qptc"});
    EXPECT_EQ(saved->patchItem()->path, "/root/Temp/Local/P2.qptc");
    EXPECT_EQ(saved->patchItem()->patchComment, "new");
    sheetSaves(saveFirst(3), "lost");
    EXPECT_EQ(coordinator.editedPaths.size(), 1u);
    EXPECT_TRUE(logged("info Patch_CanNotEditPatchItem P3"));
    // A sheet on another patch than those being copied waits for none of their copies.
    const Node pending = saveFirst(4);
    sheetSaves(saved, "again");
    EXPECT_EQ(coordinator.settles, 0);
    EXPECT_EQ(pending->patchItem()->path, "/root/Device/Patch/P4.qptc") << "the sheet's save landed another patch's copy";
    EXPECT_EQ(coordinator.editedPaths.back(), "/root/Temp/Local/P2.qptc");
}

TEST_F(PatchScreenMenus, AGroupSheetMovesTheFolderForAnyRenameAndKeepsTheNameWhenItCannot)
{
    load(5);
    const Node live = groupNode("Live", {});
    setPool({live, groupNode("Other", {})});
    PatchGroupPropertyViewController* sheet = openGroupSheet(live, "LIVE");
    ASSERT_NE(sheet, nullptr);
    sheet->saveButtonClicked();
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log.front(), "renameGroup Live -> LIVE");
    EXPECT_EQ(*live->name, "LIVE");
    EXPECT_EQ(lastRecord<ChangeTextAction>()->mType, 4);
    EXPECT_EQ(lastRecord<ChangeTextAction>()->mOldText, "Live");
    EXPECT_EQ(log.back(), "endSheet 3");
    coordinator.renameResult = 1;
    openGroupSheet(live, "Other")->saveButtonClicked();
    EXPECT_EQ(log, (Names{"renameGroup LIVE -> Other", "info Patch_FileExist", "endSheet 3"}));
    EXPECT_EQ(*live->name, "LIVE");
    EXPECT_EQ(records(), 1u);
}

// The screen hears of the selection kept over the reload, so a renamed backup group still restores.
TEST_F(PatchScreenMenus, APoolSheetsSaveAndItsUndoKeepTheSelectionAndTheRestoreAllButton)
{
    appDelegate.setDeviceConnected(true);
    load(4);
    const Node group = groupNode("G", patchNodes("g", 2)), backup = groupNode("Backup", patchNodes("b", 2), true);
    setPool({group, backup}, {0});  // rows: 0 G, 1 g0, 2 g1, 3 Backup
    selectPool({3});
    ASSERT_TRUE(screen->isRestoreAllMode());
    openGroupSheet(backup, "Gig")->saveButtonClicked();
    for (const char* name : {"Gig", "Backup"}) {
        ASSERT_EQ(*backup->name, name);
        EXPECT_EQ(pool().selectedRowList(), (std::vector<int>{3}));
        EXPECT_TRUE(screen->isRestoreAllMode());
        if (*backup->name == "Gig") undo.doUndoAction();
    }
    screen->backUpButtonClick();
    EXPECT_EQ(screen->numberOfRestoredDictionaryArray().size(), 1u) << "Restore All restored";
    appDelegate.setIsRestoringAll(false);
    screen->setlockPatchList(false);
    // A pool patch's sheet keeps the rows picked, and a selection whose items went is told as empty.
    selectPool({1, 2});
    openPoolSheet(group->childDirectories[1], group)->patchCommentTextView()->setPlainText(QStringLiteral("new"));
    screen->patchPropertyViewController()->saveButtonClicked();
    ASSERT_EQ(group->childDirectories[1]->patchItem()->patchComment, "new");
    EXPECT_EQ(pool().selectedRowList(), (std::vector<int>{1, 2}));
    selectPool({3});
    ASSERT_TRUE(screen->isRestoreAllMode());
    setPool({group});
    EXPECT_TRUE(pool().selectedRowList().empty());
    EXPECT_FALSE(screen->isRestoreAllMode());
}

TEST_F(PatchScreenMenus, AQueuedSheetWhoseTargetHasGoneOpensNothing)
{
    load(5);
    const Node gone = patchNode("Gone");
    setPool({gone});
    screen->didClickOnPropertyButtonAtIndex(list(), 4);
    screen->didClickOnPropertyButtonAtItem(&pool(), gone, nullptr);
    screen->setPatchItems({});
    screen->setStructureData({});
    log.clear();
    EXPECT_EQ(dialogs.runSheets(), nullptr);
    EXPECT_EQ(log, (Names{"sheet not shown", "sheet not shown"}));
    EXPECT_FALSE(appDelegate.isShowingDialog());
}

// Through the dialog queue into the sheet window: what is typed at once replaces the name; Return saves it.
TEST_F(PatchScreenMenus, ASheetOpensWithItsNameSelectedForTheKeyboard)
{
    MainWindow window;
    appDelegate.setMainWindow(&window);
    ShowingDialogQueue queue{appDelegate};
    QueuePatchDialogs queued{queue};
    PatchManagerViewController shown(
        PatchManagerViewController::Collaborators{appDelegate, coordinator, undo, center, queued, textRules, 0});
    shown.setMainController(&mainController);
    window.setContentView(shown.view());
    window.resize(900, 600);
    window.show();
    auto bank = std::make_shared<BankItem>();
    bank->bankName = "1-1";
    shown.setNumberOfSlotsInBlank(1);
    shown.setPatchItems({patch("Clean", "c")});
    shown.setBankItems({bank});
    shown.setIsPatchListLoaded(true);
    shown.reloadDataInPatchList();
    const Node group = groupNode("Live", {});
    shown.setStructureData({group});
    shown.reloadDataInPatchPool();
    // Waits for `field` to take the keys with `selected` selected, then types N and Return into it.
    const auto typeAndReturn = [&](QLineEdit* field, const char* selected) {
        ASSERT_TRUE(processEventsUntil([&] { return QApplication::focusWidget() == field && field->selectedText() == QString::fromUtf8(selected); }))
            << "focus in " << (QApplication::focusWidget() ? QApplication::focusWidget()->metaObject()->className() : "nothing");
        key(field, Qt::Key_N, Qt::NoModifier, QStringLiteral("N"));
        ASSERT_EQ(QApplication::focusWidget(), field);
        key(field, Qt::Key_Return, Qt::NoModifier, QStringLiteral("\r"));
        ASSERT_TRUE(processEventsUntil([&] { return queue.showingSheet() == nullptr; }));
    };
    shown.didClickOnPropertyButtonAtIndex(*shown.patchManagerTableView(), 0);
    ASSERT_NE(shown.patchPropertyViewController(), nullptr);
    typeAndReturn(shown.patchPropertyViewController()->patchNameTextField(), "Clean");
    EXPECT_EQ(shown.patchItems()[0]->patchName, "N");
    shown.didClickOnPropertyButtonAtItem(shown.rightPanelOutlineView(), group, nullptr);
    ASSERT_NE(shown.patchGroupPropertyViewController(), nullptr);
    typeAndReturn(shown.patchGroupPropertyViewController()->groupNameTextField(), "Live");
    EXPECT_EQ(*group->name, "N");
    window.hide();
    appDelegate.setMainWindow(nullptr);
}

// ---- right clicks ----

TEST_F(PatchScreenMenus, ARightClickSelectsAnUnselectedRowAndOpensTheMenuNotUnderADialog)
{
    load(5);
    setPool(patchNodes("T", 4));
    pool().resize(300, 400);
    const auto release = [&](int row) {
        testing_app::click(pool().viewport(), row >= 0 ? pool().visualRect(pool().indexForRow(row)).center() : QPoint(20, 380),
                Qt::RightButton);
    };
    selectPool({1, 2});
    release(2);
    EXPECT_EQ(pool().selectedRowList(), (std::vector<int>{1, 2}));
    ASSERT_NE(pool().optionMenu(), nullptr);
    EXPECT_EQ(pool().optionMenu()->targetItems().size(), 2u);
    EXPECT_EQ(*pool().optionMenu()->item()->name, "T2");
    EXPECT_EQ(pool().optionMenu()->typeOfPatchGroupInPool(), 2);
    release(3);
    EXPECT_EQ(pool().selectedRowList(), (std::vector<int>{3}));
    EXPECT_EQ(pool().optionMenu()->targetItems().size(), 1u);
    release(-1);
    EXPECT_EQ(pool().selectedRowList(), (std::vector<int>{3}));
    EXPECT_EQ(pool().optionMenu()->typeOfPatchGroupInPool(), 128);
    EXPECT_EQ(pool().optionMenu()->item(), nullptr);
    // The menu's delete goes to the screen.
    selectPool({0});
    release(0);
    pool().optionMenu()->deleteButton()->click();
    EXPECT_EQ(topNames(), (Names{"T1", "T2", "T3"}));
    OptionMenuForPatchPool* before = pool().optionMenu();
    appDelegate.setIsShowingDialog(true);
    release(1);
    EXPECT_EQ(pool().optionMenu(), before);
    EXPECT_TRUE(pool().selectedRowList().empty());
}

// Its write would queue behind the eject and never reach the unit; a Restore All ending meanwhile is the same.
TEST_F(PatchScreenMenus, WhatOpenedBeforeTheUnitBeganToGoChangesNothingOfItsList)
{
    const auto undoImage = [&] { return screen->view()->findChildren<RightClickImageView*>().front(); };
    const struct {
        const char* name;
        // Opens what the gesture comes from, before the wait.
        std::function<void()> open, gesture;
    } cases[] = {
        {"the list sheet's Save",
         [&] { openListSheet(4)->patchNameTextField()->setText(QStringLiteral("Lost Name")); },
         [&] { screen->patchPropertyViewController()->saveButtonClicked(); }},
        {"the list menu's read from the pool", [] {}, [&] { screen->didClickOnReadingFromPatchPoolButtonAtIndex(list(), 4); }},
        {"the pool menu's copy to the unit", [] {},
         [&] { screen->didClickOnButtonCopyToDeviceMemoryAtItems(&pool(), screen->selectedPoolEntries()); }},
        {"the list menu's Undo", [] {}, [&] { screen->didClickOnUndoButtonAtIndex(list(), 4); }},
        {"the pool menu's Undo", [] {}, [&] { screen->didClickOnUndoButtonAtItem(&pool(), nullptr, nullptr); }},
        {"the undo popover's Undo", [&] { undoImage()->drawOptionMenu(QPoint(100, 100)); },
         [&] { undoImage()->undoMenuDidClickOnUndoButton(); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        load(10);
        setPool({patchNode("T0")});
        selectList({4});
        selectPool({0});
        // The newest edit put a pool patch into a slot: its undo writes the unit.
        screen->didClickOnReadingFromPatchPoolButtonAtIndex(list(), 4);
        ASSERT_EQ(names()[4], "T0");
        c.open();
        const auto shown = names();
        const std::size_t writes = coordinator.writes.size(), undoable = records();
        log.clear();
        appDelegate.setLettingDeviceGo(true);
        c.gesture();
        EXPECT_EQ(names(), shown);
        EXPECT_EQ(coordinator.writes.size(), writes);
        EXPECT_EQ(records(), undoable);
        EXPECT_FALSE(logged("writeItem 4"));
        // A Restore All ending meanwhile leaves the list locked.
        screen->setlockPatchList(false);
        EXPECT_TRUE(list().lockTableView());
        appDelegate.setLettingDeviceGo(false);
        appDelegate.setIsShowingDialog(false);
        RightClickImageView::getMenuPopover()->close();
        undo.clearUndoStack();
    }
}

TEST_F(PatchScreenMenus, TheListMenusButtonsReachTheScreenByTheMouse)
{
    load(10);
    setPool({patchNode("T0")});
    list().resize(600, 700);
    const auto rightClick = [&](int row) { testing_app::click(list().viewport(), list().visualRect(list().model()->index(row, 1)).center(), Qt::RightButton); };
    rightClick(3);
    ASSERT_NE(list().optionMenu(), nullptr);
    EXPECT_EQ(list().optionMenu()->targetIndex(), 3u);
    EXPECT_FALSE(list().optionMenu()->readingInPatchPoolButton()->isEnabled());
    list().optionMenu()->savingInPatchPoolButton()->click();
    EXPECT_EQ(topNames(), (Names{"T0", "P3"}));
    rightClick(3);
    list().optionMenu()->propertyButton()->click();
    EXPECT_EQ(dialogs.waitingSheets.size(), 1u);
    EXPECT_FALSE(list().menuPopover()->isVisible());
}

// ---- the menus themselves ----

using Pool = OptionMenuForPatchPool;

// A row of the pool for the menus.
Node node(const std::string& name, bool group = false, bool backupAll = false, bool incompatible = false)
{
    Node made = group ? groupNode(name, {}, backupAll) : patchNode(name);
    made->isIncompatible = incompatible;
    return made;
}

TEST(OptionMenuForPatchPoolRules, EachKindOfRowHasItsBitAndIncompatibleAddsOne)
{
    const Node ordinary = node("G", true), backup = node("B", true, true);
    const std::tuple<Node, Node, std::int64_t> cases[] = {
        {node("p"), nullptr, 2}, {node("p"), backup, 4},      {node("p"), ordinary, 8},
        {ordinary, nullptr, 16}, {backup, nullptr, 32},       {node("p", false, false, true), nullptr, 2 | 64},
        {node("B2", true, true, true), nullptr, 32 | 64},
    };
    for (const auto& [item, parent, mask] : cases) EXPECT_EQ(Pool::maskForRow(*item, parent.get()), mask) << *item->name;
    const PoolSelectionEntries mixed = {{nullptr, ordinary}, {ordinary, node("x")}, {backup, node("y", false, false, true)}};
    EXPECT_EQ(Pool::maskForSelection(mixed), 16 | 8 | 4 | 64);
    EXPECT_EQ(Pool::maskForSelection({}), 0);
}

TEST(OptionMenuForPatchPoolRules, TheButtonsFollowTheMaskTheRestoreTheDeviceAndTheUndoStack)
{
    const struct {
        const char* name;
        Pool::State state;
        bool write, del, property, undo;
        const char* title;
    } cases[] = {
        {"plain patches", {2, false, true, true, true}, true, true, true, true, "Patch_CopyToDeviceMemory"},
        {"a backup group", {32 | 2, false, true, true, false}, true, true, true, false, "Patch_RestoreAllToDevice"},
        {"restoring", {2, true, true, true, true}, false, true, true, false, "Patch_CopyToDeviceMemory"},
        {"incompatible", {2 | 64, false, true, true, true}, false, true, true, true, "Patch_CopyToDeviceMemory"},
        {"in a backup", {4, false, true, true, true}, true, false, true, true, "Patch_CopyToDeviceMemory"},
        {"empty space", {128, false, true, true, true}, false, false, false, true, "Patch_CopyToDeviceMemory"},
        {"no device", {2, false, true, false, true}, false, true, true, true, "Patch_CopyToDeviceMemory"},
        {"the screen says no", {16, false, false, true, true}, false, true, true, true, "Patch_CopyToDeviceMemory"},
    };
    for (const auto& each : cases) {
        const auto enabled = Pool::enabling(each.state);
        EXPECT_EQ(std::tuple(enabled.writeOrRestore, enabled.del, enabled.property, enabled.undo, enabled.createGroup),
                  std::tuple(each.write, each.del, each.property, each.undo, true))
            << each.name;
        EXPECT_EQ(enabled.writeOrRestoreTitleKey, each.title) << each.name;
    }
    EXPECT_FALSE(Pool::asksCanCopy(128, false));
    EXPECT_FALSE(Pool::asksCanCopy(2 | 64, false));
    EXPECT_FALSE(Pool::asksCanCopy(2, true));
}

TEST(OptionMenuForPatchViewControllerRules, TheLibraryButtonsAreTheScreensAndUndoWaitsForTheRestore)
{
    using State = OptionMenuForPatchViewController::State;
    for (const auto& [state, saving, reading, undo] : {std::tuple{State{true, true, true, false}, true, true, true},
                                                       {State{false, true, true, true}, false, true, false},
                                                       {State{true, false, false, false}, true, false, false}}) {
        const auto enabled = OptionMenuForPatchViewController::enabling(state);
        EXPECT_EQ(std::tuple(enabled.saving, enabled.reading, enabled.undo, enabled.property),
                  std::tuple(saving, reading, undo, true));
    }
}

// Implements only what it is told to; logs every call.
class PoolMenuDelegate final : public OptionMenuForPatchPoolDelegate {
public:
    Log log;
    void optionMenuForPatchPoolDidClickOnButtonRestoreAllToDeviceAtItem(Pool*, const Node& item, const Node& group) override
    {
        logs(log, "restore")(item, std::string(group ? "in group" : ""));
    }
    void optionMenuForPatchPoolDidClickOnButtonCopyToDeviceMemoryAtItems(Pool*, const PoolSelectionEntries& items) override
    {
        logs(log, "copy")(items.size());
    }
    void optionMenuForPatchPoolDidClickOnDeleteButtonWithItems(Pool*, const PoolSelectionEntries& items) override
    {
        logs(log, "delete")(items.size());
    }
    void optionMenuForPatchPoolDidClickOnPropertyButtonAtItem(Pool*, const Node& item, const Node& group) override
    {
        logs(log, "property")(item, group);
    }
    void optionMenuForPatchPoolDidClickOnCreateGroupButtonAtItem(Pool*, const Node& item, const Node&) override
    {
        logs(log, "create")(std::string(item ? "item" : "nothing"));
    }
    bool optionMenuForPatchPoolCanCopyToDeviceMemory(Pool*) override
    {
        log.push_back("asked");
        return true;
    }
};

class OptionMenusTest : public ::testing::Test {
protected:
    QApplication& app = application();
    AppDelegate appDelegate;
};

TEST_F(OptionMenusTest, ThePoolMenuSendsTheSelectionOrTheClickedItemAndNothingUnderADialog)
{
    appDelegate.setDeviceConnected(true);
    PoolMenuDelegate delegate;
    const Node group = node("G", true), child = node("c");
    const PoolSelectionEntries entries = {{group, child}, {nullptr, node("Backup", true, true)}, {nullptr, node("Second", true, true)}};
    Pool menu(Pool::maskForSelection(entries), child, group, entries, &delegate, appDelegate, false);
    EXPECT_EQ(delegate.log, Log{"asked"});
    EXPECT_TRUE(menu.writeOrRestoreButton()->isEnabled());
    EXPECT_FALSE(menu.undoButton()->isEnabled());
    for (auto* button : {menu.writeOrRestoreButton(), menu.deleteButton(), menu.propertyButton(), menu.createGroupButton()})
        button->click();
    // Undo is not implemented by this delegate: the enabled button does nothing.
    menu.ClickedOnUndoButton();
    EXPECT_EQ(delegate.log, (Log{"asked", "restore Backup", "delete 3", "property c G", "create item"}));

    appDelegate.setIsShowingDialog(true);
    delegate.log.clear();
    menu.ClickedOnWriteOrRestoreButton();
    menu.ClickedOnDeleteButton();
    menu.ClickedOnPropertyButton();
    menu.didClickOnCreateGroupButton();
    EXPECT_TRUE(delegate.log.empty());
}

TEST_F(OptionMenusTest, ThePoolMenuAsksOnlyWhenTheAnswerCountsAndASilentDelegateMeansNo)
{
    appDelegate.setDeviceConnected(true);
    PoolMenuDelegate delegate;
    Pool empty(Pool::kEmptySpace, nullptr, nullptr, {}, &delegate, appDelegate, true);
    EXPECT_TRUE(delegate.log.empty());
    EXPECT_EQ(std::tuple(empty.writeOrRestoreButton()->isEnabled(), empty.deleteButton()->isEnabled(),
                         empty.propertyButton()->isEnabled(), empty.undoButton()->isEnabled()),
              std::tuple(false, false, false, true));
    empty.createGroupButton()->click();
    EXPECT_EQ(delegate.log, Log{"create nothing"});

    OptionMenuForPatchPoolDelegate silent;
    const Node patch = node("p");
    Pool quiet(2, patch, nullptr, {{nullptr, patch}}, &silent, appDelegate, false);
    EXPECT_FALSE(quiet.writeOrRestoreButton()->isEnabled());
    EXPECT_EQ(quiet.writeOrRestoreButton()->objectName(), QStringLiteral("Patch_CopyToDeviceMemory"));
    EXPECT_TRUE(quiet.deleteButton()->isEnabled());
    quiet.deleteButton()->click();
}

class ListMenuDelegate final : public OptionMenuForPatchViewControllerDelegate {
public:
    Log log;
    void optionMenuDidClickOnSavingInPatchPoolButtonAtIndex(std::uint64_t row) override { logs(log, "save")(row); }
    void optionMenuDidClickOnPropertyButtonAtIndex(std::uint64_t row) override { logs(log, "property")(row); }
    bool optionMenuCanSaveToPatchPool() override { return true; }
};

TEST_F(OptionMenusTest, TheListMenuPassesItsRowAndASilentQuestionIsNo)
{
    ListMenuDelegate delegate;
    OptionMenuForPatchViewController menu(7, nullptr, &delegate, appDelegate, true);
    EXPECT_EQ(std::tuple(menu.savingInPatchPoolButton()->isEnabled(), menu.readingInPatchPoolButton()->isEnabled(),
                         menu.undoButton()->isEnabled(), menu.propertyButton()->isEnabled()),
              std::tuple(true, false, true, true));
    menu.savingInPatchPoolButton()->click();
    menu.propertyButton()->click();
    menu.undoButtonClicked();
    EXPECT_EQ(delegate.log, (Log{"save 7", "property 7"}));

    appDelegate.setIsRestoringAll(true);
    OptionMenuForPatchViewController restoring(7, nullptr, &delegate, appDelegate, true);
    EXPECT_FALSE(restoring.undoButton()->isEnabled());
    appDelegate.setIsShowingDialog(true);
    delegate.log.clear();
    restoring.savingInPatchPoolButtonClicked();
    restoring.propertyButtonClicked();
    EXPECT_TRUE(delegate.log.empty());
}

}  // namespace
}  // namespace testing_app
