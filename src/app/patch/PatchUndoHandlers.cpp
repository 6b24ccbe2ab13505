#include "app/patch/PatchUndoHandlers.h"

#include <algorithm>
#include <filesystem>
#include <unordered_map>
#include <utility>

#include "app/patch/PatchCoordinator.h"
#include "app/patch/WithdrawnCopies.h"
#include "library/CommonUtils.h"
#include "library/models/DirectoryObject.h"
#include "library/models/PatchItem.h"
#include "library/undo/AddToPatchPoolAction.h"
#include "library/undo/ChangePositionAction.h"
#include "library/undo/ChangeTextAction.h"
#include "library/undo/DeleteAction.h"
#include "library/undo/DragFromPoolToListAction.h"
#include "library/undo/SelectionAction.h"

namespace {

constexpr const char* kCanNotEditPatchItem = "Patch_CanNotEditPatchItem";
constexpr const char* kCanNotRenamePatchGroup = "Patch_CanNotRenamePatchGroup";
constexpr const char* kFileExist = "Patch_FileExist";
constexpr const char* kCanNotDeletePatchItem = "Patch_CanNotDeletePatchItem";
constexpr const char* kCanNotDeletePatchGroup = "Patch_CanNotDeletePatchGroup";
constexpr const char* kRestorePatchInGroupFailed = "Patch_RestorePatchInGroupFailed";
constexpr const char* kRestorePatchInGroupOutOfRange = "Patch_RestorePatchInGroupOutOfRange";
constexpr const char* kRestoreSinglePatchFailed = "Patch_RestoreSinglePatchFailed";
constexpr const char* kRestoreSinglePatchOutOfRange = "Patch_RestoreSinglePatchOutOfRange";
constexpr const char* kRestorePatchGroupFailed = "Patch_RestorePatchGroupFailed";
constexpr const char* kRestorePatchGroupOutOfRange = "Patch_RestorePatchGroupOutOfRange";

enum TextType : std::int64_t {
    kListName = 1,
    kListComment = 2,
    kPoolPatchName = 3,
    kGroupName = 4,
    kListSheet = 5,
    kPoolSheet = 6,
};

std::shared_ptr<DirectoryObject> nodeOf(const UndoAction::Object& object)
{
    const auto* node = std::get_if<std::shared_ptr<DirectoryObject>>(&object);
    return node ? *node : nullptr;
}

std::shared_ptr<PatchItem> patchOf(const UndoAction::Object& object)
{
    const auto* patch = std::get_if<std::shared_ptr<PatchItem>>(&object);
    return patch ? *patch : nullptr;
}

template <typename List>
bool holds(const List& list, const DirectoryObject* node)
{
    return node && std::any_of(list.begin(), list.end(), [&](const auto& each) { return each.get() == node; });
}

template <typename List>
void removeFrom(List& list, const DirectoryObject* node)
{
    list.erase(std::remove_if(list.begin(), list.end(), [&](const auto& each) { return each.get() == node; }),
               list.end());
}

}  // namespace

PatchUndoHandlers::PatchUndoHandlers(Nodes& structureData, Patches& patchItems, Collaborators collaborators)
    : structureData_(structureData), patchItems_(patchItems), collaborators_(std::move(collaborators))
{
}

void PatchUndoHandlers::undo(const UndoAction& action)
{
    // Marked before the handler runs: a save that took its copy of the pool before the undo and lands
    // while it runs must find the pool changed under it, and leave the mark for the next save.
    if (dynamic_cast<const SelectionAction*>(&action) == nullptr && collaborators_.setPatchPoolChanged)
        collaborators_.setPatchPoolChanged();
    if (const auto* text = dynamic_cast<const ChangeTextAction*>(&action)) doUndoActionForChangeText(*text);
    else if (const auto* move = dynamic_cast<const ChangePositionAction*>(&action)) doUndoActionForChangePosition(*move);
    else if (const auto* drag = dynamic_cast<const DragFromPoolToListAction*>(&action))
        doUndoActionForDragFromPoolToList(*drag);
    else if (const auto* add = dynamic_cast<const AddToPatchPoolAction*>(&action)) doUndoActionForAddToPatchPool(*add);
    else if (const auto* selection = dynamic_cast<const SelectionAction*>(&action))
        doUndoActionForSelectionInPatchList(*selection);
    else if (const auto* deletion = dynamic_cast<const DeleteAction*>(&action))
        doUndoActionForDeleteInPatchPool(*deletion);
}

void PatchUndoHandlers::message(const std::string& key, const std::optional<std::string>& argument)
{
    if (collaborators_.showMessage) collaborators_.showMessage(key, argument);
}

void PatchUndoHandlers::reloadPool(const Nodes& touched)
{
    if (gathered_) {
        gathered_->insert(gathered_->end(), touched.begin(), touched.end());
        return;
    }
    if (collaborators_.reloadPool) collaborators_.reloadPool(touched);
}

std::optional<std::uint64_t> PatchUndoHandlers::rowOf(const PatchItem* patch) const
{
    const auto at = std::find_if(patchItems_.begin(), patchItems_.end(),
                                 [&](const auto& each) { return patch && each.get() == patch; });
    if (at == patchItems_.end()) return std::nullopt;
    return static_cast<std::uint64_t>(at - patchItems_.begin());
}

bool PatchUndoHandlers::isTopLevel(const DirectoryObject* node) const { return holds(structureData_, node); }

// ---- names and comments ----

void PatchUndoHandlers::doUndoActionForChangeText(const ChangeTextAction& action)
{
    switch (action.mType) {
    case kListName:
    case kListComment:
    case kListSheet:
        undoListText(action);
        break;
    case kPoolPatchName:
        undoPoolPatchText(action);
        break;
    case kGroupName:
        undoGroupName(action);
        break;
    case kPoolSheet:
        undoPoolPropertySheet(action);
        break;
    default:
        break;
    }
}

void PatchUndoHandlers::undoListText(const ChangeTextAction& action)
{
    const std::shared_ptr<PatchItem> patch = patchOf(action.mItem);
    // A patch no longer in the list has no row to show it and no slot to write it to.
    const std::optional<std::uint64_t> row = rowOf(patch.get());
    if (!row) return;
    // Only what the gesture changed goes back: a sheet's Save that left a text as it was puts nothing over
    // that text, which the unit may have changed since.
    const bool name = action.mType == kListName || (action.mType == kListSheet && action.mOldText != action.mNewText);
    const bool comment = action.mType == kListComment ||
                         (action.mType == kListSheet && action.mOldSecondText != action.mNewSecondText);
    if (!name && !comment) return;
    const auto apply = [&](const std::string& text, const std::string& secondText) {
        if (name) patch->patchName = text;
        if (comment) patch->patchComment = action.mType == kListComment ? text : secondText;
    };
    apply(action.mOldText, action.mOldSecondText);
    // The fields the record changed go back as the file stored them.
    StoredPatchTexts restore;
    if (name) restore.name = action.mOldStored.name;
    if (comment) restore.comment = action.mOldStored.comment;
    if (!collaborators_.coordinator.restoreFilePatch(*patch, restore)) {
        apply(action.mNewText, action.mNewSecondText);
        message(kCanNotEditPatchItem, patch->patchName);
        return;
    }
    // The write takes the unit's waiting change of the patch first; the row's reload after it shows the
    // merge, and an editor open on the row takes that for its original, so Escape keeps it.
    if (collaborators_.writeSlot) collaborators_.writeSlot(*row);
    if (collaborators_.reloadListRow) collaborators_.reloadListRow(*row);
}

void PatchUndoHandlers::undoPoolPatchText(const ChangeTextAction& action)
{
    const Node node = nodeOf(action.mItem);
    const Node group = nodeOf(action.mGroupOfItem);
    // The record's container no longer holds the node: it was moved or removed since.
    if (group ? !holds(group->childDirectories, node.get()) : !isTopLevel(node.get())) return;
    PatchItem* patch = node->patchItem();
    if (!node->isGroup && patch != nullptr) {
        node->name = patch->patchName = action.mOldText;
        StoredPatchTexts restore;
        restore.name = action.mOldStored.name;
        if (!collaborators_.coordinator.restoreFilePatch(*patch, restore)) {
            node->name = patch->patchName = action.mNewText;
            message(kCanNotEditPatchItem, patch->patchName);
            return;
        }
        node->name = patch->patchName;
    }
    reloadPool({node});
}

void PatchUndoHandlers::undoGroupName(const ChangeTextAction& action)
{
    const Node group = nodeOf(action.mItem);
    if (!isTopLevel(group.get())) return;
    const std::string current = group->name.value_or("");
    // The coordinator finds a group's folder by its name, on a disk that tells case apart: a change of
    // case alone moves the folder too.
    if (action.mOldText != current) {
        // The copies still to be made into the folder are withdrawn and asked again into the folder the
        // group ends with, so the undo waits for none of them (as the rename it takes back).
        WithdrawnCopies pending;
        pending.addChildren(*group, (std::filesystem::path(collaborators_.coordinator.localPoolFolder()) /
                                     CommonUtils::groupFolderName(current))
                                        .string());
        if (collaborators_.copyAgain) pending.withdraw(collaborators_.coordinator);
        const std::int32_t renamed = collaborators_.coordinator.renameGroup(*group, action.mOldText);
        if (renamed == 0) group->name = action.mOldText;
        if (collaborators_.copyAgain) collaborators_.copyAgain(pending.nodes(), group);
        switch (renamed) {
        case 0:
            break;
        case 1:
            message(kFileExist);
            return;
        default:
            message(kCanNotRenamePatchGroup, current);
            return;
        }
    }
    group->name = action.mOldText;
    // A folder's new name changes none of its files: the warnings stand.
    reloadPool();
}

void PatchUndoHandlers::undoPoolPropertySheet(const ChangeTextAction& action)
{
    const Node node = nodeOf(action.mItem);
    PatchItem* patch = node ? node->patchItem() : nullptr;
    if (patch == nullptr) return;
    patch->patchName = action.mOldText;
    patch->patchComment = action.mOldSecondText;
    node->name = patch->patchName;
    if (!collaborators_.coordinator.restoreFilePatch(*patch, action.mOldStored)) {
        node->name = patch->patchName = action.mNewText;
        patch->patchComment = action.mNewSecondText;
        message(kCanNotEditPatchItem, patch->patchName);
        return;
    }
    node->name = patch->patchName;
    reloadPool({node});
}

// ---- moves ----

void PatchUndoHandlers::doUndoActionForChangePosition(const ChangePositionAction& action)
{
    if (action.mType == 1) {
        Patches old;
        for (const auto& object : action.mOldList) old.push_back(patchOf(object));
        patchItems_ = std::move(old);
        // Written first: the write takes the unit's waiting changes, which the reload then shows.
        if (collaborators_.writeRange) collaborators_.writeRange(action.changedRange.location, action.changedRange.length);
        if (collaborators_.reloadList) collaborators_.reloadList();
        return;
    }
    if (action.mType != 4) return;
    // A node whose copy failed after the move was recorded has left the pool, its file never made: the
    // lists put back pass over it, or it would come back naming no file and fail every later save.
    collaborators_.coordinator.landFinishedPoolWork();
    // A moved patch whose copy (asked into where it went) has not begun goes back without it: the copy is
    // withdrawn and asked again into the folder it goes back to.
    const std::string local = collaborators_.coordinator.localPoolFolder();
    const auto folderOfGroup = [&](const Node& group) {
        return group ? (std::filesystem::path(local) / CommonUtils::groupFolderName(group->name.value_or(""))).string() : local;
    };
    std::unordered_map<const DirectoryObject*, Node> parents;
    for (const Node& top : structureData_)
        if (top && top->isGroup)
            for (const Node& child : top->childDirectories) parents.emplace(child.get(), top);
    WithdrawnCopies handedOver;
    for (const auto& moved : action.mMovedPatchItemList) {
        const auto parent = parents.find(moved.patchItem.get());
        handedOver.add(moved.patchItem, folderOfGroup(parent == parents.end() ? nullptr : parent->second));
    }
    handedOver.withdraw(collaborators_.coordinator);
    const auto leftThePool = [](const Node& node) {
        const PatchItem* patch = node ? node->patchItem() : nullptr;
        return node && !node->isGroup && patch != nullptr && patch->path.empty();
    };
    Nodes old;
    for (const auto& object : action.mOldList)
        if (Node node = nodeOf(object); !leftThePool(node)) old.push_back(std::move(node));
    structureData_ = std::move(old);
    for (const auto& parent : action.mOldParentList) {
        if (!parent.oldParentItem || !isTopLevel(parent.oldParentItem.get())) continue;
        auto children = parent.oldChildItems;
        std::erase_if(children, leftThePool);
        parent.oldParentItem->childDirectories = std::move(children);
    }
    // A move changes no patch's file: every warning stands.
    reloadPool();
    if (collaborators_.clearPoolSelection) collaborators_.clearPoolSelection();
    // The groups gone back to by name (the last of a name, as a search would find it), and the files
    // moved back folder by folder, in the order recorded: a move of thousands undone costs a pass.
    std::unordered_map<std::string, Node> groupsByName;
    for (const Node& top : structureData_)
        if (top && top->isGroup) groupsByName[top->name.value_or("")] = top;
    std::vector<std::pair<Node, Nodes>> again;
    std::vector<std::pair<std::string, std::vector<const ChangePositionAction::MovedPatchItem*>>> back;
    std::unordered_map<std::string, std::size_t> backAt;
    for (const auto& moved : action.mMovedPatchItemList) {
        PatchItem* patch = moved.patchItem ? moved.patchItem->patchItem() : nullptr;
        if (patch == nullptr) continue;
        if (handedOver.contains(moved.patchItem.get())) {
            Node group;
            if (!moved.oldDirectory.empty())
                if (const auto found = groupsByName.find(moved.oldDirectory); found != groupsByName.end()) group = found->second;
            const auto found = std::find_if(again.begin(), again.end(), [&](const auto& each) { return each.first == group; });
            if (found != again.end()) found->second.push_back(moved.patchItem);
            else again.emplace_back(group, Nodes{moved.patchItem});
            continue;
        }
        const auto [at, added] = backAt.emplace(moved.oldDirectory, back.size());
        if (added) back.emplace_back(moved.oldDirectory, std::vector<const ChangePositionAction::MovedPatchItem*>{});
        back[at->second].second.push_back(&moved);
    }
    for (const auto& [directory, movedBack] : back) {
        std::vector<PatchItem*> patches;
        patches.reserve(movedBack.size());
        for (const auto* moved : movedBack) patches.push_back(moved->patchItem->patchItem());
        const std::vector<std::string> paths = collaborators_.coordinator.movePatchItems(patches, directory);
        for (std::size_t i = 0; i < movedBack.size() && i < paths.size(); ++i) {
            if (paths[i].empty()) continue;
            // The node names the same file as its patch.
            patches[i]->path = paths[i];
            movedBack[i]->patchItem->path = paths[i];
        }
    }
    if (collaborators_.copyAgain)
        for (const auto& [group, nodes] : again) collaborators_.copyAgain(nodes, group);
}

// ---- patches read from the pool into the list ----

void PatchUndoHandlers::doUndoActionForDragFromPoolToList(const DragFromPoolToListAction& action)
{
    // Only the slots the list has: a record never makes the list longer.
    std::uint64_t slot = action.mIndex;
    std::uint64_t count = 0;
    for (const auto& object : action.mItems) {
        if (slot >= patchItems_.size()) break;
        patchItems_[slot++] = patchOf(object);
        ++count;
    }
    if (count > 0 && collaborators_.writeRange) collaborators_.writeRange(action.mIndex, count);
    if (collaborators_.reloadList) collaborators_.reloadList();
}

// ---- additions to the pool ----

void PatchUndoHandlers::doUndoActionForAddToPatchPool(const AddToPatchPoolAction& action)
{
    if (action.mPending) {
        // Nothing of it is in the pool yet: it never will be.
        action.mPending->takenBack = true;
        return;
    }
    // Copies of the addition not made yet never will be: a drop of thousands undone at once waits for none
    // of them. Their nodes leave the pool as they land, so the steps below take only what was copied.
    const Node group = nodeOf(action.mGroup);
    const std::string local = collaborators_.coordinator.localPoolFolder();
    const auto folderOf = [&](const DirectoryObject& node) {
        return (std::filesystem::path(local) / CommonUtils::groupFolderName(node.name.value_or(""))).string();
    };
    PatchCoordinator::PatchCopies pending;
    for (const auto& object : action.mItems) {
        const Node node = nodeOf(object);
        if (!node) continue;
        if (const PatchItem* patch = node->patchItem(); patch && !node->isGroup)
            pending.emplace_back(patch->path, group ? folderOf(*group) : local);
        else if (node->isGroup) {
            const std::string folder = folderOf(*node);
            for (const auto& child : node->childDirectories)
                if (const PatchItem* patch = child ? child->patchItem() : nullptr) pending.emplace_back(patch->path, folder);
        }
    }
    if (!pending.empty()) collaborators_.coordinator.withdrawPendingCopies(pending);
    for (const auto& object : action.mItems) {
        const Node node = nodeOf(object);
        if (!node) continue;
        if (group) {
            // A node the group no longer holds (moved since, or its copy failed) is not this undo's to take.
            if (!holds(group->childDirectories, node.get())) continue;
            if (const PatchItem* patch = node->patchItem()) {
                if (collaborators_.coordinator.deletePatchItem(*patch, group.get()).empty()) {
                    message(kCanNotDeletePatchItem, patch->patchName);
                    return;
                }
            }
            removeFrom(group->childDirectories, node.get());
            continue;
        }
        if (!isTopLevel(node.get())) continue;
        if (!removeAddedTopLevelNode(node)) return;
    }
    reloadPool();
    if (collaborators_.clearPoolSelection) collaborators_.clearPoolSelection();
}

bool PatchUndoHandlers::removeAddedTopLevelNode(const Node& node)
{
    const PatchItem* patch = node->patchItem();
    if (!node->isGroup && patch != nullptr) {
        if (collaborators_.coordinator.deletePatchItem(*patch, nullptr).empty()) {
            message(kCanNotDeletePatchItem, patch->patchName);
            return false;
        }
    } else {
        // The backup being taken away is the one the button would restore.
        if (node->isBackUpAllGroup && collaborators_.isRestoreAllMode && collaborators_.isRestoreAllMode() &&
            collaborators_.isSelectedInPool && collaborators_.isSelectedInPool(*node) &&
            collaborators_.leaveRestoreAllMode)
            collaborators_.leaveRestoreAllMode();
        if (collaborators_.coordinator.deletePatchGroup(*node).empty()) {
            message(kCanNotDeletePatchGroup, node->name.value_or(""));
            return false;
        }
    }
    removeFrom(structureData_, node.get());
    return true;
}

// ---- the list's selection ----

void PatchUndoHandlers::doUndoActionForSelectionInPatchList(const SelectionAction& action)
{
    if (collaborators_.clearListSelection) collaborators_.clearListSelection();
    const auto& previous = action.previousSelectionList;
    if (previous.empty()) return;
    Rows rows;
    for (const std::int64_t row : previous)
        if (row >= 0 && static_cast<std::uint64_t>(row) < patchItems_.size()) rows.push_back(static_cast<std::uint64_t>(row));
    std::sort(rows.begin(), rows.end());
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
    if (collaborators_.selectListRows) collaborators_.selectListRows(rows);
    const std::int64_t last = previous.back();
    if (last >= 0 && static_cast<std::uint64_t>(last) < patchItems_.size() && collaborators_.selectOnDevice)
        collaborators_.selectOnDevice(static_cast<std::uint64_t>(last));
}

// ---- deletions from the pool ----

void PatchUndoHandlers::doUndoActionForDeleteInPatchPool(const DeleteAction& action)
{
    switch (action.deleteType) {
    case 0:
        undoDeletedPatch(action);
        return;
    case 1:
        undoDeletedGroup(action);
        return;
    case 2: {
        // The last deletion first, so every saved index is valid again when its record comes. The pool
        // is reloaded once, for every item put back.
        const bool outermost = !gathered_;
        if (outermost) gathered_.emplace();
        for (auto each = action.deletedActions.rbegin(); each != action.deletedActions.rend(); ++each)
            if (*each) doUndoActionForDeleteInPatchPool(**each);
        if (!outermost) return;
        neighbourPutBack_.place();
        askGatheredCopies();
        Nodes touched = std::move(*gathered_);
        gathered_.reset();
        nodesIn_.clear();
        reloadPool(touched);
        return;
    }
    default:
        break;
    }
    reloadPool();
}

std::unordered_set<const DirectoryObject*>& PatchUndoHandlers::nodesIn(const Nodes& list)
{
    if (!gathered_) nodesIn_.clear();
    auto [found, added] = nodesIn_.try_emplace(&list);
    if (added)
        for (const auto& node : list) found->second.insert(node.get());
    return found->second;
}

std::uint64_t PatchUndoHandlers::placeOf(const DeleteAction& action, const Nodes& list)
{
    if (!action.neighbours || action.placeAmongNeighbours >= action.neighbours->size()) return action.index;
    const auto& present = nodesIn(list);
    for (std::size_t at = action.placeAmongNeighbours; at-- > 0;) {
        const Node before = (*action.neighbours)[at].lock();
        if (!before || present.count(before.get()) == 0) continue;
        // A node that left the list since (a failed copy landing inside this undo) is passed over too.
        const auto found = std::find(list.begin(), list.end(), before);
        if (found != list.end()) return static_cast<std::uint64_t>(found - list.begin()) + 1;
    }
    return 0;
}

void PatchUndoHandlers::putBack(Nodes& list, std::uint64_t place, const Node& node)
{
    list.insert(list.begin() + static_cast<std::ptrdiff_t>(std::min<std::uint64_t>(place, list.size())), node);
    if (const auto cached = nodesIn_.find(&list); cached != nodesIn_.end()) cached->second.insert(node.get());
}

void PatchUndoHandlers::putBackDeleted(const DeleteAction& action, Nodes& list, const Node& node)
{
    if (gathered_ && action.neighbours && action.placeAmongNeighbours < action.neighbours->size()) {
        neighbourPutBack_.add(list, action.neighbours, action.placeAmongNeighbours, node);
        return;
    }
    putBack(list, placeOf(action, list), node);
}

void PatchUndoHandlers::copyAgain(const Node& group, const Node& node)
{
    if (!gathered_) {
        if (collaborators_.copyAgain) collaborators_.copyAgain({node}, group);
        return;
    }
    const auto found = std::find_if(toCopyAgain_.begin(), toCopyAgain_.end(), [&](const auto& each) { return each.first == group; });
    if (found != toCopyAgain_.end()) found->second.push_back(node);
    else toCopyAgain_.emplace_back(group, Nodes{node});
}

void PatchUndoHandlers::askGatheredCopies()
{
    auto asked = std::exchange(toCopyAgain_, {});
    if (!collaborators_.copyAgain) return;
    for (auto& [group, nodes] : asked) collaborators_.copyAgain(nodes, group);
}

void PatchUndoHandlers::undoDeletedPatch(const DeleteAction& action)
{
    const Node& node = action.deletedItem;
    PatchItem* patch = node ? node->patchItem() : nullptr;
    bool restored = false;
    if (patch != nullptr && !action.pendingCopyOf.empty()) {
        // Its copy was withdrawn, never made: nothing is in the bin. It goes back naming the file dropped,
        // as a node still to be copied does, and its copy is asked again into where it goes back.
        Nodes& list = action.group ? action.group->childDirectories : structureData_;
        if (action.group && !isTopLevel(action.group.get())) {
            message(kRestorePatchInGroupFailed, patch->patchName);
            reloadPool();
            return;
        }
        patch->path = action.pendingCopyOf;
        putBackDeleted(action, list, node);
        copyAgain(action.group, node);
        reloadPool({node});
        return;
    }
    if (const Node& group = action.group) {
        if (!action.neighbours && action.index > group->childDirectories.size()) {
            message(kRestorePatchInGroupOutOfRange);
        } else if (patch != nullptr) {
            const std::string path = collaborators_.coordinator.undoPatchItem(*patch, group.get());
            if (!path.empty()) {
                patch->path = path;
                // Counted once the coordinator's step is done: a failed copy may have left the list in it.
                putBackDeleted(action, group->childDirectories, node);
                restored = true;
            } else {
                message(kRestorePatchInGroupFailed, patch->patchName);
            }
        }
        reloadPool(restored ? Nodes{node} : Nodes{});
        return;
    }
    if (!action.neighbours && action.index > structureData_.size()) {
        message(kRestoreSinglePatchOutOfRange);
        return;
    }
    if (patch != nullptr) {
        const std::string path = collaborators_.coordinator.undoPatchItem(*patch, nullptr);
        if (path.empty()) {
            message(kRestoreSinglePatchFailed, patch->patchName);
            return;
        }
        patch->path = path;
        putBackDeleted(action, structureData_, node);
        restored = true;
    }
    reloadPool(restored ? Nodes{node} : Nodes{});
}

void PatchUndoHandlers::undoDeletedGroup(const DeleteAction& action)
{
    const Node& node = action.deletedItem;
    // Groups are top-level items only.
    if (node && !action.group) {
        if (!action.neighbours && action.index > structureData_.size()) {
            message(kRestorePatchGroupOutOfRange);
        } else if (collaborators_.coordinator.undoPatchGroup(*node).empty()) {
            message(kRestorePatchGroupFailed, node->name.value_or(""));
        } else {
            // The children whose copies the deletion withdrew go back where they stood, after the folder
            // (which named only what had landed), and their copies are asked again once the group is back.
            Nodes touched{node};
            for (const auto& child : action.withdrawnChildren) {
                PatchItem* patch = child && child->deletedItem ? child->deletedItem->patchItem() : nullptr;
                if (patch == nullptr) continue;
                patch->path = child->pendingCopyOf;
                auto& list = node->childDirectories;
                list.insert(list.begin() + static_cast<std::ptrdiff_t>(std::min<std::uint64_t>(child->index, list.size())), child->deletedItem);
                touched.push_back(child->deletedItem);
            }
            putBackDeleted(action, structureData_, node);
            for (std::size_t i = 1; i < touched.size(); ++i) copyAgain(node, touched[i]);
            reloadPool(touched);
            return;
        }
    }
    reloadPool();
}
