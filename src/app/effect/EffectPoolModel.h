#pragma once

#include <QAbstractItemModel>
#include <QImage>

#include <functional>
#include <memory>
#include <unordered_map>
#include <vector>

class DirectoryObject;
class EffectItem;

// The effect pool tree as the outline sees it: model groups, their category groups and the effect
// leaves, one column. A node's parent is looked up in a table built at each reset. Each row hands the
// shared pool row cell its title in its style, the effect pool's selection look and, for an effect, its
// colour swatch; groups are 26 points high, effects 24.
class EffectPoolModel final : public QAbstractItemModel {
    Q_OBJECT
public:
    using StructureData = std::vector<std::shared_ptr<DirectoryObject>>;
    using EffectItems = std::vector<std::shared_ptr<EffectItem>>;

    static constexpr int kGroupRowHeight = 26;
    static constexpr int kEffectRowHeight = 24;

    EffectPoolModel(std::function<const StructureData&()> structureData, std::function<const EffectItems&()> effectList,
                    QObject* parent = nullptr);

    // The 10 by 5 swatch of an effect's colour; none for a group or a node without an effect.
    static QImage iconImageForNode(const DirectoryObject& node);

    // The tree may have been replaced: the outline starts over.
    void reset();
    // The same tree with changed marks: every row redraws and the selection stays.
    void refresh();
    std::shared_ptr<DirectoryObject> nodeAt(const QModelIndex& index) const;
    QModelIndex indexOfNode(const DirectoryObject* node) const;

    QModelIndex index(int row, int column, const QModelIndex& parent = {}) const override;
    QModelIndex parent(const QModelIndex& child) const override;
    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    bool hasChildren(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

private:
    struct Place {
        std::shared_ptr<DirectoryObject> node;
        const DirectoryObject* parent = nullptr;
        int row = 0;
    };
    void indexNodes(const StructureData& nodes, const DirectoryObject* parent);
    const StructureData& childrenOf(const QModelIndex& parent) const;

    std::function<const StructureData&()> structureData_;
    std::function<const EffectItems&()> effectList_;
    // The tree as it stood at the last reset, so a replaced tree cannot leave the indexes dangling.
    StructureData shown_;
    std::unordered_map<const DirectoryObject*, Place> places_;
};
