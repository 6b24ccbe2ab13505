#include "app/effect/FavouriteTableCellView.h"

#include <QFont>
#include <QPainter>

QColor FavouriteTableCellView::starColor(bool isFavourite)
{
    return isFavourite ? QColor::fromRgbF(227 / 255.0f, 211 / 255.0f, 9 / 255.0f, 1.0f)
                       : QColor(138, 143, 152);
}

void FavouriteTableCellView::clearCellView()
{
    setFavouriteAction_ = {};
    isFavourite_ = false;
}

void FavouriteTableCellView::didClickFavouriteButton()
{
    if (setFavouriteAction_) setFavouriteAction_();
}

QRect FavouriteTableCellView::favouriteButtonRect(const QRect& rect)
{
    constexpr int kSide = 34;
    return {rect.x() + (rect.width() - kSide) / 2, rect.y() + (rect.height() - kSide) / 2, kSide, kSide};
}

void FavouriteTableCellView::paint(QPainter& painter, const QRect& rect) const
{
    painter.save();
    QFont font = painter.font();
    font.setPixelSize(28);
    painter.setFont(font);
    painter.setPen(starColor(isFavourite_));
    painter.drawText(favouriteButtonRect(rect), Qt::AlignCenter, QString(QChar(0x2605)));
    painter.restore();
}
