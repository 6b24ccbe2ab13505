#include "app/patch/PatchPoolModel.h"

#include "app/views/InterfaceTexts.h"

#include <QColor>
#include <QFont>
#include <QSize>

#include "app/controls/CustomCellForAttributedString.h"
#include "app/patch/PatchPoolDataSource.h"
#include "library/models/DirectoryObject.h"

namespace {

const QColor kNormalTitle = QColor::fromRgbF(0.6F, 0.6F, 0.6F);
// Apart from the grey of the others at a glance, and readable on the pool and its selection bar.
const QColor kIncompatibleTitle(214, 128, 118);

}  // namespace

QFont PatchPoolModel::titleFont()
{
    QFont font(QStringLiteral("Helvetica Neue"));
    font.setPixelSize(16);
    font.setBold(true);
    return font;
}

PatchPoolModel::PatchPoolModel(PatchPoolDataSource& dataSource, QObject* parent)
    : QAbstractItemModel(parent), dataSource_(dataSource)
{
}

void PatchPoolModel::mapChildren(const DirectoryObject* parent)
{
    const auto count = dataSource_.numberOfChildrenOfItem(parent);
    for (std::int64_t i = 0; i < count; ++i) {
        const auto child = dataSource_.childOfItem(i, parent);
        if (!child) continue;
        places_.insert(child.get(), Place{parent, static_cast<int>(i)});
        if (parent == nullptr) mapChildren(child.get());
    }
}

const DirectoryObject* PatchPoolModel::parentOf(const DirectoryObject* item) const
{
    const auto place = places_.constFind(item);
    return place == places_.cend() ? nullptr : place->parent;
}

void PatchPoolModel::reload()
{
    beginResetModel();
    // Sized for the pool as it last was: a pool of thousands is otherwise rehashed again and again.
    const auto last = places_.size();
    places_.clear();
    places_.reserve(last);
    mapChildren(nullptr);
    endResetModel();
}

std::shared_ptr<DirectoryObject> PatchPoolModel::nodeAt(const QModelIndex& index) const
{
    if (!index.isValid()) return nullptr;
    const auto* item = static_cast<const DirectoryObject*>(index.internalPointer());
    return dataSource_.childOfItem(index.row(), parentOf(item));
}

QModelIndex PatchPoolModel::indexOf(const DirectoryObject* item) const
{
    const auto place = item == nullptr ? places_.cend() : places_.constFind(item);
    if (place == places_.cend()) return {};
    return createIndex(place->row, 0, const_cast<DirectoryObject*>(item));
}

std::shared_ptr<DirectoryObject> PatchPoolModel::parentNodeOf(const QModelIndex& index) const
{
    return nodeAt(parent(index));
}

QModelIndex PatchPoolModel::index(int row, int column, const QModelIndex& parent) const
{
    if (column != 0 || row < 0) return {};
    const auto* parentItem = parent.isValid() ? static_cast<const DirectoryObject*>(parent.internalPointer()) : nullptr;
    if (row >= dataSource_.numberOfChildrenOfItem(parentItem)) return {};
    const auto child = dataSource_.childOfItem(row, parentItem);
    return child ? createIndex(row, 0, child.get()) : QModelIndex();
}

QModelIndex PatchPoolModel::parent(const QModelIndex& child) const
{
    if (!child.isValid()) return {};
    return indexOf(parentOf(static_cast<const DirectoryObject*>(child.internalPointer())));
}

int PatchPoolModel::rowCount(const QModelIndex& parent) const
{
    if (parent.column() > 0) return 0;
    const auto* item = parent.isValid() ? static_cast<const DirectoryObject*>(parent.internalPointer()) : nullptr;
    // Groups hold patches only: nothing below the second level.
    if (item != nullptr && parentOf(item) != nullptr) return 0;
    return static_cast<int>(dataSource_.numberOfChildrenOfItem(item));
}

int PatchPoolModel::columnCount(const QModelIndex&) const { return 1; }

QVariant PatchPoolModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (section != 0 || orientation != Qt::Horizontal || role != Qt::DisplayRole) return {};
    return InterfaceTexts::localizedString("PatchPool_Title");
}

bool PatchPoolModel::hasChildren(const QModelIndex& parent) const
{
    if (!parent.isValid()) return rowCount() > 0;
    const auto* item = static_cast<const DirectoryObject*>(parent.internalPointer());
    return parentOf(item) == nullptr && dataSource_.isItemExpandable(*item);
}

QVariant PatchPoolModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid()) return {};
    const auto& item = *static_cast<const DirectoryObject*>(index.internalPointer());
    switch (role) {
    case Qt::DisplayRole:
        return QString::fromStdString(dataSource_.objectValueForItem(item).text);
    case Qt::EditRole:
    case NameRole:
        return QString::fromStdString(item.name.value_or(""));
    case Qt::ForegroundRole:
        return dataSource_.objectValueForItem(item).incompatible ? kIncompatibleTitle : kNormalTitle;
    case Qt::FontRole:
        return titleFont();
    case Qt::SizeHintRole:
        return QSize(-1, static_cast<int>(dataSource_.heightOfRowByItem(item)));
    case CustomCellForAttributedString::kRowContentRole: {
        const auto title = dataSource_.objectValueForItem(item);
        const auto cell = dataSource_.willDisplayCellForItem(item);
        PoolRowContent content;
        content.title.text = QString::fromStdString(title.text);
        content.title.font = titleFont();
        content.title.colour = title.incompatible ? kIncompatibleTitle : kNormalTitle;
        content.isSingleItem = cell.isSingleItem;
        content.isEffectPoolCell = cell.isEffectPoolCell;
        content.iconImage = cell.iconImage;
        content.statusImage = cell.statusImage;
        return QVariant::fromValue(content);
    }
    case IsGroupRole:
        return item.isGroup;
    default:
        return {};
    }
}

bool PatchPoolModel::setData(const QModelIndex& index, const QVariant& value, int role)
{
    if (!index.isValid() || role != Qt::EditRole) return false;
    const auto node = nodeAt(index);
    if (!node) return false;
    dataSource_.setObjectValue(value.toString().toStdString(), node);
    emit dataChanged(index, index);
    return true;
}

Qt::ItemFlags PatchPoolModel::flags(const QModelIndex& index) const
{
    if (!index.isValid()) return Qt::NoItemFlags;
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsEditable;
}
