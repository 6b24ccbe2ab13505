#include "app/patch/PatchListSelectionRules.h"

#include <algorithm>
#include <cmath>

std::vector<std::int64_t> PatchListSelectionRules::snapshot() const
{
    return {selectionList_.begin(), selectionList_.end()};
}

PatchListSelectionRules::Selection PatchListSelectionRules::selectAlone(std::uint64_t row)
{
    previousSelectedRow_ = anchor_ = row;
    selectionList_ = {row};
    return {row};
}

PatchListSelectionRules::Outcome PatchListSelectionRules::click(std::uint64_t row, Modifier modifier,
                                                                const Selection& selected)
{
    Outcome outcome;
    const bool rowSelected = selected.count(row) > 0;
    switch (modifier) {
    case Modifier::None:
        // Clicking the only selected row again re-sends it to the device only once after a drop.
        if (rowSelected && selected.size() == 1 && !isDropped_) return outcome;
        outcome.record = snapshot();
        outcome.selection = selectAlone(row);
        outcome.tellRow = row;
        isDropped_ = false;
        return outcome;
    case Modifier::Shift: {
        outcome.record = snapshot();
        if (selected.count(anchor_) == 0) {
            outcome.selection = selectAlone(row);
            outcome.tellRow = row;
            return outcome;
        }
        Selection range;
        selectionList_.clear();
        // The list runs from the anchor towards the clicked row.
        if (row < anchor_) {
            for (std::uint64_t each = row; each <= anchor_; ++each) {
                range.insert(each);
                selectionList_.insert(selectionList_.begin(), each);
            }
        } else {
            for (std::uint64_t each = anchor_; each <= row; ++each) {
                range.insert(each);
                selectionList_.push_back(each);
            }
        }
        outcome.selection = std::move(range);
        outcome.tellRow = row;
        return outcome;
    }
    case Modifier::Command: {
        Selection changed = selected;
        if (rowSelected) {
            // The record ends with this row, so that undoing makes it current again.
            selectionList_.erase(std::remove(selectionList_.begin(), selectionList_.end(), row), selectionList_.end());
            selectionList_.push_back(row);
            outcome.record = snapshot();
            selectionList_.pop_back();
            changed.erase(row);
            outcome.selection = std::move(changed);
            return outcome;
        }
        outcome.record = snapshot();
        changed.insert(row);
        previousSelectedRow_ = anchor_ = row;
        selectionList_.push_back(row);
        outcome.selection = std::move(changed);
        outcome.tellRow = row;
        return outcome;
    }
    }
    return outcome;
}

PatchListSelectionRules::Outcome PatchListSelectionRules::rightClick(std::uint64_t row, const Selection& selected)
{
    Outcome outcome;
    if (selected.count(row) > 0) return outcome;
    outcome.record = snapshot();
    outcome.selection = selectAlone(row);
    outcome.tellRow = row;
    return outcome;
}

PatchListSelectionRules::Outcome PatchListSelectionRules::dragSelect(std::uint64_t row, bool command,
                                                                     const Selection& selected)
{
    Outcome outcome;
    if (selected.count(row) > 0) return outcome;
    outcome.record = snapshot();
    if (command) {
        Selection changed = selected;
        changed.insert(row);
        selectionList_.push_back(row);
        previousSelectedRow_ = anchor_ = row;
        outcome.selection = std::move(changed);
    } else {
        outcome.selection = selectAlone(row);
    }
    outcome.tellRow = row;
    return outcome;
}

bool PatchListSelectionRules::isDragDistance(double dx, double dy) { return std::trunc(std::hypot(dx, dy)) >= 2.0; }

void PatchListSelectionRules::setClickedColumn(std::int64_t column, std::int64_t columnCount)
{
    if (column >= 0 && column < columnCount) previousSelectedColumn_ = static_cast<std::uint64_t>(column);
}

PatchListSelectionRules::Selection PatchListSelectionRules::selectAll(std::uint64_t rowCount)
{
    Selection all;
    selectionList_.clear();
    for (std::uint64_t row = 0; row < rowCount; ++row) {
        all.insert(row);
        selectionList_.push_back(row);
    }
    return all;
}

PatchListSelectionRules::Selection PatchListSelectionRules::setUpCurrentSelection(Rows rows, bool extendingSelection,
                                                                                  const Selection& selected)
{
    std::sort(rows.begin(), rows.end());
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
    Selection result = extendingSelection ? selected : Selection{};
    result.insert(rows.begin(), rows.end());
    if (!rows.empty()) anchor_ = rows.front();
    selectionList_ = std::move(rows);
    return result;
}

void PatchListSelectionRules::resetSelectionData()
{
    anchor_ = previousSelectedRow_ = previousSelectedColumn_ = 0;
    selectionList_.clear();
}
