#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "library/undo/UndoAction.h"

// Items were reordered, or pool items moved between groups with their files.
class ChangePositionAction final : public UndoAction {
public:
    // Where one moved pool item was before the move.
    struct OldParent {
        // Its group; none at the top level.
        std::shared_ptr<DirectoryObject> oldParentItem;
        std::vector<std::shared_ptr<DirectoryObject>> oldChildItems;
    };
    // A pool patch whose file moved: the group folder it came from ("" for the top level) and its node.
    struct MovedPatchItem {
        std::string oldDirectory;
        std::shared_ptr<DirectoryObject> patchItem;
    };
    struct Range {
        std::uint64_t location = 0;
        std::uint64_t length = 0;
    };

    // The lists are copied; the elements stay shared with the caller's lists.
    void setUpOldList(const std::vector<Object>& list) { mOldList = list; }
    void setUpNewList(const std::vector<Object>& list) { mNewList = list; }

    std::vector<Object> mOldList;
    std::vector<Object> mNewList;
    std::vector<OldParent> mOldParentList;
    std::vector<MovedPatchItem> mMovedPatchItemList;
    // 1 device-list reorder, 2 pool top-level reorder, 3 reorder inside the group `mItem`, 4 a pool drag
    // with file moves.
    std::int64_t mType = 0;
    Object mItem;
    Range changedRange;
};
