#include "app/effect/EffectListCellDelegate.h"

#include <QPainter>

#include "app/effect/EffectListModel.h"
#include "app/effect/EffectRowColors.h"
#include "app/effect/EffectScreenLogic.h"
#include "library/models/EffectItem.h"

namespace {

const QColor kTextColor = QColor::fromHsvF(0.6055555555555555f, 0.0f, 1.0f, 1.0f);

}  // namespace

EffectListCellDelegate::EffectListCellDelegate(const EffectScreenLogic& logic, Actions actions, QObject* parent)
    : QStyledItemDelegate(parent), logic_(logic), actions_(std::move(actions))
{
}

void EffectListCellDelegate::fillCell(const std::string& column, int row, const QRect& cellRect) const
{
    const auto item = logic_.itemAtRow(row);
    if (!item) return;
    const EffectRowColors colors = EffectRowColors::setCurrentColorWithCurrentEffectItem(*item, row);
    const auto index = static_cast<std::size_t>(row);
    if (column == "Category") {
        categoryCell_.clearCellView();
        categoryCell_.setCategory(QString::fromStdString(item->effectCategory));
        categoryCell_.setColorCardWithColor(colors.currentEffectColor, CategoryTableViewCell::colorCardRect(cellRect).size());
        categoryCell_.setBackgroundColor(colors.currentEffectBackgroundColor);
    } else if (column == "Favourite") {
        favouriteCell_.clearCellView();
        favouriteCell_.setIsFavourite(item->isFavourite);
        // The unknown effect's star does nothing.
        if (item->effectCategoryID != EffectItem::kUnknownCategoryID && actions_.favourite)
            favouriteCell_.setSetFavouriteAction([favourite = actions_.favourite, index] { favourite(index); });
    } else if (column == "EffectName") {
        nameCell_.clearCellView();
        nameCell_.setEffectName(QString::fromStdString(item->effectName));
        nameCell_.setIconTag(row);
        if (item->effectDisplayedIcon) nameCell_.setImageAndConstraintForEffectItem(*item);
        else if (item->effectIcon && actions_.convertIcon) actions_.convertIcon(item);
        if (item->isDeleted) {
            nameCell_.setIsDeletedCell(true);
            nameCell_.setIconEnabled(false);
            if (actions_.recovery)
                nameCell_.setRecoveryActionBlock([recovery = actions_.recovery, index] { recovery(index); });
        }
        nameCell_.setBackgroundColor(colors.currentEffectBackgroundColor);
    }
}

void EffectListCellDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const
{
    // Rows past the effects have no cells.
    if (!logic_.itemAtRow(index.row())) return;
    const std::string column = EffectListModel::columnIdentifier(index.column());
    const QRect rect = option.rect;
    fillCell(column, index.row(), rect);
    if (column == "Category") {
        categoryCell_.paint(*painter, rect);
    } else if (column == "Favourite") {
        favouriteCell_.paint(*painter, rect);
    } else if (column == "EffectName") {
        nameCell_.paint(*painter, rect);
    } else {
        painter->save();
        QFont font(QStringLiteral("Helvetica Neue"));
        font.setPixelSize(column == "UsedTimes" ? 13 : 11);
        font.setBold(column == "UsedTimes");
        painter->setFont(font);
        painter->setPen(kTextColor);
        const QRect textRect = rect.adjusted(8, 2, -8, -2);
        const int alignment = column == "UsedTimes" ? int(Qt::AlignCenter) : int(Qt::AlignVCenter | Qt::AlignLeft | Qt::TextWordWrap);
        painter->drawText(textRect, alignment, index.data().toString());
        painter->restore();
    }
}

QSize EffectListCellDelegate::sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const
{
    QSize size = QStyledItemDelegate::sizeHint(option, index);
    size.setHeight(55);
    return size;
}

EffectListCellDelegate::Button EffectListCellDelegate::buttonAt(const QModelIndex& index, const QRect& cellRect,
                                                                const QPoint& point) const
{
    if (!index.isValid() || !logic_.itemAtRow(index.row())) return Button::None;
    const std::string column = EffectListModel::columnIdentifier(index.column());
    fillCell(column, index.row(), cellRect);
    if (column == "Favourite" && FavouriteTableCellView::favouriteButtonRect(cellRect).contains(point))
        return Button::Favourite;
    if (column == "EffectName" && nameCell_.isDeletedCell() &&
        EffectNameTableCellView::recoveryButtonRect(cellRect).contains(point))
        return Button::Recovery;
    return Button::None;
}

bool EffectListCellDelegate::clickButtonAt(const QModelIndex& index, const QRect& cellRect, const QPoint& point)
{
    switch (buttonAt(index, cellRect, point)) {
    case Button::Favourite:
        favouriteCell_.didClickFavouriteButton();
        return true;
    case Button::Recovery:
        nameCell_.didClickOnRecoveryButton();
        return true;
    case Button::None:
        break;
    }
    return false;
}
