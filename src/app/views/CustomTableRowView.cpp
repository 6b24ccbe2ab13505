#include "app/views/CustomTableRowView.h"

#include <QPainter>

#include <algorithm>

#include "app/views/NamedImages.h"

void CustomTableRowView::clearView()
{
    row_ = 0;
    isEffectRow_ = false;
    isEmptyRow_ = false;
}

QString CustomTableRowView::leftImageName() const
{
    return isDarkRow() ? QStringLiteral("row_dark_color_left") : QStringLiteral("row_light_color_left");
}

QString CustomTableRowView::rightImageName() const
{
    return isDarkRow() ? QStringLiteral("row_dark_color_right") : QStringLiteral("row_light_color_right");
}

QColor CustomTableRowView::selectionColor() const
{
    return isEffectRow_ ? QColor::fromRgbF(19 / 255.0f, 153 / 255.0f, 228 / 255.0f)
                        : QColor::fromRgbF(245 / 255.0f, 147 / 255.0f, 30.9f / 255.0f);
}

QRect CustomTableRowView::leftPieceFrame(const QRect& rect)
{
    return {rect.x(), rect.y(), std::max(0, rect.width() - kCapWidth), rect.height()};
}

QRect CustomTableRowView::rightPieceFrame(const QRect& rect)
{
    return {rect.x() + rect.width() - kCapWidth, rect.y(), kCapWidth, rect.height()};
}

void CustomTableRowView::drawRect(QPainter& painter, const QRect& rect, bool selected) const
{
    // Each image is stretched to its piece, both axes on their own.
    painter.drawImage(leftPieceFrame(rect), NamedImages::image(leftImageName()));
    painter.drawImage(rightPieceFrame(rect), NamedImages::image(rightImageName()));
    if (selected) drawSelectionInRect(painter, rect);
}

void CustomTableRowView::drawSelectionInRect(QPainter& painter, const QRect& rect) const
{
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(selectionColor(), kSelectionBorderWidth));
    painter.setBrush(Qt::NoBrush);
    // The border lies inside the frame, as a layer border does.
    const qreal inset = kSelectionBorderWidth / 2;
    painter.drawRoundedRect(QRectF(leftPieceFrame(rect)).adjusted(inset, inset, -inset, -inset),
                            kSelectionCornerRadius, kSelectionCornerRadius);
    painter.restore();
}
