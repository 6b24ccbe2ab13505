#pragma once

#include <QStyledItemDelegate>

#include <cstddef>
#include <functional>
#include <memory>

#include "app/effect/CategoryTableViewCell.h"
#include "app/effect/EffectNameTableCellView.h"
#include "app/effect/FavouriteTableCellView.h"

class EffectItem;
class EffectScreenLogic;

// Draws the effect list's cells, one reused cell per kind filled for each row as the list's data source
// fills it, and finds the cell button under a click. An effect without a converted icon asks for one;
// the icon is read from the item when the row is drawn again, so it can only ever reach its own row.
class EffectListCellDelegate final : public QStyledItemDelegate {
    Q_OBJECT
public:
    struct Actions {
        std::function<void(std::size_t row)> favourite;
        std::function<void(std::size_t row)> recovery;
        std::function<void(const std::shared_ptr<EffectItem>& item)> convertIcon;
    };

    EffectListCellDelegate(const EffectScreenLogic& logic, Actions actions, QObject* parent = nullptr);

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    enum class Button { None, Favourite, Recovery };
    // The cell button under `point` (in the same coordinates as `cellRect`).
    Button buttonAt(const QModelIndex& index, const QRect& cellRect, const QPoint& point) const;
    // Runs the cell button under `point`; false when none is.
    bool clickButtonAt(const QModelIndex& index, const QRect& cellRect, const QPoint& point);

    // The cells as the last row filled them.
    const EffectNameTableCellView& nameCell() const { return nameCell_; }
    const FavouriteTableCellView& favouriteCell() const { return favouriteCell_; }
    const CategoryTableViewCell& categoryCell() const { return categoryCell_; }

private:
    // Fills the column's cell for the row, as the data source builds a cell view.
    void fillCell(const std::string& column, int row, const QRect& cellRect) const;

    const EffectScreenLogic& logic_;
    Actions actions_;
    mutable EffectNameTableCellView nameCell_;
    mutable FavouriteTableCellView favouriteCell_;
    mutable CategoryTableViewCell categoryCell_;
};
