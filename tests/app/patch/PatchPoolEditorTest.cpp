#include <QLabel>
#include <QPushButton>

#include <cerrno>

#include "app/dialogs/ShowingDialogQueue.h"
#include "app/dialogs/UpdateInformationView.h"
#include "app/patch/PatchPoolEditor.h"
#include "app/patch/QueuePatchDialogs.h"
#include "app/shell/AppDelegate.h"
#include "library/CommonUtils.h"
#include "library/undo/AddToPatchPoolAction.h"
#include "library/undo/ChangePositionAction.h"
#include "library/undo/ChangeTextAction.h"
#include "PatchCases.h"
#include "support/app/FakePatchNeighbours.h"

namespace {

using namespace testing_app;
const std::string kLocal = "/root/Temp/Local";

class PatchPoolEditorTest : public ::testing::Test {
protected:
    PatchPoolEditorTest()
    {
        for (const std::string i : {"0", "1", "2", "3", "4", "5", "6", "7"})
            patchItems.push_back(patchItem("R" + i, {}, "/root/Temp/Device/Patch/R" + i + ".qptc"));
    }
    PatchPoolEditor editor()
    {
        return PatchPoolEditor(tree, patchItems,
                               {coordinator, [this](std::shared_ptr<UndoAction> action) { actions.push_back(action); },
                                logs(messages, ""), [this] { ++poolChanged; }, [this] { ++coloursCleared; },
                                [this](std::function<void()> step) { laterSteps.push_back(std::move(step)); },
                                [this](const std::shared_ptr<UndoAction>& action) { std::erase(actions, action); },
                                [this] { ++treeChangedLater; }});
    }
    template <typename Action>
    std::shared_ptr<Action> last()
    {
        return actions.empty() ? nullptr : std::dynamic_pointer_cast<Action>(actions.back());
    }
    // What the editor left for a later turn of the main thread.
    void runLaterSteps()
    {
        for (auto& step : std::exchange(laterSteps, {})) step();
    }

    Log log;
    testing_app::FakePatchCoordinator coordinator{log};
    std::vector<std::shared_ptr<UndoAction>> actions;
    std::vector<Node> tree;
    PatchPoolEditor::Patches patchItems;
    Log messages;
    std::vector<std::function<void()>> laterSteps;
    int poolChanged = 0, coloursCleared = 0, treeChangedLater = 0;
};

TEST_F(PatchPoolEditorTest, RenamesFollowTheRulesOfPatchesAndGroups)
{
    const struct {
        const char* what;
        bool group;
        std::string text;
        bool editSucceeds;
        std::int32_t renameResult;
        bool renamed;
        std::string message;
    } cases[] = {
        {"unchanged", false, "P1", true, 0, false, ""},
        {"empty", false, "", true, 0, false, "Patch_InvalidPatchName"},
        {"empty group", true, "", true, 0, false, "Patch_InvalidPatchName"},
        {"patch", false, "Lead", true, 0, true, ""},
        {"rewrite failed", false, "Lead", false, 0, false, "Patch_CanNotEditPatchItem P1"},
        {"group", true, "Leads", true, 0, true, ""},
        {"group exists", true, "Leads", true, 1, false, "Patch_FileExist"},
        {"group refused", true, "Leads", true, 2, false, "Patch_CanNotRenamePatchGroup Drums"},
        {"group case only", true, "drums", true, 0, true, ""},
    };
    for (const auto& c : cases) {
        const Node patch = patchNode("P1", kLocal + "/Drums");
        const Node group = groupNode("Drums", {patch});
        tree = {group};
        actions.clear();
        messages.clear();
        coloursCleared = 0;
        coordinator.editSucceeds = c.editSucceeds;
        coordinator.renameResult = c.renameResult;
        const Node item = c.group ? group : patch;
        EXPECT_EQ(editor().renameItem(item, c.text), c.renamed) << c.what;
        EXPECT_EQ(messages.empty() ? "" : messages.front(), c.message) << c.what;
        // A refused rewrite shows the editing fields as not edited again.
        EXPECT_EQ(coloursCleared, c.editSucceeds ? 0 : 1) << c.what;
        EXPECT_EQ(*item->name, c.renamed ? c.text : (c.group ? "Drums" : "P1")) << c.what;
        EXPECT_EQ(patch->patchItem()->patchName, c.renamed && !c.group ? c.text : "P1") << c.what;
        auto action = last<ChangeTextAction>();
        ASSERT_EQ(action != nullptr, c.renamed) << c.what;
        if (!action) continue;
        EXPECT_EQ(action->mType, c.group ? 4 : 3) << c.what;
        EXPECT_EQ(action->mOldText, c.group ? "Drums" : "P1");
        EXPECT_EQ(action->mNewText, c.text);
        // A patch's record names its group; a group's none.
        EXPECT_EQ(std::holds_alternative<std::shared_ptr<DirectoryObject>>(action->mGroupOfItem), !c.group) << c.what;
    }
    // A case-only rename moves the folder like any other.
    EXPECT_EQ(log.back(), "renameGroup Drums -> drums");
}

TEST_F(PatchPoolEditorTest, DeviceRowsGoIntoAGroupAfterTheTargetChildInOrder)
{
    const Node first = patchNode("First", kLocal + "/G"), second = patchNode("Second", kLocal + "/G");
    const Node group = groupNode("G", {first, second});
    tree = {group};
    const auto added = editor().insertBackUpPatchForPatchItemAtIndexs({3, 4, 5}, group, 0, false);
    EXPECT_EQ(namesOf(group->childDirectories), (Names{"First", "R3", "R4", "R5", "Second"}));
    EXPECT_EQ(namesOf(added), (Names{"R3", "R4", "R5"}));
    // The pool holds copies in its own folder; the device list keeps its patches.
    EXPECT_EQ(group->childDirectories[1]->patchItem()->path, kLocal + "/G/R3.qptc");
    EXPECT_NE(group->childDirectories[1]->object, DirectoryObject::Item(patchItems[3]));
    EXPECT_EQ(patchItems[3]->path, "/root/Temp/Device/Patch/R3.qptc");
    const auto action = last<AddToPatchPoolAction>();
    ASSERT_TRUE(action);
    EXPECT_EQ(std::tuple(action->mType, action->mItems.size(), std::get<Node>(action->mGroup)), std::tuple(1, 3u, group));
    EXPECT_EQ(poolChanged, 1);
}

TEST_F(PatchPoolEditorTest, SavingAtTheTopLevelPlacesRowsByTarget)
{
    const struct Case {
        const char* what;
        bool withTarget, isAbove;
        std::vector<std::int64_t> rows;
        Names expected;
    } cases[] = {
        {"beside a patch", true, false, {3, 4, 5}, {"A", "X", "R5", "R4", "R3", "B"}},
        {"above a patch", true, true, {3, 4, 5}, {"A", "R5", "R4", "R3", "X", "B"}},
        {"no target", false, true, {3}, {"A", "X", "B", "R3"}},
        {"rows past the list", true, false, {3, 42, -1}, {"A", "X", "R3", "B"}},
    };
    for (const auto& c : cases) {
        const Node x = patchNode("X");
        tree = {patchNode("A"), x, patchNode("B")};
        actions.clear();
        editor().addBackUpPatchItemAtIndexs(c.rows, c.withTarget ? x : nullptr, c.isAbove);
        EXPECT_EQ(namesOf(tree), c.expected) << c.what;
        const auto action = last<AddToPatchPoolAction>();
        ASSERT_TRUE(action) << c.what;
        EXPECT_EQ(action->mType, 2);
    }
}

TEST_F(PatchPoolEditorTest, FailedCopiesOfOneSaveAreToldOnceAndASaveOfNothingPushesNoRecord)
{
    const Node group = groupNode("G");
    tree = {group};
    coordinator.failingCopies = {"R1", "R2"};
    EXPECT_TRUE(editor().insertBackUpPatchForPatchItemAtIndexs({1, 2}, group, 0, true).empty());
    EXPECT_EQ(messages, (Names{"Patch_CanNotCopyPatchItems R1, R2 (2)"}));
    EXPECT_TRUE(actions.empty());
    EXPECT_EQ(poolChanged, 0);

    // One of two fails: the other is added and recorded alone.
    messages.clear();
    editor().addBackUpPatchItemAtIndexs({1, 3}, nullptr, true);
    EXPECT_EQ(namesOf(tree), (Names{"G", "R3"}));
    EXPECT_EQ(messages.size(), 1u);
    ASSERT_TRUE(last<AddToPatchPoolAction>());
    EXPECT_EQ(last<AddToPatchPoolAction>()->mItems.size(), 1u);

    // A new group whose copies all failed is still added, and undoable.
    const Node made = editor().createNewGroupWithPatchIndexs({1, 2}, nullptr, true);
    EXPECT_TRUE(made->childDirectories.empty());
    EXPECT_EQ(tree.back(), made);
    EXPECT_EQ(last<AddToPatchPoolAction>()->mType, 3);
}

// A failed copy's message is followed by why, where the file layer knows a reason the user can act on.
TEST_F(PatchPoolEditorTest, AFailedCopyIsToldWithItsReason)
{
    coordinator.failingCopies = {"R1"};
    const auto files = [](int code) { return platform::Error::make("files", code, "of the files"); };
    const std::pair<platform::Error, std::string> cases[] = {
        {files(ENOSPC), " Patch_CopyFailedNoSpace"}, {files(EDQUOT), " Patch_CopyFailedNoSpace"},
        {files(EACCES), " Patch_CopyFailedPermission"}, {files(EROFS), " Patch_CopyFailedPermission"},
        {files(ENOENT), " Patch_CopyFailedFileGone"}, {files(ENAMETOOLONG), " Patch_CopyFailedNameTooLong"},
        {platform::Error::make(CommonUtils::kPatchErrorDomain, CommonUtils::kNotAPatchFile, "text"),
         " Patch_CopyFailedNotAPatchFile"},
        {files(EIO), ""}, {platform::Error::make("other", ENOSPC, "not the files' code"), ""}, {platform::Error{}, ""},
    };
    for (const auto& [error, reason] : cases) {
        SCOPED_TRACE(error.description + reason);
        coordinator.copyError = error;
        for (const bool later : {false, true}) {  // made at once, and off the main thread
            messages.clear();
            auto e = editor();
            if (later) {
                e.addBackUpPatchItemAtIndexs({1}, nullptr, true, [](PatchPoolEditor::Nodes) {});
                runLaterSteps();
            } else {
                e.addBackUpPatchItemAtIndexs({1}, nullptr, true);
            }
            EXPECT_EQ(messages, Names{"Patch_CanNotCopyPatchItem R1" + reason}) << later;
            EXPECT_TRUE(tree.empty());
        }
    }
}

// The user reads the message's own text, then the reason's.
TEST(PatchCopyFailureMessage, TheReasonFollowsTheMessage)
{
    testing_app::application();
    AppDelegate appDelegate;
    ShowingDialogQueue queue{appDelegate};
    QueuePatchDialogs dialogs{queue};
    dialogs.showInformation("Patch_CanNotCopyPatchItem", "Song", "Patch_CopyFailedNoSpace");
    ASSERT_NE(queue.informationView(), nullptr);
    EXPECT_EQ(queue.informationView()->informationTextField()->text().toStdString(),
              "The patch \"Song\" could not be copied. There is not enough space on the disk.");
    queue.informationView()->okButton()->click();
}

TEST_F(PatchPoolEditorTest, NewGroupsAreNamedFromTheDiskAndPlacedByTarget)
{
    coordinator.existing = {kLocal + "/New Patch Group 1", kLocal + "/New Patch Group 3"};
    const Node x = patchNode("X");
    tree = {patchNode("A"), x};
    const Node below = editor().createNewGroupWithPatchIndexs({0, 1}, x, false);
    EXPECT_EQ(*below->name, "New Patch Group 2");
    EXPECT_EQ(namesOf(below->childDirectories), (Names{"R0", "R1"}));
    EXPECT_EQ(below->childDirectories[0]->patchItem()->path, kLocal + "/New Patch Group 2/R0.qptc");
    EXPECT_EQ(namesOf(tree), (Names{"A", "X", "New Patch Group 2"}));
    const Node above = editor().createNewGroupWithPatchItems({patchItem("F", {}, "/f/F.qptc")}, x, true);
    EXPECT_EQ(*above->name, "New Patch Group 4");
    EXPECT_EQ(namesOf(tree), (Names{"A", "New Patch Group 4", "X", "New Patch Group 2"}));
    // The empty group goes to the top, its folder made.
    const Node empty = editor().createEmptyGroupAtTop();
    EXPECT_EQ(*empty->name, "New Patch Group 5");
    EXPECT_EQ(tree.front(), empty);
    EXPECT_EQ(log.back(), "createDirectory /root/Temp/Local/New Patch Group 5");
    const auto action = last<AddToPatchPoolAction>();
    ASSERT_TRUE(action);
    EXPECT_EQ(action->mType, 3);
    EXPECT_EQ(action->mItems, std::vector<UndoAction::Object>{empty});
}

TEST_F(PatchPoolEditorTest, MovesKeepOrderRecordTheirSourcesAndLeaveFailedPatchesInPlace)
{
    const auto entry = [](const Node& child, const Node& parent) { return PoolSelectionEntry{parent, child}; };
    // A and B above X in G, where they are already (nothing moves, nothing is recorded), and below it.
    for (const std::int64_t position : {0, 2}) {
        const Node a = patchNode("A", kLocal + "/G"), b = patchNode("B", kLocal + "/G"), x = patchNode("X", kLocal + "/G");
        const Node g = groupNode("G", {a, b, x, patchNode("Y", kLocal + "/G")});
        tree = {g};
        const auto moved = editor().changePositionWithItems({entry(a, g), entry(b, g)}, x, position);
        EXPECT_EQ(namesOf(g->childDirectories), position == 0 ? (Names{"A", "B", "X", "Y"}) : (Names{"X", "A", "B", "Y"}));
        EXPECT_EQ(moved.size(), position == 0 ? 0u : 2u);
        EXPECT_EQ(actions.size(), position == 0 ? 0u : 1u);
    }
    {  // A top-level patch onto a group, and patches of two groups into a third.
        const Node top = patchNode("T");
        const Node c = patchNode("C", kLocal + "/G1"), d = patchNode("D", kLocal + "/G2");
        const Node g1 = groupNode("G1", {c}), g2 = groupNode("G2", {d}), g3 = groupNode("G3", {patchNode("E", kLocal + "/G3")});
        tree = {top, g1, g2, g3};
        editor().changePositionWithItems({entry(top, nullptr)}, g3, 1);
        EXPECT_EQ(namesOf(g3->childDirectories), (Names{"E", "T"}));
        EXPECT_EQ(namesOf(tree), (Names{"G1", "G2", "G3"}));
        auto action = last<ChangePositionAction>();
        ASSERT_TRUE(action);
        EXPECT_EQ(std::tuple(action->mType, action->mOldList.size(), action->mNewList),
                  std::tuple(4, 4u, std::vector<UndoAction::Object>{g1, g2, g3}));
        ASSERT_EQ(action->mMovedPatchItemList.size(), 1u);
        EXPECT_EQ(action->mMovedPatchItemList[0].oldDirectory, "");
        EXPECT_EQ(action->mMovedPatchItemList[0].patchItem, top);
        // Both the node and its patch point at the moved file.
        EXPECT_EQ(std::pair(*top->path, top->patchItem()->path), std::pair(kLocal + "/G3/T.qptc", kLocal + "/G3/T.qptc"));

        editor().changePositionWithItems({entry(c, g1), entry(d, g2)}, g3, 1);
        EXPECT_EQ(namesOf(g3->childDirectories), (Names{"E", "T", "C", "D"}));
        action = last<ChangePositionAction>();
        ASSERT_EQ(action->mOldParentList.size(), 3u);
        EXPECT_EQ(std::tuple(action->mOldParentList[0].oldParentItem, action->mOldParentList[1].oldParentItem,
                             action->mOldParentList[2].oldParentItem),
                  std::tuple(g3, g1, g2));
        EXPECT_EQ(namesOf(action->mOldParentList[1].oldChildItems), Names{"C"});
        EXPECT_EQ(action->mMovedPatchItemList[0].oldDirectory + action->mMovedPatchItemList[1].oldDirectory, "G1G2");
        EXPECT_EQ(action->mOldList, (std::vector<UndoAction::Object>{g1, g2, g3}));
    }
    {  // Onto its own member: below the nearest item above that is not dragged.
        const Node a = patchNode("A"), b = patchNode("B"), c = patchNode("C"), d = patchNode("D");
        tree = {a, b, c, d};
        editor().changePositionWithItems({entry(b, nullptr), entry(d, nullptr)}, d, 1);
        EXPECT_EQ(namesOf(tree), (Names{"A", "C", "B", "D"}));
    }
    {  // Onto a patch, a group beside a group's patch, and a failed move: nothing changes, nothing is pushed.
        const Node a = patchNode("A"), b = patchNode("B"), inner = patchNode("I", kLocal + "/G");
        const Node g = groupNode("G", {inner}), h = groupNode("H");
        tree = {a, b, g, h};
        actions.clear();
        coordinator.failingMoves = {"A"};
        EXPECT_TRUE(editor().changePositionWithItems({entry(a, nullptr)}, b, 1).empty());
        EXPECT_TRUE(editor().changePositionWithItems({entry(h, nullptr)}, inner, 2).empty());
        EXPECT_TRUE(editor().changePositionWithItems({entry(a, nullptr)}, g, 1).empty());
        EXPECT_EQ(namesOf(tree), (Names{"A", "B", "G", "H"}));
        EXPECT_EQ(namesOf(g->childDirectories), Names{"I"});
        EXPECT_TRUE(actions.empty());
        EXPECT_EQ(a->patchItem()->path, kLocal + "/A.qptc");
    }
}

// ---- saves whose copies are made off the main thread ----

// A save whose copies are made later shows and is recorded at once, as the user asked it: an undo or a
// save before the copies land finds it. Each copy lands in its node wherever the node is by then; a
// failed one leaves the pool, names no file, and the failures are told once, on a later turn.
TEST_F(PatchPoolEditorTest, ACopyMadeLaterIsPlacedAndRecordedAtOnceAndLandsInItsNode)
{
    coordinator.holdCopies = true;
    coordinator.failingCopies = {"R1", "R3"};
    coordinator.incompatibleFiles = {"R2"};
    const Node target = patchNode("T");
    tree = {target};
    auto e = editor();
    std::optional<std::vector<Node>> added;
    const auto placed = e.addBackUpPatchItemAtIndexs({0, 1, 2, 3}, target, false, [&](std::vector<Node> nodes) { added = std::move(nodes); });
    // One place for all, each later patch before the earlier ones.
    EXPECT_EQ(namesOf(tree), (Names{"T", "R3", "R2", "R1", "R0"}));
    EXPECT_EQ(namesOf(placed), (Names{"R0", "R1", "R2", "R3"}));
    ASSERT_EQ(actions.size(), 1u);
    EXPECT_EQ(last<AddToPatchPoolAction>()->mItems.size(), 4u);
    EXPECT_EQ(poolChanged, 1);
    EXPECT_FALSE(added);

    // The user goes on while the files are copied: a patch moves into a group.
    const Node group = groupNode("G");
    tree.insert(tree.begin(), group);
    group->childDirectories.push_back(tree[3]);  // R2
    tree.erase(tree.begin() + 3);
    coordinator.runHeldCopies();
    // The tree changes at once; the user hears of it on a later turn.
    EXPECT_EQ(namesOf(tree), (Names{"G", "T", "R0"}));
    EXPECT_EQ(namesOf(group->childDirectories), (Names{"R2"}));
    EXPECT_EQ(placed[1]->patchItem()->path, "");
    EXPECT_EQ(tree[2]->patchItem()->path, kLocal + "/R0.qptc");
    EXPECT_FALSE(tree[2]->isIncompatible);
    EXPECT_TRUE(group->childDirectories[0]->isIncompatible);  // marked from its copy
    EXPECT_TRUE(messages.empty());
    EXPECT_FALSE(added);
    runLaterSteps();
    ASSERT_TRUE(added);
    EXPECT_EQ(namesOf(*added), (Names{"R0", "R2"}));
    EXPECT_EQ(messages, (Names{"Patch_CanNotCopyPatchItems R1, R3 (2)"}));
    EXPECT_EQ(actions.size(), 1u);
}

// A move records the pool as it stands once the copies finished before it have landed: its undo never
// brings back a node whose copy failed, and a drop onto such a node moves nothing.
TEST_F(PatchPoolEditorTest, AMoveRecordsThePoolAfterTheCopiesAskedBeforeItHaveLanded)
{
    coordinator.holdCopies = true;
    coordinator.stepsLandHeldCopies = true;
    coordinator.failingCopies = {"R1", "R2"};
    const Node a = patchNode("A"), b = patchNode("B"), g = groupNode("G");
    tree = {a, b, g};
    auto e = editor();
    e.addBackUpPatchItemAtIndexs({1}, a, true, [](std::vector<Node>) {});
    ASSERT_EQ(namesOf(tree), (Names{"R1", "A", "B", "G"}));
    // Finished on the pool's queue, not landed yet.
    coordinator.finishHeldCopies();
    const auto moved = e.changePositionWithItems({{nullptr, b}}, g, 1);
    EXPECT_EQ(moved, std::vector<Node>{b});
    EXPECT_EQ(namesOf(tree), (Names{"A", "G"}));
    const auto action = last<ChangePositionAction>();
    ASSERT_TRUE(action);
    Names recorded;
    for (const auto& object : action->mOldList) recorded.push_back(std::get<Node>(object)->name.value_or(""));
    EXPECT_EQ(recorded, (Names{"A", "B", "G"}));

    const auto target = e.addBackUpPatchItemAtIndexs({2}, a, true, [](std::vector<Node>) {});
    coordinator.finishHeldCopies();
    actions.clear();
    EXPECT_TRUE(e.changePositionWithItems({{nullptr, a}}, target.at(0), 2).empty());
    EXPECT_EQ(namesOf(tree), (Names{"A", "G"}));
    EXPECT_TRUE(actions.empty());
}

TEST_F(PatchPoolEditorTest, ManyFailedCopiesMakeOneMessageWithTheFirstNamesAndHowMany)
{
    coordinator.holdCopies = true;
    coordinator.failingCopies = {"R0", "R1", "R2", "R3", "R4", "R5"};
    coordinator.copyError = platform::Error::make("files", ENOENT, "gone");
    auto e = editor();
    e.addBackUpPatchItemAtIndexs({0, 1, 2, 3, 4, 5}, nullptr, true, [](std::vector<Node>) {});
    coordinator.runHeldCopies();
    runLaterSteps();
    EXPECT_EQ(messages, (Names{"Patch_CanNotCopyPatchItems R0, R1, R2, \u2026 (6) Patch_CopyFailedFileGone"}));
    EXPECT_TRUE(tree.empty());
    // A save that came to nothing leaves no record to undo.
    EXPECT_TRUE(actions.empty());
}

TEST_F(PatchPoolEditorTest, ACopyMadeLaterFindsItsGroupGoneOrItsEditorGone)
{
    coordinator.holdCopies = true;
    const Node group = groupNode("G", {patchNode("g0", kLocal + "/G")});
    std::optional<std::vector<Node>> added;
    {
        auto e = editor();
        // A group no longer in the pool takes nothing, and nothing is recorded.
        EXPECT_TRUE(e.insertBackUpPatchForPatchItemAtIndexs({3}, group, 0, false, [&](std::vector<Node> nodes) { added = std::move(nodes); }).empty());
        ASSERT_TRUE(added);
        EXPECT_TRUE(added->empty());
        EXPECT_EQ(group->childDirectories.size(), 1u);
        EXPECT_TRUE(actions.empty());

        added.reset();
        const Node made = e.createNewGroupWithPatchIndexs({1, 2}, nullptr, true, [&](const Node& g) { added = std::vector<Node>{g}; });
        EXPECT_EQ(namesOf(made->childDirectories), (Names{"R1", "R2"}));
        EXPECT_EQ(tree, std::vector<Node>{made});
        EXPECT_EQ(actions.size(), 1u);
    }
    // The screen (and its editor) went before the copies were made: nothing runs.
    coordinator.runHeldCopies();
    runLaterSteps();
    EXPECT_FALSE(added);
}

}  // namespace
