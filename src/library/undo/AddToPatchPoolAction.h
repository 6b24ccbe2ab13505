#pragma once

#include <cstdint>
#include <vector>

#include "library/undo/UndoAction.h"

// Patches or a group were added to the pool.
class AddToPatchPoolAction final : public UndoAction {
public:
    // 1 patches added into a group, 2 patches added at the top level, 3 a new group.
    AddToPatchPoolAction(std::vector<Object> items, Object group, std::int64_t type)
        : mItems(std::move(items)), mGroup(std::move(group)), mType(type)
    {
    }

    std::vector<Object> mItems;
    // None for types 2 and 3.
    Object mGroup;
    std::int64_t mType = 0;
};
