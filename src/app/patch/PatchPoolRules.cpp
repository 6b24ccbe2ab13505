#include "app/patch/PatchPoolRules.h"

#include <algorithm>
#include <unordered_set>

#include "library/models/BankItem.h"
#include "library/models/DirectoryObject.h"
#include "platform/bundle/StringFormat.h"

PatchPoolRules::Title PatchPoolRules::titleForItem(const DirectoryObject& item, const DirectoryObject* parent,
                                                   const DirectoryObject* editingItem, const BankItems& bankItems)
{
    Title title{item.name.value_or(""), item.isIncompatible};
    if (item.isIncompatible || parent == nullptr || !parent->isBackUpAllGroup || &item == editingItem) return title;
    std::size_t incompatibleBefore = 0;
    for (const auto& child : parent->childDirectories) {
        if (child.get() == &item) break;
        if (child->isIncompatible) ++incompatibleBefore;
    }
    const auto at = std::find_if(parent->childDirectories.begin(), parent->childDirectories.end(),
                                 [&](const Node& child) { return child.get() == &item; });
    if (at == parent->childDirectories.end()) return title;
    const auto slot = static_cast<std::size_t>(at - parent->childDirectories.begin()) - incompatibleBefore;
    // A slot without a label (a unit that shows none) leaves the plain name.
    if (slot < bankItems.size() && bankItems[slot] && !bankItems[slot]->bankName.value_or("").empty())
        title.text = platform::StringFormat::format("%@: %@", {bankItems[slot]->bankName.value_or(""), title.text});
    return title;
}

std::vector<int> PatchPoolRules::draggedRows(const std::vector<int>& selectedRows, int pressed)
{
    if (pressed < 0) return {};
    if (std::find(selectedRows.begin(), selectedRows.end(), pressed) == selectedRows.end()) return {pressed};
    return selectedRows;
}

std::vector<int> PatchPoolRules::commandClickSelection(const std::vector<int>& selectedRows, int clicked,
                                                       const std::function<Row(int)>& rowAt)
{
    std::vector<int> selection = selectedRows;
    std::sort(selection.begin(), selection.end());
    if (const auto at = std::find(selection.begin(), selection.end(), clicked); at != selection.end()) {
        selection.erase(at);
        return selection;
    }
    const Row row = rowAt(clicked);
    if (row.item == nullptr || row.item->isGroup) return {clicked};
    for (const int selected : selection) {
        const Row other = rowAt(selected);
        if (other.parent != row.parent || other.item == nullptr || other.item->isGroup) return {clicked};
    }
    selection.insert(std::upper_bound(selection.begin(), selection.end(), clicked), clicked);
    return selection;
}

bool PatchPoolRules::restoreAllModeForSelection(const DirectoryObject* firstSelected)
{
    return firstSelected != nullptr && firstSelected->isGroup && firstSelected->isBackUpAllGroup;
}

std::optional<bool> PatchPoolRules::restoreAllModeForClick(const DirectoryObject* clicked, bool clickedIsSelected)
{
    if (!clickedIsSelected) return std::nullopt;
    return clicked != nullptr && clicked->isBackUpAllGroup;
}

std::int64_t PatchPoolRules::getStartPointWithArrayCount(std::int64_t count, std::int64_t draggingPosition)
{
    return draggingPosition == 2 ? count - 1 : 0;
}

bool PatchPoolRules::getStopConditionArrayCount(std::int64_t count, std::int64_t iterator,
                                                std::int64_t draggingPosition)
{
    return draggingPosition == 2 ? iterator >= 0 : iterator < count;
}

std::int64_t PatchPoolRules::getNextPointWithIterator(std::int64_t iterator, std::int64_t draggingPosition)
{
    return draggingPosition == 2 ? iterator - 1 : iterator + 1;
}

PatchPoolRules::Drop PatchPoolRules::dropOntoDraggedItem(const PoolSelectionEntries& items, const Node& target,
                                                         std::int64_t draggingPosition, const Nodes& container)
{
    // Looked up, not searched for: thousands dragged within a group of thousands cost a pass each.
    std::unordered_set<const DirectoryObject*> dragged;
    for (const PoolSelectionEntry& entry : items)
        if (entry.childItem) dragged.insert(entry.childItem.get());
    const auto isDragged = [&](const Node& node) { return node && dragged.count(node.get()) > 0; };
    if (!target || !isDragged(target)) return {target, draggingPosition};
    const auto at = std::find(container.begin(), container.end(), target);
    if (at == container.end()) return {target, 2};
    for (auto above = std::make_reverse_iterator(at); above != container.rend(); ++above)
        if (!isDragged(*above)) return {*above, 2};
    // Nothing undragged above: the block stays at the top of its container, above the first item below it
    // that is not dragged. Below a dragged item instead, the walk would take items out from around the
    // target itself and turn the block over.
    for (auto below = at + 1; below != container.end(); ++below)
        if (!isDragged(*below)) return {*below, 0};
    // The whole container is dragged: dropped onto itself, it has nowhere else to go.
    return {nullptr, draggingPosition};
}

bool PatchPoolRules::leavesOrderAsItIs(const Nodes& container, const Nodes& block, const Node& target,
                                       std::int64_t draggingPosition)
{
    std::unordered_set<const DirectoryObject*> inBlock;
    for (const Node& node : block) inBlock.insert(node.get());
    Nodes rest;
    for (const Node& node : container)
        if (inBlock.count(node.get()) == 0) rest.push_back(node);
    if (rest.size() + block.size() != container.size()) return false;
    auto insertAt = rest.end();
    if (draggingPosition != 1) {
        insertAt = std::find(rest.begin(), rest.end(), target);
        if (insertAt == rest.end()) return false;
        if (draggingPosition == 2) ++insertAt;
    }
    rest.insert(insertAt, block.begin(), block.end());
    return rest == container;
}

std::string PatchPoolRules::newGroupName(const std::function<bool(const std::string&)>& exists)
{
    for (long n = 1;; ++n) {
        std::string name = platform::StringFormat::format(kNewGroupFormat, {n});
        if (!exists(name)) return name;
    }
}
