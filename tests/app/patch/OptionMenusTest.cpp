#include "app/controls/RightClickButton.h"
#include "app/patch/OptionMenuForPatchPool.h"
#include "app/patch/OptionMenuForPatchPoolDelegate.h"
#include "app/patch/OptionMenuForPatchViewController.h"
#include "app/patch/OptionMenuForPatchViewControllerDelegate.h"
#include "app/shell/AppDelegate.h"
#include "PatchCases.h"

namespace {

using namespace testing_app;
using Pool = OptionMenuForPatchPool;

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
    QApplication& app = testing_app::application();
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
