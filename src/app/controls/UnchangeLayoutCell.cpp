#include "app/controls/UnchangeLayoutCell.h"

#include <QStyleOptionButton>
#include <QStylePainter>

#include "app/controls/TextMeasure.h"

UnchangeLayoutCell::UnchangeLayoutCell(const QString& title, QWidget* parent) : QPushButton(title, parent) {}

QRectF UnchangeLayoutCell::centredTitleRect(const QRectF& standardTitle, const QRectF& bounds, qreal textHeight)
{
    QRectF title = standardTitle;
    if (textHeight < title.height()) {
        title.moveTop(bounds.y() + (bounds.height() - textHeight) / 2);
        title.setHeight(textHeight);
    }
    return title;
}

QRectF UnchangeLayoutCell::titleRectForBounds(const QRectF& bounds) const
{
    QStyleOptionButton option;
    initStyleOption(&option);
    option.rect = bounds.toAlignedRect();
    const QRectF standard = style()->subElementRect(QStyle::SE_PushButtonContents, &option, this);
    const QSizeF measured = TextMeasure::measure(text(), font(), standard.size());
    return centredTitleRect(standard, bounds, measured.height());
}

void UnchangeLayoutCell::paintEvent(QPaintEvent*)
{
    QStylePainter painter(this);
    QStyleOptionButton option;
    initStyleOption(&option);
    // The face as the style draws it, then the title where the rule puts it.
    option.text.clear();
    painter.drawControl(QStyle::CE_PushButton, option);
    style()->drawItemText(&painter, titleRectForBounds(QRectF(rect())).toAlignedRect(),
                          Qt::AlignHCenter | Qt::AlignTop | Qt::TextWordWrap, palette(), isEnabled(), text(),
                          QPalette::ButtonText);
}
