#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

#include "app/patch/PatchUndoHandlers.h"
#include "library/undo/AddToPatchPoolAction.h"
#include "library/undo/ChangePositionAction.h"
#include "library/undo/ChangeTextAction.h"
#include "library/undo/DeleteAction.h"
#include "library/undo/DragFromPoolToListAction.h"
#include "library/undo/SelectionAction.h"
#include "support/app/FakePatchNeighbours.h"

namespace {

using testing_app::CallLog;
using testing_app::FakePatchCoordinator;
using Node = PatchUndoHandlers::Node;

std::shared_ptr<PatchItem> patch(const std::string& name, const std::string& comment = {})
{
    auto item = std::make_shared<PatchItem>();
    item->patchName = name;
    item->patchComment = comment;
    item->path = "/root/Temp/Local/" + name + ".qptc";
    return item;
}

Node patchNode(const std::string& name)
{
    auto node = std::make_shared<DirectoryObject>();
    node->name = name;
    node->object = patch(name);
    node->path = "/root/Temp/Local/" + name + ".qptc";
    return node;
}

Node groupNode(const std::string& name, std::vector<Node> children = {}, bool backupAll = false)
{
    auto node = std::make_shared<DirectoryObject>();
    node->name = name;
    node->path = name;
    node->isGroup = true;
    node->isBackUpAllGroup = backupAll;
    node->childDirectories = std::move(children);
    return node;
}

std::vector<std::string> names(const std::vector<Node>& nodes)
{
    std::vector<std::string> out;
    for (const auto& node : nodes) out.push_back(node ? node->name.value_or("") : "-");
    return out;
}

class PatchUndoHandlersTest : public ::testing::Test {
protected:
    PatchUndoHandlersTest()
    {
        for (int i = 0; i < 10; ++i) list.push_back(patch("L" + std::to_string(i), "C" + std::to_string(i)));
    }

    PatchUndoHandlers handlers()
    {
        PatchUndoHandlers::Collaborators c{coordinator};
        c.showMessage = [this](const std::string& key, const std::optional<std::string>& argument) {
            log.push_back("info " + key + (argument ? " " + *argument : std::string()));
        };
        // The nodes whose warnings are judged again, by name.
        c.reloadPool = [this](const PatchUndoHandlers::Nodes& touched) {
            std::string text = "reloadPool";
            for (std::size_t i = 0; i < touched.size(); ++i)
                text += (i == 0 ? " " : ",") + touched[i]->name.value_or("?");
            log.push_back(text);
        };
        c.clearPoolSelection = [this] { log.push_back("clearPoolSelection"); };
        c.reloadList = [this] { log.push_back("reloadList"); };
        c.reloadListRow = [this](std::uint64_t row) { log.push_back("reloadRow " + std::to_string(row)); };
        c.writeSlot = [this](std::uint64_t index) { log.push_back("writeSlot " + std::to_string(index)); };
        c.writeRange = [this](std::uint64_t location, std::uint64_t length) {
            log.push_back("writeRange " + std::to_string(location) + " " + std::to_string(length));
        };
        c.clearListSelection = [this] { log.push_back("clearListSelection"); };
        c.selectListRows = [this](const PatchUndoHandlers::Rows& rows) {
            std::string text = "selectRows";
            for (const auto row : rows) text += " " + std::to_string(row);
            log.push_back(text);
        };
        c.selectOnDevice = [this](std::uint64_t row) { log.push_back("selectOnDevice " + std::to_string(row)); };
        c.isRestoreAllMode = [this] { return restoreAllMode; };
        c.isSelectedInPool = [this](const DirectoryObject& node) { return selectedInPool == &node; };
        c.leaveRestoreAllMode = [this] {
            restoreAllMode = false;
            log.push_back("leaveRestoreAllMode");
        };
        return PatchUndoHandlers(tree, list, std::move(c));
    }

    CallLog log;
    FakePatchCoordinator coordinator{log};
    std::vector<Node> tree;
    std::vector<std::shared_ptr<PatchItem>> list;
    bool restoreAllMode = false;
    const DirectoryObject* selectedInPool = nullptr;
};

std::shared_ptr<ChangeTextAction> textAction(std::int64_t type, UndoAction::Object item, const std::string& oldText,
                                             const std::string& newText, const std::string& oldSecond = {},
                                             const std::string& newSecond = {})
{
    auto action = std::make_shared<ChangeTextAction>();
    action->mType = type;
    action->mItem = std::move(item);
    action->mOldText = oldText;
    action->mNewText = newText;
    action->mOldSecondText = oldSecond;
    action->mNewSecondText = newSecond;
    return action;
}

// Every text record, as it succeeds and as the file rewrite fails.
TEST_F(PatchUndoHandlersTest, TextUndoSucceedsOrPutsTheNewerTextsBack)
{
    struct Case {
        std::int64_t type;
        bool editSucceeds;
        std::string name;     // of the patch afterwards
        std::string comment;  // of the patch afterwards
        std::vector<std::string> log;
    };
    const Case cases[] = {
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
        EXPECT_EQ(list[3]->patchName, c.name);
        EXPECT_EQ(list[3]->patchComment, c.comment);
        EXPECT_EQ(log, c.log);
    }
}

TEST_F(PatchUndoHandlersTest, ListTextUndoOfAPatchGoneFromTheListChangesNothing)
{
    auto gone = patch("New");
    for (const std::int64_t type : {1, 2, 5}) {
        handlers().undo(*textAction(type, gone, "Old", "New", "a", "b"));
        EXPECT_EQ(gone->patchName, "New");
    }
    EXPECT_TRUE(log.empty());
}

TEST_F(PatchUndoHandlersTest, PoolPatchNameUndoOnlyWhereTheRecordLeftIt)
{
    const Node moved = patchNode("New");
    const Node group = groupNode("G", {patchNode("x")});
    const Node other = groupNode("H", {moved});
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
    EXPECT_EQ(log, (CallLog{"editFilePatch Old|", "info Patch_CanNotEditPatchItem New"}));

    // The name goes back as the file stored it, the comment it did not change left alone.
    log.clear();
    coordinator.editSucceeds = true;
    action->mOldStored = {Bytes(10, 0xC9), Bytes(3, 0xE9)};
    handlers().undo(*action);
    EXPECT_EQ(moved->name, "Old");
    EXPECT_EQ(moved->patchItem()->patchName, "Old");
    EXPECT_EQ(log, (CallLog{"restore name 10 comment -", "editFilePatch Old|", "reloadPool Old"}));
}

TEST_F(PatchUndoHandlersTest, GroupNameUndoRenamesTheFolderEvenForACaseChange)
{
    struct Case {
        std::string current;
        std::int32_t renameResult;
        std::string nameAfter;
        CallLog log;
    };
    const Case cases[] = {
        {"Mine", 0, "Old", {"renameGroup Mine -> Old", "reloadPool"}},
        {"OLD", 0, "Old", {"renameGroup OLD -> Old", "reloadPool"}},
        {"Mine", 1, "Mine", {"renameGroup Mine -> Old", "info Patch_FileExist"}},
        {"Mine", 2, "Mine", {"renameGroup Mine -> Old", "info Patch_CanNotRenamePatchGroup Mine"}},
        {"Old", 0, "Old", {"reloadPool"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.current + std::to_string(c.renameResult));
        log.clear();
        const Node group = groupNode(c.current);
        tree = {group};
        coordinator.renameResult = c.renameResult;
        handlers().undo(*textAction(4, group, "Old", c.current));
        EXPECT_EQ(group->name, c.nameAfter);
        EXPECT_EQ(log, c.log);
    }
    // A group no longer in the pool is left alone.
    log.clear();
    const Node gone = groupNode("Gone");
    handlers().undo(*textAction(4, gone, "Old", "Gone"));
    EXPECT_TRUE(log.empty());
}

TEST_F(PatchUndoHandlersTest, PoolPropertySheetUndo)
{
    const Node node = patchNode("New");
    node->patchItem()->patchComment = "NewC";
    handlers().undo(*textAction(6, node, "Old", "New", "OldC", "NewC"));
    EXPECT_EQ(node->name, "Old");
    EXPECT_EQ(node->patchItem()->patchComment, "OldC");
    EXPECT_EQ(log, (CallLog{"editFilePatch Old|OldC", "reloadPool Old"}));

    log.clear();
    coordinator.editSucceeds = false;
    handlers().undo(*textAction(6, node, "Older", "Old", "OlderC", "OldC"));
    EXPECT_EQ(node->name, "Old");
    EXPECT_EQ(node->patchItem()->patchName, "Old");
    EXPECT_EQ(node->patchItem()->patchComment, "OldC");
    EXPECT_EQ(log, (CallLog{"editFilePatch Older|OlderC", "info Patch_CanNotEditPatchItem Old"}));
}

TEST_F(PatchUndoHandlersTest, ListReorderUndoPutsTheOldOrderBackAndWritesTheRange)
{
    auto action = std::make_shared<ChangePositionAction>();
    action->mType = 1;
    action->setUpOldList({list.begin(), list.end()});
    action->changedRange = {2, 4};
    std::swap(list[2], list[5]);
    const auto before = action->mOldList;
    handlers().undo(*action);
    EXPECT_EQ(list[2]->patchName, "L2");
    EXPECT_EQ(list[5]->patchName, "L5");
    EXPECT_EQ(log, (CallLog{"writeRange 2 4", "reloadList"}));
}

TEST_F(PatchUndoHandlersTest, PoolMoveUndoRestoresTheTreeAndMovesTheFilesBack)
{
    const Node a = patchNode("A");
    const Node b = patchNode("B");
    const Node stuck = patchNode("Stuck");
    const Node group = groupNode("G", {a});
    const Node other = groupNode("H");
    tree = {group, other, b, stuck};
    auto action = std::make_shared<ChangePositionAction>();
    action->mType = 4;
    action->setUpOldList({tree.begin(), tree.end()});
    action->mOldParentList = {{group, {a}}, {nullptr, {}}, {groupNode("Gone"), {b}}};
    action->mMovedPatchItemList = {{"G", a}, {"", b}, {"", stuck}};
    // The move: a and b into H, the stuck patch's file refuses to come back.
    group->childDirectories.clear();
    other->childDirectories = {a, b};
    tree = {group, other, stuck};
    coordinator.failingMoves = {"Stuck"};
    const std::string stuckPath = *stuck->path;

    handlers().undo(*action);
    EXPECT_EQ(names(tree), (std::vector<std::string>{"G", "H", "B", "Stuck"}));
    EXPECT_EQ(names(group->childDirectories), (std::vector<std::string>{"A"}));
    EXPECT_EQ(a->patchItem()->path, "/root/Temp/Local/G/A.qptc");
    // The node names the file its patch names.
    EXPECT_EQ(a->path, "/root/Temp/Local/G/A.qptc");
    EXPECT_EQ(b->path, "/root/Temp/Local/B.qptc");
    EXPECT_EQ(stuck->path, stuckPath);
    EXPECT_EQ(log, (CallLog{"reloadPool", "clearPoolSelection", "movePatchItem A -> G", "movePatchItem B -> ",
                            "movePatchItem Stuck -> "}));
}

// A move is recorded while copies may still be under way: one that fails afterwards takes its node out
// of the pool with no file, and the move's undo must not bring that node back.
TEST_F(PatchUndoHandlersTest, UndoingAMovePassesOverANodeWhoseCopyFailedAfterIt)
{
    const Node a = patchNode("A"), copied = patchNode("Copied"), inGroup = patchNode("InGroup");
    const Node group = groupNode("G", {inGroup});
    tree = {a, copied, group};
    auto action = std::make_shared<ChangePositionAction>();
    action->mType = 4;
    action->setUpOldList({tree.begin(), tree.end()});
    action->mOldParentList = {{group, {inGroup}}};
    action->mMovedPatchItemList = {{"", a}};
    // The move: A into G. Then both copies fail: each clears its patch's file and leaves its list.
    tree = {copied, group};
    group->childDirectories = {inGroup, a};
    for (const Node& node : {copied, inGroup}) {
        node->patchItem()->path.clear();
        auto& list = node == copied ? tree : group->childDirectories;
        list.erase(std::find(list.begin(), list.end(), node));
    }

    handlers().undo(*action);
    EXPECT_EQ(names(tree), (std::vector<std::string>{"A", "G"}));
    EXPECT_TRUE(group->childDirectories.empty());
    EXPECT_EQ(a->patchItem()->path, "/root/Temp/Local/A.qptc");
}

TEST_F(PatchUndoHandlersTest, ReplaceFromPoolUndoPutsOnlySlotsInsideTheListBack)
{
    struct Case {
        std::uint64_t index;
        std::size_t count;
        CallLog log;
    };
    const Case cases[] = {
        {5, 3, {"writeRange 5 3", "reloadList"}},
        {8, 3, {"writeRange 8 2", "reloadList"}},
        {4, 0, {"reloadList"}},
        {12, 2, {"reloadList"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.index);
        log.clear();
        std::vector<UndoAction::Object> old;
        for (std::size_t i = 0; i < c.count; ++i) old.push_back(patch("Old" + std::to_string(i)));
        handlers().undo(DragFromPoolToListAction(old, c.index));
        EXPECT_EQ(list.size(), 10u);
        for (std::size_t i = 0; i < c.count && c.index + i < list.size(); ++i)
            EXPECT_EQ(list[c.index + i]->patchName, "Old" + std::to_string(i));
        EXPECT_EQ(log, c.log);
    }
}

TEST_F(PatchUndoHandlersTest, AdditionIntoAGroupGoesToTheBinAndStopsAtAFailedMove)
{
    const Node keep = patchNode("Keep");
    const Node a = patchNode("A");
    const Node b = patchNode("B");
    const Node c = patchNode("C");
    const Node group = groupNode("G", {keep, a, b, c});
    tree = {group};
    coordinator.failingBinMoves = {"B"};
    handlers().undo(AddToPatchPoolAction({a, b, c}, group, 1));
    EXPECT_EQ(names(group->childDirectories), (std::vector<std::string>{"Keep", "B", "C"}));
    EXPECT_EQ(log, (CallLog{"deletePatchItem A in G", "deletePatchItem B in G", "info Patch_CanNotDeletePatchItem B"}));

    log.clear();
    coordinator.failingBinMoves.clear();
    handlers().undo(AddToPatchPoolAction({b, c}, group, 1));
    EXPECT_EQ(names(group->childDirectories), (std::vector<std::string>{"Keep"}));
    EXPECT_EQ(log, (CallLog{"deletePatchItem B in G", "deletePatchItem C in G", "reloadPool", "clearPoolSelection"}));
}

TEST_F(PatchUndoHandlersTest, AdditionAtTheTopLevelSkipsNodesNoLongerThere)
{
    const Node a = patchNode("A");
    const Node moved = patchNode("Moved");
    const Node group = groupNode("New group", {patchNode("x")});
    tree = {a, group};
    handlers().undo(AddToPatchPoolAction({a, moved, group}, {}, 2));
    EXPECT_TRUE(tree.empty());
    EXPECT_EQ(log, (CallLog{"deletePatchItem A in -", "deletePatchGroup New group", "reloadPool", "clearPoolSelection"}));

    log.clear();
    const Node stuck = groupNode("Stuck");
    tree = {stuck};
    coordinator.failingBinMoves = {"Stuck"};
    handlers().undo(AddToPatchPoolAction({stuck}, {}, 3));
    EXPECT_EQ(names(tree), (std::vector<std::string>{"Stuck"}));
    EXPECT_EQ(log, (CallLog{"deletePatchGroup Stuck", "info Patch_CanNotDeletePatchGroup Stuck"}));
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
    EXPECT_EQ(log, (CallLog{"deletePatchItem B in G", "deletePatchItem C in G", "reloadPool", "clearPoolSelection"}));

    log.clear();
    failedCopyOf(t, tree);
    handlers().undo(AddToPatchPoolAction({t, u}, {}, 2));
    EXPECT_EQ(names(tree), (std::vector<std::string>{"G"}));
    EXPECT_EQ(log, (CallLog{"deletePatchItem U in -", "reloadPool", "clearPoolSelection"}));
}

TEST_F(PatchUndoHandlersTest, UndoOfBackupAllLeavesRestoreModeOnlyForTheSelectedBackup)
{
    struct Case {
        bool mode;
        bool selected;
        bool backupAll;
        bool leaves;
    };
    const Case cases[] = {
        {true, true, true, true},
        {true, false, true, false},
        {false, true, true, false},
        {true, true, false, false},
    };
    for (const auto& c : cases) {
        log.clear();
        const Node backup = groupNode("Backup_DEV_20240305_14_07", {patchNode("p")}, c.backupAll);
        tree = {patchNode("top"), backup};
        restoreAllMode = c.mode;
        selectedInPool = c.selected ? backup.get() : nullptr;
        handlers().undo(AddToPatchPoolAction({backup}, {}, 3));
        EXPECT_EQ(names(tree), (std::vector<std::string>{"top"}));
        EXPECT_EQ(!log.empty() && log.front() == "leaveRestoreAllMode", c.leaves);
        EXPECT_EQ(restoreAllMode, c.mode && !c.leaves);
    }
}

TEST_F(PatchUndoHandlersTest, SelectionUndo)
{
    handlers().undo(SelectionAction({}));
    EXPECT_EQ(log, (CallLog{"clearListSelection"}));

    log.clear();
    // In the order they were selected; the last one's patch goes to the device.
    handlers().undo(SelectionAction({7, 2, 4}));
    EXPECT_EQ(log, (CallLog{"clearListSelection", "selectRows 2 4 7", "selectOnDevice 4"}));

    log.clear();
    handlers().undo(SelectionAction({3, 40}));
    EXPECT_EQ(log, (CallLog{"clearListSelection", "selectRows 3"}));
}

TEST_F(PatchUndoHandlersTest, DeletionsComeBackInReverseAtTheirIndexes)
{
    const Node a = patchNode("A");
    const Node b = patchNode("B");
    const Node c = patchNode("C");
    const Node g = groupNode("G", {a, b, c});
    const Node top = patchNode("Top");
    const Node group = groupNode("Grp");
    tree = {g, top, group};
    // Deleted in this order: B (index 1 in G), then Top (index 1 at the top), then Grp (index 1).
    auto several = std::make_shared<DeleteAction>(nullptr, nullptr, 0, 2);
    several->deletedActions = {std::make_shared<DeleteAction>(b, g, 1, 0), std::make_shared<DeleteAction>(top, nullptr, 1, 0),
                               std::make_shared<DeleteAction>(group, nullptr, 1, 1)};
    g->childDirectories = {a, c};
    tree = {g};
    handlers().undo(*several);
    EXPECT_EQ(names(tree), (std::vector<std::string>{"G", "Top", "Grp"}));
    EXPECT_EQ(names(g->childDirectories), (std::vector<std::string>{"A", "B", "C"}));
    EXPECT_EQ(b->patchItem()->path, "/root/Temp/Local/B.qptc");
    // One reload for the whole deletion, judging only what came back.
    EXPECT_EQ(log, (CallLog{"undoPatchGroup Grp", "undoPatchItem Top in -", "undoPatchItem B in G",
                            "reloadPool Grp,Top,B"}));
}

TEST_F(PatchUndoHandlersTest, DeletionFailuresAndIndexes)
{
    struct Case {
        std::string name;
        std::function<std::shared_ptr<DeleteAction>(Node& group)> action;
        std::set<std::string> failing;
        std::vector<std::string> top;
        std::vector<std::string> inGroup;
        CallLog log;
    };
    const Case cases[] = {
        {"group patch at the end", [](Node& g) { return std::make_shared<DeleteAction>(patchNode("P"), g, 1, 0); }, {},
         {"G", "T"}, {"x", "P"}, {"undoPatchItem P in G", "reloadPool P"}},
        {"group patch past the end", [](Node& g) { return std::make_shared<DeleteAction>(patchNode("P"), g, 2, 0); }, {},
         {"G", "T"}, {"x"}, {"info Patch_RestorePatchInGroupOutOfRange", "reloadPool"}},
        {"group patch failing", [](Node& g) { return std::make_shared<DeleteAction>(patchNode("P"), g, 0, 0); }, {"P"},
         {"G", "T"}, {"x"}, {"undoPatchItem P in G", "info Patch_RestorePatchInGroupFailed P", "reloadPool"}},
        {"top patch at the end", [](Node&) { return std::make_shared<DeleteAction>(patchNode("P"), nullptr, 2, 0); }, {},
         {"G", "T", "P"}, {"x"}, {"undoPatchItem P in -", "reloadPool P"}},
        {"top patch past the end", [](Node&) { return std::make_shared<DeleteAction>(patchNode("P"), nullptr, 3, 0); }, {},
         {"G", "T"}, {"x"}, {"info Patch_RestoreSinglePatchOutOfRange"}},
        {"top patch failing", [](Node&) { return std::make_shared<DeleteAction>(patchNode("P"), nullptr, 0, 0); }, {"P"},
         {"G", "T"}, {"x"}, {"undoPatchItem P in -", "info Patch_RestoreSinglePatchFailed P"}},
        {"group at the start", [](Node&) { return std::make_shared<DeleteAction>(groupNode("N"), nullptr, 0, 1); }, {},
         {"N", "G", "T"}, {"x"}, {"undoPatchGroup N", "reloadPool N"}},
        {"group past the end", [](Node&) { return std::make_shared<DeleteAction>(groupNode("N"), nullptr, 3, 1); }, {},
         {"G", "T"}, {"x"}, {"info Patch_RestorePatchGroupOutOfRange", "reloadPool"}},
        {"group failing", [](Node&) { return std::make_shared<DeleteAction>(groupNode("N"), nullptr, 1, 1); }, {"N"},
         {"G", "T"}, {"x"}, {"undoPatchGroup N", "info Patch_RestorePatchGroupFailed N", "reloadPool"}},
        {"other type", [](Node&) { return std::make_shared<DeleteAction>(groupNode("N"), nullptr, 0, 7); }, {},
         {"G", "T"}, {"x"}, {"reloadPool"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        log.clear();
        Node group = groupNode("G", {patchNode("x")});
        tree = {group, patchNode("T")};
        coordinator.failingUndos = c.failing;
        handlers().undo(*c.action(group));
        EXPECT_EQ(names(tree), c.top);
        EXPECT_EQ(names(group->childDirectories), c.inGroup);
        EXPECT_EQ(log, c.log);
    }
}

}  // namespace
