#pragma once

#include <cstdint>
#include <memory>

class CustomTableViewForPatch;
class PatchItem;

// What the device list's option menu asks of the screen.
class TableViewForPatchRightClickDelegate {
public:
    virtual ~TableViewForPatchRightClickDelegate() = default;

    virtual void didClickOnSavingInPatchPoolButtonAtIndex(CustomTableViewForPatch& table, std::uint64_t row) = 0;
    virtual void didClickOnReadingFromPatchPoolButtonAtIndex(CustomTableViewForPatch& table, std::uint64_t row) = 0;
    virtual void didClickOnUndoButtonAtIndex(CustomTableViewForPatch& table, std::uint64_t row) = 0;
    virtual void didClickOnPropertyButtonAtIndex(CustomTableViewForPatch& table, std::uint64_t row) = 0;
    // The patch shown in the row; none past the list.
    virtual std::shared_ptr<PatchItem> patchItemForRightClickAtIndex(CustomTableViewForPatch& table, std::uint64_t row) = 0;
    virtual bool tableViewCanReadFromPatchPool(CustomTableViewForPatch& table) = 0;
    virtual bool tableViewCanSaveToPatchPool(CustomTableViewForPatch& table) = 0;
};
