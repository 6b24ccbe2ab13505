#pragma once

#include <memory>

#include "app/patch/PoolSelectionEntry.h"

class DirectoryObject;
class OptionMenuForPatchPool;

// What the pool's option menu tells the view that opened it: its eight choices and its one query.
class OptionMenuForPatchPoolDelegate {
public:
    using Node = std::shared_ptr<DirectoryObject>;

    virtual ~OptionMenuForPatchPoolDelegate() = default;

    virtual void optionMenuForPatchPoolDidClickOnButtonRestoreAllToDeviceAtItem(OptionMenuForPatchPool* menu,
                                                                                const Node& item, const Node& group) = 0;
    virtual void optionMenuForPatchPoolDidClickOnButtonCopyToDeviceMemoryAtItem(OptionMenuForPatchPool* menu,
                                                                                const Node& item, const Node& group) = 0;
    virtual void optionMenuForPatchPoolDidClickOnButtonCopyToDeviceMemoryAtItems(OptionMenuForPatchPool* menu,
                                                                                 const PoolSelectionEntries& items) = 0;
    virtual void optionMenuForPatchPoolDidClickOnPropertyButtonAtItem(OptionMenuForPatchPool* menu, const Node& item,
                                                                      const Node& group) = 0;
    virtual void optionMenuForPatchPoolDidClickOnUndoButtonAtItem(OptionMenuForPatchPool* menu, const Node& item,
                                                                  const Node& group) = 0;
    virtual void optionMenuForPatchPoolDidClickOnDeleteButtonAtItem(OptionMenuForPatchPool* menu, const Node& item,
                                                                    const Node& group) = 0;
    virtual void optionMenuForPatchPoolDidClickOnDeleteButtonWithItems(OptionMenuForPatchPool* menu,
                                                                       const PoolSelectionEntries& items) = 0;
    virtual void optionMenuForPatchPoolDidClickOnCreateGroupButtonAtItem(OptionMenuForPatchPool* menu,
                                                                         const Node& item, const Node& group) = 0;
    virtual bool optionMenuForPatchPoolCanCopyToDeviceMemory(OptionMenuForPatchPool* menu) = 0;
};
