#pragma once

#include <cstdint>
#include <memory>

#include "app/patch/PoolSelectionEntry.h"

class DirectoryObject;

// The pool's drag and drop fields: its own drag in progress and where the drop over it would land.
struct PoolDragState {
    // From the start of a drag that began in the pool until that drag is over, wherever it ends.
    bool isDragging = false;
    PoolSelectionEntries draggedContainers;
    std::shared_ptr<DirectoryObject> focusDraggingItem;
    // 0 above `focusDraggingItem`, 1 on it, 2 below it.
    std::int64_t draggingPosition = 0;
    bool isDraggingToCreateNewGroup = false;
    bool isDraggingInEmptySpace = false;
    bool isDraggingUncontinuousFiles = false;

    // What `draggingDidEnd` leaves.
    void draggingDidEnd()
    {
        isDragging = false;
        focusDraggingItem.reset();
        draggedContainers.clear();
        isDraggingToCreateNewGroup = false;
        isDraggingUncontinuousFiles = false;
    }
};
