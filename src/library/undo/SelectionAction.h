#pragma once

#include <cstdint>
#include <vector>

#include "library/undo/UndoAction.h"

// The device-list selection changed.
class SelectionAction final : public UndoAction {
public:
    explicit SelectionAction(std::vector<Object> previousSelection, std::int64_t type = 0)
        : selectionType(type), previousSelectionList(std::move(previousSelection))
    {
    }

    std::int64_t selectionType = 0;
    std::vector<Object> previousSelectionList;
};
