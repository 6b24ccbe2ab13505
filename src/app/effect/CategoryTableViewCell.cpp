#include "app/effect/CategoryTableViewCell.h"

#include <QFont>
#include <QPainter>

void CategoryTableViewCell::clearCellView()
{
    colorCard_ = QImage();
    category_.clear();
    backgroundColor_ = QColor();
}

void CategoryTableViewCell::setColorCardWithColor(const QColor& color, const QSize& cardSize)
{
    if (cardSize.isEmpty()) {
        colorCard_ = QImage();
        return;
    }
    colorCard_ = QImage(cardSize, QImage::Format_ARGB32_Premultiplied);
    colorCard_.fill(color);
}

QRect CategoryTableViewCell::colorCardRect(const QRect& rect)
{
    return {rect.x() + 6, rect.y() + 6, kCardWidth, std::max(0, rect.height() - 12)};
}

void CategoryTableViewCell::paint(QPainter& painter, const QRect& rect) const
{
    painter.save();
    if (backgroundColor_.isValid()) painter.fillRect(rect, backgroundColor_);
    const QRect card = colorCardRect(rect);
    // Scaled on both axes to the card.
    if (!colorCard_.isNull()) painter.drawImage(card, colorCard_);
    QFont font(QStringLiteral("Helvetica Neue"));
    font.setBold(true);
    font.setPixelSize(19);
    painter.setFont(font);
    painter.setPen(Qt::white);
    const QRect textRect = rect.adjusted(card.width() + 16, 0, -6, 0);
    painter.drawText(textRect, Qt::AlignVCenter | Qt::AlignLeft,
                     painter.fontMetrics().elidedText(category_, Qt::ElideRight, textRect.width()));
    painter.restore();
}
