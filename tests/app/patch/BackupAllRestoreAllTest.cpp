#include <gtest/gtest.h>

#include <algorithm>
#include <ctime>

#include "app/patch/BackupAllRestoreAll.h"
#include "library/undo/AddToPatchPoolAction.h"
#include "library/undo/DragFromPoolToListAction.h"
#include "support/app/FakePatchNeighbours.h"
#include "support/app/PoolNodes.h"

namespace {

using testing_app::CallLog;
using testing_app::FakePatchCoordinator;
using Node = BackupAllRestoreAll::Node;

std::shared_ptr<PatchItem> patch(const std::string& name)
{
    auto item = std::make_shared<PatchItem>();
    item->patchName = name;
    item->path = "/root/Temp/Device/Patch/" + name + ".qptc";
    return item;
}

Node child(const std::string& name, bool incompatible = false, bool withPatch = true)
{
    auto node = std::make_shared<DirectoryObject>();
    node->name = name;
    if (withPatch) node->object = patch(name);
    node->isIncompatible = incompatible;
    return node;
}

Node backupGroup(const std::string& name, std::vector<Node> children, bool backupAll = true)
{
    return testing_app::poolGroup(name, std::move(children), backupAll);
}

// 5 March 2024, 14:07:30 on the computer's clock.
std::chrono::system_clock::time_point fixedTime()
{
    std::tm local{};
    local.tm_year = 124;
    local.tm_mon = 2;
    local.tm_mday = 5;
    local.tm_hour = 14;
    local.tm_min = 7;
    local.tm_sec = 30;
    local.tm_isdst = -1;
    return std::chrono::system_clock::from_time_t(std::mktime(&local));
}

std::vector<std::string> names(const std::vector<std::shared_ptr<PatchItem>>& list)
{
    std::vector<std::string> out;
    for (const auto& item : list) out.push_back(item ? item->patchName : "-");
    return out;
}

class BackupAllRestoreAllTest : public ::testing::Test {
protected:
    void load(std::size_t count)
    {
        list.clear();
        for (std::size_t i = 0; i < count; ++i) list.push_back(patch("S" + std::to_string(i)));
    }

    BackupAllRestoreAll subject()
    {
        BackupAllRestoreAll::Collaborators c{coordinator};
        c.addActionStack = [this](std::shared_ptr<UndoAction> action) {
            actions.push_back(action);
            log.push_back("addActionStack");
        };
        c.showMessage = [this](const std::string& key, const std::optional<std::string>& argument) {
            log.push_back("info " + key + (argument ? " " + *argument : std::string()));
        };
        c.makePatchNode = [](const PatchItem& item) {
            auto node = std::make_shared<DirectoryObject>();
            auto copy = item.copy();
            node->name = copy->patchName;
            node->object = copy;
            return node;
        };
        c.now = fixedTime;
        c.clickTime = [this] { return clicked; };
        c.doubleClickInterval = std::chrono::milliseconds(400);
        c.showBackupInPool = [this](const Node& group) {
            log.push_back("showBackupInPool " + (group ? group->name.value_or("") : std::string("-")));
        };
        c.setPatchPoolChanged = [this] { log.push_back("setPatchPoolChanged"); };
        c.disableButtonBriefly = [this] { log.push_back("disableButtonBriefly"); };
        c.writePatchList = [this](const BackupAllRestoreAll::Patches& written) {
            log.push_back("writePatchList " + std::to_string(written.size()));
        };
        c.reloadListFromTop = [this] { log.push_back("reloadListFromTop"); };
        c.clearPoolSelection = [this] { log.push_back("clearPoolSelection"); };
        c.leaveRestoreAllMode = [this] { log.push_back("leaveRestoreAllMode"); };
        c.setButtonEnabled = [this](bool enabled) { log.push_back(std::string("setButtonEnabled ") + (enabled ? "1" : "0")); };
        c.queueRestoreResult = [this](std::int64_t restored, std::int64_t max) {
            log.push_back("queueRestoreResult " + std::to_string(restored) + " " + std::to_string(max));
        };
        c.startRestoringAll = [this] { log.push_back("startRestoringAll"); };
        c.ejectDevice = [this] { log.push_back("ejectDevice"); };
        return BackupAllRestoreAll(tree, list, std::move(c));
    }

    CallLog log;
    FakePatchCoordinator coordinator{log};
    std::vector<Node> tree;
    std::vector<std::shared_ptr<PatchItem>> list;
    std::vector<std::shared_ptr<UndoAction>> actions;
    std::chrono::steady_clock::time_point clicked{};
};

TEST_F(BackupAllRestoreAllTest, NamesFollowTheLocalClockInDigits)
{
    EXPECT_EQ(BackupAllRestoreAll::dateText(fixedTime()), "20240305_14_07");
    EXPECT_EQ(BackupAllRestoreAll::backupName("DEV", fixedTime()), "Backup_DEV_20240305_14_07");
}

TEST_F(BackupAllRestoreAllTest, TwoBackupsInOneMinuteTakeANumberedName)
{
    load(3);
    tree = {child("top")};
    const Node first = subject().backUpAll("DEV");
    const Node second = subject().backUpAll("DEV");
    ASSERT_TRUE(first && second);
    EXPECT_EQ(first->name, "Backup_DEV_20240305_14_07");
    EXPECT_EQ(second->name, "Backup_DEV_20240305_14_07 (1)");
    // The folder and the node agree on the name.
    EXPECT_EQ(second->path, second->name);
    EXPECT_TRUE(second->isGroup && second->isBackUpAllGroup);
    EXPECT_EQ(second->modelName, "DEV");
    ASSERT_EQ(second->childDirectories.size(), 3u);
    EXPECT_EQ(second->childDirectories[2]->name, "S2");
    EXPECT_NE(second->childDirectories[0]->patchItem(), list[0].get());
    ASSERT_EQ(tree.size(), 3u);
    EXPECT_EQ(tree[1], first);
    EXPECT_EQ(tree[2], second);
    ASSERT_EQ(actions.size(), 2u);
    const auto* record = dynamic_cast<AddToPatchPoolAction*>(actions[1].get());
    ASSERT_NE(record, nullptr);
    EXPECT_EQ(record->mType, 3);
    EXPECT_EQ(std::get<std::shared_ptr<DirectoryObject>>(record->mItems.at(0)), second);
}

TEST_F(BackupAllRestoreAllTest, EveryBackupResultEndsAlike)
{
    enum Middle { kNone, kSameBackup, kSameOrdinaryGroup };
    struct Case {
        std::int32_t result;
        Middle middle;
        std::vector<std::string> top;  // "new" for the group made, "old" for the one there before
        CallLog log;
    };
    const std::string name = "Backup_DEV_20240305_14_07";
    const CallLog written = {"backupPatchList " + name + " 2", "addActionStack"};
    const CallLog replaced = {"backupPatchList " + name + " 2", "addActionStack",
                              "info Patch_OverwriteOldBackupGroupSuccessfully " + name};
    const CallLog failed = {"backupPatchList " + name + " 2", "info Patch_BackupAllFailed", "showBackupInPool -"};
    const Case cases[] = {
        {1, kNone, {"top", "after", "new"}, written},
        {3, kSameBackup, {"top", "new", "after"}, replaced},
        {3, kSameOrdinaryGroup, {"top", "old", "after", "new"}, replaced},
        {3, kNone, {"top", "after", "new"}, replaced},
        {2, kSameBackup, {"top", "old", "after"}, failed},
        {4, kSameBackup, {"top", "old", "after"}, failed},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.result) + " " + std::to_string(c.middle));
        log.clear();
        load(2);
        coordinator.takenBackupNames.clear();
        const Node old = backupGroup(name, {child("o")}, c.middle == kSameBackup);
        tree = {child("top"), child("after")};
        if (c.middle != kNone) tree.insert(tree.begin() + 1, old);
        coordinator.backupResult = c.result;
        const Node made = subject().backUpAll("DEV");
        std::vector<std::string> top;
        for (const auto& node : tree) top.push_back(node == made ? "new" : node == old ? "old" : node->name.value_or(""));
        EXPECT_EQ(top, c.top);
        CallLog expected = c.log;
        if (made) expected.push_back("showBackupInPool " + name);
        expected.push_back("setPatchPoolChanged");
        expected.push_back("disableButtonBriefly");
        EXPECT_EQ(log, expected);
    }
}

TEST_F(BackupAllRestoreAllTest, AnEmptyListBacksNothingUp)
{
    EXPECT_EQ(subject().backUpAll("DEV"), nullptr);
    EXPECT_TRUE(log.empty());
    EXPECT_TRUE(tree.empty());
}

TEST_F(BackupAllRestoreAllTest, RestoreSkipsIncompatibleChildrenAndKeepsTheRest)
{
    load(10);
    const auto before = list;
    const Node group = backupGroup("B", {child("c1"), child("c2", true), child("c3"), child("c4"), child("c5")});
    tree = {group};
    subject().restorePatchItemWithBackupAllGroup(group);
    EXPECT_EQ(names(list), (std::vector<std::string>{"c1", "c3", "c4", "c5", "S4", "S5", "S6", "S7", "S8", "S9"}));
    // Copies go in; the kept slots are the device's own patches.
    EXPECT_NE(list[0].get(), group->childDirectories[0]->patchItem());
    EXPECT_EQ(list[4], before[4]);
    EXPECT_EQ(log, (CallLog{"restorePatch 10", "addActionStack", "writePatchList 10", "reloadListFromTop",
                            "clearPoolSelection", "leaveRestoreAllMode", "setButtonEnabled 0", "queueRestoreResult 4 5",
                            "startRestoringAll"}));
    ASSERT_EQ(actions.size(), 1u);
    const auto* record = dynamic_cast<DragFromPoolToListAction*>(actions[0].get());
    ASSERT_NE(record, nullptr);
    EXPECT_EQ(record->mIndex, 0u);
    ASSERT_EQ(record->mItems.size(), 10u);
    EXPECT_EQ(std::get<std::shared_ptr<PatchItem>>(record->mItems[0]), before[0]);
}

// The backup's click turns the button into Restore All of the new group: the second click of a double
// click (or one queued while the backup was made) must not rewrite every slot with it.
TEST_F(BackupAllRestoreAllTest, TheButtonRestoresANewBackupOnlyAfterADoubleClickInterval)
{
    load(3);
    const Node older = backupGroup("Older", {child("o1")});
    tree = {older};
    BackupAllRestoreAll button = subject();
    const Node made = button.backUpAll("DEV");
    ASSERT_NE(made, nullptr);
    log.clear();
    for (const int after : {0, 399}) {
        clicked = std::chrono::steady_clock::time_point{} + std::chrono::milliseconds(after);
        EXPECT_FALSE(button.restoreFromButton(made)) << after;
    }
    EXPECT_TRUE(log.empty());
    EXPECT_EQ(names(list), (std::vector<std::string>{"S0", "S1", "S2"}));
    // Another backup-all group is the user's own choice, and the new one is once the interval is over.
    EXPECT_TRUE(button.restoreFromButton(older));
    EXPECT_EQ(names(list), (std::vector<std::string>{"o1", "S1", "S2"}));
    clicked = std::chrono::steady_clock::time_point{} + std::chrono::milliseconds(400);
    EXPECT_TRUE(button.restoreFromButton(made));
    EXPECT_EQ(names(list), (std::vector<std::string>{"S0", "S1", "S2"}));
    EXPECT_EQ(std::count(log.begin(), log.end(), "startRestoringAll"), 2);
}

TEST_F(BackupAllRestoreAllTest, RestoreWalks)
{
    struct Case {
        std::string name;
        std::size_t slotCount;
        std::vector<Node> children;
        std::vector<std::string> list;
        std::int64_t restored;
        std::int64_t max;
    };
    const Case cases[] = {
        {"more children than slots", 3, {child("a"), child("b"), child("c"), child("d")}, {"a", "b", "c"}, 3, 4},
        {"a child without a patch", 3, {child("a"), child("x", false, false), child("b")}, {"a", "b", "S2"}, 2, 3},
        {"nothing compatible", 2, {child("a", true)}, {"S0", "S1"}, 0, 1},
        {"an empty group", 2, {}, {"S0", "S1"}, 0, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        load(c.slotCount);
        const auto walk = BackupAllRestoreAll::restoreWalk(list, *backupGroup("B", c.children));
        EXPECT_EQ(names(walk.list), c.list);
        EXPECT_EQ(walk.restoredItems, c.restored);
        EXPECT_EQ(walk.maxItems, c.max);
    }
}

TEST_F(BackupAllRestoreAllTest, AFailedRestoreEjectsAndChangesNothing)
{
    load(4);
    const auto before = list;
    coordinator.restoreSucceeds = false;
    subject().restorePatchItemWithBackupAllGroup(backupGroup("B", {child("a")}));
    EXPECT_EQ(list, before);
    EXPECT_TRUE(actions.empty());
    EXPECT_EQ(log, (CallLog{"restorePatch 4", "info Patch_ErrorAndEjectDevice", "clearPoolSelection",
                            "leaveRestoreAllMode", "ejectDevice"}));

    // An ordinary group is no backup to restore.
    log.clear();
    subject().restorePatchItemWithBackupAllGroup(backupGroup("G", {child("a")}, false));
    EXPECT_TRUE(log.empty());
}

TEST_F(BackupAllRestoreAllTest, TheButtonComesBackOnlyWhereItWouldBeEnabled)
{
    EXPECT_TRUE(BackupAllRestoreAll::shouldReenableButton(true, true, false));
    EXPECT_FALSE(BackupAllRestoreAll::shouldReenableButton(false, true, false));
    EXPECT_FALSE(BackupAllRestoreAll::shouldReenableButton(true, false, false));
    EXPECT_FALSE(BackupAllRestoreAll::shouldReenableButton(true, true, true));
}

}  // namespace
