#include <gtest/gtest.h>

#include <QApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTimer>

#include <algorithm>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/controls/AutoClosePopover.h"
#include "app/dialogs/ShowingDialogQueue.h"
#include "app/controls/RightClickButton.h"
#include "app/controls/RightClickImageView.h"
#include "app/patch/CustomTableViewForPatch.h"
#include "app/patch/CustomTextViewForPatchProperty.h"
#include "app/patch/OptionMenuForPatchPool.h"
#include "app/patch/OptionMenuForPatchViewController.h"
#include "app/patch/PatchGroupPropertyViewController.h"
#include "app/patch/PatchPoolModel.h"
#include "app/patch/PatchPoolEditor.h"
#include "app/patch/PatchPoolOutlineView.h"
#include "app/patch/PatchPropertyViewController.h"
#include "app/patch/QueuePatchDialogs.h"
#include "app/shell/MainWindow.h"
#include "library/models/DirectoryObject.h"
#include "library/undo/AddToPatchPoolAction.h"
#include "library/undo/ChangeTextAction.h"
#include "library/undo/DeleteAction.h"
#include "library/undo/DragFromPoolToListAction.h"
#include "support/app/PatchScreenRig.h"

namespace {

using Node = std::shared_ptr<DirectoryObject>;

Node patchNode(const std::string& name, bool incompatible = false)
{
    auto node = std::make_shared<DirectoryObject>();
    node->name = name;
    auto item = std::make_shared<PatchItem>();
    item->patchName = name;
    item->patchComment = "c" + name;
    item->path = "/root/Temp/Local/" + name + ".qptc";
    node->object = item;
    node->isIncompatible = incompatible;
    return node;
}

Node groupNode(const std::string& name, std::vector<Node> children, bool backupAll = false)
{
    auto group = std::make_shared<DirectoryObject>();
    group->name = name;
    group->path = name;
    group->isGroup = true;
    group->isBackUpAllGroup = backupAll;
    group->childDirectories = std::move(children);
    return group;
}

std::vector<Node> patchNodes(const std::string& prefix, int count)
{
    std::vector<Node> nodes;
    for (int i = 0; i < count; ++i) nodes.push_back(patchNode(prefix + std::to_string(i)));
    return nodes;
}

class PatchScreenMenus : public testing_app::PatchScreenRig {
protected:
    PatchPoolOutlineView& pool() { return *screen->rightPanelOutlineView(); }
    CustomTableViewForPatch& list() { return *screen->patchManagerTableView(); }

    void setPool(std::vector<Node> nodes, const std::vector<int>& expandedRows = {})
    {
        screen->setStructureData(std::move(nodes));
        screen->reloadDataInPatchPool();
        for (const int row : expandedRows) pool().expandItem(pool().indexForRow(row));
        log.clear();
    }
    // Waits until a pool pass asked before now would have taken the pool: a marker sent the way the
    // screen sends its pass (two one-millisecond turns), which Qt runs after it, as timers of one interval
    // run in the order they were started.
    static void settlePoolPass()
    {
        const auto passed = std::make_shared<bool>(false);
        QTimer::singleShot(1, [passed] { QTimer::singleShot(1, [passed] { *passed = true; }); });
        ASSERT_TRUE(testing_app::processEventsUntil([passed] { return *passed; }, std::chrono::seconds(30)));
    }
    void selectPool(const std::vector<int>& rows) { pool().selectRows(rows); }
    void selectList(const std::vector<std::uint64_t>& rows) { list().setUpCurrentSelectionWithIndexSet(rows, false); }
    template <typename Record>
    std::shared_ptr<Record> lastRecord()
    {
        if (undo.actionStack().empty()) return nullptr;
        // The newest record is the first.
        return std::dynamic_pointer_cast<Record>(undo.actionStack().front());
    }
    std::vector<std::string> topNames() const
    {
        std::vector<std::string> result;
        for (const auto& node : screen->structureData()) result.push_back(node->name.value_or(""));
        return result;
    }
    std::size_t records() const { return undo.actionStack().size(); }
    bool logged(const std::string& entry) const { return std::find(log.begin(), log.end(), entry) != log.end(); }
};

// ---- the screen's answers to the menus ----

TEST_F(PatchScreenMenus, TheQuestionsFollowThePoolSelectionTheListAndTheLocks)
{
    load(10);
    const Node backup = groupNode("Backup", patchNodes("B", 2), true);
    setPool({patchNode("Odd", true), patchNode("Top"), backup}, {2});
    struct Case {
        const char* name;
        std::vector<int> pool;
        std::vector<std::uint64_t> list;
        bool canSave, canRead, canCopy;
    };
    const std::vector<Case> cases = {
        {"nothing in the pool", {}, {1}, true, false, false},
        {"a patch without a list row", {1}, {}, true, true, false},
        {"a patch with a list row", {1}, {1}, true, true, true},
        {"an incompatible patch first", {0, 1}, {1}, true, false, false},
        {"a backup group alone", {2}, {}, true, true, true},
        {"a patch in the backup", {3}, {1}, false, true, true},
    };
    for (const auto& each : cases) {
        selectPool(each.pool);
        selectList(each.list);
        if (each.list.empty()) list().clearSelection();
        EXPECT_EQ(screen->tableViewCanSaveToPatchPool(list()), each.canSave) << each.name;
        EXPECT_EQ(screen->tableViewCanReadFromPatchPool(list()), each.canRead) << each.name;
        EXPECT_EQ(screen->patchPoolOutlineViewCanCopyToDeviceMemory(&pool()), each.canCopy) << each.name;
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
    const Node backup = groupNode("Backup", patchNodes("B", 1), true);
    setPool({patchNode("Top"), group, backup}, {1});
    selectList({5});

    screen->didClickOnSavingInPatchPoolButtonAtIndex(list(), 5);
    EXPECT_EQ(topNames(), (std::vector<std::string>{"Top", "G", "Backup", "P5"}));
    EXPECT_EQ(lastRecord<AddToPatchPoolAction>()->mType, 2);
    EXPECT_TRUE(logged("writeFilePatch  -> /root/Temp/Local"));

    // The third child of a group: the patch goes in above it.
    selectPool({4});
    screen->didClickOnSavingInPatchPoolButtonAtIndex(list(), 5);
    ASSERT_EQ(group->childDirectories.size(), 4u);
    EXPECT_EQ(group->childDirectories[2]->name, "P5");
    EXPECT_EQ(lastRecord<AddToPatchPoolAction>()->mType, 1);

    // A backup group itself takes the patch above it.
    pool().collapseItem(pool().indexForRow(1));
    selectPool({2});
    screen->didClickOnSavingInPatchPoolButtonAtIndex(list(), 5);
    EXPECT_EQ(topNames(), (std::vector<std::string>{"Top", "G", "P5", "Backup", "P5"}));
    EXPECT_EQ(records(), 3u);
    EXPECT_TRUE(appDelegate.isPatchPoolChanged());
}

TEST_F(PatchScreenMenus, SavingThreeRowsMakesAGroupAboveTheSelectedItemsGroup)
{
    load(10);
    const Node group = groupNode("G", patchNodes("g", 2));
    setPool({patchNode("Top"), group}, {1});
    selectPool({3});
    selectList({2, 3, 4});
    screen->didClickOnSavingInPatchPoolButtonAtIndex(list(), 2);
    ASSERT_EQ(screen->structureData().size(), 3u);
    const Node made = screen->structureData()[1];
    EXPECT_TRUE(made->isGroup);
    std::vector<std::string> children;
    for (const auto& child : made->childDirectories) children.push_back(*child->name);
    EXPECT_EQ(children, (std::vector<std::string>{"P2", "P3", "P4"}));
    EXPECT_EQ(lastRecord<AddToPatchPoolAction>()->mType, 3);
    EXPECT_EQ(records(), 1u);
}

// ---- read from the pool and copy to the device ----

TEST_F(PatchScreenMenus, ReadingThreePatchesReplacesThreeSlotsAsOneWrite)
{
    load(30);
    setPool(patchNodes("T", 3));
    selectPool({0, 1, 2});
    selectList({5});
    screen->didClickOnReadingFromPatchPoolButtonAtIndex(list(), 5);
    EXPECT_EQ(names()[5], "T0");
    EXPECT_EQ(names()[7], "T2");
    EXPECT_EQ(screen->patchItems()[6]->path, "/root/Device/Patch/T1.qptc");
    EXPECT_TRUE(logged("writeGroup 5 6 7"));
    ASSERT_EQ(records(), 1u);
    const auto record = lastRecord<DragFromPoolToListAction>();
    EXPECT_EQ(record->mIndex, 5u);
    EXPECT_EQ(record->mItems.size(), 3u);
    EXPECT_EQ(list().selectedRows(), (std::vector<std::uint64_t>{5, 6, 7}));
}

TEST_F(PatchScreenMenus, ReadingStopsAtTheListEndAtAFailedCopyAndAtABackupGroup)
{
    load(30);
    setPool({groupNode("Ten", patchNodes("t", 10))});
    selectPool({0});
    selectList({27});
    screen->didClickOnReadingFromPatchPoolButtonAtIndex(list(), 27);
    EXPECT_EQ(names()[29], "t2");
    EXPECT_TRUE(logged("writeGroup 27 28 29"));

    // The second copy fails: one slot is placed, nothing after it.
    log.clear();
    coordinator.failingCopies = {"t1"};
    selectList({0});
    screen->didClickOnReadingFromPatchPoolButtonAtIndex(list(), 0);
    EXPECT_EQ(names()[0], "t0");
    EXPECT_EQ(names()[1], "P1");
    EXPECT_EQ(names()[2], "P2");
    EXPECT_EQ(lastRecord<DragFromPoolToListAction>()->mItems.size(), 1u);

    // Every copy fails: nothing is written and nothing recorded.
    log.clear();
    coordinator.failingCopies = {"t0"};
    const std::size_t before = records();
    screen->didClickOnReadingFromPatchPoolButtonAtIndex(list(), 0);
    EXPECT_EQ(records(), before);
    EXPECT_TRUE(coordinator.writes.size() == 2u);
    EXPECT_TRUE(list().selectedRows().empty());
    EXPECT_TRUE(list().selectionList().empty());

    // A selection ending in a backup of the whole list restores it instead.
    coordinator.failingCopies.clear();
    setPool({patchNode("Top"), groupNode("Backup", patchNodes("B", 2), true)});
    selectPool({0, 1});
    screen->didClickOnReadingFromPatchPoolButtonAtIndex(list(), 0);
    EXPECT_NE(names()[0], "Top");
    EXPECT_TRUE(std::any_of(log.begin(), log.end(), [](const auto& line) { return line.rfind("restorePatch", 0) == 0; }));
}

TEST_F(PatchScreenMenus, CopyingToTheDeviceFollowsTheEntriesAndSkipsUnfitChildren)
{
    load(30);
    const Node four = groupNode("Four", {patchNode("a"), patchNode("b", true), patchNode("c"), patchNode("d")});
    const Node ten = groupNode("Ten", patchNodes("t", 10));
    const Node unfit = groupNode("Unfit", {patchNode("x", true), patchNode("y", true)});
    setPool({patchNode("T0"), patchNode("T1"), patchNode("T2"), four, ten, unfit});
    const auto entries = [&](const std::vector<int>& rows) {
        selectPool(rows);
        return screen->selectedPoolEntries();
    };

    selectList({5, 9});
    screen->didClickOnButtonCopyToDeviceMemoryAtItems(&pool(), entries({0, 1, 2}));
    EXPECT_EQ(names()[5], "T0");
    EXPECT_EQ(names()[7], "T2");
    EXPECT_EQ(names()[9], "P9");
    EXPECT_EQ(list().selectedRows(), (std::vector<std::uint64_t>{5, 6, 7}));
    EXPECT_EQ(coordinator.writes.back().second, (std::vector<std::int64_t>{5, 6, 7}));
    EXPECT_EQ(lastRecord<DragFromPoolToListAction>()->mItems.size(), 3u);
    EXPECT_EQ(screen->patchItems()[5]->path, "/root/Device/Patch/T0.qptc");

    selectList({10});
    screen->didClickOnButtonCopyToDeviceMemoryAtItems(&pool(), entries({3}));
    EXPECT_EQ((std::vector<std::string>{names()[10], names()[11], names()[12], names()[13]}),
              (std::vector<std::string>{"a", "c", "d", "P13"}));

    selectList({27});
    screen->didClickOnButtonCopyToDeviceMemoryAtItems(&pool(), entries({4}));
    EXPECT_EQ(names()[29], "t2");
    EXPECT_EQ(coordinator.writes.back().second, (std::vector<std::int64_t>{27, 28, 29}));

    const std::size_t before = records();
    const std::size_t writes = coordinator.writes.size();
    selectList({0});
    screen->didClickOnButtonCopyToDeviceMemoryAtItems(&pool(), entries({5}));
    EXPECT_EQ(records(), before);
    EXPECT_EQ(coordinator.writes.size(), writes);
    EXPECT_EQ(names()[0], "P0");
    EXPECT_TRUE(list().selectedRows().empty());
    EXPECT_TRUE(list().selectionList().empty());

    // With no slot selected there is nowhere to start.
    list().clearSelection();
    screen->didClickOnButtonCopyToDeviceMemoryAtItems(&pool(), entries({0}));
    EXPECT_EQ(records(), before);
}

// ---- delete ----

TEST_F(PatchScreenMenus, DeletingTakesEachIndexJustBeforeItsRemovalAndOneRecord)
{
    load(5);
    setPool(patchNodes("T", 5));
    selectPool({2, 3});
    screen->didClickOnDeleteButtonWithItems(&pool(), screen->selectedPoolEntries());
    EXPECT_EQ(topNames(), (std::vector<std::string>{"T0", "T1", "T4"}));
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
    EXPECT_EQ(topNames(), (std::vector<std::string>{"T0", "T1", "T2", "T3", "T4"}));
}

// A copy asked before a deletion that fails as the deletion starts takes its node out of the same list:
// each position is taken after it has landed, so the neighbour of what goes stays, at the top, in a group
// and for a whole group.
TEST_F(PatchScreenMenus, ACopyFailingAsADeletionStartsCostsNoNeighbour)
{
    load(5);
    const Node a = patchNode("A"), b = patchNode("B"), c = patchNode("C"), g0 = patchNode("g0"), g1 = patchNode("g1"),
               g2 = patchNode("g2");
    const Node g = groupNode("G", {g0, g1, g2}), h = groupNode("H", {}), k = groupNode("K", {});
    setPool({a, b, c, g, h, k});
    coordinator.holdCopies = true;
    coordinator.stepsLandHeldCopies = true;
    coordinator.failingCopies = {"F0", "F1", "F2"};
    const auto failingCopyAbove = [&](const std::string& name, const Node& target, const Node& group) {
        auto item = testing_app::PatchScreenRig::patch(name);
        item->path = "/drop/" + name + ".qptc";
        if (group) screen->addBackUpPatchItems({item}, group, 0, true);
        else screen->addBackUpPatchItems({item}, target, true);
        ASSERT_EQ(coordinator.heldCopies.size(), 1u);
    };
    const auto childNames = [&] {
        std::vector<std::string> result;
        for (const auto& child : g->childDirectories) result.push_back(child->name.value_or(""));
        return result;
    };

    failingCopyAbove("F0", a, nullptr);
    ASSERT_EQ(topNames(), (std::vector<std::string>{"F0", "A", "B", "C", "G", "H", "K"}));
    screen->didClickOnDeleteButtonWithItems(&pool(), {{nullptr, b}});
    EXPECT_EQ(topNames(), (std::vector<std::string>{"A", "C", "G", "H", "K"}));
    EXPECT_EQ(lastRecord<DeleteAction>()->deletedActions.at(0)->index, 1u);

    failingCopyAbove("F1", nullptr, g);
    ASSERT_EQ(childNames(), (std::vector<std::string>{"F1", "g0", "g1", "g2"}));
    screen->didClickOnDeleteButtonWithItems(&pool(), {{g, g1}});
    EXPECT_EQ(childNames(), (std::vector<std::string>{"g0", "g2"}));

    failingCopyAbove("F2", a, nullptr);
    screen->didClickOnDeleteButtonWithItems(&pool(), {{nullptr, h}});
    EXPECT_EQ(topNames(), (std::vector<std::string>{"A", "C", "G", "K"}));

    // Each comes back where it stood, once the saves that came to nothing have taken back their records.
    ASSERT_TRUE(testing_app::processEventsUntil([&] { return records() == 3u; }, std::chrono::seconds(2)));
    undo.doUndoAction();
    undo.doUndoAction();
    undo.doUndoAction();
    EXPECT_EQ(topNames(), (std::vector<std::string>{"A", "B", "C", "G", "H", "K"}));
    EXPECT_EQ(childNames(), (std::vector<std::string>{"g0", "g1", "g2"}));
}

// A copy that finishes, failed, while one deletion of several runs lands between two of its steps and takes
// its node out of the list: the positions the deletion took before that count it no more, so its undo puts
// every item back where it stood.
TEST_F(PatchScreenMenus, ACopyFailingBetweenTheStepsOfOneDeletionCostsTheUndoNoPlace)
{
    load(5);
    const Node a = patchNode("A"), b = patchNode("B"), c = patchNode("C"), d = patchNode("D");
    setPool({a, b, c, d});
    coordinator.holdCopies = true;
    coordinator.finishedCopiesLand = true;
    coordinator.failingCopies = {"F"};
    auto failing = testing_app::PatchScreenRig::patch("F");
    failing->path = "/drop/F.qptc";
    screen->addBackUpPatchItems({failing}, a, true);
    ASSERT_EQ(topNames(), (std::vector<std::string>{"F", "A", "B", "C", "D"}));
    // The copy finishes during the first step; it lands as the second begins.
    coordinator.duringSteps = [&] { coordinator.finishHeldCopies(); };

    screen->didClickOnDeleteButtonWithItems(&pool(), {{nullptr, a}, {nullptr, c}});
    EXPECT_EQ(topNames(), (std::vector<std::string>{"B", "D"}));
    ASSERT_TRUE(testing_app::processEventsUntil([&] { return records() == 1u; }, std::chrono::seconds(2)));
    undo.doUndoAction();
    EXPECT_EQ(topNames(), (std::vector<std::string>{"A", "B", "C", "D"}));
}

// A copy ahead of a deleted patch that fails once the deletion is done leaves the list and shifts every
// place after it: the undo still puts the patch back between the neighbours it stood between, at the top
// and in a group alike.
TEST_F(PatchScreenMenus, ACopyFailingAfterADeletionCostsItsUndoNoPlace)
{
    load(5);
    const Node a = patchNode("A"), b = patchNode("B"), c = patchNode("C"), d = patchNode("D");
    const Node group = groupNode("G", patchNodes("g", 3));
    setPool({a, b, c, d, group});
    coordinator.holdCopies = true;
    coordinator.failingCopies = {"F", "H"};
    auto failing = testing_app::PatchScreenRig::patch("F");
    failing->path = "/drop/F.qptc";
    screen->addBackUpPatchItems({failing}, a, true);
    auto inGroup = testing_app::PatchScreenRig::patch("H");
    inGroup->path = "/drop/H.qptc";
    screen->addBackUpPatchItems({inGroup}, group, 0, true);
    ASSERT_EQ(topNames(), (std::vector<std::string>{"F", "A", "B", "C", "D", "G"}));
    const auto childNames = [&] {
        std::vector<std::string> names;
        for (const auto& child : group->childDirectories) names.push_back(child->name.value_or(""));
        return names;
    };
    ASSERT_EQ(childNames(), (std::vector<std::string>{"H", "g0", "g1", "g2"}));

    screen->didClickOnDeleteButtonWithItems(&pool(), {{nullptr, c}});
    screen->didClickOnDeleteButtonWithItems(&pool(), {{group, group->childDirectories[2]}});
    ASSERT_TRUE(testing_app::processEventsUntil([&] { return records() == 4u; }, std::chrono::seconds(2)));
    coordinator.runHeldCopies();
    ASSERT_EQ(topNames(), (std::vector<std::string>{"A", "B", "D", "G"}));
    ASSERT_EQ(childNames(), (std::vector<std::string>{"g0", "g2"}));

    undo.doUndoAction();
    EXPECT_EQ(childNames(), (std::vector<std::string>{"g0", "g1", "g2"}));
    undo.doUndoAction();
    EXPECT_EQ(topNames(), (std::vector<std::string>{"A", "B", "C", "D", "G"}));
    EXPECT_EQ(std::count_if(log.begin(), log.end(), [](const std::string& entry) { return entry.find("Restore") != std::string::npos; }), 0);
}

TEST_F(PatchScreenMenus, ADeletionAndItsUndoJudgeOnlyTheItemsThatCameBackAndOnce)
{
    load(5);
    appDelegate.setDeviceConnected(true);
    const Node group = groupNode("G", patchNodes("g", 3));
    setPool({group, patchNode("X"), patchNode("Y"), patchNode("Z")}, {0});
    coordinator.poolWarningAsks.clear();
    selectPool({1, 2, 4, 6});  // g0, g1, X and Z
    screen->didClickOnDeleteButtonWithItems(&pool(), screen->selectedPoolEntries());
    EXPECT_EQ(topNames(), (std::vector<std::string>{"G", "Y"}));
    // What went took its warnings with it.
    EXPECT_TRUE(coordinator.poolWarningAsks.empty());

    undo.doUndoAction();
    EXPECT_EQ(topNames(), (std::vector<std::string>{"G", "X", "Y", "Z"}));
    ASSERT_EQ(coordinator.poolWarningAsks.size(), 1u);
    std::vector<std::string> judged;
    for (const auto& node : coordinator.poolWarningAsks[0]) judged.push_back(node->name.value_or(""));
    std::sort(judged.begin(), judged.end());
    EXPECT_EQ(judged, (std::vector<std::string>{"X", "Z", "g0", "g1"}));
}

// A unit that goes takes its marks off the pool at once: the pool view reloads with the marks gone, with
// nothing judged again.
TEST_F(PatchScreenMenus, DroppingThePoolsMarksReloadsThePoolAndJudgesNothing)
{
    load(5);
    appDelegate.setDeviceConnected(true);
    const Node warned = patchNode("W");
    const Node group = groupNode("G", {patchNode("g0"), patchNode("g1")});
    warned->isWarning = true;
    group->isIncompatible = true;
    group->childDirectories[1]->isWarning = group->childDirectories[1]->isIncompatible = true;
    setPool({group, warned});
    settlePoolPass();
    const std::size_t asked = coordinator.poolWarningAsks.size();
    int resets = 0;
    const auto counting =
        QObject::connect(pool().poolModel(), &QAbstractItemModel::modelReset, [&resets] { ++resets; });
    appDelegate.setDeviceConnected(false);
    screen->resetPatchPoolState();
    QObject::disconnect(counting);
    EXPECT_EQ(resets, 1);
    for (const Node& node : {group, warned, group->childDirectories[0], group->childDirectories[1]}) {
        EXPECT_FALSE(node->isWarning) << node->name.value_or("");
        EXPECT_FALSE(node->isIncompatible) << node->name.value_or("");
    }
    settlePoolPass();
    EXPECT_EQ(coordinator.poolWarningAsks.size(), asked);
}

TEST_F(PatchScreenMenus, TheWholePoolIsJudgedAgainOnlyWhenWhatItWasJudgedAgainstChanged)
{
    load(5);
    appDelegate.setDeviceConnected(true);
    setPool({groupNode("G", patchNodes("g", 3)), patchNode("X")});
    coordinator.judgedAgainst = 7;
    const auto reloadAndSettle = [&] {
        screen->reloadData();
        settlePoolPass();
    };
    reloadAndSettle();
    ASSERT_EQ(coordinator.poolWarningAsks.size(), 1u);
    // A switch back to the screen with the same effects reads nothing.
    reloadAndSettle();
    EXPECT_EQ(coordinator.poolWarningAsks.size(), 1u);
    coordinator.judgedAgainst = 8;
    reloadAndSettle();
    EXPECT_EQ(coordinator.poolWarningAsks.size(), 2u);
    // A unit that went took the warnings with it; a new pool has none yet.
    screen->resetPatchPoolState();
    reloadAndSettle();
    EXPECT_EQ(coordinator.poolWarningAsks.size(), 3u);
    screen->setStructureData(screen->structureData());
    reloadAndSettle();
    EXPECT_EQ(coordinator.poolWarningAsks.size(), 4u);
    screen->reloadDataInPatchPoolWarningsLater();
    settlePoolPass();
    EXPECT_EQ(coordinator.poolWarningAsks.size(), 5u);
}

// A pool whose warnings the coordinator judged as it loaded it (or marked it for a unit that came after
// the load) is not judged again by the screen until what they were judged against changes.
TEST_F(PatchScreenMenus, APoolTheCoordinatorJudgedAsItLoadedItIsNotJudgedAgain)
{
    load(5);
    appDelegate.setDeviceConnected(true);
    setPool({groupNode("G", patchNodes("g", 3)), patchNode("X")});
    coordinator.poolWarningAsks.clear();
    coordinator.judgedAgainst = 7;
    coordinator.poolJudgedByCoordinator = screen->structureData();
    coordinator.poolJudgedAgainst = 7;
    const auto settleScreen = [] { settlePoolPass(); };
    // The tree as it arrives, and the marks of a unit as they land.
    screen->reloadDataInPatchPoolWarningsLater();
    settleScreen();
    screen->reloadDataInPatchPoolWarningsLater();
    settleScreen();
    screen->reloadData();
    settleScreen();
    EXPECT_TRUE(coordinator.poolWarningAsks.empty());
    // The unit's effects changed since the coordinator's judgement.
    coordinator.judgedAgainst = 8;
    screen->reloadData();
    settleScreen();
    EXPECT_EQ(coordinator.poolWarningAsks.size(), 1u);
    // Another tree is not the one the coordinator judged.
    coordinator.poolJudgedAgainst = 8;
    coordinator.poolJudgedByCoordinator = {};
    screen->reloadDataInPatchPoolWarningsLater();
    settleScreen();
    EXPECT_EQ(coordinator.poolWarningAsks.size(), 2u);
}

// The save shows and is recorded as it is asked; the copies land later, and only then are the new
// patches judged.
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
    EXPECT_EQ(topNames(), (std::vector<std::string>{"Top", "P3", "P2"}));
    EXPECT_EQ(records(), 1u);
    EXPECT_EQ(pool().selectedRowList(), (std::vector<int>{1, 2}));
    ASSERT_EQ(coordinator.heldCopies.size(), 1u);
    const std::size_t asksBefore = coordinator.poolWarningAsks.size();

    coordinator.runHeldCopies();
    EXPECT_TRUE(testing_app::processEventsUntil([&] { return coordinator.poolWarningAsks.size() > asksBefore; }, std::chrono::seconds(2)));
    EXPECT_EQ(topNames(), (std::vector<std::string>{"Top", "P3", "P2"}));
    EXPECT_EQ(records(), 1u);
    // The landing's reload keeps what is selected.
    EXPECT_EQ(pool().selectedRowList(), (std::vector<int>{1, 2}));
    // Only the two new patches are judged.
    ASSERT_EQ(coordinator.poolWarningAsks.size(), asksBefore + 1);
    EXPECT_EQ(coordinator.poolWarningAsks.back().size(), 2u);
}

// Device rows saved into the pool and undone before their copies began: the withdrawn copies' nodes leave
// the pool before the undo goes on, so it sends no file to the bin (their nodes still named the list's
// working files), and the copies are never made.
TEST_F(PatchScreenMenus, AnAdditionUndoneBeforeItsCopiesBeganSendsNothingToTheBin)
{
    load(10);
    for (const auto& item : screen->patchItems()) item->path = "/root/Device/Patch/" + item->patchName + ".qptc";
    const Node group = groupNode("G", patchNodes("g", 1));
    setPool({patchNode("Top"), group});
    coordinator.holdCopies = true;
    screen->addBackUpPatchItemAtIndexs({2, 3}, screen->structureData()[0], false);
    screen->insertBackUpPatchForPatchItemAtIndexs({4}, group, 0, false);
    ASSERT_EQ(topNames(), (std::vector<std::string>{"Top", "P3", "P2", "G"}));
    ASSERT_EQ(group->childDirectories.size(), 2u);
    ASSERT_TRUE(testing_app::processEventsUntil([&] { return records() == 2u; }, std::chrono::seconds(2)));

    log.clear();
    undo.doUndoAction();
    EXPECT_EQ(group->childDirectories.size(), 1u);
    undo.doUndoAction();
    EXPECT_EQ(topNames(), (std::vector<std::string>{"Top", "G"}));
    coordinator.runHeldCopies();
    for (const auto& entry : log) {
        EXPECT_EQ(entry.find("deletePatch"), std::string::npos) << entry;
        EXPECT_EQ(entry.find("writeFilePatch"), std::string::npos) << entry;
    }
    EXPECT_EQ(topNames(), (std::vector<std::string>{"Top", "G"}));
}

// A deletion of saved patches whose copies have not begun shows at once: their copies are withdrawn, not
// made, nothing goes to the bin, and the saving's record stays. Its undo puts the nodes back where they
// stood, naming the files they were saved from, and asks their copies again; they land in those nodes.
TEST_F(PatchScreenMenus, ADeletionDuringTheCopiesWithdrawsThemAndItsUndoAsksThemAgain)
{
    struct Case {
        const char* what;
        bool intoGroup;
        // Rows of the pool's tree (the group open) deleted, and the names left where the saving went.
        std::vector<int> deleted;
        std::vector<std::string> left;
        // Deleted through the bin (their copies landed before).
        std::vector<std::string> throughTheBin;
    };
    const std::vector<Case> cases{
        {"all three saved into a group", true, {3, 4, 5}, {"g0"}, {}},
        {"one saved and one there before", true, {2, 3}, {"P3", "P4"}, {"g0"}},
        {"two saved at the top", false, {1, 2}, {"Top", "G"}, {}},
    };
    for (const Case& each : cases) {
        SCOPED_TRACE(each.what);
        undo.clearUndoStack();
        coordinator.runHeldCopies();
        load(10);
        for (const auto& item : screen->patchItems()) item->path = "/root/Device/Patch/" + item->patchName + ".qptc";
        const Node group = groupNode("G", patchNodes("g", 1));
        setPool({patchNode("Top"), group}, {1});
        coordinator.holdCopies = true;
        if (each.intoGroup) screen->insertBackUpPatchForPatchItemAtIndexs({2, 3, 4}, group, 0, false);
        else screen->addBackUpPatchItemAtIndexs({2, 3}, screen->structureData()[0], false);
        ASSERT_TRUE(testing_app::processEventsUntil([&] { return records() == 1u; }, std::chrono::seconds(2)));
        const auto names = [&] {
            std::vector<std::string> result;
            for (const auto& node : each.intoGroup ? group->childDirectories : screen->structureData())
                result.push_back(node->name.value_or(""));
            return result;
        };
        const std::vector<std::string> saved = names();
        screen->reloadDataInPatchPool();
        pool().expandItem(pool().indexForRow(each.intoGroup ? 1 : 3));
        selectPool(each.deleted);
        log.clear();
        screen->didClickOnDeleteButtonWithItems(&pool(), screen->selectedPoolEntries());
        EXPECT_EQ(names(), each.left);
        EXPECT_EQ(records(), 2u);
        EXPECT_EQ(coordinator.heldCopies.size(), 1u) << "the deletion waited for the saving's copies";
        for (const auto& entry : log) {
            EXPECT_EQ(entry.find("writeFilePatch"), std::string::npos) << entry;
            if (entry.rfind("deletePatchItem ", 0) != 0) continue;
            const bool named = std::any_of(each.throughTheBin.begin(), each.throughTheBin.end(),
                                           [&](const std::string& name) { return entry.find(" " + name + " ") != std::string::npos; });
            EXPECT_TRUE(named) << "sent to the bin: " << entry;
        }
        // The saving's batch ends: what it still held lands, the deleted nodes stay out, its record stays.
        coordinator.runHeldCopies();
        testing_app::processEventsUntil([] { return false; }, std::chrono::milliseconds(20));
        EXPECT_EQ(names(), each.left);
        EXPECT_EQ(records(), 2u) << "the saving's record went with the copies withdrawn";

        log.clear();
        undo.doUndoAction();
        EXPECT_EQ(names(), saved);
        for (const auto& entry : log) EXPECT_EQ(entry.find("writeFilePatch"), std::string::npos) << entry;
        ASSERT_EQ(coordinator.heldCopies.size(), 1u) << "the undo asked no copy again";
        for (const auto& node : each.intoGroup ? group->childDirectories : screen->structureData()) {
            const bool deleted = std::find(each.left.begin(), each.left.end(), *node->name) == each.left.end();
            if (deleted && node->name->front() == 'P') {
                EXPECT_EQ(node->patchItem()->path, "/root/Device/Patch/" + *node->name + ".qptc");
            }
        }
        coordinator.runHeldCopies();
        const std::string folder = each.intoGroup ? "/root/Temp/Local/G/" : "/root/Temp/Local/";
        for (const auto& node : each.intoGroup ? group->childDirectories : screen->structureData())
            if (node->name->front() == 'P') {
                EXPECT_EQ(node->patchItem()->path.rfind(folder, 0), 0u) << *node->name;
            }
        EXPECT_EQ(names(), saved);
        coordinator.holdCopies = false;
    }
}

// A group deleted whole while patches saved into it are still to be copied shows at once: their copies
// are withdrawn, the group's folder goes to the bin with what landed there, and the undo puts the group
// back with every child where it stood, asking the withdrawn copies again into its folder.
TEST_F(PatchScreenMenus, AGroupDeletedDuringItsCopiesGoesAtOnceAndItsUndoAsksThemAgain)
{
    struct Case {
        const char* what;
        // The group's children deleted with it, by name (none: the group alone, as from its menu).
        std::vector<std::string> withIt;
        // The bin refuses the group's folder: the group stays whole, its withdrawn copies asked again.
        bool binRefuses;
    };
    const std::vector<Case> cases{
        {"the group from its menu", {}, false},
        {"the group selected with its patches", {"P2", "P3", "P4", "g0"}, false},
        {"the group selected with one of its patches", {"P3"}, false},
        {"the group's folder refused by the bin", {}, true},
    };
    for (const Case& each : cases) {
        SCOPED_TRACE(each.what);
        undo.clearUndoStack();
        coordinator.runHeldCopies();
        load(10);
        for (const auto& item : screen->patchItems()) item->path = "/root/Device/Patch/" + item->patchName + ".qptc";
        const Node group = groupNode("G", patchNodes("g", 1));
        setPool({patchNode("Top"), group});
        coordinator.holdCopies = true;
        screen->insertBackUpPatchForPatchItemAtIndexs({2, 3, 4}, group, 0, false);
        ASSERT_TRUE(testing_app::processEventsUntil([&] { return records() == 1u; }, std::chrono::seconds(2)));
        const auto children = [&] {
            std::vector<std::string> result;
            for (const auto& node : group->childDirectories) result.push_back(node->name.value_or(""));
            return result;
        };
        const std::vector<std::string> saved = children();
        ASSERT_EQ(saved.size(), 4u);
        PoolSelectionEntries entries{{nullptr, group}};
        for (const auto& node : group->childDirectories)
            if (std::find(each.withIt.begin(), each.withIt.end(), *node->name) != each.withIt.end()) entries.push_back({group, node});
        log.clear();
        if (each.binRefuses) coordinator.failingBinMoves.insert("G");
        screen->didClickOnDeleteButtonWithItems(&pool(), entries);
        coordinator.failingBinMoves.clear();
        if (each.binRefuses) {
            EXPECT_EQ(topNames(), (std::vector<std::string>{"Top", "G"}));
            EXPECT_EQ(children(), saved);
            EXPECT_EQ(records(), 1u);
            ASSERT_EQ(coordinator.heldCopies.size(), 2u) << "the withdrawn copies were not asked again";
            coordinator.runHeldCopies();
            for (const auto& node : group->childDirectories)
                if (node->name->front() == 'P') {
                    EXPECT_EQ(node->patchItem()->path.rfind("/root/Temp/Local/G/", 0), 0u) << *node->name;
                }
            EXPECT_EQ(children(), saved);
            coordinator.holdCopies = false;
            continue;
        }
        EXPECT_EQ(topNames(), (std::vector<std::string>{"Top"}));
        EXPECT_EQ(records(), 2u);
        EXPECT_EQ(coordinator.heldCopies.size(), 1u) << "the deletion waited for the saving's copies";
        for (const auto& entry : log) {
            EXPECT_EQ(entry.find("writeFilePatch"), std::string::npos) << "waited for a copy: " << entry;
            EXPECT_NE(entry.rfind("deletePatchItem ", 0), 0u) << entry;
        }
        EXPECT_NE(std::find(log.begin(), log.end(), "deletePatchGroup G"), log.end());
        coordinator.runHeldCopies();
        testing_app::processEventsUntil([] { return false; }, std::chrono::milliseconds(20));
        EXPECT_EQ(topNames(), (std::vector<std::string>{"Top"}));

        log.clear();
        undo.doUndoAction();
        EXPECT_EQ(topNames(), (std::vector<std::string>{"Top", "G"}));
        EXPECT_EQ(children(), saved);
        for (const auto& entry : log) EXPECT_EQ(entry.find("writeFilePatch"), std::string::npos) << entry;
        ASSERT_EQ(coordinator.heldCopies.size(), 1u) << "the undo asked no copy again";
        for (const auto& node : group->childDirectories)
            if (node->name->front() == 'P') {
                EXPECT_EQ(node->patchItem()->path, "/root/Device/Patch/" + *node->name + ".qptc");
            }
        coordinator.runHeldCopies();
        for (const auto& node : group->childDirectories)
            if (node->name->front() == 'P') {
                EXPECT_EQ(node->patchItem()->path.rfind("/root/Temp/Local/G/", 0), 0u) << *node->name;
            }
        EXPECT_EQ(children(), saved);
        coordinator.holdCopies = false;
    }
}

// A move of saved patches whose copies have not begun moves no file and waits for none: the copies are
// withdrawn and asked again into the group they go to. Its undo does the same back into their group when
// those copies have not begun either, and moves the files when they have landed.
TEST_F(PatchScreenMenus, AMoveDuringTheCopiesAsksThemAgainWhereThePatchesGo)
{
    struct Case {
        const char* what;
        bool landBeforeTheUndo;
        std::vector<std::string> undoLogs;
    };
    const std::vector<Case> cases{
        {"undone before the new copies began", false, {}},
        {"undone after the new copies landed", true, {"movePatchItem P2 -> G", "movePatchItem P3 -> G"}},
    };
    for (const Case& each : cases) {
        SCOPED_TRACE(each.what);
        undo.clearUndoStack();
        load(10);
        for (const auto& item : screen->patchItems()) item->path = "/root/Device/Patch/" + item->patchName + ".qptc";
        const Node group = groupNode("G", patchNodes("g", 1));
        const Node other = groupNode("H", {});
        setPool({group, other});
        coordinator.holdCopies = true;
        screen->insertBackUpPatchForPatchItemAtIndexs({2, 3, 4}, group, 0, false);
        ASSERT_TRUE(testing_app::processEventsUntil([&] { return records() == 1u; }, std::chrono::seconds(2)));
        const auto names = [](const Node& of) {
            std::vector<std::string> result;
            for (const auto& node : of->childDirectories) result.push_back(node->name.value_or(""));
            return result;
        };
        log.clear();
        const auto moved = screen->patchPoolEditor().changePositionWithItems(
            {{group, group->childDirectories[1]}, {group, group->childDirectories[2]}}, other, 1);
        EXPECT_EQ(moved.size(), 2u);
        EXPECT_EQ(names(group), (std::vector<std::string>{"g0", "P4"}));
        EXPECT_EQ(names(other), (std::vector<std::string>{"P2", "P3"}));
        for (const auto& entry : log) {
            EXPECT_EQ(entry.find("writeFilePatch"), std::string::npos) << entry;
            EXPECT_EQ(entry.find("movePatchItem"), std::string::npos) << entry;
        }
        ASSERT_EQ(coordinator.heldCopies.size(), 2u) << "the move asked no copy into where the patches went";
        if (each.landBeforeTheUndo) {
            coordinator.runHeldCopies();
            for (const auto& node : other->childDirectories)
                EXPECT_EQ(node->patchItem()->path, "/root/Temp/Local/H/" + *node->name + ".qptc");
        }
        log.clear();
        undo.doUndoAction();
        EXPECT_EQ(names(group), (std::vector<std::string>{"g0", "P2", "P3", "P4"}));
        EXPECT_TRUE(other->childDirectories.empty());
        std::vector<std::string> fileSteps;
        for (const auto& entry : log)
            if (entry.find("writeFilePatch") != std::string::npos || entry.find("movePatchItem") != std::string::npos)
                fileSteps.push_back(entry);
        EXPECT_EQ(fileSteps, each.undoLogs);
        coordinator.runHeldCopies();
        for (const auto& node : group->childDirectories)
            if (node->name->front() == 'P') {
                EXPECT_EQ(node->patchItem()->path, "/root/Temp/Local/G/" + *node->name + ".qptc");
            }
        EXPECT_EQ(names(group), (std::vector<std::string>{"g0", "P2", "P3", "P4"}));
        coordinator.holdCopies = false;
    }
}

// One file saved twice into one folder, both copies still to be made: a deletion of either patch cannot
// tell which copy is its own, so it takes over none of them. The patch that stays gets a copy of its own
// (it never keeps naming the file it was saved from), and the deleted one comes back by its undo.
TEST_F(PatchScreenMenus, ADeletionOfAPatchSavedTwiceLeavesTheOtherItsCopy)
{
    for (const int deleted : {1, 2}) {
        SCOPED_TRACE(deleted);
        undo.clearUndoStack();
        coordinator.runHeldCopies();
        load(10);
        for (const auto& item : screen->patchItems()) item->path = "/root/Device/Patch/" + item->patchName + ".qptc";
        setPool({patchNode("Top")}, {});
        coordinator.holdCopies = true;
        screen->addBackUpPatchItemAtIndexs({2}, screen->structureData()[0], false);
        screen->addBackUpPatchItemAtIndexs({2}, screen->structureData()[0], false);
        ASSERT_TRUE(testing_app::processEventsUntil([&] { return records() == 2u; }, std::chrono::seconds(2)));
        ASSERT_EQ(screen->structureData().size(), 3u);
        const Node going = screen->structureData()[static_cast<std::size_t>(deleted)];
        const Node staying = screen->structureData()[static_cast<std::size_t>(3 - deleted)];
        screen->reloadDataInPatchPool();
        selectPool({deleted});
        screen->didClickOnDeleteButtonWithItems(&pool(), screen->selectedPoolEntries());
        coordinator.runHeldCopies();
        testing_app::processEventsUntil([] { return false; }, std::chrono::milliseconds(20));
        ASSERT_EQ(screen->structureData().size(), 2u);
        EXPECT_EQ(screen->structureData()[1], staying);
        EXPECT_EQ(staying->patchItem()->path.rfind("/root/Temp/Local/", 0), 0u)
            << "the patch left names " << staying->patchItem()->path;
        undo.doUndoAction();
        coordinator.runHeldCopies();
        testing_app::processEventsUntil([] { return false; }, std::chrono::milliseconds(20));
        ASSERT_EQ(screen->structureData().size(), 3u);
        for (const Node& node : {going, staying})
            EXPECT_EQ(node->patchItem()->path.rfind("/root/Temp/Local/", 0), 0u) << node->patchItem()->path;
        coordinator.holdCopies = false;
    }
}

TEST_F(PatchScreenMenus, AGroupTakesItsSelectedChildrenAndFailuresAreToldOneByOne)
{
    load(5);
    const Node group = groupNode("G", patchNodes("g", 2));
    setPool({group, patchNode("X"), patchNode("Y")}, {0});
    selectPool({0, 1, 2});
    screen->didClickOnDeleteButtonWithItems(&pool(), screen->selectedPoolEntries());
    EXPECT_EQ(topNames(), (std::vector<std::string>{"X", "Y"}));
    EXPECT_EQ(log[0], "deletePatchGroup G");
    EXPECT_FALSE(logged("deletePatchItem g0 in G"));
    EXPECT_EQ(lastRecord<DeleteAction>()->deletedActions.size(), 1u);

    coordinator.failingBinMoves = {"X", "Y"};
    log.clear();
    appDelegate.setIsPatchPoolChanged(false);
    selectPool({0, 1});
    screen->didClickOnDeleteButtonWithItems(&pool(), screen->selectedPoolEntries());
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
    screen->didClickOnDeleteButtonWithItems(&pool(), screen->selectedPoolEntries());
    EXPECT_FALSE(screen->isRestoreAllMode());
    EXPECT_EQ(lastRecord<DeleteAction>()->deletedActions.front()->deleteType, 1);
}

// ---- property sheets ----

TEST_F(PatchScreenMenus, TheListSheetSavesOnlyAChangeAndWritesItsOneSlot)
{
    load(10);
    screen->didClickOnPropertyButtonAtIndex(list(), 4);
    EXPECT_EQ(log, std::vector<std::string>{"addSheetAction"});
    ASSERT_NE(dialogs.runSheets(), nullptr);
    EXPECT_TRUE(appDelegate.isShowingDialog());
    PatchPropertyViewController* sheet = screen->patchPropertyViewController();
    ASSERT_NE(sheet, nullptr);
    log.clear();
    sheet->saveButtonClicked();
    EXPECT_EQ(log, std::vector<std::string>{"endSheet 1"});
    EXPECT_FALSE(appDelegate.isShowingDialog());
    EXPECT_EQ(records(), 0u);

    screen->didClickOnPropertyButtonAtIndex(list(), 4);
    dialogs.runSheets();
    const auto original = screen->patchItems()[4];
    sheet = screen->patchPropertyViewController();
    sheet->patchCommentTextView()->setPlainText(QStringLiteral("warmer"));
    log.clear();
    sheet->saveButtonClicked();
    EXPECT_EQ(screen->patchItems()[4], original);
    EXPECT_EQ(original->patchComment, "warmer");
    ASSERT_EQ(records(), 1u);
    const auto record = lastRecord<ChangeTextAction>();
    EXPECT_EQ(record->mType, 5);
    EXPECT_EQ(record->mOldText, record->mNewText);
    EXPECT_EQ(record->mOldSecondText, "C4");
    EXPECT_EQ(record->mNewSecondText, "warmer");
    EXPECT_EQ(log, (std::vector<std::string>{"editFilePatch P4|warmer", "writeItem 4", "setReloadBufferDataTimer",
                                             "endSheet 1"}));

    // The edit undoes like any other.
    undo.doUndoAction();
    EXPECT_EQ(original->patchComment, "C4");

    coordinator.editSucceeds = false;
    screen->didClickOnPropertyButtonAtIndex(list(), 4);
    dialogs.runSheets();
    screen->patchPropertyViewController()->patchNameTextField()->setText(QStringLiteral("New"));
    log.clear();
    screen->patchPropertyViewController()->saveButtonClicked();
    EXPECT_EQ(log, (std::vector<std::string>{"editFilePatch New|C4", "info Patch_CanNotEditPatchItem P4", "endSheet 1"}));
    EXPECT_EQ(original->patchName, "P4");

    screen->didClickOnPropertyButtonAtIndex(list(), 4);
    dialogs.runSheets();
    log.clear();
    screen->patchPropertyViewController()->cancelButtonClicked();
    EXPECT_EQ(log, std::vector<std::string>{"endSheet 2"});
}

// A change the unit reports while the list patch's sheet is open is not lost to the sheet's save: the
// save goes over the unit's patch, each text the sheet changed over the unit's, and the slot gets both.
TEST_F(PatchScreenMenus, AChangeTheUnitReportsWhileTheListSheetIsOpenIsKeptUnderItsSave)
{
    load(10);
    screen->didClickOnPropertyButtonAtIndex(list(), 4);
    dialogs.runSheets();
    const auto original = screen->patchItems()[4];
    auto changed = testing_app::PatchScreenRig::patch("Knob", "From the unit");
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
    EXPECT_EQ(log, (std::vector<std::string>{"updateWarning Knob", "editFilePatch Knob|warmer", "writeItem 4",
                                             "setReloadBufferDataTimer", "endSheet 1"}));
    const auto record = lastRecord<ChangeTextAction>();
    ASSERT_TRUE(record);
    EXPECT_EQ(record->mOldText, "Knob");
    EXPECT_EQ(record->mOldSecondText, "From the unit");
}

TEST_F(PatchScreenMenus, APoolPatchSheetRewritesTheFileAndRecordsItsGroup)
{
    load(5);
    const Node group = groupNode("G", patchNodes("g", 2));
    setPool({group}, {0});
    screen->didClickOnPropertyButtonAtItem(&pool(), group->childDirectories[1], group);
    dialogs.runSheets();
    auto* sheet = screen->patchPropertyViewController();
    sheet->saveButtonClicked();
    EXPECT_EQ(log.back(), "endSheet 3");
    EXPECT_EQ(records(), 0u);

    screen->didClickOnPropertyButtonAtItem(&pool(), group->childDirectories[1], group);
    dialogs.runSheets();
    sheet = screen->patchPropertyViewController();
    sheet->patchCommentTextView()->setPlainText(QStringLiteral("new"));
    sheet->saveButtonClicked();
    const auto record = lastRecord<ChangeTextAction>();
    ASSERT_NE(record, nullptr);
    EXPECT_EQ(record->mType, 6);
    EXPECT_EQ(record->mOldText, record->mNewText);
    EXPECT_EQ(std::get<std::shared_ptr<DirectoryObject>>(record->mGroupOfItem), group);
    EXPECT_EQ(group->childDirectories[1]->patchItem()->patchComment, "new");
    EXPECT_TRUE(appDelegate.isPatchPoolChanged());

    screen->didClickOnPropertyButtonAtItem(&pool(), group->childDirectories[1], group);
    dialogs.runSheets();
    log.clear();
    screen->patchPropertyViewController()->cancelButtonClicked();
    EXPECT_EQ(log, std::vector<std::string>{"endSheet 4"});
}

// A sheet opened on a device patch saved into the pool before its copy landed: the save rewrites the
// pool's copy, never the device's working file it was copied from; a copy that failed edits nothing.
TEST_F(PatchScreenMenus, APoolPatchSheetOpenedBeforeItsCopyLandedRewritesThePoolsCopy)
{
    load(5);
    for (const auto& item : screen->patchItems()) item->path = "/root/Device/Patch/" + item->patchName + ".qptc";
    setPool({patchNode("Top")});
    coordinator.holdCopies = true;
    coordinator.failingCopies = {"P3"};
    const auto sheetSaves = [&](const Node& node, const char* comment) {
        screen->didClickOnPropertyButtonAtItem(&pool(), node, nullptr);
        dialogs.runSheets();
        screen->patchPropertyViewController()->patchCommentTextView()->setPlainText(QString::fromUtf8(comment));
        log.clear();
        screen->patchPropertyViewController()->saveButtonClicked();
    };

    screen->addBackUpPatchItemAtIndexs({2}, screen->structureData()[0], false);
    const Node saved = screen->structureData()[1];
    ASSERT_EQ(saved->patchItem()->path, "/root/Device/Patch/P2.qptc");
    sheetSaves(saved, "new");
    EXPECT_EQ(coordinator.editedPaths, std::vector<std::string>{"/root/Temp/Local/P2.qptc"});
    EXPECT_EQ(saved->patchItem()->path, "/root/Temp/Local/P2.qptc");
    EXPECT_EQ(saved->patchItem()->patchComment, "new");

    screen->addBackUpPatchItemAtIndexs({3}, screen->structureData()[0], false);
    sheetSaves(screen->structureData()[1], "lost");
    EXPECT_EQ(coordinator.editedPaths.size(), 1u);
    EXPECT_TRUE(logged("info Patch_CanNotEditPatchItem P3"));

    // A sheet on another patch than those being copied waits for none of their copies.
    screen->addBackUpPatchItemAtIndexs({4}, screen->structureData()[0], false);
    const Node pending = screen->structureData()[1];
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
    screen->didClickOnPropertyButtonAtItem(&pool(), live, nullptr);
    dialogs.runSheets();
    auto* sheet = screen->patchGroupPropertyViewController();
    ASSERT_NE(sheet, nullptr);
    sheet->groupNameTextField()->setText(QStringLiteral("LIVE"));
    log.clear();
    sheet->saveButtonClicked();
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log.front(), "renameGroup Live -> LIVE");
    EXPECT_EQ(*live->name, "LIVE");
    EXPECT_EQ(lastRecord<ChangeTextAction>()->mType, 4);
    EXPECT_EQ(lastRecord<ChangeTextAction>()->mOldText, "Live");
    EXPECT_EQ(log.back(), "endSheet 3");

    coordinator.renameResult = 1;
    screen->didClickOnPropertyButtonAtItem(&pool(), live, nullptr);
    dialogs.runSheets();
    screen->patchGroupPropertyViewController()->groupNameTextField()->setText(QStringLiteral("Other"));
    log.clear();
    screen->patchGroupPropertyViewController()->saveButtonClicked();
    EXPECT_EQ(log, (std::vector<std::string>{"renameGroup LIVE -> Other", "info Patch_FileExist", "endSheet 3"}));
    EXPECT_EQ(*live->name, "LIVE");
    EXPECT_EQ(records(), 1u);
}

// A pool sheet's save and its undo reload the pool: the rows selected stay selected and the screen
// hears of it, so a renamed backup group still restores with the button.
TEST_F(PatchScreenMenus, APoolSheetsSaveAndItsUndoKeepTheSelectionAndTheRestoreAllButton)
{
    appDelegate.setDeviceConnected(true);
    load(4);
    const Node group = groupNode("G", patchNodes("g", 2));
    const Node backup = groupNode("Backup", patchNodes("b", 2), true);
    // Rows: 0 G, 1 g0, 2 g1, 3 Backup.
    setPool({group, backup}, {0});
    selectPool({3});
    ASSERT_TRUE(screen->isRestoreAllMode());
    screen->didClickOnPropertyButtonAtItem(&pool(), backup, nullptr);
    dialogs.runSheets();
    screen->patchGroupPropertyViewController()->groupNameTextField()->setText(QStringLiteral("Gig"));
    screen->patchGroupPropertyViewController()->saveButtonClicked();
    ASSERT_EQ(*backup->name, "Gig");
    EXPECT_EQ(pool().selectedRowList(), (std::vector<int>{3}));
    EXPECT_TRUE(screen->isRestoreAllMode());
    undo.doUndoAction();
    ASSERT_EQ(*backup->name, "Backup");
    EXPECT_EQ(pool().selectedRowList(), (std::vector<int>{3}));
    EXPECT_TRUE(screen->isRestoreAllMode());
    screen->backUpButtonClick();
    EXPECT_EQ(screen->numberOfRestoredDictionaryArray().size(), 1u) << "Restore All restored";
    appDelegate.setIsRestoringAll(false);
    screen->setlockPatchList(false);

    // A pool patch's sheet keeps the rows picked, and a selection whose items went is told as empty.
    selectPool({1, 2});
    screen->didClickOnPropertyButtonAtItem(&pool(), group->childDirectories[1], group);
    dialogs.runSheets();
    screen->patchPropertyViewController()->patchCommentTextView()->setPlainText(QStringLiteral("new"));
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
    EXPECT_EQ(log, (std::vector<std::string>{"sheet not shown", "sheet not shown"}));
    EXPECT_FALSE(appDelegate.isShowingDialog());
}

// The sheets as the program opens them: through the dialog queue into the sheet window over the main
// window. What is typed at once replaces the whole name, and Return saves it.
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
    PatchScreen::PatchItems patches{patch("Clean", "c")};
    auto bank = std::make_shared<BankItem>();
    bank->bankName = "1-1";
    shown.setNumberOfSlotsInBlank(1);
    shown.setPatchItems(std::move(patches));
    shown.setBankItems({bank});
    shown.setIsPatchListLoaded(true);
    shown.reloadDataInPatchList();
    const Node group = groupNode("Live", {});
    shown.setStructureData({group});
    shown.reloadDataInPatchPool();

    const auto typeAndReturn = [](QLineEdit* field) {
        for (const auto& [code, text] : std::vector<std::pair<int, QString>>{
                 {Qt::Key_N, QStringLiteral("N")}, {Qt::Key_Return, QStringLiteral("\r")}}) {
            QWidget* target = QApplication::focusWidget();
            ASSERT_EQ(target, field);
            QKeyEvent press(QEvent::KeyPress, code, Qt::NoModifier, text);
            QApplication::sendEvent(target, &press);
        }
    };
    shown.didClickOnPropertyButtonAtIndex(*shown.patchManagerTableView(), 0);
    PatchPropertyViewController* sheet = shown.patchPropertyViewController();
    ASSERT_NE(sheet, nullptr);
    QLineEdit* name = sheet->patchNameTextField();
    ASSERT_TRUE(testing_app::processEventsUntil([&] { return QApplication::focusWidget() == name && name->hasSelectedText(); }))
        << "focus in " << (QApplication::focusWidget() ? QApplication::focusWidget()->metaObject()->className() : "nothing");
    EXPECT_EQ(name->selectedText().toStdString(), "Clean");
    typeAndReturn(name);
    ASSERT_TRUE(testing_app::processEventsUntil([&] { return queue.showingSheet() == nullptr; }));
    EXPECT_EQ(shown.patchItems()[0]->patchName, "N");

    shown.didClickOnPropertyButtonAtItem(shown.rightPanelOutlineView(), group, nullptr);
    PatchGroupPropertyViewController* groupSheet = shown.patchGroupPropertyViewController();
    ASSERT_NE(groupSheet, nullptr);
    QLineEdit* groupName = groupSheet->groupNameTextField();
    ASSERT_TRUE(testing_app::processEventsUntil(
        [&] { return QApplication::focusWidget() == groupName && groupName->selectedText() == QStringLiteral("Live"); }));
    typeAndReturn(groupName);
    ASSERT_TRUE(testing_app::processEventsUntil([&] { return queue.showingSheet() == nullptr; }));
    EXPECT_EQ(*group->name, "N");
    window.hide();
    appDelegate.setMainWindow(nullptr);
}

// ---- right clicks on the pool ----

TEST_F(PatchScreenMenus, ARightClickSelectsAnUnselectedRowAndOpensTheMenuNotUnderADialog)
{
    load(5);
    setPool(patchNodes("T", 4));
    pool().resize(300, 400);
    const auto release = [&](int row) {
        const QPoint at = row >= 0 ? pool().visualRect(pool().indexForRow(row)).center() : QPoint(20, 380);
        QMouseEvent press(QEvent::MouseButtonPress, at, pool().viewport()->mapToGlobal(at), Qt::RightButton,
                          Qt::RightButton, Qt::NoModifier);
        QApplication::sendEvent(pool().viewport(), &press);
        QMouseEvent up(QEvent::MouseButtonRelease, at, pool().viewport()->mapToGlobal(at), Qt::RightButton,
                       Qt::NoButton, Qt::NoModifier);
        QApplication::sendEvent(pool().viewport(), &up);
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
    EXPECT_EQ(topNames(), (std::vector<std::string>{"T1", "T2", "T3"}));

    OptionMenuForPatchPool* before = pool().optionMenu();
    appDelegate.setIsShowingDialog(true);
    release(1);
    EXPECT_EQ(pool().optionMenu(), before);
    EXPECT_TRUE(pool().selectedRowList().empty());
}

// A sheet or a menu opened before the unit began to be let go, or a Restore All ending meanwhile, changes
// nothing of the unit's list: its write would queue behind the eject and never reach the unit.
TEST_F(PatchScreenMenus, WhatOpenedBeforeTheUnitBeganToGoChangesNothingOfItsList)
{
    struct Case {
        const char* name;
        // Opens what the gesture comes from, before the wait.
        std::function<void()> open;
        std::function<void()> gesture;
    };
    const Case cases[] = {
        {"the list sheet's Save",
         [&] {
             screen->didClickOnPropertyButtonAtIndex(list(), 4);
             dialogs.runSheets();
             screen->patchPropertyViewController()->patchNameTextField()->setText(QStringLiteral("Lost Name"));
         },
         [&] { screen->patchPropertyViewController()->saveButtonClicked(); }},
        {"the list menu's read from the pool", [] {},
         [&] { screen->didClickOnReadingFromPatchPoolButtonAtIndex(list(), 4); }},
        {"the pool menu's copy to the unit", [] {},
         [&] { screen->didClickOnButtonCopyToDeviceMemoryAtItems(&pool(), screen->selectedPoolEntries()); }},
        {"the list menu's Undo", [] {}, [&] { screen->didClickOnUndoButtonAtIndex(list(), 4); }},
        {"the pool menu's Undo", [] {}, [&] { screen->didClickOnUndoButtonAtItem(&pool(), nullptr, nullptr); }},
        {"the undo popover's Undo",
         [&] { screen->view()->findChildren<RightClickImageView*>().front()->drawOptionMenu(QPoint(100, 100)); },
         [&] { screen->view()->findChildren<RightClickImageView*>().front()->undoMenuDidClickOnUndoButton(); }},
    };
    for (const Case& c : cases) {
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
        const std::size_t writes = coordinator.writes.size();
        const std::size_t undoable = records();
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
    const auto rightClick = [&](int row) {
        const QModelIndex index = list().model()->index(row, 1);
        const QPoint at = list().visualRect(index).center();
        for (const auto type : {QEvent::MouseButtonPress, QEvent::MouseButtonRelease}) {
            QMouseEvent event(type, at, list().viewport()->mapToGlobal(at), Qt::RightButton,
                              type == QEvent::MouseButtonPress ? Qt::RightButton : Qt::NoButton, Qt::NoModifier);
            QApplication::sendEvent(list().viewport(), &event);
        }
    };
    rightClick(3);
    ASSERT_NE(list().optionMenu(), nullptr);
    EXPECT_EQ(list().optionMenu()->targetIndex(), 3u);
    EXPECT_FALSE(list().optionMenu()->readingInPatchPoolButton()->isEnabled());
    list().optionMenu()->savingInPatchPoolButton()->click();
    EXPECT_EQ(topNames(), (std::vector<std::string>{"T0", "P3"}));

    rightClick(3);
    list().optionMenu()->propertyButton()->click();
    EXPECT_EQ(dialogs.waitingSheets.size(), 1u);
    EXPECT_FALSE(list().menuPopover()->isVisible());
}

}  // namespace
