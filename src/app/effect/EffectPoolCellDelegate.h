#pragma once

#include <QImage>
#include <QStyledItemDelegate>

#include <functional>
#include <memory>
#include <vector>

class DirectoryObject;
class EffectItem;
class EffectPoolModel;

// Draws the effect pool's rows: the title in its style, the effect's colour swatch left of an effect's
// title, and the effect pool's selection look (the outline draws none of its own). Groups are 26 points
// high, effects 24.
class EffectPoolCellDelegate final : public QStyledItemDelegate {
    Q_OBJECT
public:
    static constexpr int kGroupRowHeight = 26;
    static constexpr int kEffectRowHeight = 24;

    EffectPoolCellDelegate(const EffectPoolModel& model,
                           std::function<const std::vector<std::shared_ptr<EffectItem>>&()> effectList,
                           QObject* parent = nullptr);

    // The 10 by 5 swatch of an effect's colour; none for a group or a node without an effect.
    static QImage iconImageForNode(const DirectoryObject& node);

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;

private:
    const EffectPoolModel& model_;
    std::function<const std::vector<std::shared_ptr<EffectItem>>&()> effectList_;
};
