#include "app/effect/EffectListModel.h"

#include "app/effect/EffectScreenLogic.h"
#include "app/views/InterfaceTexts.h"
#include "library/models/EffectItem.h"

EffectListModel::EffectListModel(const EffectScreenLogic& logic, QObject* parent)
    : QAbstractTableModel(parent), logic_(logic)
{
}

std::string EffectListModel::columnIdentifier(int column)
{
    const auto& columns = EffectScreenLogic::columnIdentifiers();
    return column >= 0 && static_cast<std::size_t>(column) < columns.size() ? columns[static_cast<std::size_t>(column)]
                                                                             : std::string();
}

int EffectListModel::columnOfIdentifier(const std::string& identifier)
{
    const auto& columns = EffectScreenLogic::columnIdentifiers();
    for (std::size_t i = 0; i < columns.size(); ++i)
        if (columns[i] == identifier) return static_cast<int>(i);
    return -1;
}

QString EffectListModel::noteForDisplay(const std::string& note)
{
    std::size_t end = note.size();
    while (end > 0 && (note[end - 1] == '\r' || note[end - 1] == '\n')) --end;
    return QString::fromStdString(note.substr(0, end));
}

std::shared_ptr<EffectItem> EffectListModel::itemAtRow(int row) const { return logic_.itemAtRow(row); }

void EffectListModel::reload()
{
    beginResetModel();
    endResetModel();
}

void EffectListModel::reloadRow(int row)
{
    if (row < 0 || row >= rowCount()) return;
    emit dataChanged(index(row, 0), index(row, columnCount() - 1));
}

int EffectListModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(logic_.numberOfRows());
}

int EffectListModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(EffectScreenLogic::columnIdentifiers().size());
}

QVariant EffectListModel::data(const QModelIndex& index, int role) const
{
    const auto item = itemAtRow(index.row());
    if (!item) return {};
    if (role != Qt::DisplayRole && role != Qt::AccessibleTextRole) return {};
    const std::string column = columnIdentifier(index.column());
    if (column == "Category") return QString::fromStdString(item->effectCategory);
    if (column == "EffectName") return QString::fromStdString(item->effectName);
    if (column == "UsedTimes")
        return logic_.isUpdatedEffectUsedTimesNumber() ? QString::number(item->effectUsedTimes) : QStringLiteral("-");
    if (column == "Favourite") return item->isFavourite ? QStringLiteral("\u2605") : QStringLiteral("\u2606");
    return noteForDisplay(item->effectNote);
}

QVariant EffectListModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return {};
    const std::string column = columnIdentifier(section);
    return column.empty() ? QVariant() : QVariant(InterfaceTexts::localizedString("Effect_" + column));
}

Qt::ItemFlags EffectListModel::flags(const QModelIndex& index) const
{
    if (!index.isValid() || logic_.isEmptyRow(index.row())) return Qt::NoItemFlags;
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable;
}
