#include "app/patch/PatchPoolDragRules.h"

#include <algorithm>
#include <cmath>
#include <optional>

#include "app/patch/BackupPatch.h"
#include "library/models/DirectoryObject.h"
#include "library/models/PatchItem.h"

namespace {

bool comesFromBackupAllGroup(const PoolSelectionEntry& entry)
{
    return entry.parentItem && entry.parentItem->isGroup && entry.parentItem->isBackUpAllGroup;
}

PatchPoolDragRules::Tree::Rect rectOfItem(const PatchPoolDragRules::Tree& tree, const PatchPoolDragRules::Node& item)
{
    const int row = tree.rowForItem(item);
    return row >= 0 ? tree.rectOfRow(row) : PatchPoolDragRules::Tree::Rect{};
}

}  // namespace

PatchPoolDragRules::Pointer PatchPoolDragRules::itemFromDraggingLocation(const Tree& tree, double y)
{
    const int row = tree.rowAtY(y);
    if (row >= 0) return {tree.itemAtRow(row), false};
    for (int last = tree.numberOfRows() - 1; last >= 0; --last) {
        Node item = tree.itemAtRow(last);
        if (!tree.parentForItem(item)) return {item, true};
    }
    return {nullptr, true};
}

bool PatchPoolDragRules::isDraggingAbove(const Tree& tree, const Node& item, double y)
{
    const Tree::Rect rect = rectOfItem(tree, item);
    return y <= rect.y + rect.height / 2;
}

std::int64_t PatchPoolDragRules::threeZonePosition(const Tree& tree, const Node& item, double y)
{
    const Tree::Rect rect = rectOfItem(tree, item);
    const double middle = std::trunc(rect.y + rect.height / 2);
    if (y >= middle - 3 && y <= middle + 3) return kOn;
    return y > middle + 3 ? kBelow : kAbove;
}

PatchPoolDragRules::Drop PatchPoolDragRules::canDropToDirectory(const Tree& tree, const PoolSelectionEntries& entries,
                                                                const Pointer& pointer, double y)
{
    const Node& target = pointer.item;
    const bool anyFromBackupAll = std::any_of(entries.begin(), entries.end(), comesFromBackupAllGroup);
    const auto byHalves = [&] { return Drop{true, target, isDraggingAbove(tree, target, y) ? kAbove : kBelow}; };

    if (!target || pointer.inEmptySpace) {
        if (anyFromBackupAll) return {};
        const int rows = tree.numberOfRows();
        return {true, rows > 0 ? tree.itemAtRow(rows - 1) : nullptr, kBelow};
    }
    const Node parent = tree.parentForItem(target);
    if (!parent && !target->isGroup) {
        if (anyFromBackupAll) return {};
        return byHalves();
    }
    if (parent && parent->isGroup && !parent->isBackUpAllGroup) {
        const bool anyTopLevelGroup = std::any_of(entries.begin(), entries.end(), [](const PoolSelectionEntry& entry) {
            return !entry.parentItem && entry.childItem && entry.childItem->isGroup;
        });
        if (anyTopLevelGroup || anyFromBackupAll) return {};
        return byHalves();
    }
    if (!parent && !target->isBackUpAllGroup) {
        if (anyFromBackupAll) return {};
        const bool anyGroup = std::any_of(entries.begin(), entries.end(), [](const PoolSelectionEntry& entry) {
            return entry.childItem && entry.childItem->isGroup;
        });
        return anyGroup ? byHalves() : Drop{true, target, threeZonePosition(tree, target, y)};
    }
    if (!parent) {
        const auto childOfTarget = [&](const PoolSelectionEntry& entry) { return entry.parentItem == target; };
        const bool allChildren = std::all_of(entries.begin(), entries.end(), childOfTarget);
        const bool anyChild = std::any_of(entries.begin(), entries.end(), childOfTarget);
        const bool anyOther = std::any_of(entries.begin(), entries.end(), [&](const PoolSelectionEntry& entry) {
            return !comesFromBackupAllGroup(entry);
        });
        const bool anyOtherBackup = std::any_of(entries.begin(), entries.end(), [&](const PoolSelectionEntry& entry) {
            return comesFromBackupAllGroup(entry) && entry.parentItem != target;
        });
        if ((anyChild && anyOther) || anyOtherBackup) return {};
        if (allChildren) return {true, target, kOn};
        return byHalves();
    }
    if (parent->isGroup && parent->isBackUpAllGroup) {
        const bool anyStranger = std::any_of(entries.begin(), entries.end(), [&](const PoolSelectionEntry& entry) {
            return !entry.parentItem || !entry.parentItem->isGroup || entry.parentItem != parent;
        });
        if (anyStranger) return {};
        return byHalves();
    }
    return {};
}

PatchPoolDragRules::Drop PatchPoolDragRules::foreignMarker(const Tree& tree, const Pointer& pointer,
                                                           bool toCreateNewGroup, double y)
{
    if (toCreateNewGroup) {
        Node ancestor = pointer.item;
        while (ancestor) {
            Node parent = tree.parentForItem(ancestor);
            if (!parent) break;
            ancestor = std::move(parent);
        }
        return {true, ancestor, isDraggingAbove(tree, ancestor, y) ? kAbove : kBelow};
    }
    if (pointer.item && pointer.item->isGroup) return {true, pointer.item, threeZonePosition(tree, pointer.item, y)};
    return {true, pointer.item, isDraggingAbove(tree, pointer.item, y) ? kAbove : kBelow};
}

int PatchPoolDragRules::foreignAnswer(const Tree& tree, const Pointer& pointer, std::int64_t position)
{
    const Node& item = pointer.item;
    if (item && tree.isExpandable(item)) {
        if (!item->isBackUpAllGroup || pointer.inEmptySpace) return kGeneric;
        return position == kOn ? kNone : kGeneric;
    }
    const Node parent = item ? tree.parentForItem(item) : nullptr;
    return parent && parent->isBackUpAllGroup ? kNone : kGeneric;
}

std::int64_t PatchPoolDragRules::getNumberOfDraggedItems(const PoolSelectionEntries& entries, const Tree& tree,
                                                         const std::function<bool(const DirectoryObject&)>& isSameModel)
{
    std::int64_t count = 0;
    for (const PoolSelectionEntry& entry : entries) {
        const Node& item = entry.childItem;
        if (!item) continue;
        if (item->isBackUpAllGroup && isSameModel && isSameModel(*item)) return -1;
        if (tree.isExpandable(item)) {
            count += std::count_if(item->childDirectories.begin(), item->childDirectories.end(), [](const Node& child) {
                return child && !child->isGroup && child->patchItem() != nullptr && !child->isIncompatible;
            });
        } else if (!item->isIncompatible && !item->isGroup) {
            ++count;
        }
    }
    return count;
}

bool PatchPoolDragRules::isUncontinuous(const std::vector<int>& ascendingRows)
{
    for (std::size_t i = 1; i < ascendingRows.size(); ++i)
        if (ascendingRows[i] - ascendingRows[i - 1] > 1) return true;
    return false;
}

namespace {

// Into `parent` at the target's place, or after the last child of a group dropped on.
std::optional<PatchPoolDragRules::Call> intoGroup(const PatchPoolDragRules::Tree& tree, const PatchPoolDragRules::Node& focus,
                                                  std::int64_t position, bool onGroupToo)
{
    using Rules = PatchPoolDragRules;
    const bool above = position == Rules::kAbove;
    if (!focus) return std::nullopt;
    if (Rules::Node parent = tree.parentForItem(focus)) {
        // The place among the group's children, not among the rows shown: a group closed since the drop
        // (its files read late) shows none.
        const auto& children = parent->childDirectories;
        const auto at = std::find(children.begin(), children.end(), focus);
        const auto index = at == children.end() ? 0 : static_cast<std::uint64_t>(at - children.begin());
        return Rules::Call{{}, parent, index, above};
    }
    if (onGroupToo && focus->isGroup && position == Rules::kOn) {
        if (focus->childDirectories.empty()) return Rules::Call{{}, focus, 0, true};
        return Rules::Call{{}, focus, focus->childDirectories.size() - 1, false};
    }
    return std::nullopt;
}

}  // namespace

PatchPoolDragRules::Call PatchPoolDragRules::callForRows(const Tree& tree, const Node& focus, std::int64_t position,
                                                         bool toCreateNewGroup)
{
    const bool above = position == kAbove;
    if (toCreateNewGroup) return {Message::NewGroupWithRows, focus, 0, above};
    if (auto call = intoGroup(tree, focus, position, true)) {
        call->message = Message::InsertRowsInGroup;
        return *call;
    }
    return {Message::AddRowsAtSinglePatchItem, focus, 0, above};
}

PatchPoolDragRules::Call PatchPoolDragRules::callForFiles(const Tree& tree, const Node& focus, std::int64_t position,
                                                          std::size_t itemCount)
{
    const bool above = position == kAbove;
    if (auto call = intoGroup(tree, focus, position, itemCount == 1)) {
        call->message = Message::AddItemsIntoGroup;
        return *call;
    }
    if (itemCount == 1) return {Message::AddItemsAtSinglePatchItem, focus, 0, above};
    return {Message::NewGroupWithItems, focus, 0, above};
}

void PatchPoolDragRules::send(BackupPatch& delegate, const Call& call, const std::vector<std::int64_t>& rows,
                              const std::vector<std::shared_ptr<PatchItem>>& items)
{
    switch (call.message) {
    case Message::AddRowsAtSinglePatchItem: delegate.addBackUpPatchItemAtIndexs(rows, call.target, call.isAbove); break;
    case Message::InsertRowsInGroup:
        delegate.insertBackUpPatchForPatchItemAtIndexs(rows, call.target, call.indexInGroup, call.isAbove);
        break;
    case Message::AddItemsAtSinglePatchItem: delegate.addBackUpPatchItems(items, call.target, call.isAbove); break;
    case Message::AddItemsIntoGroup:
        delegate.addBackUpPatchItems(items, call.target, call.indexInGroup, call.isAbove);
        break;
    case Message::NewGroupWithRows: delegate.createNewGroupWithPatchIndexs(rows, call.target, call.isAbove); break;
    case Message::NewGroupWithItems: delegate.createNewGroupWithPatchItems(items, call.target, call.isAbove); break;
    }
}
