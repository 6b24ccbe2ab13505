#pragma once

#include <cstdint>
#include <vector>

// The device list's drag and drop fields, which the patch screen reads and sets while it handles a drop.
struct PatchListDragState {
    // The list's own drag is in progress (a reorder, or rows going to the pool or a folder).
    bool isDraggingFromTable = false;
    // The validated row is a filler row and the drop would land above it: a reorder goes after the last line.
    bool isDraggingToLastLine = false;
    // The target row of the drop in progress: the validated row for reorders, the row under the pointer
    // for drags from outside.
    std::int64_t row = -1;
    std::vector<std::uint64_t> draggedIndexSet;
    bool isDraggingUncontinuousFiles = false;
    bool isDroppingBackupAllGroup = false;
    // Signed: a backup-all group of the connected model counts -1 until it is placed.
    std::int64_t numberOfSentItems = 0;
};
