#pragma once

#include <cstdint>
#include <vector>

#include "library/undo/UndoAction.h"

// The device-list selection changed.
class SelectionAction final : public UndoAction {
public:
    // The rows selected before the change, in the order they were selected; the last one's patch was the
    // device's current patch.
    explicit SelectionAction(std::vector<std::int64_t> previousSelection, std::int64_t type = 0)
        : selectionType(type), previousSelectionList(std::move(previousSelection))
    {
    }

    std::int64_t selectionType = 0;
    std::vector<std::int64_t> previousSelectionList;
};
