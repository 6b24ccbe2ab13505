#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "app/controls/RightClickButton.h"
#include "app/patch/OptionMenuForPatchPool.h"
#include "app/patch/OptionMenuForPatchPoolDelegate.h"
#include "app/patch/OptionMenuForPatchViewController.h"
#include "app/patch/OptionMenuForPatchViewControllerDelegate.h"
#include "app/shell/AppDelegate.h"
#include "library/models/DirectoryObject.h"
#include "support/app/TestApplication.h"

namespace {

using Node = std::shared_ptr<DirectoryObject>;

Node node(const std::string& name, bool group = false, bool backupAll = false, bool incompatible = false)
{
    auto made = std::make_shared<DirectoryObject>();
    made->name = name;
    made->isGroup = group;
    made->isBackUpAllGroup = backupAll;
    made->isIncompatible = incompatible;
    return made;
}

TEST(OptionMenuForPatchPoolRules, EachKindOfRowHasItsBitAndIncompatibleAddsOne)
{
    const Node ordinary = node("G", true);
    const Node backup = node("B", true, true);
    struct Case {
        Node item;
        Node parent;
        std::int64_t mask;
    };
    const std::vector<Case> cases = {
        {node("p"), nullptr, 2},
        {node("p"), backup, 4},
        {node("p"), ordinary, 8},
        {ordinary, nullptr, 16},
        {backup, nullptr, 32},
        {node("p", false, false, true), nullptr, 2 | 64},
        {node("B2", true, true, true), nullptr, 32 | 64},
    };
    for (const auto& each : cases)
        EXPECT_EQ(OptionMenuForPatchPool::maskForRow(*each.item, each.parent.get()), each.mask) << *each.item->name;
    const PoolSelectionEntries mixed = {{nullptr, ordinary}, {ordinary, node("x")}, {backup, node("y", false, false, true)}};
    EXPECT_EQ(OptionMenuForPatchPool::maskForSelection(mixed), 16 | 8 | 4 | 64);
    EXPECT_EQ(OptionMenuForPatchPool::maskForSelection({}), 0);
}

TEST(OptionMenuForPatchPoolRules, TheButtonsFollowTheMaskTheRestoreTheDeviceAndTheUndoStack)
{
    using State = OptionMenuForPatchPool::State;
    struct Case {
        const char* name;
        State state;
        bool write, del, property, undo;
        const char* title;
    };
    const std::vector<Case> cases = {
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
        const auto enabled = OptionMenuForPatchPool::enabling(each.state);
        EXPECT_EQ(enabled.writeOrRestore, each.write) << each.name;
        EXPECT_EQ(enabled.del, each.del) << each.name;
        EXPECT_EQ(enabled.property, each.property) << each.name;
        EXPECT_EQ(enabled.undo, each.undo) << each.name;
        EXPECT_TRUE(enabled.createGroup) << each.name;
        EXPECT_EQ(enabled.writeOrRestoreTitleKey, each.title) << each.name;
    }
    EXPECT_FALSE(OptionMenuForPatchPool::asksCanCopy(128, false));
    EXPECT_FALSE(OptionMenuForPatchPool::asksCanCopy(2 | 64, false));
    EXPECT_FALSE(OptionMenuForPatchPool::asksCanCopy(2, true));
}

TEST(OptionMenuForPatchViewControllerRules, TheLibraryButtonsAreTheScreensAndUndoWaitsForTheRestore)
{
    using State = OptionMenuForPatchViewController::State;
    struct Case {
        State state;
        bool saving, reading, undo;
    };
    const std::vector<Case> cases = {
        {{true, true, true, false}, true, true, true},
        {{false, true, true, true}, false, true, false},
        {{true, false, false, false}, true, false, false},
    };
    for (const auto& each : cases) {
        const auto enabled = OptionMenuForPatchViewController::enabling(each.state);
        EXPECT_EQ(enabled.saving, each.saving);
        EXPECT_EQ(enabled.reading, each.reading);
        EXPECT_EQ(enabled.undo, each.undo);
        EXPECT_TRUE(enabled.property);
    }
}

// Implements only what it is told to; logs every call.
class PoolMenuDelegate final : public OptionMenuForPatchPoolDelegate {
public:
    std::vector<std::string> log;
    bool canCopy = true;
    void optionMenuForPatchPoolDidClickOnButtonRestoreAllToDeviceAtItem(OptionMenuForPatchPool*, const Node& item,
                                                                        const Node& group) override
    {
        log.push_back("restore " + item->name.value_or("") + (group ? " in group" : ""));
    }
    void optionMenuForPatchPoolDidClickOnButtonCopyToDeviceMemoryAtItems(OptionMenuForPatchPool*,
                                                                         const PoolSelectionEntries& items) override
    {
        log.push_back("copy " + std::to_string(items.size()));
    }
    void optionMenuForPatchPoolDidClickOnDeleteButtonWithItems(OptionMenuForPatchPool*,
                                                               const PoolSelectionEntries& items) override
    {
        log.push_back("delete " + std::to_string(items.size()));
    }
    void optionMenuForPatchPoolDidClickOnPropertyButtonAtItem(OptionMenuForPatchPool*, const Node& item,
                                                              const Node& group) override
    {
        log.push_back("property " + (item ? *item->name : std::string("-")) + " " + (group ? *group->name : std::string("-")));
    }
    void optionMenuForPatchPoolDidClickOnCreateGroupButtonAtItem(OptionMenuForPatchPool*, const Node& item,
                                                                 const Node&) override
    {
        log.push_back(std::string("create ") + (item ? "item" : "nothing"));
    }
    bool optionMenuForPatchPoolCanCopyToDeviceMemory(OptionMenuForPatchPool*) override
    {
        log.push_back("asked");
        return canCopy;
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
    const Node group = node("G", true);
    const Node child = node("c");
    const Node backup = node("Backup", true, true);
    const PoolSelectionEntries entries = {{group, child}, {nullptr, backup}, {nullptr, node("Second", true, true)}};
    OptionMenuForPatchPool menu(OptionMenuForPatchPool::maskForSelection(entries), child, group, entries, &delegate,
                                appDelegate, false);
    EXPECT_EQ(delegate.log, std::vector<std::string>{"asked"});
    EXPECT_TRUE(menu.writeOrRestoreButton()->isEnabled());
    EXPECT_FALSE(menu.undoButton()->isEnabled());
    menu.writeOrRestoreButton()->click();
    menu.deleteButton()->click();
    menu.propertyButton()->click();
    menu.createGroupButton()->click();
    // Undo is not implemented by this delegate: the enabled button does nothing.
    menu.ClickedOnUndoButton();
    EXPECT_EQ(delegate.log, (std::vector<std::string>{"asked", "restore Backup", "delete 3", "property c G", "create item"}));

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
    OptionMenuForPatchPool empty(OptionMenuForPatchPool::kEmptySpace, nullptr, nullptr, {}, &delegate, appDelegate, true);
    EXPECT_TRUE(delegate.log.empty());
    EXPECT_FALSE(empty.writeOrRestoreButton()->isEnabled());
    EXPECT_FALSE(empty.deleteButton()->isEnabled());
    EXPECT_FALSE(empty.propertyButton()->isEnabled());
    EXPECT_TRUE(empty.undoButton()->isEnabled());
    empty.createGroupButton()->click();
    EXPECT_EQ(delegate.log, std::vector<std::string>{"create nothing"});

    OptionMenuForPatchPoolDelegate silent;
    const Node patch = node("p");
    OptionMenuForPatchPool quiet(2, patch, nullptr, {{nullptr, patch}}, &silent, appDelegate, false);
    EXPECT_FALSE(quiet.writeOrRestoreButton()->isEnabled());
    EXPECT_EQ(quiet.writeOrRestoreButton()->objectName(), QStringLiteral("Patch_CopyToDeviceMemory"));
    EXPECT_TRUE(quiet.deleteButton()->isEnabled());
    quiet.deleteButton()->click();
}

class ListMenuDelegate final : public OptionMenuForPatchViewControllerDelegate {
public:
    std::vector<std::string> log;
    void optionMenuDidClickOnSavingInPatchPoolButtonAtIndex(std::uint64_t row) override
    {
        log.push_back("save " + std::to_string(row));
    }
    void optionMenuDidClickOnPropertyButtonAtIndex(std::uint64_t row) override
    {
        log.push_back("property " + std::to_string(row));
    }
    bool optionMenuCanSaveToPatchPool() override { return true; }
};

TEST_F(OptionMenusTest, TheListMenuPassesItsRowAndASilentQuestionIsNo)
{
    ListMenuDelegate delegate;
    OptionMenuForPatchViewController menu(7, nullptr, &delegate, appDelegate, true);
    EXPECT_TRUE(menu.savingInPatchPoolButton()->isEnabled());
    EXPECT_FALSE(menu.readingInPatchPoolButton()->isEnabled());
    EXPECT_TRUE(menu.undoButton()->isEnabled());
    EXPECT_TRUE(menu.propertyButton()->isEnabled());
    menu.savingInPatchPoolButton()->click();
    menu.propertyButton()->click();
    menu.undoButtonClicked();
    EXPECT_EQ(delegate.log, (std::vector<std::string>{"save 7", "property 7"}));

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
