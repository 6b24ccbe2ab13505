#include <algorithm>

#include "app/patch/PatchUndoHandlers.h"
#include "library/undo/AddToPatchPoolAction.h"
#include "library/undo/ChangePositionAction.h"
#include "library/undo/ChangeTextAction.h"
#include "library/undo/DeleteAction.h"
#include "library/undo/DragFromPoolToListAction.h"
#include "library/undo/SelectionAction.h"
#include "PatchCases.h"
#include "support/app/FakePatchNeighbours.h"

namespace {

using Texts = std::pair<std::string, std::string>;  // a patch's name and comment

using namespace testing_app;

class PatchUndoHandlersTest : public ::testing::Test {
protected:
    PatchUndoHandlersTest()
    {
        for (const std::string i : {"0", "1", "2", "3", "4", "5", "6", "7", "8", "9"})
            list.push_back(patchItem("L" + i, "C" + i, "/root/Temp/Local/L" + i + ".qptc"));
    }
    PatchUndoHandlers handlers()
    {
        PatchUndoHandlers::Collaborators c{coordinator};
        c.showMessage = logs(log, "info");
        // The nodes whose warnings are judged again, by name.
        c.reloadPool = logs(log, "reloadPool");
        c.clearPoolSelection = logs(log, "clearPoolSelection");
        c.reloadList = logs(log, "reloadList");
        c.reloadListRow = logs(log, "reloadRow");
        c.writeSlot = logs(log, "writeSlot");
        c.writeRange = logs(log, "writeRange");
        c.clearListSelection = logs(log, "clearListSelection");
        c.selectListRows = logs(log, "selectRows");
        c.selectOnDevice = logs(log, "selectOnDevice");
        c.isRestoreAllMode = [this] { return restoreAllMode; };
        c.isSelectedInPool = [this](const DirectoryObject& node) { return selectedInPool == &node; };
        c.leaveRestoreAllMode = [this] {
            restoreAllMode = false;
            log.push_back("leaveRestoreAllMode");
        };
        return PatchUndoHandlers(tree, list, std::move(c));
    }
    std::shared_ptr<ChangePositionAction> poolMove()
    {
        auto action = std::make_shared<ChangePositionAction>();
        action->mType = 4;
        action->setUpOldList({tree.begin(), tree.end()});
        return action;
    }

    Log log;
    testing_app::FakePatchCoordinator coordinator{log};
    std::vector<Node> tree;
    std::vector<std::shared_ptr<PatchItem>> list;
    bool restoreAllMode = false;
    const DirectoryObject* selectedInPool = nullptr;
};

std::shared_ptr<ChangeTextAction> textAction(std::int64_t type, UndoAction::Object item, const std::string& oldText,
                                             const std::string& newText, const std::string& oldSecond = {},
                                             const std::string& newSecond = {})
{
    auto action = std::make_shared<ChangeTextAction>(std::move(item), oldText, newText, type);
    action->mOldSecondText = oldSecond;
    action->mNewSecondText = newSecond;
    return action;
}

// Every text record of the list, as it succeeds and as the file rewrite fails; none for a patch gone.
TEST_F(PatchUndoHandlersTest, TextUndoSucceedsOrPutsTheNewerTextsBack)
{
    const struct {
        std::int64_t type;
        bool editSucceeds;
        std::string name, comment;  // of the patch afterwards
        Log log;
    } cases[] = {
        {1, true, "Old", "C3", {"editFilePatch Old|C3", "writeSlot 3", "reloadRow 3"}},
        {1, false, "New", "C3", {"editFilePatch Old|C3", "info Patch_CanNotEditPatchItem New"}},
        {2, true, "New", "Old", {"editFilePatch New|Old", "writeSlot 3", "reloadRow 3"}},
        {2, false, "New", "New", {"editFilePatch New|Old", "info Patch_CanNotEditPatchItem New"}},
        {5, true, "Old", "OldC", {"editFilePatch Old|OldC", "writeSlot 3", "reloadRow 3"}},
        {5, false, "New", "NewC", {"editFilePatch Old|OldC", "info Patch_CanNotEditPatchItem New"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.type * 10 + c.editSucceeds);
        log.clear();
        list[3]->patchName = "New";
        list[3]->patchComment = c.type == 5 ? "NewC" : (c.type == 2 ? "New" : "C3");
        coordinator.editSucceeds = c.editSucceeds;
        handlers().undo(*textAction(c.type, list[3], "Old", "New", "OldC", "NewC"));
        EXPECT_EQ(Texts(list[3]->patchName, list[3]->patchComment), Texts(c.name, c.comment));
        EXPECT_EQ(log, c.log);

        log.clear();
        auto gone = patchItem("New");
        handlers().undo(*textAction(c.type, gone, "Old", "New", "a", "b"));
        EXPECT_EQ(gone->patchName, "New");
        EXPECT_TRUE(log.empty());
    }
}

TEST_F(PatchUndoHandlersTest, PoolPatchNameUndoOnlyWhereTheRecordLeftIt)
{
    const Node moved = patchNode("New");
    const Node group = groupNode("G", {patchNode("x")}), other = groupNode("H", {moved});
    tree = {group, other};
    auto action = textAction(3, moved, "Old", "New");
    action->mGroupOfItem = group;
    handlers().undo(*action);
    EXPECT_EQ(moved->name, "New");
    EXPECT_TRUE(log.empty());

    action->mGroupOfItem = other;
    coordinator.editSucceeds = false;
    handlers().undo(*action);
    EXPECT_EQ(moved->name, "New");
    EXPECT_EQ(moved->patchItem()->patchName, "New");
    EXPECT_EQ(log, (Log{"editFilePatch Old|cNew", "info Patch_CanNotEditPatchItem New"}));

    // The name goes back as the file stored it, the comment it did not change left alone.
    log.clear();
    coordinator.editSucceeds = true;
    action->mOldStored = {Bytes(10, 0xC9), Bytes(3, 0xE9)};
    handlers().undo(*action);
    EXPECT_EQ(moved->name, "Old");
    EXPECT_EQ(moved->patchItem()->patchName, "Old");
    EXPECT_EQ(log, (Log{"restore name 10 comment -", "editFilePatch Old|cNew", "reloadPool Old"}));
}

TEST_F(PatchUndoHandlersTest, GroupNameUndoRenamesTheFolderEvenForACaseChange)
{
    const struct {
        std::string current;
        std::int32_t renameResult;
        std::string nameAfter;
        Log log;
        bool inPool = true;
    } cases[] = {
        {"Mine", 0, "Old", {"renameGroup Mine -> Old", "reloadPool"}},
        {"OLD", 0, "Old", {"renameGroup OLD -> Old", "reloadPool"}},
        {"Mine", 1, "Mine", {"renameGroup Mine -> Old", "info Patch_FileExist"}},
        {"Mine", 2, "Mine", {"renameGroup Mine -> Old", "info Patch_CanNotRenamePatchGroup Mine"}},
        {"Old", 0, "Old", {"reloadPool"}},
        {"Gone", 0, "Gone", {}, false},  // a group no longer in the pool is left alone
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.current + std::to_string(c.renameResult));
        log.clear();
        const Node group = groupNode(c.current);
        tree = {groupNode("Other")};
        if (c.inPool) tree = {group};
        coordinator.renameResult = c.renameResult;
        handlers().undo(*textAction(4, group, "Old", c.current));
        EXPECT_EQ(group->name, c.nameAfter);
        EXPECT_EQ(log, c.log);
    }
}

TEST_F(PatchUndoHandlersTest, PoolPropertySheetUndo)
{
    const Node node = patchNode("New");
    node->patchItem()->patchComment = "NewC";
    handlers().undo(*textAction(6, node, "Old", "New", "OldC", "NewC"));
    EXPECT_EQ(node->name, "Old");
    EXPECT_EQ(node->patchItem()->patchComment, "OldC");
    EXPECT_EQ(log, (Log{"editFilePatch Old|OldC", "reloadPool Old"}));

    log.clear();
    coordinator.editSucceeds = false;
    handlers().undo(*textAction(6, node, "Older", "Old", "OlderC", "OldC"));
    EXPECT_EQ(node->name, "Old");
    EXPECT_EQ(Texts(node->patchItem()->patchName, node->patchItem()->patchComment), Texts("Old", "OldC"));
    EXPECT_EQ(log, (Log{"editFilePatch Older|OlderC", "info Patch_CanNotEditPatchItem Old"}));
}

TEST_F(PatchUndoHandlersTest, ListReorderUndoPutsTheOldOrderBackAndWritesTheRange)
{
    auto action = std::make_shared<ChangePositionAction>();
    action->mType = 1;
    action->setUpOldList({list.begin(), list.end()});
    action->changedRange = {2, 4};
    std::swap(list[2], list[5]);
    handlers().undo(*action);
    EXPECT_EQ(list[2]->patchName, "L2");
    EXPECT_EQ(list[5]->patchName, "L5");
    EXPECT_EQ(log, (Log{"writeRange 2 4", "reloadList"}));
}

TEST_F(PatchUndoHandlersTest, PoolMoveUndoRestoresTheTreeAndMovesTheFilesBack)
{
    const Node a = patchNode("A"), b = patchNode("B"), stuck = patchNode("Stuck");
    const Node group = groupNode("G", {a}), other = groupNode("H");
    tree = {group, other, b, stuck};
    auto action = poolMove();
    action->mOldParentList = {{group, {a}}, {nullptr, {}}, {groupNode("Gone"), {b}}};
    action->mMovedPatchItemList = {{"G", a}, {"", b}, {"", stuck}};
    // The move: a and b into H, the stuck patch's file refuses to come back.
    group->childDirectories.clear();
    other->childDirectories = {a, b};
    tree = {group, other, stuck};
    coordinator.failingMoves = {"Stuck"};
    const std::string stuckPath = *stuck->path;

    handlers().undo(*action);
    EXPECT_EQ(namesOf(tree), (Names{"G", "H", "B", "Stuck"}));
    EXPECT_EQ(namesOf(group->childDirectories), (Names{"A"}));
    EXPECT_EQ(a->patchItem()->path, "/root/Temp/Local/G/A.qptc");
    // The node names the file its patch names.
    EXPECT_EQ(a->path, "/root/Temp/Local/G/A.qptc");
    EXPECT_EQ(b->path, "/root/Temp/Local/B.qptc");
    EXPECT_EQ(stuck->path, stuckPath);
    EXPECT_EQ(log, (Log{"reloadPool", "clearPoolSelection", "movePatchItem A -> G", "movePatchItem B -> ",
                        "movePatchItem Stuck -> "}));
}

// A move is recorded while copies may still be under way: one that fails afterwards takes its node out
// of the pool with no file, and the move's undo must not bring that node back.
TEST_F(PatchUndoHandlersTest, UndoingAMovePassesOverANodeWhoseCopyFailedAfterIt)
{
    const Node a = patchNode("A"), copied = patchNode("Copied"), inGroup = patchNode("InGroup");
    const Node group = groupNode("G", {inGroup});
    tree = {a, copied, group};
    auto action = poolMove();
    action->mOldParentList = {{group, {inGroup}}};
    action->mMovedPatchItemList = {{"", a}};
    // The move: A into G. Then both copies fail: each clears its patch's file and leaves its list.
    tree = {group};
    group->childDirectories = {a};
    copied->patchItem()->path.clear();
    inGroup->patchItem()->path.clear();

    handlers().undo(*action);
    EXPECT_EQ(namesOf(tree), (Names{"A", "G"}));
    EXPECT_TRUE(group->childDirectories.empty());
    EXPECT_EQ(a->patchItem()->path, "/root/Temp/Local/A.qptc");
}

TEST_F(PatchUndoHandlersTest, ReplaceFromPoolUndoPutsOnlySlotsInsideTheListBack)
{
    const struct { std::uint64_t index; std::size_t count; Log log; } cases[] = {
        {5, 3, {"writeRange 5 3", "reloadList"}},
        {8, 3, {"writeRange 8 2", "reloadList"}},
        {4, 0, {"reloadList"}},
        {12, 2, {"reloadList"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.index);
        log.clear();
        std::vector<UndoAction::Object> old;
        for (std::size_t i = 0; i < c.count; ++i) old.push_back(patchItem("Old" + std::to_string(i)));
        handlers().undo(DragFromPoolToListAction(old, c.index));
        EXPECT_EQ(list.size(), 10u);
        for (std::size_t i = 0; i < c.count && c.index + i < list.size(); ++i)
            EXPECT_EQ(list[c.index + i]->patchName, "Old" + std::to_string(i));
        EXPECT_EQ(log, c.log);
    }
}

TEST_F(PatchUndoHandlersTest, AdditionIntoAGroupGoesToTheBinAndStopsAtAFailedMove)
{
    const Node a = patchNode("A"), b = patchNode("B"), c = patchNode("C");
    const Node group = groupNode("G", {patchNode("Keep"), a, b, c});
    tree = {group};
    coordinator.failingBinMoves = {"B"};
    handlers().undo(AddToPatchPoolAction({a, b, c}, group, 1));
    EXPECT_EQ(namesOf(group->childDirectories), (Names{"Keep", "B", "C"}));
    EXPECT_EQ(log, (Log{"deletePatchItem A in G", "deletePatchItem B in G", "info Patch_CanNotDeletePatchItem B"}));

    log.clear();
    coordinator.failingBinMoves.clear();
    handlers().undo(AddToPatchPoolAction({b, c}, group, 1));
    EXPECT_EQ(namesOf(group->childDirectories), (Names{"Keep"}));
    EXPECT_EQ(log, (Log{"deletePatchItem B in G", "deletePatchItem C in G", "reloadPool", "clearPoolSelection"}));
}

TEST_F(PatchUndoHandlersTest, AdditionAtTheTopLevelSkipsNodesNoLongerThere)
{
    const Node a = patchNode("A"), group = groupNode("New group", {patchNode("x")});
    tree = {a, group};
    handlers().undo(AddToPatchPoolAction({a, patchNode("Moved"), group}, {}, 2));
    EXPECT_TRUE(tree.empty());
    EXPECT_EQ(log, (Log{"deletePatchItem A in -", "deletePatchGroup New group", "reloadPool", "clearPoolSelection"}));

    log.clear();
    tree = {groupNode("Stuck")};
    coordinator.failingBinMoves = {"Stuck"};
    handlers().undo(AddToPatchPoolAction({tree[0]}, {}, 3));
    EXPECT_EQ(namesOf(tree), (Names{"Stuck"}));
    EXPECT_EQ(log, (Log{"deletePatchGroup Stuck", "info Patch_CanNotDeletePatchGroup Stuck"}));
}

// An addition undone before its copies have all landed: the copies land first, and a node whose copy
// failed (out of the pool, naming no file) is passed over rather than stop the undo as a failed delete.
TEST_F(PatchUndoHandlersTest, UndoingAnAdditionPassesOverANodeItsFailedCopyTookOut)
{
    const Node a = patchNode("A"), b = patchNode("B"), c = patchNode("C"), t = patchNode("T"), u = patchNode("U");
    const Node group = groupNode("G", {a, b, c});
    tree = {t, group, u};
    coordinator.stepsLandHeldCopies = true;
    const auto failedCopyOf = [&](const Node& node, std::vector<Node>& list) {
        coordinator.heldCopies.push_back([node, &list] {
            node->patchItem()->path.clear();
            list.erase(std::find(list.begin(), list.end(), node));
        });
    };
    failedCopyOf(a, group->childDirectories);
    handlers().undo(AddToPatchPoolAction({a, b, c}, group, 1));
    EXPECT_TRUE(group->childDirectories.empty());
    EXPECT_EQ(log, (Log{"deletePatchItem B in G", "deletePatchItem C in G", "reloadPool", "clearPoolSelection"}));

    log.clear();
    failedCopyOf(t, tree);
    handlers().undo(AddToPatchPoolAction({t, u}, {}, 2));
    EXPECT_EQ(namesOf(tree), (Names{"G"}));
    EXPECT_EQ(log, (Log{"deletePatchItem U in -", "reloadPool", "clearPoolSelection"}));
}

TEST_F(PatchUndoHandlersTest, UndoOfBackupAllLeavesRestoreModeOnlyForTheSelectedBackup)
{
    const struct {
        bool mode, selected, backupAll, leaves;
    } cases[] = {{true, true, true, true}, {true, false, true, false}, {false, true, true, false}, {true, true, false, false}};
    for (const auto& c : cases) {
        log.clear();
        const Node backup = groupNode("Backup_DEV_20240305_14_07", {patchNode("p")}, c.backupAll);
        tree = {patchNode("top"), backup};
        restoreAllMode = c.mode;
        selectedInPool = c.selected ? backup.get() : nullptr;
        handlers().undo(AddToPatchPoolAction({backup}, {}, 3));
        EXPECT_EQ(namesOf(tree), (Names{"top"}));
        EXPECT_EQ(!log.empty() && log.front() == "leaveRestoreAllMode", c.leaves);
        EXPECT_EQ(restoreAllMode, c.mode && !c.leaves);
    }
}

// In the order they were selected; the last one's patch goes to the device; rows past the list are left.
TEST_F(PatchUndoHandlersTest, SelectionUndo)
{
    const std::pair<std::vector<std::int64_t>, Log> cases[] = {
        {{}, {"clearListSelection"}},
        {{7, 2, 4}, {"clearListSelection", "selectRows 2 4 7", "selectOnDevice 4"}},
        {{3, 40}, {"clearListSelection", "selectRows 3"}},
    };
    for (const auto& [rows, expected] : cases) {
        log.clear();
        handlers().undo(SelectionAction(rows));
        EXPECT_EQ(log, expected);
    }
}

TEST_F(PatchUndoHandlersTest, DeletionsComeBackInReverseAtTheirIndexes)
{
    const Node a = patchNode("A"), b = patchNode("B"), c = patchNode("C"), top = patchNode("Top");
    const Node g = groupNode("G", {a, b, c}), group = groupNode("Grp");
    tree = {g, top, group};
    // Deleted in this order: B (index 1 in G), then Top (index 1 at the top), then Grp (index 1).
    auto several = std::make_shared<DeleteAction>(nullptr, nullptr, 0, 2);
    several->deletedActions = {std::make_shared<DeleteAction>(b, g, 1, 0), std::make_shared<DeleteAction>(top, nullptr, 1, 0),
                               std::make_shared<DeleteAction>(group, nullptr, 1, 1)};
    g->childDirectories = {a, c};
    tree = {g};
    handlers().undo(*several);
    EXPECT_EQ(namesOf(tree), (Names{"G", "Top", "Grp"}));
    EXPECT_EQ(namesOf(g->childDirectories), (Names{"A", "B", "C"}));
    EXPECT_EQ(b->patchItem()->path, "/root/Temp/Local/B.qptc");
    // One reload for the whole deletion, judging only what came back.
    EXPECT_EQ(log, (Log{"undoPatchGroup Grp", "undoPatchItem Top in -", "undoPatchItem B in G", "reloadPool Grp Top B"}));
}

TEST_F(PatchUndoHandlersTest, DeletionFailuresAndIndexes)
{
    // The deleted node is the patch "P" or (type 1 and others) the group "N".
    const struct {
        std::string name;
        bool inGroup;
        std::uint64_t index;
        std::int64_t type;
        bool failing;
        Names top, inGroupAfter;
        Log log;
    } cases[] = {
        {"group patch at the end", true, 1, 0, false, {"G", "T"}, {"x", "P"}, {"undoPatchItem P in G", "reloadPool P"}},
        {"group patch past the end", true, 2, 0, false, {"G", "T"}, {"x"},
         {"info Patch_RestorePatchInGroupOutOfRange", "reloadPool"}},
        {"group patch failing", true, 0, 0, true, {"G", "T"}, {"x"},
         {"undoPatchItem P in G", "info Patch_RestorePatchInGroupFailed P", "reloadPool"}},
        {"top patch at the end", false, 2, 0, false, {"G", "T", "P"}, {"x"}, {"undoPatchItem P in -", "reloadPool P"}},
        {"top patch past the end", false, 3, 0, false, {"G", "T"}, {"x"}, {"info Patch_RestoreSinglePatchOutOfRange"}},
        {"top patch failing", false, 0, 0, true, {"G", "T"}, {"x"},
         {"undoPatchItem P in -", "info Patch_RestoreSinglePatchFailed P"}},
        {"group at the start", false, 0, 1, false, {"N", "G", "T"}, {"x"}, {"undoPatchGroup N", "reloadPool N"}},
        {"group past the end", false, 3, 1, false, {"G", "T"}, {"x"}, {"info Patch_RestorePatchGroupOutOfRange", "reloadPool"}},
        {"group failing", false, 1, 1, true, {"G", "T"}, {"x"},
         {"undoPatchGroup N", "info Patch_RestorePatchGroupFailed N", "reloadPool"}},
        {"other type", false, 0, 7, false, {"G", "T"}, {"x"}, {"reloadPool"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        log.clear();
        const Node group = groupNode("G", {patchNode("x")});
        const Node deleted = c.type == 0 ? patchNode("P") : groupNode("N");
        tree = {group, patchNode("T")};
        coordinator.failingUndos.clear();
        if (c.failing) coordinator.failingUndos = {*deleted->name};
        handlers().undo(DeleteAction(deleted, c.inGroup ? group : nullptr, c.index, c.type));
        EXPECT_EQ(namesOf(tree), c.top);
        EXPECT_EQ(namesOf(group->childDirectories), c.inGroupAfter);
        EXPECT_EQ(log, c.log);
    }
}

}  // namespace
