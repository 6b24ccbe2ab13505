#pragma once

#include <memory>
#include <variant>

#include "library/models/DirectoryObject.h"
#include "library/models/PatchItem.h"

// One undoable edit of the device patch list or the patch pool. The undo notification carries the record
// as its sender; an observer takes its own reference with shared_from_this().
class UndoAction : public std::enable_shared_from_this<UndoAction> {
public:
    // What a record holds of the lists: a pool node, a device-list patch, or nothing.
    using Object = std::variant<std::monostate, std::shared_ptr<DirectoryObject>, std::shared_ptr<PatchItem>>;

    virtual ~UndoAction() = default;
};
