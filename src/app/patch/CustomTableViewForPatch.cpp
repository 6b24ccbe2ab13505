#include "app/patch/CustomTableViewForPatch.h"

#include <QHeaderView>

#include "app/patch/PatchListTableModel.h"

CustomTableViewForPatch::CustomTableViewForPatch(QWidget* parent) : QTableView(parent)
{
    verticalHeader()->hide();
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    verticalHeader()->setDefaultSectionSize(PatchListTableModel::kRowHeight);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setShowGrid(false);
}
