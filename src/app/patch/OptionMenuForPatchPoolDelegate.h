#pragma once

#include <memory>

#include "app/patch/PoolSelectionEntry.h"

class DirectoryObject;
class OptionMenuForPatchPool;

// What the pool's option menu tells the view that opened it: its eight choices and its one query. A
// method the view leaves alone is not implemented: the button does nothing, and the query counts as "no".
class OptionMenuForPatchPoolDelegate {
public:
    using Node = std::shared_ptr<DirectoryObject>;

    virtual ~OptionMenuForPatchPoolDelegate() = default;

    virtual void optionMenuForPatchPoolDidClickOnButtonRestoreAllToDeviceAtItem(OptionMenuForPatchPool* /*menu*/,
                                                                                const Node& /*item*/, const Node& /*group*/) {}
    virtual void optionMenuForPatchPoolDidClickOnButtonCopyToDeviceMemoryAtItem(OptionMenuForPatchPool* /*menu*/,
                                                                                const Node& /*item*/, const Node& /*group*/) {}
    virtual void optionMenuForPatchPoolDidClickOnButtonCopyToDeviceMemoryAtItems(OptionMenuForPatchPool* /*menu*/,
                                                                                 const PoolSelectionEntries& /*items*/) {}
    virtual void optionMenuForPatchPoolDidClickOnPropertyButtonAtItem(OptionMenuForPatchPool* /*menu*/, const Node& /*item*/,
                                                                      const Node& /*group*/) {}
    virtual void optionMenuForPatchPoolDidClickOnUndoButtonAtItem(OptionMenuForPatchPool* /*menu*/, const Node& /*item*/,
                                                                  const Node& /*group*/) {}
    virtual void optionMenuForPatchPoolDidClickOnDeleteButtonAtItem(OptionMenuForPatchPool* /*menu*/, const Node& /*item*/,
                                                                    const Node& /*group*/) {}
    virtual void optionMenuForPatchPoolDidClickOnDeleteButtonWithItems(OptionMenuForPatchPool* /*menu*/,
                                                                       const PoolSelectionEntries& /*items*/) {}
    virtual void optionMenuForPatchPoolDidClickOnCreateGroupButtonAtItem(OptionMenuForPatchPool* /*menu*/,
                                                                         const Node& /*item*/, const Node& /*group*/) {}
    virtual bool optionMenuForPatchPoolCanCopyToDeviceMemory(OptionMenuForPatchPool* /*menu*/) { return false; }
};
