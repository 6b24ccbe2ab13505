#pragma once

#include <memory>

#include "app/patch/PoolSelectionEntry.h"

class DirectoryObject;
class PatchPoolOutlineView;

// The pool menu's choices as the patch screen receives them, the pool view first. Every method has an
// empty default; the query answers false unless the screen says otherwise.
class PatchPoolOutlineViewDelegate {
public:
    using Node = std::shared_ptr<DirectoryObject>;

    virtual ~PatchPoolOutlineViewDelegate() = default;

    virtual void didClickOnButtonRestoreAllToDeviceAtItem(PatchPoolOutlineView* /*view*/, const Node& /*item*/,
                                                          const Node& /*group*/) {}
    virtual void didClickOnButtonCopyToDeviceMemoryAtItem(PatchPoolOutlineView* /*view*/, const Node& /*item*/,
                                                          const Node& /*group*/) {}
    virtual void didClickOnButtonCopyToDeviceMemoryAtItems(PatchPoolOutlineView* /*view*/,
                                                           const PoolSelectionEntries& /*items*/) {}
    virtual void didClickOnPropertyButtonAtItem(PatchPoolOutlineView* /*view*/, const Node& /*item*/, const Node& /*group*/) {}
    virtual void didClickOnUndoButtonAtItem(PatchPoolOutlineView* /*view*/, const Node& /*item*/, const Node& /*group*/) {}
    virtual void didClickOnDeleteButtonAtItem(PatchPoolOutlineView* /*view*/, const Node& /*item*/, const Node& /*group*/) {}
    virtual void didClickOnDeleteButtonWithItems(PatchPoolOutlineView* /*view*/, const PoolSelectionEntries& /*items*/) {}
    virtual void didClickOnCreateGroupButtonAtItem(PatchPoolOutlineView* /*view*/, const Node& /*item*/, const Node& /*group*/) {}
    virtual bool patchPoolOutlineViewCanCopyToDeviceMemory(PatchPoolOutlineView* /*view*/) { return false; }
};
