#include "app/patch/PatchListTableModel.h"

#include <algorithm>

#include "app/patch/BankColorTable.h"
#include "app/views/InterfaceTexts.h"
#include "library/models/BankItem.h"
#include "library/models/PatchItem.h"

PatchListTableModel::PatchListTableModel(const std::vector<std::shared_ptr<PatchItem>>& patchItems,
                                         const std::vector<std::shared_ptr<BankItem>>& bankItems, QObject* parent)
    : QAbstractTableModel(parent), patchItems_(patchItems), bankItems_(bankItems)
{
}

bool PatchListTableModel::isEmptyRow(int row) const
{
    return row < 0 || static_cast<std::size_t>(row) >= bankItems_.size();
}

std::shared_ptr<PatchItem> PatchListTableModel::patchItemAt(int row) const
{
    if (isEmptyRow(row) || static_cast<std::size_t>(row) >= patchItems_.size()) return nullptr;
    return patchItems_[static_cast<std::size_t>(row)];
}

void PatchListTableModel::reload()
{
    beginResetModel();
    endResetModel();
}

void PatchListTableModel::rowChanged(int row)
{
    if (row < 0 || row >= rowCount()) return;
    emit dataChanged(index(row, 0), index(row, ColumnCount - 1));
}

int PatchListTableModel::rowCount(const QModelIndex& parent) const
{
    if (parent.isValid()) return 0;
    return std::max(kMinimumRows, static_cast<int>(std::min<std::size_t>(bankItems_.size(), 1 << 20)));
}

int PatchListTableModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : ColumnCount; }

QVariant PatchListTableModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid()) return {};
    const int row = index.row();
    if (role == IsEmptyRowRole) return isEmptyRow(row);
    if (isEmptyRow(row)) return {};
    const auto patch = patchItemAt(row);
    switch (role) {
    case BankColorRole: {
        const auto color = BankColorTable::colorOfRow(static_cast<std::uint64_t>(row), numberOfSlotsInBlank_);
        return color ? QVariant(*color) : QVariant();
    }
    case IsWarningRole:
        return patch && patch->isWarning;
    case Qt::DisplayRole:
    case Qt::EditRole:
        switch (index.column()) {
        case BankColumn: {
            const auto& bank = bankItems_[static_cast<std::size_t>(row)];
            return bank ? QString::fromStdString(bank->bankName.value_or(std::string())) : QString();
        }
        case PatchColumn:
            return patch ? QString::fromStdString(patch->patchName) : QString();
        default:
            return patch ? QString::fromStdString(patch->patchComment) : QString();
        }
    default:
        return {};
    }
}

QVariant PatchListTableModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return {};
    switch (section) {
    case BankColumn:
        return InterfaceTexts::localizedString("Patch_Bank");
    case PatchColumn:
        return InterfaceTexts::localizedString("Patch_PatchName");
    case CommentColumn:
        return InterfaceTexts::localizedString("Patch_PatchComment");
    default:
        return {};
    }
}

Qt::ItemFlags PatchListTableModel::flags(const QModelIndex& index) const
{
    if (!index.isValid()) return Qt::NoItemFlags;
    Qt::ItemFlags flags = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
    if (index.column() != BankColumn && patchItemAt(index.row())) flags |= Qt::ItemIsEditable;
    return flags;
}
