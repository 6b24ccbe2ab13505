#include "app/effect/EffectPoolCellDelegate.h"

#include <QPainter>
#include <QTextLayout>

#include "app/effect/EffectPoolModel.h"
#include "app/effect/EffectPoolTitle.h"
#include "app/effect/EffectRowColors.h"
#include "library/models/DirectoryObject.h"
#include "library/models/EffectItem.h"

EffectPoolCellDelegate::EffectPoolCellDelegate(const EffectPoolModel& model,
                                               std::function<const std::vector<std::shared_ptr<EffectItem>>&()> effectList,
                                               QObject* parent)
    : QStyledItemDelegate(parent), model_(model), effectList_(std::move(effectList))
{
}

QImage EffectPoolCellDelegate::iconImageForNode(const DirectoryObject& node)
{
    const EffectItem* item = node.effectItem();
    if (item == nullptr || node.isGroup) return {};
    QImage swatch(10, 5, QImage::Format_ARGB32_Premultiplied);
    swatch.fill(EffectRowColors::colorOfEffect(*item));
    return swatch;
}

void EffectPoolCellDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const
{
    const auto node = model_.nodeAt(index);
    if (!node) return;
    painter->save();
    const QRect rect = option.rect;
    if (option.state & QStyle::State_Selected) {
        painter->setRenderHint(QPainter::Antialiasing);
        painter->setPen(QPen(QColor(19, 153, 228), 1.5));
        painter->setBrush(QColor(19, 153, 228, 70));
        painter->drawRoundedRect(QRectF(rect).adjusted(1, 1, -2, -1), 4, 4);
    }
    int x = rect.x() + 4;
    const QImage icon = iconImageForNode(*node);
    if (!icon.isNull()) {
        painter->drawImage(QPoint(x, rect.y() + (rect.height() - icon.height()) / 2), icon);
        x += icon.width() + 6;
    }
    static const std::vector<std::shared_ptr<EffectItem>> none;
    const EffectPoolTitle title = EffectPoolTitle::forNode(*node, effectList_ ? effectList_() : none);
    QFont font(QString::fromLatin1(EffectPoolTitle::kFontFamily));
    font.setPixelSize(static_cast<int>(EffectPoolTitle::kFontSize));
    font.setBold(title.bold);
    QTextLayout layout(title.text, font);
    QList<QTextLayout::FormatRange> formats;
    for (const auto& span : title.spans) {
        QTextLayout::FormatRange range;
        range.start = span.start;
        range.length = span.length;
        range.format.setForeground(span.color);
        formats.append(range);
    }
    layout.setFormats(formats);
    QTextOption textOption;
    textOption.setWrapMode(QTextOption::WrapAnywhere);
    layout.setTextOption(textOption);
    layout.beginLayout();
    QTextLine line = layout.createLine();
    if (line.isValid()) line.setLineWidth(std::max(0, rect.right() - x - 4));
    layout.endLayout();
    // One line shows; the rest of a long title is cut.
    const qreal top = rect.y() + (rect.height() - (line.isValid() ? line.height() : 0)) / 2;
    painter->setClipRect(rect);
    layout.draw(painter, QPointF(x, top));
    painter->restore();
}

QSize EffectPoolCellDelegate::sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const
{
    QSize size = QStyledItemDelegate::sizeHint(option, index);
    const auto node = model_.nodeAt(index);
    size.setHeight(node && node->isGroup ? kGroupRowHeight : kEffectRowHeight);
    return size;
}
