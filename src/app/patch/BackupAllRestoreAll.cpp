#include "app/patch/BackupAllRestoreAll.h"

#include <algorithm>
#include <ctime>

#include "app/patch/PatchCoordinator.h"
#include "library/models/DirectoryObject.h"
#include "library/models/PatchItem.h"
#include "library/undo/AddToPatchPoolAction.h"
#include "library/undo/DragFromPoolToListAction.h"

namespace {

constexpr const char* kOverwriteOldBackupGroupSuccessfully = "Patch_OverwriteOldBackupGroupSuccessfully";
constexpr const char* kBackupAllFailed = "Patch_BackupAllFailed";
constexpr const char* kErrorAndEjectDevice = "Patch_ErrorAndEjectDevice";
constexpr std::int32_t kBackupWritten = 1;
constexpr std::int32_t kBackupReplaced = 3;
constexpr std::int64_t kNewGroup = 3;

}  // namespace

BackupAllRestoreAll::BackupAllRestoreAll(Nodes& structureData, Patches& patchItems, Collaborators collaborators)
    : structureData_(structureData), patchItems_(patchItems), collaborators_(std::move(collaborators))
{
}

void BackupAllRestoreAll::message(const std::string& key, const std::optional<std::string>& argument)
{
    if (collaborators_.showMessage) collaborators_.showMessage(key, argument);
}

std::string BackupAllRestoreAll::dateText(std::chrono::system_clock::time_point time)
{
    const std::time_t seconds = std::chrono::system_clock::to_time_t(time);
    std::tm local{};
    localtime_r(&seconds, &local);
    char text[32];
    // strftime's numeric fields are ASCII digits in every locale.
    const std::size_t length = std::strftime(text, sizeof text, "%Y%m%d_%H_%M", &local);
    return std::string(text, length);
}

std::string BackupAllRestoreAll::backupName(const std::string& deviceName, std::chrono::system_clock::time_point time)
{
    return "Backup_" + deviceName + "_" + dateText(time);
}

BackupAllRestoreAll::RestoreWalk BackupAllRestoreAll::restoreWalk(const Patches& list, const DirectoryObject& group)
{
    RestoreWalk walk;
    walk.list = list;
    walk.maxItems = static_cast<std::int64_t>(group.childDirectories.size());
    std::size_t slot = 0;
    for (std::size_t child = 0; slot < walk.list.size() && child < group.childDirectories.size(); ++child) {
        const auto& node = group.childDirectories[child];
        const PatchItem* patch = node ? node->patchItem() : nullptr;
        // A child without a patch, or made for another unit, takes no slot.
        if (patch == nullptr || node->isIncompatible) continue;
        walk.list[slot++] = patch->copy();
    }
    walk.restoredItems = static_cast<std::int64_t>(slot);
    return walk;
}

bool BackupAllRestoreAll::shouldReenableButton(bool deviceConnected, bool patchListLoaded, bool restoringAll)
{
    return deviceConnected && patchListLoaded && !restoringAll;
}

// ---- backup all ----

BackupAllRestoreAll::Node BackupAllRestoreAll::backUpAll(const std::string& deviceName)
{
    if (patchItems_.empty()) return nullptr;
    const auto now = collaborators_.now ? collaborators_.now() : std::chrono::system_clock::now();
    auto group = std::make_shared<DirectoryObject>();
    group->isGroup = true;
    group->isBackUpAllGroup = true;
    group->modelName = deviceName;
    Patches copies;
    for (const auto& patch : patchItems_) {
        if (!patch || !collaborators_.makePatchNode) continue;
        Node node = collaborators_.makePatchNode(*patch);
        if (!node) continue;
        group->childDirectories.push_back(node);
        if (const auto* copy = std::get_if<std::shared_ptr<PatchItem>>(&node->object)) copies.push_back(*copy);
    }
    // The name the pool's folder has room for; the group's folder is named the same.
    const std::string name = collaborators_.coordinator.canBackupWithName(backupName(deviceName, now));
    group->name = name;
    group->path = name;

    switch (collaborators_.coordinator.backupPatchListWithName(name, copies)) {
    case kBackupWritten:
        structureData_.push_back(group);
        if (collaborators_.addActionStack)
            collaborators_.addActionStack(std::make_shared<AddToPatchPoolAction>(std::vector<UndoAction::Object>{group},
                                                                                 UndoAction::Object{}, kNewGroup));
        break;
    case kBackupReplaced: {
        // The folder replaced on disk was this group's: its node goes; a pool that does not show it gains one.
        auto old = std::find_if(structureData_.begin(), structureData_.end(), [&](const Node& node) {
            return node && node->isBackUpAllGroup && node->name.value_or("") == name;
        });
        if (old != structureData_.end()) *old = group;
        else structureData_.push_back(group);
        if (collaborators_.addActionStack)
            collaborators_.addActionStack(std::make_shared<AddToPatchPoolAction>(std::vector<UndoAction::Object>{group},
                                                                                 UndoAction::Object{}, kNewGroup));
        message(kOverwriteOldBackupGroupSuccessfully, name);
        break;
    }
    default:
        message(kBackupAllFailed);
        group = nullptr;
        break;
    }
    if (collaborators_.showBackupInPool) collaborators_.showBackupInPool(group);
    if (collaborators_.setPatchPoolChanged) collaborators_.setPatchPoolChanged();
    if (collaborators_.disableButtonBriefly) collaborators_.disableButtonBriefly();
    lastBackup_ = group;
    lastBackupEnded_ = clickTime();
    return group;
}

// ---- restore all ----

std::chrono::steady_clock::time_point BackupAllRestoreAll::clickTime() const
{
    return collaborators_.clickTime ? collaborators_.clickTime() : std::chrono::steady_clock::now();
}

bool BackupAllRestoreAll::restoreFromButton(const Node& group)
{
    if (group && group == lastBackup_.lock() && clickTime() - lastBackupEnded_ < collaborators_.doubleClickInterval)
        return false;
    restorePatchItemWithBackupAllGroup(group);
    return true;
}

void BackupAllRestoreAll::restorePatchItemWithBackupAllGroup(const Node& group)
{
    if (!group || !group->isBackUpAllGroup) return;
    RestoreWalk walk = restoreWalk(patchItems_, *group);
    if (!collaborators_.coordinator.restorePatchWithPatchItems(walk.list)) {
        message(kErrorAndEjectDevice);
        if (collaborators_.clearPoolSelection) collaborators_.clearPoolSelection();
        if (collaborators_.leaveRestoreAllMode) collaborators_.leaveRestoreAllMode();
        if (collaborators_.ejectDevice) collaborators_.ejectDevice();
        return;
    }
    if (collaborators_.addActionStack)
        collaborators_.addActionStack(
            std::make_shared<DragFromPoolToListAction>(std::vector<UndoAction::Object>(patchItems_.begin(), patchItems_.end()), 0));
    patchItems_ = std::move(walk.list);
    if (collaborators_.writePatchList) collaborators_.writePatchList(patchItems_);
    if (collaborators_.reloadListFromTop) collaborators_.reloadListFromTop();
    if (collaborators_.clearPoolSelection) collaborators_.clearPoolSelection();
    if (collaborators_.leaveRestoreAllMode) collaborators_.leaveRestoreAllMode();
    if (collaborators_.setButtonEnabled) collaborators_.setButtonEnabled(false);
    if (collaborators_.queueRestoreResult) collaborators_.queueRestoreResult(walk.restoredItems, walk.maxItems);
    if (collaborators_.startRestoringAll) collaborators_.startRestoringAll();
}
