#pragma once

#include <QAbstractTableModel>

#include <memory>
#include <string>

class EffectItem;
class EffectScreenLogic;

// The device effect list as the table sees it: at least 30 rows, one per effect, the rest empty and
// unselectable; the columns Category, EffectName, Note, UsedTimes and Favourite, found by identifier.
class EffectListModel final : public QAbstractTableModel {
    Q_OBJECT
public:
    explicit EffectListModel(const EffectScreenLogic& logic, QObject* parent = nullptr);

    static std::string columnIdentifier(int column);
    // -1 for an identifier the list has not.
    static int columnOfIdentifier(const std::string& identifier);
    // The note as the list shows it: without the line breaks at its end.
    static QString noteForDisplay(const std::string& note);

    std::shared_ptr<EffectItem> itemAtRow(int row) const;
    void reload();
    void reloadRow(int row);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

private:
    const EffectScreenLogic& logic_;
};
