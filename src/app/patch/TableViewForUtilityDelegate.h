#pragma once

#include <cstdint>
#include <vector>

class CustomTableViewForPatch;

// What the device list tells the screen: rows moved inside it, a row selected by a click, the focus.
class TableViewForUtilityDelegate {
public:
    virtual ~TableViewForUtilityDelegate() = default;

    // `rows` ascending; `toRow` the insertion row counted in the list before the move.
    virtual void didChangePositionFromRowIndexSet(CustomTableViewForPatch& table, const std::vector<std::uint64_t>& rows,
                                                  std::uint64_t toRow) = 0;
    virtual void didSelectRowAtIndex(CustomTableViewForPatch& table, std::uint64_t row) = 0;
    virtual void tableViewDidBecomeFirstResponder(CustomTableViewForPatch& table) = 0;
};
