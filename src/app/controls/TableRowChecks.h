#pragma once

class QTableView;

// The interface side of the coordinator's row checks.
class TableRowChecks {
public:
    // Whether `row` of the table is empty: outside the table's rows, without a row view, or a row view
    // marked empty. The row view comes from the table's item delegate when that is a
    // TableRowViewProvider, else from the table when it is one. A missing table has only empty rows.
    static bool checkEmptyRow(int row, const QTableView* tableView);
};
