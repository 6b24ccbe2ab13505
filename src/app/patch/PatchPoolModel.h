#pragma once

#include <QAbstractItemModel>
#include <QFont>
#include <QHash>

#include <memory>

class DirectoryObject;
class PatchPoolDataSource;

// The patch pool's tree as the outline shows it, every answer asked of the data source. One column.
class PatchPoolModel final : public QAbstractItemModel {
    Q_OBJECT
public:
    enum Role {
        // The plain name, for the editor.
        NameRole = Qt::UserRole + 1,
        IsGroupRole,
    };

    explicit PatchPoolModel(PatchPoolDataSource& dataSource, QObject* parent = nullptr);

    // The font of every title in the tree.
    static QFont titleFont();

    PatchPoolDataSource& dataSource() const { return dataSource_; }
    // Reads the tree again.
    void reload();
    std::shared_ptr<DirectoryObject> nodeAt(const QModelIndex& index) const;
    QModelIndex indexOf(const DirectoryObject* item) const;
    // The group of a row's item; none at the top level.
    std::shared_ptr<DirectoryObject> parentNodeOf(const QModelIndex& index) const;

    QModelIndex index(int row, int column, const QModelIndex& parent = {}) const override;
    QModelIndex parent(const QModelIndex& child) const override;
    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    bool hasChildren(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role = Qt::EditRole) override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

private:
    void mapChildren(const DirectoryObject* parent);

    struct Place {
        const DirectoryObject* parent = nullptr;  // the node's group, null at the top level
        int row = 0;                               // its row there
    };
    // The group of a node (null at the top level, and for a node the tree does not show).
    const DirectoryObject* parentOf(const DirectoryObject* item) const;

    PatchPoolDataSource& dataSource_;
    // Each shown node's place: one entry a node, made at every reload for the whole pool.
    QHash<const DirectoryObject*, Place> places_;
};
