#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "app/patch/PoolSelectionEntry.h"

class DirectoryObject;
class PatchItem;

// What the patch pool asks of the patch screen: drops into the pool, clicks and the loss of focus. Every
// method has an empty default, so a screen answers only what it does.
class BackupPatch {
public:
    using Rows = std::vector<std::int64_t>;
    using Node = std::shared_ptr<DirectoryObject>;
    using Patches = std::vector<std::shared_ptr<PatchItem>>;

    virtual ~BackupPatch() = default;

    // Device-list rows dropped beside a top-level item or into empty space (`target` none).
    virtual void addBackUpPatchItemAtIndexs(const Rows& /*rows*/, const Node& /*target*/, bool /*isAbove*/) {}
    // Device-list rows dropped beside a patch inside `group`, or onto `group`.
    virtual void insertBackUpPatchForPatchItemAtIndexs(const Rows& /*rows*/, const Node& /*group*/, std::uint64_t /*indexInGroup*/,
                                                       bool /*isAbove*/) {}
    // Patches read from dropped files, at the top level.
    virtual void addBackUpPatchItems(const Patches& /*items*/, const Node& /*target*/, bool /*isAbove*/) {}
    // Patches read from dropped files, into `group`.
    virtual void addBackUpPatchItems(const Patches& /*items*/, const Node& /*group*/, std::uint64_t /*indexInGroup*/, bool /*isAbove*/) {}
    virtual void createNewGroupWithPatchIndexs(const Rows& /*rows*/, const Node& /*target*/, bool /*isAbove*/) {}
    virtual void createNewGroupWithPatchItems(const Patches& /*items*/, const Node& /*target*/, bool /*isAbove*/) {}
    // Declared for the screen; the pool never sends it.
    virtual void changePositionBackUpDirectoryItems(const PoolSelectionEntries& /*items*/, const Node& /*group*/,
                                                    const Node& /*item*/, bool /*isAbove*/) {}
    // The pool's own items dropped inside the pool: 0 above `target`, 1 onto it, 2 below it.
    virtual void changePositionWithItems(const PoolSelectionEntries& /*items*/, const Node& /*target*/,
                                         std::int64_t /*draggingPosition*/) {}
    virtual void outlineViewDidResignFirstResponder() {}
    // A left click released on the pool, before the selection changes; no item and row -1 below the rows.
    virtual void didClickOnItem(const Node& /*item*/, std::int64_t /*index*/) {}
};
