#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "library/undo/UndoAction.h"

// Pool items were deleted (kept in the recycle bin until the stack is cleared).
class DeleteAction final : public UndoAction {
public:
    DeleteAction(std::shared_ptr<DirectoryObject> deleted, std::shared_ptr<DirectoryObject> inGroup,
                 std::uint64_t atIndex, std::int64_t type)
        : deleteType(type), deletedItem(std::move(deleted)), group(std::move(inGroup)), index(atIndex)
    {
    }

    // 0 one patch, 1 one group, 2 several items (each in `deletedActions`, in deletion order).
    std::int64_t deleteType = 0;
    std::shared_ptr<DirectoryObject> deletedItem;
    // None at the top level and for a group.
    std::shared_ptr<DirectoryObject> group;
    std::uint64_t index = 0;
    std::vector<std::shared_ptr<DeleteAction>> deletedActions;
    // The list the item stood in as the deletion found it (shared by the records of one deletion), and
    // the item's place there: the undo puts it back after the nearest of those before it still in the list,
    // whatever left the list since (a copy that failed after the deletion). None: `index` alone.
    std::shared_ptr<const std::vector<std::weak_ptr<DirectoryObject>>> neighbours;
    std::size_t placeAmongNeighbours = 0;
    // The file a patch's copy was still to be made from when the deletion withdrew that copy: nothing of
    // it went to the bin, and the undo asks the copy again into the group's folder.
    std::string pendingCopyOf;
    // A group's children whose copies its deletion withdrew (each a patch's record: its place in the group
    // and the file it was dropped from): none went to the bin with the folder, and the undo puts them back
    // in the group and asks their copies again.
    std::vector<std::shared_ptr<DeleteAction>> withdrawnChildren;
};
