#pragma once

class CustomTableRowView;

// What a list (its item delegate or the table itself) says about the row views it paints its rows
// with, so that a row can be told from the filler rows drawn below the content.
class TableRowViewProvider {
public:
    virtual ~TableRowViewProvider() = default;
    // The row view of `row`; none when the list has none for it.
    virtual const CustomTableRowView* rowViewForRow(int row) const = 0;
};
