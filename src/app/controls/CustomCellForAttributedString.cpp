#include "app/controls/CustomCellForAttributedString.h"

#include <QFontInfo>
#include <QPainter>
#include <QTextLayout>

#include <algorithm>
#include <cmath>

#include "app/controls/TextMeasure.h"
#include "app/controls/ThreePartImage.h"
#include "app/views/NamedImages.h"

CustomCellForAttributedString::CustomCellForAttributedString(QObject* parent) : QStyledItemDelegate(parent) {}

QRectF CustomCellForAttributedString::titleRectForBounds(const QRectF& bounds, qreal textHeight)
{
    QRectF title = bounds;
    if (title.height() > textHeight) {
        title.setY(bounds.y() + (bounds.height() - textHeight) / 2);
        title.setHeight(textHeight);
    }
    return title;
}

QRectF CustomCellForAttributedString::checkWidthForTextRect(const QRectF& textRect, const QRectF& cellFrame)
{
    QRectF checked = textRect;
    const qreal limit = cellFrame.x() + cellFrame.width() - kRightMargin;
    if (textRect.x() + textRect.width() > limit) checked.setWidth(limit - textRect.x());
    return checked;
}

CustomCellForAttributedString::Layout CustomCellForAttributedString::layout(const Row& row)
{
    Layout result;
    if (row.emptyTitle) return result;
    const QRectF& frame = row.frame;
    QRectF title = titleRectForBounds(frame, row.titleSize.height());
    title.setHeight(title.height() + 6);
    title.moveTop(title.y() - 1);
    if (row.isSingleItem) title.moveLeft(kSingleItemTitleX);
    if (row.highlighted && !row.editing) {
        result.selection = QRectF(title.x(), frame.y(), frame.width() - kRightMargin, frame.height());
    }
    title.moveTop(title.y() - std::trunc((frame.height() - row.fontSize) / 2 + 0.5));
    if (row.hasIcon && !row.editing) {
        result.icon = QRectF(title.x() + 3, title.y() + title.height() - (row.fontSize + 5) / 2, kSwatchWidth, kSwatchHeight);
        title.moveLeft(title.x() + 15);
    } else {
        title.moveLeft(title.x() + 10);
    }
    if (row.hasStatus && !row.editing) {
        const qreal side = std::trunc(frame.height() - 2);
        const QRectF status(title.x() + 5 + row.titleSize.width(), frame.y() + 1, side, side);
        if (status.x() + status.width() <= frame.x() + frame.width()) result.status = status;
    }
    // The title's text sits centred on the row's height: the rectangle worked out above places the line's
    // top, which would leave the text in the upper half of the row and cut off by the row above.
    if (!row.editing) {
        const QRectF checked = checkWidthForTextRect(title, frame);
        result.title = QRectF(checked.x(), frame.y(), checked.width(), frame.height());
    }
    return result;
}

QImage CustomCellForAttributedString::swatch(const QColor& colour)
{
    QImage image(kSwatchWidth, kSwatchHeight, QImage::Format_ARGB32_Premultiplied);
    image.fill(colour);
    return image;
}

QString CustomCellForAttributedString::fittedTitle(const QString& text, const QFont& font, const QSizeF& box)
{
    QTextLayout layout(text, font);
    QTextOption wrapping;
    wrapping.setWrapMode(QTextOption::WrapAnywhere);
    layout.setTextOption(wrapping);
    layout.beginLayout();
    qreal height = 0;
    int lastShownStart = 0;
    bool cut = false;
    for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
        line.setLineWidth(box.width());
        // The first line always shows, however low the box.
        if (height > 0 && height + line.height() > box.height() + 0.5) {
            cut = true;
            break;
        }
        lastShownStart = line.textStart();
        height += line.height();
    }
    layout.endLayout();
    if (!cut) return text;
    // The rest of the text from the last line shown, cut to that line with the ellipsis after it.
    const QFontMetricsF metrics(font);
    const QString rest = text.mid(lastShownStart);
    QString last = metrics.elidedText(rest, Qt::ElideRight, box.width());
    if (last == rest) last = metrics.elidedText(rest + QChar(0x2026), Qt::ElideRight, box.width());
    return text.left(lastShownStart) + last;
}

QString CustomCellForAttributedString::selectionImageName(bool effectPool, int piece)
{
    static const char* const pieces[] = {"top", "mid", "bottom"};
    return QStringLiteral("%1_pool_focused_selection_%2")
        .arg(effectPool ? QStringLiteral("effect") : QStringLiteral("patch"), QLatin1String(pieces[piece]));
}

bool CustomCellForAttributedString::isEditing(const QModelIndex& index) const
{
    return editingIndex_.isValid() && editingIndex_ == index;
}

PoolRowContent CustomCellForAttributedString::contentOf(const QStyleOptionViewItem& option, const QModelIndex& index) const
{
    const QVariant given = index.data(kRowContentRole);
    if (given.canConvert<PoolRowContent>()) return given.value<PoolRowContent>();
    PoolRowContent content;
    content.title.text = index.data(Qt::DisplayRole).toString();
    content.title.font = option.font;
    content.title.colour = option.palette.color(QPalette::Text);
    return content;
}

void CustomCellForAttributedString::paint(QPainter* painter, const QStyleOptionViewItem& option,
                                          const QModelIndex& index) const
{
    const PoolRowContent content = contentOf(option, index);
    const QRectF frame(option.rect);
    Row row;
    row.frame = frame;
    row.emptyTitle = content.title.isEmpty();
    row.titleSize = TextMeasure::measure(content.title.text, content.title.font, frame.size());
    row.fontSize = QFontInfo(content.title.font).pixelSize();
    row.isSingleItem = content.isSingleItem;
    row.hasIcon = !content.iconImage.isNull();
    row.hasStatus = !content.statusImage.isNull();
    row.highlighted = option.state.testFlag(QStyle::State_Selected);
    row.editing = row.highlighted && isEditing(index);
    const Layout pieces = layout(row);

    painter->save();
    if (pieces.selection) {
        ThreePartImage::drawHorizontal(*painter, *pieces.selection,
                                       NamedImages::image(selectionImageName(content.isEffectPoolCell, 0)),
                                       NamedImages::image(selectionImageName(content.isEffectPoolCell, 1)),
                                       NamedImages::image(selectionImageName(content.isEffectPoolCell, 2)));
    }
    if (pieces.icon) painter->drawImage(*pieces.icon, content.iconImage);
    if (pieces.status) painter->drawImage(*pieces.status, content.statusImage);
    if (pieces.title && pieces.title->width() > 0) {
        QTextLayout text(fittedTitle(content.title.text, content.title.font, pieces.title->size()), content.title.font);
        QTextOption wrapping;
        wrapping.setWrapMode(QTextOption::WrapAnywhere);
        text.setTextOption(wrapping);
        text.setFormats(content.title.formats());
        text.beginLayout();
        qreal height = 0;
        for (QTextLine line = text.createLine(); line.isValid(); line = text.createLine()) {
            line.setLineWidth(pieces.title->width());
            line.setPosition(QPointF(0, height));
            height += line.height();
        }
        text.endLayout();
        painter->setClipRect(*pieces.title, Qt::IntersectClip);
        const qreal shown = std::min(height, pieces.title->height());
        text.draw(painter, QPointF(pieces.title->x(), pieces.title->y() + (pieces.title->height() - shown) / 2));
    }
    painter->restore();
}

QWidget* CustomCellForAttributedString::createEditor(QWidget* parent, const QStyleOptionViewItem& option,
                                                     const QModelIndex& index) const
{
    editingIndex_ = index;
    return QStyledItemDelegate::createEditor(parent, option, index);
}

void CustomCellForAttributedString::destroyEditor(QWidget* editor, const QModelIndex& index) const
{
    if (editingIndex_ == index) editingIndex_ = QPersistentModelIndex();
    QStyledItemDelegate::destroyEditor(editor, index);
}
