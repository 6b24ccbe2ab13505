#pragma once

#include <cstdint>
#include <vector>

#include "library/undo/UndoAction.h"

// Pool patches were dragged onto the device patch list at a row.
class DragFromPoolToListAction final : public UndoAction {
public:
    DragFromPoolToListAction(std::vector<Object> items, std::uint64_t index) : mIndex(index), mItems(std::move(items)) {}

    std::uint64_t mIndex = 0;
    std::vector<Object> mItems;
};
