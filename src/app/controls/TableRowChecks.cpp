#include "app/controls/TableRowChecks.h"

#include <QAbstractItemDelegate>
#include <QTableView>

#include "app/controls/TableRowViewProvider.h"
#include "app/views/CustomTableRowView.h"

bool TableRowChecks::checkEmptyRow(int row, const QTableView* tableView)
{
    if (!tableView || !tableView->model()) return true;
    const int rows = tableView->model()->rowCount(tableView->rootIndex());
    if (row < 0 || row >= rows) return true;
    const TableRowViewProvider* provider = dynamic_cast<const TableRowViewProvider*>(tableView->itemDelegate());
    if (!provider) provider = dynamic_cast<const TableRowViewProvider*>(tableView);
    const CustomTableRowView* rowView = provider ? provider->rowViewForRow(row) : nullptr;
    return !rowView || rowView->isEmptyRow();
}
