// The patch screen's side of the two option menus: the list menu's questions and its save to the pool
// and read from the pool, the pool menu's question, the copy of pool patches into the device list and
// the deletion of pool items into the recycle bin.

#include <algorithm>
#include <filesystem>
#include <map>
#include <unordered_map>
#include <unordered_set>

#include "app/patch/CustomTableViewForPatch.h"
#include "app/patch/PatchCoordinator.h"
#include "app/patch/PatchDialogs.h"
#include "app/patch/PatchManagerViewController.h"
#include "app/patch/PatchPoolEditor.h"
#include "app/patch/PatchListTableModel.h"
#include "app/patch/PatchPoolModel.h"
#include "app/patch/PatchPoolOutlineView.h"
#include "app/patch/WithdrawnCopies.h"
#include "app/shell/AppDelegate.h"
#include "library/CommonUtils.h"
#include "library/models/DirectoryObject.h"
#include "library/models/PatchItem.h"
#include "library/undo/DeleteAction.h"
#include "library/undo/DragFromPoolToListAction.h"
#include "library/undo/UndoController.h"

namespace {

constexpr const char* kCanNotDeletePatchItem = "Patch_CanNotDeletePatchItem";
constexpr const char* kCanNotDeletePatchGroup = "Patch_CanNotDeletePatchGroup";

std::vector<UndoAction::Object> undoObjects(const PatchScreen::PatchItems& items)
{
    return {items.begin(), items.end()};
}

std::ptrdiff_t indexIn(const std::vector<std::shared_ptr<DirectoryObject>>& nodes, const DirectoryObject* node)
{
    const auto found = std::find_if(nodes.begin(), nodes.end(), [node](const auto& each) { return each.get() == node; });
    return found == nodes.end() ? -1 : found - nodes.begin();
}

// A pool node that can be placed into the device list: it has a patch and suits the device.
bool isPlaceable(const DirectoryObject& node) { return node.patchItem() != nullptr && !node.isIncompatible; }

}  // namespace

PoolSelectionEntries PatchManagerViewController::selectedPoolEntries() const
{
    PoolSelectionEntries entries;
    if (!rightPanelOutlineView_) return entries;
    for (const int row : rightPanelOutlineView_->selectedRowList()) {
        const QModelIndex index = rightPanelOutlineView_->indexForRow(row);
        if (Node child = patchPoolModel_->nodeAt(index)) entries.push_back({patchPoolModel_->nodeAt(index.parent()), child});
    }
    return entries;
}

std::shared_ptr<PatchItem> PatchManagerViewController::deviceCopyOf(const PatchItem& patch)
{
    auto copy = patch.copy();
    const auto written = coordinator_.writeFilePatchWithPath(copy->path, coordinator_.devicePatchFolder(), nullptr);
    if (!written) return nullptr;
    copy->path = written->path;
    return copy;
}

// ---- the list's option menu ----

bool PatchManagerViewController::tableViewCanSaveToPatchPool(CustomTableViewForPatch&)
{
    if (isLockPatchPool_) return false;
    const PoolSelectionEntries selected = selectedPoolEntries();
    // Nothing goes into a backup of the whole list.
    return selected.empty() || !selected.front().parentItem || !selected.front().parentItem->isBackUpAllGroup;
}

bool PatchManagerViewController::tableViewCanReadFromPatchPool(CustomTableViewForPatch&)
{
    const PoolSelectionEntries selected = selectedPoolEntries();
    if (selected.empty()) return false;
    const DirectoryObject& first = *selected.front().childItem;
    if (first.isIncompatible) return false;
    if (first.isGroup && first.isBackUpAllGroup) return !appDelegate_.isRestoringAll();
    return true;
}

void PatchManagerViewController::didClickOnSavingInPatchPoolButtonAtIndex(CustomTableViewForPatch&, std::uint64_t)
{
    if (!patchManagerTableView_ || !rightPanelOutlineView_) return;
    const PoolSelectionEntries poolSelection = selectedPoolEntries();
    Rows rows;
    for (const auto row : patchManagerTableView_->selectedRows())
        if (row < patchItems_.size() && patchItems_[row]) rows.push_back(static_cast<std::int64_t>(row));
    if (rows.empty()) return;
    if (rows.size() >= 2) {
        // A new group, above the top-level item the pool's first selected row belongs to.
        Node target;
        if (!poolSelection.empty())
            target = poolSelection.front().parentItem ? poolSelection.front().parentItem : poolSelection.front().childItem;
        createNewGroupWithPatchIndexs(rows, target, true);
        return;
    }
    if (poolSelection.empty()) {
        addBackUpPatchItemAtIndexs(rows, nullptr, true);
        return;
    }
    const PoolSelectionEntry& target = poolSelection.front();
    if (target.parentItem && !target.parentItem->isBackUpAllGroup) {
        const std::ptrdiff_t position = indexIn(target.parentItem->childDirectories, target.childItem.get());
        insertBackUpPatchForPatchItemAtIndexs(rows, target.parentItem, static_cast<std::uint64_t>(std::max<std::ptrdiff_t>(position, 0)),
                                              true);
        return;
    }
    // Beside a top-level item; a backup-all group's child never gets here (the button is off), so its
    // group stands in for it.
    addBackUpPatchItemAtIndexs(rows, target.parentItem ? target.parentItem : target.childItem, true);
}

void PatchManagerViewController::didClickOnReadingFromPatchPoolButtonAtIndex(CustomTableViewForPatch&, std::uint64_t)
{
    // A menu opened before the unit began to go: the slots' write would queue behind the eject.
    if (!patchManagerTableView_ || appDelegate_.isLettingDeviceGo()) return;
    const PoolSelectionEntries poolSelection = selectedPoolEntries();
    if (poolSelection.empty()) return;
    std::vector<const PatchItem*> sources;
    for (const auto& entry : poolSelection) {
        const DirectoryObject& node = *entry.childItem;
        if (entry.parentItem || !node.isGroup) {
            if (isPlaceable(node)) sources.push_back(node.patchItem());
        } else if (node.isBackUpAllGroup) {
            // A backup of the whole list is restored as a whole, and nothing else is read.
            restorePatchItemWithBackupAllGroup(entry.childItem);
            return;
        } else {
            for (const auto& child : node.childDirectories)
                if (child && isPlaceable(*child)) sources.push_back(child->patchItem());
        }
    }
    const auto selectedRows = patchManagerTableView_->selectedRows();
    if (selectedRows.empty()) return;
    const std::uint64_t start = selectedRows.front();
    PatchItems replaced;
    for (const PatchItem* source : sources) {
        const std::uint64_t slot = start + replaced.size();
        if (slot >= patchItems_.size()) break;
        // A patch whose copy fails ends the placing: the placed run stays without a gap.
        auto copy = deviceCopyOf(*source);
        if (!copy) break;
        replaced.push_back(patchItems_[slot]);
        patchItems_[slot] = std::move(copy);
    }
    const std::uint64_t count = replaced.size();
    updatePatchFileToDevideAtRange(start, count);
    if (count > 0) undoController_.addActionStack(std::make_shared<DragFromPoolToListAction>(undoObjects(replaced), start));
    std::vector<std::uint64_t> placed;
    for (std::uint64_t slot = start; slot < start + count; ++slot) placed.push_back(slot);
    patchManagerTableView_->reloadData();
    patchManagerTableView_->setUpCurrentSelectionWithIndexSet(placed, false);
    if (placed.empty()) patchManagerTableView_->clearSelection();
}

void PatchManagerViewController::didClickOnPropertyButtonAtIndex(CustomTableViewForPatch&, std::uint64_t row)
{
    QPointer<PatchManagerViewController> self(this);
    dialogs_.addSheetAction([self, row]() -> QWidget* { return self ? self->openPatchPropertySheet(row) : nullptr; });
}

// ---- the pool's option menu ----

bool PatchManagerViewController::patchPoolOutlineViewCanCopyToDeviceMemory(PatchPoolOutlineView* view)
{
    if (!isPatchListLoaded_ || !view || view->selectedRowList().empty()) return false;
    const PoolSelectionEntries selected = selectedPoolEntries();
    if (selected.empty()) return false;
    const DirectoryObject& first = *selected.front().childItem;
    if (first.isIncompatible) return false;
    if (first.isGroup && first.isBackUpAllGroup) return true;
    return patchManagerTableView_ && !patchManagerTableView_->selectedRows().empty();
}

void PatchManagerViewController::didClickOnButtonRestoreAllToDeviceAtItem(PatchPoolOutlineView*, const Node& item,
                                                                          const Node&)
{
    if (item) restorePatchItemWithBackupAllGroup(item);
}

void PatchManagerViewController::didClickOnPropertyButtonAtItem(PatchPoolOutlineView*, const Node& item, const Node& group)
{
    if (!item) return;
    QPointer<PatchManagerViewController> self(this);
    dialogs_.addSheetAction(
        [self, item, group]() -> QWidget* { return self ? self->openPoolPropertySheet(item, group) : nullptr; });
}

// ---- copying pool patches into the device list ----

void PatchManagerViewController::didClickOnButtonCopyToDeviceMemoryAtItems(PatchPoolOutlineView*,
                                                                           const PoolSelectionEntries& items)
{
    if (items.empty() || !patchManagerTableView_ || appDelegate_.isLettingDeviceGo()) return;
    const auto selectedRows = patchManagerTableView_->selectedRows();
    // Without a selected slot there is no place to start from.
    if (selectedRows.empty()) return;
    const std::uint64_t start = selectedRows.front();
    std::uint64_t position = start;
    PatchItems replaced;
    patchManagerTableView_->clearSelection();
    const auto place = [&](const DirectoryObject& node) {
        // A failed copy ends the whole copy: the placed slots stay one run.
        auto copy = deviceCopyOf(*node.patchItem());
        if (!copy) return false;
        replaced.push_back(patchItems_[position]);
        patchItems_[position] = std::move(copy);
        ++position;
        return true;
    };
    bool failed = false;
    for (const auto& entry : items) {
        if (failed || position >= patchItems_.size() || !entry.childItem) break;
        const DirectoryObject& node = *entry.childItem;
        if (!entry.parentItem && node.isGroup) {
            for (const auto& child : node.childDirectories) {
                if (position >= patchItems_.size()) break;
                // Unfit children take no slot, so the placed patches stay together.
                if (!child || !isPlaceable(*child)) continue;
                if (!place(*child)) {
                    failed = true;
                    break;
                }
            }
        } else if (node.patchItem() != nullptr) {
            failed = !place(node);
        }
    }
    const std::uint64_t count = position - start;
    std::vector<std::uint64_t> placed;
    for (std::uint64_t slot = start; slot < position; ++slot) placed.push_back(slot);
    patchManagerTableView_->reloadData();
    patchManagerTableView_->setUpCurrentSelectionWithIndexSet(placed, false);
    updatePatchFileToDevideAtRange(start, count);
    if (count > 0) undoController_.addActionStack(std::make_shared<DragFromPoolToListAction>(undoObjects(replaced), start));
}

// ---- deleting pool items ----

std::shared_ptr<DeleteAction> PatchManagerViewController::detetePatchItemInPatchPoolOutlineView(PatchPoolOutlineView*,
                                                                                               const Node& item,
                                                                                               const Node& group)
{
    if (!item) return nullptr;
    // A copy under way may land inside the coordinator's step, and a failed one takes its node out of the
    // same list: each position is taken just before its own removal, never before the step. A node that
    // left that way is no part of this deletion (the failed copy was told).
    coordinator_.landFinishedPoolWork();
    if (!group && item->isGroup) {
        if (indexIn(structureData_, item.get()) < 0) return nullptr;
        const std::string moved = coordinator_.deletePatchGroup(*item);
        const std::ptrdiff_t index = indexIn(structureData_, item.get());
        if (moved.empty()) {
            if (index >= 0) dialogs_.showInformation(kCanNotDeletePatchGroup, item->name.value_or(""));
            return nullptr;
        }
        item->path = moved;
        if (item->isBackUpAllGroup) {
            setIsRestoreAllMode(false);
            setArrowImageWithBackupAllAndRestoreAllState();
        }
        if (index < 0) return nullptr;
        auto record = std::make_shared<DeleteAction>(item, nullptr, static_cast<std::uint64_t>(index), 1);
        structureData_.erase(structureData_.begin() + index);
        return record;
    }
    // A patch inside a backup of the whole list stays: the backup is kept whole.
    if (group && (!group->isGroup || group->isBackUpAllGroup)) return nullptr;
    auto& container = group ? group->childDirectories : structureData_;
    if (indexIn(container, item.get()) < 0) return nullptr;
    PatchItem* patch = item->patchItem();
    if (patch == nullptr) {
        container.erase(container.begin() + indexIn(container, item.get()));
        return nullptr;
    }
    const std::string moved = coordinator_.deletePatchItem(*patch, group.get());
    const std::ptrdiff_t index = indexIn(container, item.get());
    if (moved.empty()) {
        if (index >= 0) dialogs_.showInformation(kCanNotDeletePatchItem, patch->patchName);
        return nullptr;
    }
    patch->path = moved;
    if (index < 0) return nullptr;
    auto record = std::make_shared<DeleteAction>(item, group, static_cast<std::uint64_t>(index), 0);
    container.erase(container.begin() + index);
    return record;
}

std::shared_ptr<DeleteAction> PatchManagerViewController::deleteWithdrawnPatch(const Node& item, const Node& group)
{
    auto& container = group ? group->childDirectories : structureData_;
    const std::ptrdiff_t index = indexIn(container, item.get());
    const PatchItem* patch = item->patchItem();
    if (index < 0 || patch == nullptr) return nullptr;
    auto record = std::make_shared<DeleteAction>(item, group, static_cast<std::uint64_t>(index), 0);
    record->pendingCopyOf = patch->path;
    container.erase(container.begin() + index);
    return record;
}

void PatchManagerViewController::putBackWithdrawnChildren(const Node& group,
                                                          const std::vector<std::shared_ptr<DeleteAction>>& children)
{
    // The group stayed (its folder could not go): its children go back where they stood, and their
    // copies, withdrawn for the deletion, are asked again.
    Nodes again;
    for (const auto& child : children) {
        auto& list = group->childDirectories;
        child->deletedItem->patchItem()->path = child->pendingCopyOf;
        list.insert(list.begin() + static_cast<std::ptrdiff_t>(std::min<std::uint64_t>(child->index, list.size())), child->deletedItem);
        again.push_back(child->deletedItem);
    }
    if (patchPoolEditor_) patchPoolEditor_->copyAgain(again, group);
}

void PatchManagerViewController::didClickOnDeleteButtonWithItems(PatchPoolOutlineView* view,
                                                                 const PoolSelectionEntries& items)
{
    if (items.empty()) return;
    // What has finished copying lands first; what is still under way may land during the steps below,
    // which take each position just before its removal.
    coordinator_.landFinishedPoolWork();
    // The lists the deletion takes from, as they stand before it: each undo puts its item back among the
    // neighbours it had there, whatever failed copy leaves a list during the deletion or after it.
    using Neighbours = std::vector<std::weak_ptr<DirectoryObject>>;
    std::map<const DirectoryObject*, std::pair<std::shared_ptr<const Neighbours>, std::unordered_map<const DirectoryObject*, std::size_t>>> shots;
    for (const auto& entry : items) {
        auto [shot, added] = shots.try_emplace(entry.parentItem.get());
        if (!added) continue;
        const Nodes& list = entry.parentItem ? entry.parentItem->childDirectories : structureData_;
        shot->second.first = std::make_shared<const Neighbours>(list.begin(), list.end());
        for (std::size_t i = 0; i < list.size(); ++i) shot->second.second.emplace(list[i].get(), i);
    }
    // A patch going whose copy has not begun is not copied at all: its copy is withdrawn, nothing of it
    // goes to the bin, and the undo asks it again. Only the few copies under way land (waited for); the
    // step shows at once however many of a drop's copies are still to be made.
    // A group going whole takes its children with it: theirs are asked once, with the group's (a pair
    // named more times than the step means would withdraw another drop's copy of the same file).
    std::unordered_set<const DirectoryObject*> groupsGoing;
    for (const auto& entry : items)
        if (!entry.parentItem && entry.childItem) groupsGoing.insert(entry.childItem.get());
    const auto groupGoesToo = [&](const PoolSelectionEntry& entry) {
        return entry.parentItem && groupsGoing.count(entry.parentItem.get()) > 0;
    };
    WithdrawnCopies withdrawn;
    const std::string local = coordinator_.localPoolFolder();
    const auto folderOf = [&](const Node& group) {
        return group ? (std::filesystem::path(local) / CommonUtils::groupFolderName(group->name.value_or(""))).string() : local;
    };
    for (const auto& entry : items) {
        if (!entry.childItem || groupGoesToo(entry)) continue;
        if (!entry.parentItem && entry.childItem->isGroup) withdrawn.addChildren(*entry.childItem, folderOf(entry.childItem));
        else withdrawn.add(entry.childItem, folderOf(entry.parentItem));
    }
    withdrawn.withdraw(coordinator_);
    // A group's withdrawn children leave it before its folder goes: the step neither waits for them nor
    // sends anything of theirs to the bin, and the group's record keeps them.
    std::map<const DirectoryObject*, std::vector<std::shared_ptr<DeleteAction>>> withdrawnChildren;
    for (const auto& entry : items) {
        if (entry.parentItem || !entry.childItem || !entry.childItem->isGroup) continue;
        Nodes& children = entry.childItem->childDirectories;
        for (std::size_t at = 0; at < children.size();) {
            if (!children[at] || !withdrawn.contains(children[at].get())) {
                ++at;
                continue;
            }
            auto& kept = withdrawnChildren[entry.childItem.get()];
            // Its place in the group as the deletion found it.
            auto child = std::make_shared<DeleteAction>(children[at], entry.childItem, static_cast<std::uint64_t>(at + kept.size()), 0);
            child->pendingCopyOf = children[at]->patchItem()->path;
            kept.push_back(std::move(child));
            children.erase(children.begin() + static_cast<std::ptrdiff_t>(at));
        }
    }
    // The copies of every other patch going that have not landed land first, all at once (a group's):
    // made side by side off the main thread, not one by one inside each deletion.
    std::vector<std::string> going;
    for (const auto& entry : items) {
        if (!entry.childItem || withdrawn.contains(entry.childItem.get())) continue;
        if (const PatchItem* patch = entry.childItem->patchItem(); patch && !entry.childItem->isGroup) going.push_back(patch->path);
        for (const auto& child : entry.childItem->childDirectories)
            if (const PatchItem* patch = child ? child->patchItem() : nullptr) going.push_back(patch->path);
    }
    if (going.size() > 1) coordinator_.settlePoolWorkFor(going);
    std::vector<std::shared_ptr<DeleteAction>> records;
    bool changed = false;
    for (const auto& entry : items) {
        // A child whose group goes too goes with it.
        if (groupGoesToo(entry) || !entry.childItem) continue;
        const std::size_t before = entry.parentItem ? entry.parentItem->childDirectories.size() : structureData_.size();
        auto record = withdrawn.contains(entry.childItem.get())
                          ? deleteWithdrawnPatch(entry.childItem, entry.parentItem)
                          : detetePatchItemInPatchPoolOutlineView(view, entry.childItem, entry.parentItem);
        if (const auto kept = withdrawnChildren.find(entry.childItem.get()); kept != withdrawnChildren.end()) {
            if (record) record->withdrawnChildren = std::move(kept->second);
            else putBackWithdrawnChildren(entry.childItem, kept->second);
            withdrawnChildren.erase(kept);
        }
        if (record) {
            const auto& [neighbours, places] = shots[entry.parentItem.get()];
            if (const auto place = places.find(entry.childItem.get()); place != places.end()) {
                record->neighbours = neighbours;
                record->placeAmongNeighbours = place->second;
            }
            records.push_back(std::move(record));
        }
        const std::size_t after = entry.parentItem ? entry.parentItem->childDirectories.size() : structureData_.size();
        changed = changed || after != before;
    }
    if (!records.empty()) {
        auto record = std::make_shared<DeleteAction>(nullptr, nullptr, 0, 2);
        record->deletedActions = std::move(records);
        undoController_.addActionStack(std::move(record));
    }
    if (rightPanelOutlineView_) {
        rightPanelOutlineView_->selectionModel()->clearSelection();
        // What went took its warnings with it; nothing left in the pool changed.
        reloadDataInPatchPoolForItems({});
    }
    if (changed) appDelegate_.setIsPatchPoolChanged(true);
}
