#pragma once

#include <cstdint>
#include <optional>
#include <set>
#include <vector>

// How clicks select rows of the device patch list, without a widget: plain clicks select one row, Shift
// clicks a range from the anchor, Ctrl clicks add or remove a row. The selected rows are the table's;
// these rules keep the order in which they were selected (the last is the row most recently made current
// on the device), the anchor of Shift ranges, the last row and column clicked and whether a drop came
// since. A change made by a click answers the ordered selection as it was, for the undo record the list
// pushes before it shows the change. The caller passes only rows that hold a patch. Main thread only.
class PatchListSelectionRules {
public:
    using Rows = std::vector<std::uint64_t>;
    using Selection = std::set<std::uint64_t>;
    // Ctrl is tested before Shift.
    enum class Modifier { None, Shift, Command };

    struct Outcome {
        // The ordered selection as it stood for the undo record; none when nothing changed.
        std::optional<std::vector<std::int64_t>> record;
        // The table's selection from now on; none when it stays.
        std::optional<Selection> selection;
        // The row now selected that the screen makes the device's current patch.
        std::optional<std::uint64_t> tellRow;
    };

    // A single click on `row` (a second click of a double click selects nothing more).
    Outcome click(std::uint64_t row, Modifier modifier, const Selection& selected);
    // A right click: an unselected row becomes the selection alone first.
    Outcome rightClick(std::uint64_t row, const Selection& selected);
    // The selection adjusted before a drag starts on `row`.
    Outcome dragSelect(std::uint64_t row, bool command, const Selection& selected);

    // The pointer has moved far enough from the press for a drag: the distance truncated is 2 or more.
    static bool isDragDistance(double dx, double dy);
    // A double click edits the clicked cell, except in the bank column.
    static bool editsOnDoubleClick(std::uint64_t column) { return column != 0; }
    // Keeps the clicked column when it is one of the list's.
    void setClickedColumn(std::int64_t column, std::int64_t columnCount);

    // Changes without an undo record, each answering the table's selection.
    Selection selectAll(std::uint64_t rowCount);
    // Selects `rows` (after `selected`, or instead of it); they become the ordered list in ascending
    // order, the first the anchor.
    Selection setUpCurrentSelection(Rows rows, bool extendingSelection, const Selection& selected);
    // Forgets the order, the anchor and the last row and column; the table's selection stays.
    void resetSelectionData();

    const Rows& selectionList() const { return selectionList_; }
    std::uint64_t rootSelectedRowForShilf() const { return anchor_; }
    std::uint64_t previousSelectedRow() const { return previousSelectedRow_; }
    void setPreviousSelectedRow(std::uint64_t row) { previousSelectedRow_ = row; }
    std::uint64_t previousSelectedColumn() const { return previousSelectedColumn_; }
    bool isDropped() const { return isDropped_; }
    void setIsDropped(bool dropped) { isDropped_ = dropped; }

private:
    std::vector<std::int64_t> snapshot() const;
    // The row becomes the selection alone, the anchor and the last row.
    Selection selectAlone(std::uint64_t row);

    Rows selectionList_;
    std::uint64_t anchor_ = 0;
    std::uint64_t previousSelectedRow_ = 0;
    std::uint64_t previousSelectedColumn_ = 0;
    bool isDropped_ = false;
};
