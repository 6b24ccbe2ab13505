#include <algorithm>
#include <ctime>
#include <tuple>

#include "app/patch/BackupAllRestoreAll.h"
#include "library/undo/AddToPatchPoolAction.h"
#include "library/undo/DragFromPoolToListAction.h"
#include "PatchCases.h"
#include "support/app/FakePatchNeighbours.h"

namespace {

using namespace testing_app;
const std::string kDevice = "/root/Temp/Device/Patch";

Node child(const std::string& name, bool incompatible = false, bool withPatch = true)
{
    Node node = patchNode(name, kDevice);
    if (!withPatch) node->object = {};
    node->isIncompatible = incompatible;
    return node;
}

// 5 March 2024, 14:07:30 on the computer's clock.
std::chrono::system_clock::time_point fixedTime()
{
    std::tm local{};
    std::tie(local.tm_year, local.tm_mon, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec, local.tm_isdst) =
        std::tuple{124, 2, 5, 14, 7, 30, -1};
    return std::chrono::system_clock::from_time_t(std::mktime(&local));
}

class BackupAllRestoreAllTest : public ::testing::Test {
protected:
    void load(std::size_t count)
    {
        list.clear();
        for (std::size_t i = 0; i < count; ++i)
            list.push_back(patchItem("S" + std::to_string(i), {}, kDevice + "/S" + std::to_string(i) + ".qptc"));
    }
    BackupAllRestoreAll subject()
    {
        BackupAllRestoreAll::Collaborators c{coordinator};
        c.addActionStack = [this](std::shared_ptr<UndoAction> action) {
            actions.push_back(action);
            log.push_back("addActionStack");
        };
        c.showMessage = logs(log, "info");
        c.makePatchNode = [](const PatchItem& patch) {
            auto node = std::make_shared<DirectoryObject>();
            node->object = patch.copy();
            node->name = node->patchItem()->patchName;
            return node;
        };
        c.now = fixedTime;
        c.clickTime = [this] { return clicked; };
        c.doubleClickInterval = std::chrono::milliseconds(400);
        c.showBackupInPool = logs(log, "showBackupInPool");
        c.writePatchList = [this](const BackupAllRestoreAll::Patches& written) { logs(log, "writePatchList")(written.size()); };
        c.queueRestoreResult = logs(log, "queueRestoreResult");
        c.setButtonEnabled = logs(log, "setButtonEnabled");
        for (auto [step, name] : {std::pair{&c.setPatchPoolChanged, "setPatchPoolChanged"},
                                  {&c.disableButtonBriefly, "disableButtonBriefly"}, {&c.reloadListFromTop, "reloadListFromTop"},
                                  {&c.clearPoolSelection, "clearPoolSelection"}, {&c.leaveRestoreAllMode, "leaveRestoreAllMode"},
                                  {&c.startRestoringAll, "startRestoringAll"}, {&c.ejectDevice, "ejectDevice"}})
            *step = logs(log, name);
        return BackupAllRestoreAll(tree, list, std::move(c));
    }

    Log log;
    testing_app::FakePatchCoordinator coordinator{log};
    std::vector<Node> tree;
    std::vector<std::shared_ptr<PatchItem>> list;
    std::vector<std::shared_ptr<UndoAction>> actions;
    std::chrono::steady_clock::time_point clicked{};
};

// Named by the local clock in digits; an empty list backs nothing up.
TEST_F(BackupAllRestoreAllTest, TwoBackupsInOneMinuteTakeANumberedName)
{
    EXPECT_EQ(BackupAllRestoreAll::dateText(fixedTime()), "20240305_14_07");
    EXPECT_EQ(BackupAllRestoreAll::backupName("DEV", fixedTime()), "Backup_DEV_20240305_14_07");
    EXPECT_EQ(subject().backUpAll("DEV"), nullptr);
    EXPECT_TRUE(log.empty() && tree.empty());
    load(3);
    tree = {child("top")};
    const Node first = subject().backUpAll("DEV");
    const Node second = subject().backUpAll("DEV");
    ASSERT_TRUE(first && second);
    EXPECT_EQ(first->name, "Backup_DEV_20240305_14_07");
    EXPECT_EQ(second->name, "Backup_DEV_20240305_14_07 (1)");
    EXPECT_EQ(second->path, second->name) << "the folder and the node agree on the name";
    EXPECT_EQ(std::tuple(second->isGroup, second->isBackUpAllGroup, second->modelName), std::tuple(true, true, "DEV"));
    ASSERT_EQ(second->childDirectories.size(), 3u);
    EXPECT_EQ(second->childDirectories[2]->name, "S2");
    EXPECT_NE(second->childDirectories[0]->patchItem(), list[0].get());
    EXPECT_EQ(tree, (std::vector<Node>{tree.front(), first, second}));
    ASSERT_EQ(actions.size(), 2u);
    const auto* record = dynamic_cast<AddToPatchPoolAction*>(actions[1].get());
    ASSERT_NE(record, nullptr);
    EXPECT_EQ(record->mType, 3);
    EXPECT_EQ(std::get<std::shared_ptr<DirectoryObject>>(record->mItems.at(0)), second);
}

TEST_F(BackupAllRestoreAllTest, EveryBackupResultEndsAlike)
{
    enum Middle { kNone, kSameBackup, kSameOrdinaryGroup };
    const std::string name = "Backup_DEV_20240305_14_07";
    const Log written = {"backupPatchList " + name + " 2", "addActionStack"};
    const Log replaced = {"backupPatchList " + name + " 2", "addActionStack", "info Patch_OverwriteOldBackupGroupSuccessfully " + name};
    const Log failed = {"backupPatchList " + name + " 2", "info Patch_BackupAllFailed", "showBackupInPool -"};
    const struct {
        std::int32_t result;
        Middle middle;
        Names top;  // "new" for the group made, "old" for the one there before
        Log log;
    } cases[] = {
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
        const Node old = groupNode(name, {child("o")}, c.middle == kSameBackup);
        tree = {child("top"), child("after")};
        if (c.middle != kNone) tree.insert(tree.begin() + 1, old);
        coordinator.backupResult = c.result;
        const Node made = subject().backUpAll("DEV");
        Names top;
        for (const auto& node : tree) top.push_back(node == made ? "new" : node == old ? "old" : node->name.value_or(""));
        EXPECT_EQ(top, c.top);
        Log expected = c.log;
        if (made) expected.push_back("showBackupInPool " + name);
        expected.insert(expected.end(), {"setPatchPoolChanged", "disableButtonBriefly"});
        EXPECT_EQ(log, expected);
    }
}

TEST_F(BackupAllRestoreAllTest, RestoreSkipsIncompatibleChildrenAndKeepsTheRest)
{
    load(10);
    const auto before = list;
    const Node group = groupNode("B", {child("c1"), child("c2", true), child("c3"), child("c4"), child("c5")}, true);
    tree = {group};
    subject().restorePatchItemWithBackupAllGroup(group);
    EXPECT_EQ(namesOf(list), (Names{"c1", "c3", "c4", "c5", "S4", "S5", "S6", "S7", "S8", "S9"}));
    // Copies go in; the kept slots are the device's own patches.
    EXPECT_NE(list[0].get(), group->childDirectories[0]->patchItem());
    EXPECT_EQ(list[4], before[4]);
    EXPECT_EQ(log, (Log{"restorePatch 10", "addActionStack", "writePatchList 10", "reloadListFromTop", "clearPoolSelection",
                        "leaveRestoreAllMode", "setButtonEnabled 0", "queueRestoreResult 4 5", "startRestoringAll"}));
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
    const Node older = groupNode("Older", {child("o1")}, true);
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
    EXPECT_EQ(namesOf(list), (Names{"S0", "S1", "S2"}));
    // Another backup-all group is the user's own choice, and the new one is once the interval is over.
    EXPECT_TRUE(button.restoreFromButton(older));
    EXPECT_EQ(namesOf(list), (Names{"o1", "S1", "S2"}));
    clicked = std::chrono::steady_clock::time_point{} + std::chrono::milliseconds(400);
    EXPECT_TRUE(button.restoreFromButton(made));
    EXPECT_EQ(namesOf(list), (Names{"S0", "S1", "S2"}));
    EXPECT_EQ(std::count(log.begin(), log.end(), "startRestoringAll"), 2);
}

TEST_F(BackupAllRestoreAllTest, RestoreWalks)
{
    const struct {
        std::string name;
        std::size_t slotCount;
        std::vector<Node> children;
        Names list;
        std::int64_t restored, max;
    } cases[] = {
        {"more children than slots", 3, {child("a"), child("b"), child("c"), child("d")}, {"a", "b", "c"}, 3, 4},
        {"a child without a patch", 3, {child("a"), child("x", false, false), child("b")}, {"a", "b", "S2"}, 2, 3},
        {"nothing compatible", 2, {child("a", true)}, {"S0", "S1"}, 0, 1},
        {"an empty group", 2, {}, {"S0", "S1"}, 0, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        load(c.slotCount);
        const auto walk = BackupAllRestoreAll::restoreWalk(list, *groupNode("B", c.children, true));
        EXPECT_EQ(namesOf(walk.list), c.list);
        EXPECT_EQ(walk.restoredItems, c.restored);
        EXPECT_EQ(walk.maxItems, c.max);
    }
}

TEST_F(BackupAllRestoreAllTest, AFailedRestoreEjectsAndChangesNothing)
{
    load(4);
    const auto before = list;
    coordinator.restoreSucceeds = false;
    subject().restorePatchItemWithBackupAllGroup(groupNode("B", {child("a")}, true));
    EXPECT_EQ(list, before);
    EXPECT_TRUE(actions.empty());
    EXPECT_EQ(log, (Log{"restorePatch 4", "info Patch_ErrorAndEjectDevice", "clearPoolSelection", "leaveRestoreAllMode",
                        "ejectDevice"}));

    // An ordinary group is no backup to restore.
    log.clear();
    subject().restorePatchItemWithBackupAllGroup(groupNode("G", {child("a")}, false));
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
