#pragma once

#include <cstdint>
#include <memory>
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

    // An addition still to be made when its record was pushed (the files of a drop being read): the
    // record keeps the user's order, and its undo before the addition is made only says it must not come.
    struct Pending {
        bool takenBack = false;
    };
    // Set until the addition fills the record.
    std::shared_ptr<Pending> mPending;
};
