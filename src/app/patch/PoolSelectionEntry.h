#pragma once

#include <memory>
#include <vector>

class DirectoryObject;

// One selected or dragged pool row: the item and, for an item inside a group, that group.
struct PoolSelectionEntry {
    // None at the top level.
    std::shared_ptr<DirectoryObject> parentItem;
    std::shared_ptr<DirectoryObject> childItem;
};

using PoolSelectionEntries = std::vector<PoolSelectionEntry>;
