#include "app/effect/EffectPoolModel.h"

#include <QSize>

#include "app/controls/CustomCellForAttributedString.h"
#include "app/effect/EffectPoolTitle.h"
#include "app/effect/EffectRowColors.h"
#include "app/views/InterfaceTexts.h"
#include "library/models/DirectoryObject.h"
#include "library/models/EffectItem.h"

EffectPoolModel::EffectPoolModel(std::function<const StructureData&()> structureData,
                                 std::function<const EffectItems&()> effectList, QObject* parent)
    : QAbstractItemModel(parent), structureData_(std::move(structureData)), effectList_(std::move(effectList))
{
}

QImage EffectPoolModel::iconImageForNode(const DirectoryObject& node)
{
    const EffectItem* item = node.effectItem();
    if (item == nullptr || node.isGroup) return {};
    return CustomCellForAttributedString::swatch(EffectRowColors::colorOfEffect(*item));
}

void EffectPoolModel::indexNodes(const StructureData& nodes, const DirectoryObject* parent)
{
    for (std::size_t row = 0; row < nodes.size(); ++row) {
        if (!nodes[row]) continue;
        places_[nodes[row].get()] = Place{nodes[row], parent, static_cast<int>(row)};
        indexNodes(nodes[row]->childDirectories, nodes[row].get());
    }
}

void EffectPoolModel::reset()
{
    beginResetModel();
    shown_ = structureData_ ? structureData_() : StructureData{};
    places_.clear();
    indexNodes(shown_, nullptr);
    endResetModel();
}

void EffectPoolModel::refresh()
{
    emit layoutAboutToBeChanged();
    emit layoutChanged();
}

std::shared_ptr<DirectoryObject> EffectPoolModel::nodeAt(const QModelIndex& index) const
{
    if (!index.isValid()) return nullptr;
    const auto found = places_.find(static_cast<const DirectoryObject*>(index.internalPointer()));
    return found == places_.end() ? nullptr : found->second.node;
}

QModelIndex EffectPoolModel::indexOfNode(const DirectoryObject* node) const
{
    const auto found = places_.find(node);
    if (found == places_.end()) return {};
    return createIndex(found->second.row, 0, const_cast<DirectoryObject*>(node));
}

const EffectPoolModel::StructureData& EffectPoolModel::childrenOf(const QModelIndex& parent) const
{
    static const StructureData none;
    if (!parent.isValid()) return shown_;
    const auto node = nodeAt(parent);
    return node ? node->childDirectories : none;
}

QModelIndex EffectPoolModel::index(int row, int column, const QModelIndex& parent) const
{
    const StructureData& children = childrenOf(parent);
    if (column != 0 || row < 0 || static_cast<std::size_t>(row) >= children.size() || !children[static_cast<std::size_t>(row)])
        return {};
    const DirectoryObject* node = children[static_cast<std::size_t>(row)].get();
    // A child added since the last reset is not shown until the next one.
    if (places_.count(node) == 0) return {};
    return createIndex(row, 0, const_cast<DirectoryObject*>(node));
}

QModelIndex EffectPoolModel::parent(const QModelIndex& child) const
{
    if (!child.isValid()) return {};
    const auto found = places_.find(static_cast<const DirectoryObject*>(child.internalPointer()));
    if (found == places_.end() || found->second.parent == nullptr) return {};
    return indexOfNode(found->second.parent);
}

int EffectPoolModel::rowCount(const QModelIndex& parent) const
{
    if (parent.column() > 0) return 0;
    return static_cast<int>(childrenOf(parent).size());
}

int EffectPoolModel::columnCount(const QModelIndex&) const { return 1; }

bool EffectPoolModel::hasChildren(const QModelIndex& parent) const { return rowCount(parent) > 0; }

QVariant EffectPoolModel::data(const QModelIndex& index, int role) const
{
    const auto node = nodeAt(index);
    if (!node) return {};
    switch (role) {
    case Qt::DisplayRole:
    case Qt::AccessibleTextRole:
        return QString::fromStdString(node->name.value_or(std::string()));
    case Qt::SizeHintRole:
        return QSize(100, node->isGroup ? kGroupRowHeight : kEffectRowHeight);
    case CustomCellForAttributedString::kRowContentRole: {
        static const EffectItems none;
        const EffectPoolTitle title = EffectPoolTitle::forNode(*node, effectList_ ? effectList_() : none);
        PoolRowContent content;
        content.isEffectPoolCell = true;
        content.title.text = title.text;
        content.title.font = QFont(QString::fromLatin1(EffectPoolTitle::kFontFamily));
        content.title.font.setPixelSize(static_cast<int>(EffectPoolTitle::kFontSize));
        content.title.font.setBold(title.bold);
        if (!title.spans.empty()) content.title.colour = title.spans.front().color;
        for (const auto& span : title.spans) content.title.runs.append({span.start, span.length, span.color});
        content.iconImage = iconImageForNode(*node);
        return QVariant::fromValue(content);
    }
    default:
        return {};
    }
}

QVariant EffectPoolModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (section != 0 || orientation != Qt::Horizontal || role != Qt::DisplayRole) return {};
    return InterfaceTexts::localizedString("Effect_EffectPool");
}

Qt::ItemFlags EffectPoolModel::flags(const QModelIndex& index) const
{
    return index.isValid() ? Qt::ItemIsEnabled | Qt::ItemIsSelectable : Qt::NoItemFlags;
}
